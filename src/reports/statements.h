#pragma once
#include "dialect.h"
#include "kinds.h"
#include "reportrequest.h"

#include <QDate>
#include <QStringList>

namespace lectoria {

// The statements of the report dialogs and their layouts, as lists of lines.
// Each is a pure function of the kind, the report request and the dialect,
// so a dialog's grid and the layout it prints run the very same text. The
// period lines come from dateConditionLines (reportperiod.h).

// Records per category over the period: li_typeid, lt_notice, iC and, for
// e-books, iNum (copies) or, for video, iLong (minutes).
QStringList statisticsStatement(Kind kind, const QDate &begin, const QDate &end, const Dialect &dialect);
inline QStringList statisticsStatement(const ReportRequest &r, const Dialect &dialect)
{
    return statisticsStatement(r.kind, r.period.begin, r.period.end, dialect);
}

} // namespace lectoria
