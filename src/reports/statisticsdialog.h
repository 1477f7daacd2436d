#pragma once
#include "kinds.h"
#include "paramdialog.h"

namespace lectoria {

// The statistics dialog of one kind (objectName T + code + TJP, e.g.
// TDztsTJP): records per category over a period, printed or saved as the
// kind's StatisticsLayout. Open it owned by the main window and modally:
//     StatisticsDialog dlg(Kind::Dzts, mainWindow);
//     dlg.exec();
class StatisticsDialog : public ReportParamDialog {
    Q_OBJECT
public:
    StatisticsDialog(Kind kind, QWidget *owner);
    Kind kind() const { return m_kind; }

protected:
    QStringList refreshStatement() const override;
    QVector<GridColumn> gridColumns() const override;
    void prepareRefresh(ReportRequest &request) override;
    std::unique_ptr<ReportLayout> createLayout(const ReportRequest &request, int button) override;

private:
    Kind m_kind;
};

// The statistics dialog the menu command of a kind opens.
std::unique_ptr<ReportParamDialog> makeStatisticsDialog(Kind kind, QWidget *owner);

} // namespace lectoria
