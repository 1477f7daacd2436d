#include "gbk.h"
#include "helperlib.h"
#include "atomicfile.h"
#include "batch.h"
#include "dialogtestkit.h"
#include "libdb.h"
#include "listingdialog.h"
#include "statisticsdialog.h"
#include "tdstestserver.h"
#include "testsupport.h"
#include "unglobal.h"

#include <QAction>
#include <QRegularExpression>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>

#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace lectoria;
using namespace lectoria::test;

namespace {

struct Run {
    int status = -1;
    QString err;
    QString out;
    QByteArray bytes; // standard output as it came
};

// Starts the runner as a scheduler would: no terminal, the settings and the
// password in the environment; inChild runs in the child before the runner.
void startBatch(QProcess &p, const QString &settingsFile, const QStringList &args,
                const QString &password = QStringLiteral("qzmvt"), const std::function<void()> &inChild = {})
{
    if (inChild)
        p.setChildProcessModifier(inChild);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LECTORIA_SETTINGS"), settingsFile);
    if (password.isNull()) env.remove(QStringLiteral("LECTORIA_PASSWORD"));
    else env.insert(QStringLiteral("LECTORIA_PASSWORD"), password);
    p.setProcessEnvironment(env);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(QStringLiteral(LECTORIA_BATCH), args);
}

// Runs the runner to its end.
Run runBatch(const QString &settingsFile, const QStringList &args, const QString &password = QStringLiteral("qzmvt"),
             const std::function<void()> &inChild = {})
{
    QProcess p;
    startBatch(p, settingsFile, args, password, inChild);
    p.waitForFinished(120000);
    Run r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    r.bytes = p.readAllStandardOutput();
    r.out = QString::fromLocal8Bit(r.bytes);
    return r;
}

// A database of its own for the runner, named by a settings file.
struct Site {
    TestDatabase db;
    QTemporaryDir dir;
    QString settings;
    explicit Site(int records = 0)
        : Site([records] {
              TestDatabase::Options o;
              o.recordsPerKind = records;
              return o;
          }())
    {
    }
    explicit Site(TestDatabase::Options o) : db((o.open = false, o))
    {
        settings = writeSettings(dir.path(), db.odbcName());
    }
    static QString writeSettings(const QString &folder, const QString &odbcName, int lockTimeout = -1)
    {
        const QString path = QDir(folder).filePath(QStringLiteral("lectoria.conf"));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(QStringLiteral("[General]\nODBCNAME=%1\nSCHOOLNAME=实验中学\n").arg(odbcName).toUtf8());
        if (lockTimeout >= 0)
            f.write(QStringLiteral("LOCKTIMEOUT=%1\n").arg(lockTimeout).toUtf8());
        return path;
    }
};

// The journal modes an embedded database may come in, as _data rows.
void journalModes()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("rollback journal") << QStringLiteral("delete");
    QTest::newRow("WAL") << QStringLiteral("wal");
}

// In a child process: go on as the unprivileged user "nobody" when running
// as root, for whom no file permission stands in the way.
void asUnprivilegedUser()
{
    if (::geteuid() != 0)
        return;
    ::setgroups(0, nullptr);
    if (::setgid(65534) != 0 || ::setuid(65534) != 0)
        ::_exit(99);
}

// The file the console's dialog writes for "全部" and the given output command.
QByteArray dialogFile(ReportParamDialog &dlg, const char *command, const QString &path)
{
    ScriptedPrompt prompt;
    prompt.files << path;
    choose(dlg, QStringLiteral("rdbAllDate"));
    refresh(dlg);
    child<QAction>(dlg, command)->trigger();
    return readWholeFile(path);
}

// The run's date and time are the only thing two runs may differ in.
QByteArray withoutRunTime(QByteArray file)
{
    static const QRegularExpression time(QStringLiteral("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}"));
    return Gbk::encode(Gbk::decode(file).replace(time, QStringLiteral("<run time>")));
}

// An e-book exchange file of the given titles and type ids, whole or cut
// off before its end line.
QByteArray ebookFile(const QList<QPair<QString, QString>> &records, bool whole = true)
{
    QString text = QStringLiteral("@@FILE_BEGIN@@\r\n");
    for (const auto &r : records)
        text += QStringLiteral("@@RECORD_BEGIN@@\r\n@@%1 @!\r\n@@%2 @!\r\n@@ @!\r\n@@ @!\r\n@@ @!\r\n@@ @!\r\n"
                               "@@RECORD_END@@\r\n")
                    .arg(r.first, r.second);
    if (whole)
        text += QStringLiteral("@@FILE_END@@\r\n");
    return Gbk::encode(text);
}

QList<QPair<QString, QString>> books(int n)
{
    QList<QPair<QString, QString>> r;
    for (int i = 1; i <= n; ++i)
        r.append({QStringLiteral("书%1").arg(i), QString::number(i)});
    return r;
}

QString fileWith(const QTemporaryDir &dir, const QByteArray &bytes)
{
    const QString path = dir.filePath(QStringLiteral("in.dat"));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

} // namespace

