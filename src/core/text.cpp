#include "text.h"
#include <QDate>
#include <QDateTime>

namespace lectoria {

QString trimText(const QString &s)
{
    int b = 0, e = s.size();
    while (b < e && s.at(b).unicode() <= 32) ++b;
    while (e > b && s.at(e - 1).unicode() <= 32) --e;
    return (b == 0 && e == s.size()) ? s : s.mid(b, e - b);
}

QString shownValue(const QString &value, qsizetype limit)
{
    const bool cut = value.size() > limit;
    QString shown = cut ? value.left(limit) : value;
    if (cut && shown.back().isHighSurrogate())
        shown.chop(1);
    for (QChar &c : shown) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format
            || category == QChar::Separator_Line || category == QChar::Separator_Paragraph)
            c = QLatin1Char('?');
    }
    if (cut)
        shown += QChar(0x2026);
    return shown;
}

QString sqlEscape(const QString &s)
{
    if (!s.contains(QLatin1Char('\'')))
        return s;
    QString r = s;
    r.replace(QLatin1Char('\''), QLatin1String("''"));
    return r;
}

QString sqlLiteral(const QString &s)
{
    return QLatin1Char('\'') + sqlEscape(s) + QLatin1Char('\'');
}

QString ymd(const QDate &d) { return d.toString(QStringLiteral("yyyy-MM-dd")); }
QString ymd(const QDateTime &dt) { return ymd(dt.date()); }

} // namespace lectoria
