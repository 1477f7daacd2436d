#include "atomicfile.h"
#include "catalogueexchange.h"
#include "clock.h"
#include "exportdialog.h"
#include "gbk.h"
#include "importdialog.h"
#include "insertgroups.h"
#include "libdb.h"
#include "machinesettings.h"
#include "tdstestserver.h"
#include "testsupport.h"
#include "text.h"
#include "unglobal.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

using namespace lectoria;
using test::ScriptedPrompt;
using test::TestDatabase;

namespace {

const QDate day(2024, 5, 10);

// The site's tables without categories or operators: nothing here needs them.
TestDatabase::Options bare(bool open = true)
{
    TestDatabase::Options o;
    o.open = open;
    o.categories = false;
    o.operators = false;
    return o;
}

QString at(const QDate &d, const char *time) { return ymd(d) + QLatin1Char(' ') + QLatin1String(time); }

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QStringList column(TestDatabase &db, const QString &sql)
{
    QStringList values;
    for (const QVariantList &row : db.rows(sql))
        values << row.value(0).toString();
    return values;
}

QByteArray ebookFile(const QList<QStringList> &records, bool complete = true)
{
    QString text = QStringLiteral("@@FILE_BEGIN@@\r\n");
    for (const QStringList &r : records) {
        text += QStringLiteral("@@RECORD_BEGIN@@\r\n");
        for (int i = 0; i < 6; ++i) // the six fields of an e-book, missing ones empty
            text += QStringLiteral("@@") + r.value(i) + QStringLiteral(" @!\r\n");
        text += QStringLiteral("@@RECORD_END@@\r\n");
    }
    if (complete)
        text += QStringLiteral("@@FILE_END@@\r\n");
    return Gbk::encode(text);
}

// The trimmed titles of the records in an exchange file.
QStringList titlesIn(const QString &path, Kind kind)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    ExchangeReader reader(f, int(exchangeKind(kind).fields.size()));
    QStringList raw, titles;
    while (reader.next(raw) == ExchangeReader::Step::Record)
        titles << trimText(extractValue(raw.value(0)));
    return titles;
}

enum DatabaseFault { RecordsRefused, LockHeld, ReadOnly, DatabaseFull };

QPushButton *button(QWidget *w, const char *name) { return w->findChild<QPushButton *>(QLatin1String(name)); }

// How the import reaches the database: Qt's SQLite driver, the SQLite ODBC
// driver, or SQL Server's wire (FreeTDS) to the TDS test server.
enum Route { ThroughQt, ThroughOdbc, ThroughTds };

// Opens the test database as LibDB by the route; the server, when one is
// needed, lives as long as the returned object.
std::unique_ptr<test::TdsTestServer> openBy(Route route, TestDatabase &db)
{
    if (route == ThroughOdbc) {
        ConnectionParams p;
        p.odbcName = QStringLiteral("DRIVER=SQLite3;Database=%1").arg(test::hostPath(db.path()));
        QString why;
        if (!LibDB::open(p, &why))
            throw DbError(why);
    } else if (route == ThroughTds) {
        auto server = std::make_unique<test::TdsTestServer>(db.path());
        server->openAsLibDB();
        return server;
    } else {
        db.openAsLibDB();
    }
    return nullptr;
}

QString skipIfNoServer(Route route)
{
    return route == ThroughTds ? test::TdsTestServer::unavailable() : QString();
}

} // namespace

