#include "messageboxprompt.h"
#include "prompt.h"
#include "startup.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    lectoria::prepareApplication();
    lectoria::MessageBoxPrompt prompt;
    lectoria::installPrompt(&prompt);
    const int rc = lectoria::runConsole();
    lectoria::installPrompt(nullptr);
    return rc;
}
