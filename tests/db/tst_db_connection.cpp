// The connection LibDB: opening, values in one form, the ODBC path end to end.
#include "libdb.h"
#include "tdstestserver.h"
#include "testsupport.h"
#include "text.h"
#include "upkeep.h"

#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace lectoria;
using namespace lectoria::test;

class TestDbConnection : public QObject {
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

    void cleanup() { LibDB::close(); }

    // A user name or password that no form of the connection string carries
    // intact is refused, and never sent.
    void credentialsThatCannotArrive_data()
    {
        QTest::addColumn<QString>("odbcName");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("problem"); // a part of the message; empty: carried
        const QString dsn = QStringLiteral("wwwODBC");
        const QString driver = QStringLiteral("DRIVER={FreeTDS};SERVER=192.0.2.10");
        QTest::newRow("closing brace") << dsn << QStringLiteral("sa") << QStringLiteral("Lib}2024=书") << QString();
        QTest::newRow("brace then semicolon") << dsn << QStringLiteral("sa") << QStringLiteral("a};b") << QStringLiteral("“};”");
        QTest::newRow("in the user name") << driver << QStringLiteral("x};") << QStringLiteral("p") << QStringLiteral("登录标识号中含有“};”");
        QTest::newRow("a file data source's suffix") << dsn << QStringLiteral("my.DSN") << QStringLiteral("p") << QStringLiteral("“.dsn”");
        // The driver manager would read another data source from the braced value.
        QTest::newRow("another data source") << dsn << QStringLiteral("sa") << QStringLiteral("a}DSN=other;") << QStringLiteral("误读");
        QTest::newRow("another driver") << driver << QStringLiteral("sa") << QStringLiteral("a}DRIVER=x;") << QStringLiteral("误读");
        // After DRIVER it passes over a DSN.
        QTest::newRow("a data source after the driver") << driver << QStringLiteral("sa") << QStringLiteral("a}DSN=other;") << QString();
        QTest::newRow("embedded database: not used") << QStringLiteral("sqlite:www.db") << QStringLiteral("sa") << QStringLiteral("a};b") << QString();
    }
    void credentialsThatCannotArrive()
    {
        QFETCH(QString, odbcName);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, problem);
        ConnectionParams p;
        p.odbcName = odbcName;
        p.hasCredentials = true;
        p.user = user;
        p.password = password;
        const QString said = LibDB::credentialsProblem(p);
        if (problem.isEmpty()) {
            QVERIFY2(said.isEmpty(), qPrintable(said));
            return;
        }
        QVERIFY2(said.contains(problem), qPrintable(said));
        QString why;
        QVERIFY(!LibDB::open(p, &why));
        QCOMPARE(why, said);
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

    // A text size in the data source (or in freetds.conf) would cut every
    // summary on SQL Server; the console asks for its texts whole.
    void textSizeOfTheDataSourceCutsNothing()
    {
        TestDatabase::Options o;
        o.open = false;
        TestDatabase db(o);
        const QString summary = QString(QStringLiteral("摘要'内容 ")).repeated(20000);
        db.addRecord(Kind::Dzts, {{QStringLiteral("li_title"), QStringLiteral("长摘要")}, {QStringLiteral("li_content"), summary}});
        TdsTestServer server(db.path());
        QVERIFY2(server.started(), qPrintable(server.error()));
        ConnectionParams p = server.params();
        p.odbcName += QStringLiteral(";TextSize=64512");
        QString why;
        QVERIFY2(LibDB::open(p, &why), qPrintable(why));
        QCOMPARE(LibDB::scalar(QStringLiteral("select li_content from www_lineread")).toString(), summary);
    }

