#include "desktop.h"

#include <QLayout>
#include <QLineEdit>

namespace lectoria {

void makeFixedDialog(QWidget *dialog, BorderIcons icons)
{
    // CustomizeWindowHint says exactly which buttons there are: with only the
    // title hint the window manager is asked for none at all (Motif hints:
    // move only), with the close hint for the close button alone.
    Qt::WindowFlags flags = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint
                            | Qt::WindowTitleHint;
    if (icons == BorderIcons::SystemMenu)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    dialog->setWindowFlags(flags);
    // A window whose smallest and largest sizes agree cannot be maximized.
    if (QLayout *layout = dialog->layout())
        layout->setSizeConstraint(QLayout::SetFixedSize);
}

void maskWithStars(QLineEdit *field)
{
    field->setEchoMode(QLineEdit::Password);
    // The platform style draws a bullet; the style sheet property sets the
    // character the password fields of the console show.
    field->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
}

} // namespace lectoria
