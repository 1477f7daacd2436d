// lectoria-batch: the console's reports, export, import and backup without
// windows, for a scheduler. Same settings, connection, statements and files.
#include "batch.h"
#include "consoleio.h"
#include "qttexts.h"
#include "prompt.h"
#include "reportpainter.h"

#include <QGuiApplication>

#include <csignal>

namespace {

// Asks for the password on the terminal without echoing it.
bool askPassword(QString *password) { return lectoria::consoleio::readHidden(QStringLiteral("密码："), password); }

// Qt's remarks about the desktop session (no runtime folder, offscreen
// platform) mean nothing to a scheduled run; everything else is passed on.
void filterQtMessages(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtDebugMsg || type == QtInfoMsg || text.startsWith(QLatin1String("QStandardPaths:"))
        || text.startsWith(QLatin1String("This plugin does not support")))
        return;
    lectoria::consoleio::writeText(lectoria::consoleio::Stream::Error, text + QLatin1Char('\n'));
}

} // namespace

int main(int argc, char **argv)
{
    // Nothing is ever shown: render offscreen whatever the session has.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(filterQtMessages);
    // Over a file-size limit a write fails (EFBIG) instead of the signal
    // ending the run without a word: the run then ends as on a full disk.
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    // The arguments are the runner's alone: Qt sees none of them, so that
    // "-platform xcb", "-stylesheet FILE" or "-reverse" are wrong arguments
    // like any other instead of Qt's options.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    int qtArgc = 1;
    char *qtArgv[] = {argv[0], nullptr};
    QGuiApplication app(qtArgc, qtArgv);
    QGuiApplication::setApplicationName(QStringLiteral("lectoria-batch"));
    // The designed fonts are Windows' Chinese fonts; installed CJK fonts stand in for them.
    lectoria::report::installFontSubstitutes();
    // Qt's own texts it may pass on (file and driver errors) in Chinese, like the rest.
    lectoria::installQtChineseTexts();

    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        lectoria::consoleio::writeText(lectoria::consoleio::Stream::Output, lectoria::batch::usageText());
        return lectoria::batch::Ok;
    }
    lectoria::batch::Request request;
    QString error;
    if (!lectoria::batch::parse(args, &request, &error)) {
        lectoria::consoleio::writeText(lectoria::consoleio::Stream::Error,
                                       error + QStringLiteral("\n\n") + lectoria::batch::usageText());
        return lectoria::batch::Usage;
    }

    QString password;
    if (qEnvironmentVariableIsSet("LECTORIA_PASSWORD")) {
        password = qEnvironmentVariable("LECTORIA_PASSWORD");
    } else if (!askPassword(&password)) {
        lectoria::consoleio::writeText(lectoria::consoleio::Stream::Error,
                                       QStringLiteral("没有提供密码：请设置 LECTORIA_PASSWORD 或在终端上运行。\n"));
        return lectoria::batch::Refused;
    }

    // Messages that the console shows in boxes go to standard error; the one
    // question (the import's) is answered by the command itself.
    lectoria::StreamPrompt streamPrompt(true);
    lectoria::installPrompt(&streamPrompt);
    const int status = lectoria::batch::run(request, password);
    lectoria::installPrompt(nullptr);
    return status;
}
