#pragma once
#include <QDate>
#include <QDialog>

class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;

namespace lectoria {

// The backup dialog: has the database server write a full backup into the
// weekday's file of a folder on the server. The weekday is that of the
// server's date read at start-up (unGlobal().ServerDate). Several backups
// may run while it is open. The main window opens it modally:
// TBackUp dlg(mainWindow); dlg.exec();
class TBackUp : public QDialog {
    Q_OBJECT
public:
    explicit TBackUp(QWidget *owner);

public Q_SLOTS:
    void edPathExit();
    void BitBtn1Click();

private:
    void FormCreate();

    QDate m_date;
    QDateEdit *dtDate;
    QLabel *lbWeek;
    QLineEdit *edPath;
    QLabel *lbString;
    QLabel *lbNotice;
    QPushButton *BitBtn1;
    QPushButton *BitBtn3;
};

} // namespace lectoria
