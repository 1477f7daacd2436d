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

std::unique_ptr<ReportLayout> makeListingReportLayout(const ReportRequest &request, ListingReport which,
                                                      QObject *owner)
{
    checkAvailable(request.kind, which);
    switch (which) {
    case ListingReport::Book:
        return std::make_unique<BookLayout>(request, owner);
    case ListingReport::SubCategoryStatistics:
        return std::make_unique<SubCategoryLayout>(request, owner);
    case ListingReport::Listing:
        break;
    }
    return std::make_unique<ListingLayout>(request, owner);
}

void produceListingReport(const ReportRequest &request, ListingReport which, const QString &path)
{
    checkAvailable(request.kind, which);
    if (which == ListingReport::Book && request.output != ReportOutput::Text && request.output != ReportOutput::Pdf)
        throw Error(QStringLiteral("书本式目录只能保存为文本文件或PDF文件。"));
    const std::unique_ptr<ReportLayout> layout = makeListingReportLayout(request, which);
    produceReportFile(*layout, request.output, path);
}

} // namespace lectoria
