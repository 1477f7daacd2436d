// The console's first minute on a real desktop: an X server (Xvfb) with a
// window manager (openbox), the console started as main() starts it, and an
// operator thread that types through the X server (xdotool) and looks through
// it (xprop, xdotool), the way a person at the machine would.
#include "login.h"
#include "mainwindow.h"
#include "messageboxprompt.h"
#include "prompt.h"
#include "startup.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <csignal>
#include <functional>
#include <sys/prctl.h>

using namespace lectoria;
using namespace lectoria::test;

namespace {

// A helper program that dies with the test, however the test ends.
void startChild(QProcess &p, const QString &program, const QStringList &args)
{
    p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    p.start(program, args);
}

// Runs an X tool on the test's display; its standard output, trimmed.
QString xtool(const QStringList &command)
{
    QProcess p;
    p.start(command.first(), command.mid(1));
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished();
        return QString();
    }
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

QList<quint64> windowIds(const QString &xpropLine)
{
    QList<quint64> ids;
    static const QRegularExpression hex(QStringLiteral("0x[0-9a-fA-F]+"));
    for (auto it = hex.globalMatch(xpropLine); it.hasNext();)
        ids << it.next().captured().toULongLong(nullptr, 16);
    return ids;
}

// The X server and the window manager for one run of the test.
class XSession {
public:
    ~XSession()
    {
        for (QProcess *p : {&m_wm, &m_server}) {
            p->terminate();
            if (!p->waitForFinished(5000)) {
                p->kill();
                p->waitForFinished();
            }
        }
    }

