#pragma once
#include "kinds.h"
#include "reportlayout.h"
#include "savereport.h"

#include <QString>

#include <memory>
#include <optional>

namespace lectoria {

// The reports of this family, as a runner without windows names them.
enum class ListingReport {
    Listing,               // "listing": TxxxxML
    Book,                  // "book": TxxxxSB (not for guided-reading articles; text or PDF only)
    SubCategoryStatistics, // "stats-sub": TBklwTJ1 (periodical articles only)
};

// "listing", "book", "stats-sub"; false for anything else.
bool listingReportFromName(const QString &name, ListingReport *out);

// What a report is made of besides the period: a category and, for
// periodical-article listings, a sub-category of it.
struct ListingSelection {
    std::optional<int> category;
    std::optional<int> subCategory;
};

// The layout of a report for the session values (ReportBegin, ReportEnd,
// QueryCondition, SchoolName, margins) and an export choice. Throws Error
// when the kind has no such report.
std::unique_ptr<ReportLayout> makeListingReportLayout(Kind kind, ListingReport which, QObject *owner,
                                                      int exportChoice);

// Produces the report file without any window, as the dialogs' output
// commands would: sets QueryCondition from the selection, then makes the
// layout for the session's ReportBegin/ReportEnd (which the caller sets) and
// writes it (text, CSV and HTML finished by the helper library, PDF as
// printed). Throws Error for a report the kind does not have or a format the
// report is not saved in (a book-style catalogue is text or PDF only), and
// DbError / FileError from the database or the file.
void produceListingReport(Kind kind, ListingReport which, const ListingSelection &selection, ReportOutput output,
                          const QString &path);

} // namespace lectoria
