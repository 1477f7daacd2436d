// Machine settings, the stored credentials' protection, connection parameters.
#include "atomicfile.h"
#include "helperlib.h"
#include "libdb.h"
#include "machinesettings.h"
#include "testsupport.h"
#include "text.h"

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

#include <QDir>
#include <QFile>
#include <QTest>

using namespace lectoria;
using namespace lectoria::test;

namespace {
// A settings file holds the database login: on Linux its owner's alone.
// On Windows the values live in the registry, whose key rights guard them.
void verifyOwnerOnly(const QString &path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path)
#else
    struct stat st{};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1, 0600);
#endif
}
} // namespace

class TestDbSettings : public QObject {
    Q_OBJECT

private Q_SLOTS:
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
        // A value typed into the settings by hand is used as it stands, also
        // one that looks like the stored form but is not text of it.
        for (const char *typed : {"plainpw", "QY12345", "QY1abcd"})
            QCOMPARE(qyDeSecrectString(QLatin1String(typed)), QLatin1String(typed));
    }

    void settingsFile()
    {
        TestSettings settings;
        QVERIFY(!MachineSettings::keyExists());
        QCOMPARE(MachineSettings::value(QStringLiteral("ODBCNAME")), QString());
        // Creating the keys creates the folder (parent key) and the file (key).
        QCOMPARE(MachineSettings::createKeys(), QString());
        QVERIFY(MachineSettings::keyExists());
        // It will hold the database login: its owner's alone.
        verifyOwnerOnly(settings.path());
        QFile::remove(settings.path());
        QVERIFY(MachineSettings::write({{QStringLiteral("ODBCNAME"), QStringLiteral("DRIVER=x;SERVER=a,1433")},
                                        {QStringLiteral("INPUTTYPE"), QStringLiteral("拼音")}}));
        QCOMPARE(MachineSettings::value(QStringLiteral("ODBCNAME")), QStringLiteral("DRIVER=x;SERVER=a,1433"));
        QCOMPARE(MachineSettings::value(QStringLiteral("INPUTTYPE")), QStringLiteral("拼音"));
        verifyOwnerOnly(settings.path());

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
        if (!permissionsBind())
            QSKIP("file permissions do not bind root or Windows' access lists");
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
        // No key: nothing stored (the connection dialog's fields stay empty),
        // while connecting takes the default data source and no credentials.
        StoredConnection stored = LibDB::storedConnection();
        QVERIFY(!stored.exists);
        QVERIFY(stored.odbcName.isEmpty() && stored.user.isEmpty() && stored.password.isEmpty());
        ConnectionParams p = LibDB::paramsFromSettings();
        QCOMPARE(p.odbcName, QStringLiteral("wwwODBC"));
        QVERIFY(!p.hasCredentials);
        QCOMPARE(LibDB::odbcConnectionString(p), QStringLiteral("DSN=wwwODBC"));

        settings.write({{QStringLiteral("ODBCNAME"), QStringLiteral("  site  ")},
                        {QStringLiteral("USERNAME"), qyBeSecrectString(QStringLiteral("sa"))},
                        {QStringLiteral("PASSWORD"), QStringLiteral(" ") + qyBeSecrectString(QStringLiteral("a;b}c"))}});
        stored = LibDB::storedConnection();
        QVERIFY(stored.exists);
        QCOMPARE(stored.odbcName, QStringLiteral("site"));
        QCOMPARE(stored.password, QStringLiteral("a;b}c"));
        p = LibDB::paramsFromSettings();
        QCOMPARE(p.odbcName, QStringLiteral("site"));
        QVERIFY(p.hasCredentials);
        QCOMPARE(p.user, QStringLiteral("sa"));
        QCOMPARE(p.password, QStringLiteral("a;b}c"));
        QCOMPARE(LibDB::odbcConnectionString(p), QStringLiteral("DSN=site;UID=sa;PWD={a;b}c};"));

        p.odbcName = QStringLiteral("DRIVER={FreeTDS};SERVER=db;DATABASE=www");
        QCOMPARE(LibDB::odbcConnectionString(p),
                 QStringLiteral("DRIVER={FreeTDS};SERVER=db;DATABASE=www;UID=sa;PWD={a;b}c};"));

        // Empty stored credentials leave those of the string in force.
        p.odbcName = QStringLiteral("DRIVER={FreeTDS};SERVER=db;UID=sa;PWD=x");
        p.user.clear();
        p.password.clear();
        QCOMPARE(LibDB::odbcConnectionString(p), p.odbcName);
    }

    // LOCKTIMEOUT in seconds; anything but a whole number in range keeps the default.
    void lockTimeout_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("seconds");
        QTest::newRow("missing") << QString() << 30;
        QTest::newRow("set") << QStringLiteral("5") << 5;
        QTest::newRow("blanks around") << QStringLiteral(" 12 ") << 12;
        QTest::newRow("no wait") << QStringLiteral("0") << 0;
        QTest::newRow("for ever is no bound") << QStringLiteral("-1") << 30;
        QTest::newRow("text") << QStringLiteral("abc") << 30;
        QTest::newRow("a fraction") << QStringLiteral("1.5") << 30;
        QTest::newRow("over a day") << QStringLiteral("86401") << 30;
    }
    void lockTimeout()
    {
        QFETCH(QString, value);
        QFETCH(int, seconds);
        TestSettings settings;
        if (!value.isNull())
            settings.write({{QStringLiteral("LOCKTIMEOUT"), value}});
        QCOMPARE(MachineSettings::lockTimeoutSeconds(), seconds);
    }

    // Settings that are there but cannot be read are reported (and the
    // defaults apply); a folder where the file should be is no key at all.
    void settingsThatCannotBeRead_data()
    {
        QTest::addColumn<bool>("folder");
        QTest::addColumn<bool>("reported");
        QTest::newRow("a folder in its place: no key, nothing to report") << true << false;
        QTest::newRow("a file without read permission") << false << true;
    }
    void settingsThatCannotBeRead()
    {
        QFETCH(bool, folder);
        QFETCH(bool, reported);
        TestSettings settings;
        if (folder) {
            QVERIFY(QDir().mkpath(settings.path()));
        } else {
            if (!permissionsBind())
                QSKIP("file permissions do not bind root or Windows' access lists");
            settings.write({{QStringLiteral("ODBCNAME"), QStringLiteral("site")}});
            QVERIFY(QFile::setPermissions(settings.path(), QFileDevice::WriteOwner));
        }
        QString error;
        const ConnectionParams p = LibDB::paramsFromSettings(&error);
        QCOMPARE(!error.isEmpty(), reported);
        if (reported)
            QVERIFY2(error.contains(settings.path()), qPrintable(error));
        QCOMPARE(p.odbcName, folder ? QStringLiteral("wwwODBC") : QString());
    }
};

QTEST_GUILESS_MAIN(TestDbSettings)
#include "tst_db_settings.moc"