    bool start(QString *error)
    {
        startChild(m_server, QStringLiteral("Xvfb"),
                   {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                    QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!m_server.waitForStarted(10000)) {
            *error = QStringLiteral("Xvfb cannot be started: ") + m_server.errorString();
            return false;
        }
        // Xvfb names its display once it is ready, which on a busy machine
        // (a parallel build) can take many seconds: wait as long as the
        // test's own limit allows, but give up at once if Xvfb ended.
        QDeadlineTimer deadline(120000);
        QByteArray out;
        while (!out.contains('\n') && !deadline.hasExpired() && m_server.state() == QProcess::Running) {
            m_server.waitForReadyRead(int(qBound(qint64(1), deadline.remainingTime(), qint64(1000))));
            out += m_server.readAllStandardOutput();
        }
        out += m_server.readAllStandardOutput();
        if (!out.contains('\n')) {
            *error = QStringLiteral("Xvfb named no display: ") + QString::fromLocal8Bit(m_server.readAllStandardError());
            return false;
        }
        m_display = QLatin1Char(':') + QString::fromLatin1(out.trimmed());
        qputenv("DISPLAY", m_display.toLatin1());
        return startWindowManager(error);
    }

    bool startWindowManager(QString *error)
    {
        startChild(m_wm, QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        if (!m_wm.waitForStarted(10000)) {
            *error = QStringLiteral("openbox cannot be started: ") + m_wm.errorString();
            return false;
        }
        m_wmPid = m_wm.processId();
        // A busy machine (a parallel build) can keep openbox from the screen
        // for many seconds: wait long, but give up at once if it ended.
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 60000 && m_wm.state() == QProcess::Running) {
            if (xtool({QStringLiteral("xprop"), QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
                    .contains(QLatin1String("window id")))
                return true;
            m_wm.waitForFinished(100); // a pause that also notices openbox ending
        }
        *error = QStringLiteral("openbox did not take the screen: ") + QString::fromLocal8Bit(m_wm.readAllStandardError());
        return false;
    }

    // Callable from any thread: the window manager leaves, the windows stay.
    void stopWindowManager()
    {
        ::kill(pid_t(m_wmPid), SIGTERM);
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000 && ::kill(pid_t(m_wmPid), 0) == 0)
            QThread::msleep(50);
    }

    QString display() const { return m_display; }

private:
    QProcess m_server;
    QProcess m_wm;
    qint64 m_wmPid = 0;
    QString m_display;
};

XSession *session = nullptr;

// Runs f on the user-interface thread, whatever event loop it is in, and
// returns its result.
template <class F>
auto onGui(F f) -> decltype(f())
{
    decltype(f()) result{};
    QMetaObject::invokeMethod(qApp, [&] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
}

// The person at the machine: types and looks only through the X server, and
// reads the console's state only where the X server cannot tell (the text of
// a button, which field has the focus).
class Operator : public QThread {
public:
    QStringList failures;

protected:
    void run() override
    {
        script();
        closeEverything();
    }

private:
    bool check(bool ok, const QString &what)
    {
        if (!ok)
            failures << what;
        return ok;
    }

    // Each wait ends as soon as its condition holds; its bound is only for a
    // failure, so it is generous enough for a heavily loaded machine.
    static bool waitFor(const std::function<bool()> &condition, int ms = 30000)
    {
        QElapsedTimer t;
        t.start();
        do {
            if (condition())
                return true;
            QThread::msleep(50);
        } while (t.elapsed() < ms);
        return condition();
    }

    static void xdotool(const QStringList &args)
    {
        xtool(QStringList{QStringLiteral("xdotool")} + args);
        QThread::msleep(150);
    }
    static void type(const QString &text)
    {
        xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("40"), text});
    }
    static void key(const QString &keys) { xdotool({QStringLiteral("key"), keys}); }

    // The window the window manager calls active; X's input focus without one.
    static quint64 activeWindow()
    {
        const QList<quint64> ids = windowIds(
            xtool({QStringLiteral("xprop"), QStringLiteral("-root"), QStringLiteral("_NET_ACTIVE_WINDOW")}));
        return ids.isEmpty() ? 0 : ids.first();
    }
    static quint64 inputFocus()
    {
        return xtool({QStringLiteral("xdotool"), QStringLiteral("getwindowfocus")}).toULongLong();
    }
    static quint64 topmost()
    {
        const QList<quint64> ids = windowIds(
            xtool({QStringLiteral("xprop"), QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST_STACKING")}));
        return ids.isEmpty() ? 0 : ids.last();
    }
    static QString title(quint64 window)
    {
        return xtool({QStringLiteral("xdotool"), QStringLiteral("getwindowname"), QString::number(window)});
    }
    static void screenshot(const QString &name)
    {
        xtool({QStringLiteral("import"), QStringLiteral("-window"), QStringLiteral("root"),
               QStringLiteral(DESKTOP_SCREENS_DIR "/") + name + QStringLiteral(".png")});
    }

    // The modal window on top, by name, as an X window id; 0 when another.
    static quint64 modal(const QString &name)
    {
        return onGui([name]() -> quint64 {
            QWidget *w = QApplication::activeModalWidget();
            return w && w->isVisible() && w->objectName() == name ? quint64(w->winId()) : 0;
        });
    }
    static quint64 messageBox(QString *okText)
    {
        return onGui([okText]() -> quint64 {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return 0;
            *okText = box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->text() : QString();
            return quint64(box->winId());
        });
    }
    static QString focusedField()
    {
        return onGui([] { return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString(); });
    }
    static TWebMain *mainWindow()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *m = qobject_cast<TWebMain *>(w))
                return m;
        return nullptr;
    }

    void script()
    {
        // The first login comes up over the splash, on top and with the focus.
        quint64 login = 0;
        if (!check(waitFor([&] { return (login = modal(QStringLiteral("TLogin"))) != 0; }, 30000),
                   QStringLiteral("no login window at start-up")))
            return;
        const bool onTop = waitFor([&] { return activeWindow() == login && topmost() == login; });
        screenshot(QStringLiteral("1-login"));
        check(onTop, QStringLiteral("the login window is not the active window on top (active %1, top %2, login %3)")
                         .arg(activeWindow()).arg(topmost()).arg(login));
        check(title(login) == QStringLiteral("用户登录 [数字图书馆管理系统]"),
              QStringLiteral("login title: ") + title(login));
        const QString actions = xtool({QStringLiteral("xprop"), QStringLiteral("-id"), QString::number(login),
                                       QStringLiteral("_NET_WM_ALLOWED_ACTIONS")});
        check(!actions.contains(QLatin1String("MAXIMIZE")) && !actions.contains(QLatin1String("RESIZE")),
              QStringLiteral("the login window can be maximized or resized: ") + actions);

        // A wrong password: Qt's own button text in Chinese, and afterwards
        // the typing goes on in the password field.
        type(QStringLiteral("admin"));
        key(QStringLiteral("Tab"));
        type(QStringLiteral("wrong"));
        key(QStringLiteral("Return")); // to the login button
        key(QStringLiteral("Return"));
        QString ok;
        quint64 box = 0;
        if (!check(waitFor([&] { return (box = messageBox(&ok)) != 0; }), QStringLiteral("no message for a wrong password")))
            return;
        check(waitFor([&] { return activeWindow() == box; }), QStringLiteral("the message box is not active"));
        screenshot(QStringLiteral("2-wrong-password"));
        check(ok == QStringLiteral("确定"), QStringLiteral("the message box's button says ") + ok);
        key(QStringLiteral("Return"));
        check(waitFor([&] { return activeWindow() == login && focusedField() == QLatin1String("edPass"); }),
              QStringLiteral("after the message the focus is not in the password field: ") + focusedField());
        key(QStringLiteral("ctrl+a"));
        type(QStringLiteral("qzmvt"));
        key(QStringLiteral("Return"));
        key(QStringLiteral("Return"));

        // Logged in: the main window with its exact title.
        quint64 main = 0;
        check(waitFor([&] {
                  main = onGui([]() -> quint64 {
                      TWebMain *m = mainWindow();
                      return m && m->isVisible() && !QApplication::activeModalWidget() ? quint64(m->winId()) : 0;
                  });
                  return main != 0 && activeWindow() == main;
              }),
              QStringLiteral("the main window is not shown and active after the login"));
        QThread::msleep(500);
        screenshot(QStringLiteral("3-main"));
        check(title(main) == QStringLiteral("砚禾数字图书馆管理系统 -- 砚山实验中学"),
              QStringLiteral("main window title: ") + title(main));
        if (!failures.isEmpty())
            return;

        // Without a window manager nobody but the console gives the focus
        // back after a message: the password change, a wrong old password,
        // and the typing goes on in its field.
        session->stopWindowManager();
        onGui([] {
            QAction *change = mainWindow()->findChild<QAction *>(QStringLiteral("x_passwd"));
            QMetaObject::invokeMethod(change, &QAction::trigger, Qt::QueuedConnection);
            return true;
        });
        quint64 change = 0;
        if (!check(waitFor([&] { return (change = modal(QStringLiteral("TChgPass"))) != 0 && inputFocus() == change; }),
                   QStringLiteral("the password change dialog has no focus without a window manager")))
            return;
        type(QStringLiteral("bad"));
        key(QStringLiteral("alt+o"));
        if (!check(waitFor([&] { return (box = messageBox(&ok)) != 0; }), QStringLiteral("no message for a wrong old password")))
            return;
        screenshot(QStringLiteral("4-no-window-manager"));
        // Away from the dialog the pointer cannot lead the keys back to it.
        xdotool({QStringLiteral("mousemove"), QStringLiteral("2"), QStringLiteral("2")});
        key(QStringLiteral("Return"));
        check(waitFor([&] { return inputFocus() == change; }, 15000),
              QStringLiteral("after the message the X input focus is not on the dialog: %1").arg(inputFocus()));
        type(QStringLiteral("12"));
        QString typed;
        waitFor([&] {
            typed = onGui([] {
                auto *dialog = QApplication::activeModalWidget();
                auto *field = dialog ? dialog->findChild<QLineEdit *>(QStringLiteral("edPass")) : nullptr;
                return field ? field->text() : QString();
            });
            return typed == QLatin1String("bad12");
        }, 15000);
        check(typed == QStringLiteral("bad12"),
              QStringLiteral("after the message the typing did not reach the old password field: ") + typed);
        key(QStringLiteral("Escape"));
    }

    // Whatever happened, the console is brought to its end: every dialog and
    // then the main window closed.
    void closeEverything()
    {
        for (int i = 0; i < 100; ++i) {
            const bool left = onGui([] {
                if (QWidget *w = QApplication::activeModalWidget()) {
                    if (auto *d = qobject_cast<QDialog *>(w)) d->reject();
                    else w->close();
                    return true;
                }
                if (TWebMain *m = mainWindow(); m && m->isVisible()) {
                    m->close();
                    return true;
                }
                return false;
            });
            if (!left)
                return;
            QThread::msleep(100);
        }
    }
};

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void firstMinute()
    {
        QDir(QStringLiteral(DESKTOP_SCREENS_DIR)).removeRecursively();
        QVERIFY(QDir().mkpath(QStringLiteral(DESKTOP_SCREENS_DIR)));
        TestSettings settings;
        TestDatabase::Options o;
        o.open = false;
        o.marginsTable = true;
        TestDatabase db(o);
        settings.write({{QStringLiteral("ODBCNAME"), db.odbcName()},
                        {QStringLiteral("SCHOOLNAME"), QStringLiteral("砚山实验中学")}});
        TWebMain::setPictureFolder(QStringLiteral(LECTORIA_SOURCE_DIR "/data/pictures"));

        Operator person;
        person.start();
        runConsole();
        // The operator may still be asking the user-interface thread.
        while (!person.wait(50))
            QCoreApplication::processEvents();
        QVERIFY2(person.failures.isEmpty(), qPrintable(person.failures.join(QLatin1Char('\n'))));
    }
};

int main(int argc, char **argv)
{
    XSession x;
    QString error;
    if (!x.start(&error)) {
        std::fprintf(stderr, "FAIL: %s\n", qPrintable(error));
        return 1;
    }
    session = &x;
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    prepareApplication();
    MessageBoxPrompt prompt;
    installPrompt(&prompt);
    TestDesktop test;
    const int rc = QTest::qExec(&test, argc, argv);
    installPrompt(nullptr);
    return rc;
}

#include "tst_desktop.moc"
