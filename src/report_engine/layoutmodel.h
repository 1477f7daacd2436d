#pragma once
// The layout model of the banded report engine (reportengine.h tells how a
// layout is made): rows, items, bands, groups and the report that holds
// them. Report::run, the fill pass, is in reportengine.cpp.

#include "barchart.h"
#include "pagemodel.h"
#include "pagesetup.h"

#include <QHash>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <functional>
#include <memory>
#include <vector>

namespace lectoria::report {

class Band;
class Report;

// A rectangle relative to its band, in tenths of a millimetre.
struct Box {
    int x = 0, y = 0, width = 0, height = 0;
};

// The values of one row, by column name (case-insensitive) or index.
class RowView {
public:
    bool isValid() const { return m_values != nullptr; }
    QVariant value(int index) const;
    QVariant value(const QString &column) const; // invalid when there is no such column or row
    QString text(const QString &column) const;   // the value as text, trimmed of blanks and controls
    int indexOf(const QString &column) const;    // -1 when absent

private:
    friend class Report;
    friend class Filler;
    const QVector<QVariant> *m_values = nullptr;
    const QHash<QString, int> *m_index = nullptr;
};

// Where the rows come from. The engine calls restart() and columns() at the
// start of every run (after the start-of-run hook), then next() until it
// returns false.
class RowSource {
public:
    virtual ~RowSource() = default;
    virtual void restart() {}
    virtual QStringList columns() const = 0;
    // Fills row with the next row's values, one per column; false after the last.
    virtual bool next(QVector<QVariant> &row) = 0;
};

enum class BandKind : quint8 { PageHeader, ColumnHeader, GroupHeader, GroupFooter, Detail, Summary, Appendix, PageFooter, Child };
enum class ItemKind : quint8 { Label, Field, System, Aggregate, Memo, Chart };

enum class SystemValue : quint8 {
    PageNumber,  // "1", "2", ...
    DateTime,    // the run's date and time (Clock), "yyyy-MM-dd hh:mm:ss" unless setFormat
    Date,        // "yyyy-MM-dd" unless setFormat
    Time,        // "hh:mm:ss" unless setFormat
    DetailCount, // detail rows read so far in the whole report
};
enum class AggregateKind : quint8 { Sum, Count };

// One item of a band. Plain data owned by its band; hooks keep pointers to it.
// Computed items (field, system value, aggregate) get their text just before
// the band's before-print hook runs, so a hook sees it and may replace it.
// What a hook sets stays until changed again (a label's text, visibility).
class Item {
public:
    ItemKind kind() const { return m_kind; }
    const QString &name() const { return m_name; }

    const Box &box() const { return m_box; }
    void setBox(const Box &b) { m_box = b; }
    Align alignment() const { return m_align; }
    void setAlignment(Align a) { m_align = a; }
    // The report's font unless set here.
    void setFont(const FontSpec &f);
    const FontSpec *ownFont() const { return m_hasFont ? &m_font : nullptr; }
    void setColor(QRgb c) { m_color = c; }
    QRgb color() const { return m_color; }
    // A fixed-width item: what does not fit its box is not printed. The text
    // is cut at whole characters (textmeasure.h): a left-aligned item keeps
    // its start, a right-aligned one its end, a centred one its middle. The
    // page holds the cut text, so every renderer shows the same characters.
    void setClip(bool on) { m_clip = on; }
    bool clips() const { return m_clip; }
    void setVisible(bool on) { m_visible = on; }
    bool isVisible() const { return m_visible; }

    const QString &text() const { return m_text; }
    void setText(const QString &t) { m_text = t; }

    // Field: the column; Aggregate: the summed column (empty for Count).
    const QString &column() const { return m_column; }
    // Field / system value: a date-time pattern ("yyyy-MM-dd") used when the
    // value is a date or date-time (SQLite's date text included).
    void setFormat(const QString &pattern) { m_format = pattern; }
    // Field: turns the value into text (overrides the format and the trimming).
    void setFormatter(std::function<QString(const QVariant &)> f) { m_formatter = std::move(f); }

    // Aggregate
    AggregateKind aggregateKind() const { return m_aggregate; }
    qint64 aggregateValue() const { return m_value; }

