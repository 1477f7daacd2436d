#include "statisticsdialog.h"
#include "statements.h"
#include "statistics.h"
#include "statisticslayout.h"

namespace lectoria {

namespace {
ReportParamDialog::Options statisticsOptions(Kind kind)
{
    ReportParamDialog::Options o;
    o.hints = kind != Kind::Bklw; // the periodical-article dialog has no hint lines
    return o;
}
} // namespace

StatisticsDialog::StatisticsDialog(Kind kind, QWidget *owner)
    : ReportParamDialog(statisticsDialogName(kind), statisticsFacts(kind).dialogCaption, statisticsOptions(kind),
                        owner),
      m_kind(kind)
{
}

QStringList StatisticsDialog::refreshStatement() const { return statisticsStatement(request()); }

void StatisticsDialog::prepareRefresh(ReportRequest &request) { request.kind = m_kind; }

QVector<GridColumn> StatisticsDialog::gridColumns() const
{
    QVector<GridColumn> columns = {{QStringLiteral("lt_notice"), QStringLiteral("类别"), GridFormat::Text}};
    for (const StatColumn &c : statisticsFacts(m_kind).numbers)
        columns.append({c.field, c.heading, GridFormat::Number});
    return columns;
}

std::unique_ptr<ReportLayout> StatisticsDialog::createLayout(const ReportRequest &request, int)
{
    return std::make_unique<StatisticsLayout>(request, this);
}

std::unique_ptr<ReportParamDialog> makeStatisticsDialog(Kind kind, QWidget *owner)
{
    return std::make_unique<StatisticsDialog>(kind, owner);
}

} // namespace lectoria
