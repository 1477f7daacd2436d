#pragma once
#include "unglobal.h"

#include <QDialog>
#include <QStringList>

class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace lectoria {

// The installation's report margins, kept in lib_prtblank and in the session
// values CustomMargins and MarginTop/Bottom/Left/Right (loaded at start-up).

// The statements the margins dialog saves with. Custom values are the fields'
// texts, trimmed, each written after a leading 0 so that an empty field stores 0.
QString defaultMarginsStatement();
QStringList customMarginsStatement(const QString &top, const QString &bottom, const QString &left,
                                   const QString &right);

// "报表打印空白边界参数": the choice between the layouts' own margins and custom
// ones, and the custom values. Saving writes lib_prtblank and the session, so
// every report created afterwards uses the new margins.
class TPrtBlankPara : public QDialog {
    Q_OBJECT
public:
    explicit TPrtBlankPara(QWidget *owner = nullptr);

    static constexpr int InitHeight = 111;
    static constexpr int ParaHeight = 241;

public Q_SLOTS:
    void rdbInitClick();
    void btSaveClick();
    void btExitClick();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QRadioButton *m_init;
    QRadioButton *m_para;
    QGroupBox *m_edge;
    QLineEdit *m_top;
    QLineEdit *m_bottom;
    QLineEdit *m_left;
    QLineEdit *m_right;
    QPushButton *m_save;
    QPushButton *m_exit;
    bool m_shownOnce = false;
};

} // namespace lectoria
