#include "errors.h"
#include "helperlib.h"
#include "libdb.h"
#include "machinesettings.h"
#include "testsupport.h"
#include "upkeep.h"
#include "clock.h"
#include "gbk.h"
#include "atomicfile.h"
#include "text.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTest>

using namespace lectoria;
using namespace lectoria::test;

class TestDb : public QObject {
    Q_OBJECT
    // unixODBC reads its configuration once per process: one folder for every test.
    QTemporaryDir odbcConfig;
    const QString odbcDriver = QStringLiteral("/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so");

private Q_SLOTS:
    void initTestCase()
    {
        QFile inst(odbcConfig.filePath(QStringLiteral("odbcinst.ini")));
        QVERIFY(inst.open(QIODevice::WriteOnly));
        inst.write(QStringLiteral("[SQLite3]\nDriver=%1\n").arg(odbcDriver).toUtf8());
        inst.close();
        QFile ini(odbcConfig.filePath(QStringLiteral("odbc.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[lectoriaTest]\nDriver=SQLite3\nDatabase=%1\n")
                      .arg(odbcConfig.filePath(QStringLiteral("www.db")))
                      .toUtf8());
        ini.close();
        qputenv("ODBCSYSINI", QFile::encodeName(odbcConfig.path()));
        qputenv("ODBCINI", QFile::encodeName(ini.fileName()));
    }

    void protectRoundTrip_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::newRow("empty") << QString();
        QTest::newRow("ascii") << QStringLiteral("sa");
        QTest::newRow("semicolon and braces") << QStringLiteral("p;w}{=d");
        QTest::newRow("chinese") << QStringLiteral("密码123");
        QTest::newRow("blanks inside") << QStringLiteral("a b");
    }
    void protectRoundTrip()
    {
        QFETCH(QString, plain);
        const QString secret = qyBeSecrectString(plain);
        QCOMPARE(qyDeSecrectString(secret), plain);
        QCOMPARE(qyDeSecrectString(trimText(secret)), plain);
        QVERIFY(secret != plain);
        for (QChar c : secret)
            QVERIFY(c.unicode() > 32 && c.unicode() < 127);
        // A value typed into the settings by hand is used as it stands.
        QCOMPARE(qyDeSecrectString(QStringLiteral("plainpw")), QStringLiteral("plainpw"));
    }

    void settingsFile()
    {
        TestSettings settings;
        QVERIFY(!MachineSettings::keyExists());
        QCOMPARE(MachineSettings::value(QStringLiteral("ODBCNAME")), QString());
        // Creating the keys creates the folder (parent key) and the file (key).
        QCOMPARE(MachineSettings::createKeys(), QString());
        QVERIFY(MachineSettings::keyExists());
        QVERIFY(MachineSettings::write({{QStringLiteral("ODBCNAME"), QStringLiteral("DRIVER=x;SERVER=a,1433")},
                                        {QStringLiteral("INPUTTYPE"), QStringLiteral("拼音")}}));
        QCOMPARE(MachineSettings::value(QStringLiteral("ODBCNAME")), QStringLiteral("DRIVER=x;SERVER=a,1433"));
        QCOMPARE(MachineSettings::value(QStringLiteral("INPUTTYPE")), QStringLiteral("拼音"));

        // Hand-edited lines, comments and other groups survive a write.
        settings.writeRaw("; by hand\nSCHOOLNAME = 实验中学 \n[Other]\nODBCNAME=not-this\n");
        QCOMPARE(trimText(MachineSettings::value(QStringLiteral("SCHOOLNAME"))), QStringLiteral("实验中学"));
        QCOMPARE(MachineSettings::value(QStringLiteral("ODBCNAME")), QString());
        QVERIFY(MachineSettings::write({{QStringLiteral("ODBCNAME"), QStringLiteral("wwwODBC")}}));
        const QString text = QString::fromUtf8(readWholeFile(settings.path()));
        QVERIFY(text.contains(QStringLiteral("; by hand")));
        QVERIFY(text.contains(QStringLiteral("ODBCNAME=not-this")));
        QCOMPARE(MachineSettings::value(QStringLiteral("ODBCNAME")), QStringLiteral("wwwODBC"));
    }

