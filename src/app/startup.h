#pragma once
#include <QWidget>
#include <memory>

namespace lectoria {

class TWebMain;

// Program start-up: the connection, then the first window. When the
// connection cannot be made the connection dialog is the only window;
// otherwise the main window, after its start-up steps and the first login.
std::unique_ptr<QWidget> createFirstWindow();

// What the console sets on the application before any window: its name (and
// no display name, which Qt would append to every title bar), Qt's own texts
// in Chinese, the stand-ins for the designed fonts.
void prepareApplication();

// The console's run after prepareApplication, with the prompt installed:
// the first window, then the message loop until it closes. The exit status.
int runConsole();

// Checks that Qt can decode the console's JPEG pictures; says so when not.
bool checkJpegSupport();

// Connects every command of the main window to the window it opens.
void registerCommands(TWebMain &main);

} // namespace lectoria
