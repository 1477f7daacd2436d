#include "atomicfile.h"
#include "errors.h"
#include "reportengine.h"
#include "reportpainter.h"
#include "reportpreview.h"
#include "rowsources.h"
#include "testsupport.h"
#include "unglobal.h"

#include <QApplication>
#include <QFontInfo>
#include <QImage>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

using namespace lectoria;
using namespace lectoria::report;

Q_DECLARE_METATYPE(lectoria::report::PrinterPaper)

namespace {

class FakePrinters : public Printers {
public:
    explicit FakePrinters(PrinterPaper p) : paper(std::move(p)) { installPrinters(this); }
    ~FakePrinters() override { installPrinters(nullptr); }
    PrinterPaper defaultPaper() const override { return paper; }
    PrinterPaper paper;
};

PrinterPaper printer(QPageSize::PageSizeId size, QPageLayout::Orientation o, int width = 0, int length = 0)
{
    PrinterPaper p;
    p.installed = true;
    p.printerName = QStringLiteral("fake");
    p.size = size;
    p.orientation = o;
    p.paperWidth = width;
    p.paperLength = length;
    return p;
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
