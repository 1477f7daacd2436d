#include "dialogtestkit.h"
#include "previewcloser.h"
#include "atomicfile.h"
#include "clock.h"
#include "libdb.h"
#include "statements.h"
#include "printerfakes.h"
#include "savereport.h"
#include "statisticsdialog.h"
#include "statisticslayout.h"
#include "testsupport.h"
#include "unglobal.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>

using namespace lectoria;
using namespace lectoria::test;

namespace {

// Per kind: two categories named alike (3 and 9), one between them (7), one
// without records (5), records of a missing category (42) and one record
// after the period 2024-12-20 .. 2024-12-31.
void addStatisticsFixture(TestDatabase &db, Kind kind)
{
    const CatalogueKind &k = kindInfo(kind);
    for (const auto &c : {std::pair{7, "历史"}, std::pair{3, "文学"}, std::pair{5, "空类"}, std::pair{9, "文学"}})
        db.exec(QStringLiteral("insert into %1 (lt_id, lt_notice) values (?, ?)").arg(k.categoryTable),
                {c.first, QString::fromUtf8(c.second)});
    struct Rec {
        int type;
        const char *time;
        int amount; // copies for e-books, minutes for video
    };
    const Rec recs[] = {{7, "2024-12-20 00:00:00", 2, }, {7, "2024-12-31 23:59:00", 3},
                        {3, "2024-12-25 10:00:00", 1},  {9, "2024-12-21 08:30:00", 4},
                        {42, "2024-12-22 10:00:00", 10}, {3, "2025-01-01 00:00:00", 5},
                        {7, "2024-12-19 23:59:59", 6}};
    for (const Rec &r : recs) {
        QVariantMap cols{{QStringLiteral("li_title"), QStringLiteral("t")},
                         {QStringLiteral("li_typeid"), r.type},
                         {QStringLiteral("li_logtime"), QString::fromLatin1(r.time)}};
        if (kind == Kind::Dzts)
            cols.insert(QStringLiteral("li_number"), r.amount);
        if (kind == Kind::Zxsp)
            cols.insert(QStringLiteral("li_times"), r.amount);
        db.addRecord(kind, cols);
    }
}

// The texts printed on the line of the item reading `first`, left to right.
QStringList printedLine(const report::ReportDocument &doc, const QString &first)
{
    for (const report::Page &p : doc.pages)
        for (const report::PageItem &it : p.items)
            if (it.text == first) {
                QVector<report::PageItem> line;
                for (const report::PageItem &o : p.items)
                    if (o.y == it.y)
                        line << o;
                std::sort(line.begin(), line.end(),
                          [](const report::PageItem &a, const report::PageItem &b) { return a.x < b.x; });
                QStringList texts;
                for (const report::PageItem &o : line)
                    texts << o.text;
                return texts;
            }
    return {};
}

using test::PreviewCloser;


} // namespace

