#include "textmeasure.h"
#include "gbk.h"

#include <QtMath>

namespace lectoria::report {

int charColumns(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80)
        return 1;
    if (c.isSurrogate())
        return c.isHighSurrogate() ? 1 : 0;
    if ((u >= 0x4E00 && u <= 0x9FA5) || (u >= 0x3000 && u <= 0x303F) || (u >= 0xFF01 && u <= 0xFF5E))
        return 2; // the common ideographs and full-width forms, all two bytes in GBK
    return int(Gbk::byteLength(QString(c)));
}

int textColumns(QStringView s)
{
    int n = 0;
    for (QChar c : s)
        n += charColumns(c);
    return n;
}

int textWidth(QStringView s, qreal pointSize)
{
    return int(std::ceil(textColumns(s) * columnWidth(pointSize) - 1e-6));
}

QString fitText(const QString &s, int width, qreal pointSize, Align align)
{
    const int room = int(std::floor(width / columnWidth(pointSize) + 1e-6));
    // Quick answer for the usual case: even two columns a character fit.
    if (s.size() * 2 <= room || textColumns(s) <= room)
        return s;
    const int n = int(s.size());
    // A low surrogate belongs to the character before it.
    auto isTrail = [&](int i) { return i > 0 && i < n && s[i].isLowSurrogate(); };
    int begin = 0, end = n, used = textColumns(s);
    auto dropFront = [&] {
        int k = begin + 1;
        while (isTrail(k))
            ++k;
        for (int i = begin; i < k; ++i)
            used -= charColumns(s[i]);
        begin = k;
    };
    auto dropBack = [&] {
        int k = end - 1;
        while (k > begin && isTrail(k))
            --k;
        for (int i = k; i < end; ++i)
            used -= charColumns(s[i]);
        end = k;
    };
    bool front = false;
    while (used > room && begin < end) {
        switch (align) {
        case Align::Left:
            dropBack();
            break;
        case Align::Right:
            dropFront();
            break;
        case Align::Center:
            // Alternately from the end and the start, the end first.
            front ? dropFront() : dropBack();
            front = !front;
            break;
        }
    }
    return s.mid(begin, end - begin);
}

QString cutWithMark(const QString &s, int width, qreal pointSize)
{
    if (textWidth(s, pointSize) <= width)
        return s;
    const QString mark(QChar(0x2026));
    const int markWidth = textWidth(mark, pointSize);
    if (markWidth > width)
        return fitText(s, width, pointSize, Align::Left);
    QString start = fitText(s, width - markWidth, pointSize, Align::Left);
    // Blanks before the mark would hide where the value was cut.
    while (!start.isEmpty() && start.back().unicode() <= 32)
        start.chop(1);
    return start + mark;
}

} // namespace lectoria::report
