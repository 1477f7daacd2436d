// The fill pass: reads the rows once, runs the band hooks, keeps the
// running values, breaks pages and hands each finished page to the sink.
#include "reportengine.h"
#include "bodyfit.h"
#include "clock.h"
#include "valueformat.h"

#include <algorithm>

namespace lectoria::report {

namespace {

// A band that will cross pages anyway starts on the current page when
// everything above its memos and this many memo lines fit there.
constexpr int StartLines = 3;

// One element of a band as laid out, in band coordinates (memo growth applied).
struct Placed {
    int y = 0, height = 0;
    Item *item = nullptr; // nullptr: a ruled line
    int line = -1;              // memo line index, or ruled line index
};

} // namespace

class Filler {
public:
    Filler(Report &r, PageSink &sink) : m_r(r), m_sink(sink) {}

    void run()
    {
        m_runTime = Clock::now();
        m_detailCount = 0;
        m_pageNo = 0;
        m_pageOpen = false;

        if (m_r.m_start)
            m_r.m_start(m_r);
        // Taken after the start hook, which may still set the page or the font.
        m_info.page = m_r.m_page;
        m_info.fonts = {m_r.m_font};
        m_fit = BodyFit(m_info.page.marginLeft, m_info.page.width - m_info.page.marginRight, m_r.m_designWidth,
                        &m_info.fonts);
        prepareItems();
        RowSource *src = m_r.m_source;
        m_index.clear();
        m_cur.m_index = m_prev.m_index = &m_index;
        if (src) {
            src->restart();
            const QStringList cols = src->columns();
            // Names as the source gives them and in lower case, so that a
            // lookup in the layout's spelling rarely needs lowering.
            for (int i = 0; i < cols.size(); ++i) {
                if (!m_index.contains(cols[i]))
                    m_index.insert(cols[i], i);
                if (!m_index.contains(cols[i].toLower()))
                    m_index.insert(cols[i].toLower(), i);
            }
            resolveColumns();
        }
        m_cur.m_index = m_prev.m_index = &m_index;
        m_cur.m_values = m_prev.m_values = nullptr;

        m_wholeTexts = m_sink.keepsWholeTexts();
        m_sink.begin(m_info);

        const int groups = int(m_r.m_groups.size());
        QVector<QString> keys(groups), nextKeys(groups);
        bool any = false;
        while (src && src->next(m_rowA)) {
            m_cur.m_values = &m_rowA;
            for (int g = 0; g < groups; ++g)
                nextKeys[g] = groupKey(*m_r.m_groups[size_t(g)]);
            int changed = 0;
            if (any) {
                changed = groups;
                for (int g = 0; g < groups; ++g)
                    if (nextKeys[g] != keys[g]) {
                        changed = g;
                        break;
                    }
                printFooters(changed);
            }
            std::swap(keys, nextKeys);
            any = true;
            for (int g = changed; g < groups; ++g) {
                m_inGroup = g; // the groups outside this one are running
                printBand(*m_r.m_groups[size_t(g)]->m_header, m_cur);
            }
            m_inGroup = groups;
            ++m_detailCount;
            accumulate();
            printBand(*m_r.m_detail, m_cur);
            std::swap(m_rowA, m_rowB);
            m_prev.m_values = &m_rowB;
            m_cur.m_values = nullptr;
        }
        if (any)
            printFooters(0);
        m_inGroup = 0;
        printBand(*m_r.m_summary, m_prev);
        printBand(*m_r.m_appendix, m_prev);
        ensurePage(m_prev);
        closePage();
        m_sink.end(m_info);
    }

private:
    // Footers of the groups from the innermost out to `outer`, on the group's last row.
    void printFooters(int outer)
    {
        for (int g = int(m_r.m_groups.size()) - 1; g >= outer; --g) {
            m_inGroup = g + 1;
            printBand(*m_r.m_groups[size_t(g)]->m_footer, m_prev);
        }
    }

    // ---- set-up

