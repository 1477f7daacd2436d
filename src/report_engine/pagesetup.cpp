#include "pagesetup.h"
#include "unglobal.h"

#include <QPrinter>
#include <QPrinterInfo>

namespace lectoria::report {
namespace {
const Printers *g_printers = nullptr;
} // namespace

const Printers &printers()
{
    static SystemPrinters system;
    return g_printers ? *g_printers : system;
}

void installPrinters(const Printers *p) { g_printers = p; }

PrinterPaper SystemPrinters::defaultPaper() const
{
    PrinterPaper paper;
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull())
        return paper;
    paper.installed = true;
    paper.printerName = info.printerName();
    QPrinter printer(info, QPrinter::HighResolution);
    const QPageLayout layout = printer.pageLayout();
    const QPageSize size = layout.pageSize();
    paper.size = size.id();
    const QSizeF dims = size.size(QPageSize::Millimeter);
    paper.paperWidth = qRound(dims.width() * 10);
    paper.paperLength = qRound(dims.height() * 10);
    paper.orientation = layout.orientation();
    return paper;
}

QPageSize PageSetup::pageSize() const
{
    if (paper != QPageSize::Custom)
        return QPageSize(paper);
    const bool landscape = orientation == QPageLayout::Landscape;
    const QSizeF portrait(landscape ? height : width, landscape ? width : height);
    return QPageSize(portrait / 10.0, QPageSize::Millimeter, QString(), QPageSize::ExactMatch);
}

QPageLayout PageSetup::pageLayout() const
{
    return QPageLayout(pageSize(), orientation, QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
}

PageSetup designedPage() { return PageSetup(); }

PageSetup pageSetupFor(const PrinterPaper &printer, int customMargins, int top, int bottom, int left, int right)
{
    PageSetup page = designedPage();
    if (printer.installed) {
        page.fromPrinter = true;
        page.printerName = printer.printerName;
        page.paper = printer.size;
        if (printer.size == QPageSize::Custom) {
            // A paper of its own: the page takes the paper's dimensions, upright.
            page.width = printer.paperWidth;
            page.height = printer.paperLength;
            page.orientation = QPageLayout::Portrait;
        } else {
            const QSizeF dims = QPageSize(printer.size).size(QPageSize::Millimeter);
            const int shortSide = qRound(qMin(dims.width(), dims.height()) * 10);
            const int longSide = qRound(qMax(dims.width(), dims.height()) * 10);
            page.orientation = printer.orientation;
            const bool landscape = page.orientation == QPageLayout::Landscape;
            page.width = landscape ? longSide : shortSide;
            page.height = landscape ? shortSide : longSide;
            if (printer.size == QPageSize::A3 && landscape)
                page.marginLeft = 300;
        }
    }
    if (customMargins != 0) {
        page.marginTop = top * 10;
        page.marginBottom = bottom * 10;
        page.marginLeft = left * 10;
        page.marginRight = right * 10;
    }
    return page;
}

PageSetup standardPageSetup()
{
    const Session &s = unGlobal();
    return pageSetupFor(printers().defaultPaper(), s.CustomMargins, s.MarginTop, s.MarginBottom, s.MarginLeft,
                        s.MarginRight);
}

} // namespace lectoria::report
