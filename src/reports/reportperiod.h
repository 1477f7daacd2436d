#pragma once
#include "dialect.h"

#include <QDate>
#include <QString>
#include <QStringList>

namespace lectoria {

// The four period choices of every report dialog.
enum class PeriodChoice { Today, Month, All, Range };

// A report period over entry dates. A null begin means "no period": every date.
struct ReportPeriod {
    QDate begin;
    QDate end; // inclusive; meaningful only with a begin
    bool isAll() const { return begin.isNull(); }
};

QDate firstDayOfMonth(const QDate &d);

// The bounds a refresh hands to ReportBegin/ReportEnd. "当月" ends today, not at
// the month's end; a range is taken as it is, even when it runs backwards (it
// then simply finds nothing).
ReportPeriod periodFor(PeriodChoice choice, const QDate &today, const QDate &from, const QDate &to);

// The two lines that follow a statement's where line: entry date from
// midnight of the begin day up to, not including, midnight after the end
// day (Dialect::entryBounds). None for "no period"; only the first when the
// period ends on the last day a date can name.
QStringList dateConditionLines(const QDate &begin, const QDate &end, const Dialect &dialect);

// The period caption printed in a report heading: prefix, begin, "到", end;
// empty for "no period".
QString periodCaption(const QString &prefix, const QDate &begin, const QDate &end);

} // namespace lectoria
