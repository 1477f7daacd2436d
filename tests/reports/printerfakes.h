#pragma once
#include "pagesetup.h"

namespace lectoria::test {

// A machine without a printer: every report lies on the designed page.
class NoPrinter : public report::Printers {
public:
    report::PrinterPaper defaultPaper() const override { return {}; }
};

// A default printer with the given paper.
class FakePrinter : public report::Printers {
public:
    explicit FakePrinter(report::PrinterPaper p) : paper(std::move(p)) { paper.installed = true; }
    report::PrinterPaper defaultPaper() const override { return paper; }
    report::PrinterPaper paper;
};

// Installs a printer source for its lifetime.
class PrintersScope {
public:
    explicit PrintersScope(const report::Printers *p) { report::installPrinters(p); }
    ~PrintersScope() { report::installPrinters(nullptr); }
};

} // namespace lectoria::test
