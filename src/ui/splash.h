#pragma once
#include <QWidget>

class QLabel;

namespace lectoria {

// Registers the pictures compiled into this library (once).
void ensureResources();

// The splash window: borderless, centred, a picture with the current
// SplashMessage on it. Shown and painted at once, because the work it
// announces blocks the user-interface thread.
class TFlash : public QWidget {
    Q_OBJECT
public:
    explicit TFlash(QWidget *owner = nullptr);
    QLabel *lbView() const { return m_lbView; }
    // Shows the window and paints it before returning.
    void showNow();

private:
    QLabel *m_lbView;
};

} // namespace lectoria
