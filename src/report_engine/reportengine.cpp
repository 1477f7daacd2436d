#include "reportengine.h"
#include "clock.h"
#include "text.h"
#include "textmeasure.h"

#include <algorithm>
#include <cmath>

namespace lectoria::report {

// ---------------------------------------------------------------- rows

QVariant RowView::value(int index) const
{
    if (!m_values || index < 0 || index >= m_values->size())
        return QVariant();
    return m_values->at(index);
}

int RowView::indexOf(const QString &column) const
{
    if (!m_index)
        return -1;
    const int exact = m_index->value(column, -1);
    return exact >= 0 ? exact : m_index->value(column.toLower(), -1);
}

QVariant RowView::value(const QString &column) const { return value(indexOf(column)); }

QString RowView::text(const QString &column) const { return trimText(value(column).toString()); }

// ---------------------------------------------------------------- items and bands

namespace {
constexpr quint16 UnresolvedFont = 0xffff;
// The smallest font a text is shrunk to so that it stays inside the body.
constexpr qreal MinPointSize = 5;
// A band that will cross pages anyway starts on the current page when
// everything above its memos and this many memo lines fit there.
constexpr int StartLines = 3;
}

void Item::setFont(const FontSpec &f)
{
    m_font = f;
    m_hasFont = true;
    m_fontIndex = UnresolvedFont;
}

int Item::lineHeight(const FontSpec &reportFont) const
{
    if (m_lineHeight > 0)
        return m_lineHeight;
    const qreal pt = m_hasFont ? m_font.pointSize : reportFont.pointSize;
    // One point is 254/720 tenths of a millimetre; lines are spaced 1.25 em.
    return qMax(1, qRound(pt * 254.0 / 72.0 * 1.25));
}

Item *Band::add(Item *item)
{
    m_items.emplace_back(item);
    return item;
}

Item *Band::addLabel(const QString &text, const Box &box, Align align, const QString &name)
{
    Item *i = add(new Item(ItemKind::Label, box, align, name));
    i->m_text = text;
    return i;
}

Item *Band::addField(const QString &column, const Box &box, Align align, const QString &name)
{
    Item *i = add(new Item(ItemKind::Field, box, align, name));
    i->m_column = column;
    return i;
}

Item *Band::addSystem(SystemValue value, const Box &box, Align align, const QString &name)
{
    Item *i = add(new Item(ItemKind::System, box, align, name));
    i->m_system = value;
    return i;
}

Item *Band::addAggregate(AggregateKind kind, const QString &column, bool resetAfterPrint, const Box &box,
                         Align align, const QString &name)
{
    Item *i = add(new Item(ItemKind::Aggregate, box, align, name));
    i->m_aggregate = kind;
    i->m_column = column;
    i->m_reset = resetAfterPrint;
    return i;
}

Item *Band::addMemo(const Box &box, const QString &name)
{
    return add(new Item(ItemKind::Memo, box, Align::Left, name));
}

Item *Band::addChart(const Box &box, const QString &name)
{
    return add(new Item(ItemKind::Chart, box, Align::Left, name));
}

void Band::addLine(int x1, int y1, int x2, int y2, int penWidth)
{
    m_lines.push_back(Line{x1, y1, x2, y2, penWidth});
}

Band &Band::addChild(int height)
{
    m_child.reset(new Band(BandKind::Child));
    m_child->m_height = height;
    return *m_child;
}

Item *Band::item(const QString &name) const
{
    for (const auto &i : m_items)
        if (i->m_name == name)
            return i.get();
    return m_child ? m_child->item(name) : nullptr;
}

Group::Group() : m_header(new Band(BandKind::GroupHeader)), m_footer(new Band(BandKind::GroupFooter)) {}

void Group::setColumns(const QStringList &columns)
{
    m_columns = columns;
    m_key = [columns](const RowView &row) {
        QString key;
        for (const QString &c : columns)
            key += row.value(c).toString();
        return key;
    };
}

Report::Report()
    : m_page(designedPage()), m_designWidth(designedPage().bodyWidth()), m_pageHeader(new Band(BandKind::PageHeader)),
      m_columnHeader(new Band(BandKind::ColumnHeader)), m_detail(new Band(BandKind::Detail)),
      m_summary(new Band(BandKind::Summary)), m_appendix(new Band(BandKind::Appendix)),
      m_pageFooter(new Band(BandKind::PageFooter))
{
}

Report::~Report() = default;

Group &Report::addGroup(const QStringList &columns)
{
    m_groups.emplace_back(new Group);
    m_groups.back()->setColumns(columns);
    return *m_groups.back();
}

Group &Report::addGroup(std::function<QString(const RowView &)> key)
{
    m_groups.emplace_back(new Group);
    m_groups.back()->setKey(std::move(key));
    return *m_groups.back();
}

template <typename F>
void Report::forEachBand(F f) const
{
    auto visit = [&](Band *b) {
        for (; b; b = b->child())
            f(*b);
    };
    visit(m_pageHeader.get());
    visit(m_columnHeader.get());
    for (const auto &g : m_groups) {
        visit(g->m_header.get());
        visit(g->m_footer.get());
    }
    visit(m_detail.get());
    visit(m_summary.get());
    visit(m_appendix.get());
    visit(m_pageFooter.get());
}

Item *Report::item(const QString &name) const
{
    Item *found = nullptr;
    forEachBand([&](Band &b) {
        if (found)
            return;
        for (const auto &i : b.m_items)
            if (i->m_name == name) {
                found = i.get();
                return;
            }
    });
    return found;
}

// ---------------------------------------------------------------- the fill pass

namespace {

int digits(const QString &s, int at, int n)
{
    int v = 0;
    for (int i = at; i < at + n; ++i) {
        const char16_t c = s[i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        v = v * 10 + (c - u'0');
    }
    return v;
}

// A date-time's wall-clock fields. Date-times are never converted to a time
// zone here: that costs a system call per value and changes nothing printed.
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
    case QMetaType::QString: {
        // SQLite gives "yyyy-MM-dd", "yyyy-MM-dd hh:mm[:ss[.zzz]]" or with a "T".
        const QString s = v.toString();
        int b = 0;
        while (b < s.size() && s[b].unicode() <= 32)
            ++b;
        if (s.size() - b < 10 || s[b + 4] != QLatin1Char('-') || s[b + 7] != QLatin1Char('-'))
            return false;
        date = QDate(digits(s, b, 4), digits(s, b + 5, 2), digits(s, b + 8, 2));
        if (!date.isValid())
            return false;
        time = QTime(0, 0);
        const int t = b + 11;
        if (s.size() >= t + 5 && s[t + 2] == QLatin1Char(':')) {
            const int sec = s.size() >= t + 8 && s[t + 5] == QLatin1Char(':') ? digits(s, t + 6, 2) : 0;
            const QTime parsed(digits(s, t, 2), digits(s, t + 3, 2), qMax(0, sec));
            if (parsed.isValid())
                time = parsed;
        }
        return true;
    }
    default:
        return false;
    }
}

void appendNumber(QString &out, int v, int width)
{
    char16_t buf[8];
    for (int i = width - 1; i >= 0; --i) {
        buf[i] = char16_t(u'0' + v % 10);
        v /= 10;
    }
    out.append(reinterpret_cast<const QChar *>(buf), width);
}

// The date-time in a pattern; the console's usual patterns are written
// directly, any other goes through Qt's formatting.
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

// One element of a band as laid out, in band coordinates (memo growth applied).
struct Placed {
    int y = 0, height = 0;
    const Item *item = nullptr; // nullptr: a ruled line
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
        m_bodyLeft = m_info.page.marginLeft;
        m_bodyRight = m_info.page.width - m_info.page.marginRight;
        m_design = qMax(1, m_r.m_designWidth);
        m_body = qMax(1, m_bodyRight - m_bodyLeft);
        m_narrow = m_body < m_design;
        m_narrowed.clear();
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
        closePage(true);
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
                    i->m_fontIndex = UnresolvedFont;
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
        if (i.m_fontIndex == UnresolvedFont)
            i.m_fontIndex = fontSlot(i.m_font);
        return i.m_fontIndex;
    }

