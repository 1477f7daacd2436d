#include "atomicfile.h"
#include "clock.h"
#include "connection.h"
#include "connectiondialog.h"
#include "qttexts.h"
#include "gbk.h"
#include "helpwindow.h"
#include "helperlib.h"
#include "libdb.h"
#include "login.h"
#include "messageboxprompt.h"
#include "machinesettings.h"
#include "mainwindow.h"
#include "startup.h"
#include "testsupport.h"
#include "unglobal.h"
#include "utilities.h"
#include "startupsteps.h"
#include "splash.h"
#include "text.h"

#include <QAction>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QProcess>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <functional>

#ifndef Q_OS_WIN
#include <grp.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

using namespace lectoria;
using namespace lectoria::test;

namespace {

// The POSIX locks this process holds on a file, from /proc/locks.
int locksHeldOn(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid());
    const QByteArray inode = ':' + QByteArray::number(qulonglong(st.st_ino));
    int held = 0;
    for (const QByteArray &line : locks.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        // "1: POSIX  ADVISORY  READ 1234 08:01:5678 128 128"
        if (f.size() >= 6 && f.at(1) == "POSIX" && f.at(4) == pid && f.at(5).endsWith(inode))
            ++held;
    }
    return held;
}

// Runs step on the next modal window to appear (the login window, a dialog).
void whenModal(std::function<void(QWidget *)> step, int tries = 200)
{
    QTimer::singleShot(10, qApp, [step = std::move(step), tries]() mutable {
        QWidget *w = QApplication::activeModalWidget();
        if (!w) {
            if (tries > 0) whenModal(std::move(step), tries - 1);
            return;
        }
        step(w);
    });
}

// Types a code and password into the login window and presses its login button.
void typeLogin(QWidget *login, const QString &code, const QString &pass)
{
    auto *edCode = login->findChild<QLineEdit *>(QStringLiteral("edCode"));
    auto *edPass = login->findChild<QLineEdit *>(QStringLiteral("edPass"));
    edCode->setText(code);
    edPass->setText(pass);
    QTest::mouseClick(login->findChild<QPushButton *>(QStringLiteral("btOk")), Qt::LeftButton);
}

// Answers the login window with each (code, password) in turn; the window
// closes itself on success or on the third failure; "cancel" presses cancel.
void scriptLogin(const QVector<QPair<QString, QString>> &attempts)
{
    whenModal([attempts](QWidget *login) {
        for (const auto &a : attempts) {
            if (!login->isVisible()) break;
            if (a.first == QLatin1String("cancel")) {
                QTest::mouseClick(login->findChild<QPushButton *>(QStringLiteral("btCancel")), Qt::LeftButton);
                break;
            }
            typeLogin(login, a.first, a.second);
        }
        if (login->isVisible())
            QTest::mouseClick(login->findChild<QPushButton *>(QStringLiteral("btCancel")), Qt::LeftButton);
    });
}

// Root may write any file whatever its permissions: a test of what an
// unprivileged user meets runs again, as the user "nobody", in a child
// process of this program. True in the parent, once the child has run, with
// what went wrong in *failure (empty when the child passed).
bool rerunAsNobody(QString *failure)
{
#ifdef Q_OS_WIN
    // Windows has no user to switch to from a child here.
    Q_UNUSED(failure);
    return false;
#else
    if (::geteuid() != 0 || qEnvironmentVariableIsSet("LECTORIA_TEST_UNPRIVILEGED"))
        return false;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LECTORIA_TEST_UNPRIVILEGED"), QStringLiteral("1"));
    env.insert(QStringLiteral("HOME"), QDir::tempPath());
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.setChildProcessModifier([] {
        ::setgroups(0, nullptr);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(99);
    });
    QString function = QString::fromLatin1(QTest::currentTestFunction());
    if (QTest::currentDataTag() && *QTest::currentDataTag())
        function += QLatin1Char(':') + QString::fromLocal8Bit(QTest::currentDataTag());
    child.start(QCoreApplication::applicationFilePath(), {function});
    if (!child.waitForFinished(240000)) {
        child.kill();
        child.waitForFinished();
        *failure = QStringLiteral("the unprivileged run did not end");
        return true;
    }
    const QString output = QString::fromLocal8Bit(child.readAll());
    failure->clear();
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        *failure = QStringLiteral("the unprivileged run failed (status %1):\n%2").arg(child.exitCode()).arg(output);
    return true;
#endif
}

bool enabled(TWebMain &w, const char *name)
{
    if (auto *a = w.findChild<QAction *>(QLatin1String(name))) return a->isEnabled();
    if (auto *m = w.findChild<QMenu *>(QLatin1String(name))) return m->menuAction()->isEnabled();
    if (auto *t = w.findChild<QToolButton *>(QLatin1String(name))) return t->isEnabled();
    qFatal("no command %s", name);
}

} // namespace

class TestApp : public QObject {
    Q_OBJECT
    QTemporaryDir odbcConfig;
    QTemporaryDir pictures;

private Q_SLOTS:
    // The console's file dialogs list the database's folder without opening
    // its files: the engine's locks stay, so another program's write and the
    // console's reads keep one consistent database.
    void fileDialogKeepsTheDatabaseLocks()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows keeps a lock to the handle that took it: a file opened and closed by the dialog drops none");
#endif
        TestDatabase db;
        QCOMPARE(LibDB::scalar(QStringLiteral("select count(*) from www_admin")).toInt(), 3);
        const QString shm = db.path() + QStringLiteral("-shm");
        const int held = locksHeldOn(shm);
        QVERIFY(held > 0);

