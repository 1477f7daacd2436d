#pragma once
#include "exchangedialog.h"

class QDateEdit;

namespace lectoria {

// The export dialog "其他数据导出": writes the records of one kind entered
// within a range of days to an exchange file. The main window creates it
// with itself as owner and shows it modally.
class TExportOther : public ExchangeDialog {
    Q_OBJECT
public:
    explicit TExportOther(QWidget *owner);

public Q_SLOTS:
    void Button1Click();
    void btFileNameClick();

private:
    void exportKind(Kind kind);

    QDateEdit *dtBegin;
    QDateEdit *dtEnd;
    QPushButton *Button1;
};

} // namespace lectoria
