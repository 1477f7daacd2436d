#pragma once
#include <QtGlobal>

class QLineEdit;
class QWidget;

namespace lectoria {

// Loads Qt's own Simplified Chinese texts (the buttons of message boxes, the
// file, print and page set-up dialogs, context menus, Qt's error texts) from
// Qt's translation folder, whatever the machine's language: the console
// speaks Chinese only. False, with a warning, when the translation is not
// installed; Qt's texts then stay English.
bool installQtChineseTexts();

// The title-bar buttons a fixed dialog offers. None: a title bar and nothing
// else; SystemMenu: only the close button. Neither ever has minimise or
// maximise buttons, and the dialog cannot be resized.
enum class BorderIcons { None, SystemMenu };
void makeFixedDialog(QWidget *dialog, BorderIcons icons);

// Hides a password field's text behind one "*" per character.
void maskWithStars(QLineEdit *field);

} // namespace lectoria
