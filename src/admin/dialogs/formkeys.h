#pragma once
#include <QObject>

#include <functional>

class QKeyEvent;
class QWidget;

namespace lectoria {

// The console's windows see keys before their controls: every key press aimed
// at the window or one of its widgets goes to the handler first, which
// returns true when it used the key (the control then never sees it).
class FormKeys : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<bool(QWidget *target, QKeyEvent *key)>;
    FormKeys(QWidget *window, Handler handler);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_window;
    Handler m_handler;
};

} // namespace lectoria
