#include "atomicfile.h"
#include "databasebackup.h"
#include "errors.h"
#include "dialect.h"
#include "libdb.h"
#include "serverbackup.h"
#include "tbackup.h"
#include "tdstestserver.h"
#include "testsupport.h"
#include "tidyupcommand.h"
#include "unglobal.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace lectoria;
using namespace lectoria::test;

namespace {

// Rows of a table in a copy of the database, through a connection of its own.
int countIn(const QString &file, const QString &table)
{
    int n = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("copy"));
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("select count(*) from ") + table) && q.next())
                n = q.value(0).toInt();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("copy"));
    return n;
}

} // namespace

class TestBackup : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { resetSession(); }

    void weekdays_data()
    {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("name");
        QTest::newRow("monday") << QDate(2024, 3, 4) << "www_1.dat" << QStringLiteral("星期一");
        QTest::newRow("wednesday") << QDate(2024, 3, 6) << "www_3.dat" << QStringLiteral("星期三");
        QTest::newRow("sunday") << QDate(2024, 3, 10) << "www_7.dat" << QStringLiteral("星期日");
    }
    void weekdays()
    {
        QFETCH(QDate, date);
        QFETCH(QString, file);
        QFETCH(QString, name);
        unGlobal().ServerDate = QDateTime(date, QTime(23, 59));
        TBackUp dlg(nullptr);
        QCOMPARE(dlg.findChild<QLabel *>(QStringLiteral("lbString"))->text(), file);
        QCOMPARE(dlg.findChild<QLabel *>(QStringLiteral("lbWeek"))->text(), name);
        QCOMPARE(dlg.findChild<QLineEdit *>(QStringLiteral("edPath"))->text(), QString());
    }

    void separators_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("directory");
        QTest::newRow("windows, appended") << QStringLiteral(" D:\\bak ") << QStringLiteral("D:\\bak\\");
        QTest::newRow("windows, kept") << QStringLiteral("D:\\bak\\") << QStringLiteral("D:\\bak\\");
        QTest::newRow("unix, appended") << QStringLiteral("/srv/bak") << QStringLiteral("/srv/bak/");
        QTest::newRow("unix, kept") << QStringLiteral("/srv/bak/") << QStringLiteral("/srv/bak/");
        QTest::newRow("mixed is windows") << QStringLiteral("D:/a\\b") << QStringLiteral("D:/a\\b\\");
        QTest::newRow("unix, backslash in a name") << QStringLiteral("/srv/a\\b") << QStringLiteral("/srv/a\\b/");
        QTest::newRow("unix, ends in a backslash") << QStringLiteral("/srv/ab\\") << QStringLiteral("/srv/ab\\/");
        QTest::newRow("empty") << QString() << QStringLiteral("\\");
    }
    void separators()
    {
        QFETCH(QString, typed);
        QFETCH(QString, directory);
        QCOMPARE(DatabaseBackup::withSeparator(typed), directory);
        TBackUp dlg(nullptr);
        auto *path = dlg.findChild<QLineEdit *>(QStringLiteral("edPath"));
        path->setText(typed);
        dlg.edPathExit();
        QCOMPARE(path->text(), directory);
    }

    void statementAsWritten()
    {
        QCOMPARE(DatabaseBackup::statement(QStringLiteral("D:\\bak\\"), 3),
                 QStringLiteral("backup database www to disk='D:\\bak\\www_3.dat' WITH FORMAT,INIT"));
        const QString quoted = DatabaseBackup::statement(QStringLiteral("/srv/o'b/"), 7);
        QCOMPARE(quoted, QStringLiteral("backup database www to disk='/srv/o''b/www_7.dat' WITH FORMAT,INIT"));
        // SQLite copies the file to a temporary name first; the quote stays doubled.
        QCOMPARE(backupDiskFile(quoted), QStringLiteral("/srv/o'b/www_7.dat"));
        QCOMPARE(adaptStatement(quoted, Dialect::Sqlite), QStringLiteral("VACUUM INTO '/srv/o''b/www_7.dat.part'"));
        QCOMPARE(adaptStatement(quoted, Dialect::SqlServer), quoted);
    }

    // The weekday's file appears as a usable copy; a second backup the same day replaces it.
    void backupOnTheEmbeddedDatabase()
    {
        TestDatabase db;
        ScriptedPrompt p;
        QStringList log;
        LibDB::setStatementLog(&log);
        ScopeExit stopLog([] { LibDB::setStatementLog(nullptr); });
        QTemporaryDir target;
        const QString folder = target.filePath(QStringLiteral("it's here"));
        QVERIFY(QDir().mkpath(folder));
        unGlobal().ServerDate = QDateTime(QDate(2024, 3, 10), QTime(9, 0));

        TBackUp dlg(nullptr);
        dlg.show();
        dlg.findChild<QLineEdit *>(QStringLiteral("edPath"))->setText(folder); // no separator: added on backup
        auto *backup = dlg.findChild<QPushButton *>(QStringLiteral("BitBtn1"));
        backup->click();
        const QString file = folder + QStringLiteral("/www_7.dat");
        QCOMPARE(log, QStringList{QStringLiteral("backup database www to disk='%1' WITH FORMAT,INIT")
                                      .arg(QString(file).replace(QLatin1Char('\''), QLatin1String("''")))});
        QCOMPARE(p.texts(), QStringList{DatabaseBackup::successMessage(QStringLiteral("www_7.dat"))});
        QCOMPARE(p.shown.constFirst().caption, QStringLiteral("提示信息"));
        QCOMPARE(countIn(file, QStringLiteral("www_admin")), 3);
        QVERIFY(dlg.findChild<QLabel *>(QStringLiteral("lbNotice"))->isHidden());

        db.addOperator(QStringLiteral("lib02"), QStringLiteral("新"), QStringLiteral("lib02"), QString());
        backup->click();
        QCOMPARE(p.shown.size(), 2);
        QCOMPARE(countIn(file, QStringLiteral("www_admin")), 4);
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("www_7.dat")});
    }

    // The server cuts the backup's messages or stops answering: the
    // failure box, no success, and the older file of the weekday intact.
    void backupOnAFailingServer_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("cut") << QStringLiteral("cut bytes 150 when backup database");
        QTest::newRow("silent") << QStringLiteral("freeze when backup database");
    }
    void backupOnAFailingServer()
    {
        QFETCH(QString, fault);
        if (!TestDatabase::overTheWire())
            QSKIP("runs in the run over the TDS test server");
        TestSettings settings;
        settings.write({{QStringLiteral("QUERYTIMEOUT"), QStringLiteral("2")}});
        TestDatabase db;
        ScriptedPrompt p;
        QTemporaryDir target;
        const QString file = target.filePath(QStringLiteral("www_3.dat"));
        QFile older(file);
        QVERIFY(older.open(QIODevice::WriteOnly));
        older.write("last week's backup");
        older.close();
        unGlobal().ServerDate = QDateTime(QDate(2024, 3, 6), QTime(9, 0));
        TBackUp dlg(nullptr);
        dlg.show();
        dlg.findChild<QLineEdit *>(QStringLiteral("edPath"))->setText(target.path());
        db.server()->control(fault);
        dlg.findChild<QPushButton *>(QStringLiteral("BitBtn1"))->click();
        db.server()->control(QStringLiteral("thaw"));
        QCOMPARE(p.shown.size(), 1);
        QCOMPARE(p.shown.constFirst().caption, QStringLiteral(" 错误提示"));
        QVERIFY2(p.shown.constFirst().text.contains(QStringLiteral("备份数据库失败!")), qPrintable(p.shown.constFirst().text));
        QCOMPARE(readWholeFile(file), QByteArray("last week's backup"));
        QCOMPARE(QDir(target.path()).entryList(QDir::Files), QStringList{QStringLiteral("www_3.dat")});
    }

    void missingFolderFails_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("reason"); // what the embedded database's server says
        QTest::newRow("missing folder") << QStringLiteral("/nonexistent/lectoria/bak/")
                                        << QStringLiteral("服务器中没有此目录：/nonexistent/lectoria/bak/");
        QTest::newRow("relative") << QStringLiteral("bak/") << QStringLiteral("不能是相对路径：bak/");
