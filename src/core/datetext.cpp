#include "datetext.h"

namespace lectoria {

namespace {

int digits(QStringView s, qsizetype at, int n)
{
    int v = 0;
    for (qsizetype i = at; i < at + n; ++i) {
        const char16_t c = s[i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        v = v * 10 + (c - u'0');
    }
    return v;
}

} // namespace

bool parseDateText(QStringView s, QDate &date, QTime &time)
{
    qsizetype b = 0;
    while (b < s.size() && s[b].unicode() <= 32)
        ++b;
    if (s.size() - b < 10 || s[b + 4] != u'-' || s[b + 7] != u'-')
        return false;
    const QDate d(digits(s, b, 4), digits(s, b + 5, 2), digits(s, b + 8, 2));
    if (!d.isValid())
        return false;
    date = d;
    time = QTime(0, 0);
    const qsizetype t = b + 11;
    if (s.size() < t + 5 || (s[b + 10] != u' ' && s[b + 10] != u'T') || s[t + 2] != u':')
        return true;
    int sec = 0, msec = 0;
    if (s.size() >= t + 8 && s[t + 5] == u':') {
        sec = digits(s, t + 6, 2);
        if (s.size() >= t + 12 && s[t + 8] == u'.')
            msec = digits(s, t + 9, 3);
    }
    const QTime parsed(digits(s, t, 2), digits(s, t + 3, 2), qMax(0, sec), qMax(0, msec));
    if (parsed.isValid())
        time = parsed;
    return true;
}

} // namespace lectoria