class TestExchangeTransfer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        resetSession();
        Clock::set(QDateTime(day, QTime(12, 0)));
    }
    void cleanup() { Clock::reset(); }

    // Export from one real database and import into another: every carried
    // column arrives trimmed with one trailing blank (texts), by the
    // leading-zero rule (numbers), with LF between the lines of li_content;
    // a blank title is left out.
    void roundTrip_data()
    {
        QTest::addColumn<int>("kind");
        for (const ExchangeKind &k : exchangeKinds())
            QTest::newRow(kindInfo(k.kind).code) << int(k.kind);
    }
    void roundTrip()
    {
        QFETCH(int, kind);
        const ExchangeKind &k = exchangeKind(Kind(kind));
        TestDatabase source(bare(false));
        TestDatabase target(bare(false));

        QVariantMap full, empty;
        QStringList columns, fullBack, emptyBack;
        for (const ExchangeField &f : k.fields) {
            columns << f.column;
            switch (f.form) {
            case FieldForm::VolumeTitle:
            case FieldForm::Text:
                full[f.column] = QStringLiteral("  O'Neil 的 %1\t").arg(f.column);
                fullBack << QStringLiteral("O'Neil 的 %1 ").arg(f.column);
                empty[f.column] = QVariant();
                emptyBack << QStringLiteral(" ");
                break;
            case FieldForm::Number:
                full[f.column] = -5;
                fullBack << QStringLiteral("-5");
                empty[f.column] = QVariant();
                emptyBack << QStringLiteral("0");
                break;
            case FieldForm::Content:
                full[f.column] = QStringLiteral(" &nbsp;第一行\r\n第二行 \r\n");
                fullBack << QStringLiteral("&nbsp;第一行\n第二行 ");
                empty[f.column] = QString();
                emptyBack << QStringLiteral(" ");
                break;
            }
        }
        empty[QStringLiteral("li_title")] = QStringLiteral("无值");
        emptyBack[0] = QStringLiteral("无值 ");
        if (k.kind == Kind::Dzts) {
            columns << QStringLiteral("li_number");
            full[QStringLiteral("li_number")] = 3;
            fullBack << QStringLiteral("3");
            empty[QStringLiteral("li_number")] = QVariant();
            emptyBack << QStringLiteral("1");
        }
        QVariantMap blankTitle = full;
        blankTitle[QStringLiteral("li_title")] = QStringLiteral("   ");
        for (QVariantMap *r : {&full, &blankTitle, &empty}) {
            (*r)[QStringLiteral("li_logtime")] = at(day, "09:00:00");
            source.addRecord(k.kind, *r);
        }

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out.dat"));
        source.openAsLibDB();
        const ExportResult exported = exportCatalogue({k.kind, day, day, path});
        QCOMPARE(exported.records, 2);
        QCOMPARE(exported.altered, 0);
        target.openAsLibDB();
        QVector<int> progress;
        const ImportResult imported = importCatalogue(k.kind, path, [&](int done) { progress << done; });
        QCOMPARE(imported.read, 2);
        QCOMPARE(imported.failed, 0);
        QCOMPARE(progress, QVector<int>({1, 2}));

        const QString table = kindInfo(k.kind).recordTable;
        const QVector<QVariantList> rows =
            target.rows(QStringLiteral("select %1 from %2 order by li_id").arg(columns.join(QLatin1Char(',')), table));
        QCOMPARE(rows.size(), 2);
        for (int r = 0; r < 2; ++r) {
            QStringList got;
            for (const QVariant &v : rows.at(r)) got << v.toString();
            QCOMPARE(got, r == 0 ? fullBack : emptyBack);
        }
        // li_logtime is not carried: the receiving table's default fills it.
        QCOMPARE(target.scalar(QStringLiteral("select count(*) from %1 where li_logtime is null").arg(table)).toInt(), 0);
    }

    void statementsAsSent()
    {
        TestDatabase db(bare());
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("v.dat"));
        QStringList log;
        LibDB::setStatementLog(&log);
        exportCatalogue({Kind::Dzts, QDate(2024, 2, 28), QDate(2024, 2, 29), path});
        exportCatalogue({Kind::Zxsp, day, day, path});
        writeFile(path, Gbk::encode(QStringLiteral("@@FILE_BEGIN@@\r\n")
                                    + formatRecord(exchangeKind(Kind::Zxsp), {QStringLiteral("片")})
                                    + formatRecord(exchangeKind(Kind::Dzts), {QStringLiteral("书")})
                                    + QStringLiteral("@@FILE_END@@\r\n")));
        importCatalogue(Kind::Zxsp, path);
        LibDB::setStatementLog(nullptr);
        // The settings of the run are back afterwards.
        QCOMPARE(LibDB::scalar(QStringLiteral("PRAGMA wal_autocheckpoint")).toInt(), 1000);
        QCOMPARE(LibDB::scalar(QStringLiteral("PRAGMA mmap_size")).toInt(), 0);
        const QString insert = QStringLiteral("insert www_video (li_title,li_format,\n        li_level,li_tools,li_times,li_url,\n"
                                              "        li_typeid,li_content) values (\n?,\n?,\n?,\n?,\n?,\n?,\n?,\n?)");
        // On SQL Server the import holds the application lock of its kind throughout.
        const QStringList importStatements = LibDB::dialect() == Dialect::SqlServer
            ? QStringList{QStringLiteral("declare @r int; exec @r = sp_getapplock @Resource = N'lectoria-import-zxsp', "
                                         "@LockMode = 'Exclusive', @LockOwner = 'Session', @LockTimeout = %1; select @r")
                              .arg(LibDB::lockTimeout()),
                          QStringLiteral("begin transaction"), LibInsertGroups::batchStatement(insert, 1),
                          QStringLiteral("commit transaction"),
                          QStringLiteral("exec sp_releaseapplock @Resource = N'lectoria-import-zxsp', @LockOwner = 'Session'")}
            : QStringList{QStringLiteral("begin immediate"), QStringLiteral("savepoint lectoria_record"), insert,
                          QStringLiteral("release lectoria_record"), QStringLiteral("commit")};
        // The batch of one record runs the insert as written, once.
        QCOMPARE(LibInsertGroups::batchStatement(insert, 1).count(QStringLiteral("begin try\n") + insert + QStringLiteral("\nend try")), 1);
        const auto date = [](int y, int m, int d) { return LibDB::dialect().date(QDate(y, m, d)); };
        QCOMPARE(log, QStringList({
                          "select * from www_lineread \nwhere li_logtime>=" + date(2024, 2, 28) + "\n"
                              "  and li_logtime<" + date(2024, 3, 1) + "\norder by li_logtime,li_title",
                          "select * from www_video \nwhere li_logtime>=" + date(2024, 5, 10) + "\n"
                              "  and li_logtime<" + date(2024, 5, 11),
                      }) + importStatements);
    }

    // The insert statement of every kind: its columns from the kind's fields,
    // laid out in lines as the written statements are.
    void insertStatements_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("head");
        const QString _8 = QStringLiteral("        ");
        QTest::newRow("e-books") << int(Kind::Dzts)
                                 << QStringList{"insert www_lineread (li_title,li_number,li_typeid,",
                                                _8 + "li_format,li_tools,li_url,", _8 + "li_content) values ("};
        QTest::newRow("articles") << int(Kind::Bklw)
                                  << QStringList{"insert www_article (li_title,li_typeid,li_subid,",
                                                 _8 + "li_format,li_author,li_linkurl,",
                                                 _8 + "li_pic,li_intro,li_content) values ("};
        QTest::newRow("pictures") << int(Kind::Tpzl)
                                  << QStringList{"insert www_picture (li_title,li_simage,",
                                                 _8 + "li_image,li_typeid,li_content) values ("};
        QTest::newRow("music") << int(Kind::Zxyy)
                               << QStringList{"insert www_music (li_title,li_format,", _8 + "li_level,li_tools,li_url,",
                                              _8 + "li_typeid,li_content) values ("};
        QTest::newRow("guided reading") << int(Kind::Shdh)
                                        << QStringList{"insert www_shdh (li_title,li_typeid,",
                                                       _8 + "li_about,li_picurl,li_from,",
                                                       _8 + "li_linkurl,li_content) values ("};
    }
    void insertStatements()
    {
        QFETCH(int, kind);
        QFETCH(QStringList, head);
        const QStringList lines = importStatement(Kind(kind));
        QCOMPARE(lines.mid(0, head.size()), head);
        // One mark per column named.
        QCOMPARE(lines.size() - head.size(), head.join(QString()).count(QLatin1Char(',')) + 1);
    }

    void dialogsAsCreated()
    {
        TestDatabase db(bare());
        TExportOther ex(nullptr);
        TImportOther im(nullptr);
        QCOMPARE(ex.objectName(), QStringLiteral("TExportOther"));
        QCOMPARE(ex.windowTitle(), QStringLiteral("其他数据导出"));
        QCOMPARE(im.objectName(), QStringLiteral("TImportOther"));
        QCOMPARE(im.windowTitle(), QStringLiteral("其他数据导入"));
        const QStringList words = {QStringLiteral("电子图书"), QStringLiteral("报刊论文"), QStringLiteral("图片资料"),
                                   QStringLiteral("在线音乐"), QStringLiteral("在线视频"), QStringLiteral("书海导读文章")};
        for (QDialog *d : {static_cast<QDialog *>(&ex), static_cast<QDialog *>(&im)}) {
            const QString verb = d == &ex ? QStringLiteral("导出 ") : QStringLiteral("导入 ");
            auto *cb = d->findChild<QComboBox *>(QStringLiteral("cbType"));
            QVERIFY(cb);
            QStringList items;
            for (int i = 0; i < cb->count(); ++i) items << cb->itemText(i);
            QStringList expected;
            for (const QString &w : words) expected << verb + w;
            QCOMPARE(items, expected);
            QCOMPARE(cb->currentIndex(), 0);
            QVERIFY(d->findChild<QProgressBar *>(QStringLiteral("pgBar"))->isHidden());
            QVERIFY(d->findChild<QLineEdit *>(QStringLiteral("edFileName")));
            QCOMPARE(button(d, "btFileName")->text(), QStringLiteral(">>"));
            QCOMPARE(button(d, "BitBtn2")->text(), QStringLiteral("退出(&C)"));
            // Typed characters never pick a kind; the arrow keys do.
            d->show();
            cb->setFocus();
            QTest::keyClicks(cb, QStringLiteral("z"));
            QCOMPARE(cb->currentIndex(), 0);
            QTest::keyClick(cb, Qt::Key_Down);
            QCOMPARE(cb->currentIndex(), 1);
        }
        QCOMPARE(button(&ex, "Button1")->text(), QStringLiteral("开始导出"));
        QCOMPARE(button(&im, "btImport")->text(), QStringLiteral("开始导入"));
        QCOMPARE(ex.findChild<QDateEdit *>(QStringLiteral("dtBegin"))->date(), day);
        QCOMPARE(ex.findChild<QDateEdit *>(QStringLiteral("dtEnd"))->date(), day);
        QVERIFY(im.findChild<QLineEdit *>(QStringLiteral("edFileName"))->isReadOnly());
    }

    // Both days included, at any time of day; a blank title is left out.
    void exportRange_data()
    {
        QTest::addColumn<QDate>("first");
        QTest::addColumn<QDate>("last");
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("one day") << day << day << QStringList{"零点", "午夜前"};
        QTest::newRow("two days") << day.addDays(-1) << day << QStringList{"前一天", "零点", "午夜前"};
        QTest::newRow("begin after end") << day.addDays(1) << day << QStringList{};
        QTest::newRow("no records") << QDate(2020, 1, 1) << QDate(2020, 1, 2) << QStringList{};
        QTest::newRow("to the last day") << day << QDate(9999, 12, 31) << QStringList{"零点", "午夜前", "后一天"};
    }
    void exportRange()
    {
        QFETCH(QDate, first);
        QFETCH(QDate, last);
        QFETCH(QStringList, titles);
        TestDatabase db(bare());
        const QList<QPair<const char *, QString>> records = {
            {"23:59:59", QStringLiteral("前一天")}, {"00:00:00", QStringLiteral("零点")},
            {"12:00:00", QStringLiteral(" \t")},    {"23:59:59", QStringLiteral("午夜前")},
            {"00:00:00", QStringLiteral("后一天")}};
        for (int i = 0; i < records.size(); ++i) {
            const QDate d = i == 0 ? day.addDays(-1) : i == 4 ? day.addDays(1) : day;
            db.addRecord(Kind::Zxsp, {{QStringLiteral("li_title"), records.at(i).second},
                                      {QStringLiteral("li_logtime"), at(d, records.at(i).first)}});
        }
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("video.dat"));
        ScriptedPrompt prompt;
        TExportOther dlg(nullptr);
        auto *cb = dlg.findChild<QComboBox *>(QStringLiteral("cbType"));
        cb->setCurrentIndex(cb->findText(QStringLiteral("导出 在线视频")));
        dlg.findChild<QDateEdit *>(QStringLiteral("dtBegin"))->setDate(first);
        dlg.findChild<QDateEdit *>(QStringLiteral("dtEnd"))->setDate(last);
        dlg.findChild<QLineEdit *>(QStringLiteral("edFileName"))->setText(QStringLiteral("  ") + path + QStringLiteral(" "));
        QTest::mouseClick(button(&dlg, "Button1"), Qt::LeftButton);

        QCOMPARE(prompt.texts(), QStringList{QStringLiteral("数据导出成功，共[%1]条记录!").arg(titles.size())});
        QCOMPARE(prompt.shown.at(0).caption, QStringLiteral("提示信息"));
        QVERIFY(dlg.findChild<QProgressBar *>(QStringLiteral("pgBar"))->isHidden());
        const QByteArray bytes = readWholeFile(path);
        if (titles.isEmpty())
            QCOMPARE(bytes, QByteArray("@@FILE_BEGIN@@\r\n@@FILE_END@@\r\n"));
        QCOMPARE(titlesIn(path, Kind::Zxsp), titles);
    }

    // The export dialog on a server that cuts its answer or goes silent
    // after some records: the failure with the database's reason, no
    // success message, and the older file of that name as it was.
    void exportDialogOnAFailingServer_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("cut") << QStringLiteral("cut rows 30 when li_logtime");
        QTest::newRow("silent") << QStringLiteral("freeze rows 30 when li_logtime");
    }
    void exportDialogOnAFailingServer()
    {
        QFETCH(QString, fault);
        if (!TestDatabase::overTheWire())
            QSKIP("runs in the run over the TDS test server");
        test::TestSettings settings;
        settings.write({{QStringLiteral("QUERYTIMEOUT"), QStringLiteral("2")}});
        TestDatabase db(bare());
        db.exec(QStringLiteral("with recursive n(i) as (select 1 union all select i + 1 from n where i < 100) "
                               "insert into www_video (li_title, li_typeid, li_logtime) "
                               "select '视频' || i, 1, '2024-01-01 08:00:00' from n"));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("video.dat"));
        const QByteArray older("@@FILE_BEGIN@@\r\n@@FILE_END@@\r\n");
        writeFile(path, older);
        ScriptedPrompt prompt;
        prompt.answers = {true, true}; // replace the file, whatever is asked
        TExportOther dlg(nullptr);
        auto *cb = dlg.findChild<QComboBox *>(QStringLiteral("cbType"));
        cb->setCurrentIndex(cb->findText(QStringLiteral("导出 在线视频")));
        dlg.findChild<QDateEdit *>(QStringLiteral("dtBegin"))->setDate(QDate(2000, 1, 1));
        dlg.findChild<QDateEdit *>(QStringLiteral("dtEnd"))->setDate(QDate(2099, 12, 31));
        dlg.findChild<QLineEdit *>(QStringLiteral("edFileName"))->setText(path);
        db.server()->control(fault);
        QTest::mouseClick(button(&dlg, "Button1"), Qt::LeftButton);
        db.server()->control(QStringLiteral("thaw"));

        const QString said = prompt.texts().join(QLatin1Char('\n'));
        QVERIFY2(!prompt.shown.isEmpty() && prompt.shown.last().icon == PromptIcon::Error, qPrintable(said));
        QVERIFY2(!said.contains(QStringLiteral("成功")), qPrintable(said));
        if (fault.startsWith(QLatin1String("freeze")))
            QVERIFY2(said.contains(QStringLiteral("超过2秒没有任何回应")), qPrintable(said));
        QCOMPARE(readWholeFile(path), older);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("video.dat")});
    }

    void exportAlteredValuesReported()
    {
        TestDatabase db(bare());
        db.addRecord(Kind::Shdh, {{QStringLiteral("li_title"), QStringLiteral("上\r\n下")},
                                  {QStringLiteral("li_content"), QStringLiteral("a@!\r\nb")},
                                  {QStringLiteral("li_about"), QStringLiteral("笑\U0001F600")},
                                  {QStringLiteral("li_logtime"), at(day, "08:00:00")}});
        QTemporaryDir dir;
        const ExportResult r = exportCatalogue({Kind::Shdh, day, day, dir.filePath(QStringLiteral("s.dat"))});
        QCOMPARE(r.altered, 2);
        // SQL Server keeps text in its code page: what GBK lacks is already "?" there.
        const QString lost = TestDatabase::overTheWire() ? QString() : QStringLiteral("\n另有[1]个字符不能用GBK编码保存，已写为“?”。");
        QCOMPARE(exportMessage(r), QStringLiteral("数据导出成功，共[1]条记录!\n其中[2]个字段值含有文件格式不能保存的换行或“@!”，"
                                                  "已作调整（单行字段中的换行改为空格，“@!”中间加入空格）。")
                                       + lost);
    }

    // A failed export shows the standard error box and no success message,
    // and leaves the chosen path as it was.
    void exportFailure()
    {
        TestDatabase db(bare());
        db.addRecord(Kind::Zxsp, {{QStringLiteral("li_title"), QStringLiteral("片")},
                                  {QStringLiteral("li_logtime"), at(day, "08:00:00")}});
        QTemporaryDir dir;
        ScriptedPrompt prompt;
        TExportOther dlg(nullptr);
        auto *cb = dlg.findChild<QComboBox *>(QStringLiteral("cbType"));
        cb->setCurrentIndex(cb->findText(QStringLiteral("导出 在线视频")));
        auto *name = dlg.findChild<QLineEdit *>(QStringLiteral("edFileName"));

        name->setText(dir.filePath(QStringLiteral("missing/out.dat")));
        dlg.Button1Click();
        QCOMPARE(prompt.shown.size(), 1);
        QCOMPARE(prompt.shown.at(0).caption, applicationTitle());
        QCOMPARE(prompt.shown.at(0).icon, PromptIcon::Error);
        QVERIFY(!QFileInfo::exists(name->text()));

        prompt.clear();
        const QString existing = dir.filePath(QStringLiteral("old.dat"));
        writeFile(existing, "old");
        name->setText(existing);
        db.exec(QStringLiteral("drop table www_video"));
        dlg.Button1Click();
        QCOMPARE(prompt.shown.size(), 1);
        QVERIFY(prompt.shown.at(0).text.contains(QLatin1String("www_video")));
        QCOMPARE(readWholeFile(existing), QByteArray("old"));
        QVERIFY(dlg.findChild<QProgressBar *>(QStringLiteral("pgBar"))->isHidden());
    }

    // Hand-made files imported as e-books through the dialog.
    void importFile_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("stored"); // li_title|li_number|li_typeid

        QTest::newRow("quote and volumes") << ebookFile({{"O'Neil传(册数2)", "3", "PDF", "", "/a", "内容"},
                                                         {" 普通 ", "", "", "", "", ""}})
                                           << QStringLiteral("数据导入成功，共[2]条记录，请检查分类是否正确!")
                                           << QStringList{"O'Neil传 |2|3", "普通 |1|0"};
        QTest::newRow("text in a number field")
            << ebookFile({{"甲", "1"}, {"乙", "abc"}, {"丙", "-5"}})
            << QStringLiteral("数据导入成功，共[2]条记录，请检查分类是否正确!\n"
                              "另有[1]条记录未能导入（第2条记录：li_typeid的值“abc”不是整数）。")
            << QStringList{"甲 |1|1", "丙 |1|-5"};
        QTest::newRow("ends inside a record")
            << ebookFile({{"甲"}, {"乙"}}, false).append("@@RECORD_BEGIN@@\r\n@@\xb1\xfb @!\r\n")
            << QStringLiteral("数据导入成功，共[2]条记录，请检查分类是否正确!\n"
                              "文件在第[19]行意外结束，最后一条记录不完整，未导入。")
            << QStringList{"甲 |1|0", "乙 |1|0"};
        QTest::newRow("ends before the end line")
            << ebookFile({{"甲"}}, false)
            << QStringLiteral("数据导入成功，共[1]条记录，请检查分类是否正确!\n"
                              "文件在第[9]行意外结束，缺少结束标记“@@FILE_END@@”。")
            << QStringList{"甲 |1|0"};
        QTest::newRow("no records") << ebookFile({}) << QStringLiteral("数据导入成功，共[0]条记录，请检查分类是否正确!")
                                    << QStringList{};
        QTest::newRow("not an exchange file") << QByteArray("title,typeid\r\n")
                                              << QStringLiteral("数据导入成功，共[0]条记录，请检查分类是否正确!\n"
                                                                "文件中没有开始标记“@@FILE_BEGIN@@”，没有读到记录。")
                                              << QStringList{};
    }
    void importFile()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, message);
        QFETCH(QStringList, stored);
        TestDatabase db(bare());
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("in.dat"));
        writeFile(path, file);
        ScriptedPrompt prompt;
        prompt.answers = {true};
        TImportOther dlg(nullptr);
        dlg.findChild<QLineEdit *>(QStringLiteral("edFileName"))->setText(path);
        QTest::mouseClick(button(&dlg, "btImport"), Qt::LeftButton);

        QCOMPARE(prompt.texts(), QStringList({QStringLiteral("您确定要导入[电子图书]数据码？"), message}));
        QCOMPARE(prompt.shown.at(0).icon, PromptIcon::Question);
        QCOMPARE(prompt.shown.at(1).caption, QStringLiteral("提示信息"));
        QCOMPARE(column(db, QStringLiteral("select li_title||'|'||li_number||'|'||li_typeid from www_lineread order by li_id")),
                 stored);
    }

    // A record the database refuses is counted with the database's reason;
    // the records after it still go in. SQLite refuses through a trigger,
    // SQL Server a title wider than its CHAR(128) column (8152).
    void importRefusedRecord()
    {
        TestDatabase db(bare());
        const bool wire = TestDatabase::overTheWire();
        if (!wire)
            db.exec(QStringLiteral("create trigger refuse before insert on www_lineread when new.li_title like '坏%' "
                                   "begin select raise(abort, '不收此记录'); end"));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("in.dat"));
        const QString bad = wire ? QString(65, QChar(0x574F)) : QStringLiteral("坏");
        writeFile(path, ebookFile({{"好一"}, {bad}, {"好二"}}));
        const ImportResult r = importCatalogue(Kind::Dzts, path);
        QCOMPARE(r.read, 3);
        QCOMPARE(r.failed, 1);
        const QString reason = wire ? QStringLiteral("[FreeTDS][SQL Server]String or binary data would be truncated.")
                                    : QStringLiteral("不收此记录");
        QCOMPARE(importMessage(r), QStringLiteral("数据导入成功，共[2]条记录，请检查分类是否正确!\n"
                                                  "另有[1]条记录未能导入（第2条记录：%1）。").arg(reason));
        QCOMPARE(column(db, QStringLiteral("select li_title from www_lineread order by li_id")),
                 QStringList({QStringLiteral("好一 "), QStringLiteral("好二 ")}));
    }

    // The site's CHAR(128) title, in GBK bytes, on both engines: the blank
    // the import adds to a title that fills the column is dropped, as SQL
    // Server drops it; a title one byte too wide is one refused record.
    void importKeepsToColumnWidths()
    {
        TestDatabase db(bare());
        const QString filling = QString(QChar(0x6587)).repeated(64);   // 128 bytes
        const QString chineseTooWide = QString(QChar(0x6587)).repeated(65);
        const QString asciiTooWide = QString(129, QLatin1Char('a'));
        const QString mixedFilling = QString(QChar(0x6587)).repeated(63) + QStringLiteral("ab"); // 128 bytes too
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("in.dat"));
        writeFile(path, ebookFile({{filling}, {chineseTooWide}, {asciiTooWide}, {mixedFilling}, {QStringLiteral("短")}}));
        const ImportResult r = importCatalogue(Kind::Dzts, path);
        QCOMPARE(r.read, 5);
        QCOMPARE(r.failed, 2);
        const QStringList titles = column(db, QStringLiteral("select li_title from www_lineread order by li_id"));
        QCOMPARE(titles.size(), 3);
        QCOMPARE(trimText(titles.at(0)), filling);
        QCOMPARE(trimText(titles.at(1)), mixedFilling);
        QCOMPARE(trimText(titles.at(2)), QStringLiteral("短"));
    }

    // A failure of the database itself is no bad record: the import stops at
    // the record it struck, keeps what went in, says where it stopped, and
    // the dialog shows it as an error.
    void importStopsOnDatabaseFailure_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("odbc"); // through the SQLite ODBC driver
        for (bool odbc : {false, true}) {
            const char *through = odbc ? "ODBC: " : "";
            // The engine's text, after the operator's words for it.
            QTest::addRow("%slock held longer than the wait", through) << int(LockHeld)
                << QStringLiteral("数据库一直忙（其他用户正占用所需的数据），等待0.3秒后仍未能使用，操作已停止：") << QString() << odbc;
            QTest::addRow("%sread-only database", through) << int(ReadOnly)
                << QStringLiteral("数据库文件是只读的，不能写入（") << QStringLiteral("readonly database") << odbc;
            QTest::addRow("%sdatabase full", through) << int(DatabaseFull)
                << QStringLiteral("数据库或磁盘已满，不能写入（") << QStringLiteral("database or disk is full") << odbc;
            QTest::addRow("%srefused records go on", through) << int(RecordsRefused) << QString() << QString() << odbc;
        }
    }
    void importStopsOnDatabaseFailure()
    {
        QFETCH(int, fault);
        QFETCH(QString, words);
        QFETCH(QString, reason);
        QFETCH(bool, odbc);
        TestDatabase db(bare());
        if (odbc) {
            ConnectionParams p;
            p.odbcName = QStringLiteral("DRIVER=SQLite3;Database=%1;Timeout=50").arg(test::hostPath(db.path()));
            QString why;
            QVERIFY2(LibDB::open(p, &why), qPrintable(why));
        }
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("in.dat"));
        // SQL Server refuses the titles too wide for its column (8152), SQLite through a trigger.
        const bool wideRefused = DatabaseFault(fault) == RecordsRefused && TestDatabase::overTheWire() && !odbc;
        QList<QStringList> records;
        for (int i = 0; i < 200; ++i)
            records << QStringList{QStringLiteral("书%1").arg(i) + (wideRefused && i % 10 == 5 ? QString(70, QChar(0x957F)) : QString()),
                                   QStringLiteral("1"), QString(), QString(), QString(), QString(2000, QLatin1Char('x'))};
        writeFile(path, ebookFile(records));
        switch (DatabaseFault(fault)) {
        case RecordsRefused:
            if (!wideRefused)
                db.exec(QStringLiteral("create trigger refuse before insert on www_lineread when new.li_title like '%5 ' "
                                       "begin select raise(abort, '不收此记录'); end"));
            break;
        case LockHeld:
            LibDB::setLockTimeout(300);
            db.exec(QStringLiteral("begin immediate")); // another connection's write transaction
            break;
        case ReadOnly: LibDB::exec(QStringLiteral("PRAGMA query_only=1")); break;
        case DatabaseFull: {
            const int pages = LibDB::scalar(QStringLiteral("PRAGMA page_count")).toInt();
            LibDB::scalar(QStringLiteral("PRAGMA max_page_count=%1").arg(pages + 20));
            break;
        }
        }

        ScriptedPrompt prompt;
        prompt.answers = {true};
        TImportOther dlg(nullptr);
        dlg.findChild<QLineEdit *>(QStringLiteral("edFileName"))->setText(path);
        dlg.btImportClick(); // the list starts at e-books
        if (DatabaseFault(fault) == LockHeld)
            db.exec(QStringLiteral("rollback"));

        const int in = db.scalar(QStringLiteral("select count(*) from www_lineread")).toInt();
        QCOMPARE(prompt.shown.size(), 2);
        if (DatabaseFault(fault) == RecordsRefused) {
            QCOMPARE(in, 180);
            const QString text = prompt.shown.at(1).text; // the ODBC driver puts its name before the reason
            QVERIFY2(text.startsWith(QStringLiteral("数据导入成功，共[180]条记录，请检查分类是否正确!\n"
                                                    "另有[20]条记录未能导入（第6条记录：")), qPrintable(text));
            QVERIFY(text.contains(wideRefused ? QStringLiteral("String or binary data would be truncated.")
                                              : QStringLiteral("不收此记录")));
            QCOMPARE(prompt.shown.at(1).icon, PromptIcon::Information);
            return;
        }
        QVERIFY(in < 200);
        QCOMPARE(prompt.shown.size(), 2);
        QCOMPARE(prompt.shown.at(1).icon, PromptIcon::Error);
        const QString text = prompt.shown.at(1).text;
        QVERIFY2(text.startsWith(QStringLiteral("数据导入在第[%1]条记录处因数据库出错而中止：").arg(in + 1)), qPrintable(text));
        QVERIFY2(text.contains(reason), qPrintable(text));
        if (LibDB::dialect() == Dialect::Sqlite) // SQL Server words its failures itself
            QVERIFY2(text.contains(words), qPrintable(text));
        if (DatabaseFault(fault) == LockHeld) // then the database's own words
            QVERIFY2(text.contains(TestDatabase::overTheWire() && !odbc ? QStringLiteral("Lock request time out period exceeded.")
                                                                       : QStringLiteral("database is locked")),
                     qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("此前已导入[%1]条记录，均已保存").arg(in)), qPrintable(text));
        // A full database may take the open group with it; the message then
        // names that group's first record, and what it says is stored is.
    }

    // A record that fails in the middle of a group is rolled back alone: its
    // neighbours before and after it are stored, in one group, also when the
    // failure ended the whole transaction (the group is then inserted again).
    // Titles filling CHAR(128) with Chinese text (10 to 64 characters),
    // summaries of several hundred KB and quotes leave and come back whole:
    // the file exported after an import is the file imported, on SQLite and
    // over SQL Server's wire alike.
    void longValuesRoundTrip()
    {
        QList<QStringList> records;
        for (int n : {10, 11, 33, 63, 64}) {
            QString title = QString(QChar(0x6587)).repeated(n); // 文
            title[1] = QLatin1Char('\'');
            records << QStringList{title, QString::number(n % 7 + 1), QStringLiteral("PDF"), QStringLiteral("阅读器 'x'"),
                                   QStringLiteral("/e/%1").arg(n),
                                   QString(QStringLiteral("摘要'内容，第%1段。")).arg(n).repeated(n == 64 ? 30000 : 3)};
        }
        TestDatabase db(bare());
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in.dat"));
        writeFile(in, ebookFile(records));
        const ImportResult r = importCatalogue(Kind::Dzts, in);
        QCOMPARE(r.failed, 0);
        QCOMPARE(r.inserted(), records.size());

        const QString out = dir.filePath(QStringLiteral("out.dat"));
        const ExportResult e = exportCatalogue({Kind::Dzts, QDate(2000, 1, 1), QDate(2099, 12, 31), out});
        QCOMPARE(e.records, records.size());
        QCOMPARE(e.altered, 0);
        QCOMPARE(readWholeFile(out), ebookFile(records));
    }

    // The server goes away in the middle of an import: the import stops at
    // once as a database failure (not a bad record per remaining record),
    // and the count it gives is the count the database kept.
    void importStopsOnALostConnection()
    {
        if (const QString why = test::TdsTestServer::unavailable(); !why.isEmpty())
            QSKIP(qPrintable(why));
        TestDatabase db(bare(false));
        auto server = std::make_unique<test::TdsTestServer>(db.path());
        QVERIFY2(server->started(), qPrintable(server->error()));
        server->openAsLibDB();
        QList<QStringList> records;
        for (int i = 1; i <= 60; ++i)
            records << QStringList{QStringLiteral("书%1").arg(i), QStringLiteral("1")};
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in.dat"));
        writeFile(in, ebookFile(records));
        const ImportResult r = importCatalogue(Kind::Dzts, in, [&](int done) {
            if (done == 25)
                server.reset(); // the server's process ends
        });
        LibDB::close();
        QVERIFY(r.stopped());
        QVERIFY(r.read < 60);
        QCOMPARE(r.failed, 0);
        QCOMPARE(db.scalar(QStringLiteral("select count(*) from www_lineread")).toInt(), r.inserted());
        QVERIFY2(importMessage(r).startsWith(QStringLiteral("数据导入在第[%1]条记录处因数据库出错而中止").arg(r.read + 1)),
                 qPrintable(importMessage(r)));
    }

    // Over SQL Server's wire the records travel in batches of 200, each a
    // request of its own (the full batch prepared once): 450 records are
    // three requests and the group's begin and commit. Refusals in several
    // batches, one the first record of a batch, are counted and skipped
    // with the server's text, their neighbours stored.
    void recordsInBatchesOverTheWire()
    {
        TestDatabase db(bare());
        std::unique_ptr<test::TdsTestServer> own; // when the fixture is not already on the wire
        test::TdsTestServer *server = db.server();
        if (!server) {
            own = openBy(ThroughTds, db);
            server = own.get();
        }
        const QList<int> refused = {5, 201, 202, 449};
        QList<QStringList> records;
        for (int i = 1; i <= 450; ++i)
            records << QStringList{refused.contains(i) ? QString(65, QChar(0x4e66)) : QStringLiteral("书%1").arg(i),
                                   QString::number(i % 5 + 1), QString(i % 3, QLatin1Char('P')), QString(), QString(),
                                   QString(i % 40 * 37, QChar(0x5b57))};
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in.dat"));
        writeFile(in, ebookFile(records));
        server->clearRequests();
        const ImportResult r = importCatalogue(Kind::Dzts, in);
        QCOMPARE(r.read, records.size());
        QCOMPARE(r.failed, refused.size());
        QCOMPARE(r.firstFailure, QStringLiteral("第5条记录：[FreeTDS][SQL Server]String or binary data would be truncated."));
        QCOMPARE(db.scalar(QStringLiteral("select count(*) from www_lineread")).toInt(), records.size() - refused.size());
        QCOMPARE(db.scalar(QStringLiteral("select count(*) from www_lineread where li_title like '书449 %' or li_title like '书450 %'"
                                          " or li_title like '书200 %' or li_title like '书203 %'")).toInt(), 3);
        const QString requests = server->requests().join(QLatin1Char('\n'));
        QVERIFY2(server->countRequests(QStringLiteral("rpc sp_prepexec set nocount on")) == 2, qPrintable(requests));
        QVERIFY2(server->countRequests(QStringLiteral("rpc sp_execute")) == 1, qPrintable(requests));
        // Beside the batches: each group's begin and commit (a busy machine
        // may take more than a group's 200 ms for a batch), the driver's
        // wording of the server's message, learnt once, two unprepares, the
        // import's lock and its release.
        QVERIFY2(server->requests().size() <= 3 + 2 * r.groups + 1 + 2 + 2, qPrintable(requests));
    }

    void importGroupKeepsNeighbours_data()
    {
        QTest::addColumn<int>("route");
        QTest::addColumn<QString>("trigger"); // what refuses the record titled 坏
        QTest::addColumn<QString>("bad");     // the failing record's title
        const QString abort = QStringLiteral("create trigger refuse before insert on www_lineread when new.li_title like '坏%' "
                                             "begin select raise(abort, '不收此记录'); end");
        QString rollback = abort;
        rollback.replace(QStringLiteral("abort"), QStringLiteral("rollback"));
        if (!TestDatabase::overTheWire()) { // SQLite's triggers refuse; over the wire see the last row
            QTest::newRow("refused") << int(ThroughQt) << abort << QStringLiteral("坏");
            QTest::newRow("transaction ended by the refusal") << int(ThroughQt) << rollback << QStringLiteral("坏");
        }
        QTest::newRow("ODBC: refused") << int(ThroughOdbc) << abort << QStringLiteral("坏");
        QTest::newRow("ODBC: transaction ended by the refusal") << int(ThroughOdbc) << rollback << QStringLiteral("坏");
        // 130 GBK bytes: wider than li_title's CHAR(128), error 8152.
        QTest::newRow("SQL Server: value too wide") << int(ThroughTds) << QString() << QString(65, QChar(0x4e66));
        QTest::newRow("SQL Server: transaction ended by the refusal") << int(ThroughTds) << rollback << QStringLiteral("坏");
    }
    void importGroupKeepsNeighbours()
    {
        QFETCH(int, route);
        QFETCH(QString, trigger);
        QFETCH(QString, bad);
        if (!skipIfNoServer(Route(route)).isEmpty())
            QSKIP(qPrintable(skipIfNoServer(Route(route))));
        TestDatabase db(bare(false));
        if (!trigger.isEmpty())
            db.exec(trigger);
        const auto server = openBy(Route(route), db);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("in.dat"));
        QList<QStringList> records;
        QStringList good;
        for (int i = 1; i <= 50; ++i) {
            const QString title = i == 25 ? bad : QStringLiteral("书%1").arg(i);
            records << QStringList{title, QString::number(i)};
            if (i != 25)
                good << title + QLatin1Char(' ');
        }
        writeFile(path, ebookFile(records));
        QStringList log;
        LibDB::setStatementLog(&log);
        const ImportResult r = importCatalogue(Kind::Dzts, path);
        LibDB::setStatementLog(nullptr);
        QCOMPARE(r.read, 50);
        QCOMPARE(r.failed, 1);
        QVERIFY2(r.firstFailure.startsWith(QStringLiteral("第25条记录：")), qPrintable(r.firstFailure));
        QCOMPARE(column(db, QStringLiteral("select rtrim(li_title)||' ' from www_lineread order by li_id")), good);
        QCOMPARE(log.filter(QRegularExpression(QStringLiteral("^commit"))).size(), 1);
    }

    // With the choice, a record equal in every exchanged field to one the
    // table held (text without its trailing blanks, numbers by value) is
    // passed over and counted; anything else goes in. Each stored record
    // matches one record of the file at most.
    void importSkipExisting_data()
    {
        QTest::addColumn<int>("route");
        QTest::addColumn<QString>("stored"); // values of li_title..li_content, as SQL
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("skipped");
        QTest::addColumn<int>("inserted");
        const QStringList record = {"书", "3", "PDF", "阅读器", "/a", "第一行\r\n第二行"};
        auto with = [&](int field, const QString &value) {
            QStringList r = record;
            r[field] = value;
            return r;
        };
        const QString asImported = QStringLiteral("'书 ',1,3,'PDF ','阅读器 ','/a ','第一行\n第二行 '");
        for (Route route : {ThroughQt, ThroughTds}) {
            const char *via = route == ThroughTds ? "SQL Server: " : "";
            QTest::addRow("%sthe same record", via) << int(route) << asImported << ebookFile({record}) << 1 << 0;
            QTest::addRow("%sstored without trailing blanks", via)
                << int(route) << QStringLiteral("'书',1,3,'PDF','阅读器','/a','第一行\n第二行'") << ebookFile({record}) << 1 << 0;
            QTest::addRow("%sleading zeros", via) << int(route) << asImported << ebookFile({with(1, QStringLiteral("003"))}) << 1 << 0;
            QTest::addRow("%sanother volume count", via)
                << int(route) << asImported << ebookFile({with(0, QStringLiteral("书(册数2)"))}) << 0 << 1;
            QTest::addRow("%sanother address", via) << int(route) << asImported << ebookFile({with(4, QStringLiteral("/b"))}) << 0 << 1;
            QTest::addRow("%sanother last line", via)
                << int(route) << asImported << ebookFile({with(5, QStringLiteral("第一行\r\n第三行"))}) << 0 << 1;
            QTest::addRow("%snothing stored where the file has a blank", via)
                << int(route) << QStringLiteral("'书 ',1,3,'PDF ','阅读器 ',null,'第一行\n第二行 '")
                << ebookFile({with(4, QString())}) << 0 << 1;
            QTest::addRow("%stwice in the file, stored once", via) << int(route) << asImported << ebookFile({record, record})
                                                                   << 1 << 1;
        }
    }
    void importSkipExisting()
    {
        QFETCH(int, route);
        QFETCH(QString, stored);
        QFETCH(QByteArray, file);
        QFETCH(int, skipped);
        QFETCH(int, inserted);
        if (!skipIfNoServer(Route(route)).isEmpty())
            QSKIP(qPrintable(skipIfNoServer(Route(route))));
        TestDatabase db(bare(false));
        db.exec(QStringLiteral("insert into www_lineread (li_title,li_number,li_typeid,li_format,li_tools,li_url,li_content) "
                               "values (%1)").arg(stored));
        db.exec(QStringLiteral("insert into www_lineread (li_title,li_number,li_typeid,li_format,li_tools,li_url,li_content) "
                               "values ('别的书 ',1,3,'PDF ','阅读器 ','/a ','第一行\n第二行 ')"));
        const auto server = openBy(Route(route), db);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("in.dat"));
        writeFile(path, file);
        const ImportResult r = importCatalogue(Kind::Dzts, path, {}, ExistingRecords::Skip);
        QCOMPARE(r.skipped, skipped);
        QCOMPARE(r.inserted(), inserted);
        QCOMPARE(r.failed, 0);
        QCOMPARE(db.scalar(QStringLiteral("select count(*) from www_lineread")).toInt(), 2 + inserted);
        QVERIFY(r.complete());
    }

    // The dialog's check box: off at first, its last state kept in the
    // machine settings (never in settings that do not exist), and the
    // closing message counts what it passed over.
    void importDialogSkipChoice()
    {
        TestDatabase db(bare());
        test::TestSettings settings;
        settings.remove();
        {
            TImportOther dlg(nullptr);
            auto *box = dlg.findChild<QCheckBox *>(QStringLiteral("ckSkipExisting"));
            QVERIFY(box);
            QCOMPARE(box->text(), QStringLiteral("跳过已有记录"));
            QVERIFY(!box->isChecked());
            box->setChecked(true);
            QVERIFY(!MachineSettings::keyExists());
        }
        settings.write({{QStringLiteral("ODBCNAME"), db.odbcName()}});
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("in.dat"));
        writeFile(path, ebookFile({{"甲"}, {"乙"}}));
        ScriptedPrompt prompt;
        bool previous = false;
        for (bool on : {true, false}) {
            TImportOther dlg(nullptr);
            auto *box = dlg.findChild<QCheckBox *>(QStringLiteral("ckSkipExisting"));
            QCOMPARE(box->isChecked(), previous);
            box->setChecked(on);
            previous = on;
            QCOMPARE(MachineSettings::value(TImportOther::skipExistingSetting()), on ? QStringLiteral("1") : QStringLiteral("0"));
            QCOMPARE(MachineSettings::value(QStringLiteral("ODBCNAME")), db.odbcName());
            if (!on)
                continue;
            dlg.findChild<QLineEdit *>(QStringLiteral("edFileName"))->setText(path);
            prompt.answers = {true, true};
            dlg.btImportClick(); // e-books; nothing stored yet: both go in
            dlg.btImportClick(); // both stored: both passed over
            QCOMPARE(prompt.texts().mid(1), QStringList({QStringLiteral("数据导入成功，共[2]条记录，请检查分类是否正确!"),
                                                         importQuestion(Kind::Dzts),
                                                         QStringLiteral("数据导入成功，共[0]条记录，请检查分类是否正确!\n"
                                                                        "另有[2]条记录数据库中已有，已跳过。")}));
        }
        QVERIFY(!TImportOther(nullptr).findChild<QCheckBox *>(QStringLiteral("ckSkipExisting"))->isChecked());
        QCOMPARE(db.scalar(QStringLiteral("select count(*) from www_lineread")).toInt(), 2);
    }

    // A file of another kind is read out of step: no crash, every record
    // read is either inserted or counted as failed.
    void importOtherKind()
    {
        TestDatabase db(bare());
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("shdh.dat"));
        QString text = QStringLiteral("@@FILE_BEGIN@@\r\n");
        for (int i = 0; i < 5; ++i)
            text += formatRecord(exchangeKind(Kind::Shdh), {QStringLiteral("文章%1").arg(i), i, QStringLiteral("作者"),
                                                             QString(), QStringLiteral("来源"), QStringLiteral("http://x"),
                                                             QStringLiteral("第一行\r\n第二行")});
        writeFile(path, Gbk::encode(text + QStringLiteral("@@FILE_END@@\r\n")));
        for (Kind k : {Kind::Dzts, Kind::Tpzl, Kind::Bklw}) {
            const ImportResult r = importCatalogue(k, path);
            QVERIFY(r.read > 0);
            QCOMPARE(db.scalar(QStringLiteral("select count(*) from %1").arg(kindInfo(k).recordTable)).toInt(), r.inserted());
        }
    }

    void importDeclinedThenTwice()
    {
        TestDatabase db(bare());
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("in.dat"));
        writeFile(path, Gbk::encode(QStringLiteral("@@FILE_BEGIN@@\r\n")
                                    + formatRecord(exchangeKind(Kind::Tpzl), {QStringLiteral("图"), QString(), QString(), 2})
                                    + QStringLiteral("@@FILE_END@@\r\n")));
        ScriptedPrompt prompt;
        TImportOther dlg(nullptr);
        dlg.findChild<QLineEdit *>(QStringLiteral("edFileName"))->setText(path);
        auto *cb = dlg.findChild<QComboBox *>(QStringLiteral("cbType"));
        cb->setCurrentIndex(cb->findText(QStringLiteral("导入 图片资料")));

        prompt.answers = {false};
        dlg.btImportClick();
        QCOMPARE(prompt.texts(), QStringList{QStringLiteral("您确定要导入[图片资料]数据码？")});
        prompt.answers = {true, true};
        dlg.btImportClick();
        dlg.btImportClick();
        QCOMPARE(db.scalar(QStringLiteral("select count(*) from www_picture where li_typeid=2")).toInt(), 2);
        QCOMPARE(prompt.texts().size(), 5);
    }

    // A UTF-8 file is read as UTF-8 only when the operator says so;
    // declined, or a file that is neither GBK nor UTF-8, stores nothing.
    void importUtf8File()
    {
        TestDatabase db(bare());
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("utf8.dat"));
        const QByteArray gbkFile = ebookFile({{"史记(册数3)", "2", "txt", "", "u", "正文"}});
        writeFile(path, Gbk::decode(gbkFile).toUtf8());
        ScriptedPrompt prompt;
        TImportOther dlg(nullptr);
        dlg.findChild<QLineEdit *>(QStringLiteral("edFileName"))->setText(path);
        auto stored = [&] { return db.rows(QStringLiteral("select li_title,li_number,li_content from www_lineread")); };

        prompt.answers = {true, false};
        dlg.btImportClick();
        QCOMPARE(prompt.texts(), (QStringList{importQuestion(Kind::Dzts), utf8Question()}));
        QVERIFY(prompt.texts().at(1).startsWith(QStringLiteral("文件似乎是UTF-8编码")));
        QVERIFY(stored().isEmpty());

        prompt.clear();
        prompt.answers = {true, true};
        dlg.btImportClick();
        QCOMPARE(prompt.texts().size(), 3);
        QVERIFY(prompt.texts().at(2).startsWith(QStringLiteral("数据导入成功，共[1]条记录")));
        QCOMPARE(stored(), (QList<QVariantList>{{QStringLiteral("史记 "), 3, QStringLiteral("正文 ")}}));

        writeFile(path, gbkFile.left(40) + "\xFF" + gbkFile.mid(40));
        prompt.clear();
        prompt.answers = {true};
        dlg.btImportClick();
        QCOMPARE(prompt.shown.size(), 2);
        QVERIFY2(prompt.shown.at(1).text.contains(QStringLiteral("第3行有不是GBK编码的字节")), qPrintable(prompt.shown.at(1).text));
        QCOMPARE(stored().size(), 1);
    }

    // Only a regular file or a pipe is read: a device would be read for
    // ever, a folder not at all. A pipe is read once, checked and imported.
    void importReadsFilesAndPipes()
    {
        TestDatabase db(bare());
        QTemporaryDir dir;
#ifdef Q_OS_WIN
        // A device's name is one in any folder and with any extension.
        const QStringList devices{QStringLiteral("NUL"), dir.filePath(QStringLiteral("com1.dat"))};
#else
        const QStringList devices{QStringLiteral("/dev/zero")};
#endif
        for (const QString &path : devices + QStringList{dir.path()}) {
            try {
                importCatalogue(Kind::Dzts, path);
                QFAIL("a device or a folder was read");
            } catch (const FileError &e) {
                QVERIFY2(e.text().contains(QStringLiteral("不是普通文件")), qPrintable(e.text()));
            }
        }
#ifdef Q_OS_WIN
        QSKIP("named pipes of the file system are POSIX's");
#else
        const QString fifo = dir.filePath(QStringLiteral("pipe"));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        const QByteArray bytes = ebookFile({{"甲"}, {"乙"}});
        std::thread writer([&] {
            QFile f(fifo);
            if (f.open(QIODevice::WriteOnly)) // waits for the reader
                f.write(bytes);
        });
        const ImportResult r = importCatalogue(Kind::Dzts, fifo);
        writer.join();
        QCOMPARE(r.inserted(), 2);
        QVERIFY(r.complete());
#endif
    }

    void importFileChoice()
    {
        TestDatabase db(bare());
        ScriptedPrompt prompt;
        TImportOther dlg(nullptr);
        dlg.show();
        auto *name = dlg.findChild<QLineEdit *>(QStringLiteral("edFileName"));

        dlg.btFileNameClick(); // cancelled
        QCOMPARE(prompt.requests.size(), 1);
        QCOMPARE(prompt.requests.at(0).defaultSuffix, QStringLiteral("dat"));
        QCOMPARE(prompt.texts(), QStringList{QStringLiteral("请先选择数据文件")});
        QVERIFY(name->hasFocus() || !QApplication::focusWidget() || QApplication::focusWidget() == name);

        // No file chosen, question answered Yes: the file system's error.
        prompt.clear();
        prompt.answers = {true};
        dlg.btImportClick(); // the list starts at e-books
        QCOMPARE(prompt.shown.size(), 2);
        QCOMPARE(prompt.shown.at(1).caption, applicationTitle());
        QCOMPARE(prompt.shown.at(1).text, QStringLiteral("请先选择数据文件"));

        prompt.clear();
        prompt.files = {QStringLiteral("/tmp/chosen.dat")};
        dlg.btFileNameClick();
        QCOMPARE(name->text(), QStringLiteral("/tmp/chosen.dat"));
        QVERIFY(prompt.shown.isEmpty());
    }
};

QTEST_MAIN(TestExchangeTransfer)
#include "tst_exchange_transfer.moc"
