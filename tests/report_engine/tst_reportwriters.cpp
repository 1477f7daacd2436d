#include "atomicfile.h"
#include "errors.h"
#include "gbk.h"
#include "reportengine.h"
#include "reportwriters.h"
#include "rowsources.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace lectoria;
using namespace lectoria::report;

Q_DECLARE_METATYPE(QVector<lectoria::report::PageItem>)

namespace {

// An item on the designed page; x and width in millimetres from the left
// margin, y in millimetres from the paper's top.
PageItem at(double x, double y, double w, Align align, const QString &text, quint16 font = 0)
{
    PageItem i;
    i.x = designedPage().marginLeft + mm(x);
    i.y = mm(y);
    i.width = mm(w);
    i.height = mm(4);
    i.align = align;
    i.text = text;
    i.font = font;
    return i;
}

PageItem clipped(PageItem i)
{
    i.clip = true;
    return i;
}

DocumentInfo info()
{
    DocumentInfo d;
    d.page = designedPage();
    d.fonts = {FontSpec{}, FontSpec{QStringLiteral("黑体"), 14}};
    return d;
}

Page page(const QVector<PageItem> &items, int number = 1)
{
    Page p;
    p.number = number;
    p.items = items;
    return p;
}

QString blanks(int n) { return QString(n, QLatin1Char(' ')); }

// A source that fails after a few rows, as a lost connection would.
class FailingRows : public RowSource {
public:
    QStringList columns() const override { return {QStringLiteral("v")}; }
    bool next(QVector<QVariant> &row) override
    {
        if (++m_n > 50)
            throw DbError(QStringLiteral("connection lost"));
        row = {QStringLiteral("row%1").arg(m_n)};
        return true;
    }

private:
    int m_n = 0;
};

} // namespace

