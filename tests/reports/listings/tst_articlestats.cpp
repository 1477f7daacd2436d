#include "articlestatistics.h"
#include "clock.h"
#include "gbk.h"
#include "libdb.h"
#include "listingstatements.h"
#include "statements.h"
#include "listingtestkit.h"
#include "unglobal.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QTemporaryDir>

using namespace lectoria;
using namespace lectoria::test;
using namespace listingtest;

Q_DECLARE_METATYPE(QVector<QStringList>)

namespace {

// Categories 1 and 2 share a name; category 4's articles all lie in a
// sub-category that does not exist, as does one of category 3's; one
// article's category does not exist. One article entered in June.
void addArticles(TestDatabase &db)
{
    for (const auto &c : {std::pair{1, "教育研究"}, std::pair{2, "教育研究"}, std::pair{3, "信息技术"},
                          std::pair{4, "空类"}})
        db.exec("insert into www_artype (lt_id, lt_notice) values (?, ?)", {c.first, QString::fromUtf8(c.second)});
    for (const auto &s : {std::tuple{1, 1, "理论探讨"}, std::tuple{1, 2, "实践经验"}, std::tuple{1, 3, "案例分析"},
                          std::tuple{2, 1, "理论探讨"}, std::tuple{2, 2, "综述"}, std::tuple{3, 1, "理论探讨"}})
        db.exec("insert into www_artypes (ls_id, ls_sid, ls_notice) values (?, ?, ?)",
                {std::get<0>(s), std::get<1>(s), QString::fromUtf8(std::get<2>(s))});
    const int pairs[][2] = {{1, 1}, {1, 2}, {1, 2}, {1, 3}, {2, 1}, {2, 1}, {2, 2}, {3, 1}, {3, 9}, {9, 1}, {4, 5}};
    int n = 0;
    for (const auto &p : pairs) {
        const QString time = ++n == 6 ? "2024-06-02 10:00:00" : "2024-05-02 10:00:00";
        db.addRecord(Kind::Bklw, {{"li_title", "文"}, {"li_typeid", p[0]}, {"li_subid", p[1]}, {"li_logtime", time}});
    }
}

const QVector<QStringList> allSubRows = {{"教育研究", "理论探讨", "1"}, {"教育研究", "实践经验", "2"},
                                         {"教育研究", "案例分析", "1"}, {"教育研究", "理论探讨", "2"},
                                         {"教育研究", "综述", "1"},     {"信息技术", "理论探讨", "1"}};

QStringList fileLines(const QString &path) { return Gbk::decode(readWholeFile(path)).split("\r\n", Qt::SkipEmptyParts); }

} // namespace

