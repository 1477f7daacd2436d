#pragma once
#include <QtGlobal>

class QLineEdit;
class QWidget;

namespace lectoria {

// The title-bar buttons a fixed dialog offers. None: a title bar and nothing
// else; SystemMenu: only the close button. Neither ever has minimise or
// maximise buttons, and the dialog cannot be resized.
enum class BorderIcons { None, SystemMenu };
void makeFixedDialog(QWidget *dialog, BorderIcons icons);

// Hides a password field's text behind one "*" per character.
void maskWithStars(QLineEdit *field);

} // namespace lectoria
