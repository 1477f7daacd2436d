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

QStringList dateConditionLines(const QDate &begin, const QDate &end, const Dialect &dialect)
{
    if (begin.isNull())
        return {};
    const Dialect::EntryBounds b = dialect.entryBounds(begin, end);
    QStringList lines{QStringLiteral("  and ") + b.from + QLatin1Char(' ')};
    if (!b.before.isEmpty())
        lines << QStringLiteral("  and ") + b.before + QLatin1Char(' ');
    return lines;
}

QString periodCaption(const QString &prefix, const QDate &begin, const QDate &end)
{
    if (begin.isNull())
        return QString();
    return prefix + ymd(begin) + QStringLiteral("到") + ymd(end);
}

} // namespace lectoria
