#include "atomicfile.h"
#include "errors.h"
#include "gbk.h"
#include "printerfakes.h"
#include "reportengine.h"
#include "reportpainter.h"
#include "reportpreview.h"
#include "reportwriters.h"
#include "rowsources.h"
#include "textmeasure.h"
#include "testsupport.h"
#include "unglobal.h"

#include <QApplication>
#include <QFontInfo>
#include <QImage>
#include <QPainter>
#include <QtMath>
#include <QRegularExpression>
#include <QSet>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

using namespace lectoria;
using namespace lectoria::report;

Q_DECLARE_METATYPE(lectoria::report::PrinterPaper)

namespace {

// The fake default printer, installed for its lifetime.
struct FakePrinters {
    explicit FakePrinters(PrinterPaper p) : printer(std::move(p)), scope(&printer) {}
    lectoria::test::FakePrinter printer;
    lectoria::test::PrintersScope scope;
};

PrinterPaper printer(QPageSize::PageSizeId size, QPageLayout::Orientation o, int width = 0, int length = 0)
{
    return lectoria::test::printerPaper(size, o, width, length);
}

// A small report of `rows` detail rows, about 40 to a Letter page.
struct Sample {
    Report r;
    TableRowSource rows;
    explicit Sample(int n) : rows({QStringLiteral("v")}, makeRows(n))
    {
        r.setRowSource(&rows);
        r.pageHeader().setHeight(mm(10));
        r.pageHeader().addLabel(QStringLiteral("图书馆电子图书分类统计"), {0, 0, mm(100), mm(6)})
            ->setFont({QStringLiteral("黑体"), 14});
        r.detail().setHeight(mm(6));
        r.detail().addField(QStringLiteral("v"), {mm(8.5), 0, mm(80), mm(4)});
    }
    static QVector<QVariantList> makeRows(int n)
    {
        QVector<QVariantList> out;
        for (int i = 0; i < n; ++i)
            out.append({QStringLiteral("文学类 %1").arg(i)});
        return out;
    }
};

int darkPixels(const QImage &img)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (qGray(img.pixel(x, y)) < 128)
                ++n;
    return n;
}

} // namespace