class TestStatistics : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        resetSession();
        Clock::set(QDateTime(QDate(2024, 12, 31), QTime(15, 30, 0)));
        report::installPrinters(&m_noPrinter);
    }
    void cleanup()
    {
        Clock::reset();
        report::installPrinters(nullptr);
    }

    void windowNames()
    {
        TestDatabase db(bare());
        for (const CatalogueKind &k : catalogueKinds()) {
            const QString code = QLatin1String(k.code);
            auto dlg = makeStatisticsDialog(k.kind, nullptr);
            QCOMPARE(dlg->objectName(), "T" + code + "TJP");
            StatisticsLayout layout(ReportRequest{k.kind});
            QCOMPARE(layout.objectName(), "T" + code + "TJ");
            // The periodical-article dialog carries no hint lines.
            QCOMPARE(dlg->findChild<QLabel *>(QStringLiteral("Label1")) != nullptr, k.kind != Kind::Bklw);
        }
    }

    // Every kind and every period choice against the written statement texts.
    void statementLines_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QDate>("today");
        QTest::addColumn<QString>("radio");
        QTest::addColumn<QDate>("from");
        QTest::addColumn<QDate>("to");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("caption");
        auto lines = [](const QString &select, const QString &from, const QStringList &dates) {
            return QStringList{select, from, "where li_typeid=lt_id "} + dates
                 + QStringList{"group by li_typeid,lt_notice ", "order by li_typeid "};
        };
        const QString plain = "select li_typeid,lt_notice,count(*) as iC ";
        QTest::newRow("shdh today")
            << int(Kind::Shdh) << QDate(2024, 3, 5) << "rdbToday" << QDate() << QDate()
            << lines(plain, "from www_shdh,www_shtype ",
                     {"  and li_logtime>='2024-03-05' ", "  and li_logtime<'2024-03-06' "})
            << "入库日期：2024-03-05到2024-03-05";
        QTest::newRow("dzts month on its first day")
            << int(Kind::Dzts) << QDate(2024, 6, 1) << "rdbMonth" << QDate() << QDate()
            << lines("select li_typeid,lt_notice,count(*) as iC,sum(li_number) as iNum ",
                     "from www_lineread,www_litype ",
                     {"  and li_logtime>='2024-06-01' ", "  and li_logtime<'2024-06-02' "})
            << "入库日期：2024-06-01到2024-06-01";
        QTest::newRow("bklw all dates")
            << int(Kind::Bklw) << QDate(2024, 3, 5) << "rdbAllDate" << QDate() << QDate()
            << lines(plain, "from www_article,www_artype ", {}) << QString();
        QTest::newRow("tpzl month to today")
            << int(Kind::Tpzl) << QDate(2024, 2, 29) << "rdbMonth" << QDate() << QDate()
            << lines(plain, "from www_picture,www_pitype ",
                     {"  and li_logtime>='2024-02-01' ", "  and li_logtime<'2024-03-01' "})
            << "入库日期：2024-02-01到2024-02-29";
        QTest::newRow("zxyy one-day range")
            << int(Kind::Zxyy) << QDate(2024, 3, 5) << "rsbSelDate" << QDate(2023, 7, 9) << QDate(2023, 7, 9)
            << lines(plain, "from www_music,www_mutype ",
                     {"  and li_logtime>='2023-07-09' ", "  and li_logtime<'2023-07-10' "})
            << "入库日期：2023-07-09到2023-07-09";
        QTest::newRow("zxsp range over the year's end")
            << int(Kind::Zxsp) << QDate(2025, 1, 10) << "rsbSelDate" << QDate(2024, 12, 20) << QDate(2024, 12, 31)
            << lines("select li_typeid,lt_notice,count(*) as iC,sum(li_times) as iLong ", "from www_video,www_vitype ",
                     {"  and li_logtime>='2024-12-20' ", "  and li_logtime<'2025-01-01' "})
            << "入库日期：2024-12-20到2024-12-31";
    }
    void statementLines()
    {
        QFETCH(int, kind);
        QFETCH(QDate, today);
        QFETCH(QString, radio);
        QFETCH(QDate, from);
        QFETCH(QDate, to);
        QFETCH(QStringList, lines);
        QFETCH(QString, caption);
        Clock::set(QDateTime(today, QTime(9, 0)));
        TestDatabase db(bare());
        StatisticsDialog dlg(Kind(kind), nullptr);
        dlg.show();
        QStringList log;
        LibDB::setStatementLog(&log);
        choose(dlg, radio, from, to);
        refresh(dlg);
        LibDB::setStatementLog(nullptr);
        QCOMPARE(log.size(), 1);
        // As written; the connection gets its own dialect's date literals.
        QCOMPARE(statisticsStatement(dlg.request(), Dialect::Sqlite), lines);
        QCOMPARE(log.first(), statisticsStatement(dlg.request(), LibDB::dialect()).join(QLatin1Char('\n')));

        // The layout builds the same statement from the dialog's request and prints the period.
        LibDB::setStatementLog(&log);
        StatisticsLayout layout(dlg.request(), &dlg);
        LibDB::setStatementLog(nullptr);
        QCOMPARE(log.last(), log.first());
        QCOMPARE(layout.report().item(QStringLiteral("qlbDate"))->text(), caption);
    }

    void pickersShowOnlyForRange()
    {
        TestDatabase db(bare());
        StatisticsDialog dlg(Kind::Shdh, nullptr);
        dlg.show();
        QCOMPARE(child<QDateEdit>(dlg, "dtBegin")->date(), QDate(2024, 12, 1));
        QCOMPARE(child<QDateEdit>(dlg, "dtEnd")->date(), QDate(2024, 12, 31));
        QVERIFY(child<QRadioButton>(dlg, "rdbToday")->isChecked());
        QVERIFY(!child<QDateEdit>(dlg, "dtBegin")->isVisible());
        choose(dlg, "rsbSelDate");
        QVERIFY(child<QDateEdit>(dlg, "dtBegin")->isVisible());
        QVERIFY(child<QLabel>(dlg, "lbEnd")->isVisible());
        choose(dlg, "rdbMonth");
        QVERIFY(!child<QDateEdit>(dlg, "dtEnd")->isVisible());
    }

    // Grid and printed report over a real database.
    void statistics_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("headings");
        QTest::addColumn<QVector<QStringList>>("rows");
        QTest::addColumn<QStringList>("total");
        QTest::newRow("articles") << int(Kind::Shdh) << QStringList{"类别", "数量"}
                                  << QVector<QStringList>{{"文学", "1"}, {"历史", "2"}, {"文学", "1"}}
                                  << QStringList{"合计", "4"};
        QTest::newRow("e-books titles and copies")
            << int(Kind::Dzts) << QStringList{"类别", "种数", "册数"}
            << QVector<QStringList>{{"文学", "1", "1"}, {"历史", "2", "5"}, {"文学", "1", "4"}}
            << QStringList{"合计", "4", "10"};
        QTest::newRow("video minutes")
            << int(Kind::Zxsp) << QStringList{"类别", "数量", "时间长度(分钟)"}
            << QVector<QStringList>{{"文学", "1", "1"}, {"历史", "2", "5"}, {"文学", "1", "4"}}
            << QStringList{"合计", "4", "10"};
    }
    void statistics()
    {
        QFETCH(int, kind);
        QFETCH(QStringList, headings);
        QFETCH(QVector<QStringList>, rows);
        QFETCH(QStringList, total);
        TestDatabase db(bare());
        addStatisticsFixture(db, Kind(kind));
        StatisticsDialog dlg(Kind(kind), nullptr);
        dlg.show();
        choose(dlg, "rsbSelDate", QDate(2024, 12, 20), QDate(2024, 12, 31));
        refresh(dlg);
        QCOMPARE(gridHeadings(dlg), headings);
        QCOMPARE(gridRows(dlg), rows);
        QVERIFY(dlg.printEnabled());

        StatisticsLayout layout(dlg.request(), &dlg);
        const report::ReportDocument doc = layout.report().fill();
        QCOMPARE(printedLine(doc, "合计"), total);
        QCOMPARE(printedLine(doc, "历史"), rows.at(1));
        QCOMPARE(printedLine(doc, "打印日期："),
                 (QStringList{"打印日期：", "2024-12-31 15:30:00", "砚禾数字图书馆管理系统2007版"}));
    }

    void printButtonFollowsTheLastRefresh()
    {
        TestDatabase db(bare());
        addStatisticsFixture(db, Kind::Shdh);
        StatisticsDialog dlg(Kind::Shdh, nullptr);
        dlg.show();
        QPushButton *print = child<QPushButton>(dlg, "btPrint");
        QAction *csv = child<QAction>(dlg, "pmCsv");
        QVERIFY(!print->isEnabled());
        QVERIFY(!csv->isEnabled());

        choose(dlg, "rdbToday"); // 2024-12-31: one record at 23:59
        refresh(dlg);
        QVERIFY(print->isEnabled());
        QVERIFY(csv->isEnabled());

        choose(dlg, "rdbMonth");
        QVERIFY(!print->isEnabled());
        refresh(dlg);
        QVERIFY(print->isEnabled());
        child<QDateEdit>(dlg, "dtBegin")->setDate(QDate(2024, 1, 1));
        QVERIFY(!print->isEnabled());
        QVERIFY(!csv->isEnabled());

        // A range running backwards finds nothing and leaves printing off, silently.
        ScriptedPrompt prompt;
        choose(dlg, "rsbSelDate", QDate(2024, 12, 31), QDate(2024, 12, 20));
        refresh(dlg);
        QVERIFY(gridRows(dlg).isEmpty());
        QVERIFY(!print->isEnabled());
        QVERIFY(prompt.shown.isEmpty());

        // A refresh with rows, then one without: printing off again.
        choose(dlg, "rdbAllDate");
        refresh(dlg);
        QVERIFY(print->isEnabled());
        choose(dlg, "rsbSelDate", QDate(2020, 1, 1), QDate(2020, 1, 2));
        refresh(dlg);
        QVERIFY(!print->isEnabled());
    }

    void outputMenuOnRightClick()
    {
        TestDatabase db(bare());
        addStatisticsFixture(db, Kind::Shdh);
        StatisticsDialog dlg(Kind::Shdh, nullptr);
        dlg.show();
        QPushButton *print = child<QPushButton>(dlg, "btPrint");
        QStringList offered;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&] {
            if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                offered << menu->objectName();
                for (QAction *a : menu->actions())
                    offered << (a->isSeparator() ? QStringLiteral("-") : a->text());
                menu->close();
            }
        });
        closer.start(10);
        auto rightClick = [print] {
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), print->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(print, &event);
        };
        rightClick(); // disabled: nothing offered
        QCOMPARE(offered, QStringList());
        choose(dlg, "rdbAllDate");
        refresh(dlg);
        rightClick();
        QCOMPARE(offered, (QStringList{"pmSaveFile", "运行按钮指定功能", "-", "保存报表到文本文件(*.txt)",
                                       "保存报表到CSV(逗号分隔)文件(*.csv)", "保存报表到HTML文件(*.htm)"}));
        QVERIFY(child<QAction>(dlg, "pmThis")->isChecked());
    }

    void waitLabelPaintsBeforeTheQuery()
    {
        TestDatabase db(bare());
        StatisticsDialog dlg(Kind::Shdh, nullptr);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QLabel *wait = child<QLabel>(dlg, "lbWait");
        QStringList log;
        int paintsBeforeQuery = 0;
        struct Watch : QObject {
            std::function<void()> onPaint;
            bool eventFilter(QObject *, QEvent *e) override
            {
                if (e->type() == QEvent::Paint)
                    onPaint();
                return false;
            }
        } watch;
        watch.onPaint = [&] {
            if (log.isEmpty())
                ++paintsBeforeQuery;
        };
        wait->installEventFilter(&watch);
        LibDB::setStatementLog(&log);
        refresh(dlg);
        LibDB::setStatementLog(nullptr);
        QCOMPARE(log.size(), 1);
        QVERIFY(paintsBeforeQuery > 0);
        QVERIFY(!wait->isVisible());
    }

    void refreshErrorShowsTheDatabaseText()
    {
        TestDatabase db(bare());
        db.exec(QStringLiteral("drop table www_shtype"));
        ScriptedPrompt prompt;
        StatisticsDialog dlg(Kind::Shdh, nullptr);
        dlg.show();
        refresh(dlg);
        QCOMPARE(prompt.shown.size(), 1);
        QCOMPARE(prompt.shown.first().icon, PromptIcon::Error);
        QVERIFY(prompt.shown.first().text.contains(QStringLiteral("www_shtype")));
        QVERIFY(!dlg.printEnabled());
        QVERIFY(!child<QLabel>(dlg, "lbWait")->isVisible());
    }

    void previewAndOutputCommands()
    {
        TestDatabase db(bare());
        addStatisticsFixture(db, Kind::Shdh);
        QTemporaryDir dir;
        ScriptedPrompt prompt;
        PreviewCloser closer;
        StatisticsDialog dlg(Kind::Shdh, nullptr);
        dlg.show();
        choose(dlg, "rdbAllDate");
        refresh(dlg);

        // "运行按钮指定功能" is a plain click: the printer hint, then the preview.
        child<QAction>(dlg, "pmThis")->trigger();
        QCOMPARE(prompt.texts(), QStringList{printerHint});
        QCOMPARE(closer.shown, 1);
        QCOMPARE(unGlobal().ExportChoice, 0);

        // A save entry: no hint, one filter with its extension; a name without
        // one gets it.
        prompt.clear();
        prompt.files << dir.filePath(QStringLiteral("stats"));
        child<QAction>(dlg, "pmCsv")->trigger();
        QCOMPARE(prompt.texts(), QStringList{fileDone});
        QCOMPARE(prompt.requests.size(), 1);
        QCOMPARE(prompt.requests.first().filter, QStringLiteral("逗号分隔文件(*.csv)"));
        QCOMPARE(prompt.requests.first().defaultSuffix, QStringLiteral("csv"));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("stats.csv"))));
        QCOMPARE(unGlobal().ExportChoice, 0);

        // Cancelling writes nothing and says nothing.
        prompt.clear();
        child<QAction>(dlg, "pmTxt")->trigger();
        QCOMPARE(prompt.requests.size(), 1);
        QCOMPARE(prompt.requests.first().filter, QStringLiteral("文本文件(*.txt)"));
        QVERIFY(prompt.shown.isEmpty());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"stats.csv"});

        // Afterwards a plain click previews again.
        prompt.clear();
        QTest::mouseClick(child<QPushButton>(dlg, "btPrint"), Qt::LeftButton);
        QCOMPARE(prompt.texts(), QStringList{printerHint});
        QCOMPARE(closer.shown, 2);
    }

    void failingCommandsEndCleanly_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("breakDatabase");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("errorPart");
        QTest::newRow("layout query fails") << "pmCsv" << true << "out.csv" << "www_shtype";
        QTest::newRow("missing folder") << "pmHtm" << false << "nowhere/out.htm" << "out.htm";
        QTest::newRow("path is a folder") << "pmTxt" << false << "folder.txt" << "folder.txt";
    }
    void failingCommandsEndCleanly()
    {
        QFETCH(QString, action);
        QFETCH(bool, breakDatabase);
        QFETCH(QString, file);
        QFETCH(QString, errorPart);
        TestDatabase db(bare());
        addStatisticsFixture(db, Kind::Shdh);
        QTemporaryDir dir;
        QDir(dir.path()).mkdir(QStringLiteral("folder.txt"));
        ScriptedPrompt prompt;
        StatisticsDialog dlg(Kind::Shdh, nullptr);
        dlg.show();
        choose(dlg, "rdbAllDate");
        refresh(dlg);
        if (breakDatabase)
            db.exec(QStringLiteral("drop table www_shtype"));
        prompt.files << dir.filePath(file);
        dlg.findChild<QAction *>(action)->trigger();

        QCOMPARE(unGlobal().ExportChoice, 0);
        QCOMPARE(prompt.shown.size(), 1); // the error box, no success message
        QCOMPARE(prompt.shown.first().icon, PromptIcon::Error);
        QVERIFY2(prompt.shown.first().text.contains(errorPart), qPrintable(prompt.shown.first().text));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        QVERIFY(!child<QLabel>(dlg, "lbWait")->isVisible());
        QVERIFY(dlg.printEnabled()); // the dialog can be used again
    }

    void savingTwiceReplacesTheFile()
    {
        TestDatabase db(bare());
        addStatisticsFixture(db, Kind::Shdh);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("s.txt"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(5000, 'x'));
        old.close();
        ScriptedPrompt prompt;
        StatisticsDialog dlg(Kind::Shdh, nullptr);
        dlg.show();
        choose(dlg, "rdbAllDate");
        refresh(dlg);
        prompt.files << path << path;
        child<QAction>(dlg, "pmTxt")->trigger();
        const QByteArray first = readWholeFile(path);
        child<QAction>(dlg, "pmTxt")->trigger();
        QCOMPARE(readWholeFile(path), first);
        QVERIFY(!first.contains('x'));
        QCOMPARE(prompt.texts(), (QStringList{fileDone, fileDone}));
    }

    // One statistics report as each file type, byte for byte.
    // With the chart ticked the text and CSV files stay as they were; the
    // HTML file carries the chart as inline SVG after the table.
    void goldenFiles_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("chart");
        QTest::addColumn<QString>("golden");
        QTest::newRow("text, whole report") << "pmTxt" << false << "dzts_stats.txt";
        QTest::newRow("csv, data rows only") << "pmCsv" << false << "dzts_stats.csv";
        QTest::newRow("html, data rows only") << "pmHtm" << false << "dzts_stats.htm";
        QTest::newRow("text with the chart ticked") << "pmTxt" << true << "dzts_stats.txt";
        QTest::newRow("csv with the chart ticked") << "pmCsv" << true << "dzts_stats.csv";
        QTest::newRow("html with the chart") << "pmHtm" << true << "dzts_stats_chart.htm";
    }
    void goldenFiles()
    {
        QFETCH(QString, action);
        QFETCH(bool, chart);
        QFETCH(QString, golden);
        TestDatabase db(bare());
        TestSettings settings;
        addStatisticsFixture(db, Kind::Dzts);
        unGlobal().SchoolName = QStringLiteral("育才中学");
        QTemporaryDir dir;
        ScriptedPrompt prompt;
        StatisticsDialog dlg(Kind::Dzts, nullptr);
        dlg.show();
        child<QCheckBox>(dlg, "cbChart")->setChecked(chart);
        choose(dlg, "rsbSelDate", QDate(2024, 12, 20), QDate(2024, 12, 31));
        refresh(dlg);
        const QString path = dir.filePath(golden);
        prompt.files << path;
        dlg.findChild<QAction *>(action)->trigger();
        QCOMPARE(prompt.texts(), QStringList{fileDone});

        LECTORIA_COMPARE_GOLDEN(readWholeFile(path), QStringLiteral(LECTORIA_GOLDEN_DIR "/") + golden);
    }

    // The chart's page model: its title, a panel per number of the report,
    // a row per category with the bar in proportion to the largest value.
    void chartPageModel_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("golden");
        QTest::newRow("e-books: titles and copies") << int(Kind::Dzts) << "dzts_chart.model";
        QTest::newRow("pictures: count only") << int(Kind::Tpzl) << "tpzl_chart.model";
    }
    void chartPageModel()
    {
        QFETCH(int, kind);
        QFETCH(QString, golden);
        TestDatabase db(bare());
        addStatisticsFixture(db, Kind(kind));
        ReportRequest request;
        request.kind = Kind(kind);
        request.period = {QDate(2024, 12, 20), QDate(2024, 12, 31)};
        request.chart = true;
        StatisticsLayout layout(request);
        const report::ReportDocument doc = layout.report().fill();
        QString model;
        for (const report::Page &p : doc.pages) {
            for (const report::PageItem &it : p.items)
                if (it.figure)
                    model += QStringLiteral("text %1 %2 %3 %4 %5 %6pt %7\n")
                                 .arg(it.x).arg(it.y).arg(it.width).arg(it.height)
                                 .arg(QLatin1String(it.align == report::Align::Left    ? "left"
                                                    : it.align == report::Align::Right ? "right"
                                                                                       : "centre"))
                                 .arg(doc.info.fonts[it.font].pointSize)
                                 .arg(it.text);
            for (const report::PageRect &r : p.rects)
                model += QStringLiteral("bar %1 %2 %3 %4 #%5\n")
                             .arg(r.x).arg(r.y).arg(r.width).arg(r.height)
                             .arg(r.color & 0xffffff, 6, 16, QLatin1Char('0'));
        }
        LECTORIA_COMPARE_GOLDEN(model.toUtf8(), QStringLiteral(LECTORIA_GOLDEN_DIR "/") + golden);
        // Without the chart there is none.
        request.chart = false;
        StatisticsLayout plain(request);
        for (const report::Page &p : plain.report().fill().pages)
            QVERIFY(p.rects.isEmpty());
    }

    // "附统计图" is off until ticked, and the machine's settings remember it.
    void chartChoiceRemembered()
    {
        TestDatabase db(bare());
        TestSettings settings;
        {
            StatisticsDialog dlg(Kind::Zxsp, nullptr);
            QCheckBox *box = child<QCheckBox>(dlg, "cbChart");
            QCOMPARE(box->text(), QStringLiteral("附统计图"));
            QVERIFY(!box->isChecked());
            box->click();
        }
        QVERIFY(readWholeFile(settings.path()).contains("REPORTCHART=1"));
        StatisticsDialog again(Kind::Shdh, nullptr);
        QVERIFY(child<QCheckBox>(again, "cbChart")->isChecked());
        child<QCheckBox>(again, "cbChart")->click();
        QVERIFY(readWholeFile(settings.path()).contains("REPORTCHART=0"));
    }

    // A layout lies on the page the page set-up rule gives for the default
    // printer and the installation's margins (the rule itself is tested with
    // the engine), for the preview and the files alike.
    void pageSetup()
    {
        TestDatabase db(bare());
        FakePrinter printer(printerPaper(QPageSize::A3, QPageLayout::Landscape));
        PrintersScope scope(&printer);
        Session &s = unGlobal();
        s.CustomMargins = 1;
        s.MarginTop = 20;
        s.MarginBottom = 15;
        s.MarginLeft = 25;
        s.MarginRight = 12;
        const report::PageSetup rule = report::standardPageSetup();
        QCOMPARE((QVector<int>{rule.width, rule.height, rule.marginLeft}), (QVector<int>{4200, 2970, 250}));
        for (ReportOutput output : {ReportOutput::Preview, ReportOutput::Csv}) {
            ReportRequest request{Kind::Shdh};
            request.output = output;
            StatisticsLayout layout(request);
            const report::PageSetup &ps = layout.report().pageSetup();
            QCOMPARE((QVector<int>{ps.width, ps.height, ps.marginLeft, ps.marginTop, ps.marginRight, ps.marginBottom}),
                     (QVector<int>{rule.width, rule.height, rule.marginLeft, rule.marginTop, rule.marginRight,
                                   rule.marginBottom}));
        }
    }

    void producedWithoutWindows()
    {
        TestDatabase db(bare());
        addStatisticsFixture(db, Kind::Dzts);
        Session &s = unGlobal();
        s.SchoolName = QStringLiteral("育才中学");
        QTemporaryDir dir;
        ScriptedPrompt prompt;
        for (const QString &name : {QStringLiteral("csv"), QStringLiteral("txt"), QStringLiteral("pdf")}) {
            ReportRequest request{Kind::Dzts};
            request.period = {QDate(2024, 12, 20), QDate(2024, 12, 31)};
            QVERIFY(reportOutputFromName(name, &request.output));
            const QString path = dir.filePath("batch." + name);
            StatisticsLayout layout(request);
            produceReportFile(layout, request.output, path);
            if (name != QLatin1String("pdf"))
                LECTORIA_COMPARE_GOLDEN(readWholeFile(path), QStringLiteral(LECTORIA_GOLDEN_DIR "/dzts_stats.") + name);
            else
                QVERIFY(readWholeFile(path).startsWith("%PDF"));
        }
        ReportOutput out;
        QVERIFY(!reportOutputFromName(QStringLiteral("xls"), &out));
        QVERIFY(prompt.shown.isEmpty());
    }

private:
    NoPrinter m_noPrinter;
};

QTEST_MAIN(TestStatistics)
#include "tst_statistics.moc"
