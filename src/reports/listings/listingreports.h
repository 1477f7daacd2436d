#pragma once
#include "kinds.h"
#include "reportlayout.h"
#include "savereport.h"

#include <QString>

#include <memory>

namespace lectoria {

// The reports of this family, as a runner without windows names them.
enum class ListingReport {
    Listing,               // "listing": TxxxxML
    Book,                  // "book": TxxxxSB (not for guided-reading articles; text or PDF only)
    SubCategoryStatistics, // "stats-sub": TBklwTJ1 (periodical articles only)
};

// "listing", "book", "stats-sub" (in lower case); false for anything else.
bool listingReportFromName(const QString &name, ListingReport *out);

// Whether the kind has the report: a book-style catalogue where the kind's
// listing has one, sub-category statistics for periodical articles only.
bool hasListingReport(Kind kind, ListingReport which);
// Whether the report is saved as that output (a book-style catalogue as
// text or PDF only; every output else).
bool savedAs(ListingReport which, ReportOutput output);

// The layout of a report for a request (with the session's school name and
// margins). Throws Error when the kind has no such report.
std::unique_ptr<ReportLayout> makeListingReportLayout(const ReportRequest &request, ListingReport which,
                                                      QObject *owner = nullptr);

// Produces the report file of a request without any window, as the dialogs'
// output commands would (text, CSV and HTML finished as a saved report is,
// PDF as printed). Throws Error for a report the kind does not have or an
// output the report is not saved as (a book-style catalogue is text or PDF
// only), and DbError / FileError from the database or the file.
void produceListingReport(const ReportRequest &request, ListingReport which, const QString &path);

} // namespace lectoria