    void settingsThatCannotBeWritten()
    {
        if (geteuid() == 0)
            QSKIP("file permissions do not bind root");
        TestSettings settings;
        settings.writeRaw("[General]\n");
        QFile::setPermissions(settings.path(), QFile::ReadOwner);
        QVERIFY(!MachineSettings::write({{QStringLiteral("ODBCNAME"), QStringLiteral("x")}}));
    }

    void settingsInAFolderThatCannotBeMade()
    {
        qputenv("LECTORIA_SETTINGS", "/proc/lectoria/Marrowind/Lectoria.conf");
        QCOMPARE(MachineSettings::createKeys(), MachineSettings::parentKeyName());
        qputenv("LECTORIA_SETTINGS", "/nonexistent/lectoria-test.conf");
    }

    void connectionParameters()
    {
        TestSettings settings;
        // No key: the default data source and no credentials at all.
        ConnectionParams p = LibDB::paramsFromSettings();
        QCOMPARE(p.odbcName, QStringLiteral("wwwODBC"));
        QVERIFY(!p.hasCredentials);
        QCOMPARE(LibDB::odbcConnectionString(p), QStringLiteral("DSN=wwwODBC"));

        settings.write({{QStringLiteral("ODBCNAME"), QStringLiteral("  site  ")},
                        {QStringLiteral("USERNAME"), qyBeSecrectString(QStringLiteral("sa"))},
                        {QStringLiteral("PASSWORD"), QStringLiteral(" ") + qyBeSecrectString(QStringLiteral("a;b}c"))}});
        p = LibDB::paramsFromSettings();
        QCOMPARE(p.odbcName, QStringLiteral("site"));
        QVERIFY(p.hasCredentials);
        QCOMPARE(p.user, QStringLiteral("sa"));
        QCOMPARE(p.password, QStringLiteral("a;b}c"));
        QCOMPARE(LibDB::odbcConnectionString(p), QStringLiteral("DSN=site;UID=sa;PWD={a;b}}c};"));

        p.odbcName = QStringLiteral("DRIVER={FreeTDS};SERVER=db;DATABASE=www");
        QCOMPARE(LibDB::odbcConnectionString(p),
                 QStringLiteral("DRIVER={FreeTDS};SERVER=db;DATABASE=www;UID=sa;PWD={a;b}}c};"));

        // Empty stored credentials leave those of the string in force.
        p.odbcName = QStringLiteral("DRIVER={FreeTDS};SERVER=db;UID=sa;PWD=x");
        p.user.clear();
        p.password.clear();
        QCOMPARE(LibDB::odbcConnectionString(p), p.odbcName);
    }

    void unreadableSettingsAreReported()
    {
        TestSettings settings;
        QDir().mkpath(settings.path()); // a folder where the file should be: exists, cannot be read as a file
        QString error;
        LibDB::paramsFromSettings(&error);
        // A folder is not a key; nothing to report and the defaults apply.
        QVERIFY(error.isEmpty());
    }

