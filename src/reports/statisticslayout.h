#pragma once
#include "kinds.h"
#include "reportlayout.h"

#include <functional>

namespace lectoria {

// The bar chart after a statistics table (ReportRequest::chart): gathers the
// figures of each printed row and draws them in the report's appendix band,
// a bar per row for each of the columns.
class StatisticsChart {
public:
    struct Column {
        QString field;
        QString name;
    };
    // label: the row's name in the chart.
    void attach(report::Report &r, const QString &title, const QVector<Column> &columns,
                std::function<QString(const report::RowView &)> label);
    // Forgets the figures; every run of the report starts with it.
    void reset();

private:
    report::BarChart m_chart;
};

// The statistics report of one kind (objectName T + code + TJ): records per
// category over the request's period, with the totals. Made for the request
// (kind, period) and the session's school name and margins when constructed;
// the request's output decides the bands (CSV and HTML keep only the data
// rows).
class StatisticsLayout : public ReportLayout {
    Q_OBJECT
public:
    explicit StatisticsLayout(const ReportRequest &request, QObject *owner = nullptr);

    Kind kind() const { return m_kind; }
    QString fileTitle() const override;
    QString headerLine() const override;

private:
    Kind m_kind;
    StatisticsChart m_chart;
};

// Whether a report request's output shows a chart: the pictures (preview,
// PDF) and the HTML file; the text and CSV files never do.
bool showsChart(const ReportRequest &request);

} // namespace lectoria
