#include "valueformat.h"
#include "datetext.h"
#include "text.h"

#include <QDateTime>

namespace lectoria::report {

namespace {

void appendNumber(QString &out, int v, int width)
{
    char16_t buf[8];
    for (int i = width - 1; i >= 0; --i) {
        buf[i] = char16_t(u'0' + v % 10);
        v /= 10;
    }
    out.append(reinterpret_cast<const QChar *>(buf), width);
}

QString plainText(const QVariant &v)
{
    if (v.isNull())
        return QString();
    switch (v.typeId()) {
    case QMetaType::QString:
        return trimText(v.toString());
    case QMetaType::Int:
    case QMetaType::LongLong:
        return QString::number(v.toLongLong());
    case QMetaType::Double:
        return QString::number(v.toDouble(), 'g', 15);
    case QMetaType::QDateTime:
    case QMetaType::QDate: {
        QDate d;
        QTime t;
        if (!dateParts(v, d, t))
            return QString();
        return formatDateTime(d, t, v.typeId() == QMetaType::QDate ? QStringLiteral("yyyy-MM-dd")
                                                                  : QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    }
    default:
        return trimText(v.toString());
    }
}

} // namespace

bool dateParts(const QVariant &v, QDate &date, QTime &time)
{
    switch (v.typeId()) {
    case QMetaType::QDateTime: {
        const QDateTime dt = v.toDateTime();
        date = dt.date();
        time = dt.time();
        return date.isValid();
    }
    case QMetaType::QDate:
        date = v.toDate();
        time = QTime(0, 0);
        return date.isValid();
    case QMetaType::QString:
        return parseDateText(v.toString(), date, time);
    default:
        return false;
    }
}

QString formatDateTime(const QDate &d, const QTime &t, const QString &pattern)
{
    static const QString ymd = QStringLiteral("yyyy-MM-dd");
    static const QString ymdhms = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    const bool full = pattern == ymdhms;
    if ((full || pattern == ymd) && d.year() >= 0 && d.year() <= 9999) {
        QString out;
        out.reserve(19);
        appendNumber(out, d.year(), 4);
        out.append(QLatin1Char('-'));
        appendNumber(out, d.month(), 2);
        out.append(QLatin1Char('-'));
        appendNumber(out, d.day(), 2);
        if (full) {
            out.append(QLatin1Char(' '));
            appendNumber(out, t.hour(), 2);
            out.append(QLatin1Char(':'));
            appendNumber(out, t.minute(), 2);
            out.append(QLatin1Char(':'));
            appendNumber(out, t.second(), 2);
        }
        return out;
    }
    return QDateTime(d, t, Qt::UTC).toString(pattern);
}

QString valueText(const QVariant &v, const QString &pattern)
{
    if (!pattern.isEmpty()) {
        QDate d;
        QTime t;
        if (dateParts(v, d, t))
            return formatDateTime(d, t, pattern);
    }
    return plainText(v);
}

} // namespace lectoria::report
