#pragma once
#include "kinds.h"
#include "pagemodel.h"
#include "gridcolumns.h"

#include <QString>
#include <QVector>

namespace lectoria {

// A printed column of a listing: caption in the column captions, the field
// below it in every detail row. Positions in mm from the left edge of the
// designed band (about 196 mm wide).
struct ListingColumn {
    QString caption;
    QString field;
    report::Align align = report::Align::Left;
    double xMm = 0;
    double widthMm = 0;
    bool date = false;          // shown as yyyy-mm-dd
    bool clip = false;          // fixed width: what does not fit is not printed
    bool gridFilesOnly = false; // printed only into comma-separated and HTML files

    double rightMm() const { return xMm + widthMm; }
};

// What one kind's listing dialog, listing layout and book-style layout show.
struct ListingFacts {
    Kind kind;
    // Dialog
    QString dialogCaption;
    QString periodCaption;   // "加入日期" or "入库日期"
    QString printCaption;    // btPrint
    QString bookCaption;     // btPrint1; empty: the kind has no book-style catalogue
    QString firstItem;       // the list entry meaning every category
    QString dialogSelect;
    QVector<GridColumn> grid;
    // Listing layout
    QString layoutSelect;
    QVector<ListingColumn> columns;
    QString footerPrefix;    // before the group count ("小计：" for video)
    QString sumField;        // summed per group ("li_number", "li_times") or empty
    QString sumUnit;         // printed after the sums ("册")
    bool sumInSummary = false; // the grand total of sumField in the summary
    // Both layouts and file saving
    QString pageTitle;
    QString fileTitle;       // appended to SchoolName; begins with a blank
    QString headerLine;
    // Book-style layout
    QString bookSelect;
    QString bracketField;    // after the title, in square brackets
    QString textField;       // the descriptive text
    bool bookTimes = false;  // "时间(分)：" and li_times on the heading line

    bool hasBook() const { return !bookCaption.isEmpty(); }
    const ListingColumn *column(const QString &field) const;
};

const ListingFacts &listingFacts(Kind kind);

// Window names: T + kind code + MLP (dialog), ML (listing), SB (book style).
QString listingDialogName(Kind kind);
QString listingLayoutName(Kind kind);
QString bookLayoutName(Kind kind);

} // namespace lectoria
