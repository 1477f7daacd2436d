#pragma once
#include "kinds.h"
#include "reportlayout.h"

namespace lectoria {

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
    void addChart(const ReportRequest &request);

    Kind m_kind;
    report::BarChart m_chart; // the chart's figures, gathered from the rows as they print
};

// Whether a report request's output shows a chart: the pictures (preview,
// PDF) and the HTML file; the text and CSV files never do.
bool showsChart(const ReportRequest &request);

} // namespace lectoria
