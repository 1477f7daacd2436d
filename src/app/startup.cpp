#include "startup.h"
#include "connection.h"
#include "connectiondialog.h"
#include "qttexts.h"
#include "mainwindow.h"
#include "prompt.h"
#include "reportpainter.h"
#include "splash.h"
#include "unglobal.h"

#include <QApplication>
#include <QDialog>
#include <QImageReader>
#include <QScreen>

namespace lectoria {

bool checkJpegSupport()
{
    if (QImageReader::supportedImageFormats().contains("jpeg"))
        return true;
    showError(QStringLiteral("找不到 JPEG 图片解码插件（Qt 图片格式插件 qjpeg，基于 libjpeg-turbo）。"
                             "背景图片将无法显示，请安装 Qt 的图片格式插件。"));
    return false;
}

void prepareApplication()
{
    // The task bar shows the window titles, which begin with the product
    // name already; a display name would be appended to each of them.
    QApplication::setApplicationName(QStringLiteral("lectoria"));
    installQtChineseTexts();
    // The designed fonts are Windows' Chinese fonts; installed CJK fonts stand in for them.
    report::installFontSubstitutes();
}

int runConsole()
{
    checkJpegSupport();
    std::unique_ptr<QWidget> first = createFirstWindow();
    if (auto *dialog = qobject_cast<QDialog *>(first.get())) {
        // The connection dialog alone: closing it ends the program.
        dialog->exec();
        return 0;
    }
    auto *main = static_cast<TWebMain *>(first.get());
    if (main->closeRequested())
        return 0;
    // Without a window manager "maximized" means nothing; the screen's
    // size is the same thing said directly.
    if (QScreen *screen = QGuiApplication::primaryScreen())
        main->setGeometry(screen->availableGeometry());
    main->showMaximized();
    // Qt activates only modal windows by itself; without a window manager
    // nobody else would give the main window the keyboard.
    main->activateWindow();
    return QApplication::exec();
}

std::unique_ptr<QWidget> createFirstWindow()
{
    bool connected = false;
    QString why;
    {
        const ConnectionParams params = TLibDM::readParams();
        // Connecting may take a while: the splash says so meanwhile.
        TFlash splash;
        splash.showNow();
        connected = TLibDM::open(params, &why);
    }
    if (!connected || unGlobal().ConnectionState != QLatin1String("OK"))
        return std::make_unique<TDbPara>(nullptr, why);
    auto main = std::make_unique<TWebMain>();
    registerCommands(*main);
    main->FormCreate();
    return main;
}

} // namespace lectoria
