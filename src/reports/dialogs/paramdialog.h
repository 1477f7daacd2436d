#pragma once
#include "gridcolumns.h"
#include "reportrequest.h"

#include <QDialog>
#include <QStringList>
#include <QVector>

#include <memory>

class QAction;
class QDateEdit;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QRadioButton;
class QStandardItemModel;
class QTableView;
class QVBoxLayout;

namespace lectoria {

class ReportLayout;

// Fills a grid from a statement: one row per result row, headings centred,
// texts trimmed, numbers right-aligned, dates as yyyy-mm-dd. Returns the
// number of rows. A failing statement throws DbError and leaves the grid empty.
int fillGrid(QTableView *grid, const QStringList &statement, const QVector<GridColumn> &columns);

// The common parameter dialog of every report: period of entry dates,
// "刷新 >>" into the result grid, the print button with its output menu, the
// wait label. Subclasses give the statement, the grid's columns and the
// layout that a print command makes, and may add controls of their own
// (a category list, a scope choice) to parameterArea().
//
// The print button is enabled only by a refresh that returned rows; every
// change of a parameter disables it again (subclasses call disablePrint()
// from their own controls). A refresh builds the report request (period,
// and what the subclass adds) that the print commands hand to the layout;
// the session's ReportBegin/ReportEnd and ExportChoice are still written for
// the operator's session, ExportChoice 0 again after every output command,
// however it ended.
class ReportParamDialog : public QDialog {
    Q_OBJECT
public:
    struct Options {
        QString periodCaption = QStringLiteral("加入日期");
        QString printCaption = QStringLiteral("打印清单");
        bool hints = true;               // the two "right-click" hint lines
        QString secondPrintCaption;      // non-empty: a second print button btPrint1
    };

    ReportParamDialog(const QString &objectName, const QString &caption, const Options &options,
                      QWidget *owner);
    ~ReportParamDialog() override;

    bool printEnabled() const;
    // The request of the last refresh (its output is the preview's); a print
    // command makes its layout for it with the command's output.
    const ReportRequest &request() const { return m_request; }

public Q_SLOTS:
    void rdbTodayClick();
    void dtBeginChange();
    void btRefreshClick();
    void btPrintClick();
    void btPrint1Click();
    void disablePrint();

protected:
    // The statement of the grid, built from the request the refresh has just
    // made (request()).
    virtual QStringList refreshStatement() const = 0;
    virtual QVector<GridColumn> gridColumns() const = 0;
    // After the period is set into the new request (and ReportBegin/ReportEnd
    // into the session), before the statement is built: the kind and the
    // dialog's own choices (a category), and the session values the dialog
    // hands over (QueryCondition).
    virtual void prepareRefresh(ReportRequest &request) = 0;
    // Runs the refresh query; returns the number of rows. By default the
    // refresh statement into DBGrid1.
    virtual int runRefresh();
    // The layout a print command makes for the request of the last refresh
    // with the command's output: button 0 is btPrint, 1 is btPrint1. It is
    // created owned by this dialog and destroyed when the command ends.
    virtual std::unique_ptr<ReportLayout> createLayout(const ReportRequest &request, int button) = 0;

    // Where subclasses add their parameter controls (below the period box).
    QVBoxLayout *parameterArea() const { return m_parameterArea; }
    // The result box "结果" and its first grid DBGrid1.
    QGroupBox *resultBox() const { return m_resultBox; }
    QTableView *grid() const { return m_grid; }

    void showWait();
    void hideWait();

private:
    void setPrintEnabled(bool on);
    void printCommand(int button, ReportOutput output);
    void outputCommand(ReportOutput output, int button);
    QMenu *makeMenu(const QString &name, QPushButton *button, bool allFormats, int buttonIndex);

    QGroupBox *m_periodBox = nullptr;
    QRadioButton *m_today = nullptr;
    QRadioButton *m_month = nullptr;
    QRadioButton *m_all = nullptr;
    QRadioButton *m_range = nullptr;
    QLabel *m_beginLabel = nullptr;
    QLabel *m_endLabel = nullptr;
    QDateEdit *m_begin = nullptr;
    QDateEdit *m_end = nullptr;
    QLabel *m_wait = nullptr;
    QPushButton *m_refresh = nullptr;
    QPushButton *m_print = nullptr;
    QPushButton *m_print1 = nullptr;
    QGroupBox *m_resultBox = nullptr;
    QTableView *m_grid = nullptr;
    QVBoxLayout *m_parameterArea = nullptr;
    QVector<QAction *> m_outputActions;
    ReportRequest m_request;
};

} // namespace lectoria
