#include "layoutmodel.h"
#include "text.h"

#include <algorithm>
#include <stdexcept>

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

Item *Band::addGrowing(Item *item)
{
    std::unique_ptr<Item> owned(item);
    const auto growing = std::count_if(m_items.begin(), m_items.end(), [](const std::unique_ptr<Item> &i) {
        return i->m_kind == ItemKind::Memo || i->m_kind == ItemKind::Chart;
    });
    if (growing >= MaxGrowingItems)
        throw std::length_error("a report band holds at most 8 memos and charts");
    return add(owned.release());
}

Item *Band::addMemo(const Box &box, const QString &name)
{
    return addGrowing(new Item(ItemKind::Memo, box, Align::Left, name));
}

Item *Band::addChart(const Box &box, const QString &name)
{
    return addGrowing(new Item(ItemKind::Chart, box, Align::Left, name));
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

} // namespace lectoria::report
