#include "clock.h"
#include "errors.h"
#include "gbk.h"
#include "libdb.h"
#include "listingstatements.h"
#include "listingdialog.h"
#include "listingkinds.h"
#include "listinglayouts.h"
#include "listingreports.h"
#include "listingtestkit.h"
#include "querymodel.h"
#include "reportpreview.h"
#include "reportwriters.h"
#include "savereport.h"
#include "streamingpreview.h"
#include "tdstestserver.h"
#include "unglobal.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <QToolButton>

using namespace lectoria;
using namespace lectoria::test;
using namespace listingtest;

Q_DECLARE_METATYPE(QVector<QStringList>)

namespace {

const QStringList pageFooter = {"打印时间：", "2024-12-31 15:30:00", "砚禾数字图书馆管理系统2007版", "第", "1", "页"};

// A source of n generated rows that counts how many were read.
class CountingRows : public report::RowSource {
public:
    explicit CountingRows(int n) : m_n(n) {}
    void restart() override { read = 0; }
    QStringList columns() const override { return {"lt_notice", "li_title"}; }
    bool next(QVector<QVariant> &row) override
    {
        if (read >= m_n)
            return false;
        ++read;
        row = {QStringLiteral("类"), QString::number(read)};
        return true;
    }
    int read = 0;

private:
    int m_n;
};

} // namespace