    void prepareItems()
    {
        m_aggregates.clear();
        m_r.forEachBand([&](Band &b) {
            for (const auto &i : b.m_items) {
                if (i->m_kind == ItemKind::Aggregate) {
                    i->m_value = 0;
                    m_aggregates.push_back(i.get());
                }
                if (i->m_hasFont)
                    i->m_fontIndex = Item::UnresolvedFont;
            }
        });
    }

    QString groupKey(const Group &g) const
    {
        if (!g.m_columns.isEmpty()) {
            if (g.m_columnIndex.size() == 1)
                return m_cur.value(g.m_columnIndex[0]).toString();
            QString key;
            for (int i : g.m_columnIndex)
                key += m_cur.value(i).toString();
            return key;
        }
        return g.m_key ? g.m_key(m_cur) : QString();
    }

    void resolveColumns()
    {
        for (const auto &g : m_r.m_groups) {
            g->m_columnIndex.clear();
            for (const QString &c : g->m_columns)
                g->m_columnIndex.append(m_cur.indexOf(c));
        }
        m_r.forEachBand([&](Band &b) {
            for (const auto &i : b.m_items)
                i->m_columnIndex = i->m_column.isEmpty() ? -1 : m_index.value(i->m_column.toLower(), -1);
        });
    }

    quint16 fontIndex(Item &i)
    {
        if (!i.m_hasFont)
            return 0;
        if (i.m_fontIndex == Item::UnresolvedFont)
            i.m_fontIndex = m_fit.fontSlot(i.m_font);
        return i.m_fontIndex;
    }

    // ---- values

    void accumulate()
    {
        for (Item *a : m_aggregates) {
            if (a->m_aggregate == AggregateKind::Count)
                ++a->m_value;
            else if (a->m_columnIndex >= 0)
                a->m_value += m_rowA.at(a->m_columnIndex).toLongLong();
        }
    }

    void evaluate(Band &b, const RowView &row)
    {
        for (const auto &p : b.m_items) {
            Item &i = *p;
            switch (i.m_kind) {
            case ItemKind::Field: {
                const QVariant v = row.value(i.m_columnIndex);
                i.m_text = i.m_formatter ? i.m_formatter(v) : valueText(v, i.m_format);
                break;
            }
            case ItemKind::System:
                i.m_text = systemText(i);
                break;
            case ItemKind::Aggregate:
                i.m_text = QString::number(i.m_value);
                break;
            default:
                break;
            }
        }
    }

    QString systemText(const Item &i) const
    {
        switch (i.m_system) {
        case SystemValue::PageNumber:
            return QString::number(m_pageNo);
        case SystemValue::DetailCount:
            return QString::number(m_detailCount);
        case SystemValue::DateTime:
            return formatDateTime(m_runTime.date(), m_runTime.time(),
                                  i.m_format.isEmpty() ? QStringLiteral("yyyy-MM-dd hh:mm:ss") : i.m_format);
        case SystemValue::Date:
            return formatDateTime(m_runTime.date(), m_runTime.time(),
                                  i.m_format.isEmpty() ? QStringLiteral("yyyy-MM-dd") : i.m_format);
        case SystemValue::Time:
            return formatDateTime(m_runTime.date(), m_runTime.time(),
                                  i.m_format.isEmpty() ? QStringLiteral("hh:mm:ss") : i.m_format);
        }
        return QString();
    }

    BandContext context(Band &b, const RowView &row)
    {
        BandContext c;
        c.m_band = &b;
        c.m_report = &m_r;
        c.m_row = row;
        c.m_page = m_pageNo;
        return c;
    }

    // ---- pages

    int footerHeight() const
    {
        const Band &f = *m_r.m_pageFooter;
        return f.m_enabled ? f.m_height : 0;
    }

    void ensurePage(const RowView &row)
    {
        if (m_pageOpen)
            return;
        m_pageOpen = true;
        ++m_pageNo;
        m_page.number = m_pageNo;
        m_y = m_info.page.marginTop;
        m_limit = m_info.page.bodyBottom() - footerHeight();
        placeWhole(*m_r.m_pageHeader, row);
        placeWhole(*m_r.m_columnHeader, row);
        // Groups still running whose header repeats on every page.
        if (m_pageNo > 1)
            for (int g = 0; g < m_inGroup; ++g) {
                Group &grp = *m_r.m_groups[size_t(g)];
                if (grp.m_repeat)
                    placeWhole(*grp.m_header, row);
            }
        m_bodyStart = m_y;
    }

