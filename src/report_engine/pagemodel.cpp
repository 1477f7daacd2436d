#include "pagemodel.h"

#include <cstring>

namespace lectoria::report {

namespace {
enum : quint8 { Clip = 1, Wide = 2, Figure = 4 };

bool isLatin1(const QString &s)
{
    for (QChar c : s)
        if (c.unicode() > 0xff)
            return false;
    return true;
}

qint16 narrow(qint32 v) { return qint16(qBound<qint32>(-32768, v, 32767)); }
} // namespace

void PageList::push_back(const Page &page)
{
    PackedPage out;
    out.number = page.number;
    out.items.reserve(size_t(page.items.size()));
    qsizetype bytes = 0;
    for (const PageItem &it : page.items)
        bytes += isLatin1(it.text) ? it.text.size() : it.text.size() * 2;
    out.text.reserve(bytes);
    for (const PageItem &it : page.items) {
        PackedItem p;
        p.x = it.x;
        p.y = it.y;
        p.width = narrow(it.width);
        p.height = narrow(it.height);
        p.font = it.font;
        p.align = quint8(it.align);
        p.color = it.color;
        p.text = quint32(out.text.size());
        p.length = quint32(it.text.size());
        p.flags = quint8((it.clip ? Clip : 0) | (it.figure ? Figure : 0));
        if (isLatin1(it.text)) {
            out.text += it.text.toLatin1();
        } else {
            p.flags |= Wide;
            out.text.append(reinterpret_cast<const char *>(it.text.constData()), it.text.size() * 2);
        }
        out.items.push_back(p);
    }
    out.lines.assign(page.lines.begin(), page.lines.end());
    out.rects = page.rects;
    m_pages.push_back(std::move(out));
}

Page PageList::operator[](size_t i) const
{
    const PackedPage &in = m_pages[i];
    Page page;
    page.number = in.number;
    page.items.reserve(qsizetype(in.items.size()));
    for (const PackedItem &p : in.items) {
        PageItem it;
        it.x = p.x;
        it.y = p.y;
        it.width = p.width;
        it.height = p.height;
        it.font = p.font;
        it.align = Align(p.align);
        it.clip = (p.flags & Clip) != 0;
        it.figure = (p.flags & Figure) != 0;
        it.color = p.color;
        const char *at = in.text.constData() + p.text;
        if (p.flags & Wide) {
            it.text.resize(qsizetype(p.length));
            std::memcpy(it.text.data(), at, size_t(p.length) * 2);
        } else {
            it.text = QString::fromLatin1(at, qsizetype(p.length));
        }
        page.items.append(std::move(it));
    }
    page.lines = QVector<PageLine>(in.lines.begin(), in.lines.end());
    page.rects = in.rects;
    return page;
}

} // namespace lectoria::report
