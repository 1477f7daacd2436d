#include "bodyfit.h"
#include "textmeasure.h"

#include <cmath>

namespace lectoria::report {

BodyFit::BodyFit(int left, int right, int designWidth, QVector<FontSpec> *fonts)
    : m_left(left), m_right(right), m_body(qMax(1, right - left)), m_design(qMax(1, designWidth)),
      m_narrow(m_body < m_design), m_fonts(fonts)
{
}

quint16 BodyFit::memoFont(quint16 designed)
{
    if (!m_narrow)
        return designed;
    auto at = m_narrowed.constFind(designed);
    if (at != m_narrowed.constEnd())
        return *at;
    FontSpec f = (*m_fonts)[designed];
    f.pointSize = qMax(MinPointSize, std::floor(f.pointSize * m_body / m_design * 2) / 2);
    const quint16 index = fontSlot(f);
    m_narrowed.insert(designed, index);
    return index;
}

quint16 BodyFit::fontSlot(const FontSpec &f)
{
    int at = int(m_fonts->indexOf(f));
    if (at < 0) {
        m_fonts->append(f);
        at = int(m_fonts->size()) - 1;
    }
    return quint16(at);
}

void BodyFit::spreadIntoFreeWidth(QVector<PageItem> &items, qsizetype first) const
{
    constexpr int Gap = 15; // between one text's ink and the next
    const qsizetype n = items.size() - first;
    if (n < 1)
        return;
    QVector<int> textWidths(n);
    bool overflow = false;
    for (qsizetype k = 0; k < n; ++k) {
        const PageItem &it = items[first + k];
        textWidths[k] = it.text.isEmpty() ? 0 : textWidth(it.text, (*m_fonts)[it.font].pointSize);
        overflow = overflow || (it.clip && textWidths[k] > it.width);
    }
    if (!overflow)
        return;
    // Where a text's ink lies: its box when it does not fit it, else the text
    // itself at its anchor.
    auto inkLeft = [&](qsizetype k) {
        const PageItem &it = items[first + k];
        const int w = textWidths[k];
        if (it.clip && w > it.width)
            return it.x;
        return it.align == Align::Left ? it.x : it.align == Align::Right ? it.x + it.width - w : it.anchor() - w / 2;
    };
    auto inkRight = [&](qsizetype k) {
        const PageItem &it = items[first + k];
        const int w = textWidths[k];
        if (it.clip && w > it.width)
            return it.x + it.width;
        return it.align == Align::Left ? it.x + w : it.align == Align::Right ? it.x + it.width : it.anchor() + (w + 1) / 2;
    };
    for (qsizetype k = 0; k < n; ++k) {
        PageItem &it = items[first + k];
        if (!it.clip || it.figure || textWidths[k] <= it.width || it.align == Align::Center)
            continue;
        if (it.align == Align::Left) {
            int limit = m_right;
            for (qsizetype j = 0; j < n; ++j) {
                const PageItem &o = items[first + j];
                if (j != k && o.y == it.y && !o.text.isEmpty() && inkLeft(j) >= it.x)
                    limit = qMin(limit, inkLeft(j) - Gap);
            }
            it.width = qMax(it.width, qMin(textWidths[k], limit - it.x));
        } else {
            const int right = it.x + it.width;
            int limit = m_left;
            for (qsizetype j = 0; j < n; ++j) {
                const PageItem &o = items[first + j];
                if (j != k && o.y == it.y && !o.text.isEmpty() && inkRight(j) <= right)
                    limit = qMax(limit, inkRight(j) + Gap);
            }
            const int left = qMin(it.x, qMax(right - textWidths[k], limit));
            it.width = right - left;
            it.x = left;
        }
    }
}

void BodyFit::keepInside(PageItem &out, bool cutText)
{
    const int L = m_left, R = m_right;
    switch (out.align) {
    case Align::Left:
        out.x = qBound(L, out.x, R);
        if (out.clip && out.x + out.width > R)
            out.width = R - out.x;
        break;
    case Align::Right:
        if (out.x + out.width > R)
            out.x = R - out.width;
        if (out.x + out.width < L)
            out.x = L - out.width;
        if (out.clip && out.x < L) {
            out.width -= L - out.x;
            out.x = L;
        }
        break;
    case Align::Center: {
        const int a = qBound(L, out.anchor(), R);
        if (out.clip)
            out.width = qMin(out.width, 2 * qMin(a - L, R - a));
        out.x = a - out.width / 2;
        break;
    }
    }
    if (out.text.isEmpty() || !cutText)
        return;
    const qreal pt = (*m_fonts)[out.font].pointSize;
    if (out.clip) {
        out.text = cutWithMark(out.text, out.width, pt);
        return;
    }
    int room = 0;
    switch (out.align) {
    case Align::Left:
        room = R - out.x;
        break;
    case Align::Right:
        room = out.x + out.width - L;
        break;
    case Align::Center:
        room = 2 * qMin(out.anchor() - L, R - out.anchor());
        break;
    }
    // Most texts are far shorter than their room: no measuring then.
    if (out.text.size() * 2 * columnWidth(pt) <= room)
        return;
    const int width = textWidth(out.text, pt);
    if (width <= room)
        return;
    qreal smaller = std::floor(pt * room / width * 2) / 2; // in half points
    while (smaller >= MinPointSize && textWidth(out.text, smaller) > room)
        smaller -= 0.5;
    if (smaller < MinPointSize) {
        smaller = MinPointSize;
        out.text = cutWithMark(out.text, room, smaller);
    }
    FontSpec f = (*m_fonts)[out.font];
    f.pointSize = smaller;
    out.font = fontSlot(f);
}

} // namespace lectoria::report
