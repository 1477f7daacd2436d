#include "listingreports.h"
#include "articlestatistics.h"
#include "errors.h"
#include "listingkinds.h"
#include "listinglayouts.h"
#include "listingstatements.h"
#include "unglobal.h"

namespace lectoria {

bool listingReportFromName(const QString &name, ListingReport *out)
{
    const QString n = name.toLower();
    if (n == QLatin1String("listing"))
        *out = ListingReport::Listing;
    else if (n == QLatin1String("book"))
        *out = ListingReport::Book;
    else if (n == QLatin1String("stats-sub"))
        *out = ListingReport::SubCategoryStatistics;
    else
        return false;
    return true;
}

namespace {

void checkAvailable(Kind kind, ListingReport which)
{
    if (which == ListingReport::Book && !listingFacts(kind).hasBook())
        throw Error(kindInfo(kind).word + QStringLiteral("没有书本式目录。"));
    if (which == ListingReport::SubCategoryStatistics && kind != Kind::Bklw)
        throw Error(QStringLiteral("只有报刊论文有按子类别的统计。"));
}

} // namespace

std::unique_ptr<ReportLayout> makeListingReportLayout(Kind kind, ListingReport which, QObject *owner,
                                                      int exportChoice)
{
    checkAvailable(kind, which);
    switch (which) {
    case ListingReport::Book:
        return std::make_unique<BookLayout>(kind, owner);
    case ListingReport::SubCategoryStatistics:
        return std::make_unique<SubCategoryLayout>(owner, exportChoice);
    case ListingReport::Listing:
        break;
    }
    return std::make_unique<ListingLayout>(kind, owner, exportChoice);
}

void produceListingReport(Kind kind, ListingReport which, const ListingSelection &selection, ReportOutput output,
                          const QString &path)
{
    checkAvailable(kind, which);
    if (which == ListingReport::Book && output != ReportOutput::Text && output != ReportOutput::Pdf)
        throw Error(QStringLiteral("书本式目录只能保存为文本文件或PDF文件。"));
    unGlobal().QueryCondition = which == ListingReport::SubCategoryStatistics
                                  ? subCategoryStatisticsCondition(selection.category)
                                  : listingCondition(kind, selection.category, selection.subCategory);
    produceReportFile(
        [&] { return makeListingReportLayout(kind, which, nullptr, unGlobal().ExportChoice); }, output, path);
}

} // namespace lectoria
