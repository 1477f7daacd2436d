#pragma once
#include <QDialog>

class QLineEdit;
class QPushButton;

namespace lectoria {

// The login window. The caller tells success from failure only by
// OperatorCode being non-empty afterwards; its exit button closes it with
// the result Abort, which ends the program.
class TLogin : public QDialog {
    Q_OBJECT
public:
    enum { Abort = 3 };
    explicit TLogin(QWidget *owner);
    int loginFailures() const { return LoginFailures; }

public Q_SLOTS:
    void btOkClick();

private:
    QLineEdit *edCode;
    QLineEdit *edPass;
    QPushButton *btOk;
    QPushButton *btCancel;
    QPushButton *btExit;
    int LoginFailures = 0;
};

// The password change dialog for the logged-in operator.
class TChgPass : public QDialog {
    Q_OBJECT
public:
    explicit TChgPass(QWidget *owner);

public Q_SLOTS:
    void btOkClick();

private:
    QLineEdit *edPass;
    QLineEdit *edPass1;
    QLineEdit *edPass2;
};

} // namespace lectoria
