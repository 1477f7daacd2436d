// The console's Windows side: settings in the real registry, files told
// apart by volume and file index, the runner started as a Windows program.
#include "atomicfile.h"
#include "errors.h"
#include "fileidentity.h"
#include "libdb.h"
#include "machinesettings.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>

using namespace lectoria;
using namespace lectoria::test;

namespace {

const wchar_t *const keyPath = L"SOFTWARE\\Marrowind\\Lectoria";

// The registry key as the console's users' machines have it: gone before and
// after each test, and no settings file in the way.
struct CleanRegistry {
    QByteArray savedSettings = qgetenv("LECTORIA_SETTINGS");
    CleanRegistry()
    {
        qunsetenv("LECTORIA_SETTINGS");
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, keyPath);
    }
    ~CleanRegistry()
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, keyPath);
        qputenv("LECTORIA_SETTINGS", savedSettings);
    }
};

// A value put into the key by another program (regedit, a deployment script).
void setRaw(const wchar_t *name, DWORD type, const void *data, DWORD size)
{
    HKEY key = nullptr;
    QCOMPARE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr), ERROR_SUCCESS);
    QCOMPARE(RegSetValueExW(key, name, 0, type, static_cast<const BYTE *>(data), size), ERROR_SUCCESS);
    RegCloseKey(key);
}

QString runner()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../../src/batch/lectoria-batch.exe"));
}

int runBatch(const QString &settings, const QStringList &args, QString *err = nullptr)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LECTORIA_SETTINGS"), settings);
    env.insert(QStringLiteral("LECTORIA_PASSWORD"), QStringLiteral("qzmvt"));
    p.setProcessEnvironment(env);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(runner(), args);
    if (!p.waitForFinished(180000))
        return -3;
    if (err)
        *err = QString::fromLocal8Bit(p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
}

QString writeSettingsFile(const QString &folder, const QString &odbcName)
{
    const QString path = QDir(folder).filePath(QStringLiteral("lectoria.conf"));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(QStringLiteral("[General]\nODBCNAME=%1\nSCHOOLNAME=实验中学\n").arg(odbcName).toUtf8());
    return path;
}

} // namespace