class TestArticleStatistics : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { m_fixed.begin(); }
    void cleanup() { m_fixed.end(); }

    // The scope decides the grid, the category list and what printing makes.
    void scope()
    {
        TestDatabase db(bare());
        addArticles(db);
        auto dlg = makeArticleStatisticsDialog(nullptr);
        dlg->show();
        QCOMPARE(dlg->objectName(), QStringLiteral("TBklwTJP"));
        QCOMPARE(dlg->windowTitle(), QStringLiteral("报刊论文分类统计"));
        QVERIFY(!dlg->findChild<QLabel *>("Label1"));
        QCOMPARE(child<QGroupBox>(*dlg, "GroupBox2")->title(), QStringLiteral("统计范围"));
        QComboBox *type = child<QComboBox>(*dlg, "cbType");
        QStringList entries;
        for (int i = 0; i < type->count(); ++i)
            entries << type->itemText(i);
        QCOMPARE(entries, (QStringList{"全部大类别", "1:教育研究", "2:教育研究", "3:信息技术", "4:空类"}));
        QTableView *grid1 = child<QTableView>(*dlg, "DBGrid1");
        QTableView *grid2 = child<QTableView>(*dlg, "DBGrid2");
        QVERIFY(grid1->isVisible() && !grid2->isVisible() && !type->isVisible());

        choose(*dlg, "rdbAllDate");
        refresh(*dlg);
        QCOMPARE(gridRows(*dlg), (QVector<QStringList>{{"教育研究", "4"}, {"教育研究", "3"}, {"信息技术", "2"},
                                                       {"空类", "1"}}));
        QPushButton *print = child<QPushButton>(*dlg, "btPrint");
        QVERIFY(print->isEnabled());

        clickRadio(*dlg, "RadioButton2");
        QVERIFY(!print->isEnabled());
        QVERIFY(!grid1->isVisible() && grid2->isVisible() && type->isVisible());
        QVERIFY(gridRows(*dlg).isEmpty());
        refresh(*dlg);
        // Articles of missing sub-categories are not counted here: 8, not 10.
        QCOMPARE(gridHeadings(*dlg, "DBGrid2"), (QStringList{"大类别", "子类别", "数量"}));
        QCOMPARE(gridRows(*dlg, "DBGrid2"), allSubRows);
        QVERIFY(print->isEnabled());
        type->setCurrentIndex(3);
        QVERIFY(!print->isEnabled());

        clickRadio(*dlg, "RadioButton1");
        QVERIFY(grid1->isVisible() && !grid2->isVisible() && !type->isVisible());
        QVERIFY(gridRows(*dlg, "DBGrid2").isEmpty());
    }

    void statements_data()
    {
        QTest::addColumn<bool>("bySub");
        QTest::addColumn<QString>("type"); // typed into cbType; "" leaves "全部大类别"
        QTest::addColumn<QString>("condition");
        QTest::addColumn<QStringList>("lines");
        const QStringList head = {"select li_typeid,lt_notice,li_subid,ls_notice,count(*) as iC ",
                                  "from www_article,www_artype,www_artypes ",
                                  "where li_typeid=lt_id and li_typeid=ls_id and li_subid=ls_sid ",
                                  "  and li_logtime>='2024-05-01' ", "  and li_logtime<'2024-05-21' "};
        const QStringList tail = {"group by li_typeid,lt_notice,li_subid,ls_notice ", "order by li_typeid,li_subid "};
        QTest::newRow("by category: the family's statement, no condition")
            << false << "3:信息技术" << ""
            << QStringList{"select li_typeid,lt_notice,count(*) as iC ", "from www_article,www_artype ",
                           "where li_typeid=lt_id ", "  and li_logtime>='2024-05-01' ",
                           "  and li_logtime<'2024-05-21' ", "group by li_typeid,lt_notice ", "order by li_typeid "};
        QTest::newRow("by sub-category, every category") << true << "" << "" << head + tail;
        QTest::newRow("by sub-category, one category")
            << true << "3:信息技术" << "li_typeid=3" << head + QStringList{"  and (li_typeid=3)"} + tail;
    }
    // A typed category that is no id lists nothing and says so.
    void typedCategoryRefused()
    {
        TestDatabase db(bare());
        addArticles(db);
        ArticleStatisticsDialog dlg(nullptr);
        dlg.show();
        choose(dlg, "rdbAllDate");
        clickRadio(dlg, "RadioButton2");
        refresh(dlg);
        QVERIFY(!gridRows(dlg, "DBGrid2").isEmpty());
        typeInto(dlg, "cbType", "x:y");
        QStringList log;
        LibDB::setStatementLog(&log);
        ScriptedPrompt prompt;
        refresh(dlg);
        QCOMPARE(prompt.texts(), QStringList{"没有这个类别：x:y"});
        QVERIFY(log.isEmpty());
        QVERIFY(gridRows(dlg, "DBGrid2").isEmpty());
        QVERIFY(!child<QPushButton>(dlg, "btPrint")->isEnabled());
    }

    void statements()
    {
        QFETCH(bool, bySub);
        QFETCH(QString, type);
        QFETCH(QString, condition);
        QFETCH(QStringList, lines);
        TestDatabase db(bare());
        addArticles(db);
        ArticleStatisticsDialog dlg(nullptr);
        dlg.show();
        unGlobal().QueryCondition = "li_typeid=1"; // left from another dialog
        choose(dlg, "rsbSelDate", QDate(2024, 5, 1), QDate(2024, 5, 20));
        if (bySub)
            clickRadio(dlg, "RadioButton2");
        if (!type.isEmpty())
            typeInto(dlg, "cbType", type);
        QStringList log;
        LibDB::setStatementLog(&log);
        refresh(dlg);
        QCOMPARE(log.size(), 1);
        // As written; the connection gets its own dialect's date literals.
        auto statement = [&](const Dialect &d) {
            return bySub ? subCategoryStatisticsStatement(dlg.request(), d) : statisticsStatement(dlg.request(), d);
        };
        QCOMPARE(statement(Dialect::Sqlite), lines);
        QCOMPARE(log.first(), statement(LibDB::dialect()).join('\n'));
        QCOMPARE(unGlobal().QueryCondition, condition);
        if (bySub) {
            SubCategoryLayout layout(dlg.request(), &dlg);
            QCOMPARE(layout.objectName(), QStringLiteral("TBklwTJ1"));
            QCOMPARE(log.last(), log.first());
            QCOMPARE(layout.report().item("qlbDate")->text(), QStringLiteral("入库日期：2024-05-01到2024-05-20"));
        }
    }

    // The chart of the counts per sub-category names every row in full,
    // "category[sub-category]", also where the table leaves the name out;
    // a text file has none.
    void subCategoryChart()
    {
        TestDatabase db(bare());
        addArticles(db);
        ReportRequest request{Kind::Bklw};
        request.chart = true;
        QStringList rows;
        int bars = 0;
        {
            SubCategoryLayout layout(request);
            for (const report::Page &p : layout.report().fill().pages) {
                bars += int(p.rects.size());
                for (const QStringList &line : printedLines(p))
                    if (line.first().contains('['))
                        rows << line.join('|');
            }
        }
        QCOMPARE(rows, (QStringList{"教育研究[理论探讨]|1", "教育研究[实践经验]|2", "教育研究[案例分析]|1",
                                    "教育研究[理论探讨]|2", "教育研究[综述]|1", "信息技术[理论探讨]|1"}));
        QCOMPARE(bars, 6);
        request.output = ReportOutput::Text;
        SubCategoryLayout text(request);
        for (const report::Page &p : text.report().fill().pages)
            for (const report::PageItem &it : p.items)
                QVERIFY(!it.figure);
    }

    // A category's name only on its first printed row: by name, across pages.
    void nameOnFirstRowOnly()
    {
        TestDatabase db(bare());
        addArticles(db);
        FakePrinter small(customPaper(2159, 600)); // two rows a page
        PrintersScope printers(&small);
        SubCategoryLayout layout(ReportRequest{Kind::Bklw});
        const report::ReportDocument doc = layout.report().fill();
        QVERIFY(doc.pages.size() >= 3);
        QVector<QStringList> rows;
        for (const QStringList &line : printedLines(doc))
            if (line.first() != "育才中学" && line.first() != "大类别" && line.first() != "打印时间：")
                rows << line;
        QCOMPARE(rows, (QVector<QStringList>{{"教育研究", "理论探讨", "1"}, {"实践经验", "2"}, {"案例分析", "1"},
                                             {"理论探讨", "2"}, {"综述", "1"}, {"信息技术", "理论探讨", "1"},
                                             {"合计", "8"}}));
        // Page 2 begins inside the first category: no name there.
        QCOMPARE(printedLines(doc.pages.at(1)).at(2), (QStringList{"案例分析", "1"}));
    }

    // Saved files: the sub-category rows keep an empty first cell; the
    // by-category scope saves the family's layout. Same title and header.
    void savedFiles_data()
    {
        QTest::addColumn<bool>("bySub");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("by category")
            << false << QStringList{R"("教育研究","4")", R"("教育研究","3")", R"("信息技术","2")", R"("空类","1")"};
        QTest::newRow("by sub-category")
            << true
            << QStringList{R"("教育研究","理论探讨","1")", R"("","实践经验","2")", R"("","案例分析","1")",
                           R"("","理论探讨","2")", R"("","综述","1")", R"("信息技术","理论探讨","1")"};
    }
    void savedFiles()
    {
        QFETCH(bool, bySub);
        QFETCH(QStringList, rows);
        TestDatabase db(bare());
        addArticles(db);
        ArticleStatisticsDialog dlg(nullptr);
        dlg.show();
        choose(dlg, "rdbAllDate");
        if (bySub)
            clickRadio(dlg, "RadioButton2");
        refresh(dlg);
        QTemporaryDir dir;
        ScriptedPrompt prompt;
        prompt.files << dir.filePath("stats");
        child<QAction>(dlg, "pmCsv")->trigger();
        QCOMPARE(prompt.texts(), QStringList{fileDone});
        const QStringList expected = QStringList{"育才中学 图书馆报刊论文分类统计", "类别,数量"} + rows;
        QCOMPARE(fileLines(dir.filePath("stats.csv")), expected);
    }

private:
    FixedRun m_fixed;
};

QTEST_MAIN(TestArticleStatistics)
#include "tst_articlestats.moc"
