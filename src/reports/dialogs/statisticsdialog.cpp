#include "statisticsdialog.h"
#include "libdb.h"
#include "statements.h"
#include "statistics.h"
#include "statisticslayout.h"
#include "machinesettings.h"

#include <QCheckBox>
#include <QVBoxLayout>

namespace lectoria {

namespace {
QString chartSetting() { return QStringLiteral("REPORTCHART"); }

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
    m_chart = new QCheckBox(QStringLiteral("附统计图"), this);
    m_chart->setObjectName(QStringLiteral("cbChart"));
    m_chart->setChecked(MachineSettings::value(chartSetting()) == QLatin1String("1"));
    parameterArea()->addWidget(m_chart);
    // Settings that cannot be written keep the choice for this window only,
    // silently: the report itself does not depend on it.
    connect(m_chart, &QCheckBox::toggled, this, [](bool on) {
        if (MachineSettings::createKeys().isEmpty())
            MachineSettings::write({{chartSetting(), on ? QStringLiteral("1") : QStringLiteral("0")}});
    });
}

bool StatisticsDialog::withChart() const { return m_chart->isChecked(); }

QStringList StatisticsDialog::refreshStatement() const { return statisticsStatement(request(), LibDB::dialect()); }

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
    ReportRequest withChoice = request;
    withChoice.chart = withChart();
    return std::make_unique<StatisticsLayout>(withChoice, this);
}

std::unique_ptr<ReportParamDialog> makeStatisticsDialog(Kind kind, QWidget *owner)
{
    return std::make_unique<StatisticsDialog>(kind, owner);
}

} // namespace lectoria
