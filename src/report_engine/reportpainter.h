#pragma once
#include "pagemodel.h"

#include <QFont>

class QPainter;
class QPrinter;

namespace lectoria::report {

// Maps the Chinese font names of the layouts (宋体, 黑体, 隶书, 楷体, 仿宋)
// to fonts installed on this machine. Called by the painter; safe to repeat.
void installFontSubstitutes();
QFont qtFont(const FontSpec &font);

// Draws one page. The painter's coordinates are scaled so that one tenth of a
// millimetre is `scale` device units; (0,0) is the paper's top-left corner.
void paintPage(QPainter &painter, const Page &page, const DocumentInfo &info, qreal scale);

// Prints the pages (the printer's page range, when it has one) on a printer
// set to the document's paper. Throws FileError when the printer cannot start.
void printDocument(const ReportDocument &doc, QPrinter &printer);

// Writes the document as a PDF file, through a temporary file: a failure
// leaves no partial file and throws FileError with the system's text.
void writePdf(const ReportDocument &doc, const QString &path);

} // namespace lectoria::report