    void dialect_data()
    {
        QTest::addColumn<QString>("tsql");
        QTest::addColumn<QString>("sqlite");
        QTest::addColumn<QString>("sqlServer"); // empty: sent as written
        QTest::newRow("getdate") << QStringLiteral("select getdate() as dDate")
                                 << QStringLiteral("select datetime('now','localtime') as dDate") << QString();
        QTest::newRow("column check") << Upkeep::volumeCheck()
                                      << QStringLiteral("select name from pragma_table_info('www_lineread') where name='li_number'")
                                      << QString();
        QTest::newRow("object check") << Upkeep::marginsCheck()
                                      << QStringLiteral("select * from sqlite_master where name='lib_prtblank'") << QString();
        QTest::newRow("insert without into") << QStringLiteral("insert www_shdh (li_title) values ('a')")
                                             << QStringLiteral("insert into www_shdh (li_title) values ('a')") << QString();
        QTest::newRow("insert into kept") << QStringLiteral("insert into lib_prtblank( ")
                                          << QStringLiteral("insert into lib_prtblank( ") << QString();
        QTest::newRow("identity") << QStringLiteral("\tpb_no \t\tint NOT NULL IDENTITY (1, 1),")
                                  << QStringLiteral("\tpb_no \t\tinteger NOT NULL PRIMARY KEY AUTOINCREMENT,") << QString();
        QTest::newRow("added key skipped") << Upkeep::marginsStatements().at(1).join(QLatin1Char('\n')) << QString()
                                           << QString();
        QTest::newRow("text in quotes untouched") << QStringLiteral("select * from t where a='getdate'")
                                                  << QStringLiteral("select * from t where a='getdate'") << QString();
        // Chinese literals are N'...' on SQL Server, wherever they stand; ASCII
        // ones, those already prefixed and doubled quotes stay as they are.
        const QString chinese =
            QStringLiteral("update t set n=2 where a like '%基础%' or b='x' or c=N'理论' or d='O''中' or e='''技'''");
        QTest::newRow("chinese literals")
            << chinese << chinese
            << QStringLiteral("update t set n=2 where a like N'%基础%' or b='x' or c=N'理论' or d=N'O''中' or e=N'''技'''");
        QTest::newRow("chinese after identifier ending in n")
            << QStringLiteral("select * from t where an='中'") << QStringLiteral("select * from t where an='中'")
            << QStringLiteral("select * from t where an=N'中'");
        QTest::newRow("unclosed literal") << QStringLiteral("select '中") << QStringLiteral("select '中")
                                          << QStringLiteral("select N'中");
    }
    void dialect()
    {
        QFETCH(QString, tsql);
        QFETCH(QString, sqlite);
        QFETCH(QString, sqlServer);
        QCOMPARE(adaptStatement(tsql, Dialect::Sqlite), sqlite);
        QCOMPARE(adaptStatement(tsql, Dialect::SqlServer), sqlServer.isEmpty() ? tsql : sqlServer);
    }

    // Dates go to SQL Server as 'yyyymmdd', which every login language reads
    // as the same day; SQLite compares the stored 'yyyy-mm-dd' text. Closing
    // the connection brings back the written form.
    void dateLiteralsFollowTheConnection()
    {
        const QDate day(2024, 3, 25);
        QCOMPARE(Upkeep::administratorStatement(day).constLast(), QStringLiteral("'1','2024-03-25')"));
        setSqlDateStyle(SqlDateStyle::Compact);
        const QString compact = Upkeep::administratorStatement(day).constLast();
        LibDB::close();
        QCOMPARE(compact, QStringLiteral("'1','20240325')"));
        QCOMPARE(sqlDateStyle(), SqlDateStyle::Dashed);
    }

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

        QStringList expected{Upkeep::volumeCheck()};
        for (const QStringList &s : Upkeep::volumeStatements()) expected << s.join(QLatin1Char('\n'));
        expected << Upkeep::administratorCheck() << Upkeep::administratorStatement(Clock::today()).join(QLatin1Char('\n'))
                 << Upkeep::marginsCheck();
        for (const QStringList &s : Upkeep::marginsStatements()) expected << s.join(QLatin1Char('\n'));
        QCOMPARE(log, expected);
        QCOMPARE(Upkeep::administratorStatement(QDate(2024, 3, 5)).constLast(), asWritten(QStringLiteral("'1','2024-03-05')")));

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
        QCOMPARE(log, (QStringList{Upkeep::volumeCheck(), Upkeep::administratorCheck(), Upkeep::marginsCheck()}));
        Clock::reset();
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

