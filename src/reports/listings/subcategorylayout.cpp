#include "subcategorylayout.h"
#include "libdb.h"
#include "listingparts.h"
#include "listingstatements.h"
#include "statistics.h"

namespace lectoria {

using report::Align;
using report::mm;

SubCategoryLayout::SubCategoryLayout(const ReportRequest &request, QObject *owner)
    : ReportLayout(QStringLiteral("TBklwTJ1"), owner)
{
    report::Report &r = report();
    r.setFont({QStringLiteral("宋体"), 9});

    report::Band &heading = r.pageHeader();
    listing::addHeading(heading, statisticsFacts(Kind::Bklw).reportTitle, 99.5, false);
    heading.setHeight(mm(10.6));
    heading.addLabel(QString(), {mm(103), mm(6.4), mm(80), mm(4)}, Align::Right, QStringLiteral("qlbDate"));

    report::Band &columns = r.columnHeader();
    columns.setHeight(mm(7.1));
    columns.setFrame(true, true);
    columns.addLabel(QStringLiteral("大类别"), {mm(8.5), mm(1.5), mm(30), mm(4)});
    columns.addLabel(QStringLiteral("小类别"), {mm(93.1), mm(1.5), mm(30), mm(4)});
    columns.addLabel(QStringLiteral("数量"), {mm(175.7), mm(1.5), mm(15), mm(4)});

    const report::Box count{mm(157), mm(1), mm(25), mm(4)};
    report::Band &detail = r.detail();
    detail.setHeight(mm(6.3));
    report::Item *category =
        detail.addField(QStringLiteral("lt_notice"), {mm(8.5), mm(1), mm(84), mm(4)}, Align::Left,
                        QStringLiteral("qrdbType"));
    detail.addField(QStringLiteral("ls_notice"), {mm(93.1), mm(1), mm(60), mm(4)});
    detail.addField(QStringLiteral("iC"), count, Align::Right);
    // The category's name only on its first row. Cleared rather than hidden,
    // so that an exported row keeps its first (empty) cell.
    detail.setBeforePrint([this, category](report::BandContext &) {
        if (category->text() != m_lastCategory)
            m_lastCategory = category->text();
        else
            category->setText(QString());
    });
    r.setStartHook([this](report::Report &) {
        m_lastCategory.clear();
        m_chart.reset();
    });
    if (showsChart(request))
        m_chart.attach(r, statisticsFacts(Kind::Bklw).reportTitle + QStringLiteral("图"),
                       {{QStringLiteral("iC"), QStringLiteral("数量")}}, [](const report::RowView &row) {
                           return row.text(QStringLiteral("lt_notice")) + QLatin1Char('[')
                                + row.text(QStringLiteral("ls_notice")) + QLatin1Char(']');
                       });

    report::Band &summary = r.summary();
    summary.setHeight(mm(6.3));
    summary.setFrame(true, false);
    summary.addLabel(QStringLiteral("合计"), {mm(8.5), mm(1), mm(20), mm(4)});
    summary.addAggregate(report::AggregateKind::Sum, QStringLiteral("iC"), false, count, Align::Right);

    listing::addPageFooter(r.pageFooter());

    Creation c;
    c.offInGridFiles = {&heading, &columns, &summary, &r.pageFooter()};
    c.datePrefix = QStringLiteral("入库日期：");
    c.statement = subCategoryStatisticsStatement(request, LibDB::dialect());
    c.request = request;
    create(c);
}

QString SubCategoryLayout::fileTitle() const { return statisticsFacts(Kind::Bklw).fileTitle; }
QString SubCategoryLayout::headerLine() const { return statisticsFacts(Kind::Bklw).headerLine; }

} // namespace lectoria
