#include "reportwriters.h"
#include "atomicfile.h"
#include "errors.h"
#include "gbk.h"
#include "reportengine.h"
#include "textmeasure.h"

#include <algorithm>
#include <climits>

namespace lectoria::report {
namespace {

// A value as one cell of a line: line breaks and other control characters
// would break the file's line structure, so they become blanks.
QString cellText(const QString &s)
{
    for (QChar c : s)
        if (c.unicode() < 32) {
            QString out = s;
            for (QChar &d : out)
                if (d.unicode() < 32)
                    d = QLatin1Char(' ');
            return out;
        }
    return s;
}

bool isBlank(const QString &s)
{
    for (QChar c : s)
        if (c.unicode() > 32)
            return false;
    return true;
}

int toColumn(int tenths) { return (tenths + TextColumnWidth / 2) / TextColumnWidth; }

// The grid of a page: lines by distinct vertical position, columns by
// distinct anchor. Lines are ranges of `order` (item indexes sorted by y).
struct Grid {
    QVector<int> anchors;  // sorted, distinct
    QVector<int> order;    // item indexes, top to bottom, in print order within a line
    QVector<int> lineEnds; // end of each line in `order`
    int lineBegin(int l) const { return l == 0 ? 0 : lineEnds[l - 1]; }
};

// A chart's texts are no part of the grid: the text and CSV files leave a
// chart out, the HTML file draws it as a picture (svgLines).
void makeGrid(const Page &page, Grid &g)
{
    g.order.clear();
    g.anchors.clear();
    for (int i = 0; i < int(page.items.size()); ++i)
        if (!page.items[i].figure) {
            g.order.append(i);
            g.anchors.append(page.items[i].anchor());
        }
    const int n = int(g.order.size());
    std::stable_sort(g.order.begin(), g.order.end(),
                     [&](int a, int b) { return page.items[a].y < page.items[b].y; });
    std::sort(g.anchors.begin(), g.anchors.end());
    g.anchors.erase(std::unique(g.anchors.begin(), g.anchors.end()), g.anchors.end());
    g.lineEnds.clear();
    for (int k = 1; k <= n; ++k)
        if (k == n || page.items[g.order[k]].y != page.items[g.order[k - 1]].y)
            g.lineEnds.append(k);
}

// The cells of one grid line; false when every cell is empty.
bool gridCells(const Page &page, const Grid &g, int line, QVector<QString> &cells, QVector<int> *owner = nullptr)
{
    cells.fill(QString(), g.anchors.size());
    if (owner)
        owner->fill(-1, g.anchors.size());
    bool any = false;
    for (int k = g.lineBegin(line); k < g.lineEnds[line]; ++k) {
        const int i = g.order[k];
        const PageItem &it = page.items[i];
        const int col = int(std::lower_bound(g.anchors.begin(), g.anchors.end(), it.anchor()) - g.anchors.begin());
        const QString text = cellText(it.text);
        if (!isBlank(text))
            any = true;
        QString &cell = cells[col];
        if (cell.isEmpty()) {
            cell = text;
            if (owner)
                (*owner)[col] = i;
        } else if (!text.isEmpty()) {
            cell += QLatin1Char(' ') + text;
        }
    }
    return any;
}

// HTML's relative font size for a point size (3 is the browser's normal size).
int htmlSize(qreal pt)
{
    static const qreal steps[] = {8.5, 11, 13, 16, 21, 30};
    int size = 1;
    for (qreal s : steps)
        if (pt >= s)
            ++size;
    return size;
}

} // namespace

QStringList textLines(const Page &page, const DocumentInfo &info)
{
    QStringList out;
    Grid g;
    makeGrid(page, g);
    const int left = info.page.marginLeft;
    struct Piece {
        int start;
        QString text;
        int cols;
    };
    QVector<Piece> pieces;
    for (int l = 0; l < g.lineEnds.size(); ++l) {
        pieces.clear();
        for (int k = g.lineBegin(l); k < g.lineEnds[l]; ++k) {
            const PageItem &it = page.items[g.order[k]];
            QString text = cellText(it.text);
            if (isBlank(text))
                continue;
            const int cols = textColumns(text);
            int start = 0;
            switch (it.align) {
            case Align::Left:
                start = toColumn(it.x - left);
                break;
            case Align::Right:
                start = toColumn(it.x + it.width - left) - cols;
                break;
            case Align::Center:
                start = toColumn(it.x + it.width / 2 - left) - cols / 2;
                break;
            }
            pieces.append(Piece{qMax(0, start), text, cols});
        }
        if (pieces.isEmpty())
            continue;
        std::stable_sort(pieces.begin(), pieces.end(), [](const Piece &a, const Piece &b) { return a.start < b.start; });
        QString line;
        int width = 0;
        for (const Piece &p : pieces) {
            int start = p.start;
            if (start < width)
                start = width + 1; // never write over text already on the line
            line += QString(start - width, QLatin1Char(' '));
            line += p.text;
            width = start + p.cols;
        }
        out.append(line);
    }
    return out;
}

QStringList csvLines(const Page &page)
{
    QStringList out;
    Grid g;
    makeGrid(page, g);
    QVector<QString> cells;
    for (int l = 0; l < g.lineEnds.size(); ++l) {
        if (!gridCells(page, g, l, cells))
            continue;
        QString line;
        line.reserve(64);
        for (int c = 0; c < cells.size(); ++c) {
            if (c)
                line += QLatin1Char(',');
            line += QLatin1Char('"');
            // A quote inside a value is doubled, so the value stays one field.
            if (cells[c].contains(QLatin1Char('"')))
                line += QString(cells[c]).replace(QLatin1Char('"'), QLatin1String("\"\""));
            else
                line += cells[c];
            line += QLatin1Char('"');
        }
        out.append(line);
    }
    return out;
}

QStringList htmlLines(const Page &page, const DocumentInfo &info)
{
    QStringList out;
    Grid g;
    makeGrid(page, g);
    QVector<QString> cells;
    QVector<int> owner;
    const FontSpec base = info.fonts.isEmpty() ? FontSpec() : info.fonts.first();
    for (int l = 0; l < g.lineEnds.size(); ++l) {
        if (!gridCells(page, g, l, cells, &owner))
            continue;
        QString line = QStringLiteral("<TR>");
        for (int c = 0; c < cells.size(); ++c) {
            QString value = cells[c].toHtmlEscaped();
            if (owner[c] >= 0 && !value.isEmpty()) {
                const PageItem &it = page.items[owner[c]];
                const qreal pt = it.font < info.fonts.size() ? info.fonts[it.font].pointSize : base.pointSize;
                const int rel = htmlSize(pt) - htmlSize(base.pointSize);
                const bool colored = (it.color & 0xffffff) != 0;
                if (colored || rel != 0) {
                    QString attrs;
                    if (colored)
                        attrs += QStringLiteral(" COLOR=#%1").arg(it.color & 0xffffff, 6, 16, QLatin1Char('0'));
                    if (rel != 0)
                        attrs += QStringLiteral(" SIZE=%1%2").arg(rel > 0 ? QStringLiteral("+") : QString()).arg(rel);
                    value = QStringLiteral("<FONT%1>%2</FONT>").arg(attrs, value);
                }
            }
            line += QStringLiteral("<TD>") + value + QStringLiteral("</TD>");
        }
        line += QStringLiteral("</TR>");
        out.append(line);
    }
    if (!out.isEmpty()) {
        out.prepend(QStringLiteral("<TABLE WIDTH=100% CELLPADDING=2 BORDER=0>"));
        out.append(QStringLiteral("</TABLE>"));
    }
    out += svgLines(page, info);
    return out;
}

QStringList svgLines(const Page &page, const DocumentInfo &info)
{
    int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
    auto cover = [&](int x, int y, int w, int h) {
        left = qMin(left, x);
        top = qMin(top, y);
        right = qMax(right, x + w);
        bottom = qMax(bottom, y + h);
    };
    for (const PageItem &it : page.items)
        if (it.figure)
            cover(it.x, it.y, it.width, it.height);
    for (const PageRect &r : page.rects)
        cover(r.x, r.y, r.width, r.height);
    if (left > right)
        return {};
    // Lengths in tenths of a millimetre, the picture as wide as on paper.
    const int w = right - left, h = bottom - top;
    QStringList out;
    out << QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1mm\" height=\"%2mm\" "
                          "viewBox=\"0 0 %3 %4\">")
               .arg(w / 10.0)
               .arg(h / 10.0)
               .arg(w)
               .arg(h);
    auto color = [](QRgb c) { return QStringLiteral("#%1").arg(c & 0xffffff, 6, 16, QLatin1Char('0')); };
    for (const PageRect &r : page.rects)
        out << QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"%5\"/>")
                   .arg(r.x - left)
                   .arg(r.y - top)
                   .arg(r.width)
                   .arg(r.height)
                   .arg(color(r.color));
    for (const PageItem &it : page.items) {
        if (!it.figure || isBlank(it.text))
            continue;
        const FontSpec font = it.font < info.fonts.size() ? info.fonts[it.font] : FontSpec();
        const int x = it.align == Align::Left ? it.x : it.align == Align::Right ? it.x + it.width : it.x + it.width / 2;
        const char *anchor = it.align == Align::Left ? "start" : it.align == Align::Right ? "end" : "middle";
        out << QStringLiteral("<text x=\"%1\" y=\"%2\" font-family=\"%3\" font-size=\"%4\"%5 fill=\"%6\" "
                              "text-anchor=\"%7\" dominant-baseline=\"central\">%8</text>")
                   .arg(x - left)
                   .arg(it.y + it.height / 2 - top)
                   .arg(font.family.toHtmlEscaped())
                   .arg(qRound(font.pointSize * 254.0 / 72.0))
                   .arg(font.bold ? QStringLiteral(" font-weight=\"bold\"") : QString())
                   .arg(color(it.color))
                   .arg(QLatin1String(anchor))
                   .arg(cellText(it.text).toHtmlEscaped());
    }
    out << QStringLiteral("</svg>");
    return out;
}

