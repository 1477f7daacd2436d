// The console's first minute on a real desktop: an X server (Xvfb) with a
// window manager (openbox), the console started as main() starts it, and an
// operator thread that types through the X server (xdotool) and looks through
// it (xprop, xdotool), the way a person at the machine would.
#include "connectiondialog.h"
#include "login.h"
#include "mainwindow.h"
#include "messageboxprompt.h"
#include "prompt.h"
#include "splash.h"
#include "startup.h"
#include "testsupport.h"
#include "unglobal.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QThread>

#include <atomic>
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
        // After stopWindowManager the process may still be reaped.
        if (m_wm.state() != QProcess::NotRunning)
            m_wm.waitForFinished(10000);
        m_wmStopped = false;
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

    bool windowManagerRunning() const { return !m_wmStopped && m_wm.state() == QProcess::Running; }

    // Callable from any thread: the window manager leaves, the windows stay.
    void stopWindowManager()
    {
        m_wmStopped = true;
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
    std::atomic<bool> m_wmStopped{false};
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
    // Released once prepare() has run, before the console starts.
    QSemaphore ready;

protected:
    void run() override
    {
        prepare();
        ready.release();
        script();
        finish();
        closeEverything();
    }
    // What is set up before the console starts, on this thread.
    virtual void prepare() {}
    virtual void script() = 0;
    // What is undone before the console is closed, on this thread.
    virtual void finish() {}

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
    // Runs a command of the main window as its menu would.
    static void trigger(const char *command)
    {
        onGui([command] {
            QAction *a = mainWindow()->findChild<QAction *>(QLatin1String(command));
            QMetaObject::invokeMethod(a, &QAction::trigger, Qt::QueuedConnection);
            return true;
        });
    }
    // The window has the keyboard: X's input focus, Qt's active window and,
    // while there is a window manager, the window it calls active.
    bool hasKeyboard(quint64 window)
    {
        return (!windowManager || activeWindow() == window) && inputFocus() == window
            && onGui([window] { return QApplication::activeWindow() && quint64(QApplication::activeWindow()->winId()) == window; });
    }
    bool windowManager = true;
    // A message box, answered with Return once it has the keyboard; its text.
    QString answerMessage(const QString &what)
    {
        QString ok;
        quint64 box = 0;
        if (!check(waitFor([&] { return (box = messageBox(&ok)) != 0 && hasKeyboard(box); }), QStringLiteral("no message with the keyboard ") + what))
            return QString();
        const QString text = onGui([] {
            auto *b = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            return b ? b->text() : QString();
        });
        key(QStringLiteral("Return"));
        waitFor([&] { return messageBox(&ok) != box; });
        return text;
    }

    // Outer size of a top-level window as the X server has it: the client's
    // size and the frame the window manager put around it.
    static QSize outerSize(quint64 window)
    {
        const QString info = xtool({QStringLiteral("xwininfo"), QStringLiteral("-id"), QString::number(window)});
        static const QRegularExpression width(QStringLiteral("Width: (\\d+)")), height(QStringLiteral("Height: (\\d+)"));
        const QString extents = xtool({QStringLiteral("xprop"), QStringLiteral("-id"), QString::number(window),
                                       QStringLiteral("_NET_FRAME_EXTENTS")});
        static const QRegularExpression four(QStringLiteral("=\\s*(\\d+),\\s*(\\d+),\\s*(\\d+),\\s*(\\d+)"));
        const QRegularExpressionMatch e = four.match(extents);
        const int frameW = e.hasMatch() ? e.captured(1).toInt() + e.captured(2).toInt() : 0;
        const int frameH = e.hasMatch() ? e.captured(3).toInt() + e.captured(4).toInt() : 0;
        return QSize(width.match(info).captured(1).toInt() + frameW, height.match(info).captured(1).toInt() + frameH);
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

class FirstMinute : public Operator {
protected:
    // A dialog that closes itself after its last message hands the keyboard
    // back to the main window, which the operator then uses through its
    // shortcuts: the password changed ("密码修改成功。"), then logged out
    // (Ctrl+O), three failed logins, and logged in again (Ctrl+L).
    bool keyboardBackAfterClosingDialogs(quint64 main, const QString &password, const QString &newPassword)
    {
        const QString how = windowManager ? QString() : QStringLiteral(" without a window manager");
        trigger("x_passwd");
        quint64 change = 0;
        if (!check(waitFor([&] { return (change = modal(QStringLiteral("TChgPass"))) != 0 && hasKeyboard(change); }),
                   QStringLiteral("no password change dialog with the keyboard") + how))
            return false;
        type(password);
        key(QStringLiteral("Tab"));
        type(newPassword);
        key(QStringLiteral("Tab"));
        type(newPassword);
        key(QStringLiteral("alt+o"));
        const QString changed = answerMessage(QStringLiteral("after the password change"));
        if (!check(changed == QStringLiteral("密码修改成功。"), QStringLiteral("password change said: ") + changed))
            return false;
        if (!check(waitFor([&] { return !modal(QStringLiteral("TChgPass")) && hasKeyboard(main); }),
                   QStringLiteral("after the password change the main window has not the keyboard%1 (active %2, focus %3)")
                       .arg(how).arg(activeWindow()).arg(inputFocus())))
            return false;
        screenshot(QStringLiteral("password-changed") + (windowManager ? QString() : QStringLiteral("-no-window-manager")));

        key(QStringLiteral("ctrl+o"));
        quint64 login = 0;
        if (!check(waitFor([&] { return (login = modal(QStringLiteral("TLogin"))) != 0 && hasKeyboard(login); }),
                   QStringLiteral("Ctrl+O after the password change did not reach the main window") + how))
            return false;
        type(QStringLiteral("nobody"));
        QString said;
        for (int attempt = 1; attempt <= 3; ++attempt) {
            // The code field to the password field, to the login button, pressed.
            key(QStringLiteral("Return"));
            key(QStringLiteral("Return"));
            key(QStringLiteral("Return"));
            said = answerMessage(QStringLiteral("for an unknown operator"));
            if (said.isEmpty())
                return false;
        }
        check(said == QStringLiteral("没有此用户！错误已超过3次。"), QStringLiteral("the third failure said: ") + said);
        if (!check(waitFor([&] { return !modal(QStringLiteral("TLogin")) && hasKeyboard(main); }),
                   QStringLiteral("after the third failed login the main window has not the keyboard%1 (active %2, focus %3)")
                       .arg(how).arg(activeWindow()).arg(inputFocus())))
            return false;
        screenshot(QStringLiteral("three-failed-logins") + (windowManager ? QString() : QStringLiteral("-no-window-manager")));

        key(QStringLiteral("ctrl+l"));
        if (!check(waitFor([&] { return (login = modal(QStringLiteral("TLogin"))) != 0 && hasKeyboard(login); }),
                   QStringLiteral("Ctrl+L after the failed logins did not reach the main window") + how))
            return false;
        type(QStringLiteral("admin"));
        key(QStringLiteral("Tab"));
        type(newPassword);
        key(QStringLiteral("Return"));
        key(QStringLiteral("Return"));
        return check(waitFor([&] { return !modal(QStringLiteral("TLogin")) && hasKeyboard(main)
                                          && onGui([] { return unGlobal().OperatorCode == QLatin1String("admin"); }); }),
                     QStringLiteral("the login with the changed password did not return to the main window") + how);
    }

    void script() override
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
        if (!keyboardBackAfterClosingDialogs(main, QStringLiteral("qzmvt"), QStringLiteral("abcde")))
            return;

        // Without a window manager nobody but the console gives the focus
        // back after a message: the password change, a wrong old password,
        // and the typing goes on in its field.
        session->stopWindowManager();
        windowManager = false;
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
        if (!check(waitFor([&] { return !modal(QStringLiteral("TChgPass")) && hasKeyboard(main); }),
                   QStringLiteral("after leaving the password change the main window has not the keyboard")))
            return;
        keyboardBackAfterClosingDialogs(main, QStringLiteral("abcde"), QStringLiteral("xyz12"));
    }
};


// The connection dialog when the database cannot be reached: shown with
// its parameters, it is 261 pixels high, frame included.
class ConnectionParameters : public Operator {
protected:
    void script() override
    {
        quint64 dialog = 0;
        if (!check(waitFor([&] { return (dialog = modal(QStringLiteral("TDbPara"))) != 0 && hasKeyboard(dialog); }),
                   QStringLiteral("no connection dialog with the keyboard (%1, active %2, focus %3, %4)")
                       .arg(dialog).arg(activeWindow()).arg(inputFocus())
                       .arg(onGui([] { return QApplication::activeWindow() ? QApplication::activeWindow()->objectName() : QStringLiteral("none"); }))))
            return;
        onGui([] {
            auto *b = QApplication::activeModalWidget()->findChild<QPushButton *>(QStringLiteral("btMod"));
            QMetaObject::invokeMethod(b, &QPushButton::click, Qt::QueuedConnection);
            return true;
        });
        QSize outer;
        waitFor([&] { return (outer = outerSize(dialog)).height() == 261; }, 15000);
        QThread::msleep(300);
        screenshot(QStringLiteral("7-connection-parameters"));
        check(outer.height() == 261, QStringLiteral("outer height with the parameters shown: %1").arg(outer.height()));
        const int client = onGui([] { return QApplication::activeModalWidget()->height(); });
        check(client < outer.height(), QStringLiteral("the dialog has no frame to measure (client height %1)").arg(client));
        // Every control of the parameters lies inside the window.
        const QString cut = onGui([] {
            QWidget *d = QApplication::activeModalWidget();
            auto *box = d->findChild<QGroupBox *>(QStringLiteral("grbBox"));
            if (!box || !box->isVisible())
                return QStringLiteral("grbBox not shown");
            for (QWidget *c : box->findChildren<QWidget *>())
                if (!d->rect().contains(QRect(box->mapTo(d, c->pos()), c->size())))
                    return QStringLiteral("%1 \"%2\" cut off").arg(c->metaObject()->className(), c->objectName());
            return d->rect().contains(box->geometry()) ? QString() : QStringLiteral("grbBox cut off");
        });
        check(cut.isEmpty(), cut);
    }
};

// The splash while start-up waits for the database (a lock another program
// holds): on the screen as the console paints it, not a black box. The lock
// is let go once the operator has seen the splash (or given up); start-up
// then goes on to the login.
class SplashWhileBlocked : public Operator {
public:
    SplashWhileBlocked(const QString &database, const QString &lock, const QImage &expected, const QString &name)
        : m_database(database), m_lock(lock), m_expected(expected), m_name(name)
    {
    }

protected:
    void prepare() override
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), lockConnection());
        db.setDatabaseName(m_database);
        QSqlQuery q(db);
        check(db.open() && q.exec(m_lock), QStringLiteral("the lock is not taken: ") + q.lastError().text());
    }

    void script() override
    {
        if (!failures.isEmpty())
            return;
        QRect at;
        if (!check(waitFor([&] { return (at = splashOnScreen()).isValid(); }, 60000), QStringLiteral("no splash on the screen")))
            return;
        // However long the machine takes, the console stays where it waits
        // until the lock goes: a black box stays black, a painted splash
        // stays painted.
        const QString file = QStringLiteral(DESKTOP_SCREENS_DIR "/8-splash-") + m_name + QStringLiteral(".png");
        double like = 0;
        QElapsedTimer t;
        t.start();
        do {
            // Looked up again each time: the window manager may place the
            // splash after it was first seen mapped.
            const QRect now = splashOnScreen();
            if (now.isValid())
                at = now;
            xtool({QStringLiteral("import"), QStringLiteral("-window"), QStringLiteral("root"), file});
            like = likeness(QImage(file).copy(at), m_expected);
            if (like < 0.9)
                QThread::msleep(250);
        } while (like < 0.9 && t.elapsed() < 60000);
        check(like >= 0.9, QStringLiteral("the splash at %1,%2 is not painted while the console waits: %3% of it as painted (%4)")
                               .arg(at.x()).arg(at.y()).arg(int(like * 100)).arg(file));
    }

    void finish() override
    {
        {
            QSqlDatabase db = QSqlDatabase::database(lockConnection(), false);
            QSqlQuery(db).exec(QStringLiteral("rollback"));
            db.close();
        }
        QSqlDatabase::removeDatabase(lockConnection());
        // Start-up goes on: the login, left, then the main window.
        if (!check(waitFor([&] { return modal(QStringLiteral("TLogin")) != 0; }, 120000),
                   QStringLiteral("no login once the lock was let go")))
            return;
        onGui([] { static_cast<QDialog *>(QApplication::activeModalWidget())->reject(); return true; });
        check(waitFor([&] { return onGui([] { return mainWindow() && mainWindow()->isVisible(); }); }, 60000),
              QStringLiteral("no main window after the login"));
    }