    void closePage()
    {
        Band &pf = *m_r.m_pageFooter;
        if (pf.m_enabled) {
            m_y = m_info.page.bodyBottom() - pf.m_height;
            const RowView &row = m_prev.isValid() ? m_prev : m_cur;
            placeWhole(pf, row);
        }
        m_sink.page(m_page, m_info);
        // Emptied, not freed: the next page reuses the memory unless the sink kept this one.
        m_page.items.clear();
        m_page.lines.clear();
        m_page.rects.clear();
        m_pageOpen = false;
    }

    // Page bands: evaluated, hooked and placed at m_y without a fit check.
    void placeWhole(Band &b, const RowView &row)
    {
        for (Band *band = &b; band; band = band->child()) {
            if (!band->m_enabled)
                return;
            evaluate(*band, row);
            BandContext c = context(*band, row);
            if (band->m_before)
                band->m_before(c);
            if (!c.m_print) {
                afterPrint(*band, c, false);
                return;
            }
            std::vector<Placed> placed;
            const int height = layout(*band, placed);
            place(*band, placed, 0, height, m_y, true, true);
            m_y += height;
            afterPrint(*band, c, true);
        }
    }

    void afterPrint(Band &b, BandContext &c, bool printed)
    {
        c.m_printed = printed;
        if (b.m_after)
            b.m_after(c);
        if (printed)
            for (const auto &i : b.m_items)
                if (i->m_kind == ItemKind::Aggregate && i->m_reset)
                    i->m_value = 0;
    }

    // Body bands: moved to a new page when they do not fit; a band taller
    // than a whole page is cut between its elements (memo lines).
    void printBand(Band &b, const RowView &row)
    {
        for (Band *band = &b; band; band = band->child()) {
            if (!band->m_enabled)
                return;
            ensurePage(row);
            evaluate(*band, row);
            BandContext c;
            if (band->m_before || band->m_after)
                c = context(*band, row);
            if (band->m_before)
                band->m_before(c);
            if (!c.m_print) {
                afterPrint(*band, c, false);
                return;
            }
            std::vector<Placed> &placed = m_placed;
            placed.clear();
            const int height = layout(*band, placed);
            if (m_y + height > m_limit && m_y > m_bodyStart && !startsHere(placed, height)) {
                closePage();
                ensurePage(row);
                // The page number may appear in the band.
                if (hasPageNumber(*band))
                    evaluatePageNumbers(*band);
            }
            if (m_y + height <= m_limit || placed.empty()) {
                place(*band, placed, 0, height, m_y, true, true);
                m_y += height;
            } else {
                split(*band, placed, height, row);
            }
            afterPrint(*band, c, true);
        }
    }

    // Whether a band that does not fit the rest of the page starts here all
    // the same: it is taller than a whole page, so it will be cut anyway, and
    // its first part (everything but the memo lines after the first few)
    // fits here.
    bool startsHere(const std::vector<Placed> &placed, int height) const
    {
        if (height <= m_limit - m_bodyStart)
            return false;
        int head = 0;
        for (const Placed &e : placed)
            if (e.item && (e.line < 0 || e.line < StartLines))
                head = qMax(head, e.y + e.height);
        return m_y + head <= m_limit;
    }

    static bool hasPageNumber(const Band &b)
    {
        for (const auto &i : b.m_items)
            if (i->m_kind == ItemKind::System && i->m_system == SystemValue::PageNumber)
                return true;
        return false;
    }

    void evaluatePageNumbers(Band &b)
    {
        for (const auto &i : b.m_items)
            if (i->m_kind == ItemKind::System && i->m_system == SystemValue::PageNumber)
                i->m_text = QString::number(m_pageNo);
    }

