#pragma once
#include <QDateTime>
#include <QHash>
#include <QMainWindow>

#include <functional>

class QAction;
class QLabel;
class QMenu;
class QToolButton;

namespace lectoria {

class TFlash;

// The main window. Its menu bar and tool bar are the only way into the
// console's functions; each command opens a modal dialog owned by it.
class TWebMain : public QMainWindow {
    Q_OBJECT
public:
    using Handler = std::function<void(QWidget *owner)>;

    explicit TWebMain(QWidget *parent = nullptr);
    ~TWebMain() override;

    // The start-up steps run while the window is created, up to and including
    // the first login. False when a start-up statement failed (its error has
    // been shown and the remaining steps skipped).
    bool FormCreate();

    // What a command item opens. Commands without a handler tell the operator
    // that they are not available.
    void setHandler(const QString &command, Handler handler);
    bool hasHandler(const QString &command) const { return m_handlers.contains(command); }

    // Command states.
    void setLoggedOut();
    void setLoggedIn();
    void applyRights();

    // The operator left through the login window's exit button.
    bool closeRequested() const { return m_closeRequested; }

    // Where "web.jpg" is looked for; the program's folder unless set.
    static void setPictureFolder(const QString &folder);


public Q_SLOTS:
    void loginCommand();
    void logoutCommand();
    void passwordCommand();
    void FormResize();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildMenus();
    void buildToolBar();
    void runCommand(const QString &name);
    // Gives the main window the keyboard once a command's dialogs are gone.
    void takeKeyboardBack(const QList<QWidget *> &shownBefore);
    QAction *action(const char *name) const;
    QToolButton *tool(const char *name) const;
    QMenu *menu(const char *name) const;
    void loadBackground();

    QHash<QString, Handler> m_handlers;
    QLabel *imgBack = nullptr;
    QLabel *lbSchool1 = nullptr;
    QLabel *lbSchool2 = nullptr;
    TFlash *m_splash = nullptr;
    bool m_resizing = false;
    bool m_closeRequested = false;
};

} // namespace lectoria
