#include "reportlayout.h"
#include "libdb.h"
#include "reportperiod.h"
#include "text.h"
#include "unglobal.h"

namespace lectoria {

QString productTitle() { return QStringLiteral("砚禾数字图书馆管理系统2007版"); }

ReportLayout::ReportLayout(const QString &objectName, QObject *owner) : QObject(owner)
{
    setObjectName(objectName);
}

ReportLayout::~ReportLayout() = default;

void ReportLayout::create(const Creation &c)
{
    if (isGridFile(c.request.output))
        for (report::Band *band : c.offInGridFiles)
            band->setEnabled(false);

    m_report.setPageSetup(report::standardPageSetup());

    const Session &s = unGlobal();
    if (report::Item *school = m_report.item(QStringLiteral("qlbSchool")))
        school->setText(s.SchoolName);
    if (report::Item *company = m_report.item(QStringLiteral("qlbCompany")))
        company->setText(productTitle());
    if (report::Item *date = m_report.item(QStringLiteral("qlbDate")))
        date->setText(periodCaption(c.datePrefix, c.request.period.begin, c.request.period.end));

    m_rows.setQuery(LibDB::exec(c.statement));
    m_report.setRowSource(&m_rows);
}

} // namespace lectoria