class TestListings : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { m_fixed.begin(); }
    void cleanup() { m_fixed.end(); }

    // The six dialogs from one class: names, captions, buttons, lists, grids.
    void windows_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("texts"); // caption, period box, btPrint, btPrint1 ("" none), first entry
        QTest::addColumn<bool>("hints");
        QTest::addColumn<QStringList>("headings");
        const QStringList common = {"类别", "标题", "加入日期"};
        QTest::newRow("shdh") << int(Kind::Shdh)
                              << QStringList{"导读文章目录打印", "加入日期", "打印清单", "", "全部类别"} << true
                              << common;
        QTest::newRow("dzts") << int(Kind::Dzts)
                              << QStringList{"电子图书目录打印", "入库日期", "打印目录清单", "打印书本式目录", "全部类别"}
                              << true << common;
        QTest::newRow("bklw") << int(Kind::Bklw)
                              << QStringList{"报刊论文目录打印", "入库日期", "打印目录清单", "打印书本式目录",
                                             "全部大类别"}
                              << false << QStringList{"类别", "标题", "作者", "加入日期"};
        QTest::newRow("tpzl") << int(Kind::Tpzl)
                              << QStringList{"图片资料目录打印", "入库日期", "打印目录清单", "打印书本式目录", "全部类别"}
                              << true << common + QStringList{"图象目录及文件名", "缩小图象目录及文件名"};
        QTest::newRow("zxyy") << int(Kind::Zxyy)
                              << QStringList{"在线音乐目录打印", "入库日期", "打印目录清单", "打印书本式目录(歌词)",
                                             "全部类别"}
                              << true << common + QStringList{"文件连接"};
        QTest::newRow("zxsp") << int(Kind::Zxsp)
                              << QStringList{"在线视频目录打印", "入库日期", "打印目录清单", "打印书本式目录", "全部类别"}
                              << true << common + QStringList{"时间(分)", "文件连接"};
    }
    void windows()
    {
        QFETCH(int, kind);
        QFETCH(QStringList, texts);
        QFETCH(bool, hints);
        QFETCH(QStringList, headings);
        const Kind k = Kind(kind);
        const QString code = QLatin1String(kindInfo(k).code);
        TestDatabase db(bare());
        addCatalogue(db, k);
        auto dlg = makeListingDialog(k, nullptr);
        QCOMPARE(dlg->objectName(), "T" + code + "MLP");
        QCOMPARE(dlg->windowTitle(), texts.at(0));
        QCOMPARE(child<QGroupBox>(*dlg, "GroupBox1")->title(), texts.at(1));
        QCOMPARE(child<QPushButton>(*dlg, "btPrint")->text(), texts.at(2));
        QPushButton *book = dlg->findChild<QPushButton *>(QStringLiteral("btPrint1"));
        QCOMPARE(book ? book->text() : QString(), texts.at(3));
        QCOMPARE(dlg->findChild<QLabel *>(QStringLiteral("Label1")) != nullptr, hints);
        QCOMPARE(child<QGroupBox>(*dlg, "GroupBox2")->title(), QStringLiteral("选择类别"));
        QComboBox *type = child<QComboBox>(*dlg, "cbType");
        QStringList entries;
        for (int i = 0; i < type->count(); ++i)
            entries << type->itemText(i);
        QCOMPARE(entries, (QStringList{texts.at(4), "3:文学", "5:空类", "7:历史"}));
        QCOMPARE(type->currentIndex(), 0);
        QCOMPARE(gridHeadings(*dlg), headings);

        ReportRequest request;
        request.kind = k;
        ListingLayout listing(request);
        QCOMPARE(listing.objectName(), "T" + code + "ML");
        QCOMPARE(listing.fileTitle(), " " + listing.report().item("qlbTitle")->text());
        if (book) {
            BookLayout layout(request);
            QCOMPARE(layout.objectName(), "T" + code + "SB");
            QCOMPARE(layout.headerLine(), listing.headerLine());
            // The book-style button offers the preview and the text file only.
            QMenu *menu = child<QMenu>(*dlg, "pmSaveFileSB");
            QStringList names;
            for (QAction *a : menu->actions())
                names << a->objectName();
            QCOMPARE(names, (QStringList{"MenuItem1", "MenuItem2", "MenuItem3"}));
            QVERIFY(!menu->actions().at(2)->icon().isNull());
        }
        // The save entries carry icons, also on a desktop without an icon theme.
        for (const char *entry : {"pmTxt", "pmCsv", "pmHtm"}) {
            QAction *a = child<QAction>(*dlg, entry);
            QVERIFY2(!a->icon().isNull(), entry);
        }
    }

    // The refresh statement line by line, and the layouts' copies of it.
    void statements_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("radio");
        QTest::addColumn<QString>("type");    // typed into cbType ("" leaves the first entry)
        QTest::addColumn<QString>("subType"); // typed into cbTypeS
        QTest::addColumn<QString>("condition");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("layoutSelect");
        const QString may = "  and li_logtime>='2024-05-01' ";
        const QString may21 = "  and li_logtime<'2024-05-21' ";
        const QString order = "order by li_typeid,li_logtime DESC";
        const QString articleFrom = "from www_article,www_artype,www_artypes ";
        const QString articleWhere = "where li_typeid=lt_id and li_typeid=ls_id and li_subid=ls_sid ";
        const QString articleOrder = "order by li_typeid,li_subid,li_logtime DESC";
        const QString articleSelect = "select li_title,li_typeid,lt_notice,li_subid,ls_notice,li_logtime,li_author ";
        QTest::newRow("guided reading, period and category: seven lines")
            << int(Kind::Shdh) << "rsbSelDate" << "3:文学" << "" << "3"
            << QStringList{"select li_title,li_typeid,lt_notice,li_logtime ", "from www_shdh,www_shtype ",
                           "where li_typeid=lt_id ", may, may21, "  and li_typeid=3", order}
            << "select li_title,li_typeid,lt_notice,li_logtime ";
        QTest::newRow("e-books, all dates and categories")
            << int(Kind::Dzts) << "rdbAllDate" << "" << "" << ""
            << QStringList{"select li_title,li_typeid,lt_notice,li_logtime ", "from www_lineread,www_litype ",
                           "where li_typeid=lt_id ", order}
            << "select li_title,li_typeid,lt_notice,li_logtime,li_number ";
        QTest::newRow("pictures, typed id with blanks")
            << int(Kind::Tpzl) << "rdbAllDate" << " 7 :历史" << "" << "7"
            << QStringList{"select li_title,li_typeid,lt_notice,li_logtime,li_simage,li_image ",
                           "from www_picture,www_pitype ", "where li_typeid=lt_id ", "  and li_typeid=7", order}
            << "select li_title,li_typeid,lt_notice,li_logtime,li_image ";
        QTest::newRow("music, typed text without colon: every category")
            << int(Kind::Zxyy) << "rsbSelDate" << "历史" << "" << ""
            << QStringList{"select li_title,li_typeid,lt_notice,li_logtime,li_url ", "from www_music,www_mutype ",
                           "where li_typeid=lt_id ", may, may21, order}
            << "select li_title,li_typeid,lt_notice,li_logtime,li_url ";
        QTest::newRow("articles, category and sub-category")
            << int(Kind::Bklw) << "rsbSelDate" << "3:文学" << "2:实践经验" << "li_typeid=3 and li_subid=2"
            << QStringList{articleSelect, articleFrom, articleWhere, may, may21,
                           "  and (li_typeid=3 and li_subid=2)", articleOrder}
            << articleSelect;
        QTest::newRow("articles, category alone")
            << int(Kind::Bklw) << "rdbAllDate" << "3:文学" << "" << "li_typeid=3"
            << QStringList{articleSelect, articleFrom, articleWhere, "  and (li_typeid=3)", articleOrder}
            << articleSelect;
        QTest::newRow("articles, sub-category without category is ignored")
            << int(Kind::Bklw) << "rdbAllDate" << "" << "2:实践经验" << ""
            << QStringList{articleSelect, articleFrom, articleWhere, articleOrder} << articleSelect;
    }
    void statements()
    {
        QFETCH(int, kind);
        QFETCH(QString, radio);
        QFETCH(QString, type);
        QFETCH(QString, subType);
        QFETCH(QString, condition);
        QFETCH(QStringList, lines);
        QFETCH(QString, layoutSelect);
        const Kind k = Kind(kind);
        TestDatabase db(bare());
        addCatalogue(db, k);
        ListingDialog dlg(k, nullptr);
        dlg.show();
        choose(dlg, radio.toLatin1().constData(), QDate(2024, 5, 1), QDate(2024, 5, 20));
        if (!type.isEmpty())
            typeInto(dlg, "cbType", type);
        if (!subType.isEmpty())
            typeInto(dlg, "cbTypeS", subType);
        QStringList log;
        LibDB::setStatementLog(&log);
        refresh(dlg);
        QCOMPARE(log.size(), 1);
        // As written; the connection gets its own dialect's date literals.
        const QString select = listingFacts(k).dialogSelect;
        QCOMPARE(listingStatement(dlg.request(), select, Dialect::Sqlite), lines);
        const QStringList ran = log.first().split('\n');
        QCOMPARE(ran, listingStatement(dlg.request(), select, LibDB::dialect()));
        QCOMPARE(unGlobal().QueryCondition, condition);

        // The layouts run their own copy from the dialog's request, with their select line.
        log.clear();
        ListingLayout listing(dlg.request(), &dlg);
        QStringList expected = ran;
        expected[0] = layoutSelect;
        QCOMPARE(log.last().split('\n'), expected);
        if (listingFacts(k).hasBook()) {
            BookLayout book(dlg.request(), &dlg);
            expected[0] = listingFacts(k).bookSelect;
            QCOMPARE(log.last().split('\n'), expected);
        }
    }

    // A typed category that is no id, or names no category of the list, is
    // refused by name: no statement runs, the grid is emptied, printing stays off.
    void typedCategoryRefused_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("subType");
        QTest::addColumn<QString>("message");
        QTest::newRow("no whole number") << int(Kind::Dzts) << "abc:1" << "" << "没有这个类别：abc:1";
        QTest::newRow("no such category") << int(Kind::Shdh) << "99:名著" << "" << "没有这个类别：99:名著";
        QTest::newRow("a quote, cut in the message")
            << int(Kind::Zxsp) << "1 or 1=1' --:x" + QString(60, 'y') << ""
            << "没有这个类别：1 or 1=1' --:x" + QString(26, 'y') + QChar(0x2026);
        QTest::newRow("articles, sub-category no number") << int(Kind::Bklw) << "3:文学" << "x:y" << "没有这个子类别：x:y";
        QTest::newRow("articles, sub-category not in the category's list")
            << int(Kind::Bklw) << "3:文学" << "5:综述" << "没有这个子类别：5:综述";
    }
    void typedCategoryRefused()
    {
        QFETCH(int, kind);
        QFETCH(QString, type);
        QFETCH(QString, subType);
        QFETCH(QString, message);
        TestDatabase db(bare());
        addCatalogue(db, Kind(kind));
        ListingDialog dlg(Kind(kind), nullptr);
        dlg.show();
        choose(dlg, "rdbAllDate");
        refresh(dlg);
        QVERIFY(!gridRows(dlg).isEmpty());
        typeInto(dlg, "cbType", type);
        if (!subType.isEmpty())
            typeInto(dlg, "cbTypeS", subType);
        QStringList log;
        LibDB::setStatementLog(&log);
        ScriptedPrompt prompt;
        refresh(dlg);
        QCOMPARE(prompt.texts(), QStringList{message});
        QCOMPARE(prompt.shown.first().icon, PromptIcon::Error);
        QVERIFY(log.isEmpty());
        QVERIFY(gridRows(dlg).isEmpty());
        QVERIFY(!dlg.printEnabled());
    }

    // Articles: the sub-category list follows the category.
    void subCategoryList()
    {
        TestDatabase db(bare());
        addCatalogue(db, Kind::Bklw);
        ListingDialog dlg(Kind::Bklw, nullptr);
        dlg.show();
        choose(dlg, "rdbAllDate");
        QComboBox *sub = child<QComboBox>(dlg, "cbTypeS");
        auto entries = [sub] {
            QStringList e;
            for (int i = 0; i < sub->count(); ++i)
                e << sub->itemText(i);
            return e;
        };
        QCOMPARE(entries(), QStringList{"全部子类别"});

        QStringList log;
        LibDB::setStatementLog(&log);
        child<QComboBox>(dlg, "cbType")->setCurrentIndex(1); // 3:文学
        QCOMPARE(log, QStringList{"select * from www_artypes where ls_id=3 order by ls_sid"});
        QCOMPARE(entries(), (QStringList{"全部子类别", "1:理论探讨", "2:实践经验"}));
        sub->setCurrentIndex(2);
        refresh(dlg);
        QVERIFY(dlg.printEnabled());

        // Another category: its own list, back at every sub-category, printing off.
        child<QComboBox>(dlg, "cbType")->setCurrentIndex(3); // 7:历史
        QCOMPARE(entries(), (QStringList{"全部子类别", "1:综述"}));
        QCOMPARE(sub->currentIndex(), 0);
        QVERIFY(!dlg.printEnabled());
        refresh(dlg);
        QVERIFY(dlg.printEnabled());
        sub->setCurrentIndex(1);
        QVERIFY(!dlg.printEnabled());

        // A typed category that is no id runs no statement and leaves one entry.
        log.clear();
        typeInto(dlg, "cbType", "x:y");
        QVERIFY(log.isEmpty());
        QCOMPARE(entries(), QStringList{"全部子类别"});
    }

    // Grouped, ordered, counted and summed as printed.
    void listingReport_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("category"); // 0: every category
        QTest::addColumn<QVector<QStringList>>("body"); // between the heading and the page footer
        const QStringList books = {"标题", "册数", "加入日期"};
        QTest::newRow("e-books: counts and copies per category, grand totals")
            << int(Kind::Dzts) << 0
            << QVector<QStringList>{{"类别：", "文学"}, books,
                                    {"乙书", "3", "2024-05-10"}, {"甲书", "2", "2024-05-02"}, {"2", "条", "5", "册"},
                                    {"类别：", "历史"}, books,
                                    {"丁书", "4", "2024-05-20"}, {"丙书", "6", "2024-05-03"}, {"2", "条", "10", "册"},
                                    {"共计", "4", "条", "15", "册"}};
        const QStringList video = {"标题", "文件连接", "长度(分)", "加入日期"};
        QTest::newRow("video: minutes per category only")
            << int(Kind::Zxsp) << 3
            << QVector<QStringList>{{"类别：", "文学"}, video,
                                    {"乙书", "http://site/乙书", "3", "2024-05-10"},
                                    {"甲书", "http://site/甲书", "2", "2024-05-02"},
                                    {"小计：", "2", "条", "5"},
                                    {"共计", "2", "条"}};
        const QStringList articles = {"标题", "作者", "加入日期"};
        QTest::newRow("articles, every category: by sub-category, then newest")
            << int(Kind::Bklw) << 0
            << QVector<QStringList>{{"类别：", "文学"}, articles,
                                    {"甲书", "王一", "2024-05-02"}, {"乙书", "李二", "2024-05-10"}, {"2", "条"},
                                    {"类别：", "历史"}, articles,
                                    {"丁书", "赵四", "2024-05-20"}, {"丙书", "张三", "2024-05-03"}, {"2", "条"},
                                    {"共计", "4", "条"}};
        QTest::newRow("articles, one category: a group per sub-category")
            << int(Kind::Bklw) << 3
            << QVector<QStringList>{{"类别：", "文学[理论探讨]"}, articles, {"甲书", "王一", "2024-05-02"}, {"1", "条"},
                                    {"类别：", "文学[实践经验]"}, articles, {"乙书", "李二", "2024-05-10"}, {"1", "条"},
                                    {"共计", "2", "条"}};
    }
    void listingReport()
    {
        QFETCH(int, kind);
        QFETCH(int, category);
        QFETCH(QVector<QStringList>, body);
        const Kind k = Kind(kind);
        TestDatabase db(bare());
        addCatalogue(db, k);
        ReportRequest request = listingRequest(k);
        if (category)
            request.category = category;
        ListingLayout layout(request);
        const report::ReportDocument doc = layout.report().fill();
        QCOMPARE(doc.pages.size(), size_t(1));
        QVector<QStringList> expected{{FixedRun::school, listingFacts(k).pageTitle}, {"加入日期：2024-05-01到2024-05-20"}};
        expected += body;
        expected << pageFooter;
        QCOMPARE(printedLines(doc), expected);
    }

    // Comma-separated and HTML files hold the data rows only; e-books gain their category.
    void gridFilesHoldDataRows()
    {
        TestDatabase db(bare());
        addCatalogue(db, Kind::Dzts);
        ListingLayout layout(listingRequest(Kind::Dzts, ReportOutput::Csv));
        const report::ReportDocument doc = layout.report().fill();
        QCOMPARE(report::csvLines(doc.pages.front()),
                 (QStringList{R"("乙书","文学","3","2024-05-10")", R"("甲书","文学","2","2024-05-02")",
                              R"("丁书","历史","4","2024-05-20")", R"("丙书","历史","6","2024-05-03")"}));
    }

    // Long values: whole in the CSV and HTML files. On the page a title or an
    // address first takes the room its line leaves empty; what still does not
    // fit keeps its beginning and ends in "…".
    void longValuesWholeInDataFiles()
    {
        TestDatabase db(bare());
        db.exec("insert into www_vitype (lt_id, lt_notice) values (1, '讲座')");
        const QString title = QString(40, QChar(0x8BB2)); // 40 × 讲
        const QString url = "http://library.example.edu.cn/media/" + QString(40, 'x') + "/literature/lecture-series-part-01.rm";
        QCOMPARE(url.size(), 113);
        db.addRecord(Kind::Zxsp, {{"li_title", title}, {"li_typeid", 1}, {"li_logtime", "2024-05-02 10:00:00"},
                                  {"li_url", "a.rm"}, {"li_times", 45}});
        db.addRecord(Kind::Zxsp, {{"li_title", "短"}, {"li_typeid", 1}, {"li_logtime", "2024-05-03 10:00:00"},
                                  {"li_url", url}, {"li_times", 50}});
        QTemporaryDir dir;
        for (ReportOutput data : {ReportOutput::Csv, ReportOutput::Html}) {
            ListingLayout layout(listingRequest(Kind::Zxsp, data));
            const QString path = dir.filePath("data");
            produceReportFile(layout, data, path);
            const QString file = Gbk::decode(readWholeFile(path));
            QVERIFY2(file.contains(title) && file.contains(url), qPrintable(file));
        }
        ListingLayout printed(listingRequest(Kind::Zxsp));
        const report::ReportDocument doc = printed.report().fill();
        QString shownTitle, shownUrl;
        for (const report::PageItem &it : doc.pages.front().items) {
            if (it.text.startsWith(title.left(10)))
                shownTitle = it.text;
            if (it.text.startsWith("http:"))
                shownUrl = it.text;
        }
        // The designed title box holds 23 of the 40 characters, the address
        // box 34 of the address's end.
        QVERIFY2(shownTitle.endsWith(QChar(0x2026)) && shownTitle.size() > 30, qPrintable(shownTitle));
        QVERIFY(title.startsWith(shownTitle.chopped(1)));
        QVERIFY2(shownUrl.endsWith(QChar(0x2026)) && shownUrl.size() > 70, qPrintable(shownUrl));
        QVERIFY(url.startsWith(shownUrl.chopped(1)));
    }

    void printButtons()
    {
        TestDatabase db(bare());
        addCatalogue(db, Kind::Dzts);
        ListingDialog dlg(Kind::Dzts, nullptr);
        dlg.show();
        QPushButton *print = child<QPushButton>(dlg, "btPrint");
        QPushButton *book = child<QPushButton>(dlg, "btPrint1");
        QVERIFY(!print->isEnabled() && !book->isEnabled());
        choose(dlg, "rdbAllDate");
        refresh(dlg);
        QVERIFY(print->isEnabled() && book->isEnabled());
        QVERIFY(child<QAction>(dlg, "MenuItem3")->isEnabled());
        // A category change disables both, though the grid still shows the old rows.
        child<QComboBox>(dlg, "cbType")->setCurrentIndex(2);
        QVERIFY(!print->isEnabled() && !book->isEnabled());
        QCOMPARE(gridRows(dlg).size(), 6);
        // An empty category finds nothing: printing stays off.
        refresh(dlg);
        QVERIFY(gridRows(dlg).isEmpty());
        QVERIFY(!print->isEnabled() && !book->isEnabled());
    }

    // Each output command: the printer hint and the preview, or a file
    // (one listing as each type and one book-style catalogue, byte for byte
    // against golden copies); ExportChoice is 0 afterwards.
    void outputCommands_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("golden"); // empty: a preview
        QTest::newRow("listing preview") << "pmThis" << "";
        QTest::newRow("book-style preview") << "MenuItem1" << "";
        QTest::newRow("listing text") << "pmTxt" << "dzts_listing.txt";
        QTest::newRow("listing csv") << "pmCsv" << "dzts_listing.csv";
        QTest::newRow("listing html") << "pmHtm" << "dzts_listing.htm";
        QTest::newRow("book-style text") << "MenuItem3" << "dzts_book.txt";
    }
    void outputCommands()
    {
        QFETCH(QString, action);
        QFETCH(QString, golden);
        TestDatabase db(bare());
        addCatalogue(db, Kind::Dzts);
        ListingDialog dlg(Kind::Dzts, nullptr);
        dlg.show();
        choose(dlg, "rsbSelDate", QDate(2024, 5, 1), QDate(2024, 5, 20));
        refresh(dlg);
        QTemporaryDir dir;
        ScriptedPrompt prompt;
        prompt.files << dir.filePath(golden);
        PreviewCloser closer;
        dlg.findChild<QAction *>(action)->trigger();
        QCOMPARE(closer.shown, golden.isEmpty() ? 1 : 0);
        QCOMPARE(prompt.texts(), QStringList{golden.isEmpty() ? printerHint : fileDone});
        if (!golden.isEmpty())
            LECTORIA_COMPARE_GOLDEN(readWholeFile(dir.filePath(golden)), QStringLiteral(LECTORIA_GOLDEN_DIR "/") + golden);
        QCOMPARE(unGlobal().ExportChoice, 0);
    }

    // A large catalogue: the grid shows its first rows without waiting for the rest.
    void gridReadsOnDemand()
    {
        TestDatabase::Options o;
        o.recordsPerKind = 700;
        TestDatabase db(o);
        ListingDialog dlg(Kind::Dzts, nullptr);
        dlg.show();
        choose(dlg, "rdbAllDate");
        refresh(dlg);
        QTableView *grid = child<QTableView>(dlg, "DBGrid1");
        QAbstractItemModel *model = grid->model();
        QCOMPARE(model->rowCount(), QueryTableModel::BatchSize);
        QVERIFY(model->canFetchMore(QModelIndex()));
        QVERIFY(dlg.printEnabled());
        QVERIFY(QDate::fromString(model->index(0, 2).data().toString(), Qt::ISODate).isValid());

        if (LibDB::dialect() == Dialect::SqlServer) {
            // SQL Server would keep the site's writers waiting behind a
            // result not read to its end: the rest comes while the dialog idles.
            QTRY_COMPARE(model->rowCount(), 700);
            QVERIFY(!model->canFetchMore(QModelIndex()));
            return;
        }
        // Scrolling to the end reads the next batch; the rest can be read at
        // once (before another statement needs the connection).
        grid->scrollToBottom();
        QCoreApplication::processEvents();
        QCOMPARE(model->rowCount(), 2 * QueryTableModel::BatchSize);
        static_cast<QueryTableModel *>(model)->readAll();
        QCOMPARE(model->rowCount(), 700);
        QVERIFY(!model->canFetchMore(QModelIndex()));
    }

    // SQL Server holds a reading statement's shared locks while it waits to
    // send the rest of a result the client has not read; a listing bigger
    // than the connection's buffers, left at its first rows, would keep the
    // site's writers of its table waiting for as long as the dialog is open.
    void openListingKeepsNoWriterWaiting()
    {
        if (!TestDatabase::overTheWire())
            QSKIP("locks held by a result being sent are SQL Server's");
        TestDatabase db(bare());
        addCatalogue(db, Kind::Dzts);
        // About 20 MB of reply: far more than loopback's socket buffers hold.
        db.exec(QStringLiteral("with recursive n(i) as (select 1 union all select i+1 from n where i<100000) "
                               "insert into www_lineread (li_title,li_typeid,li_logtime) "
                               "select 'book ' || i, 3, '2024-03-01 08:00:00' from n"));
        ListingDialog dlg(Kind::Dzts, nullptr);
        dlg.show();
        choose(dlg, "rdbAllDate");
        refresh(dlg);
        QTableView *grid = child<QTableView>(dlg, "DBGrid1");
        QVERIFY(grid->model()->rowCount() >= QueryTableModel::BatchSize);

        // The dialog stays open and idle; the table's shared lock goes soon.
        TdsTestServer *server = db.server();
        QTRY_VERIFY_WITH_TIMEOUT(!server->control(QStringLiteral("locks")).contains(QStringLiteral("table:www_lineread:S")),
                                 60000);
        // A writer of another session is not kept waiting.
        server->control(QStringLiteral("hold www_lineread exclusive"));
        server->control(QStringLiteral("release"));
        // The grid holds every row once the idle reading is over.
        QTRY_VERIFY_WITH_TIMEOUT(!grid->model()->canFetchMore(QModelIndex()), 60000);
        QVERIFY(grid->model()->rowCount() > 100000);
    }

    // A failing refresh: the standard error box, an empty grid, printing off.
    void refreshError()
    {
        TestDatabase db(bare());
        addCatalogue(db, Kind::Dzts);
        ListingDialog dlg(Kind::Dzts, nullptr);
        dlg.show();
        choose(dlg, "rdbAllDate");
        refresh(dlg);
        QVERIFY(dlg.printEnabled());
        db.exec("drop table www_lineread");
        ScriptedPrompt prompt;
        refresh(dlg);
        QCOMPARE(prompt.shown.size(), 1);
        QVERIFY(prompt.shown.first().text.contains("www_lineread"));
        QVERIFY(gridRows(dlg).isEmpty());
        QVERIFY(!dlg.printEnabled());
    }

    // The reports without any window, as a runner makes them.
    void windowless_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("report");
        QTest::addColumn<int>("output");
        QTest::addColumn<int>("category"); // 0: none
        QTest::addColumn<int>("sub");      // 0: none
        QTest::addColumn<QStringList>("rows"); // the file's lines after title and header; empty: refused
        const int txt = int(ReportOutput::Text), csv = int(ReportOutput::Csv);
        QTest::newRow("listing csv, one category")
            << int(Kind::Dzts) << "listing" << csv << 7 << 0
            << QStringList{R"("丁书","历史","4","2024-05-20")", R"("丙书","历史","6","2024-05-03")"};
        QTest::newRow("article listing csv, category and sub-category")
            << int(Kind::Bklw) << "listing" << csv << 3 << 2 << QStringList{R"("乙书","李二","2024-05-10")"};
        QTest::newRow("guided reading has no book style") << int(Kind::Shdh) << "book" << txt << 0 << 0 << QStringList();
        QTest::newRow("book style is never csv") << int(Kind::Dzts) << "book" << csv << 0 << 0 << QStringList();
        QTest::newRow("sub-category statistics are the articles' own")
            << int(Kind::Tpzl) << "stats-sub" << txt << 0 << 0 << QStringList();
    }
    void windowless()
    {
        QFETCH(int, kind);
        QFETCH(QString, report);
        QFETCH(int, output);
        QFETCH(int, category);
        QFETCH(int, sub);
        QFETCH(QStringList, rows);
        TestDatabase db(bare());
        addCatalogue(db, Kind(kind));
        ListingReport which;
        QVERIFY(listingReportFromName(report, &which));
        ReportRequest request = listingRequest(Kind(kind), ReportOutput(output));
        if (category)
            request.category = category;
        if (sub)
            request.subCategory = sub;
        QTemporaryDir dir;
        const QString path = dir.filePath("out");
        bool refused = false;
        try {
            produceListingReport(request, which, path);
        } catch (const Error &) {
            refused = true;
        }
        QCOMPARE(refused, rows.isEmpty());
        QCOMPARE(QFile::exists(path), !refused);
        QCOMPARE(unGlobal().ExportChoice, 0);
        if (!refused) {
            const QStringList lines = Gbk::decode(readWholeFile(path))
                                          .split("\r\n", Qt::SkipEmptyParts);
            QCOMPARE(lines.mid(2), rows);
        }
        ListingReport none;
        QVERIFY(!listingReportFromName("stats", &none));
    }

    // The preview opens with its first page and gains the others; printing waits for the last.
    void previewShowsFirstPageFirst()
    {
        CountingRows rows(400);
        report::Report r;
        r.setRowSource(&rows);
        r.detail().setHeight(report::mm(5));
        r.detail().addField("li_title", {0, 0, 400, 40});
        int pagesAtShow = -1;
        bool printAtShow = true;
        int pagesAtEnd = -1;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto *p = qobject_cast<report::ReportPreview *>(QApplication::activeModalWidget());
            if (!p)
                return;
            auto *print = p->findChild<QToolButton *>("btPrint");
            if (pagesAtShow < 0) {
                pagesAtShow = p->pageCount();
                printAtShow = print->isEnabled();
            }
            if (print->isEnabled()) {
                pagesAtEnd = p->pageCount();
                p->close();
            }
        });
        poll.start(0);
        showPreviewAsFilled(r, nullptr, "t");
        QCOMPARE(pagesAtShow, 1);
        QVERIFY(!printAtShow);
        QCOMPARE(pagesAtEnd, int(r.fill().pages.size()));
        QVERIFY(pagesAtEnd > 5);

        // Closed at once: the rest is never read.
        CountingRows many(1000000);
        r.setRowSource(&many);
        PreviewCloser closer;
        showPreviewAsFilled(r, nullptr, "t");
        QCOMPARE(closer.shown, 1);
        QVERIFY(many.read < 1000000);
    }

private:
    FixedRun m_fixed;
};

QTEST_MAIN(TestListings)
#include "tst_listings.moc"
