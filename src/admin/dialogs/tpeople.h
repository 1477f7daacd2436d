#pragma once
#include "operatoraccounts.h"

#include <QDialog>
#include <QVector>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTableView;
class QToolButton;

namespace lectoria {

class OperatorTableModel;

// The operator accounts editor: lists, adds, edits and deletes the accounts
// of www_admin with their nineteen rights, filtered by the search dialog.
// The main window opens it modally: TPeople dlg(mainWindow); dlg.exec();
class TPeople : public QDialog {
    Q_OBJECT
public:
    enum class RowState { Browse, Insert, Edit };

    explicit TPeople(QWidget *owner);
    ~TPeople() override;

    RowState state() const { return m_state; }
    bool newRow() const { return m_state == RowState::Insert; }
    // The search condition the rows are filtered by (empty: all rows).
    QString filter() const { return m_filter; }
    int currentRow() const;
    QTableView *grid() const { return DBGrid1; }

public Q_SLOTS:
    // The record navigator's ten buttons.
    void First();
    void Prior();
    void Next();
    void Last();
    void Insert();
    void Delete();
    void Edit();
    void Post();
    void Cancel();
    void Refresh();
    void btSearchClick();

private:
    void FormCreate();
    void reload(const QString &keepCode);
    void setCurrent(int row);
    void showRow();
    void setState(RowState s);
    void beginAutoEdit();
    void edCodeChange();
    OperatorRow fromControls() const;
    bool formKey(QKeyEvent *key);

    OperatorTableModel *m_model;
    QString m_filter;
    RowState m_state = RowState::Browse;
    int m_insertedAt = -1;

    QTableView *DBGrid1;
    QLineEdit *edCode;
    QLineEdit *edName;
    QVector<QCheckBox *> m_rightBoxes; // by right number - 1
    QPushButton *btSearch;
    QVector<QToolButton *> m_navigator;
    QToolButton *nbFirst, *nbPrior, *nbNext, *nbLast, *nbInsert, *nbDelete, *nbEdit, *nbPost, *nbCancel, *nbRefresh;
    QPushButton *btExit;
};

} // namespace lectoria
