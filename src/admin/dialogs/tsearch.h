#pragma once
#include "unglobal.h"

#include <QDialog>
#include <QVector>

class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace lectoria {

// The record search dialog: builds a condition over the fields its opener
// describes, one comparison at a time. The opener fills unGlobal().SearchTypes
// (an entry with an empty field name ends the list), clears SearchCondition,
// shows the dialog modally and then reads unGlobal().SearchCondition (empty
// means all rows). The lists are read when the dialog is shown, so they may be
// filled after it is created.
class TSearch : public QDialog {
    Q_OBJECT
public:
    explicit TSearch(QWidget *owner);

    bool conditionAdded() const { return m_added; }

public Q_SLOTS:
    void btAppendClick();
    void bbtRefreshClick();
    void bbtOkClick();
    void bbtExitClick();
    void cbFieldChange();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormShow();
    bool formKey(QWidget *target, QKeyEvent *key);
    QWidget *valueControl() const;
    const TSearchType *currentField() const;
    void refuse(const QString &text, QWidget *focus);

    QVector<TSearchType> m_fields;
    bool m_added = false;

    QLabel *lbAndOr;
    QComboBox *cbAndOr;
    QComboBox *cbField;
    QComboBox *cbOperate;
    QLineEdit *edtValue;
    QDateEdit *dtpDate;
    QComboBox *cbList;
    QPushButton *btAppend;
    QPlainTextEdit *memDsp;
    QPushButton *bbtRefresh;
    QPushButton *bbtOk;
    QPushButton *bbtExit;
};

} // namespace lectoria