class TestBatch : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void usageAndHelp()
    {
        Site site;
        Run r = runBatch(site.settings, {QStringLiteral("--help")});
        QCOMPARE(r.status, 0);
        for (const char *command : {"report", "export", "import", "backup", "--operator"})
            QVERIFY2(r.out.contains(QLatin1String(command)), command);
        for (int status = 0; status <= 5; ++status) // every exit status is explained
            QVERIFY(r.out.contains(QStringLiteral("\n  %1  ").arg(status)));
        r = runBatch(site.settings, {QStringLiteral("report"), QStringLiteral("shdh"), QStringLiteral("book"),
                                     QStringLiteral("--format"), QStringLiteral("txt"), QStringLiteral("--output"),
                                     QStringLiteral("x.txt"), QStringLiteral("--operator"), QStringLiteral("admin")});
        QCOMPARE(r.status, 1);
        QVERIFY(r.err.contains(QStringLiteral("用法")));
        r = runBatch(site.settings, {QStringLiteral("export"), QStringLiteral("dzts"), QStringLiteral("--from"),
                                     QStringLiteral("2024-13-01")});
        QCOMPARE(r.status, 1);
        // Qt's own options are wrong arguments like any other, never Qt's.
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("x.csv"));
        for (const QStringList &qt : {QStringList{QStringLiteral("-platform"), QStringLiteral("xcb")},
                                      QStringList{QStringLiteral("-reverse")},
                                      QStringList{QStringLiteral("-stylesheet"), out}}) {
            r = runBatch(site.settings, QStringList{QStringLiteral("report"), QStringLiteral("dzts"), QStringLiteral("stats"),
                                                    QStringLiteral("--format"), QStringLiteral("csv"), QStringLiteral("--output"),
                                                    out, QStringLiteral("--operator"), QStringLiteral("admin")}
                                            + qt);
            QVERIFY2(r.status == 1, qPrintable(qt.first() + r.err));
            QVERIFY2(r.err.contains(QStringLiteral("多余的参数：") + qt.join(QLatin1Char(' '))), qPrintable(r.err));
            QVERIFY(!QFile::exists(out));
        }
    }

    void loginAndRights_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown operator") << QStringLiteral("nobody") << QStringLiteral("x") << 2 << QStringLiteral("没有此用户！");
        QTest::newRow("quote in code") << QStringLiteral("a'b") << QStringLiteral("x") << 2 << QStringLiteral("没有此用户！");
        QTest::newRow("wrong password") << QStringLiteral("admin") << QStringLiteral("QZMVT") << 2 << QStringLiteral("密码错误！");
        QTest::newRow("no password at all") << QStringLiteral("admin") << QString() << 2 << QStringLiteral("LECTORIA_PASSWORD");
        QTest::newRow("right missing") << QStringLiteral("guest") << QStringLiteral("guest") << 2 << QStringLiteral("数据备份");
        QTest::newRow("granted") << QStringLiteral("lib01") << QStringLiteral("lib01") << 0 << QStringLiteral("数据库备份成功！");
    }
    void loginAndRights()
    {
        QFETCH(QString, code);
        QFETCH(QString, password);
        QFETCH(int, status);
        QFETCH(QString, message);
        Site site;
        QTemporaryDir target;
        const Run r = runBatch(site.settings, {QStringLiteral("backup"), target.path(), QStringLiteral("--operator"), code}, password);
        QCOMPARE(r.status, status);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
    }

    void backupWritesTheWeekdayFile()
    {
        Site site(5);
        QTemporaryDir target;
        const Run r = runBatch(site.settings, {QStringLiteral("backup"), target.path(), QStringLiteral("--operator"), QStringLiteral("admin")});
        QCOMPARE(r.status, 0);
        const QString file = QStringLiteral("www_%1.dat").arg(QDate::currentDate().dayOfWeek());
        QVERIFY2(r.err.contains(file), qPrintable(r.err));
        QVERIFY(QFile::exists(QDir(target.path()).filePath(file)));
        // A backslash is part of a folder's name here: the file goes into it, not beside it.
        const QString named = QDir(target.path()).filePath(QStringLiteral("周\\备份"));
        QVERIFY(QDir().mkdir(named));
        const Run intoNamed = runBatch(site.settings, {QStringLiteral("backup"), named, QStringLiteral("--operator"), QStringLiteral("admin")});
        QCOMPARE(intoNamed.status, 0);
        QCOMPARE(QDir(named).entryList(QDir::Files), QStringList{file});
        QCOMPARE(QDir(target.path()).entryList(QDir::Files), QStringList{file});
        // A folder the server does not have: the database's failure, status 3.
        const Run bad = runBatch(site.settings, {QStringLiteral("backup"), QStringLiteral("/nonexistent/lectoria"),
                                                 QStringLiteral("--operator"), QStringLiteral("admin")});
        QCOMPARE(bad.status, 3);
        QVERIFY(bad.err.contains(QStringLiteral("备份数据库失败!")));
    }

    // The site's restricted login on a database the upkeep must change: the
    // runner says which right is missing and stops with a database failure.
    void restrictedLoginSaysWhichRightIsMissing()
    {
        if (!TestDatabase::overTheWire())
            QSKIP("rights are SQL Server's");
        TestDatabase::Options o;
        o.volumeColumn = false;
        Site site(o);
        site.db.server()->control(QStringLiteral("deny sa alter backup"));
        QTemporaryDir target;
        const Run r = runBatch(site.settings, {QStringLiteral("backup"), target.path(), QStringLiteral("--operator"), QStringLiteral("admin")});
        QCOMPARE(r.status, 3);
        QVERIFY2(r.err.contains(QStringLiteral("修改表 www_lineread 的权限（ALTER）")), qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("GRANT ALTER ON dbo.www_lineread")), qPrintable(r.err));
    }

    void exportThenImport()
    {
        Site from(40);
        Site to;
        QTemporaryDir files;
        const QString file = files.filePath(QStringLiteral("video.txt"));
        Run r = runBatch(from.settings, {QStringLiteral("export"), QStringLiteral("zxsp"), QStringLiteral("--from"),
                                         QStringLiteral("2000-01-01"), QStringLiteral("--to"), QStringLiteral("2099-12-31"),
                                         QStringLiteral("--output"), file, QStringLiteral("--operator"), QStringLiteral("admin")});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.contains(QStringLiteral("数据导出成功，共[40]条记录!")), qPrintable(r.err));
        QVERIFY(readWholeFile(file).startsWith("@@FILE_BEGIN@@"));

        r = runBatch(to.settings, {QStringLiteral("import"), QStringLiteral("zxsp"), file, QStringLiteral("--operator"), QStringLiteral("admin")});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.contains(QStringLiteral("数据导入成功，共[40]条记录")), qPrintable(r.err));
        QCOMPARE(to.db.scalar(QStringLiteral("select count(*) from www_video")).toInt(), 40);
        QCOMPARE(to.db.scalar(QStringLiteral("select sum(li_times) from www_video")).toInt(),
                 from.db.scalar(QStringLiteral("select sum(li_times) from www_video")).toInt());
    }

    // A report file from the runner is the file the dialog's save command
    // writes for the same choices.
    void reportsAsTheDialogWritesThem_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("report");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("command");
        for (const char *kind : {"dzts", "zxsp"}) {
            for (const char *report : {"stats", "listing"}) {
                const QByteArray row = QByteArray(kind) + ' ' + report + ' ';
                QTest::newRow(row + "txt") << kind << report << "txt" << "pmTxt";
                QTest::newRow(row + "csv") << kind << report << "csv" << "pmCsv";
                QTest::newRow(row + "htm") << kind << report << "htm" << "pmHtm";
            }
        }
        QTest::newRow("bklw book txt") << "bklw" << "book" << "txt" << "MenuItem3";
    }
    void reportsAsTheDialogWritesThem()
    {
        QFETCH(QString, kind);
        QFETCH(QString, report);
        QFETCH(QString, format);
        QFETCH(QString, command);
        Site site(30);
        QTemporaryDir files;
        const QString fromRunner = files.filePath(QStringLiteral("runner.") + format);
        const Run r = runBatch(site.settings, {QStringLiteral("report"), kind, report, QStringLiteral("--period"),
                                               QStringLiteral("all"), QStringLiteral("--format"), format, QStringLiteral("--output"),
                                               fromRunner, QStringLiteral("--operator"), QStringLiteral("admin")});
        QCOMPARE(r.status, 0);
        QVERIFY(r.err.contains(QStringLiteral("生成文件完成！")));

        resetSession();
        unGlobal().SchoolName = QStringLiteral("实验中学");
        site.db.openAsLibDB();
        const Kind k = findKind(kind)->kind;
        std::unique_ptr<ReportParamDialog> dlg =
            report == QLatin1String("stats") ? makeStatisticsDialog(k, nullptr) : makeListingDialog(k, nullptr);
        const QByteArray fromDialog = dialogFile(*dlg, command.toLatin1().constData(),
                                                 files.filePath(QStringLiteral("dialog.") + format));
        dlg.reset();
        LibDB::close();
        QVERIFY(!fromDialog.isEmpty());
        QCOMPARE(withoutRunTime(readWholeFile(fromRunner)), withoutRunTime(fromDialog));
    }

    // Every report family, for several kinds, is the same file on SQLite and
    // over SQL Server's wire (FreeTDS to the TDS test server serving the same
    // database), titles of 10 to 64 Chinese characters filling CHAR(128)
    // included.
    void reportsAlikeOnBothEngines_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("report");
        QTest::addColumn<QString>("format");
        for (const char *format : {"txt", "csv", "htm"}) {
            QTest::addRow("dzts listing %s", format) << "dzts" << "listing" << format;
            QTest::addRow("zxsp stats %s", format) << "zxsp" << "stats" << format;
        }
        QTest::newRow("dzts book") << "dzts" << "book" << "txt";
        QTest::newRow("zxsp listing") << "zxsp" << "listing" << "csv";
        QTest::newRow("dzts stats") << "dzts" << "stats" << "csv";
        QTest::newRow("bklw articles by sub-category") << "bklw" << "stats-sub" << "txt";
        QTest::newRow("bklw book") << "bklw" << "book" << "txt";
    }
    void reportsAlikeOnBothEngines()
    {
        QFETCH(QString, kind);
        QFETCH(QString, report);
        QFETCH(QString, format);
        Site site(20);
        for (int n : {10, 21, 47, 64})
            for (Kind k : {Kind::Dzts, Kind::Zxsp})
                site.db.addRecord(k, {{QStringLiteral("li_title"), QString(QChar(0x957F)).repeated(n - 1) + QString::number(n % 10)},
                                      {QStringLiteral("li_typeid"), 3},
                                      {QStringLiteral("li_logtime"), QDate::currentDate().toString(Qt::ISODate) + QStringLiteral(" 08:00:00")}});
        test::TdsTestServer server(site.db.path());
        QVERIFY2(server.started(), qPrintable(server.error()));
        QByteArray files[2];
        const QString names[2] = {QStringLiteral("sqlite:") + site.db.path(), server.connectionString()};
        QTemporaryDir dir;
        for (int i = 0; i < 2; ++i) {
            const QString settings = dir.filePath(QStringLiteral("s%1.conf").arg(i));
            QFile f(settings);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QStringLiteral("[General]\nODBCNAME=%1\nSCHOOLNAME=实验中学\n").arg(names[i]).toUtf8());
            f.close();
            const QString out = dir.filePath(QStringLiteral("r%1.").arg(i) + format);
            const Run r = runBatch(settings, {QStringLiteral("report"), kind, report, QStringLiteral("--period"),
                                              QStringLiteral("all"), QStringLiteral("--format"), format,
                                              QStringLiteral("--output"), out, QStringLiteral("--operator"),
                                              QStringLiteral("admin")});
            QVERIFY2(r.status == 0, qPrintable(r.err));
            files[i] = withoutRunTime(readWholeFile(out));
        }
        if (report != QLatin1String("stats") && report != QLatin1String("stats-sub") && kind != QLatin1String("bklw"))
            QVERIFY(Gbk::decode(files[0]).contains(QString(QChar(0x957F)).repeated(9) + QLatin1Char('0')));
        QCOMPARE(files[1], files[0]);
    }

    void subCategoryStatisticsAndBadChoices()
    {
        Site site(20);
        QTemporaryDir files;
        const QString out = files.filePath(QStringLiteral("sub.csv"));
        Run r = runBatch(site.settings, {QStringLiteral("report"), QStringLiteral("bklw"), QStringLiteral("stats-sub"),
                                         QStringLiteral("--period"), QStringLiteral("all"), QStringLiteral("--category"),
                                         QStringLiteral("2"), QStringLiteral("--format"), QStringLiteral("csv"),
                                         QStringLiteral("--output"), out, QStringLiteral("--operator"), QStringLiteral("admin")});
        QCOMPARE(r.status, 0);
        const QString text = Gbk::decode(readWholeFile(out));
        QVERIFY2(text.contains(QStringLiteral("学科教学")), qPrintable(text)); // category 2
        QVERIFY(!text.contains(QStringLiteral("教育研究")));                 // category 1 is not in it
        // A book-style catalogue is text or PDF only; a category is a number.
        r = runBatch(site.settings, {QStringLiteral("report"), QStringLiteral("dzts"), QStringLiteral("book"), QStringLiteral("--format"),
                                     QStringLiteral("csv"), QStringLiteral("--output"), out, QStringLiteral("--operator"), QStringLiteral("admin")});
        QCOMPARE(r.status, 1);
        r = runBatch(site.settings, {QStringLiteral("report"), QStringLiteral("dzts"), QStringLiteral("listing"), QStringLiteral("--category"),
                                     QStringLiteral("1'"), QStringLiteral("--format"), QStringLiteral("csv"), QStringLiteral("--output"), out,
                                     QStringLiteral("--operator"), QStringLiteral("admin")});
        QCOMPARE(r.status, 1);
    }

    void reportAsPdf()
    {
        Site site(5);
        QTemporaryDir files;
        const QString pdf = files.filePath(QStringLiteral("stats.pdf"));
        const Run r = runBatch(site.settings, {QStringLiteral("report"), QStringLiteral("tpzl"), QStringLiteral("stats"),
                                               QStringLiteral("--format"), QStringLiteral("pdf"), QStringLiteral("--output"), pdf,
                                               QStringLiteral("--operator"), QStringLiteral("guest")}, QStringLiteral("guest"));
        QCOMPARE(r.status, 0);
        QVERIFY(readWholeFile(pdf).startsWith("%PDF"));
        // The chart as the dialog's check box gives it: SVG after the table.
        const QString htm = files.filePath(QStringLiteral("stats.htm"));
        const Run c = runBatch(site.settings, {QStringLiteral("report"), QStringLiteral("tpzl"), QStringLiteral("stats"),
                                               QStringLiteral("--period"), QStringLiteral("all"), QStringLiteral("--chart"),
                                               QStringLiteral("--format"), QStringLiteral("htm"), QStringLiteral("--output"),
                                               htm, QStringLiteral("--operator"), QStringLiteral("guest")},
                               QStringLiteral("guest"));
        QCOMPARE(c.status, 0);
        const QString html = Gbk::decode(readWholeFile(htm));
        QVERIFY(html.indexOf(QStringLiteral("</TABLE>")) < html.indexOf(QStringLiteral("<svg")));
        QVERIFY(html.contains(QStringLiteral("<rect ")));
    }

    // Status 0 only when every record of a whole file went in; 5 when the
    // import ran to its end without that.
    void importStatus_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("stored");
        QTest::addColumn<QString>("message");
        auto badSecond = books(3);
        badSecond[1].second = QStringLiteral("abc");
        QByteArray garbage;
        for (int i = 0; i < 5000; ++i)
            garbage += char((i * 131 + 7) % 256);
        auto endlessSecond = books(3);
        endlessSecond[1].first = QString(9 << 20, QLatin1Char('x'));
        QTest::newRow("every record") << ebookFile(books(3)) << 0 << 3 << QStringLiteral("共[3]条记录");
        QTest::newRow("a line over the cap") << ebookFile(endlessSecond) << 5 << 2
                                             << QStringLiteral("（第2条记录：文件第11行超过8388608字节的长度上限，未读入）");
        QTest::newRow("whole file without records") << ebookFile({}) << 0 << 0 << QStringLiteral("共[0]条记录");
        QTest::newRow("a refused record") << ebookFile(badSecond) << 5 << 2 << QStringLiteral("另有[1]条记录未能导入");
        QTest::newRow("every record refused") << ebookFile({{QStringLiteral("甲"), QStringLiteral("x")}}) << 5 << 0
                                              << QStringLiteral("另有[1]条记录未能导入");
        QTest::newRow("no end line") << ebookFile(books(2), false) << 5 << 2 << QStringLiteral("意外结束");
        QTest::newRow("no begin line") << QByteArray("title,typeid\r\n") << 5 << 0 << QStringLiteral("没有开始标记");
        QTest::newRow("binary garbage") << garbage << 4 << 0 << QStringLiteral("有不是GBK编码的字节");
        const QByteArray utf8 = Gbk::decode(ebookFile({{QStringLiteral("史记(册数3)"), QStringLiteral("2")}})).toUtf8();
        QTest::newRow("UTF-8 without --encoding") << utf8 << 1 << 0 << QStringLiteral("请加 --encoding utf-8");
        QTest::newRow("UTF-8 with --encoding") << utf8 + "--encoding utf-8" << 0 << 1 << QStringLiteral("共[1]条记录");
        QTest::newRow("GBK with --encoding utf-8") << ebookFile(books(3)) + "--encoding utf-8" << 4 << 0
                                                   << QStringLiteral("不是UTF-8编码的文字");
        QTest::newRow("a device") << QByteArray("/dev/zero") << 4 << 0 << QStringLiteral("不是普通文件");
    }
    void importStatus()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, status);
        QFETCH(int, stored);
        QFETCH(QString, message);
        Site site;
        QTemporaryDir dir;
        // A row's file may end in options for the command, or be a path.
        QStringList options;
        if (file.endsWith("--encoding utf-8")) {
            file.chop(16);
            options << QStringLiteral("--encoding") << QStringLiteral("utf-8");
        }
        const QString path = file.startsWith("/dev/") ? QString::fromLatin1(file) : fileWith(dir, file);
        const Run r = runBatch(site.settings, QStringList{QStringLiteral("import"), QStringLiteral("dzts"), path,
                                                          QStringLiteral("--operator"), QStringLiteral("admin")}
                                                  + options);
        QCOMPARE(r.status, status);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QCOMPARE(site.db.scalar(QStringLiteral("select count(*) from www_lineread")).toInt(), stored);
    }

    // Another process holds a write transaction longer than the runner waits:
    // the import stops at the first record instead of waiting out the lock for
    // every one, and exits with the database's status.
    void importStopsOnALock()
    {
        Site site;
        QTemporaryDir dir;
        const QString path = fileWith(dir, ebookFile(books(20)));
        site.settings = Site::writeSettings(site.dir.path(), site.db.odbcName(), 1);
        // A first run brings the database into shape, so that the locked run
        // reaches the import.
        QCOMPARE(runBatch(site.settings, {QStringLiteral("backup"), dir.path(), QStringLiteral("--operator"), QStringLiteral("admin")}).status, 0);
        site.db.exec(QStringLiteral("begin immediate"));
        const Run r = runBatch(site.settings, {QStringLiteral("import"), QStringLiteral("dzts"), path,
                                               QStringLiteral("--operator"), QStringLiteral("admin")});
        site.db.exec(QStringLiteral("rollback"));
        QCOMPARE(r.status, 3);
        // The wait as the setting has it, then the reason as the database words
        // it, an ODBC driver's name first.
        static const QRegularExpression stop(QStringLiteral(
            "数据导入在第\\[1\\]条记录处因数据库出错而中止：数据库一直忙（其他用户正占用所需的数据），等待1秒后仍未能使用，"
            "操作已停止：(\\[[^\\]]*\\])*(database is locked|Lock request time out period exceeded\\.)"));
        QVERIFY2(r.err.contains(stop), qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("此前已导入[0]条记录")), qPrintable(r.err));
        QCOMPARE(site.db.scalar(QStringLiteral("select count(*) from www_lineread")).toInt(), 0);
    }

    // A run killed in the middle of an import loses at most its open group.
    // Run again with --skip-existing it completes the file, each record
    // stored as often as the file holds it; without the choice every record
    // goes in again.
    void importAgainAfterKill()
    {
        Site site;
        QTemporaryDir dir;
        auto records = books(30000);
        records.append(records.first()); // a record the file holds twice
        const QString path = fileWith(dir, ebookFile(records));
        const int all = int(records.size());
        QStringList import = {QStringLiteral("import"), QStringLiteral("dzts"), path, QStringLiteral("--operator"),
                                    QStringLiteral("admin")};
        auto stored = [&] { return site.db.scalar(QStringLiteral("select count(*) from www_lineread")).toInt(); };

        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LECTORIA_SETTINGS"), site.settings);
        env.insert(QStringLiteral("LECTORIA_PASSWORD"), QStringLiteral("qzmvt"));
        p.setProcessEnvironment(env);
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(QStringLiteral(LECTORIA_BATCH), import);
        QVERIFY(p.waitForStarted());
        // Killed as soon as a first group is committed.
        while (p.state() == QProcess::Running && stored() == 0)
            QThread::msleep(2);
        p.kill();
        p.waitForFinished();
        const int before = stored();
        QVERIFY2(before > 0 && before < all, qPrintable(QString::number(before)));

        import.append(QStringLiteral("--skip-existing"));
        Run r = runBatch(site.settings, import);
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.contains(QStringLiteral("共[%1]条记录").arg(all - before)), qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("另有[%1]条记录数据库中已有，已跳过。").arg(before)), qPrintable(r.err));
        QCOMPARE(stored(), all);
        QCOMPARE(site.db.rows(QStringLiteral("select li_title from www_lineread group by li_title, li_typeid "
                                             "having count(*) <> case li_title when '书1 ' then 2 else 1 end")),
                 QVector<QVariantList>());

        import.removeLast();
        r = runBatch(site.settings, import);
        QCOMPARE(r.status, 0);
        QCOMPARE(stored(), 2 * all);
    }

    // Requests the runner refuses before it connects: an option the command
    // or report has no use for, and periods that name no days.
    void requestsRefused_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("error"); // empty: accepted
        const QString out = QStringLiteral(" --format csv --output x.csv");
        QTest::newRow("statistics have no category") << "report dzts stats --category 1" + out << "不接受 --category";
        QTest::newRow("statistics have no sub-category") << "report bklw stats --subcategory 1" + out
                                                         << "不接受 --subcategory";
        QTest::newRow("sub-category statistics take a category only")
            << "report bklw stats-sub --category 1 --subcategory 1" + out << "不接受 --subcategory";
        QTest::newRow("sub-category outside periodical articles")
            << "report dzts listing --category 1 --subcategory 1" + out << "不接受 --subcategory";
        QTest::newRow("sub-category without a category") << "report bklw listing --subcategory 1" + out
                                                          << "需要同时给出 --category";
        QTest::newRow("export has no category") << QStringLiteral("export dzts --from 2024-01-01 --to 2024-12-31 "
                                                                  "--output x.txt --category 1")
                                                << "export 命令不接受 --category";
        QTest::newRow("backup has no format") << QStringLiteral("backup /tmp --format csv") << "backup 命令不接受 --format";
        QTest::newRow("reversed period") << "report dzts listing --period 2026-12-10..2026-12-01" + out
                                         << "开始日期 2026-12-10 晚于结束日期 2026-12-01";
        QTest::newRow("a day that does not exist") << "report dzts listing --period 2025-01-01..2025-02-29" + out
                                                   << "真实日期：2025-02-29";
        QTest::newRow("an option given twice") << "report dzts listing --format pdf" + out
                                               << "选项 --format 只能给出一次";
        QTest::newRow("a flag given twice") << "import dzts x.dat --skip-existing --skip-existing"
                                            << "选项 --skip-existing 只能给出一次";
        QTest::newRow("a year with a sign") << QStringLiteral("export dzts --from -0001-01-01 --to 2000-01-01 --output x")
                                            << "--from 的日期应为 YYYY-MM-DD 形式的真实日期：-0001-01-01";
        QTest::newRow("a year before SQL Server's days")
            << QStringLiteral("export dzts --from 1752-12-31 --to 2000-01-01 --output x")
            << "--from 的日期应在 1753-01-01 到 9999-12-31 之间：1752-12-31";
        QTest::newRow("a period before SQL Server's days") << "report dzts stats --period 1600-01-01..2000-01-01" + out
                                                           << "之间：1600-01-01";
        QTest::newRow("the first day SQL Server holds") << "report dzts stats --period 1753-01-01..1753-01-01" + out
                                                        << QString();
        QTest::newRow("an encoding not known") << "import dzts x.dat --encoding big5" << "--encoding 应为 utf-8 或 gbk";
        QTest::newRow("import as UTF-8") << "import dzts x.dat --encoding utf-8" << QString();
        QTest::newRow("an option quoted without control characters") << "report dzts stats --\x1b[2J" + out
                                                                   << "未知的选项：--?[2J";
        QTest::newRow("not a period") << "report dzts listing --period 2025-1-1..2025-02-01" + out
                                      << "2025-1-1..2025-02-01";
        QTest::newRow("format names as the usage writes them") << QStringLiteral("report dzts listing --format html "
                                                                         "--output x.htm")
                                                          << "--format 应为";
        QTest::newRow("report names as the usage writes them") << "report dzts Listing" + out << "没有这种报表";
        QTest::newRow("guided reading has no book") << "report shdh book --format txt --output x.txt"
                                                    << "没有这种报表：shdh book";
        QTest::newRow("a book is never csv") << "report dzts book" + out << "只能保存为 txt 或 pdf";
        QTest::newRow("a listing has no chart") << "report dzts listing --chart" + out << "不接受 --chart";
        QTest::newRow("statistics with a chart") << "report dzts stats --chart" + out << QString();
        QTest::newRow("sub-category statistics with a chart") << "report bklw stats-sub --chart" + out << QString();
        QTest::newRow("article listing of a sub-category")
            << "report bklw listing --category 1 --subcategory 2" + out << QString();
        QTest::newRow("one day, the last a date can name") << "report dzts stats --period 9999-12-31..9999-12-31" + out
                                                           << QString();
    }
    void requestsRefused()
    {
        QFETCH(QString, line);
        QFETCH(QString, error);
        batch::Request request;
        QString why;
        const bool ok = batch::parse(line.split(QLatin1Char(' ')) << QStringLiteral("--operator")
                                                                  << QStringLiteral("admin"),
                                     &request, &why);
        QCOMPARE(ok, error.isEmpty());
        QVERIFY2(why.contains(error), qPrintable(why));
    }

    // Periods and categories the database decides: a category that does not
    // exist is refused (status 1, no file); a period without records is a
    // valid, empty report; a period to the last representable day finds
    // every record from its start on.
    void periodsAndCategories_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("sameAs"); // the period whose file it equals; empty: no data rows
        QTest::newRow("category that does not exist") << "dzts listing --period all --category 999" << 1
                                                      << "没有这个类别：999" << QString();
        QTest::newRow("sub-category that does not exist")
            << "bklw listing --period all --category 1 --subcategory 99" << 1 << "类别 1 没有这个子类别：99" << QString();
        QTest::newRow("a period without records") << "dzts stats --period 2001-01-01..2001-12-31" << 0
                                                  << "生成文件完成" << QString();
        QTest::newRow("to the last day") << "dzts stats --period 2000-01-01..9999-12-31" << 0 << "生成文件完成"
                                         << "all";
        QTest::newRow("listing to the last day") << "dzts listing --period 2000-01-01..9999-12-31" << 0
                                                 << "生成文件完成" << "all";
    }
    void periodsAndCategories()
    {
        QFETCH(QString, line);
        QFETCH(int, status);
        QFETCH(QString, message);
        QFETCH(QString, sameAs);
        Site site(8);
        QTemporaryDir files;
        auto produce = [&](const QString &l, const QString &name) {
            const QString path = files.filePath(name);
            const Run r = runBatch(site.settings, QStringList{QStringLiteral("report")} + l.split(QLatin1Char(' '))
                                                      + QStringList{QStringLiteral("--format"), QStringLiteral("csv"),
                                                                    QStringLiteral("--output"), path,
                                                                    QStringLiteral("--operator"), QStringLiteral("admin")});
            return std::make_pair(r, path);
        };
        const auto [r, path] = produce(line, QStringLiteral("asked.csv"));
        QCOMPARE(r.status, status);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        if (status != 0) {
            QVERIFY(!QFile::exists(path));
            return;
        }
        const QByteArray written = readWholeFile(path);
        if (sameAs.isEmpty()) {
            // The finished file's title and header lines, and no data row.
            QCOMPARE(Gbk::decode(written).count(QStringLiteral("\r\n")), 2);
            return;
        }
        QStringList other = line.split(QLatin1Char(' '));
        other[other.indexOf(QStringLiteral("--period")) + 1] = sameAs;
        const auto [r2, path2] = produce(other.join(QLatin1Char(' ')), QStringLiteral("other.csv"));
        QCOMPARE(r2.status, 0);
        QVERIFY(Gbk::decode(written).count(QStringLiteral("\r\n")) > 2);
        QCOMPARE(written, readWholeFile(path2));
    }

    // An output that is the open database (by any name) or one of its
    // companions, or that is not a regular file, is refused before anything
    // is written, by every command that writes one.
    void outputsThatMustNotBeReplaced_data()
    {
        QTest::addColumn<QString>("target"); // in the database's folder
        QTest::addColumn<QString>("reason");
        const QString database = QStringLiteral("数据库文件");
        const QString notRegular = QStringLiteral("不是普通文件");
        // An embedded database's own files; SQL Server keeps its files on the server.
        if (!TestDatabase::overTheWire()) {
            QTest::newRow("the database") << QStringLiteral("www.db") << database;
            QTest::newRow("a link to the database") << QStringLiteral("link.db") << database;
            QTest::newRow("its WAL file") << QStringLiteral("www.db-wal") << database;
            QTest::newRow("its journal, not there yet") << QStringLiteral("sub/../www.db-journal") << database;
        }
        QTest::newRow("a device") << QStringLiteral("device") << notRegular;
        QTest::newRow("a FIFO") << QStringLiteral("fifo") << notRegular;
        QTest::newRow("a folder") << QStringLiteral("sub") << notRegular;
    }
    void outputsThatMustNotBeReplaced()
    {
        QFETCH(QString, target);
        QFETCH(QString, reason);
        const QString database = QStringLiteral("数据库文件");
        Site site(5);
        const QDir folder = QFileInfo(site.db.path()).dir();
        QVERIFY(QFile::link(site.db.path(), folder.filePath(QStringLiteral("link.db"))));
        QVERIFY(folder.mkdir(QStringLiteral("sub")));
        QCOMPARE(::mkfifo(QFile::encodeName(folder.filePath(QStringLiteral("fifo"))).constData(), 0600), 0);
        // The tests run as root in CI, where a runner that got this wrong
        // would replace the machine's own /dev/null: root gets a null device
        // node of its own in the test's folder; others cannot harm /dev/null.
        QString path = folder.filePath(target);
        if (target == QLatin1String("device")) {
            if (::geteuid() == 0)
                QCOMPARE(::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0666, makedev(1, 3)), 0);
            else
                path = QStringLiteral("/dev/null");
        }
        const QFileInfo before(path);
        const qint64 databaseSize = QFileInfo(site.db.path()).size();

        const QStringList commands[] = {
            {QStringLiteral("report"), QStringLiteral("dzts"), QStringLiteral("listing"), QStringLiteral("--format"), QStringLiteral("txt")},
            {QStringLiteral("report"), QStringLiteral("dzts"), QStringLiteral("stats"), QStringLiteral("--format"), QStringLiteral("pdf")},
            {QStringLiteral("export"), QStringLiteral("dzts"), QStringLiteral("--from"), QStringLiteral("2000-01-01"),
             QStringLiteral("--to"), QStringLiteral("2099-12-31")},
        };
        for (const QStringList &command : commands) {
            const Run r = runBatch(site.settings, command + QStringList{QStringLiteral("--output"), path,
                                                                        QStringLiteral("--operator"), QStringLiteral("admin")});
            QCOMPARE(r.status, 4);
            QVERIFY2(r.err.contains(reason), qPrintable(r.err));
        }
        if (reason == database) { // the console's save command refuses it as well
            resetSession();
            site.db.openAsLibDB();
            std::unique_ptr<ReportParamDialog> dlg = makeListingDialog(Kind::Dzts, nullptr);
            ScriptedPrompt prompt;
            prompt.files << path;
            choose(*dlg, QStringLiteral("rdbAllDate"));
            refresh(*dlg);
            child<QAction>(*dlg, "pmTxt")->trigger();
            dlg.reset();
            LibDB::close();
            QVERIFY2(prompt.texts().join(QLatin1Char('\n')).contains(reason), qPrintable(prompt.texts().join(QLatin1Char('\n'))));
        }
        const QFileInfo after(path);
        QCOMPARE(after.isFile(), before.isFile());
        QCOMPARE(after.isDir(), before.isDir());
        QCOMPARE(after.exists(), before.exists());
        QCOMPARE(QFileInfo(site.db.path()).size(), databaseSize);
        QCOMPARE(site.db.scalar(QStringLiteral("select count(*) from www_lineread")).toInt(), 5);
        struct stat st {};
        if (target == QLatin1String("device"))
            QVERIFY(::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISCHR(st.st_mode));
    }

    // "--output -": the same bytes as a file, into a pipe.
    void outputToStandardOutput()
    {
        Site site(20);
        QTemporaryDir files;
        const QStringList runs[] = {
            {QStringLiteral("report"), QStringLiteral("dzts"), QStringLiteral("listing"), QStringLiteral("--period"),
             QStringLiteral("all"), QStringLiteral("--format"), QStringLiteral("csv")},
            {QStringLiteral("export"), QStringLiteral("dzts"), QStringLiteral("--from"), QStringLiteral("2000-01-01"),
             QStringLiteral("--to"), QStringLiteral("2099-12-31")},
        };
        for (const QStringList &command : runs) {
            const QString file = files.filePath(command.at(0));
            const QStringList login = {QStringLiteral("--operator"), QStringLiteral("admin")};
            QCOMPARE(runBatch(site.settings, command + QStringList{QStringLiteral("--output"), file} + login).status, 0);
            const Run piped = runBatch(site.settings, command + QStringList{QStringLiteral("--output"), QStringLiteral("-")} + login);
            QCOMPARE(piped.status, 0);
            QCOMPARE(withoutRunTime(piped.bytes), withoutRunTime(readWholeFile(file)));
        }
    }

    // A write that fails midway (here: past the file size the process may
    // write) is reported with the system's reason, and leaves no file.
    void failingWriteSaysWhy()
    {
        Site site(2000);
        QTemporaryDir files;
        // A first run brings the database into shape: the limited runs only read it.
        QCOMPARE(runBatch(site.settings, {QStringLiteral("backup"), files.path(), QStringLiteral("--operator"), QStringLiteral("admin")}).status, 0);
        for (const QString &backup : QDir(files.path()).entryList(QDir::Files))
            QFile::remove(files.filePath(backup));
        const QString reason = QString::fromLocal8Bit(std::strerror(EFBIG));
        auto smallFiles = [] {
            ::signal(SIGXFSZ, SIG_DFL); // the runner itself keeps the signal from ending it
            const rlimit limit{40000, 40000}; // room for the database's 32 KiB index file
            ::setrlimit(RLIMIT_FSIZE, &limit);
        };
        const QStringList commands[] = {
            {QStringLiteral("report"), QStringLiteral("dzts"), QStringLiteral("listing"), QStringLiteral("--format"), QStringLiteral("txt")},
            {QStringLiteral("report"), QStringLiteral("dzts"), QStringLiteral("listing"), QStringLiteral("--format"), QStringLiteral("csv")},
            {QStringLiteral("report"), QStringLiteral("dzts"), QStringLiteral("listing"), QStringLiteral("--format"), QStringLiteral("htm")},
            {QStringLiteral("export"), QStringLiteral("dzts"), QStringLiteral("--from"), QStringLiteral("2000-01-01"),
             QStringLiteral("--to"), QStringLiteral("2099-12-31")},
        };
        for (const QStringList &command : commands) {
            const QString out = files.filePath(QStringLiteral("out"));
            const Run r = runBatch(site.settings,
                                   command + QStringList{QStringLiteral("--period"), QStringLiteral("all"), QStringLiteral("--output"),
                                                         out, QStringLiteral("--operator"), QStringLiteral("admin")}
                                       .mid(command.at(0) == QLatin1String("export") ? 2 : 0),
                                   QStringLiteral("qzmvt"), smallFiles);
            QVERIFY2(r.status == 4, qPrintable(r.err));
            QVERIFY2(r.err.contains(reason), qPrintable(r.err));
            QVERIFY2(r.err.contains(QStringLiteral("磁盘已满或文件超过了允许的大小，文件没有写成")), qPrintable(r.err));
            QVERIFY2(!r.err.contains(QStringLiteral("Unknown error")), qPrintable(r.err));
            QCOMPARE(QDir(files.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        }
    }

    // The database keeps its own journal mode through every run, a run that
    // writes included; an empty file is not rewritten into a database.
    void journalModeKept_data() { journalModes(); }
    void journalModeKept()
    {
        QFETCH(QString, mode);
        Site site;
        site.db.exec(QStringLiteral("PRAGMA journal_mode=%1").arg(mode));
        QTemporaryDir dir;
        const Run r = runBatch(site.settings, {QStringLiteral("import"), QStringLiteral("dzts"), fileWith(dir, ebookFile(books(3))),
                                               QStringLiteral("--operator"), QStringLiteral("admin")});
        QCOMPARE(r.status, 0);
        QCOMPARE(site.db.scalar(QStringLiteral("select count(*) from www_lineread")).toInt(), 3);
        QCOMPARE(site.db.scalar(QStringLiteral("PRAGMA journal_mode")).toString(), mode);

        const QString empty = dir.filePath(QStringLiteral("empty.db"));
        QFile(empty).open(QIODevice::WriteOnly);
        const Run onEmpty = runBatch(Site::writeSettings(dir.path(), QStringLiteral("sqlite:") + empty),
                                     {QStringLiteral("backup"), dir.path(), QStringLiteral("--operator"), QStringLiteral("admin")});
        QCOMPARE(onEmpty.status, 3);
        QCOMPARE(QFileInfo(empty).size(), 0);
    }

    // A copy of the database that cannot be written (read-only media): every
    // report still works, nothing is written to it or beside it, and an
    // import says why it cannot write.
    void readOnlyDatabase_data() { journalModes(); }
    void readOnlyDatabase()
    {
        QFETCH(QString, mode);
        QByteArray copy;
        {
            TestDatabase::Options o;
            o.recordsPerKind = 10;
            o.marginsTable = false; // upkeep it cannot do: the built-in margins stand
            Site site(o);
            site.db.exec(QStringLiteral("PRAGMA journal_mode=%1").arg(mode));
            site.db.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
            copy = readWholeFile(site.db.path());
        }
        QTemporaryDir media;
        const QString file = media.filePath(QStringLiteral("www.db"));
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(copy);
        }
        const QString settings = Site::writeSettings(media.path(), QStringLiteral("sqlite:www.db"));
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        QVERIFY(QFile::setPermissions(media.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
                                                        | QFile::ReadOther | QFile::ExeOther));
        QVERIFY(QFile::setPermissions(settings, QFile::ReadOwner | QFile::ReadOther));

        for (const char *report : {"stats", "listing"}) {
            const Run r = runBatch(settings, {QStringLiteral("report"), QStringLiteral("dzts"), QLatin1String(report),
                                              QStringLiteral("--period"), QStringLiteral("all"), QStringLiteral("--format"),
                                              QStringLiteral("csv"), QStringLiteral("--output"), QStringLiteral("-"),
                                              QStringLiteral("--operator"), QStringLiteral("admin")},
                                   QStringLiteral("qzmvt"), asUnprivilegedUser);
            QVERIFY2(r.status == 0, qPrintable(r.err));
            QVERIFY(Gbk::decode(r.bytes).contains(QStringLiteral("文学艺术")));
        }
        QTemporaryDir dir;
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
        const Run r = runBatch(settings, {QStringLiteral("import"), QStringLiteral("dzts"), fileWith(dir, ebookFile(books(2))),
                                          QStringLiteral("--operator"), QStringLiteral("admin")},
                               QStringLiteral("qzmvt"), asUnprivilegedUser);
        QCOMPARE(r.status, 3);
        QVERIFY2(r.err.contains(QStringLiteral("数据库文件是只读的，不能写入")), qPrintable(r.err));
        QCOMPARE(readWholeFile(file), copy);
        QCOMPARE(QDir(media.path()).entryList(QDir::Files), QStringList({QStringLiteral("lectoria.conf"), QStringLiteral("www.db")}));
        QFile::setPermissions(media.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // Several first runs at once on a database the upkeep has yet to bring
    // into shape: every one succeeds, and each change is made exactly once.
    void concurrentFirstRuns_data()
    {
        QTest::addColumn<bool>("wire"); // SQL Server through FreeTDS (the TDS test server)
        QTest::newRow("embedded") << false;
        QTest::newRow("SQL Server") << true;
    }
    void concurrentFirstRuns()
    {
        QFETCH(bool, wire);
        if (wire && !test::TdsTestServer::unavailable().isEmpty())
            QSKIP(qPrintable(test::TdsTestServer::unavailable()));
        TestDatabase::Options o;
        o.volumeColumn = false;
        Site site(o);
        site.db.exec(QStringLiteral("delete from www_admin where ad_code='admin'"));
        std::unique_ptr<test::TdsTestServer> server;
        if (wire) {
            server = std::make_unique<test::TdsTestServer>(site.db.path());
            QVERIFY2(server->started(), qPrintable(server->error()));
            site.settings = Site::writeSettings(site.dir.path(), server->connectionString());
        }
        QTemporaryDir out;
        QVector<QProcess *> runs;
        // Held while the runs start, so that they all find the database
        // unchanged and queue up to change it.
        site.db.exec(QStringLiteral("begin immediate"));
        for (int i = 0; i < 12; ++i) {
            auto *p = new QProcess(this);
            startBatch(*p, site.settings,
                     {QStringLiteral("report"), QStringLiteral("dzts"), QStringLiteral("stats"), QStringLiteral("--period"),
                      QStringLiteral("all"), QStringLiteral("--format"), QStringLiteral("csv"), QStringLiteral("--output"),
                      out.filePath(QStringLiteral("%1.csv").arg(i)), QStringLiteral("--operator"), QStringLiteral("admin")});
            runs << p;
        }
        for (QProcess *p : runs)
            QVERIFY(p->waitForStarted());
        QTest::qWait(1500);
        site.db.exec(QStringLiteral("commit"));
        for (QProcess *p : runs) {
            QVERIFY(p->waitForFinished(120000));
            QVERIFY2(p->exitCode() == 0, p->readAllStandardError().constData());
        }
        qDeleteAll(runs);
        QCOMPARE(site.db.scalar(QStringLiteral("select count(*) from pragma_table_info('www_lineread') where name='li_number'")).toInt(), 1);
        QCOMPARE(site.db.scalar(QStringLiteral("select count(*) from www_admin where ad_code='admin'")).toInt(), 1);
        QCOMPARE(site.db.scalar(QStringLiteral("select count(*) from lib_prtblank")).toInt(), 1);
    }

    // Two imports of a kind at once: the second waits for the first (or,
    // when it would wait longer than LOCKTIMEOUT, is refused before it reads
    // or stores anything), so that with --skip-existing each record of the
    // file ends up stored exactly as often as the file holds it.
    void concurrentSkipImports_data()
    {
        QTest::addColumn<bool>("wire"); // SQL Server through FreeTDS (the TDS test server)
        QTest::newRow("embedded") << false;
        QTest::newRow("SQL Server") << true;
    }
    void concurrentSkipImports()
    {
        QFETCH(bool, wire);
        if (wire && !test::TdsTestServer::unavailable().isEmpty())
            QSKIP(qPrintable(test::TdsTestServer::unavailable()));
        Site site;
        std::unique_ptr<test::TdsTestServer> server;
        QString odbcName = site.db.odbcName();
        if (wire) {
            server = std::make_unique<test::TdsTestServer>(site.db.path());
            QVERIFY2(server->started(), qPrintable(server->error()));
            odbcName = server->connectionString();
        }
        QTemporaryDir impatient, patient;
        const QString quickSettings = Site::writeSettings(impatient.path(), odbcName, 1);
        const QString waitingSettings = Site::writeSettings(patient.path(), odbcName, 300);
        QTemporaryDir dir;
        auto records = books(20000);
        records.append(records.at(7)); // a record the file holds twice
        const int all = int(records.size());
        const QStringList import = {QStringLiteral("import"), QStringLiteral("dzts"), fileWith(dir, ebookFile(records)),
                                    QStringLiteral("--skip-existing"), QStringLiteral("--operator"), QStringLiteral("admin")};
        auto stored = [&] { return site.db.scalar(QStringLiteral("select count(*) from www_lineread")).toInt(); };
        // A first run brings the database into shape, so that the others only read before they import.
        QCOMPARE(runBatch(waitingSettings, {QStringLiteral("backup"), dir.path(), QStringLiteral("--operator"), QStringLiteral("admin")}).status, 0);

        // The first import, stopped in its middle.
        QProcess first;
        startBatch(first, waitingSettings, import);
        QVERIFY(first.waitForStarted());
        while (first.state() == QProcess::Running && stored() == 0)
            QThread::msleep(2);
        QCOMPARE(first.state(), QProcess::Running);
        ::kill(pid_t(first.processId()), SIGSTOP);
        const int before = stored();

        const Run refused = runBatch(quickSettings, import);
        QCOMPARE(refused.status, 3);
        QVERIFY2(refused.err.contains(QStringLiteral("另一个[电子图书]数据导入正在进行，等待1秒后仍未结束，本次导入没有开始")),
                 qPrintable(refused.err));
        QCOMPARE(stored(), before);

        // A second that waits for the first to end, then finds every record stored.
        QProcess second;
        startBatch(second, waitingSettings, import);
        QVERIFY(second.waitForStarted());
        QTest::qWait(1500);
        ::kill(pid_t(first.processId()), SIGCONT);
        QVERIFY(first.waitForFinished(240000));
        QVERIFY(second.waitForFinished(240000));
        const QString firstErr = QString::fromLocal8Bit(first.readAllStandardError());
        const QString secondErr = QString::fromLocal8Bit(second.readAllStandardError());
        QVERIFY2(first.exitCode() == 0, qPrintable(firstErr));
        QVERIFY2(second.exitCode() == 0, qPrintable(secondErr));
        QVERIFY2(secondErr.contains(QStringLiteral("共[0]条记录")), qPrintable(secondErr));
        QVERIFY2(secondErr.contains(QStringLiteral("另有[%1]条记录数据库中已有，已跳过。").arg(all)), qPrintable(secondErr));
        QCOMPARE(stored(), all);
        QCOMPARE(site.db.rows(QStringLiteral("select li_title from www_lineread group by li_title, li_typeid "
                                             "having count(*) <> case li_title when '书8 ' then 2 else 1 end")),
                 QVector<QVariantList>());
    }

    // A report behind another session's lock on SQL Server gives up after
    // LOCKTIMEOUT: status 3, the wait and the server's words, no file.
    void reportGivesUpBehindALock()
    {
        if (!test::TdsTestServer::unavailable().isEmpty())
            QSKIP(qPrintable(test::TdsTestServer::unavailable()));
        Site site(3);
        test::TdsTestServer server(site.db.path());
        QVERIFY2(server.started(), qPrintable(server.error()));
        site.settings = Site::writeSettings(site.dir.path(), server.connectionString(), 1);
        QTemporaryDir out;
        const QString path = out.filePath(QStringLiteral("list.csv"));
        const QStringList report = {QStringLiteral("report"), QStringLiteral("dzts"), QStringLiteral("listing"), QStringLiteral("--period"),
                                    QStringLiteral("all"), QStringLiteral("--format"), QStringLiteral("csv"), QStringLiteral("--output"),
                                    path, QStringLiteral("--operator"), QStringLiteral("admin")};
        QCOMPARE(runBatch(site.settings, report).status, 0); // the database in shape, and the report as it runs free
        QFile::remove(path);
        server.control(QStringLiteral("hold www_lineread"));
        const Run r = runBatch(site.settings, report);
        server.control(QStringLiteral("release"));
        QCOMPARE(r.status, 3);
        QVERIFY2(r.err.contains(QStringLiteral("数据库一直忙（其他用户正占用所需的数据），等待1秒后仍未能使用，操作已停止：")), qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("Lock request time out period exceeded.")), qPrintable(r.err));
        QVERIFY(!QFile::exists(path));
    }

    // Every user name and password the connection dialog takes reaches the
    // server as typed: through a connection string and through a data source
    // of odbc.ini.
    void credentialsArriveExactly_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::newRow("closing brace and equals") << QStringLiteral("lib}01") << QStringLiteral("Lib}2024=书");
        QTest::newRow("semicolons") << QStringLiteral("a;b") << QStringLiteral(";pass;word;");
        QTest::newRow("opening brace first") << QStringLiteral("{user") << QStringLiteral("{abc}");
        QTest::newRow("blanks and quotes") << QStringLiteral("图书 管理员") << QStringLiteral("it's \"quoted\" = 1");
        QTest::newRow("brace and semicolon") << QStringLiteral("x}y") << QStringLiteral("a}b;c");
        QTest::newRow("doubled braces") << QStringLiteral("u}}") << QStringLiteral("{{}}");
    }
    void credentialsArriveExactly()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        if (!test::TdsTestServer::unavailable().isEmpty())
            QSKIP(qPrintable(test::TdsTestServer::unavailable()));
        Site site;
        test::TdsTestServer server(site.db.path());
        QVERIFY2(server.started(), qPrintable(server.error()));
        QTemporaryDir odbc;
        auto write = [](const QString &path, const QString &text) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(text.toUtf8());
        };
        write(odbc.filePath(QStringLiteral("odbcinst.ini")),
              QStringLiteral("[LectoriaTds]\nDriver = %1\n").arg(test::TdsTestServer::driverPath()));
        write(odbc.filePath(QStringLiteral("odbc.ini")),
              QStringLiteral("[lectoriaWire]\nDriver = LectoriaTds\nServer = 127.0.0.1\nPort = %1\nDatabase = www\n"
                             "TDS_Version = 7.4\nClientCharset = UTF-8\n").arg(server.port()));
        qputenv("ODBCSYSINI", QFile::encodeName(odbc.path()));
        qputenv("ODBCINI", QFile::encodeName(odbc.filePath(QStringLiteral("odbc.ini"))));
        ScopeExit restore([] {
            qunsetenv("ODBCSYSINI");
            qunsetenv("ODBCINI");
        });
        for (const QString &odbcName : {server.params().odbcName, QStringLiteral("lectoriaWire")}) {
            QTemporaryDir dir;
            const QString settings = dir.filePath(QStringLiteral("lectoria.conf"));
            write(settings, QStringLiteral("[General]\nODBCNAME=%1\nUSERNAME=%2\nPASSWORD=%3\n")
                                .arg(odbcName, qyBeSecrectString(user), qyBeSecrectString(password)));
            const Run r = runBatch(settings, {QStringLiteral("backup"), dir.path(), QStringLiteral("--operator"), QStringLiteral("admin")});
            QVERIFY2(r.status == 0, qPrintable(odbcName + QLatin1Char('\n') + r.err));
            const QString last = server.control(QStringLiteral("logins")).split(QLatin1Char(' ')).last();
            QCOMPARE(QString::fromUtf8(QByteArray::fromHex(last.section(QLatin1Char(':'), 0, 0).toLatin1())), user);
            QCOMPARE(QString::fromUtf8(QByteArray::fromHex(last.section(QLatin1Char(':'), 1, 1).toLatin1())), password);
        }
    }

    // The server fails in the middle of each command's work: its connection
    // cut after some rows or bytes, or silent with its socket open. Every
    // command ends with status 3 and the database's reason (for silence,
    // the time it was given), the older output stays as it was, nothing is
    // said to have succeeded and nothing is stored.
    void serverFailingMidwayIsAFailure_data()
    {
        QTest::addColumn<QString>("command"); // OUT: the output file, IN: an exchange file, DIR: a folder
        QTest::addColumn<QString>("fault");
        const QString stats = QStringLiteral("report dzts stats --period all --format csv --output OUT");
        const QString sub = QStringLiteral("report bklw stats-sub --period all --format txt --output OUT");
        const QString listing = QStringLiteral("report dzts listing --period all --format txt --output OUT");
        const QString book = QStringLiteral("report zxsp book --period all --format txt --output OUT");
        const QString exporting = QStringLiteral("export dzts --from 2000-01-01 --to 2099-12-31 --output OUT");
        const QString importing = QStringLiteral("import dzts IN --skip-existing");
        const QString backup = QStringLiteral("backup DIR");
        QTest::newRow("statistics, cut") << stats << QStringLiteral("cut rows 2 when count(");
        QTest::newRow("statistics, silent") << stats << QStringLiteral("freeze when count(");
        QTest::newRow("sub-category statistics, cut") << sub << QStringLiteral("cut rows 1 when count(");
        QTest::newRow("sub-category statistics, silent") << sub << QStringLiteral("freeze rows 1 when count(");
        QTest::newRow("listing, cut") << listing << QStringLiteral("cut rows 40 when desc");
        QTest::newRow("listing, silent") << listing << QStringLiteral("freeze rows 40 when desc");
        QTest::newRow("book-style, cut") << book << QStringLiteral("cut rows 40 when desc");
        QTest::newRow("book-style, silent") << book << QStringLiteral("freeze rows 40 when desc");
        QTest::newRow("export, cut") << exporting << QStringLiteral("cut rows 40 when li_logtime");
        QTest::newRow("export, silent") << exporting << QStringLiteral("freeze rows 40 when li_logtime");
        QTest::newRow("import, stored records cut") << importing << QStringLiteral("cut rows 40 when from www_lineread");
        QTest::newRow("import, silent insert") << importing << QStringLiteral("freeze when insert into");
        QTest::newRow("backup, cut") << backup << QStringLiteral("cut bytes 150 when backup database");
        QTest::newRow("backup, silent") << backup << QStringLiteral("freeze when backup database");
    }
    void serverFailingMidwayIsAFailure()
    {
        QFETCH(QString, command);
        QFETCH(QString, fault);
        if (!TestDatabase::overTheWire())
            QSKIP("runs in the run over the TDS test server");
        Site site(300);
        QFile settings(site.settings);
        QVERIFY(settings.open(QIODevice::Append));
        settings.write("QUERYTIMEOUT=2\n");
        settings.close();
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("www_%1.dat").arg(QDate::currentDate().dayOfWeek()));
        const QByteArray older = Gbk::encode(QStringLiteral("上一次的好文件\r\n"));
        QFile f(out);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(older);
        f.close();
        QTemporaryDir inputs;
        const QString in = fileWith(inputs, ebookFile(books(50)));
        const int stored = site.db.scalar(QStringLiteral("select count(*) from www_lineread")).toInt();

        QStringList args;
        for (const QString &word : command.split(QLatin1Char(' ')))
            args << (word == QLatin1String("OUT") ? out : word == QLatin1String("IN") ? in
                     : word == QLatin1String("DIR") ? dir.path() : word);
        args << QStringLiteral("--operator") << QStringLiteral("admin");
        test::TdsTestServer *server = site.db.server();
        QVERIFY(server);
        server->control(fault);
        const Run r = runBatch(site.settings, args);
        server->control(QStringLiteral("thaw"));

        QVERIFY2(r.status == 3, qPrintable(QStringLiteral("%1: %2").arg(r.status).arg(r.err)));
        if (fault.startsWith(QLatin1String("freeze")))
            QVERIFY2(r.err.contains(QStringLiteral("超过2秒没有任何回应")), qPrintable(r.err));
        for (const QString &success : {QStringLiteral("完成"), QStringLiteral("成功")})
            QVERIFY2(!r.err.contains(success) && !r.out.contains(success), qPrintable(r.err));
        QCOMPARE(readWholeFile(out), older);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QFileInfo(out).fileName()});
        QCOMPARE(site.db.scalar(QStringLiteral("select count(*) from www_lineread")).toInt(), stored);
        QVERIFY2(server->control(QStringLiteral("faults")).startsWith(QStringLiteral("armed=[]")), "the fault never came");
    }

    // The listing dialog on a server that cuts its answers: the grid keeps
    // the rows it showed and says why the rest is missing; saving the report
    // says why it failed and leaves the older file as it was.
    void listingDialogOnAFailingServer()
    {
        if (!TestDatabase::overTheWire())
            QSKIP("runs in the run over the TDS test server");
        TestDatabase::Options o;
        o.recordsPerKind = 700;
        o.open = false;
        TestDatabase db(o);
        resetSession();
        db.openAsLibDB();
        test::TdsTestServer *server = db.server();
        QVERIFY(server);
        std::unique_ptr<ReportParamDialog> dlg = makeListingDialog(Kind::Dzts, nullptr);
        dlg->show();
        ScriptedPrompt prompt;
        server->control(QStringLiteral("cut rows 300 when desc"));
        choose(*dlg, QStringLiteral("rdbAllDate"));
        refresh(*dlg);
        QTableView *grid = child<QTableView>(*dlg, "DBGrid1");
        QCOMPARE(grid->model()->rowCount(), 256);
        QVERIFY(prompt.shown.isEmpty());
        grid->scrollToBottom();
        QTRY_VERIFY(!prompt.shown.isEmpty());
        QVERIFY(prompt.shown.first().icon == PromptIcon::Error);
        QCOMPARE(grid->model()->rowCount(), 300); // the rows that came before the cut
        QVERIFY(!grid->model()->canFetchMore(QModelIndex()));

        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("listing.txt"));
        const QByteArray older("older report\r\n");
        QFile f(out);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(older);
        f.close();
        prompt.clear();
        prompt.answers << true; // replace the file
        prompt.files << out;
        refresh(*dlg);
        server->control(QStringLiteral("cut rows 40 when desc"));
        child<QAction>(*dlg, "pmTxt")->trigger();
        const QString said = prompt.texts().join(QLatin1Char('\n'));
        QVERIFY2(!said.contains(fileDone), qPrintable(said));
        QVERIFY2(!prompt.shown.isEmpty() && prompt.shown.last().icon == PromptIcon::Error, qPrintable(said));
        QCOMPARE(readWholeFile(out), older);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("listing.txt")});
        dlg.reset();
        LibDB::close();
    }

    void failuresHaveTheirStatus()
    {
        Site site(3);
        // A file that cannot be written: status 4, nothing left behind.
        Run r = runBatch(site.settings, {QStringLiteral("export"), QStringLiteral("dzts"), QStringLiteral("--from"),
                                         QStringLiteral("2000-01-01"), QStringLiteral("--to"), QStringLiteral("2099-12-31"),
                                         QStringLiteral("--output"), QStringLiteral("/nonexistent/out.txt"),
                                         QStringLiteral("--operator"), QStringLiteral("admin")});
        QCOMPARE(r.status, 4);
        QVERIFY(!QFile::exists(QStringLiteral("/nonexistent/out.txt")));
        // The system's reason in Qt's Chinese words, whatever the machine's language.
        QVERIFY2(r.err.contains(QStringLiteral("此文件或目录不存在")), qPrintable(r.err));
        // A file that cannot be read.
        r = runBatch(site.settings, {QStringLiteral("import"), QStringLiteral("dzts"), QStringLiteral("/nonexistent/in.txt"),
                                     QStringLiteral("--operator"), QStringLiteral("admin")});
        QCOMPARE(r.status, 4);
        // A database that is not there: status 3.
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("lectoria.conf"));
        QFile f(missing);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[General]\nODBCNAME=sqlite:/nonexistent/www.db\n");
        f.close();
        r = runBatch(missing, {QStringLiteral("backup"), dir.path(), QStringLiteral("--operator"), QStringLiteral("admin")});
        QCOMPARE(r.status, 3);
        QVERIFY(r.err.contains(QStringLiteral("数据库连接出错")));
    }
};

QTEST_MAIN(TestBatch)
#include "tst_batch.moc"
