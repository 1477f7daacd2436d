#pragma once
#include "reportlayout.h"
#include "statisticslayout.h"

namespace lectoria {

// Articles per category and sub-category over the request's period, for its
// category or every one (objectName TBklwTJ1). A category's name is printed
// only on its first row (compared by name, across pages too).
class SubCategoryLayout : public ReportLayout {
    Q_OBJECT
public:
    explicit SubCategoryLayout(const ReportRequest &request, QObject *owner = nullptr);

    QString fileTitle() const override;
    QString headerLine() const override;

private:
    QString m_lastCategory; // the name printed last
    StatisticsChart m_chart;
};

} // namespace lectoria