    // Memo: the lines (one printed line each). Its box holds the first line
    // and the least height; with more lines the item and its band grow
    // downwards, items below it move down with it.
    void setLines(const QStringList &lines) { m_lines = lines; }
    const QStringList &lines() const { return m_lines; }
    // Chart: the chart drawn in the item's box, one row per line height;
    // like a memo, the item and its band grow with its rows. Its texts and
    // bars are marked as a figure on the page.
    void setChart(const BarChart &chart) { m_chart = chart; }
    const BarChart &chart() const { return m_chart; }

    // Height of one memo line or chart row; by default from the font's size
    // (1.25 x the point size).
    void setLineHeight(int tenths) { m_lineHeight = tenths; }
    int lineHeight(const FontSpec &reportFont) const;

private:
    friend class Band;
    friend class Report;
    friend class Filler;
    Item(ItemKind kind, const Box &box, Align align, const QString &name)
        : m_kind(kind), m_align(align), m_name(name), m_box(box) {}

    ItemKind m_kind;
    Align m_align;
    SystemValue m_system = SystemValue::PageNumber;
    AggregateKind m_aggregate = AggregateKind::Sum;
    bool m_hasFont = false;
    bool m_clip = false;
    bool m_visible = true;
    bool m_reset = false;
    QRgb m_color = 0xff000000;
    QString m_name;
    Box m_box;
    FontSpec m_font;
    QString m_text;
    QString m_column;
    QString m_format;
    std::function<QString(const QVariant &)> m_formatter;
    qint64 m_value = 0;
    QStringList m_lines;
    BarChart m_chart;
    int m_lineHeight = 0;
    int m_columnIndex = -1; // resolved at the start of a run
    static constexpr quint16 UnresolvedFont = 0xffff;
    quint16 m_fontIndex = 0; // in the run's font table
};

// What a band hook sees.
class BandContext {
public:
    Band &band() const { return *m_band; }
    Report &report() const { return *m_report; }
    // The row the band belongs to: the current row for headers and the
    // detail, the group's last row for a group footer, the last row for the
    // summary; invalid when there is none (page bands before the first row).
    const RowView &row() const { return m_row; }
    QVariant value(const QString &column) const { return m_row.value(column); }
    int pageNumber() const { return m_page; }
    // Before print: false keeps the band (and its child) off the page.
    void setPrint(bool on) { m_print = on; }
    bool print() const { return m_print; }
    // After print: whether the band was printed.
    bool printed() const { return m_printed; }

private:
    friend class Filler;
    Band *m_band = nullptr;
    Report *m_report = nullptr;
    RowView m_row;
    int m_page = 0;
    bool m_print = true;
    bool m_printed = false;
};

using BandHook = std::function<void(BandContext &)>;

class Band {
public:
    BandKind kind() const { return m_kind; }
    void setHeight(int tenths) { m_height = tenths; }
    int height() const { return m_height; }
    // A band switched off is never printed and its hooks are not called.
    void setEnabled(bool on) { m_enabled = on; }
    bool isEnabled() const { return m_enabled; }
    // Ruled lines across the band at its top and bottom edge.
    void setFrame(bool above, bool below) { m_lineAbove = above; m_lineBelow = below; }

    Item *addLabel(const QString &text, const Box &box, Align align = Align::Left, const QString &name = {});
    Item *addField(const QString &column, const Box &box, Align align = Align::Left, const QString &name = {});
    Item *addSystem(SystemValue value, const Box &box, Align align = Align::Left, const QString &name = {});
    // Sum of a column's integer values, or count of rows, over the detail rows
    // read since the item was last reset; resetAfterPrint resets it each time
    // its band has printed (a group footer's subtotal), otherwise it runs over
    // the whole report.
    Item *addAggregate(AggregateKind kind, const QString &column, bool resetAfterPrint, const Box &box,
                       Align align = Align::Right, const QString &name = {});
    // Memos and charts grow their band; the fill pass handles up to
    // MaxGrowingItems of them in one band, and adding one more throws
    // std::length_error here, while the layout is made.
    static constexpr int MaxGrowingItems = 8;
    Item *addMemo(const Box &box, const QString &name = {});
    Item *addChart(const Box &box, const QString &name = {});
    // A ruled line in band coordinates.
    void addLine(int x1, int y1, int x2, int y2, int penWidth = 2);

    // A band printed right after this one whenever this one prints (and fits
    // on the same page when it can).
    Band &addChild(int height);
    Band *child() const { return m_child.get(); }

    void setBeforePrint(BandHook hook) { m_before = std::move(hook); }
    void setAfterPrint(BandHook hook) { m_after = std::move(hook); }