    // Lays the band's elements out in band coordinates; returns the band's
    // height after the memos have grown.
    int layout(Band &b, std::vector<Placed> &placed)
    {
        // Band::addMemo and addChart keep a band within MaxGrowingItems.
        struct Growth { int bottom, extra; };
        Growth growth[Band::MaxGrowingItems];
        int nGrowth = 0;
        for (const auto &p : b.m_items) {
            const Item &i = *p;
            if ((i.m_kind != ItemKind::Memo && i.m_kind != ItemKind::Chart) || !i.m_visible)
                continue;
            const int lh = i.lineHeight(m_r.m_font);
            const int need = lineCount(i) * lh;
            if (need > i.m_box.height)
                growth[nGrowth++] = {i.m_box.y + i.m_box.height, need - i.m_box.height};
        }
        auto shift = [&](int y) {
            int s = 0;
            for (int k = 0; k < nGrowth; ++k)
                if (y >= growth[k].bottom)
                    s += growth[k].extra;
            return s;
        };
        int total = 0;
        for (int k = 0; k < nGrowth; ++k)
            total += growth[k].extra;

        placed.reserve(b.m_items.size() + b.m_lines.size());
        for (const auto &p : b.m_items) {
            Item &i = *p;
            if (!i.m_visible)
                continue;
            const int y = i.m_box.y + shift(i.m_box.y);
            if (i.m_kind == ItemKind::Memo || i.m_kind == ItemKind::Chart) {
                const int lh = i.lineHeight(m_r.m_font);
                const int n = lineCount(i);
                for (int l = 0; l < n; ++l)
                    placed.push_back(Placed{y + l * lh, lh, &i, l});
            } else {
                placed.push_back(Placed{y, i.m_box.height, &i, -1});
            }
        }
        for (int l = 0; l < int(b.m_lines.size()); ++l) {
            const auto &ln = b.m_lines[size_t(l)];
            const int top = qMin(ln.y1, ln.y2);
            placed.push_back(Placed{top + shift(top), qAbs(ln.y2 - ln.y1), nullptr, l});
        }
        return b.m_height + total;
    }

    // Puts the elements whose band position lies in [from, to) on the page,
    // with band position `from` at page position `top`.
    void place(Band &b, const std::vector<Placed> &placed, int from, int to, int top, bool first, bool last)
    {
        const int left = m_fit.left();
        const int width = m_fit.width();
        const int offset = top - from;
        const qsizetype firstItem = m_page.items.size();
        qsizetype endOfTexts = firstItem; // the last of the band's own texts, and before it
        for (const Placed &e : placed) {
            // The last part takes everything left, also what lies below the band's edge.
            if (e.y < from || (!last && e.y >= to))
                continue;
            if (e.item && e.item->m_kind == ItemKind::Chart) {
                placeChartRow(*e.item, e.line, offset + e.y, e.height);
            } else if (e.item) {
                Item &i = *e.item;
                PageItem out;
                out.x = left + m_fit.scaled(i.m_box.x);
                out.y = offset + e.y;
                out.width = left + m_fit.scaled(i.m_box.x + i.m_box.width) - out.x;
                out.height = e.line >= 0 ? e.height : i.m_box.height;
                out.font = e.line >= 0 ? m_fit.memoFont(fontIndex(i)) : fontIndex(i);
                out.align = i.m_align;
                out.clip = i.m_clip;
                out.color = i.m_color;
                out.text = e.line >= 0 ? i.m_lines.at(e.line) : i.m_text;
                m_page.items.append(std::move(out));
                endOfTexts = m_page.items.size();
            } else {
                const auto &ln = b.m_lines[size_t(e.line)];
                PageLine out;
                out.x1 = qBound(m_fit.left(), left + m_fit.scaled(ln.x1), m_fit.right());
                out.x2 = qBound(m_fit.left(), left + m_fit.scaled(ln.x2), m_fit.right());
                out.y1 = offset + ln.y1 + (e.y - qMin(ln.y1, ln.y2));
                out.y2 = offset + ln.y2 + (e.y - qMin(ln.y1, ln.y2));
                out.penWidth = qint16(ln.pen);
                m_page.lines.append(out);
            }
        }
        // The band's texts together: a value takes the room its line leaves
        // empty before it is cut (not in the data files, which keep it whole).
        if (!m_wholeTexts)
            m_fit.spreadIntoFreeWidth(m_page.items, firstItem);
        for (qsizetype k = firstItem; k < endOfTexts; ++k)
            if (!m_page.items[k].figure)
                m_fit.keepInside(m_page.items[k], !m_wholeTexts);
        if (b.m_lineAbove && first)
            m_page.lines.append(PageLine{left, top, left + width, top, 2, 0xff000000});
        if (b.m_lineBelow && last) {
            const int bottom = top + (to - from);
            m_page.lines.append(PageLine{left, bottom, left + width, bottom, 2, 0xff000000});
        }
    }