private:
    QString lockConnection() const { return QStringLiteral("operator-lock-") + m_name; }

    // Where the splash is mapped on the screen (306 x 206), or an invalid rectangle.
    static QRect splashOnScreen()
    {
        static const QRegularExpression line(QStringLiteral("(0x[0-9a-f]+) .*\\s306x206[+-]\\d+[+-]\\d+\\s+\\+(-?\\d+)\\+(-?\\d+)"));
        const QString tree = xtool({QStringLiteral("xwininfo"), QStringLiteral("-root"), QStringLiteral("-tree")});
        for (auto it = line.globalMatch(tree); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            if (xtool({QStringLiteral("xwininfo"), QStringLiteral("-id"), m.captured(1)}).contains(QLatin1String("IsViewable")))
                return QRect(m.captured(2).toInt(), m.captured(3).toInt(), 306, 206);
        }
        return QRect();
    }

    // The share of pixels of a that are those of b, give or take a little.
    static double likeness(const QImage &a, const QImage &b)
    {
        if (a.size() != b.size() || a.isNull())
            return 0;
        const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
        qint64 same = 0;
        for (int row = 0; row < x.height(); ++row)
            for (int col = 0; col < x.width(); ++col) {
                const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
                if (qAbs(qRed(p) - qRed(q)) <= 24 && qAbs(qGreen(p) - qGreen(q)) <= 24 && qAbs(qBlue(p) - qBlue(q)) <= 24)
                    ++same;
            }
        return double(same) / (qint64(x.width()) * x.height());
    }

    QString m_database;
    QString m_lock;
    QImage m_expected;
    QString m_name;
};

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT

    // The console as main() runs it, with the operator at the machine.
    static void runWith(Operator &person)
    {
        person.start();
        person.ready.acquire();
        runConsole();
        // The operator may still be asking the user-interface thread.
        while (!person.wait(50))
            QCoreApplication::processEvents();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QDir(QStringLiteral(DESKTOP_SCREENS_DIR)).removeRecursively();
        QVERIFY(QDir().mkpath(QStringLiteral(DESKTOP_SCREENS_DIR)));
        TWebMain::setPictureFolder(QStringLiteral(LECTORIA_SOURCE_DIR "/data/pictures"));
    }

    void init()
    {
        resetSession();
        // A test before may have sent the window manager away.
        QString error;
        if (!session->windowManagerRunning())
            QVERIFY2(session->startWindowManager(&error), qPrintable(error));
    }

    void connectionParameters()
    {
        TestSettings settings;
        settings.write({{QStringLiteral("ODBCNAME"), QStringLiteral("sqlite:/nonexistent/www.db")}});
        ConnectionParameters person;
        runWith(person);
        QVERIFY2(person.failures.isEmpty(), qPrintable(person.failures.join(QLatin1Char('\n'))));
    }

    // Held before the console starts: an exclusive lock stops the
    // connection's first look at the database; a write lock lets it read,
    // and stops the upkeep's first change (the e-book volume column).
    void splashPaintedWhileBlocked_data()
    {
        QTest::addColumn<QString>("lock");
        QTest::addColumn<bool>("volumeColumn");
        QTest::addColumn<QString>("message");
        QTest::newRow("connecting") << QStringLiteral("begin exclusive") << true << QStringLiteral("系统正在连接数据库，请稍候...");
        QTest::newRow("initialising") << QStringLiteral("begin immediate") << false << QStringLiteral("系统正在初始化，请稍候...");
    }
    void splashPaintedWhileBlocked()
    {
        QFETCH(QString, lock);
        QFETCH(bool, volumeColumn);
        QFETCH(QString, message);
        TestSettings settings;
        TestDatabase::Options o;
        o.open = false;
        o.marginsTable = true;
        o.volumeColumn = volumeColumn;
        TestDatabase db(o);
        // A rollback journal, in which a held lock keeps readers out as well.
        db.exec(QStringLiteral("PRAGMA journal_mode=delete"));
        settings.write({{QStringLiteral("ODBCNAME"), db.odbcName()}, {QStringLiteral("LOCKTIMEOUT"), QStringLiteral("600")}});
        // The splash with its message, as the console paints it.
        unGlobal().SplashMessage = message;
        QImage expected;
        {
            TFlash painted;
            expected = painted.grab().toImage();
        }
        SplashWhileBlocked person(db.path(), lock, expected, QString::fromLatin1(QTest::currentDataTag()));
        runWith(person);
        QVERIFY2(person.failures.isEmpty(), qPrintable(person.failures.join(QLatin1Char('\n'))));
    }

    // Last: it sends the window manager away.
    void firstMinute()
    {
        TestSettings settings;
        TestDatabase::Options o;
        o.open = false;
        o.marginsTable = true;
        TestDatabase db(o);
        settings.write({{QStringLiteral("ODBCNAME"), db.odbcName()},
                        {QStringLiteral("SCHOOLNAME"), QStringLiteral("砚山实验中学")}});
        FirstMinute person;
        runWith(person);
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
