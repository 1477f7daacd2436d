#include "reportperiod.h"
#include "text.h"

namespace lectoria {

QDate firstDayOfMonth(const QDate &d) { return QDate(d.year(), d.month(), 1); }

ReportPeriod periodFor(PeriodChoice choice, const QDate &today, const QDate &from, const QDate &to)
{
    switch (choice) {
    case PeriodChoice::Today:
        return {today, today};
    case PeriodChoice::Month:
        return {firstDayOfMonth(today), today};
    case PeriodChoice::Range:
        return {from, to};
    case PeriodChoice::All:
        break;
    }
    return {};
}

QStringList dateConditionLines(const QDate &begin, const QDate &end)
{
    if (begin.isNull())
        return {};
    const QString from = QStringLiteral("  and li_logtime>=") + sqlDate(begin) + QStringLiteral(" ");
    // No entry date lies after the last day a date can name; the day after
    // it would be the year 10000, which no database reads as a date.
    if (end >= lastDay())
        return {from};
    return {from, QStringLiteral("  and li_logtime<") + sqlDate(end.addDays(1)) + QStringLiteral(" ")};
}

QString periodCaption(const QString &prefix, const QDate &begin, const QDate &end)
{
    if (begin.isNull())
        return QString();
    return prefix + ymd(begin) + QStringLiteral("到") + ymd(end);
}

} // namespace lectoria