    void dateTimesInOneForm_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::newRow("sqlite text") << QVariant(QStringLiteral("2024-03-05 10:11:12"));
        QTest::newRow("sqlite text ms") << QVariant(QStringLiteral("2024-03-05 10:11:12.000"));
        QTest::newRow("iso T") << QVariant(QStringLiteral("2024-03-05T10:11:12"));
        QTest::newRow("odbc datetime") << QVariant(QDateTime(QDate(2024, 3, 5), QTime(10, 11, 12)));
    }
    void dateTimesInOneForm()
    {
        QFETCH(QVariant, value);
        QCOMPARE(LibDB::toDateTime(value), QDateTime(QDate(2024, 3, 5), QTime(10, 11, 12)));
    }

    void missingDatabaseFileIsNotCreated()
    {
        QTemporaryDir dir;
        ConnectionParams p;
        p.odbcName = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("none.db"));
        QString error;
        QVERIFY(!LibDB::open(p, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("none.db"))));
    }

    void missingDataSource()
    {
        ConnectionParams p;
        p.odbcName = QStringLiteral("noSuchDsn");
        QString error;
        QVERIFY(!LibDB::open(p, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!LibDB::isOpen());
    }

    // The ODBC path end to end: a data source set up here, through unixODBC
    // and the SQLite ODBC driver, to a database file.
    void odbcEndToEnd()
    {
        if (!QFile::exists(odbcDriver))
            QSKIP("SQLite ODBC driver not installed");
        TestDatabase::Options o;
        o.open = false;
        o.volumeColumn = false;
        TestDatabase db(o);
        db.addRecord(Kind::Dzts, {{QStringLiteral("li_title"), QStringLiteral("数据库技术")}, {QStringLiteral("li_typeid"), 1}});
        // Values longer than any piece a driver reads at once come back whole.
        const QString longTitle = QString(QStringLiteral("长")).repeated(64);
        const QString summary = QString(QStringLiteral("摘要'内容 ")).repeated(60000);
        db.addRecord(Kind::Dzts, {{QStringLiteral("li_title"), longTitle}, {QStringLiteral("li_typeid"), 1},
                                  {QStringLiteral("li_content"), summary}});

        // The data source names a fixed file: a complete copy of the fixture goes there.
        QFile::remove(odbcConfig.filePath(QStringLiteral("www.db")));
        db.exec(QStringLiteral("VACUUM INTO '%1'").arg(odbcConfig.filePath(QStringLiteral("www.db"))));

        ConnectionParams p;
        p.odbcName = QStringLiteral("lectoriaTest");
        p.hasCredentials = true;
        QString error;
        QVERIFY2(LibDB::open(p, &error), qPrintable(error));
        QCOMPARE(LibDB::dialect(), Dialect::Sqlite);

        Upkeep::ensureVolumeColumn();
        Upkeep::ensureMarginsTable();
        {
            QSqlQuery q = LibDB::exec(QStringLiteral("select li_title, li_number from www_lineread"));
            QVERIFY(q.next());
            QCOMPARE(trimText(q.value(0).toString()), QStringLiteral("数据库技术"));
            QCOMPARE(q.value(1).toInt(), 2);
            QVERIFY(q.next());
            QCOMPARE(trimText(q.value(0).toString()), longTitle);
        }
        {
            QSqlQuery q = LibDB::exec(QStringLiteral("select li_content, li_url from www_lineread where li_content<>''"));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toString(), summary);
            QVERIFY(q.isNull(1));
            QVERIFY(!q.next());
        }
        const QDateTime server = LibDB::toDateTime(LibDB::scalar(QStringLiteral("select getdate() as dDate")));
        QVERIFY(qAbs(server.secsTo(QDateTime::currentDateTime())) < 120);
        LibDB::close();
    }
};

QTEST_GUILESS_MAIN(TestDb)
#include "tst_db.moc"
