#pragma once
#include <QString>
#include <QStringList>

// The system's input methods: on Windows the installed keyboard layouts and
// IMEs by the names the system shows; on Linux the engines of ibus or fcitx.
namespace lectoria {

QStringList systemInputMethods();
// Switches the keyboard to the named input method; a name the system does
// not know changes nothing. Linux's input frameworks choose per field
// themselves: there it does nothing.
void activateSystemInputMethod(const QString &name);

} // namespace lectoria
