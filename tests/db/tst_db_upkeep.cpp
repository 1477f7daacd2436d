// Start-up upkeep of the schema.
#include "clock.h"
#include "errors.h"
#include "libdb.h"
#include "tdstestserver.h"
#include "text.h"
#include "testsupport.h"
#include "upkeep.h"

#include <QTest>

using namespace lectoria;
using namespace lectoria::test;

class TestDbUpkeep : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Whatever a failing test left behind is undone before the next one.
    void cleanup()
    {
        Clock::reset();
        LibDB::setStatementLog(nullptr);
        LibDB::close();
    }

    // An older database: the e-book volume column, the administrator and the
    // margins table are added, by the written statements, once.
    void upkeepOnOlderDatabase()
    {
        Clock::set(QDateTime(QDate(2024, 3, 5), QTime(9, 0)));
        TestDatabase::Options o;
        o.volumeColumn = false;
        o.operators = false;
        TestDatabase db(o);
        const QStringList titles = {QStringLiteral("英文名著3000部 第一辑"), QStringLiteral("英文名著3000部 技术卷"),
                                    QStringLiteral("计算机基础"), QStringLiteral("红楼梦"), QStringLiteral("电子技术")};
        for (const QString &t : titles)
            db.addRecord(Kind::Dzts, {{QStringLiteral("li_title"), t}, {QStringLiteral("li_typeid"), 1}});

        QStringList log;
        LibDB::setStatementLog(&log);
        Upkeep::ensureVolumeColumn();
        Upkeep::ensureAdministrator();
        Upkeep::ensureMarginsTable();
        LibDB::setStatementLog(nullptr);

        const QString volumeCheck = "select name from syscolumns where name='li_number' and id in "
                                    "(select id from sysobjects where name = 'www_lineread')";
        const QString administratorCheck = "select * from www_admin where ad_code='admin'";
        const QString marginsCheck = "select * from sysobjects where name ='lib_prtblank'";
        QCOMPARE(log, (QStringList{
                          volumeCheck,
                          "alter table www_lineread add li_number int  default(1)",
                          "update www_lineread set li_number=1",
                          "update www_lineread set li_number=4000 where li_title like '英文名著3000部%'",
                          "update www_lineread set li_number=2 where li_title like '%基础%' or li_title like '%理论%' "
                          "or li_title like '%技术%'",
                          administratorCheck,
                          "insert into www_admin values(\n'admin','系统管理员','qzmvt','1','1',\n"
                          "'1','1','1','1','1','1','1','1',\n'1','1','1','1','1','1','1','1',\n'1'," + LibDB::dialect().date(QDate(2024, 3, 5)) + ")",
                          marginsCheck,
                          "create table lib_prtblank ( \n\tpb_no \t\tint NOT NULL IDENTITY (1, 1),\n"
                          "\tpb_default \tint default(0),\n\tpb_top\t     \tint default(0),\n"
                          "\tpb_bottom     \tint default(0),\n\tpb_left\t     \tint default(0),\n"
                          "\tpb_right     \tint default(0) \n) ",
                          "ALTER TABLE lib_prtblank ADD CONSTRAINT \nPK_lib_prtblank PRIMARY KEY NONCLUSTERED\n(pb_no)",
                          "insert into lib_prtblank( \n     pb_default,pb_top,pb_bottom,pb_left,pb_right) values(\n"
                          "     0,10,10,10,10)",
                      }));

        // Volumes: the later rule wins over the earlier.
        const auto rows = db.rows(QStringLiteral("select li_title, li_number from www_lineread order by li_id"));
        const QList<int> volumes = {4000, 2, 2, 1, 2};
        for (int i = 0; i < rows.size(); ++i)
            QCOMPARE(rows.at(i).at(1).toInt(), volumes.at(i));

        const auto admin = db.rows(QStringLiteral("select * from www_admin"));
        QCOMPARE(admin.size(), 1);
        QCOMPARE(admin.at(0).at(0).toString(), QStringLiteral("admin"));
        QCOMPARE(admin.at(0).at(1).toString(), QStringLiteral("系统管理员"));
        QCOMPARE(admin.at(0).at(2).toString(), QStringLiteral("qzmvt"));
        for (int i = 3; i < 22; ++i)
            QCOMPARE(admin.at(0).at(i).toString(), QStringLiteral("1"));
        QCOMPARE(admin.at(0).at(22).toString().left(10), QStringLiteral("2024-03-05"));

        const auto margins = db.rows(QStringLiteral("select pb_default,pb_top,pb_bottom,pb_left,pb_right from lib_prtblank"));
        QCOMPARE(margins.size(), 1);
        QCOMPARE(margins.at(0), (QVariantList{0, 10, 10, 10, 10}));

        // A second start runs only the three checks.
        log.clear();
        LibDB::setStatementLog(&log);
        Upkeep::ensureVolumeColumn();
        Upkeep::ensureAdministrator();
        Upkeep::ensureMarginsTable();
        LibDB::setStatementLog(nullptr);
        QCOMPARE(log, (QStringList{volumeCheck, administratorCheck, marginsCheck}));
    }

    // Under a login whose language puts days first, SQL Server reads
    // 'yyyy-mm-dd' as year-day-month (error 242 from the 13th on); the
    // console's dates read as the same day under every language, and its
    // Chinese literals keep their characters.
    void upkeepUnderADaysFirstLogin()
    {
        Clock::set(QDateTime(QDate(2024, 3, 25), QTime(9, 0)));
        TestDatabase::Options o;
        o.open = false;
        o.operators = false;
        o.volumeColumn = false;
        TestDatabase db(o);
        db.addRecord(Kind::Dzts, {{QStringLiteral("li_title"), QStringLiteral("计算机基础")}, {QStringLiteral("li_typeid"), 1},
                                  {QStringLiteral("li_logtime"), QStringLiteral("2024-03-25 08:00:00")}});
        TdsTestServer server(db.path());
        QVERIFY2(server.started(), qPrintable(server.error()));
        ConnectionParams p = server.params();
        p.odbcName += QStringLiteral(";Language=british");
        QString why;
        QVERIFY2(LibDB::open(p, &why), qPrintable(why));
        Upkeep::ensureVolumeColumn();
        Upkeep::ensureAdministrator();
        QCOMPARE(db.scalar(QStringLiteral("select substr(lo_time,1,10) from www_admin where ad_code='admin'")).toString(),
                 QStringLiteral("2024-03-25"));
        QCOMPARE(db.scalar(QStringLiteral("select ad_name from www_admin where ad_code='admin'")).toString().trimmed(),
                 QStringLiteral("系统管理员"));
        QCOMPARE(db.scalar(QStringLiteral("select li_number from www_lineread")).toInt(), 2);
        QCOMPARE(LibDB::scalar(QStringLiteral("select count(*) from www_lineread where li_logtime>=%1 and li_logtime<%2")
                                   .arg(LibDB::dialect().date(QDate(2024, 3, 25)), LibDB::dialect().date(QDate(2024, 3, 26))))
                     .toInt(),
                 1);
    }

    // The site's own login, without the rights to change the schema: the
    // upkeep says which right is missing and what to grant; once the schema
    // is up to date the same login starts, reads and writes.
    void upkeepUnderARestrictedLogin_data()
    {
        QTest::addColumn<QString>("denied");
        QTest::addColumn<bool>("volumeColumn");
        QTest::addColumn<bool>("operators");
        QTest::addColumn<QStringList>("said");
        QTest::newRow("alter") << QStringLiteral("alter") << false << true
                               << QStringList{QStringLiteral("修改表 www_lineread 的权限（ALTER）"),
                                              QStringLiteral("GRANT ALTER ON dbo.www_lineread"), QStringLiteral("li_number"),
                                              QStringLiteral("Cannot find the object \"www_lineread\"")};
        QTest::newRow("create table") << QStringLiteral("create-table") << true << true
                                      << QStringList{QStringLiteral("CREATE TABLE"), QStringLiteral("GRANT CREATE TABLE"),
                                                     QStringLiteral("lib_prtblank"), QStringLiteral("permission denied in database 'www'")};
        QTest::newRow("insert") << QStringLiteral("insert:www_admin") << true << false
                                << QStringList{QStringLiteral("在表 www_admin 中插入记录的权限（INSERT）"), QStringLiteral("db_datawriter"),
                                               QStringLiteral("The INSERT permission was denied on the object 'www_admin'")};
    }

    void upkeepUnderARestrictedLogin()
    {
        QFETCH(QString, denied);
        QFETCH(bool, volumeColumn);
        QFETCH(bool, operators);
        QFETCH(QStringList, said);
        TestDatabase::Options o;
        o.open = false;
        o.volumeColumn = volumeColumn;
        o.operators = operators;
        TestDatabase db(o);
        TdsTestServer server(db.path());
        QVERIFY2(server.started(), qPrintable(server.error()));
        server.control(QStringLiteral("deny sa ") + denied);
        server.openAsLibDB();
        try {
            Upkeep::ensureVolumeColumn();
            Upkeep::ensureAdministrator();
            Upkeep::ensureMarginsTable();
            QFAIL("the upkeep ran without the right");
        } catch (const DbPermissionDenied &e) {
            for (const QString &part : said)
                QVERIFY2(e.text().contains(part), qPrintable(e.text()));
        }
        LibDB::close();

        // The administrator brings the schema up to date ...
        server.control(QStringLiteral("deny sa"));
        server.openAsLibDB();
        Upkeep::ensureVolumeColumn();
        Upkeep::ensureAdministrator();
        Upkeep::ensureMarginsTable();
        LibDB::close();
        // ... and the restricted login runs the checks only, and works.
        server.control(QStringLiteral("deny sa ") + denied);
        server.openAsLibDB();
        Upkeep::ensureVolumeColumn();
        Upkeep::ensureAdministrator();
        Upkeep::ensureMarginsTable();
        QCOMPARE(LibDB::scalar(QStringLiteral("select count(*) from www_admin where ad_code='admin'")).toInt(), 1);
    }

    void upkeepKeepsExistingVolumes()
    {
        TestDatabase db;
        db.addRecord(Kind::Dzts, {{QStringLiteral("li_title"), QStringLiteral("理论")}, {QStringLiteral("li_number"), 7}});
        Upkeep::ensureVolumeColumn();
        QCOMPARE(db.scalar(QStringLiteral("select li_number from www_lineread")).toInt(), 7);
    }

    void failingStatementCarriesDatabaseText()
    {
        TestDatabase db;
        db.exec(QStringLiteral("drop table www_admin"));
        try {
            Upkeep::ensureAdministrator();
            QFAIL("no error");
        } catch (const DbError &e) {
            QVERIFY2(e.text().contains(QStringLiteral("www_admin")), qPrintable(e.text()));
        }
    }
};

QTEST_GUILESS_MAIN(TestDbUpkeep)
#include "tst_db_upkeep.moc"