class TestReportWriters : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void textGrid_data()
    {
        QTest::addColumn<QVector<PageItem>>("items");
        QTest::addColumn<QStringList>("lines");
        // One column is 1.6 mm; the right edge at 180.8 mm is column 113.
        QTest::newRow("left and right aligned")
            << QVector<PageItem>{at(0, 10, 20, Align::Left, QStringLiteral("合计")),
                                 at(160.8, 10, 20, Align::Right, QStringLiteral("12"))}
            << QStringList{QStringLiteral("合计") + blanks(107) + QStringLiteral("12")};
        QTest::newRow("chinese takes two columns")
            << QVector<PageItem>{at(0, 10, 10, Align::Left, QStringLiteral("文学")),
                                 at(16, 10, 10, Align::Left, QStringLiteral("x")),
                                 at(0, 20, 10, Align::Left, QStringLiteral("ab")),
                                 at(16, 20, 10, Align::Left, QStringLiteral("y"))}
            << QStringList{QStringLiteral("文学") + blanks(6) + QStringLiteral("x"),
                           QStringLiteral("ab") + blanks(8) + QStringLiteral("y")};
        QTest::newRow("right aligned chinese ends at its column")
            << QVector<PageItem>{at(0, 10, 16, Align::Right, QStringLiteral("数量")),
                                 at(0, 20, 16, Align::Right, QStringLiteral("123"))}
            << QStringList{blanks(6) + QStringLiteral("数量"), blanks(7) + QStringLiteral("123")};
        QTest::newRow("centred")
            << QVector<PageItem>{at(0, 10, 32, Align::Center, QStringLiteral("abcd"))}
            << QStringList{blanks(8) + QStringLiteral("abcd")};
        QTest::newRow("overlap moves right")
            << QVector<PageItem>{at(0, 10, 20, Align::Left, QStringLiteral("abcdefghij")),
                                 at(8, 10, 20, Align::Left, QStringLiteral("X"))}
            << QStringList{QStringLiteral("abcdefghij X")};
        QTest::newRow("a fixed-width text is written as the page holds it")
            << QVector<PageItem>{clipped(at(0, 10, 8, Align::Left, QStringLiteral("文学艺术")))}
            << QStringList{QStringLiteral("文学艺术")};
        QTest::newRow("empty and blank lines are not written, rows top to bottom")
            << QVector<PageItem>{at(0, 30, 10, Align::Left, QStringLiteral("c")),
                                 at(0, 10, 10, Align::Left, QString()),
                                 at(0, 15, 10, Align::Left, QStringLiteral("  ")),
                                 at(0, 20, 10, Align::Left, QStringLiteral("b\nb"))}
            << QStringList{QStringLiteral("b b"), QStringLiteral("c")};
        QTest::newRow("too far left starts at column 0")
            << QVector<PageItem>{at(-10, 10, 12, Align::Right, QStringLiteral("abcdef"))}
            << QStringList{QStringLiteral("abcdef")};
    }
    void textGrid()
    {
        QFETCH(QVector<PageItem>, items);
        QFETCH(QStringList, lines);
        QCOMPARE(textLines(page(items), info()), lines);
    }

    void csvGrid_data()
    {
        QTest::addColumn<QVector<PageItem>>("items");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("columns from anchors, empty cells")
            << QVector<PageItem>{at(8.5, 10, 80, Align::Left, QStringLiteral("文学")),
                                 at(160, 10, 22, Align::Right, QStringLiteral("12")),
                                 at(8.5, 16, 80, Align::Left, QString()),
                                 at(160, 16, 22, Align::Right, QStringLiteral("7")),
                                 at(50, 22, 20, Align::Center, QStringLiteral("中"))}
            << QStringList{QStringLiteral("\"文学\",\"\",\"12\""), QStringLiteral("\"\",\"\",\"7\""),
                           QStringLiteral("\"\",\"中\",\"\"")};
        QTest::newRow("right edges align whatever the box")
            << QVector<PageItem>{at(150, 10, 32, Align::Right, QStringLiteral("1")),
                                 at(170, 16, 12, Align::Right, QStringLiteral("2"))}
            << QStringList{QStringLiteral("\"1\""), QStringLiteral("\"2\"")};
        QTest::newRow("quotes doubled, commas kept inside")
            << QVector<PageItem>{at(0, 10, 80, Align::Left, QStringLiteral("他说\"好\",走"))}
            << QStringList{QStringLiteral("\"他说\"\"好\"\",走\"")};
        QTest::newRow("lines without text are not written")
            << QVector<PageItem>{at(0, 10, 80, Align::Left, QString()), at(50, 10, 80, Align::Left, QStringLiteral(" ")),
                                 at(0, 16, 80, Align::Left, QStringLiteral("a"))}
            << QStringList{QStringLiteral("\"a\",\"\"")};
        QTest::newRow("same anchor on one line")
            << QVector<PageItem>{at(0, 10, 80, Align::Left, QStringLiteral("a")), at(0, 10, 80, Align::Left, QStringLiteral("b"))}
            << QStringList{QStringLiteral("\"a b\"")};
    }
    void csvGrid()
    {
        QFETCH(QVector<PageItem>, items);
        QFETCH(QStringList, lines);
        QCOMPARE(csvLines(page(items)), lines);
    }

    void htmlGrid()
    {
        PageItem red = at(8.5, 16, 80, Align::Left, QStringLiteral("A&B<"));
        red.color = qRgb(255, 0, 0);
        const QVector<PageItem> items{at(8.5, 10, 80, Align::Left, QStringLiteral("文学")),
                                      at(160, 10, 22, Align::Right, QStringLiteral("12")), red,
                                      at(160, 16, 22, Align::Right, QStringLiteral("大"), 1),
                                      at(8.5, 22, 80, Align::Left, QString())};
        QCOMPARE(htmlLines(page(items), info()),
                 QStringList({"<TABLE WIDTH=100% CELLPADDING=2 BORDER=0>",
                              "<TR><TD>文学</TD><TD>12</TD></TR>",
                              "<TR><TD><FONT COLOR=#ff0000>A&amp;B&lt;</FONT></TD><TD><FONT SIZE=+2>大</FONT></TD></TR>",
                              "</TABLE>"}));
        QVERIFY(htmlLines(page({at(0, 10, 10, Align::Left, QString())}), info()).isEmpty());
    }

    // The files: GBK, CR LF, pages one after another, nothing between them.
    void fileBytes_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("text") << int(ReportOutput::Text)
                              << QByteArray("\xc0\xe0\xb1\xf0" "     1\r\n" "ab       2\r\n");
        QTest::newRow("csv") << int(ReportOutput::Csv)
                             << QByteArray("\"\xc0\xe0\xb1\xf0\",\"1\"\r\n" "\"ab\",\"2\"\r\n");
        QTest::newRow("html") << int(ReportOutput::Html)
                              << QByteArray("<TABLE WIDTH=100% CELLPADDING=2 BORDER=0>\r\n"
                                            "<TR><TD>\xc0\xe0\xb1\xf0</TD><TD>1</TD></TR>\r\n</TABLE>\r\n"
                                            "<TABLE WIDTH=100% CELLPADDING=2 BORDER=0>\r\n"
                                            "<TR><TD>ab</TD><TD>2</TD></TR>\r\n</TABLE>\r\n");
    }
    void fileBytes()
    {
        QFETCH(int, format);
        QFETCH(QByteArray, bytes);
        ReportDocument doc;
        doc.info = info();
        doc.pages.push_back(page({at(0, 10, 10, Align::Left, QStringLiteral("类别")),
                                  at(10, 10, 6.4, Align::Right, QStringLiteral("1"))}));
        doc.pages.push_back(page({at(0, 10, 10, Align::Left, QStringLiteral("ab")),
                                  at(10, 10, 6.4, Align::Right, QStringLiteral("2"))}, 2));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out"));
        writeDocumentFile(doc, ReportOutput(format), path);
        QCOMPARE(readWholeFile(path), bytes);
        // Written again: replaced, not appended.
        writeDocumentFile(doc, ReportOutput(format), path);
        QCOMPARE(readWholeFile(path), bytes);
    }

    // Finished files, in the same pass: title and header lines in front of a
    // text or CSV grid; an HTML document whose first table opens with the
    // header row, or a table of that row alone when there are no rows.
    void framedFiles_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("rows");
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray head = "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n"
                                "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">\r\n"
                                "<title>A&amp;B</title>\r\n</head>\r\n<body>\r\n<h1>A&amp;B</h1>\r\n";
        const QByteArray row = "<tr><th>\xc0\xe0\xb1\xf0</th><th>n&lt;</th></tr>\r\n";
        const QByteArray tail = "</body>\r\n</html>\r\n";
        QTest::newRow("text") << int(ReportOutput::Text) << true
                              << QByteArray("A&B\r\n\xc0\xe0\xb1\xf0,n<\r\n" "ab       2\r\n");
        QTest::newRow("csv without rows") << int(ReportOutput::Csv) << false
                                          << QByteArray("A&B\r\n\xc0\xe0\xb1\xf0,n<\r\n");
        QTest::newRow("html") << int(ReportOutput::Html) << true
                              << head + "<TABLE WIDTH=100% CELLPADDING=2 BORDER=0>\r\n" + row
                                     + "\r\n<TR><TD>ab</TD><TD>2</TD></TR>\r\n</TABLE>\r\n" + tail;
        QTest::newRow("html without rows")
            << int(ReportOutput::Html) << false
            << head + "<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\">\r\n" + row + "</table>\r\n" + tail;
    }
    void framedFiles()
    {
        QFETCH(int, format);
        QFETCH(bool, rows);
        QFETCH(QByteArray, bytes);
        ReportDocument doc;
        doc.info = info();
        if (rows)
            doc.pages.push_back(page({at(0, 10, 10, Align::Left, QStringLiteral("ab")),
                                      at(10, 10, 6.4, Align::Right, QStringLiteral("2"))}));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out"));
        writeDocumentFile(doc, ReportOutput(format), path, FileFrame{QStringLiteral("A&B"), QStringLiteral("类别,n<")});
        QCOMPARE(readWholeFile(path), bytes);
    }

    void unwritablePath_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::newRow("missing folder") << QStringLiteral("missing/out.csv");
        QTest::newRow("a folder in the way") << QStringLiteral("folder");
        QTest::newRow("under a file") << QStringLiteral("file.txt/out.csv");
    }
    void unwritablePath()
    {
        QFETCH(QString, relative);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
        QFile plain(dir.filePath(QStringLiteral("file.txt")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);

        Report r;
        TableRowSource rows({QStringLiteral("v")}, {{QStringLiteral("x")}});
        r.setRowSource(&rows);
        r.detail().setHeight(mm(5));
        r.detail().addField(QStringLiteral("v"), {0, 0, mm(10), mm(4)});
        const QString path = dir.filePath(relative);
        try {
            writeReportFile(r, ReportOutput::Csv, path);
            QFAIL("no error");
        } catch (const FileError &e) {
            QVERIFY2(e.text().contains(QDir::toNativeSeparators(path)), qPrintable(e.text()));
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), before);
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("folder"))).isDir());
    }

    void failedRunLeavesTheOldFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("report.txt"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
        old.close();

        Report r;
        PageSetup small = designedPage();
        small.height = mm(60); // several pages are written before the failure
        r.setPageSetup(small);
        FailingRows rows;
        r.setRowSource(&rows);
        r.detail().setHeight(mm(5));
        r.detail().addField(QStringLiteral("v"), {0, 0, mm(20), mm(4)});
        QVERIFY_THROWS_EXCEPTION(DbError, writeReportFile(r, ReportOutput::Text, path));
        QCOMPARE(readWholeFile(path), QByteArray("old"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"report.txt"}));
    }
};

QTEST_GUILESS_MAIN(TestReportWriters)
#include "tst_reportwriters.moc"
