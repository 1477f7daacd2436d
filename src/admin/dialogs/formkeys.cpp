#include "formkeys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace lectoria {

FormKeys::FormKeys(QWidget *window, Handler handler) : QObject(window), m_window(window), m_handler(std::move(handler))
{
    // Keys go to the focused control, so the filter sits on the application
    // and keeps only those meant for this window.
    qApp->installEventFilter(this);
}

bool FormKeys::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    auto *w = qobject_cast<QWidget *>(watched);
    if (!w || w->window() != m_window)
        return false;
    return m_handler(w, static_cast<QKeyEvent *>(event));
}

} // namespace lectoria
