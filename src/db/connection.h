#pragma once
#include <QDialog>
#include <QString>

class QGroupBox;
class QLineEdit;
class QPushButton;

namespace lectoria {

// The connection module: reads the parameters from the machine settings,
// shows the connecting splash and opens LibDB. ConnectionState becomes "OK"
// once the connection has been made.
class TLibDM {
public:
    // Runs the whole connection start. Returns whether the connection was made;
    // *why receives the driver's reason otherwise (for the terminal, not shown
    // by the console: the connection dialog's warning lines stand for it).
    static bool connect(bool showSplash, QString *why = nullptr);
};

// The connection dialog: the program's only window when no connection could
// be made. Its parameters take effect at the next start.
class TDbPara : public QDialog {
    Q_OBJECT
public:
    explicit TDbPara(QWidget *parent = nullptr);

public Q_SLOTS:
    void btModClick();
    void btOkClick();

private:
    QGroupBox *grbBox;
    QLineEdit *edOdbc;
    QLineEdit *edUser;
    QLineEdit *edPass;
    QPushButton *btMod;
    QPushButton *btExit;
    QPushButton *btOk;
};

} // namespace lectoria
