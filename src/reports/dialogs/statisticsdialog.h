#pragma once
#include "kinds.h"
#include "paramdialog.h"

class QCheckBox;

namespace lectoria {

// The statistics dialog of one kind (objectName T + code + TJP, e.g.
// TDztsTJP): records per category over a period, printed or saved as the
// kind's StatisticsLayout. Open it owned by the main window and modally:
//     StatisticsDialog dlg(Kind::Dzts, mainWindow);
//     dlg.exec();
//
// The check box "附统计图" (cbChart) adds a bar chart after the table in the
// preview, PDF and HTML file; it is off until the operator first ticks it,
// and the machine's settings (REPORTCHART) remember the choice.
class StatisticsDialog : public ReportParamDialog {
    Q_OBJECT
public:
    StatisticsDialog(Kind kind, QWidget *owner);
    Kind kind() const { return m_kind; }
    bool withChart() const;

protected:
    QStringList refreshStatement() const override;
    QVector<GridColumn> gridColumns() const override;
    void prepareRefresh(ReportRequest &request) override;
    std::unique_ptr<ReportLayout> createLayout(const ReportRequest &request, int button) override;

private:
    Kind m_kind;
    QCheckBox *m_chart = nullptr;
};

// The statistics dialog the menu command of a kind opens.
std::unique_ptr<ReportParamDialog> makeStatisticsDialog(Kind kind, QWidget *owner);

} // namespace lectoria
