#include "splash.h"
#include "unglobal.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QScreen>
#include <QThread>
#include <QWindow>

static void initUiResources() { Q_INIT_RESOURCE(resources); }

namespace lectoria {

void ensureResources()
{
    static const bool done = (initUiResources(), true);
    Q_UNUSED(done);
}

TFlash::TFlash(QWidget *owner)
    // Not kept above other windows: the login window has to come up over it.
    : QWidget(owner, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    ensureResources();
    setObjectName(QStringLiteral("TFlash"));
    setFixedSize(306, 206);
    auto *picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("imgFlash"));
    picture->setPixmap(QPixmap(QStringLiteral(":/pictures/splash.png")));
    picture->setScaledContents(true);
    picture->setGeometry(0, 0, 306, 206);

    m_lbView = new QLabel(unGlobal().SplashMessage, this);
    m_lbView->setObjectName(QStringLiteral("lbView"));
    m_lbView->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    m_lbView->setFont(QFont(QStringLiteral("宋体"), 10));
    m_lbView->setGeometry(16, 160, 280, 24);

    auto *maker = new QLabel(QStringLiteral("砚禾软件"), this);
    maker->setObjectName(QStringLiteral("lbMaker"));
    maker->setStyleSheet(QStringLiteral("color: aqua; background: transparent;"));
    maker->setGeometry(16, 184, 120, 18);

    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("imgIcon"));
    icon->setPixmap(QPixmap(QStringLiteral(":/pictures/icon.png")).scaled(24, 24));
    icon->setGeometry(306 - 30, 6, 24, 24);

    if (QScreen *s = QGuiApplication::primaryScreen())
        move(s->geometry().center() - rect().center());
}

void TFlash::showNow() { paintNow(this); }

void paintNow(QWidget *w)
{
    // How long a window manager may take to frame a new window on a busy
    // machine; a window that never comes on the screen (minimised, on
    // another desktop) costs no more than this.
    constexpr int exposeWaitMs = 3000;
    w->show();
    QWidget *window = w->window();
    if (window == w)
        window->raise();
    const auto exposed = [window] {
        const QWindow *handle = window->windowHandle();
        return handle && handle->isExposed();
    };
    QElapsedTimer waited;
    waited.start();
    // The operator's keys and clicks wait for the event loop: nothing is
    // done behind the back of the work that follows.
    while (!exposed() && waited.elapsed() < exposeWaitMs) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
        if (!exposed())
            QThread::msleep(5);
    }
    w->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    // The pixels reach the window system now, not with its next requests.
    QGuiApplication::sync();
}

} // namespace lectoria
