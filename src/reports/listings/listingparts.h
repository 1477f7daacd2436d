#pragma once
#include "kinds.h"
#include "reportengine.h"
#include "reportrequest.h"

#include <QString>

// Bands shared by the listing, book-style and sub-category layouts.
namespace lectoria::listing {

// Every layout here is designed on a band about 196 mm wide.
constexpr double BandMm = 195.9;

// The report heading: the school name (qlbSchool, 宋体 14 pt) ending where
// the title (黑体 14 pt) begins at titleMm; with a date line, the period
// caption qlbDate right-aligned at the right edge below them.
void addHeading(report::Band &band, const QString &title, double titleMm, bool withDate);

// "打印时间：" and the run's date and time, the product title (qlbCompany),
// "第", the page number, "页"; a line above.
void addPageFooter(report::Band &band);

// The group of a listing or book-style layout: one group per category, for
// periodical articles with a category chosen one per sub-category; its header
// reads "类别：" and the group's name (qlbType) in 黑体 12 pt bold.
report::Group &addCategoryGroup(report::Report &r, const ReportRequest &request);

// The number of detail rows since the last group header, written into the
// group footer's label `total` before the footer prints.
class GroupCounter {
public:
    void attach(report::Group &group, report::Band &detail, report::Item *total);
    int value() const { return m_count; }

private:
    int m_count = 0;
};

} // namespace lectoria::listing
