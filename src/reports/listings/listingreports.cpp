#include "listingreports.h"
#include "subcategorylayout.h"
#include "errors.h"
#include "listingkinds.h"
#include "listinglayouts.h"
#include "listingstatements.h"
#include "unglobal.h"

namespace lectoria {

bool listingReportFromName(const QString &name, ListingReport *out)
{
    const QString &n = name;
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

bool hasListingReport(Kind kind, ListingReport which)
{
    switch (which) {
    case ListingReport::Book:
        return listingFacts(kind).hasBook();
    case ListingReport::SubCategoryStatistics:
        return kind == Kind::Bklw;
    case ListingReport::Listing:
        break;
    }
    return true;
}

bool savedAs(ListingReport which, ReportOutput output)
{
    return which != ListingReport::Book || output == ReportOutput::Text || output == ReportOutput::Pdf;
}

std::unique_ptr<ReportLayout> makeListingReportLayout(const ReportRequest &request, ListingReport which,
                                                      QObject *owner)
{
    if (!hasListingReport(request.kind, which))
        throw Error(which == ListingReport::Book ? kindInfo(request.kind).word + QStringLiteral("没有书本式目录。")
                                                 : QStringLiteral("只有报刊论文有按子类别的统计。"));
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
    if (!savedAs(which, request.output))
        throw Error(QStringLiteral("书本式目录只能保存为文本文件或PDF文件。"));
    const std::unique_ptr<ReportLayout> layout = makeListingReportLayout(request, which);
    produceReportFile(*layout, request.output, path);
}

} // namespace lectoria
