#pragma once
// The one printer fake of the report tests: the default printer's paper as
// page set-up reads it, without any printer on the machine.
#include "pagesetup.h"

#include <QPageLayout>
#include <QPageSize>

namespace lectoria::test {

// The paper of an installed default printer: a standard size in an
// orientation, or QPageSize::Custom with its own width and length (tenths of
// a millimetre).
inline report::PrinterPaper printerPaper(QPageSize::PageSizeId size, QPageLayout::Orientation orientation,
                                         int width = 0, int length = 0)
{
    report::PrinterPaper p;
    p.installed = true;
    p.printerName = QStringLiteral("fake");
    p.size = size;
    p.orientation = orientation;
    p.paperWidth = width;
    p.paperLength = length;
    return p;
}

// Paper of its own size, upright.
inline report::PrinterPaper customPaper(int width, int length)
{
    return printerPaper(QPageSize::Custom, QPageLayout::Portrait, width, length);
}

// A default printer with the given paper; a paper that is not installed
// (PrinterPaper()) stands for a machine without a printer.
class FakePrinter : public report::Printers {
public:
    explicit FakePrinter(report::PrinterPaper p = {}) : paper(std::move(p)) {}
    report::PrinterPaper defaultPaper() const override { return paper; }
    report::PrinterPaper paper;
};

// A machine without a printer: every report lies on the designed page.
class NoPrinter : public FakePrinter {};

// Installs a printer source for its lifetime.
class PrintersScope {
public:
    explicit PrintersScope(const report::Printers *p) { report::installPrinters(p); }
    ~PrintersScope() { report::installPrinters(nullptr); }
    PrintersScope(const PrintersScope &) = delete;
    PrintersScope &operator=(const PrintersScope &) = delete;
};

} // namespace lectoria::test
