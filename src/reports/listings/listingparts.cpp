#include "listingparts.h"
#include "text.h"

namespace lectoria::listing {

using report::Align;
using report::mm;

void addHeading(report::Band &band, const QString &title, double titleMm, bool withDate)
{
    band.setHeight(mm(withDate ? 13 : 8));
    band.addLabel(QString(), {0, mm(0.5), mm(titleMm - 1), mm(6)}, Align::Right, QStringLiteral("qlbSchool"))
        ->setFont({QStringLiteral("宋体"), 14});
    band.addLabel(title, {mm(titleMm), mm(0.5), mm(BandMm - titleMm), mm(6)}, Align::Left, QStringLiteral("qlbTitle"))
        ->setFont({QStringLiteral("黑体"), 14});
    if (withDate)
        band.addLabel(QString(), {mm(100), mm(8), mm(BandMm - 100), mm(4)}, Align::Right, QStringLiteral("qlbDate"));
}

void addPageFooter(report::Band &band)
{
    band.setHeight(mm(6.9));
    band.setFrame(true, false);
    const int y = mm(1.5), h = mm(4);
    band.addLabel(QStringLiteral("打印时间："), {mm(2.1), y, mm(17), h});
    band.addSystem(report::SystemValue::DateTime, {mm(19.1), y, mm(40), h});
    band.addLabel(QString(), {mm(82.5), y, mm(60), h}, Align::Left, QStringLiteral("qlbCompany"));
    band.addLabel(QStringLiteral("第"), {mm(171.5), y, mm(4), h});
    band.addSystem(report::SystemValue::PageNumber, {mm(175.7), y, mm(8), h}, Align::Center, QStringLiteral("qrPage"));
    band.addLabel(QStringLiteral("页"), {mm(184.2), y, mm(4), h});
}

report::Group &addCategoryGroup(report::Report &r, const ReportRequest &request)
{
    // Articles with a category chosen list one group per sub-category, named
    // "category[sub-category]"; otherwise a group is a category name.
    const bool bySub = request.kind == Kind::Bklw && request.category.has_value();
    report::Group &g = r.addGroup(bySub ? QStringList{QStringLiteral("lt_notice"), QStringLiteral("ls_notice")}
                                        : QStringList{QStringLiteral("lt_notice")});
    report::Band &h = g.header();
    h.setHeight(mm(8));
    const report::FontSpec font{QStringLiteral("黑体"), 12, true};
    h.addLabel(QStringLiteral("类别："), {mm(8.5), mm(1.5), mm(16), mm(5)})->setFont(font);
    report::Item *name = h.addLabel(QString(), {mm(24.5), mm(1.5), mm(120), mm(5)}, Align::Left,
                                    QStringLiteral("qlbType"));
    name->setFont(font);
    h.setBeforePrint([name, bySub](report::BandContext &c) {
        QString text = c.row().text(QStringLiteral("lt_notice"));
        if (bySub)
            text += QLatin1Char('[') + c.row().text(QStringLiteral("ls_notice")) + QLatin1Char(']');
        name->setText(text);
    });
    return g;
}

void GroupCounter::attach(report::Group &group, report::Band &detail, report::Item *total)
{
    group.header().setAfterPrint([this](report::BandContext &) { m_count = 0; });
    detail.setAfterPrint([this](report::BandContext &) { ++m_count; });
    group.footer().setBeforePrint([this, total](report::BandContext &) { total->setText(QString::number(m_count)); });
}

} // namespace lectoria::listing
