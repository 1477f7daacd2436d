#pragma once
#include "kinds.h"

#include <QDate>
#include <QSqlDatabase>
#include <QString>

namespace lectoria::demo {

// The site's tables as the demo and the tests know them. volumeColumn false
// gives an older e-book table without li_number, as the start-up upkeep meets it.
void createSchema(QSqlDatabase &db, bool volumeColumn = true);

// A handful of categories per kind, with sub-categories for periodical articles.
void addCategories(QSqlDatabase &db);

// The default administrator and two more operators.
void addOperators(QSqlDatabase &db, const QDate &today);

// count records of one kind, entered over the spreadDays days up to today,
// todayCount of them today. Reproducible for a given seed.
void addRecords(QSqlDatabase &db, Kind kind, int count, const QDate &today, int spreadDays = 180,
                int todayCount = 12, quint32 seed = 1);

// A complete demo database at path (replaced if present). Throws DbError.
void makeDatabase(const QString &path, int recordsPerKind, const QDate &today, const QString &onlyKind = QString());

} // namespace lectoria::demo
