#pragma once
#include "dialect.h"
#include "kinds.h"
#include "reportrequest.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>

namespace lectoria {

// The statements of the listings, the book-style catalogues and the
// sub-category statistics, as lists of lines. Pure functions of the kind and
// the report request, so a dialog's grid and the layout it prints run the
// same text.

// The id of a category list entry ("12:文学" gives 12). Only the text before
// the first ":" counts, blanks around it removed, and only when it is a whole
// number; anything else gives none, so typed text never reaches a statement.
// A dialog refuses such a typed text (chosenCategory) rather than list every
// category.
std::optional<int> categoryIdOfEntry(const QString &entry);

// QueryCondition of a listing: for five kinds the category id alone ("12");
// for periodical articles "li_typeid=" and the id, then " and li_subid=" and
// the sub-category id when one is chosen too. Empty: every category. A
// sub-category without a category is ignored.
QString listingCondition(Kind kind, std::optional<int> category, std::optional<int> subCategory = std::nullopt);

// A listing statement with the given select line: the kind's from and where
// lines, the period lines, the category line, the order.
QStringList listingStatement(Kind kind, const QString &selectLine, const QDate &begin, const QDate &end,
                             const QString &condition, const Dialect &dialect);
// The same for a request: its kind, period, category and sub-category.
QStringList listingStatement(const ReportRequest &request, const QString &selectLine, const Dialect &dialect);

// The category list of a kind's dialogs: every category in id order.
QString categoryListStatement(Kind kind);
// The sub-categories of one periodical-article category in id order.
QString subCategoryListStatement(int categoryId);

// QueryCondition of the sub-category statistics: "li_typeid=" and the id, or
// empty for every category.
QString subCategoryStatisticsCondition(std::optional<int> category);
// Articles per category and sub-category: li_typeid, lt_notice, li_subid,
// ls_notice, iC.
QStringList subCategoryStatisticsStatement(const QDate &begin, const QDate &end, const QString &condition,
                                           const Dialect &dialect);
// The same for a request: its period and category (its sub-category is not used).
QStringList subCategoryStatisticsStatement(const ReportRequest &request, const Dialect &dialect);

} // namespace lectoria
