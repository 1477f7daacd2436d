#pragma once
#include "pagemodel.h"
#include "reportoutput.h"

#include <QStringList>

#include <memory>
#include <optional>

namespace lectoria {
class GbkFileWriter;
}

namespace lectoria::report {

class Report;

// One character column of the text grid, in tenths of a millimetre (about one
// half-width character of a 9 pt report font). Column 0 is the left margin.
constexpr int TextColumnWidth = 16;

// The grid of one page, as the files hold it (without line ends). Lines
// without any text are left out.
//
// Text: each distinct vertical position of the page is a line; an item is
// written at the column of its horizontal position (a left-aligned item
// begins there, a right-aligned one ends there, a centred one is centred on
// it); a Chinese character takes two columns. An item that would overwrite
// text already on the line is moved right, one blank after it. Texts are
// written as the page holds them: a fixed-width item was cut by the engine,
// so the file shows the characters the printed page shows.
QStringList textLines(const Page &page, const DocumentInfo &info);
// CSV: each distinct vertical position is a line, each distinct anchor (left
// edge, right edge or centre by alignment) a column, left to right; every
// cell between double quotes (empty cells as ""), separated by ",".
QStringList csvLines(const Page &page);
// HTML: the same grid as a table: "<TABLE WIDTH=100% CELLPADDING=2 BORDER=0>",
// one "<TR>" line per grid line with a "<TD>" per column, "</TABLE>". A value
// in another colour or size than the report font is wrapped in a FONT element.
// A chart on the page (the items and bars marked as a figure) follows the
// table as inline SVG (svgLines); the text and CSV grids leave it out.
QStringList htmlLines(const Page &page, const DocumentInfo &info);
// The page's figure as one inline SVG picture, in tenths of a millimetre
// from the figure's top-left corner; empty when the page has none.
QStringList svgLines(const Page &page, const DocumentInfo &info);

// What a finished report file holds around the grid of its pages. A text or
// CSV file begins with the title line and the header line. An HTML file is a
// whole GBK document with the title as its title and its heading, and the
// header line's comma-separated names as the first row (of th cells) of the
// first table; a report without rows gets a table of that row alone.
struct FileFrame {
    QString title;
    QString header;
};

// A sink that writes the pages into a file in GBK with CR LF line ends,
// through a temporary file; commit() replaces the target. Without commit()
// (an error on the way) the target is left as it was. Throws FileError with
// the system's text. The format is one of the written files (text, CSV,
// HTML); anything else throws Error. With a frame, the file is written
// finished in the same pass.
class FileSink : public PageSink {
public:
    FileSink(ReportOutput format, const QString &path, std::optional<FileFrame> frame = std::nullopt);
    ~FileSink() override;
    void page(const Page &page, const DocumentInfo &info) override;
    bool keepsWholeTexts() const override;
    void commit();

private:
    QString headerRow() const;
    ReportOutput m_format;
    std::optional<FileFrame> m_frame;
    bool m_headerRowWritten = false;
    std::unique_ptr<GbkFileWriter> m_writer;
};

// Runs the report (one fill pass) straight into the file: pages are written
// as they are made, so the memory does not grow with the pages.
void writeReportFile(Report &report, ReportOutput format, const QString &path,
                     std::optional<FileFrame> frame = std::nullopt);
// Writes an already filled document.
void writeDocumentFile(const ReportDocument &doc, ReportOutput format, const QString &path,
                       std::optional<FileFrame> frame = std::nullopt);

} // namespace lectoria::report
