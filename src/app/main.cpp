#include "messageboxprompt.h"
#include "prompt.h"
#include "startup.h"

#include <QApplication>

#include <csignal>

int main(int argc, char **argv)
{
    // Over a file-size limit a write fails as on a full disk, with a
    // message, instead of the signal ending the console.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    lectoria::prepareApplication();
    lectoria::MessageBoxPrompt prompt;
    lectoria::installPrompt(&prompt);
    const int rc = lectoria::runConsole();
    lectoria::installPrompt(nullptr);
    return rc;
}
