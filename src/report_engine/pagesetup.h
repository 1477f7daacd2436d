#pragma once
#include <QPageLayout>
#include <QPageSize>
#include <QString>

namespace lectoria::report {

// What the machine's default printer says about its paper.
struct PrinterPaper {
    bool installed = false; // false: no printer on this machine
    QString printerName;
    // The printer's current paper; QPageSize::Custom when it reports no
    // standard size.
    QPageSize::PageSizeId size = QPageSize::Custom;
    int paperWidth = 0;  // tenths of a millimetre, the paper's short side as fed
    int paperLength = 0; // tenths of a millimetre
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
};

// The default printer, read through this seam so that tests can give any
// paper without a printer.
class Printers {
public:
    virtual ~Printers() = default;
    virtual PrinterPaper defaultPaper() const = 0;
};

// The installed source; the system's printers unless a test installed another.
const Printers &printers();
// Installs p (not owned); nullptr returns to the system's printers.
void installPrinters(const Printers *p);

// The system's default printer through Qt's print support.
class SystemPrinters : public Printers {
public:
    PrinterPaper defaultPaper() const override;
};

// The page a report is laid out on. All lengths in tenths of a millimetre;
// width and height are those of the page as it lies (landscape: the long side
// across).
struct PageSetup {
    QPageSize::PageSizeId paper = QPageSize::Letter; // Custom for a size of its own
    int width = 2159;
    int height = 2794;
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
    int marginLeft = 100;
    int marginTop = 100;
    int marginRight = 100;
    int marginBottom = 100;
    bool fromPrinter = false; // false: the designed page (no printer installed)
    QString printerName;

    int bodyLeft() const { return marginLeft; }
    int bodyTop() const { return marginTop; }
    int bodyWidth() const { return width - marginLeft - marginRight; }
    int bodyBottom() const { return height - marginBottom; }
    QPageSize pageSize() const; // the paper as Qt names it, in portrait sense
    QPageLayout pageLayout() const; // paper, orientation, zero margins (the engine places everything)
};

// The page every layout is designed for: Letter, portrait, 10 mm margins.
PageSetup designedPage();

// The report page set-up: the printer's paper and orientation (a paper of
// no standard size gives a portrait page of the paper's dimensions), a 30 mm
// left margin on A3 landscape, and the installation's custom margins (in
// whole millimetres) when they are in force. Without a printer the designed
// page is used, custom margins applied as usual.
PageSetup pageSetupFor(const PrinterPaper &printer, int customMargins, int top, int bottom, int left, int right);

// The same from the installed printers and the session's margins.
PageSetup standardPageSetup();

} // namespace lectoria::report