#ifdef Q_OS_WIN
        // A drive letter makes a whole path here: only the folder is missing.
        QTest::newRow("windows path") << QStringLiteral("Q:\\bak\\") << QStringLiteral("服务器中没有此目录：Q:\\bak\\");
#else
        QTest::newRow("windows path on this system") << QStringLiteral("D:\\bak\\")
                                                     << QStringLiteral("不能是相对路径：D:\\bak\\");
#endif
    }
    void missingFolderFails()
    {
        QFETCH(QString, typed);
        QFETCH(QString, reason);
        TestDatabase db;
        ScriptedPrompt p;
        unGlobal().ServerDate = QDateTime(QDate(2024, 3, 6), QTime(9, 0));
        QDir().mkpath(QStringLiteral("bak")); // a relative folder that exists is no answer either
        TBackUp dlg(nullptr);
        dlg.show();
        dlg.findChild<QLineEdit *>(QStringLiteral("edPath"))->setText(typed);
        dlg.findChild<QPushButton *>(QStringLiteral("BitBtn1"))->click();
        QCOMPARE(p.shown.size(), 1);
        QCOMPARE(p.shown.constFirst().caption, QStringLiteral(" 错误提示"));
        const QString expected = QStringLiteral(
            "备份数据库失败!\r\n\r\n可能有如下问题：\r\n  1、服务器中没有此目录：%1\r\n  2、此文件[www_3.dat]可能被锁定。\r\n"
            "  3、硬盘空间不足\r\n\r\n解决办法：\r\n  1、请在服务器中建立此目录或改为已存在的目录\r\n"
            "  2、请解除此文件的锁定或重起数据库服务器\r\n  3、请在服务器的此目录所在硬盘腾出空间").arg(typed);
        const QString text = p.shown.constFirst().text;
        QVERIFY2(text.startsWith(expected + QStringLiteral("\r\n\r\n数据库服务器的说明：")), qPrintable(text));
        if (LibDB::dialect() == Dialect::Sqlite)
            QVERIFY2(text.contains(reason), qPrintable(text));
        QDir().rmdir(QStringLiteral("bak"));
        QVERIFY(dlg.isVisible()); // open for another try
        QVERIFY(dlg.findChild<QLabel *>(QStringLiteral("lbNotice"))->isHidden());
        QVERIFY(!QFile::exists(QStringLiteral("bak/www_3.dat.part")));
    }

    // A failed backup says what the server said, not how far it had come.
    void backupErrorWithoutProgress_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        const QString p = QStringLiteral("[FreeTDS][SQL Server]");
        QTest::newRow("progress, then the failure")
            << p + "10 percent processed.\n" + p + "20 percent processed.\n" + p
                   + "Write on \"D:\\bak\\www_3.dat\" failed: 112(not enough space on the disk.)\n" + p
                   + "BACKUP DATABASE is terminating abnormally."
            << p + "Write on \"D:\\bak\\www_3.dat\" failed: 112(not enough space on the disk.)\n" + p
                   + "BACKUP DATABASE is terminating abnormally.";
        QTest::newRow("only progress") << p + "30 percent processed. " + p + "Processed 354 pages for database 'www', file 'www' on file 1."
                                       << "数据库服务器没有说明原因";
        QTest::newRow("failure alone") << "Cannot open backup device." << "Cannot open backup device.";
    }
    void backupErrorWithoutProgress()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(backupErrorText(text), shown);
    }

    // A partial copy left by a killed backup goes at the next one.
    void stalePartialCopiesRemoved()
    {
        if (TestDatabase::overTheWire())
            QSKIP("the server writes its own files");
        TestDatabase db;
        QTemporaryDir target;
        for (const char *name : {"www_2.dat.part", "www_5.dat.part"}) {
            QFile f(target.filePath(QLatin1String(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        const DatabaseBackup::Outcome o = DatabaseBackup::run(target.path(), QDate(2024, 3, 6));
        QVERIFY2(o.ok, qPrintable(o.databaseText));
        QCOMPARE(QDir(target.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("www_3.dat")});
    }

    // SQL Server's own refusals name their cause: the login's right, the
    // service account's access to the folder; a missing folder keeps the
    // list of likely causes, which names it first.
    void serverRefusalsSayWhy_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("folderExists");
        QTest::addColumn<QString>("said");
        QTest::addColumn<QString>("serverSaid");
        QTest::newRow("no backup right") << QStringLiteral("deny sa backup") << true
                                         << QStringLiteral("没有备份数据库的权限（BACKUP DATABASE）")
                                         << QStringLiteral("BACKUP DATABASE permission denied in database 'www'");
        QTest::newRow("service account may not write") << QStringLiteral("backup-unwritable %1") << true
                                                       << QStringLiteral("服务账户无权写入服务器上的此目录：%1/")
                                                       << QStringLiteral("Operating system error 5(Access is denied.)");
        QTest::newRow("no such folder on the server") << QStringLiteral("ping") << false
                                                      << QStringLiteral("1、服务器中没有此目录：%1/")
                                                      << QStringLiteral("Operating system error 3(");
    }

    void serverRefusalsSayWhy()
    {
        QFETCH(QString, command);
        QFETCH(bool, folderExists);
        QFETCH(QString, said);
        QFETCH(QString, serverSaid);
        TestDatabase::Options o;
        o.open = false;
        TestDatabase db(o);
        TdsTestServer server(db.path());
        QVERIFY2(server.started(), qPrintable(server.error()));
        QTemporaryDir target;
        const QString folder = target.filePath(QStringLiteral("bak"));
        if (folderExists)
            QVERIFY(QDir().mkpath(folder));
        server.control(command.contains(QLatin1String("%1")) ? command.arg(folder) : command);
        server.openAsLibDB();
        ScopeExit closeDb([] { LibDB::close(); });
        const DatabaseBackup::Outcome out = DatabaseBackup::run(folder, QDate(2024, 3, 6));
        QVERIFY(!out.ok);
        QVERIFY2(out.message.contains(said.contains(QLatin1String("%1")) ? said.arg(folder) : said), qPrintable(out.message));
        QVERIFY2(out.databaseText.contains(serverSaid), qPrintable(out.databaseText));
        QVERIFY(!QFile::exists(folder + QStringLiteral("/www_3.dat")));
    }

    void tidyUp()
    {
        TestDatabase db;
        ScriptedPrompt p;
        QStringList log;
        LibDB::setStatementLog(&log);
        ScopeExit stopLog([] { LibDB::setStatementLog(nullptr); });
        // An empty title, and titles of blanks (the import stores ' ' for an
        // empty title field): each is empty to SQL Server's '='.
        const QStringList emptyTitles{QStringLiteral(""), QStringLiteral(" "), QStringLiteral("   ")};
        for (const CatalogueKind &k : catalogueKinds()) {
            for (const QString &title : emptyTitles)
                db.addRecord(k.kind, {{QStringLiteral("li_title"), title}, {QStringLiteral("li_typeid"), 1}});
            db.addRecord(k.kind, {{QStringLiteral("li_title"), QStringLiteral("有标题")}, {QStringLiteral("li_typeid"), 1}});
        }
        auto count = [&](const QString &table) { return db.scalar(QStringLiteral("select count(*) from ") + table).toInt(); };

        p.answers = {false};
        tidyUpDatabase(nullptr);
        QVERIFY(log.isEmpty());
        QCOMPARE(p.shown.constFirst().text, QStringLiteral("您确定要整理数据库吗？系统将删除表中的空记录及其他一些处理！"));
        QCOMPARE(count(QStringLiteral("www_shdh")), 4);

        p.clear();
        p.answers = {true};
        tidyUpDatabase(nullptr);
        QCOMPARE(log.size(), 5);
        QCOMPARE(log.constFirst(), QStringLiteral("delete from www_lineread \nwhere li_title=''"));
        QCOMPARE(p.texts().constLast(), QStringLiteral("整理数据库完成！"));
        for (const CatalogueKind &k : catalogueKinds())
            QCOMPARE(count(k.recordTable), k.kind == Kind::Zxsp ? 4 : 1);
    }

    // A failing delete: the database's text, no completion message, the
    // deletes before it done and those after it not run.
    void tidyUpFailure()
    {
        TestDatabase db;
        ScriptedPrompt p;
        for (Kind k : {Kind::Dzts, Kind::Zxyy})
            db.addRecord(k, {{QStringLiteral("li_title"), QStringLiteral("")}});
        db.exec(QStringLiteral("drop table www_picture"));
        p.answers = {true};
        tidyUpDatabase(nullptr);
        QCOMPARE(p.shown.size(), 2);
        QCOMPARE(p.shown.constLast().caption, applicationTitle());
        QVERIFY(p.shown.constLast().text.contains(QStringLiteral("www_picture")));
        QCOMPARE(db.scalar(QStringLiteral("select count(*) from www_lineread")).toInt(), 0);
        QCOMPARE(db.scalar(QStringLiteral("select count(*) from www_music")).toInt(), 1);
    }
};

QTEST_MAIN(TestBackup)
#include "tst_backup.moc"
