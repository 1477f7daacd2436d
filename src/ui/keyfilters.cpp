#include "keyfilters.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace lectoria {

EnterMovesFocus::EnterMovesFocus(QWidget *window) : QObject(window), m_window(window)
{
    // The filter must see keys of every child, so it sits on the application
    // and only acts for widgets inside this window.
    qApp->installEventFilter(this);
}

bool EnterMovesFocus::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        return false;
    auto *w = qobject_cast<QWidget *>(watched);
    if (!w || w->window() != m_window || !w->hasFocus())
        return false;
    if (auto *b = qobject_cast<QAbstractButton *>(w)) {
        if (b->isEnabled())
            b->animateClick();
        return true;
    }
    if (w->inherits("QPlainTextEdit") || w->inherits("QTextEdit"))
        return false; // a multi-line field keeps its line breaks
    for (QWidget *next = w->nextInFocusChain(); next && next != w; next = next->nextInFocusChain()) {
        if (next->window() == m_window && (next->focusPolicy() & Qt::TabFocus) && next->isVisible()
            && next->isEnabled()) {
            next->setFocus(Qt::TabFocusReason);
            break;
        }
    }
    return true;
}

} // namespace lectoria
