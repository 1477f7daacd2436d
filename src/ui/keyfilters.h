#pragma once
#include <QObject>

class QWidget;

namespace lectoria {

// In the console's data-entry windows the window sees keys first: Enter in an
// edit field is swallowed and moves the focus to the next control in tab
// order; on a focused button Enter presses it. Installed on the window.
class EnterMovesFocus : public QObject {
    Q_OBJECT
public:
    explicit EnterMovesFocus(QWidget *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_window;
};

} // namespace lectoria