class TestReportPage : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { resetSession(); }

    void pageSetup_data()
    {
        QTest::addColumn<PrinterPaper>("paper");
        QTest::addColumn<int>("custom");
        QTest::addColumn<QList<int>>("page"); // width, height, left, top, right, bottom (tenths of mm)
        QTest::addColumn<int>("orientation");
        const auto L = QPageLayout::Landscape;
        const auto P = QPageLayout::Portrait;
        QTest::newRow("A3 landscape: 30 mm left") << printer(QPageSize::A3, L) << 0
                                                  << QList<int>{4200, 2970, 300, 100, 100, 100} << int(L);
        QTest::newRow("A3 landscape, custom margins replace the 30 mm")
            << printer(QPageSize::A3, L) << 1 << QList<int>{4200, 2970, 250, 200, 70, 150} << int(L);
        QTest::newRow("A3 portrait keeps 10 mm") << printer(QPageSize::A3, P) << 0
                                                 << QList<int>{2970, 4200, 100, 100, 100, 100} << int(P);
        QTest::newRow("A4 landscape") << printer(QPageSize::A4, L) << 0
                                      << QList<int>{2970, 2100, 100, 100, 100, 100} << int(L);
        QTest::newRow("custom paper: its own size, upright")
            << printer(QPageSize::Custom, L, 2410, 2794) << 0 << QList<int>{2410, 2794, 100, 100, 100, 100} << int(P);
        QTest::newRow("custom paper with custom margins")
            << printer(QPageSize::Custom, P, 2410, 1397) << 1 << QList<int>{2410, 1397, 250, 200, 70, 150} << int(P);
        QTest::newRow("no printer: the designed Letter page") << PrinterPaper() << 0
                                                              << QList<int>{2159, 2794, 100, 100, 100, 100} << int(P);
        QTest::newRow("no printer, custom margins applied") << PrinterPaper() << 1
                                                            << QList<int>{2159, 2794, 250, 200, 70, 150} << int(P);
    }
    void pageSetup()
    {
        QFETCH(PrinterPaper, paper);
        QFETCH(int, custom);
        QFETCH(QList<int>, page);
        QFETCH(int, orientation);
        Session &s = unGlobal();
        s.CustomMargins = custom;
        s.MarginTop = 20;
        s.MarginBottom = 15;
        s.MarginLeft = 25;
        s.MarginRight = 7;
        FakePrinters fake(paper);
        const PageSetup p = standardPageSetup();
        QCOMPARE(QList<int>({p.width, p.height, p.marginLeft, p.marginTop, p.marginRight, p.marginBottom}), page);
        QCOMPARE(int(p.orientation), orientation);
        QCOMPARE(p.fromPrinter, paper.installed);
        // The paper Qt prints on matches the page as laid out.
        const QSizeF onPaper = p.pageLayout().fullRect(QPageLayout::Millimeter).size();
        QVERIFY(qAbs(onPaper.width() * 10 - p.width) <= 1);
        QVERIFY(qAbs(onPaper.height() * 10 - p.height) <= 1);
    }

    void itemsFollowTheMargins()
    {
        FakePrinters fake(printer(QPageSize::A3, QPageLayout::Landscape));
        Sample s(1);
        s.r.setPageSetup(standardPageSetup());
        const Page p = s.r.fill().pages[0];
        QCOMPARE(p.items[1].x, mm(30 + 8.5)); // band left edge at the left margin
        QCOMPARE(p.items[0].y, mm(10));
    }

    // A fixed-width item first takes the room its line leaves empty; what
    // still does not fit is cut at a whole character after its start and
    // marked "…", the same on the page and in the text file. The CSV and
    // HTML files carry the value whole.
    void fixedWidthTextIsCutOnThePage_data()
    {
        QTest::addColumn<int>("align");
        QTest::addColumn<bool>("neighbours"); // long texts in the boxes on both sides
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        // A 10 mm box holds 6 half-width columns of the 9 pt font; "…" takes two.
        QTest::newRow("left keeps the start") << int(Align::Left) << true << "文学艺术概论" << "文学…";
        QTest::newRow("right keeps the start too") << int(Align::Right) << true << "pictures/2024/long-name.jpg" << "pict…";
        QTest::newRow("right, Chinese") << int(Align::Right) << true << "文学艺术概论" << "文学…";
        QTest::newRow("centre") << int(Align::Center) << true << "0123456789" << "0123…";
        QTest::newRow("never half a character") << int(Align::Left) << true << "abc文学" << "abc…";
        QTest::newRow("what fits is whole") << int(Align::Left) << true << "ab文学" << "ab文学";
        QTest::newRow("left: the empty line's room") << int(Align::Left) << false << "文学艺术概论" << "文学艺术概论";
        QTest::newRow("right: the empty line's room") << int(Align::Right) << false << "pictures/x.jpg" << "pictures/x.jpg";
    }
    void fixedWidthTextIsCutOnThePage()
    {
        QFETCH(int, align);
        QFETCH(bool, neighbours);
        QFETCH(QString, text);
        QFETCH(QString, shown);
        Report r;
        const QString other = QStringLiteral("邻栏的文字长得放不下");
        TableRowSource rows({QStringLiteral("v"), QStringLiteral("o")}, {{text, other}});
        r.setRowSource(&rows);
        r.detail().setHeight(mm(6));
        r.detail().addField(QStringLiteral("v"), {mm(20), 0, mm(10), mm(4)}, Align(align))->setClip(true);
        if (neighbours)
            for (int x : {5, 32})
                r.detail().addField(QStringLiteral("o"), {mm(x), 0, mm(13.5), mm(4)})->setClip(true);
        const ReportDocument doc = r.fill();
        QCOMPARE(doc.pages[0].items[0].text, shown);
        QVERIFY(textLines(doc.pages[0], doc.info).first().contains(shown));
        QTemporaryDir dir;
        for (ReportOutput data : {ReportOutput::Csv, ReportOutput::Html}) {
            const QString path = dir.filePath(QStringLiteral("data"));
            writeReportFile(r, data, path);
            const QString file = Gbk::decode(readWholeFile(path));
            QVERIFY2(file.contains(text) && (!neighbours || file.contains(other)), qPrintable(file));
        }
    }

    // With any margins every text and rule stays between them, in the order
    // designed; a long school name keeps every character in a smaller font.
    void everythingInsideTheMargins_data()
    {
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("right");
        QTest::addColumn<int>("paperWidth"); // tenths of a millimetre
        QTest::newRow("designed page") << 10 << 10 << 2159;
        QTest::newRow("left 30") << 30 << 10 << 2159;
        QTest::newRow("left 25, right 5") << 25 << 5 << 2159;
        QTest::newRow("right 40") << 10 << 40 << 2159;
        QTest::newRow("A4") << 10 << 10 << 2100;
        QTest::newRow("A3 landscape, left 30") << 30 << 10 << 4200;
    }
    void everythingInsideTheMargins()
    {
        QFETCH(int, left);
        QFETCH(int, right);
        QFETCH(int, paperWidth);
        const QString school = QStringLiteral("砚山市第一实验学校附属中学暨北城区图书馆联合阅览中心总馆东楼第二分部"); // 34 characters
        Report r;
        PageSetup page = designedPage();
        page.width = paperWidth;
        page.marginLeft = mm(left);
        page.marginRight = mm(right);
        r.setPageSetup(page);
        TableRowSource rows({QStringLiteral("n")}, {{1234567}});
        r.setRowSource(&rows);
        Band &h = r.pageHeader();
        h.setHeight(mm(12));
        h.addLabel(school, {0, 0, mm(96), mm(6)}, Align::Right)->setFont({QStringLiteral("宋体"), 14});
        h.addLabel(QStringLiteral("图书馆电子图书分类统计"), {mm(97), 0, mm(98), mm(6)})
            ->setFont({QStringLiteral("黑体"), 14});
        h.addLabel(QStringLiteral("入库日期：2024-12-01到2024-12-31"), {mm(103), mm(7), mm(80), mm(4)}, Align::Right);
        r.detail().setHeight(mm(6));
        r.detail().setFrame(true, true);
        r.detail().addField(QStringLiteral("n"), {mm(157), 0, mm(38.9), mm(4)}, Align::Right);
        Band &f = r.pageFooter();
        f.setHeight(mm(7));
        f.addSystem(SystemValue::DateTime, {mm(150), mm(1), mm(40), mm(4)});
        f.addLabel(QStringLiteral("第"), {mm(171.5), mm(1), mm(4), mm(4)});
        f.addSystem(SystemValue::PageNumber, {mm(175.7), mm(1), mm(8), mm(4)}, Align::Center);
        f.addLabel(QStringLiteral("页"), {mm(184.2), mm(1), mm(4), mm(4)});
        // A summary of a long and a short line, as a book-style record has.
        Item *memo = r.detail().addMemo({mm(12), mm(5), mm(174), mm(4)});
        memo->setLines({QString(54, QChar(0x4E2D)), QStringLiteral("短")});
        const ReportDocument doc = r.fill();
        const int L = page.marginLeft, R = page.width - page.marginRight;
        const Page &p = doc.pages[0];
        QString all;
        int pageNumberAt = -1, pageWordAt = -1;
        for (const PageItem &i : p.items) {
            const int w = textWidth(i.text, doc.info.fonts[i.font].pointSize);
            const int from = i.align == Align::Left ? i.x : i.align == Align::Right ? i.x + i.width - w : i.anchor() - w / 2;
            QVERIFY2(from >= L - 1 && from + w <= R + 1, qPrintable(i.text));
            all += i.text + QLatin1Char('|');
            if (i.text == QLatin1String("1"))
                pageNumberAt = from + w;
            if (i.text == QStringLiteral("页"))
                pageWordAt = from;
        }
        QVERIFY(pageNumberAt <= pageWordAt); // still in the designed order
        QSet<int> memoFonts; // one size for every line of the summary
        for (const PageItem &i : p.items)
            if (i.text.startsWith(QChar(0x4E2D)) || i.text == QStringLiteral("短"))
                memoFonts << i.font;
        QCOMPARE(memoFonts.size(), 1);
        QVERIFY(all.contains(school + QLatin1Char('|')));
        QVERIFY(all.contains(QStringLiteral("|1234567|")));
        for (const PageLine &l : p.lines)
            QVERIFY(qMin(l.x1, l.x2) >= L && qMax(l.x1, l.x2) <= R);
    }

    // The painter shows the page model's text whole and inside its box, also
    // where an installed font sets it wider than the engine measured it.
    void painterKeepsTextInItsBox_data()
    {
        QTest::addColumn<int>("align");
        QTest::newRow("left") << int(Align::Left);
        QTest::newRow("right") << int(Align::Right);
        QTest::newRow("centre") << int(Align::Center);
    }
    void painterKeepsTextInItsBox()
    {
        QFETCH(int, align);
        DocumentInfo info;
        info.page = designedPage();
        info.fonts = {FontSpec{QStringLiteral("黑体"), 9}};
        PageItem it;
        it.text = QStringLiteral("WMWMWMWMWM"); // Latin letters wider than half an em in a Hei font
        it.x = mm(50);
        it.y = mm(20);
        it.width = textWidth(it.text, 9);
        it.height = mm(5);
        it.align = Align(align);
        it.clip = true;
        Page page;
        page.items = {it};
        const qreal scale = 0.5; // pixels per tenth of a millimetre
        QImage img(qCeil(info.page.width * scale), qCeil(mm(40) * scale), QImage::Format_RGB32);
        img.fill(Qt::white);
        {
            QPainter painter(&img);
            paintPage(painter, page, info, scale);
        }
        int inside = 0, outside = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (qGray(img.pixel(x, y)) < 160)
                    ++((x >= qFloor(it.x * scale) - 1 && x <= qCeil((it.x + it.width) * scale) + 1) ? inside : outside);
        QVERIFY(inside > 50);
        QCOMPARE(outside, 0);
    }

    // A chart's bars are painted where the page model puts them, and only there.
    void painterDrawsBars()
    {
        DocumentInfo info;
        info.page = designedPage();
        info.fonts = {FontSpec{}};
        Page page;
        page.rects = {PageRect{mm(20), mm(10), mm(30), mm(4), 0xff4a7ab5}};
        QImage img(qCeil(info.page.width * 0.5), qCeil(mm(30) * 0.5), QImage::Format_RGB32);
        img.fill(Qt::white);
        {
            QPainter painter(&img);
            paintPage(painter, page, info, 0.5);
        }
        int inside = 0, outside = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (img.pixel(x, y) != qRgb(255, 255, 255))
                    ++((x >= 99 && x <= 251 && y >= 49 && y <= 71) ? inside : outside);
        QCOMPARE(outside, 0);
        QVERIFY(inside >= 150 * 20);
    }

    void chineseFontsAreInstalled_data()
    {
        QTest::addColumn<QString>("family");
        QTest::newRow("song") << QStringLiteral("宋体");
        QTest::newRow("hei") << QStringLiteral("黑体");
        QTest::newRow("li") << QStringLiteral("隶书");
    }
    void chineseFontsAreInstalled()
    {
        QFETCH(QString, family);
        const QFont f = qtFont(FontSpec{family, 9});
        const QFontInfo info(f);
        // A font that has the characters, not a Latin fallback.
        QVERIFY2(QFontMetrics(f).inFont(QChar(0x7C7B)), qPrintable(info.family()));
    }

    void previewPagesZoomsAndCloses()
    {
        Sample s(100);
        ReportPreview preview(s.r.fill());
        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));
        QCOMPARE(preview.objectName(), QStringLiteral("ReportPreview"));
        QVERIFY(preview.isModal());
        QCOMPARE(preview.pageCount(), 3);
        auto *next = preview.findChild<QToolButton *>(QStringLiteral("btNext"));
        auto *prior = preview.findChild<QToolButton *>(QStringLiteral("btPrior"));
        auto *last = preview.findChild<QToolButton *>(QStringLiteral("btLast"));
        auto *box = preview.findChild<QSpinBox *>(QStringLiteral("spPage"));
        QVERIFY(next && prior && last && box);
        QVERIFY(!prior->isEnabled());
        QTest::mouseClick(next, Qt::LeftButton);
        QCOMPARE(preview.pageIndex(), 1);
        QCOMPARE(box->value(), 2);
        QTest::mouseClick(last, Qt::LeftButton);
        QCOMPARE(preview.pageIndex(), 2);
        QVERIFY(!next->isEnabled());
        box->setValue(1);
        QCOMPARE(preview.pageIndex(), 0);

        const qreal zoom = preview.zoom();
        QTest::mouseClick(preview.findChild<QToolButton *>(QStringLiteral("btZoomIn")), Qt::LeftButton);
        QVERIFY(preview.zoom() > zoom);
        auto *view = preview.findChild<QWidget *>(QStringLiteral("pageView"));
        QVERIFY(view);
        // The page is drawn: text makes dark pixels on the white page.
        QVERIFY(darkPixels(view->grab().toImage()) > 100);

        QTest::mouseClick(preview.findChild<QToolButton *>(QStringLiteral("btClose")), Qt::LeftButton);
        QVERIFY(!preview.isVisible());
    }

    void showPreviewIsModal()
    {
        FakePrinters none{PrinterPaper()}; // no printer installed: the preview still shows
        Sample s(3);
        s.r.setPageSetup(standardPageSetup());
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto *p = qobject_cast<ReportPreview *>(QApplication::activeModalWidget());
            seen = p && p->pageCount() == 1 && p->windowTitle() == QStringLiteral("统计");
            if (p)
                p->close();
        });
        showPreview(s.r, nullptr, QStringLiteral("统计"));
        QVERIFY(seen);
    }

    void savePdfFromPreview()
    {
        test::ScriptedPrompt prompt;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("report.pdf"));
        prompt.files = {path, dir.filePath(QStringLiteral("missing/report.pdf"))};
        Sample s(50);
        ReportPreview preview(s.r.fill());
        preview.savePdf();
        const QByteArray pdf = readWholeFile(path);
        QVERIFY(pdf.startsWith("%PDF"));
        QCOMPARE(QString::fromLatin1(pdf).count(QRegularExpression(QStringLiteral("/Type\\s*/Page\\b(?!s)"))), 2);
        QCOMPARE(prompt.requests.first().defaultSuffix, QStringLiteral("pdf"));

        // A path that cannot be written: the standard error box, no file.
        preview.savePdf();
        QCOMPARE(prompt.shown.size(), 1);
        QCOMPARE(prompt.shown.first().icon, PromptIcon::Error);
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("missing"))));
    }
};

QTEST_MAIN(TestReportPage)
#include "tst_reportpage.moc"
