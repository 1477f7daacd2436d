#pragma once
#include "exchangedialog.h"

class QCheckBox;

namespace lectoria {

// The import dialog "其他数据导入": inserts the records of an exchange file
// into the table of the kind the operator names. The main window creates it
// with itself as owner and shows it modally.
class TImportOther : public ExchangeDialog {
    Q_OBJECT
public:
    // The machine settings' value that keeps the last choice of
    // "跳过已有记录" ("1" on); off when it is missing.
    static QString skipExistingSetting() { return QStringLiteral("IMPORTSKIPEXISTING"); }

    explicit TImportOther(QWidget *owner);

public Q_SLOTS:
    void btImportClick();
    void btFileNameClick();

private:
    void importKind(Kind kind);
    void rememberSkipExisting(bool on);

    QCheckBox *ckSkipExisting;
    QPushButton *btImport;
};

} // namespace lectoria
