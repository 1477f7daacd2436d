#pragma once
#include "pagesetup.h"

#include <QRgb>
#include <QString>
#include <QVector>

#include <vector>

namespace lectoria::report {

// Every length of the engine is in tenths of a millimetre.
constexpr int mm(double millimetres) { return int(millimetres * 10.0 + (millimetres < 0 ? -0.5 : 0.5)); }

enum class Align : quint8 { Left, Right, Center };

// A font as the layouts name it; the painter maps the Chinese family names to
// installed fonts (see reportpainter.h).
struct FontSpec {
    QString family = QStringLiteral("宋体");
    qreal pointSize = 9;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool operator==(const FontSpec &o) const
    {
        return family == o.family && pointSize == o.pointSize && bold == o.bold && italic == o.italic
            && underline == o.underline;
    }
    bool operator!=(const FontSpec &o) const { return !(*this == o); }
};

// One printed text: always a single line (a growing memo gives one item per
// line). Position and size from the paper's top-left corner.
struct PageItem {
    qint32 x = 0, y = 0, width = 0, height = 0;
    quint16 font = 0; // index into DocumentInfo::fonts; 0 is the report font
    Align align = Align::Left;
    bool clip = false; // the text never runs outside its box (a fixed-width label)
    bool figure = false; // part of a chart: drawn, written as SVG in HTML, left out of text and CSV
    QRgb color = 0xff000000;
    QString text;

    // The horizontal anchor the grid writers use: left edge, right edge or centre.
    qint32 anchor() const
    {
        return align == Align::Left ? x : align == Align::Right ? x + width : x + width / 2;
    }
};

// A ruled line (band frames, lines of a layout).
struct PageLine {
    qint32 x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    qint16 penWidth = 2; // tenths of a millimetre
    QRgb color = 0xff000000;
};

// A filled box: a bar of a chart (always part of a figure).
struct PageRect {
    qint32 x = 0, y = 0, width = 0, height = 0;
    QRgb color = 0xff000000;
};

struct Page {
    int number = 1; // 1-based
    QVector<PageItem> items; // in the order they were printed (top to bottom per band)
    QVector<PageLine> lines;
    QVector<PageRect> rects;
};

// What a renderer needs besides the pages. The font table only grows during
// a run, so a page never refers to a font that is not yet in it.
struct DocumentInfo {
    PageSetup page;
    QVector<FontSpec> fonts; // fonts[0] is the report font
};

// The pages of a filled report, held compactly: a report of a million
// records keeps tens of thousands of pages for its preview. Each page is
// stored as packed items and one run of text bytes (Latin-1 where the
// text allows, UTF-16 otherwise), and is unpacked into a Page when it is
// read, so reading gives a Page by value.
class PageList {
public:
    size_t size() const { return m_pages.size(); }
    bool empty() const { return m_pages.empty(); }
    void clear() { m_pages.clear(); }
    void push_back(const Page &page);
    Page operator[](size_t i) const;
    Page at(size_t i) const { return (*this)[i]; }
    Page front() const { return (*this)[0]; }
    Page back() const { return (*this)[size() - 1]; }

    class const_iterator {
    public:
        const_iterator(const PageList *list, size_t i) : m_list(list), m_i(i) {}
        Page operator*() const { return (*m_list)[m_i]; }
        const_iterator &operator++()
        {
            ++m_i;
            return *this;
        }
        bool operator==(const const_iterator &o) const { return m_i == o.m_i; }
        bool operator!=(const const_iterator &o) const { return m_i != o.m_i; }

    private:
        const PageList *m_list;
        size_t m_i;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }

private:
    struct PackedItem {
        qint32 x, y;
        qint16 width, height;
        quint16 font;
        quint8 align;
        quint8 flags; // Clip, Wide, Figure
        QRgb color;
        quint32 text;   // offset into the page's text bytes
        quint32 length; // characters
    };
    struct PackedPage {
        int number = 1;
        std::vector<PackedItem> items;
        std::vector<PageLine> lines;
        QVector<PageRect> rects; // rare: a chart's bars
        QByteArray text;
    };
    std::vector<PackedPage> m_pages;
};

// A whole filled report, kept for the preview and printing.
struct ReportDocument {
    DocumentInfo info;
    PageList pages;
};

// Receives the pages of a fill pass one after another; the file writers are
// sinks, so a long report is written without keeping its pages.
class PageSink {
public:
    virtual ~PageSink() = default;
    virtual void begin(const DocumentInfo &) {}
    virtual void page(const Page &page, const DocumentInfo &info) = 0;
    virtual void end(const DocumentInfo &) {}
    // A sink that writes values as data (CSV, HTML) wants every text whole:
    // what fits the ink is a matter of the printed page, not of the data.
    virtual bool keepsWholeTexts() const { return false; }
};

// Collects every page (what Report::fill() returns).
class DocumentCollector : public PageSink {
public:
    void begin(const DocumentInfo &info) override { doc.info = info; doc.pages.clear(); }
    void page(const Page &page, const DocumentInfo &) override { doc.pages.push_back(page); }
    void end(const DocumentInfo &info) override { doc.info = info; }
    ReportDocument doc;
};

} // namespace lectoria::report