        for (QFileDialog::AcceptMode mode : {QFileDialog::AcceptOpen, QFileDialog::AcceptSave}) {
            FileRequest request;
            request.directory = db.folder();
            std::unique_ptr<QFileDialog> dlg = makeFileDialog(nullptr, request, mode);
            dlg->setViewMode(QFileDialog::Detail);
            dlg->show();
            auto *model = dlg->findChild<QFileSystemModel *>();
            QVERIFY(model);
            const QModelIndex folder = model->index(db.folder());
            QTRY_VERIFY(model->rowCount(folder) >= 2);
            for (int row = 0; row < model->rowCount(folder); ++row) {
                // What the view shows: name, icon, size, type.
                model->data(model->index(row, 0, folder), Qt::DecorationRole);
                QTRY_VERIFY(!model->data(model->index(row, 2, folder)).toString().isEmpty());
            }
            QTest::qWait(200); // the model's gatherer thread settles
            QCOMPARE(locksHeldOn(shm), held);
        }

        // Another program writes; the console sees the write and the file stays sound.
        QProcess sqlite;
        sqlite.start(QStringLiteral("sqlite3"), {db.path(), QStringLiteral("insert into www_lineread (li_title,li_typeid) values ('外来',1);")});
        QVERIFY(sqlite.waitForFinished(30000));
        QCOMPARE(sqlite.exitCode(), 0);
        QCOMPARE(LibDB::scalar(QStringLiteral("select count(*) from www_lineread where li_title='外来'")).toInt(), 1);
        QCOMPARE(LibDB::scalar(QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
    }

    void initTestCase()
    {
        // No data source anywhere: connecting to "wwwODBC" fails quickly.
        qputenv("ODBCSYSINI", QFile::encodeName(odbcConfig.path()));
        qputenv("ODBCINI", QFile::encodeName(odbcConfig.filePath(QStringLiteral("odbc.ini"))));
        QVERIFY(QFile::copy(QStringLiteral(LECTORIA_SOURCE_DIR "/data/pictures/web.jpg"),
                            pictures.filePath(QStringLiteral("web.jpg"))));
        TWebMain::setPictureFolder(pictures.path());
        QVERIFY2(installQtChineseTexts(), "Qt's Chinese translation is installed");
    }

    void init()
    {
        resetSession();
        Clock::set(QDateTime(QDate(2024, 3, 5), QTime(10, 0)));
    }

    void cleanup()
    {
        LibDB::close();
        Clock::reset();
    }

    // --- start-up and the connection dialog ---

    void startupWithoutSettingsShowsConnectionDialogAlone()
    {
        TestSettings settings; // no file: no key
        ScriptedPrompt prompt;
        std::unique_ptr<QWidget> first = createFirstWindow();
        auto *dialog = qobject_cast<TDbPara *>(first.get());
        QVERIFY(dialog);
        QVERIFY(unGlobal().ConnectionState.isEmpty());
        for (const char *name : {"edOdbc", "edUser", "edPass"})
            QVERIFY(dialog->findChild<QLineEdit *>(QLatin1String(name))->text().isEmpty());
        QVERIFY(!dialog->findChild<QGroupBox *>(QStringLiteral("grbBox"))->isVisibleTo(dialog));
        QVERIFY(prompt.shown.isEmpty());
    }

    void connectionDialogShowsAndSavesParameters()
    {
        TestSettings settings;
        settings.write({{QStringLiteral("ODBCNAME"), QStringLiteral(" sqlite:/nonexistent/www.db ")},
                        {QStringLiteral("USERNAME"), qyBeSecrectString(QStringLiteral("sa"))},
                        {QStringLiteral("PASSWORD"), qyBeSecrectString(QStringLiteral("pw"))}});
        ScriptedPrompt prompt;
        std::unique_ptr<QWidget> first = createFirstWindow();
        auto *dialog = qobject_cast<TDbPara *>(first.get());
        QVERIFY(dialog);
        auto *edOdbc = dialog->findChild<QLineEdit *>(QStringLiteral("edOdbc"));
        auto *edUser = dialog->findChild<QLineEdit *>(QStringLiteral("edUser"));
        auto *edPass = dialog->findChild<QLineEdit *>(QStringLiteral("edPass"));
        QCOMPARE(edOdbc->text(), QStringLiteral("sqlite:/nonexistent/www.db"));
        QCOMPARE(edUser->text(), QStringLiteral("sa"));
        QCOMPARE(edPass->text(), QStringLiteral("pw"));
        QCOMPARE(edUser->echoMode(), QLineEdit::Password);

        // The written warning lines, and below them the driver's reason.
        dialog->show();
        auto *reason = dialog->findChild<QLabel *>(QStringLiteral("lbReason"));
        QVERIFY(reason->isVisible());
        QVERIFY2(reason->text().contains(QStringLiteral("数据库文件不存在")), qPrintable(reason->text()));
        QLabel *lastWarning = nullptr;
        for (QLabel *l : dialog->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly))
            if (l->text() == QStringLiteral("确定无误后，重新运行系统。或与系统管理员联系。"))
                lastWarning = l;
        QVERIFY(lastWarning);
        QVERIFY(reason->geometry().top() > lastWarning->geometry().bottom());
        QVERIFY(reason->geometry().bottom() < dialog->height());

        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("btMod")), Qt::LeftButton);
        QVERIFY(dialog->findChild<QGroupBox *>(QStringLiteral("grbBox"))->isVisible());
        QVERIFY(!reason->isVisible());
        QCOMPARE(dialog->frameGeometry().height(), 261);

        // Saving creates the parent key and the key when neither exists.
        settings.remove();
        QDir(QFileInfo(settings.path()).absolutePath()).removeRecursively();
        edOdbc->setText(QStringLiteral("  wwwODBC "));
        edUser->setText(QStringLiteral(" user1 "));
        edPass->setText(QStringLiteral("a;b"));
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("btOk")), Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(MachineSettings::value(QStringLiteral("ODBCNAME")), QStringLiteral("wwwODBC"));
        const QString storedUser = MachineSettings::value(QStringLiteral("USERNAME"));
        QVERIFY(storedUser != QStringLiteral("user1"));
        QCOMPARE(qyDeSecrectString(storedUser), QStringLiteral("user1"));
        QCOMPARE(LibDB::paramsFromSettings().password, QStringLiteral("a;b"));
        QVERIFY(prompt.shown.isEmpty());
    }

    // A password that could not reach the server as typed is refused in the
    // dialog, which stays open, and nothing is stored.
    void connectionDialogRefusesWhatCannotArrive()
    {
        TestSettings settings;
        settings.write({{QStringLiteral("ODBCNAME"), QStringLiteral("wwwODBC")}});
        ScriptedPrompt prompt;
        TDbPara dialog;
        dialog.show();
        QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("btMod")), Qt::LeftButton);
        dialog.findChild<QLineEdit *>(QStringLiteral("edUser"))->setText(QStringLiteral("sa"));
        dialog.findChild<QLineEdit *>(QStringLiteral("edPass"))->setText(QStringLiteral("Lib};2024"));
        QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("btOk")), Qt::LeftButton);
        QVERIFY(dialog.isVisible());
        QCOMPARE(prompt.shown.size(), 1);
        QCOMPARE(prompt.shown.at(0).icon, PromptIcon::Error);
        QVERIFY2(prompt.shown.at(0).text.contains(QStringLiteral("密码中含有“};”")), qPrintable(prompt.shown.at(0).text));
        QCOMPARE(MachineSettings::value(QStringLiteral("PASSWORD")), QString());
    }

    void garbageSettingsNeverCrash()
    {
        TestSettings settings;
        settings.writeRaw(QByteArray("\x00\xff\xfe garbage [[[ = = =\n\x01ODBCNAME\n=\n", 30));
        ScriptedPrompt prompt;
        std::unique_ptr<QWidget> first = createFirstWindow();
        QVERIFY(qobject_cast<TDbPara *>(first.get()));
    }

    void startupOnDatabaseWithoutOperatorTable()
    {
        TestSettings settings;
        TestDatabase::Options o;
        o.open = false;
        TestDatabase db(o);
        db.exec(QStringLiteral("drop table www_admin"));
        settings.write({{QStringLiteral("ODBCNAME"), db.odbcName()}});
        ScriptedPrompt prompt;
        std::unique_ptr<QWidget> first = createFirstWindow();
        auto *main = qobject_cast<TWebMain *>(first.get());
        QVERIFY(main);
        // The database's own text in the standard error box; no login window; nobody logged in.
        QCOMPARE(prompt.shown.size(), 1);
        QCOMPARE(prompt.shown.at(0).caption, QStringLiteral("砚禾数字图书馆管理系统"));
        QVERIFY2(prompt.shown.at(0).text.contains(QStringLiteral("www_admin")), qPrintable(prompt.shown.at(0).text));
        QVERIFY(!enabled(*main, "m_zxyd"));
        QVERIFY(!enabled(*main, "x_logout"));
        QVERIFY(!unGlobal().StartingUp);
        QVERIFY(!main->findChild<TFlash *>());
    }

    void startupRunsEveryStepAndTheFirstLogin()
    {
        TestSettings settings;
        TestDatabase::Options o;
        o.open = false;
        o.volumeColumn = false;
        TestDatabase db(o);
        db.exec(QStringLiteral("delete from www_admin where ad_code='admin'"));
        settings.write({{QStringLiteral("ODBCNAME"), db.odbcName()},
                        {QStringLiteral("SCHOOLNAME"), QStringLiteral(" 实验中学 ")},
                        {QStringLiteral("INPUTTYPE"), QStringLiteral(" 拼音 ")}});
        ScriptedPrompt prompt;
        bool exitVisible = true;
        bool splashShown = false;
        whenModal([&](QWidget *login) {
            exitVisible = login->findChild<QPushButton *>(QStringLiteral("btExit"))->isVisible();
            splashShown = unGlobal().StartingUp && QApplication::topLevelWidgets().size() > 1;
            QCOMPARE(login->windowTitle(), QStringLiteral("用户登录 [数字图书馆管理系统]"));
            typeLogin(login, QStringLiteral("admin"), QStringLiteral("qzmvt"));
        });
        std::unique_ptr<QWidget> first = createFirstWindow();
        auto *main = qobject_cast<TWebMain *>(first.get());
        QVERIFY(main);
        QVERIFY(prompt.shown.isEmpty());
        QVERIFY(!exitVisible);
        QVERIFY(splashShown);
        QCOMPARE(unGlobal().ConnectionState, QStringLiteral("OK"));
        QCOMPARE(unGlobal().OperatorCode, QStringLiteral("admin"));
        QCOMPARE(unGlobal().SchoolName, QStringLiteral("实验中学"));
        QCOMPARE(unGlobal().DefaultInputMethod, QStringLiteral("拼音"));
        QCOMPARE(main->windowTitle(), QStringLiteral("砚禾数字图书馆管理系统 -- 实验中学"));
        QVERIFY(!unGlobal().StartingUp);
        QVERIFY(!main->findChild<TFlash *>());
        QVERIFY(qAbs(unGlobal().ServerDate.secsTo(QDateTime::currentDateTime())) < 120);
        // Upkeep ran: the administrator is back, the margins are the table's defaults.
        QCOMPARE(db.scalar(QStringLiteral("select ad_pass from www_admin where ad_code='admin'")).toString(), QStringLiteral("qzmvt"));
        QCOMPARE(db.scalar(QStringLiteral("select count(*) from lib_prtblank")).toInt(), 1);
        QCOMPARE(unGlobal().CustomMargins, 0);
        QCOMPARE(unGlobal().MarginTop, 10);
        QVERIFY(!main->findChild<QLabel *>(QStringLiteral("imgBack"))->pixmap().isNull());
        QCOMPARE(main->findChild<QLabel *>(QStringLiteral("lbSchool1"))->text(), QStringLiteral("数字图书馆管理系统"));
        QVERIFY(enabled(*main, "m_zxyd"));
        QVERIFY(enabled(*main, "w_yonghu"));
    }

    // A database this process can only read (a copy without write
    // permission, read-only media) is announced once at start-up: the
    // upkeep it needed did not run, and the login then goes on as usual.
    void readOnlyDatabaseIsAnnounced_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("rollback journal") << QStringLiteral("delete");
        QTest::newRow("WAL") << QStringLiteral("wal");
    }
    void readOnlyDatabaseIsAnnounced()
    {
        QFETCH(QString, mode);
        if (TestDatabase::overTheWire())
            QSKIP("the database file is the TDS test server's, opened for writing");
        QString failure;
        if (rerunAsNobody(&failure)) {
            QVERIFY2(failure.isEmpty(), qPrintable(failure));
            return;
        }
        QByteArray copy;
        {
            TestDatabase::Options o;
            o.open = false;
            o.volumeColumn = false; // the upkeep has work it cannot do
            TestDatabase db(o);
            db.exec(QStringLiteral("PRAGMA journal_mode=%1").arg(mode));
            db.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
            copy = readWholeFile(db.path());
        }
        QTemporaryDir media;
        const QString file = media.filePath(QStringLiteral("www.db"));
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(copy);
        }
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner));
        QVERIFY(QFile::setPermissions(media.path(), QFile::ReadOwner | QFile::ExeOwner));
        ScopeExit writable([&] { QFile::setPermissions(media.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); });
        TestSettings settings;
        settings.write({{QStringLiteral("ODBCNAME"), QStringLiteral("sqlite:") + file}});

        ScriptedPrompt prompt;
        qsizetype shownBeforeLogin = -1;
        whenModal([&](QWidget *login) {
            shownBeforeLogin = prompt.shown.size();
            typeLogin(login, QStringLiteral("admin"), QStringLiteral("qzmvt"));
        });
        std::unique_ptr<QWidget> first = createFirstWindow();
        QVERIFY(qobject_cast<TWebMain *>(first.get()));
        QVERIFY(LibDB::readOnly());
        QCOMPARE(prompt.shown.size(), 1);
        QCOMPARE(shownBeforeLogin, 1);
        QCOMPARE(prompt.shown.at(0).icon, PromptIcon::Information);
        QVERIFY2(prompt.shown.at(0).text.contains(QStringLiteral("数据库只能读取"))
                     && prompt.shown.at(0).text.contains(QStringLiteral("维护没有进行"))
                     && prompt.shown.at(0).text.contains(QStringLiteral("拒绝")),
                 qPrintable(prompt.shown.at(0).text));
        QCOMPARE(unGlobal().OperatorCode, QStringLiteral("admin"));
        QCOMPARE(readWholeFile(file), copy);
    }

    void missingBackgroundIsReported()
    {
        TestDatabase db;
        ScriptedPrompt prompt;
        QTemporaryDir empty;
        TWebMain::setPictureFolder(empty.path());
        scriptLogin({{QStringLiteral("cancel"), QString()}});
        TWebMain main;
        QVERIFY(main.FormCreate());
        TWebMain::setPictureFolder(pictures.path());
        QCOMPARE(prompt.shown.size(), 1);
        QCOMPARE(prompt.shown.at(0).caption, QStringLiteral("信息提示"));
        QCOMPARE(prompt.shown.at(0).text, QStringLiteral("web.jpg不存在！"));
        QVERIFY(!enabled(main, "m_shdh"));
    }

    void serverDateRule_data()
    {
        QTest::addColumn<QDate>("first");
        QTest::addColumn<QDate>("second");
        QTest::addColumn<int>("reads");
        QTest::addColumn<QString>("message");
        const QString wrong = QStringLiteral("数据库服务器的日期为[2002-12-31]，应当不对。\r\n请先退出，调整服务器时间正确后，重启服务器。");
        QTest::newRow("good") << QDate(2024, 3, 5) << QDate() << 1 << QString();
        QTest::newRow("first bad, second good") << QDate(2002, 12, 31) << QDate(2024, 3, 5) << 2 << QString();
        QTest::newRow("both bad") << QDate(2002, 12, 31) << QDate(2002, 12, 31) << 2 << wrong;
        QTest::newRow("boundary kept") << QDate(2003, 4, 1) << QDate() << 1 << QString();
    }
    void serverDateRule()
    {
        QFETCH(QDate, first);
        QFETCH(QDate, second);
        QFETCH(int, reads);
        QFETCH(QString, message);
        ScriptedPrompt prompt;
        int n = 0;
        StartupSteps::checkServerDate([&] { return (n++ == 0 ? first : second).startOfDay(); });
        QCOMPARE(n, reads);
        QCOMPARE(prompt.texts(), message.isEmpty() ? QStringList() : QStringList{message});
    }

    // --- login, states and rights ---

    void loginFailures_data()
    {
        QTest::addColumn<QStringList>("codes");
        QTest::addColumn<QStringList>("passwords");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("loggedIn");
        QTest::newRow("success") << QStringList{QStringLiteral("lib01")} << QStringList{QStringLiteral("lib01")}
                                 << QStringList{} << QStringLiteral("lib01");
        QTest::newRow("unknown then right")
            << QStringList{QStringLiteral("nobody"), QStringLiteral("admin")} << QStringList{QStringLiteral("x"), QStringLiteral("qzmvt")}
            << QStringList{QStringLiteral("没有此用户！请再试一次。")} << QStringLiteral("admin");
        QTest::newRow("three unknown")
            << QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")} << QStringList{QString(), QString(), QString()}
            << QStringList{QStringLiteral("没有此用户！请再试一次。"), QStringLiteral("没有此用户！请再试一次。"),
                           QStringLiteral("没有此用户！错误已超过3次。")}
            << QString();
        QTest::newRow("mixed failures count together")
            << QStringList{QStringLiteral("admin"), QStringLiteral("x"), QStringLiteral("admin")}
            << QStringList{QStringLiteral("bad"), QString(), QStringLiteral("QZMVT")}
            << QStringList{QStringLiteral("密码错误！请再试一次。"), QStringLiteral("没有此用户！请再试一次。"),
                           QStringLiteral("密码错误！错误已超过3次。")}
            << QString();
        QTest::newRow("password with a trailing blank fails")
            << QStringList{QStringLiteral("admin")} << QStringList{QStringLiteral("qzmvt ")}
            << QStringList{QStringLiteral("密码错误！请再试一次。")} << QString();
        QTest::newRow("a quote in the code finds no row")
            << QStringList{QStringLiteral("a'b")} << QStringList{QString()}
            << QStringList{QStringLiteral("没有此用户！请再试一次。")} << QString();
    }
    void loginFailures()
    {
        QFETCH(QStringList, codes);
        QFETCH(QStringList, passwords);
        QFETCH(QStringList, messages);
        QFETCH(QString, loggedIn);
        TestDatabase db;
        ScriptedPrompt prompt;
        TWebMain main;
        QVector<QPair<QString, QString>> attempts;
        for (int i = 0; i < codes.size(); ++i) attempts.append({codes.at(i), passwords.at(i)});
        scriptLogin(attempts);
        main.loginCommand();
        QCOMPARE(prompt.texts(), messages);
        for (const auto &s : prompt.shown) QCOMPARE(s.caption, QStringLiteral("错误提示"));
        QCOMPARE(unGlobal().OperatorCode, loggedIn);
        QCOMPARE(enabled(main, "m_zxyd"), !loggedIn.isEmpty());
    }

    void commandStates_data()
    {
        QTest::addColumn<QString>("rights");
        QTest::addColumn<bool>("people");
        QTest::addColumn<bool>("data");
        QTest::newRow("no rights") << QStringLiteral("1111111111111111111") .replace(14, 1, QLatin1Char('0')).replace(18, 1, QLatin1Char('0')) << false << false;
        QTest::newRow("people only") << QStringLiteral("0000000000000000001") << true << false;
        QTest::newRow("backup only") << QStringLiteral("0000000000000010000") << false << true;
        QTest::newRow("both") << QStringLiteral("0000000000000010001") << true << true;
    }
    void commandStates()
    {
        QFETCH(QString, rights);
        QFETCH(bool, people);
        QFETCH(bool, data);
        TestDatabase db;
        db.addOperator(QStringLiteral("op1"), QStringLiteral("测试"), QStringLiteral("pw"), rights);
        ScriptedPrompt prompt;
        TWebMain main;
        main.setLoggedOut();
        // Logged out: only the commands that need nobody.
        for (const char *n : {"x_logout", "x_passwd", "x_prtblank", "m_shdh", "m_zxyd", "weihu", "w_yonghu", "w_backup",
                              "w_zhengli", "w_input", "w_output", "tbtSPrint", "tbtZPrint1", "tbtZPrint5", "tbtPeople"})
            QVERIFY2(!enabled(main, n), n);
        for (const char *n : {"x_login", "x_quit", "x_chinese", "s_datetime", "s_printer", "s_jsq", "h_help", "h_about",
                              "ToolButton5", "tbtAbout", "tbtLogin", "tbtLogout"})
            QVERIFY2(enabled(main, n), n);

        scriptLogin({{QStringLiteral("op1"), QStringLiteral("pw")}});
        main.loginCommand();
        QCOMPARE(unGlobal().OperatorCode, QStringLiteral("op1"));
        for (const char *n : {"x_logout", "x_passwd", "x_prtblank", "m_shdh", "m_zxyd", "weihu", "tbtSPrint", "tbtZPrint3", "tbtLogout"})
            QVERIFY2(enabled(main, n), n);
        for (const char *n : {"x_login", "x_quit", "tbtLogin"})
            QVERIFY2(!enabled(main, n), n);
        QCOMPARE(enabled(main, "w_yonghu"), people);
        QCOMPARE(enabled(main, "tbtPeople"), people);
        for (const char *n : {"w_backup", "w_zhengli", "w_input", "w_output"})
            QCOMPARE(enabled(main, n), data);

        // Logout: logged out at once, and a new login window that has the exit button.
        bool exitVisible = false;
        whenModal([&](QWidget *login) {
            exitVisible = login->findChild<QPushButton *>(QStringLiteral("btExit"))->isVisible();
            QVERIFY(unGlobal().OperatorCode.isEmpty());
            QTest::mouseClick(login->findChild<QPushButton *>(QStringLiteral("btCancel")), Qt::LeftButton);
        });
        main.logoutCommand();
        QVERIFY(exitVisible);
        QVERIFY(unGlobal().OperatorCode.isEmpty());
        QVERIFY(enabled(main, "x_login"));
        QVERIFY(enabled(main, "x_quit"));
        QVERIFY(!enabled(main, "m_zxyd"));
        QVERIFY(!enabled(main, "w_yonghu"));
        // The tool buttons keep what the login gave them.
        QVERIFY(!enabled(main, "tbtLogin"));
        QVERIFY(enabled(main, "tbtLogout"));
    }

    void exitButtonEndsTheProgram()
    {
        TestDatabase db;
        ScriptedPrompt prompt;
        TWebMain main;
        main.show();
        whenModal([](QWidget *login) {
            QTest::mouseClick(login->findChild<QPushButton *>(QStringLiteral("btExit")), Qt::LeftButton);
        });
        main.loginCommand();
        QVERIFY(main.closeRequested());
        QVERIFY(!main.isVisible());
    }

    void passwordChangedTwice()
    {
        TestDatabase db;
        ScriptedPrompt prompt;
        TWebMain main;
        scriptLogin({{QStringLiteral("lib01"), QStringLiteral("lib01")}});
        main.loginCommand();
        auto change = [&](const QString &old, const QString &n1, const QString &n2) {
            whenModal([=](QWidget *dlg) {
                dlg->findChild<QLineEdit *>(QStringLiteral("edPass"))->setText(old);
                dlg->findChild<QLineEdit *>(QStringLiteral("edPass1"))->setText(n1);
                dlg->findChild<QLineEdit *>(QStringLiteral("edPass2"))->setText(n2);
                QTest::mouseClick(dlg->findChild<QPushButton *>(QStringLiteral("btOk")), Qt::LeftButton);
                if (dlg->isVisible())
                    QTest::mouseClick(dlg->findChild<QPushButton *>(QStringLiteral("btCancel")), Qt::LeftButton);
            });
            main.passwordCommand();
        };
        change(QStringLiteral("wrong"), QStringLiteral("a"), QStringLiteral("a"));
        change(QStringLiteral("lib01"), QStringLiteral("a"), QStringLiteral("b"));
        change(QStringLiteral("lib01"), QStringLiteral("o'k"), QStringLiteral("o'k"));
        change(QStringLiteral("lib01"), QStringLiteral("x"), QStringLiteral("x")); // the old one no longer holds
        change(QStringLiteral("o'k"), QString(), QString());
        QCOMPARE(prompt.texts(), (QStringList{QStringLiteral("旧密码不正确，请重新操作。"), QStringLiteral("两个密码不一样，请重新操作。"),
                                              QStringLiteral("密码修改成功。"), QStringLiteral("旧密码不正确，请重新操作。"),
                                              QStringLiteral("密码修改成功。")}));
        QCOMPARE(prompt.shown.at(2).caption, QStringLiteral("提示"));
        QCOMPARE(db.scalar(QStringLiteral("select ad_pass from www_admin where ad_code='lib01'")).toString(), QString());
        // An empty password logs in with an empty field.
        prompt.clear();
        scriptLogin({{QStringLiteral("lib01"), QString()}});
        main.loginCommand();
        QCOMPARE(unGlobal().OperatorCode, QStringLiteral("lib01"));
    }

    // --- layout ---

    void resizeRule()
    {
        TestDatabase db;
        ScriptedPrompt prompt;
        TWebMain main;
        scriptLogin({{QStringLiteral("cancel"), QString()}});
        QVERIFY(main.FormCreate());
        main.show();
        const QSize frame = main.frameGeometry().size() - main.size();
        main.resize(QSize(1024, 600) - frame);
        QCOMPARE(main.frameGeometry().width(), 1024);
        auto *lb1 = main.findChild<QLabel *>(QStringLiteral("lbSchool1"));
        auto *lb2 = main.findChild<QLabel *>(QStringLiteral("lbSchool2"));
        QCOMPARE(lb1->font().pointSize(), 54); // (1024 - 50) / 18
        QCOMPARE(lb2->font().pointSize(), 54);
        QCOMPARE(lb1->x(), (1024 - lb1->width()) / 2);
        QCOMPARE(lb2->pos(), lb1->pos() - QPoint(3, 3));
        QCOMPARE(main.findChild<QLabel *>(QStringLiteral("imgBack"))->geometry(), QRect(5, 2, 1024 - 18, 600 - 50));
        main.resize(250, 150);
        QCOMPARE(main.frameGeometry().width(), 400);
        QCOMPARE(main.frameGeometry().height(), 300);
        QCOMPARE(lb1->font().pointSize(), (400 - 50) / 18);
    }

    // --- utilities ---

    void defaultInputMethodIsKept()
    {
        TestSettings settings;
        ScriptedPrompt prompt;
        unGlobal().DefaultInputMethod = QStringLiteral("旧输入法");
        {
            TChinese dlg(nullptr);
            auto *cb = dlg.findChild<QComboBox *>(QStringLiteral("cbDefInput"));
            QCOMPARE(cb->currentText(), QStringLiteral("旧输入法"));
            cb->setEditText(QStringLiteral("  不存在的输入法 "));
            QTest::mouseClick(dlg.findChild<QPushButton *>(QStringLiteral("bbtOk")), Qt::LeftButton);
        }
        QCOMPARE(unGlobal().DefaultInputMethod, QStringLiteral("不存在的输入法"));
        QCOMPARE(MachineSettings::value(QStringLiteral("INPUTTYPE")), QStringLiteral("不存在的输入法"));
        // After a restart the dialog opens with the chosen name.
        unGlobal().DefaultInputMethod = trimText(MachineSettings::value(QStringLiteral("INPUTTYPE")));
        TChinese again(nullptr);
        QCOMPARE(again.findChild<QComboBox *>(QStringLiteral("cbDefInput"))->currentText(), QStringLiteral("不存在的输入法"));
        QVERIFY(prompt.shown.isEmpty());
    }

    void aboutBox()
    {
        unGlobal().TitleText = QStringLiteral("砚禾数字图书馆管理系统");
        TAboutBox box(nullptr);
        QCOMPARE(box.findChild<QLabel *>(QStringLiteral("ProductName"))->text(), unGlobal().TitleText);
        QCOMPARE(box.findChild<QLabel *>(QStringLiteral("Version"))->text(), QStringLiteral("V" LECTORIA_VERSION));
        auto *product = box.findChild<QLabel *>(QStringLiteral("ProductName"));
        QCOMPARE(box.findChild<QLabel *>(QStringLiteral("lbVerStr"))->x(), product->x() + product->width());
        // A picture painted for the box, not a small one blown up.
        const QPixmap picture = box.findChild<QLabel *>(QStringLiteral("imgAbout"))->pixmap();
        QCOMPARE(picture.deviceIndependentSize(), QSizeF(box.size()));
        box.show();
        QTest::mouseClick(&box, Qt::LeftButton);
        QVERIFY(!box.isVisible());
    }

    // Every command of the menu bar leads somewhere, and each report command
    // opens its own window by name.
    void everyCommandOpensItsWindow_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("window");
        QTest::newRow("ms_tji") << "ms_tji" << "TShdhTJP";
        QTest::newRow("mz_tji2") << "mz_tji2" << "TBklwTJP";
        QTest::newRow("mz_print5") << "mz_print5" << "TZxspMLP";
        QTest::newRow("x_prtblank") << "x_prtblank" << "TPrtBlankPara";
        QTest::newRow("w_yonghu") << "w_yonghu" << "TPeople";
        QTest::newRow("w_backup") << "w_backup" << "TBackUp";
        QTest::newRow("w_output") << "w_output" << "TExportOther";
        QTest::newRow("w_input") << "w_input" << "TImportOther";
    }
    void everyCommandOpensItsWindow()
    {
        QFETCH(QString, command);
        QFETCH(QString, window);
        TestDatabase::Options o;
        o.marginsTable = true;
        TestDatabase db(o);
        ScriptedPrompt prompt;
        TWebMain main;
        registerCommands(main);
        for (QAction *a : main.findChildren<QAction *>())
            if (!a->objectName().isEmpty() && !a->objectName().endsWith(QLatin1String("_menu")))
                QVERIFY2(main.hasHandler(a->objectName()), qPrintable(a->objectName()));
        unGlobal().OperatorCode = QStringLiteral("admin");
        QString opened;
        whenModal([&](QWidget *w) {
            opened = w->objectName();
            w->close();
        });
        main.findChild<QAction *>(command)->trigger();
        QCOMPARE(opened, window);
        QVERIFY(prompt.shown.isEmpty());
    }

    // The windows whose design fixes their border: no minimise or maximise
    // button ever, a close button only where the design has the system menu,
    // not resizable; their password fields show "*".
    void fixedDialogs_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<bool>("closeButton");
        QTest::addColumn<QStringList>("passwords");
        QTest::newRow("TLogin") << "TLogin" << false << QStringList{"edPass"};
        QTest::newRow("TChgPass") << "TChgPass" << false << QStringList{"edPass", "edPass1", "edPass2"};
        QTest::newRow("TChinese") << "TChinese" << false << QStringList();
        QTest::newRow("TAboutBox") << "TAboutBox" << true << QStringList();
        QTest::newRow("TDbPara") << "TDbPara" << true << QStringList{"edUser", "edPass"};
    }
    void fixedDialogs()
    {
        QFETCH(QString, window);
        QFETCH(bool, closeButton);
        QFETCH(QStringList, passwords);
        TestSettings settings;
        std::unique_ptr<QDialog> dialog;
        if (window == QLatin1String("TLogin")) dialog = std::make_unique<TLogin>(nullptr);
        if (window == QLatin1String("TChgPass")) dialog = std::make_unique<TChgPass>(nullptr);
        if (window == QLatin1String("TChinese")) dialog = std::make_unique<TChinese>(nullptr);
        if (window == QLatin1String("TAboutBox")) dialog = std::make_unique<TAboutBox>(nullptr);
        if (window == QLatin1String("TDbPara")) dialog = std::make_unique<TDbPara>(nullptr);
        QCOMPARE(dialog->objectName(), window);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));

        const Qt::WindowFlags flags = dialog->windowFlags();
        QCOMPARE(flags & Qt::WindowType_Mask, Qt::Dialog);
        QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
        QVERIFY(flags.testFlag(Qt::WindowTitleHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(flags.testFlag(Qt::WindowCloseButtonHint), closeButton);
        QCOMPARE(dialog->minimumSize(), dialog->maximumSize());

        for (const QString &name : passwords) {
            auto *field = dialog->findChild<QLineEdit *>(name);
            QVERIFY2(field, qPrintable(name));
            field->setText(QStringLiteral("ab1"));
            QCOMPARE(field->displayText(), QStringLiteral("***"));
            QCOMPARE(field->text(), QStringLiteral("ab1"));
        }
    }

    // F1: the help window shows the GBK index page and follows its links.
    void helpWindowShowsPagesAndFollowsLinks()
    {
        QTemporaryDir folder;
        QVERIFY(QDir(folder.path()).mkpath(QStringLiteral("Help")));
        auto writeGbk = [&](const QString &name, const QString &html) {
            QFile f(folder.filePath(QStringLiteral("Help/") + name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(Gbk::encode(html));
        };
        writeGbk(QStringLiteral("Index.htm"),
                 QStringLiteral("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">"
                                "<title>帮助首页</title></head><body><p>报刊论文分类统计</p>"
                                "<p><a href=\"Page2.htm\">数据导入</a></p></body></html>"));
        writeGbk(QStringLiteral("Page2.htm"),
                 QStringLiteral("<html><head><title>导入说明</title></head><body><p>交换文件的格式</p></body></html>"));
        const QString previous = QDir::currentPath();
        QDir::setCurrent(folder.path());
        auto restore = qScopeGuard([&] { QDir::setCurrent(previous); });

        ScriptedPrompt prompt;
        TWebMain main;
        main.show();
        main.findChild<QAction *>(QStringLiteral("h_help"))->trigger();
        auto *help = main.findChild<THelp *>();
        QVERIFY(help);
        QVERIFY(help->isVisible());
        QCOMPARE(help->windowTitle(), QStringLiteral("帮助首页"));
        HelpBrowser *browser = help->browser();
        QVERIFY(browser->toPlainText().contains(QStringLiteral("报刊论文分类统计")));

        // The link, reached and followed from the keyboard.
        browser->setFocus();
        QTest::keyClick(browser, Qt::Key_Tab);
        QTest::keyClick(browser, Qt::Key_Return);
        QTRY_COMPARE(help->windowTitle(), QStringLiteral("导入说明"));
        QVERIFY(browser->toPlainText().contains(QStringLiteral("交换文件的格式")));
        QTest::mouseClick(help->findChild<QPushButton *>(QStringLiteral("btBack")), Qt::LeftButton);
        QCOMPARE(help->windowTitle(), QStringLiteral("帮助首页"));

        // F1 again: the same window, on its first page.
        browser->setSource(QUrl(QStringLiteral("Page2.htm")));
        main.findChild<QAction *>(QStringLiteral("h_help"))->trigger();
        QCOMPARE(main.findChildren<THelp *>().size(), 1);
        QCOMPARE(help->windowTitle(), QStringLiteral("帮助首页"));
        QVERIFY(prompt.shown.isEmpty());

        // No help pages anywhere: said so, and no empty window.
        help->close();
        QVERIFY(QFile::rename(folder.filePath(QStringLiteral("Help")), folder.filePath(QStringLiteral("Gone"))));
        QVERIFY(!Utilities::openHelp(nullptr));
        QCOMPARE(prompt.texts(), QStringList{QStringLiteral("帮助文件") + QDir::toNativeSeparators(
                                                 folder.filePath(QStringLiteral("Help/Index.htm")))
                                             + QStringLiteral("不存在！")});
    }

    // The real message box speaks Chinese and gives the focus back to the
    // field of the window it was about.
    void messageBoxReturnsFocusAndSpeaksChinese()
    {
        QDialog dialog;
        auto *first = new QLineEdit(&dialog);
        auto *second = new QLineEdit(&dialog);
        auto *layout = new QVBoxLayout(&dialog);
        layout->addWidget(first);
        layout->addWidget(second);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        second->setFocus();

        MessageBoxPrompt real;
        QString okText;
        QWidget *boxOwner = nullptr;
        whenModal([&](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            if (!box) return;
            boxOwner = box->parentWidget();
            okText = box->button(QMessageBox::Ok)->text();
            // The box takes the focus from the dialog, as on a desktop.
            first->setFocus();
            box->button(QMessageBox::Ok)->click();
        });
        real.message(QStringLiteral("错误提示"), QStringLiteral("密码错误！请再试一次。"), PromptIcon::Error);
        QCOMPARE(okText, QStringLiteral("确定"));
        QCOMPARE(boxOwner, &dialog);
        QTRY_COMPARE(QApplication::activeWindow(), &dialog);
        QCOMPARE(QApplication::focusWidget(), second);
    }

    // The open dialog's default suffix: a name typed without it that names
    // no file gets it; a file without a suffix still opens by its name.
    void openDialogDefaultSuffix_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("suffix added") << "gui_in" << "gui_in.dat";
        QTest::newRow("suffix typed") << "gui_in.dat" << "gui_in.dat";
        QTest::newRow("a file without suffix") << "plain" << "plain";
    }
    void openDialogDefaultSuffix()
    {
        QFETCH(QString, typed);
        QFETCH(QString, chosen);
        QTemporaryDir dir;
        for (const char *name : {"gui_in.dat", "plain"}) {
            QFile f(dir.filePath(QLatin1String(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        whenModal([typed](QWidget *w) {
            auto *dialog = qobject_cast<QFileDialog *>(w);
            if (!dialog)
                return;
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(typed);
            QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
            // Not found: Qt's warning and the dialog are closed, the test goes on.
            QTimer::singleShot(5000, qApp, [] {
                for (int i = 0; i < 3; ++i)
                    if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                        d->reject();
            });
        });
        MessageBoxPrompt real;
        FileRequest request;
        request.directory = dir.path();
        request.defaultSuffix = QStringLiteral("dat");
        QCOMPARE(real.openFileName(request), dir.filePath(chosen));
    }

    void utilityProgramsAreOptional()
    {
        QVERIFY(!Utilities::startFirstInstalled({QStringLiteral("no-such-program-here --x")}));
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
