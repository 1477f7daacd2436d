#include "statisticslayout.h"
#include "libdb.h"
#include "statements.h"
#include "statistics.h"

namespace lectoria {

using report::Align;
using report::mm;

StatisticsLayout::StatisticsLayout(const ReportRequest &request, QObject *owner)
    : ReportLayout(statisticsLayoutName(request.kind), owner), m_kind(request.kind)
{
    const Kind kind = request.kind;
    const StatisticsFacts &facts = statisticsFacts(kind);
    report::Report &r = report();
    r.setFont({QStringLiteral("宋体"), 9});
    const int numberWidth = mm(25);
    auto underColumn = [numberWidth](const StatColumn &c, double top) {
        return report::Box{mm(c.rightMm) - numberWidth, mm(top), numberWidth, mm(4)};
    };

    // Heading: the school name ending where the title begins, the period below at the right.
    report::Band &header = r.pageHeader();
    header.setHeight(mm(10.6));
    header.addLabel(QString(), {0, mm(0.5), mm(96), mm(5.5)}, Align::Right, QStringLiteral("qlbSchool"))
        ->setFont({QStringLiteral("宋体"), 14});
    header.addLabel(facts.reportTitle, {mm(97), mm(0.5), mm(98), mm(5.5)}, Align::Left, QStringLiteral("qlbTitle"))
        ->setFont({QStringLiteral("黑体"), 14});
    header.addLabel(QString(), {mm(103), mm(6.4), mm(80), mm(4)}, Align::Right, QStringLiteral("qlbDate"));

    report::Band &columns = r.columnHeader();
    columns.setHeight(mm(7.1));
    columns.setFrame(true, true);
    columns.addLabel(QStringLiteral("类别"), {mm(8.5), mm(1.5), mm(30), mm(4)});
    for (const StatColumn &c : facts.numbers)
        columns.addLabel(c.heading, {mm(c.headingMm), mm(1.5), mm(30), mm(4)});

    report::Band &detail = r.detail();
    detail.setHeight(mm(6.3));
    detail.addField(QStringLiteral("lt_notice"), {mm(8.5), mm(1), mm(100), mm(4)});
    for (const StatColumn &c : facts.numbers)
        detail.addField(c.field, underColumn(c, 1), Align::Right);

    report::Band &summary = r.summary();
    summary.setHeight(mm(facts.summaryHeightMm));
    summary.setFrame(true, false);
    summary.addLabel(QStringLiteral("合计"), {mm(8.5), mm(1.5), mm(20), mm(4)});
    for (const StatColumn &c : facts.numbers)
        summary.addAggregate(report::AggregateKind::Sum, c.field, false, underColumn(c, 1.5), Align::Right);
    const double second = facts.summaryHeightMm - 5.5;
    summary.addLabel(QStringLiteral("打印日期："), {mm(8.5), mm(second), mm(17), mm(4)});
    summary.addSystem(report::SystemValue::DateTime, {mm(25.4), mm(second), mm(50), mm(4)});
    summary.addLabel(QString(), {mm(82), mm(second), mm(70), mm(4)}, Align::Left, QStringLiteral("qlbCompany"));

    if (showsChart(request)) {
        QVector<StatisticsChart::Column> figures;
        for (const StatColumn &n : facts.numbers)
            figures.append({n.field, n.heading});
        m_chart.attach(r, facts.reportTitle + QStringLiteral("图"), figures,
                       [](const report::RowView &row) { return row.text(QStringLiteral("lt_notice")); });
        r.setStartHook([this](report::Report &) { m_chart.reset(); });
    }

    Creation c;
    c.offInGridFiles = {&header, &columns, &summary};
    c.datePrefix = QStringLiteral("入库日期：");
    c.statement = statisticsStatement(request, LibDB::dialect());
    c.request = request;
    create(c);
}

bool showsChart(const ReportRequest &request)
{
    return request.chart
        && (request.output == ReportOutput::Preview || request.output == ReportOutput::Pdf
            || request.output == ReportOutput::Html);
}

void StatisticsChart::reset()
{
    m_chart.categories.clear();
    for (report::BarChart::Series &s : m_chart.series)
        s.values.clear();
}

void StatisticsChart::attach(report::Report &r, const QString &title, const QVector<Column> &columns,
                             std::function<QString(const report::RowView &)> label)
{
    static const QRgb colors[] = {0xff4a7ab5, 0xffd0873c};
    m_chart = report::BarChart();
    m_chart.title = title;
    for (int i = 0; i < columns.size(); ++i)
        m_chart.series.append({columns[i].name, {}, colors[i % 2]});
    r.detail().setAfterPrint([this, columns, label](report::BandContext &c) {
        m_chart.categories << label(c.row());
        for (int i = 0; i < columns.size(); ++i)
            m_chart.series[i].values << c.value(columns[i].field).toLongLong();
    });
    report::Band &appendix = r.appendix();
    appendix.setHeight(mm(9));
    report::Item *chart = appendix.addChart({mm(8.5), mm(4), mm(174), mm(5)}, QStringLiteral("qrChart"));
    chart->setLineHeight(mm(5));
    appendix.setBeforePrint([this, chart](report::BandContext &) { chart->setChart(m_chart); });
}

QString StatisticsLayout::fileTitle() const { return statisticsFacts(m_kind).fileTitle; }
QString StatisticsLayout::headerLine() const { return statisticsFacts(m_kind).headerLine; }

} // namespace lectoria
