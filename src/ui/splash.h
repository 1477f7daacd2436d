#pragma once
#include <QWidget>

class QLabel;

namespace lectoria {

// Registers the pictures compiled into this library (once).
void ensureResources();

// Shows w (a window, or a label or bar on one) and paints it on the screen
// before returning: for whatever announces work that blocks the
// user-interface thread (the splash, a wait label, a progress bar). Qt
// paints a window only once the window system reports it on the screen,
// which on X11 with a window manager comes after the manager has framed it:
// shown and left to the event loop, it would stay a black box until the
// work is done. Waits a bounded while for that report.
void paintNow(QWidget *w);

// The splash window: borderless, centred, a picture with the current
// SplashMessage on it. Shown and painted at once, because the work it
// announces blocks the user-interface thread.
class TFlash : public QWidget {
    Q_OBJECT
public:
    explicit TFlash(QWidget *owner = nullptr);
    QLabel *lbView() const { return m_lbView; }
    // Shows the window and paints it before returning (paintNow).
    void showNow();

private:
    QLabel *m_lbView;
};

} // namespace lectoria