class TestWindows : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // What the connection dialog writes, read back through the registry;
    // values typed in by hand in either string or number form count too.
    void registryKeyRoundTrip()
    {
        CleanRegistry clean;
        QCOMPARE(MachineSettings::location(), QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Marrowind\\Lectoria"));
        QVERIFY(!MachineSettings::keyExists());
        QVERIFY(MachineSettings::readAll().isEmpty());
        QCOMPARE(MachineSettings::createKeys(), QString());
        QVERIFY(MachineSettings::keyExists());
        QVERIFY(MachineSettings::write({{QStringLiteral("ODBCNAME"), QStringLiteral("DRIVER={SQL Server};SERVER=库;")},
                                        {QStringLiteral("SCHOOLNAME"), QStringLiteral("砚山实验中学")}}));
        QVERIFY(MachineSettings::write({{QStringLiteral("INPUTTYPE"), QString()}}));
        const wchar_t hand[] = L"1";
        setRaw(L"reportchart", REG_SZ, hand, sizeof hand);
        const DWORD number = 1;
        setRaw(L"IMPORTSKIPEXISTING", REG_DWORD, &number, sizeof number);

        QString error;
        const QMap<QString, QString> v = MachineSettings::readAll(&error);
        QCOMPARE(error, QString());
        QCOMPARE(v.value(QStringLiteral("ODBCNAME")), QStringLiteral("DRIVER={SQL Server};SERVER=库;"));
        QCOMPARE(v.value(QStringLiteral("SCHOOLNAME")), QStringLiteral("砚山实验中学"));
        QVERIFY(v.contains(QStringLiteral("INPUTTYPE")));
        QCOMPARE(v.value(QStringLiteral("INPUTTYPE")), QString());
        QCOMPARE(v.value(QStringLiteral("REPORTCHART")), QStringLiteral("1"));
        QCOMPARE(v.value(QStringLiteral("IMPORTSKIPEXISTING")), QStringLiteral("1"));

        // The value as stored: a string with its terminating zero, no more.
        wchar_t stored[64] = {};
        DWORD size = sizeof stored;
        QCOMPARE(RegGetValueW(HKEY_LOCAL_MACHINE, keyPath, L"SCHOOLNAME", RRF_RT_REG_SZ, nullptr, stored, &size),
                 ERROR_SUCCESS);
        QCOMPARE(size, DWORD(7 * sizeof(wchar_t)));
    }

    // LECTORIA_SETTINGS still names a file, which then stands for the key:
    // the registry is neither read nor written.
    void settingsFileOverridesTheRegistry()
    {
        CleanRegistry clean;
        const wchar_t school[] = L"注册表里的学校";
        setRaw(L"SCHOOLNAME", REG_SZ, school, sizeof school);
        TestSettings settings;
        settings.write({{QStringLiteral("SCHOOLNAME"), QStringLiteral("文件里的学校")}});
        QCOMPARE(MachineSettings::location(), settings.path());
        QCOMPARE(MachineSettings::value(QStringLiteral("SCHOOLNAME")), QStringLiteral("文件里的学校"));
        QVERIFY(MachineSettings::write({{QStringLiteral("ODBCNAME"), QStringLiteral("wwwODBC")}}));
        wchar_t stored[8] = {};
        DWORD size = sizeof stored;
        QCOMPARE(RegGetValueW(HKEY_LOCAL_MACHINE, keyPath, L"ODBCNAME", RRF_RT_REG_SZ, nullptr, stored, &size),
                 LONG(ERROR_FILE_NOT_FOUND));
    }

    // An embedded database named relative to the registry key is found
    // beside the program, where the installer puts the demo database.
    void relativeDatabaseBesideTheProgram()
    {
        CleanRegistry clean;
        QVERIFY(MachineSettings::write({{QStringLiteral("ODBCNAME"), QStringLiteral("sqlite:no-such-www.db")}}));
        QString error;
        QVERIFY(!LibDB::open(LibDB::paramsFromSettings(), &error));
        const QString expected = QDir::toNativeSeparators(
            QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("no-such-www.db")));
        QVERIFY2(error.contains(expected), qPrintable(error));
        QVERIFY2(expected.contains(QLatin1Char('\\')) && expected.at(1) == QLatin1Char(':'), qPrintable(expected));
    }

    // One import of a kind at a time on the embedded database: a second
    // lock of the kind waits its time and is refused, another kind's is
    // granted, SQLite goes on writing beside the locks, and the kind is free
    // again once the first lock ends. (Windows keeps locks by handle, so one
    // process shows what two runs of the console would.)
    void importLockOnTheEmbeddedDatabase()
    {
        TestDatabase db;
        LibDB::setLockTimeout(300);
        const QString refusal = QStringLiteral("另一个导入正在进行");
        {
            LibWorkLock first(QStringLiteral("lectoria-import-dzts"), 1, refusal);
            try {
                LibWorkLock second(QStringLiteral("lectoria-import-dzts"), 1, refusal);
                QFAIL("a second lock of the same kind was granted");
            } catch (const DbError &e) {
                QCOMPARE(e.text(), refusal);
            }
            LibWorkLock otherKind(QStringLiteral("lectoria-import-bklw"), 2, refusal);
            LibDB::exec(QStringLiteral("update www_admin set ad_name = ad_name"));
            QCOMPARE(LibDB::scalar(QStringLiteral("select count(*) from www_admin")).toInt(),
                     db.scalar(QStringLiteral("select count(*) from www_admin")).toInt());
        }
        LibWorkLock again(QStringLiteral("lectoria-import-dzts"), 1, refusal);
    }

    // One file reached by names that differ in case, separators and through
    // a hard link has one identity; another file and a folder do not.
    void fileIdentity()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Data.db"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("x");
        f.close();
        const QString link = dir.filePath(QStringLiteral("link.db"));
        QVERIFY(CreateHardLinkW(QDir::toNativeSeparators(link).toStdWString().c_str(),
                                QDir::toNativeSeparators(path).toStdWString().c_str(), nullptr));
        const QString other = dir.filePath(QStringLiteral("other.db"));
        QFile o(other);
        QVERIFY(o.open(QIODevice::WriteOnly));
        o.close();

        FileIdentity a, b;
        bool regular = false;
        QVERIFY(identifyFile(path, &a, &regular));
        QVERIFY(regular);
        for (const QString &name : {QDir::toNativeSeparators(path), path.toUpper(), link}) {
            QVERIFY2(identifyFile(name, &b), qPrintable(name));
            QVERIFY2(a == b, qPrintable(name));
        }
        QVERIFY(identifyFile(other, &b));
        QVERIFY(!(a == b));
        QVERIFY(identifyFile(dir.path(), &b, &regular));
        QVERIFY(!regular);
        QVERIFY(!identifyFile(dir.filePath(QStringLiteral("missing.db")), &b));
    }

    // The output guards on Windows: the open database by another spelling of
    // its name, or a companion file yet to come by another case, and devices
    // are refused; an ordinary new file is not.
    void outputGuards_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("refused");
        QTest::newRow("new file") << QStringLiteral("report.txt") << false;
        QTest::newRow("database, upper case") << QStringLiteral("WWW.DB") << true;
        QTest::newRow("database, backslashes") << QStringLiteral("\\www.db") << true;
        QTest::newRow("companion to come, other case") << QStringLiteral("WWW.DB-WAL") << true;
        QTest::newRow("null device") << QStringLiteral("NUL") << true;
        QTest::newRow("folder") << QStringLiteral(".") << true;
    }
    void outputGuards()
    {
        QFETCH(QString, target);
        QFETCH(bool, refused);
        QTemporaryDir dir;
        const QString db = dir.filePath(QStringLiteral("www.db"));
        QFile f(db);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        setGuardedFiles({db, db + QStringLiteral("-wal")});
        QString path = target == QLatin1String("NUL") ? target
                       : target.startsWith(QLatin1Char('\\'))
                           ? QDir::toNativeSeparators(dir.path()) + target
                           : dir.filePath(target);
        bool threw = false;
        try {
            checkOutputTarget(path);
        } catch (const FileError &) {
            threw = true;
        }
        setGuardedFiles({});
        QCOMPARE(threw, refused);
    }

    // The runner as a Windows program: the exit status says what happened.
    void runnerStatuses_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        const QString op = QStringLiteral("--operator");
        QTest::newRow("report") << QStringList{QStringLiteral("report"), QStringLiteral("dzts"), QStringLiteral("stats"),
                                               QStringLiteral("--format"), QStringLiteral("txt"), QStringLiteral("--output"),
                                               QStringLiteral("OUT"), op, QStringLiteral("admin")}
                                << 0;
        QTest::newRow("unknown option") << QStringList{QStringLiteral("report"), QStringLiteral("dzts"), QStringLiteral("stats"),
                                                       QStringLiteral("--colour"), QStringLiteral("red")}
                                        << 1;
        QTest::newRow("output is the database") << QStringList{QStringLiteral("report"), QStringLiteral("dzts"),
                                                               QStringLiteral("stats"), QStringLiteral("--format"),
                                                               QStringLiteral("csv"), QStringLiteral("--output"),
                                                               QStringLiteral("DB"), op, QStringLiteral("admin")}
                                                << 4;
        QTest::newRow("output is a device") << QStringList{QStringLiteral("export"), QStringLiteral("dzts"),
                                                           QStringLiteral("--from"), QStringLiteral("2000-01-01"),
                                                           QStringLiteral("--to"), QStringLiteral("2030-12-31"),
                                                           QStringLiteral("--output"), QStringLiteral("NUL"), op,
                                                           QStringLiteral("admin")}
                                            << 4;
    }
    void runnerStatuses()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        TestDatabase::Options o;
        o.open = false;
        o.recordsPerKind = 3;
        TestDatabase db(o);
        QTemporaryDir dir;
        const QString settings = writeSettingsFile(dir.path(), db.odbcName());
        const QString out = dir.filePath(QStringLiteral("out.txt"));
        for (QString &a : args) {
            if (a == QLatin1String("OUT")) a = QDir::toNativeSeparators(out);
            // The database by its Windows name in upper case: the same file.
            if (a == QLatin1String("DB")) a = QDir::toNativeSeparators(db.path()).toUpper();
        }
        QString err;
        QCOMPARE(runBatch(settings, args, &err), status);
        if (status == 0)
            QVERIFY(QFileInfo(out).size() > 0);
        else
            QVERIFY(!err.isEmpty());
    }
};

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
