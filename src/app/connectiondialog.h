#pragma once
#include <QDialog>

class QGroupBox;
class QLineEdit;
class QPushButton;

namespace lectoria {

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