FileSink::FileSink(ReportOutput format, const QString &path, std::optional<FileFrame> frame)
    : m_format(format), m_frame(std::move(frame))
{
    if (!isWrittenFile(format))
        throw Error(QStringLiteral("报表不能以此格式写入文件。"));
    m_writer.reset(new GbkFileWriter(path));
    if (!m_frame)
        return;
    if (m_format != ReportOutput::Html) {
        m_writer->writeLine(m_frame->title);
        m_writer->writeLine(m_frame->header);
        return;
    }
    const QString title = m_frame->title.toHtmlEscaped();
    m_writer->write(QStringLiteral("<!DOCTYPE html>\r\n<html>\r\n<head>\r\n"
                                   "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">\r\n<title>")
                    + title + QStringLiteral("</title>\r\n</head>\r\n<body>\r\n<h1>") + title
                    + QStringLiteral("</h1>\r\n"));
}

QString FileSink::headerRow() const
{
    QString row = QStringLiteral("<tr>");
    for (const QString &cell : m_frame->header.split(QLatin1Char(',')))
        row += QStringLiteral("<th>") + cell.toHtmlEscaped() + QStringLiteral("</th>");
    return row + QStringLiteral("</tr>");
}

FileSink::~FileSink() = default;

bool FileSink::keepsWholeTexts() const { return m_format == ReportOutput::Csv || m_format == ReportOutput::Html; }

void FileSink::page(const Page &page, const DocumentInfo &info)
{
    QStringList lines;
    switch (m_format) {
    case ReportOutput::Text:
        lines = textLines(page, info);
        break;
    case ReportOutput::Csv:
        lines = csvLines(page);
        break;
    case ReportOutput::Html:
        lines = htmlLines(page, info);
        // The header row opens the file's first table, a blank line after it.
        if (m_frame && !m_headerRowWritten && !lines.isEmpty()) {
            lines.insert(1, headerRow());
            lines.insert(2, QString());
            m_headerRowWritten = true;
        }
        break;
    case ReportOutput::Preview:
    case ReportOutput::Pdf:
        break; // refused by the constructor
    }
    // One conversion per page rather than per line.
    QString text;
    qsizetype size = 0;
    for (const QString &l : lines)
        size += l.size() + 2;
    text.reserve(size);
    for (const QString &l : lines) {
        text += l;
        text += QLatin1String("\r\n");
    }
    m_writer->write(text);
}

void FileSink::commit()
{
    if (m_frame && m_format == ReportOutput::Html) {
        if (!m_headerRowWritten) // no rows: a table of the header row alone
            m_writer->writeLine(QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\">\r\n")
                                + headerRow() + QStringLiteral("\r\n</table>"));
        m_writer->writeLine(QStringLiteral("</body>\r\n</html>"));
    }
    m_writer->commit();
}

void writeReportFile(Report &report, ReportOutput format, const QString &path, std::optional<FileFrame> frame)
{
    FileSink sink(format, path, std::move(frame));
    report.run(sink);
    sink.commit();
}

void writeDocumentFile(const ReportDocument &doc, ReportOutput format, const QString &path,
                       std::optional<FileFrame> frame)
{
    FileSink sink(format, path, std::move(frame));
    sink.begin(doc.info);
    for (const Page &p : doc.pages)
        sink.page(p, doc.info);
    sink.end(doc.info);
    sink.commit();
}

} // namespace lectoria::report
