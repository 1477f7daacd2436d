#pragma once
#include <QWidget>
#include <memory>

namespace lectoria {

class TWebMain;

// Program start-up: the connection, then the first window. When the
// connection cannot be made the connection dialog is the only window;
// otherwise the main window, after its start-up steps and the first login.
std::unique_ptr<QWidget> createFirstWindow();

// Checks that Qt can decode the console's JPEG pictures; says so when not.
bool checkJpegSupport();

// Connects every command of the main window to the window it opens.
void registerCommands(TWebMain &main);

} // namespace lectoria