    // The document's index of a font, the font added when it is new.
    quint16 fontSlot(const FontSpec &f)
    {
        int at = int(m_info.fonts.indexOf(f));
        if (at < 0) {
            m_info.fonts.append(f);
            at = int(m_info.fonts.size()) - 1;
        }
        return quint16(at);
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
                if (i.m_formatter)
                    i.m_text = i.m_formatter(v);
                else if (!i.m_format.isEmpty()) {
                    QDate d;
                    QTime t;
                    i.m_text = dateParts(v, d, t) ? formatDateTime(d, t, i.m_format) : plainText(v);
                } else
                    i.m_text = plainText(v);
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
        c.m_detailCount = m_detailCount;
        c.m_runTime = m_runTime;
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
        Band &ph = *m_r.m_pageHeader;
        if (m_pageNo > 1 || ph.m_onFirstPage)
            placeWhole(ph, row);
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

    void closePage(bool last)
    {
        Band &pf = *m_r.m_pageFooter;
        if (pf.m_enabled && (!last || pf.m_onLastPage)) {
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
                closePage(false);
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
        struct Growth { int bottom, extra; };
        Growth growth[8];
        int nGrowth = 0;
        for (const auto &p : b.m_items) {
            const Item &i = *p;
            if ((i.m_kind != ItemKind::Memo && i.m_kind != ItemKind::Chart) || !i.m_visible || nGrowth == 8)
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
            const Item &i = *p;
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
        const int left = m_bodyLeft;
        const int width = m_body;
        const int offset = top - from;
        for (const Placed &e : placed) {
            // The last part takes everything left, also what lies below the band's edge.
            if (e.y < from || (!last && e.y >= to))
                continue;
            if (e.item && e.item->m_kind == ItemKind::Chart) {
                placeChartRow(const_cast<Item &>(*e.item), e.line, offset + e.y, e.height);
            } else if (e.item) {
                Item &i = const_cast<Item &>(*e.item);
                PageItem out;
                out.x = left + scaled(i.m_box.x);
                out.y = offset + e.y;
                out.width = left + scaled(i.m_box.x + i.m_box.width) - out.x;
                out.height = e.line >= 0 ? e.height : i.m_box.height;
                out.font = e.line >= 0 && m_narrow ? narrowedFont(fontIndex(i)) : fontIndex(i);
                out.align = i.m_align;
                out.clip = i.m_clip;
                out.color = i.m_color;
                out.text = e.line >= 0 ? i.m_lines.at(e.line) : i.m_text;
                keepInside(out);
                m_page.items.append(std::move(out));
            } else {
                const auto &ln = b.m_lines[size_t(e.line)];
                PageLine out;
                out.x1 = qBound(m_bodyLeft, left + scaled(ln.x1), m_bodyRight);
                out.x2 = qBound(m_bodyLeft, left + scaled(ln.x2), m_bodyRight);
                out.y1 = offset + ln.y1 + (e.y - qMin(ln.y1, ln.y2));
                out.y2 = offset + ln.y2 + (e.y - qMin(ln.y1, ln.y2));
                out.penWidth = qint16(ln.pen);
                m_page.lines.append(out);
            }
        }
        if (b.m_lineAbove && first)
            m_page.lines.append(PageLine{left, top, left + width, top, 2, 0xff000000});
        if (b.m_lineBelow && last) {
            const int bottom = top + (to - from);
            m_page.lines.append(PageLine{left, bottom, left + width, bottom, 2, 0xff000000});
        }
    }

    static int lineCount(const Item &i)
    {
        return i.m_kind == ItemKind::Chart ? (i.m_chart.categories.isEmpty() ? 0 : i.m_chart.rows())
                                           : int(i.m_lines.size());
    }

    // One row of a chart at page position y: the title, a series' name, or
    // a category's name, bar and value.
    void placeChartRow(Item &i, int row, int y, int height)
    {
        const BarChart &c = i.m_chart;
        const int left = m_bodyLeft + scaled(i.m_box.x);
        const int width = m_bodyLeft + scaled(i.m_box.x + i.m_box.width) - left;
        PageItem text;
        text.y = y;
        text.height = height;
        text.font = fontIndex(i);
        text.figure = true;
        text.color = i.m_color;
        auto put = [&](int x, int w, Align a, const QString &t, bool clip) {
            PageItem out = text;
            out.x = x;
            out.width = w;
            out.align = a;
            out.clip = clip;
            out.text = t;
            keepInside(out);
            m_page.items.append(std::move(out));
        };
        if (row == 0) {
            put(left, width, Align::Center, c.title, true);
            return;
        }
        const int perSeries = 1 + int(c.categories.size());
        const int s = (row - 1) / perSeries;
        const int k = (row - 1) % perSeries - 1;
        const BarChart::Series &series = c.series[s];
        if (k < 0) {
            put(left, width, Align::Left, series.name, true);
            return;
        }
        // The name, the bar, the value: a quarter, the rest, a tenth.
        const int nameWidth = width / 4, valueWidth = qMax(width / 10, mm(12)), gap = mm(1.5);
        const qint64 value = k < series.values.size() ? series.values[k] : 0;
        put(left + mm(3), nameWidth - mm(3), Align::Left, c.categories[k], true);
        put(left + width - valueWidth, valueWidth, Align::Right, QString::number(value), true);
        qint64 top = 0;
        for (qint64 v : series.values)
            top = qMax(top, v);
        const int room = width - nameWidth - valueWidth - 2 * gap;
        if (value > 0 && top > 0 && room > 0) {
            PageRect bar;
            bar.x = left + nameWidth + gap;
            bar.width = qMax(1, int(room * double(value) / double(top) + 0.5));
            bar.height = qMax(1, height * 3 / 5);
            bar.y = y + (height - bar.height) / 2;
            bar.color = series.color;
            m_page.rects.append(bar);
        }
    }

    // The font of a memo's lines on a narrow body: smaller in the body's
    // proportion, so that every line of every memo keeps one size (a long
    // line alone would otherwise shrink just enough for itself).
    quint16 narrowedFont(quint16 base)
    {
        auto at = m_narrowed.constFind(base);
        if (at != m_narrowed.constEnd())
            return *at;
        FontSpec f = m_info.fonts[base];
        f.pointSize = qMax(MinPointSize, std::floor(f.pointSize * m_body / m_design * 2) / 2);
        const quint16 index = fontSlot(f);
        m_narrowed.insert(base, index);
        return index;
    }

    // A position or width of the designed band on this page's body.
    int scaled(int v) const
    {
        return m_narrow ? int((qint64(v) * m_body + (v < 0 ? -m_design : m_design) / 2) / m_design) : v;
    }

    // Keeps a placed item inside the body: its anchor moved in from an edge
    // it crosses, a fixed-width box narrowed to the body and its text cut to
    // the box, any other text that would reach past the body's edge set in a
    // smaller font.
    void keepInside(PageItem &out)
    {
        const int L = m_bodyLeft, R = m_bodyRight;
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
        if (out.text.isEmpty())
            return;
        const qreal pt = m_info.fonts[out.font].pointSize;
        if (out.clip) {
            out.text = fitText(out.text, out.width, pt, out.align);
            return;
        }
        int room = 0;
        switch (out.align) {
        case Align::Left:
            room = m_bodyRight - out.x;
            break;
        case Align::Right:
            room = out.x + out.width - m_bodyLeft;
            break;
        case Align::Center:
            room = 2 * qMin(out.anchor() - m_bodyLeft, m_bodyRight - out.anchor());
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
            out.text = fitText(out.text, room, smaller, out.align);
        }
        FontSpec f = m_info.fonts[out.font];
        f.pointSize = smaller;
        out.font = fontSlot(f);
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
                closePage(false);
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
            closePage(false);
            ensurePage(row);
        }
    }

    Report &m_r;
    PageSink &m_sink;
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
    int m_bodyLeft = 0, m_bodyRight = 0; // the body's edges on the paper
    int m_body = 1, m_design = 1;        // body width and design width
    bool m_narrow = false;               // the body is narrower than designed
    QHash<quint16, quint16> m_narrowed;  // memo fonts on a narrow body, by the designed font
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