    // FreeTDS's Encryption setting against a server with a certificate
    // (self-signed, made here): "require" encrypts everything, the default
    // "request" the login only; a server without one cannot, and the
    // connection that requires it fails instead of going on in plain text.
    void encryptedLogins_data()
    {
        QTest::addColumn<bool>("certificate");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("logged"); // what the server made of it; empty: no connection
        QTest::newRow("require") << true << QStringLiteral(";Encryption=require") << QStringLiteral("tls all");
        QTest::newRow("request, the default") << true << QString() << QStringLiteral("tls login");
        QTest::newRow("off") << true << QStringLiteral(";Encryption=off") << QStringLiteral("login");
        QTest::newRow("require, server without a certificate") << false << QStringLiteral(";Encryption=require") << QString();
    }

    void encryptedLogins()
    {
        QFETCH(bool, certificate);
        QFETCH(QString, setting);
        QFETCH(QString, logged);
        TestDatabase::Options o;
        o.open = false;
        TestDatabase db(o);
        // The server makes its certificate with the host's openssl.
        TdsTestServer server(db.path(), certificate ? QStringList{QStringLiteral("--tls-self-signed")} : QStringList{});
        QVERIFY2(server.started(), qPrintable(server.error()));
        ConnectionParams p = server.params();
        p.odbcName += setting;
        QString why;
        const bool opened = LibDB::open(p, &why);
        QCOMPARE(opened, !logged.isEmpty());
        if (!opened) {
            QVERIFY(!why.isEmpty());
            return;
        }
        QCOMPARE(server.requests().constFirst(), logged);
        QCOMPARE(LibDB::scalar(QStringLiteral("select ad_name from www_admin where ad_code='admin'")).toString().trimmed(),
                 QStringLiteral("系统管理员"));
    }

    // SQL Server Express is a named instance on a port of its own, which
    // FreeTDS asks the SQL Server Browser for (UDP 1434) when no port is set.
    void namedInstanceThroughTheBrowser()
    {
        // The Browser's port is one for the machine: the run over the wire
        // leaves it to this one, which may run beside it.
        if (TestDatabase::overTheWire())
            QSKIP("the Browser's port is taken by the run on the embedded database");
        TestDatabase::Options o;
        o.open = false;
        TestDatabase db(o);
        TdsTestServer server(db.path());
        QVERIFY2(server.started(), qPrintable(server.error()));
        // With a port the instance's name is not looked up (nor checked).
        ConnectionParams withPort = server.params();
        withPort.odbcName.replace(QStringLiteral("SERVER=127.0.0.1;"), QStringLiteral("SERVER=127.0.0.1\\NOSUCH;"));
        QVERIFY(withPort.odbcName.contains(QStringLiteral("NOSUCH;PORT=")));
        QString why;
        QVERIFY2(LibDB::open(withPort, &why), qPrintable(why));
        LibDB::close();
        try {
            server.control(QStringLiteral("browser SQLEXPRESS"));
        } catch (const DbError &e) {
            QSKIP(qPrintable(QStringLiteral("no Browser on loopback: ") + e.text()));
        }
        ConnectionParams p = server.params();
        p.odbcName = QStringLiteral("DRIVER={%1};SERVER=127.0.0.1\\sqlexpress;DATABASE=www;TDS_Version=7.4;ClientCharset=UTF-8")
                         .arg(TdsTestServer::driverPath());
        QVERIFY2(LibDB::open(p, &why), qPrintable(why));
        QCOMPARE(LibDB::scalar(QStringLiteral("select count(*) from www_admin")).toInt(), 3);
        QCOMPARE(server.countRequests(QStringLiteral("browser")), 1);
        LibDB::close();

        // An instance the Browser does not know: no connection, and a reason.
        p.odbcName.replace(QStringLiteral("sqlexpress"), QStringLiteral("OTHER"));
        QVERIFY(!LibDB::open(p, &why));
        QVERIFY(!why.isEmpty());
    }

    // The ODBC path end to end: a data source set up here, through unixODBC
    // and the SQLite ODBC driver, to a database file.
    void odbcEndToEnd()
    {
#ifdef Q_OS_WIN
        QSKIP("a data source on Windows is the ODBC administrator's; connection strings are tested over FreeTDS");
#endif
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

QTEST_GUILESS_MAIN(TestDbConnection)
#include "tst_db_connection.moc"
