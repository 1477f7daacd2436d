#include "listinglayouts.h"
#include "libdb.h"
#include "booktext.h"
#include "listingkinds.h"
#include "listingstatements.h"
#include "text.h"
#include "unglobal.h"

#include <QtGlobal>

namespace lectoria {

using report::Align;
using report::mm;

namespace {

const QString dateFormat = QStringLiteral("yyyy-MM-dd");

report::Box boxOf(const ListingColumn &c, double top)
{
    return {mm(c.xMm), mm(top), mm(c.widthMm), mm(4)};
}

// A total right-aligned under its column, its unit just after it.
void addSum(report::Band &band, const ListingFacts &f, bool perGroup, double top)
{
    const ListingColumn *c = f.column(f.sumField);
    band.addAggregate(report::AggregateKind::Sum, f.sumField, perGroup, boxOf(*c, top), Align::Right,
                      perGroup ? QStringLiteral("qrGroupSum") : QStringLiteral("qrTotalSum"));
    if (!f.sumUnit.isEmpty())
        band.addLabel(f.sumUnit, {mm(c->rightMm() + 1), mm(top), mm(6), mm(4)});
}

// Group footer and summary: the count of the group (qrlbTotal) and the count
// of the whole report, each followed by "条".
report::Item *addCounts(report::Band &footer, report::Band &summary, const QString &prefix)
{
    footer.setHeight(mm(6.5));
    footer.setFrame(true, false);
    if (!prefix.isEmpty())
        footer.addLabel(prefix, {mm(8.5), mm(1.2), mm(12), mm(4)});
    report::Item *total = footer.addLabel(QString(), {mm(20), mm(1.2), mm(20), mm(4)}, Align::Right,
                                          QStringLiteral("qrlbTotal"));
    footer.addLabel(QStringLiteral("条"), {mm(41), mm(1.2), mm(6), mm(4)});

    summary.setHeight(mm(7));
    summary.addLabel(QStringLiteral("共计"), {mm(8.5), mm(1.5), mm(10), mm(4)});
    summary.addSystem(report::SystemValue::DetailCount, {mm(20), mm(1.5), mm(20), mm(4)}, Align::Right,
                      QStringLiteral("qrCount"));
    summary.addLabel(QStringLiteral("条"), {mm(41), mm(1.5), mm(6), mm(4)});
    return total;
}

} // namespace

// ---------------------------------------------------------------- shared

CatalogueLayout::CatalogueLayout(const QString &objectName, Kind kind, QObject *owner)
    : ReportLayout(objectName, owner), m_kind(kind)
{
}

QString CatalogueLayout::fileTitle() const { return listingFacts(m_kind).fileTitle; }
QString CatalogueLayout::headerLine() const { return listingFacts(m_kind).headerLine; }

// ---------------------------------------------------------------- listing

ListingLayout::ListingLayout(const ReportRequest &request, QObject *owner)
    : CatalogueLayout(listingLayoutName(request.kind), request.kind, owner)
{
    const ListingFacts &f = listingFacts(request.kind);
    const bool gridFile = isGridFile(request.output);
    report::Report &r = report();
    r.setFont({QStringLiteral("宋体"), 9});

    report::Band &heading = r.pageHeader();
    listing::addHeading(heading, f.pageTitle, 97, true);

    report::Group &group = listing::addCategoryGroup(r, request);
    group.header().setFrame(false, true);
    report::Band &captions = group.header().addChild(mm(6));
    captions.setFrame(false, true);
    report::Band &detail = r.detail();
    detail.setHeight(mm(5.5));
    for (const ListingColumn &c : f.columns) {
        const bool typeColumn = c.gridFilesOnly;
        report::Item *caption = captions.addLabel(c.caption, boxOf(c, 1), c.align,
                                                  typeColumn ? QStringLiteral("qlType") : QString());
        report::Item *field = detail.addField(c.field, boxOf(c, 0.8), c.align,
                                              typeColumn ? QStringLiteral("qeType") : QString());
        field->setClip(c.clip);
        if (c.date)
            field->setFormat(dateFormat);
        // The e-book category column is for the exported grid only.
        if (typeColumn) {
            caption->setVisible(gridFile);
            field->setVisible(gridFile);
        }
    }

    report::Band &footer = group.footer();
    report::Band &summary = r.summary();
    report::Item *total = addCounts(footer, summary, f.footerPrefix);
    if (!f.sumField.isEmpty()) {
        addSum(footer, f, true, 1.2);
        if (f.sumInSummary)
            addSum(summary, f, false, 1.5);
    }
    counter().attach(group, detail, total);
    listing::addPageFooter(r.pageFooter());

    Creation c;
    c.offInGridFiles = {&heading, &group.header(), &captions, &footer, &summary, &r.pageFooter()};
    c.datePrefix = QStringLiteral("加入日期：");
    c.statement = listingStatement(request, f.layoutSelect, LibDB::dialect());
    c.request = request;
    create(c);
}


// ---------------------------------------------------------------- book style

BookLayout::BookLayout(const ReportRequest &request, QObject *owner)
    : CatalogueLayout(bookLayoutName(request.kind), request.kind, owner)
{
    const ListingFacts &f = listingFacts(request.kind);
    Q_ASSERT(f.hasBook());
    report::Report &r = report();
    r.setFont({QStringLiteral("宋体"), 9});

    listing::addHeading(r.pageHeader(), f.pageTitle, 97, false);

    report::Group &group = listing::addCategoryGroup(r, request);
    group.header().setHeight(mm(9));
    group.header().addLabel(QString(), {mm(100), mm(1.5), mm(listing::BandMm - 100), mm(4)}, Align::Right,
                            QStringLiteral("qlbDate"));

    // First row: heading and entry date; second row: the descriptive text,
    // whose memo grows with its lines and the band with it.
    report::Band &detail = r.detail();
    detail.setHeight(mm(12));
    detail.setFrame(true, false);
    const double nameWidth = f.bookTimes ? 118 : 150;
    report::Item *name =
        detail.addLabel(QString(), {mm(2), mm(1.5), mm(nameWidth), mm(5)}, Align::Left, QStringLiteral("qlbName"));
    name->setFont({QStringLiteral("黑体"), 11});
    name->setClip(true);
    if (f.bookTimes) {
        detail.addLabel(QStringLiteral("时间(分)："), {mm(122), mm(1.5), mm(17), mm(4)});
        detail.addField(QStringLiteral("li_times"), {mm(139), mm(1.5), mm(14), mm(4)});
    }
    detail.addLabel(QStringLiteral("加入日期："), {mm(156), mm(1.5), mm(17), mm(4)});
    detail.addField(QStringLiteral("li_logtime"), {mm(173), mm(1.5), mm(22), mm(4)})->setFormat(dateFormat);
    detail.addLabel(QStringLiteral("提要："), {mm(2), mm(7), mm(10), mm(4)});
    report::Item *memo = detail.addMemo({mm(12), mm(7), mm(174), mm(4)}, QStringLiteral("qrmDetail"));
    const QString bracket = f.bracketField;
    const QString textField = f.textField;
    detail.setBeforePrint([name, memo, bracket, textField](report::BandContext &c) {
        name->setText(bookHeading(c.value(QStringLiteral("li_title")), c.value(bracket)));
        memo->setLines(bookTextLines(c.value(textField)));
    });

    report::Item *total = addCounts(group.footer(), r.summary(), QString());
    counter().attach(group, detail, total);
    listing::addPageFooter(r.pageFooter());

    Creation c;
    c.datePrefix = QStringLiteral("加入日期：");
    c.statement = listingStatement(request, f.bookSelect, LibDB::dialect());
    c.request = request;
    create(c);
}


} // namespace lectoria
