#include "mainwindow.h"
#include "messageboxprompt.h"
#include "prompt.h"
#include "reportpainter.h"
#include "startup.h"

#include <QApplication>
#include <QDialog>
#include <QScreen>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lectoria"));
    QApplication::setApplicationDisplayName(lectoria::applicationTitle());
    // The designed fonts are Windows' Chinese fonts; installed CJK fonts stand in for them.
    lectoria::report::installFontSubstitutes();

    lectoria::MessageBoxPrompt prompt;
    lectoria::installPrompt(&prompt);
    lectoria::checkJpegSupport();

    std::unique_ptr<QWidget> first = lectoria::createFirstWindow();
    if (auto *dialog = qobject_cast<QDialog *>(first.get())) {
        // The connection dialog alone: closing it ends the program.
        dialog->exec();
        lectoria::installPrompt(nullptr);
        return 0;
    }
    auto *main = static_cast<lectoria::TWebMain *>(first.get());
    if (main->closeRequested()) {
        lectoria::installPrompt(nullptr);
        return 0;
    }
    // Without a window manager "maximized" means nothing; the screen's
    // size is the same thing said directly.
    if (QScreen *screen = QGuiApplication::primaryScreen())
        main->setGeometry(screen->availableGeometry());
    main->showMaximized();
    const int rc = QApplication::exec();
    lectoria::installPrompt(nullptr);
    return rc;
}