    const std::vector<std::unique_ptr<Item>> &items() const { return m_items; }
    Item *item(const QString &name) const;

private:
    friend class Report;
    friend class Group;
    friend class Filler;
    explicit Band(BandKind kind) : m_kind(kind) {}
    Item *add(Item *item);
    Item *addGrowing(Item *item);

    BandKind m_kind;
    int m_height = 0;
    bool m_enabled = true;
    bool m_lineAbove = false;
    bool m_lineBelow = false;
    std::vector<std::unique_ptr<Item>> m_items;
    struct Line { int x1, y1, x2, y2, pen; };
    std::vector<Line> m_lines;
    std::unique_ptr<Band> m_child;
    BandHook m_before;
    BandHook m_after;
};

// A level of grouping: the header prints before the first row of each group,
// the footer after its last row. The key is the group's expression: rows whose
// key differs from the previous row's start a new group.
class Group {
public:
    Band &header() { return *m_header; }
    Band &footer() { return *m_footer; }
    // The key: the columns' values as text, one after another ("lt_notice+ls_notice").
    void setColumns(const QStringList &columns);
    void setKey(std::function<QString(const RowView &)> key)
    {
        m_key = std::move(key);
        m_columns.clear();
    }
    // Whether the header is printed again at the top of a page that continues the group (default no).
    void setRepeatHeaderOnNewPage(bool on) { m_repeat = on; }

private:
    friend class Report;
    friend class Filler;
    Group();
    std::unique_ptr<Band> m_header;
    std::unique_ptr<Band> m_footer;
    std::function<QString(const RowView &)> m_key;
    QStringList m_columns;      // the key's columns, when it is made of columns
    QVector<int> m_columnIndex; // resolved at the start of a run
    bool m_repeat = false;
};

class Report {
public:
    Report();
    ~Report();
    Report(const Report &) = delete;
    Report &operator=(const Report &) = delete;

    // The designed page (Letter, portrait, 10 mm margins) until set.
    void setPageSetup(const PageSetup &page) { m_page = page; }
    const PageSetup &pageSetup() const { return m_page; }
    void setFont(const FontSpec &font) { m_font = font; }
    const FontSpec &font() const { return m_font; }
    // The body width the bands are designed on (the designed page's unless
    // set). On a narrower body every horizontal position and width is
    // scaled down with it, so that nothing reaches into the margins.
    void setDesignWidth(int tenths) { m_designWidth = tenths; }
    int designWidth() const { return m_designWidth; }

    // Not owned. Without a source the report has no rows.
    void setRowSource(RowSource *source) { m_source = source; }
    RowSource *rowSource() const { return m_source; }
    // Called at the start of every run, before the first row is read.
    void setStartHook(std::function<void(Report &)> hook) { m_start = std::move(hook); }

    Band &pageHeader() { return *m_pageHeader; }
    Band &columnHeader() { return *m_columnHeader; }
    Band &detail() { return *m_detail; }
    Band &summary() { return *m_summary; }
    // Printed once after the summary (also when the summary is switched
    // off), below it or on the next page: a chart of the report's figures.
    Band &appendix() { return *m_appendix; }
    Band &pageFooter() { return *m_pageFooter; }

    // Groups nest in the order they are added (the first is the outermost).
    Group &addGroup(const QStringList &columns);
    Group &addGroup(std::function<QString(const RowView &)> key);
    int groupCount() const { return int(m_groups.size()); }
    Group &group(int i) { return *m_groups[size_t(i)]; }

    // The first item with that name in any band, or nullptr.
    Item *item(const QString &name) const;

    // One fill pass: the pages go to the sink one after another. Errors of
    // the row source (DbError) and of the sink (FileError) pass through.
    void run(PageSink &sink);
    // One fill pass keeping every page.
    ReportDocument fill();

private:
    friend class Filler;
    template <typename F> void forEachBand(F f) const;

    PageSetup m_page;
    FontSpec m_font;
    int m_designWidth;
    RowSource *m_source = nullptr;
    std::function<void(Report &)> m_start;
    std::unique_ptr<Band> m_pageHeader, m_columnHeader, m_detail, m_summary, m_appendix, m_pageFooter;
    std::vector<std::unique_ptr<Group>> m_groups;
};

template <typename F>
inline void Report::forEachBand(F f) const
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

} // namespace lectoria::report
