#pragma once
#include <QDialog>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace lectoria {

// The connection dialog: the program's only window when no connection could
// be made. Its parameters take effect at the next start.
class TDbPara : public QDialog {
    Q_OBJECT
public:
    // reason: the driver's own text of why the connection failed, shown
    // below the warning lines (none when empty).
    explicit TDbPara(QWidget *parent = nullptr, const QString &reason = QString());

public Q_SLOTS:
    void btModClick();
    void btOkClick();

private:
    QGroupBox *grbBox;
    QLabel *lbReason;
    QLineEdit *edOdbc;
    QLineEdit *edUser;
    QLineEdit *edPass;
    QPushButton *btMod;
    QPushButton *btExit;
    QPushButton *btOk;
};

} // namespace lectoria