    static int lineCount(const Item &i)
    {
        return i.m_kind == ItemKind::Chart ? i.m_chart.rows() : int(i.m_lines.size());
    }

    // One row of a chart at page position y, its texts kept inside the body.
    void placeChartRow(Item &i, int row, int y, int height)
    {
        const int left = m_fit.left() + m_fit.scaled(i.m_box.x);
        const int width = m_fit.left() + m_fit.scaled(i.m_box.x + i.m_box.width) - left;
        PageItem text;
        text.y = y;
        text.height = height;
        text.font = fontIndex(i);
        text.color = i.m_color;
        const qsizetype first = m_page.items.size();
        layChartRow(i.m_chart, row, left, width, text, m_page.items, m_page.rects);
        for (qsizetype k = first; k < m_page.items.size(); ++k)
            m_fit.keepInside(m_page.items[k]);
    }

    // A band that cannot fit on the rest of this page nor on a whole page:
    // cut it between elements, page after page.
    void split(Band &b, std::vector<Placed> &placed, int height, const RowView &row)
    {
        std::stable_sort(placed.begin(), placed.end(), [](const Placed &a, const Placed &c) { return a.y < c.y; });
        int from = 0;
        bool first = true;
        size_t next = 0; // first element not yet placed
        while (true) {
            const int room = m_limit - m_y;
            // Take every element that ends within the room; stop at the first that does not.
            size_t k = next;
            int cut = from + room;
            while (k < placed.size() && placed[k].y + placed[k].height <= from + room)
                ++k;
            if (k >= placed.size()) {
                // The rest fits.
                const int rest = qMin(height - from, room);
                place(b, placed, from, height, m_y, first, true);
                m_y += qMax(0, rest);
                return;
            }
            cut = placed[k].y;
            if (k == next && m_y > m_bodyStart) {
                // Not even the next element fits here: new page first.
                closePage();
                ensurePage(row);
                continue;
            }
            if (k == next) {
                // An element taller than a whole page: put it on its own page.
                cut = placed[k].y + placed[k].height;
                ++k;
                while (k < placed.size() && placed[k].y < cut)
                    ++k;
                if (k >= placed.size()) {
                    place(b, placed, from, height, m_y, first, true);
                    m_y = m_limit;
                    return;
                }
                cut = placed[k].y;
            }
            place(b, placed, from, cut, m_y, first, false);
            first = false;
            from = cut;
            next = k;
            closePage();
            ensurePage(row);
        }
    }

    Report &m_r;
    PageSink &m_sink;
    bool m_wholeTexts = false; // the sink keeps every text whole
    DocumentInfo m_info;
    QDateTime m_runTime;
    QHash<QString, int> m_index;
    QVector<QVariant> m_rowA, m_rowB;
    RowView m_cur, m_prev;
    std::vector<Item *> m_aggregates;
    std::vector<Placed> m_placed; // body bands; page bands use their own
    qint64 m_detailCount = 0;
    int m_inGroup = 0;

    Page m_page;
    bool m_pageOpen = false;
    int m_pageNo = 0;
    int m_y = 0;
    int m_limit = 0;
    int m_bodyStart = 0;
    BodyFit m_fit; // the body of this run's page set-up
};

void Report::run(PageSink &sink)
{
    Filler(*this, sink).run();
}

ReportDocument Report::fill()
{
    DocumentCollector c;
    run(c);
    return std::move(c.doc);
}

} // namespace lectoria::report
