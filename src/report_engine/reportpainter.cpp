#include "reportpainter.h"
#include "atomicfile.h"
#include "errors.h"
#include "textmeasure.h"

#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QSaveFile>
#include <QDir>

namespace lectoria::report {
namespace {

// The painter works in hundredths of a millimetre so that font sizes keep
// their precision as pixel sizes.
constexpr qreal Fine = 10.0;

QVector<QFont> fontsOf(const DocumentInfo &info)
{
    QVector<QFont> fonts;
    fonts.reserve(info.fonts.size());
    for (const FontSpec &f : info.fonts)
        fonts.append(qtFont(f));
    return fonts;
}

} // namespace

void installFontSubstitutes()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    const QStringList ming = {QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL UMing TW"),
                              QStringLiteral("AR PL SungtiL GB"), QStringLiteral("Noto Serif CJK SC"),
                              QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Droid Sans Fallback")};
    const QStringList hei = {QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC"),
                             QStringLiteral("Droid Sans Fallback"), QStringLiteral("AR PL UMing CN")};
    const QStringList kai = {QStringLiteral("AR PL UKai CN"), QStringLiteral("AR PL KaitiM GB"),
                             QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("AR PL UMing CN"),
                             QStringLiteral("Droid Sans Fallback")};
    QFont::insertSubstitutions(QStringLiteral("宋体"), ming);
    QFont::insertSubstitutions(QStringLiteral("仿宋"), ming);
    QFont::insertSubstitutions(QStringLiteral("仿宋_GB2312"), ming);
    QFont::insertSubstitutions(QStringLiteral("黑体"), hei);
    QFont::insertSubstitutions(QStringLiteral("隶书"), kai);
    QFont::insertSubstitutions(QStringLiteral("楷体"), kai);
    QFont::insertSubstitutions(QStringLiteral("楷体_GB2312"), kai);
}

QFont qtFont(const FontSpec &font)
{
    installFontSubstitutes();
    QFont f(font.family);
    // Pixel size in the painter's units (hundredths of a millimetre).
    f.setPixelSize(qMax(1, qRound(font.pointSize * 25.4 / 72.0 * 10.0 * Fine)));
    f.setBold(font.bold);
    f.setItalic(font.italic);
    f.setUnderline(font.underline);
    return f;
}

void paintPage(QPainter &painter, const Page &page, const DocumentInfo &info, qreal scale)
{
    painter.save();
    painter.scale(scale / Fine, scale / Fine);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);

    for (const PageLine &l : page.lines) {
        QPen pen(QColor::fromRgba(l.color));
        pen.setWidthF(l.penWidth * Fine);
        pen.setCapStyle(Qt::FlatCap);
        painter.setPen(pen);
        painter.drawLine(QPointF(l.x1 * Fine, l.y1 * Fine), QPointF(l.x2 * Fine, l.y2 * Fine));
    }

    for (const PageRect &r : page.rects)
        painter.fillRect(QRectF(r.x * Fine, r.y * Fine, r.width * Fine, r.height * Fine), QColor::fromRgba(r.color));

    const QVector<QFont> fonts = fontsOf(info);
    QVector<QFontMetricsF> metrics;
    metrics.reserve(fonts.size());
    for (const QFont &f : fonts)
        metrics.append(QFontMetricsF(f, painter.device()));
    int current = -1;
    for (const PageItem &it : page.items) {
        if (it.text.isEmpty() || it.font >= fonts.size())
            continue;
        if (it.font != current) {
            painter.setFont(fonts[it.font]);
            current = it.font;
        }
        painter.setPen(QColor::fromRgba(it.color));
        // The engine placed the text by its measure (textmeasure.h). An
        // installed font that sets it wider is condensed to that width, so
        // that the page shows every character the page model holds, and
        // nothing past the box or the margins.
        const qreal measured = textWidth(it.text, info.fonts[it.font].pointSize) * Fine;
        const qreal actual = metrics[it.font].horizontalAdvance(it.text);
        const qreal squeeze = actual > measured && measured > 0 ? measured / actual : 1.0;
        const qreal drawn = actual * squeeze;
        qreal left = it.x * Fine;
        if (it.align == Align::Right)
            left = (it.x + it.width) * Fine - drawn;
        else if (it.align == Align::Center)
            left = (it.x + it.width / 2.0) * Fine - drawn / 2;
        const QRectF box(0, it.y * Fine, actual, it.height * Fine);
        painter.save();
        painter.translate(left, 0);
        if (squeeze < 1.0)
            painter.scale(squeeze, 1.0);
        painter.drawText(box, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine | Qt::TextDontClip, it.text);
        painter.restore();
    }
    painter.restore();
}

namespace {

// Paints the pages on a device already set to the document's paper.
void paintPages(QPaintDevice &device, const ReportDocument &doc, int from, int to,
                const std::function<bool()> &newPage)
{
    QPainter painter;
    if (!painter.begin(&device))
        throw FileError(QStringLiteral("无法开始打印"));
    const qreal scale = device.logicalDpiX() / 254.0;
    for (int i = from; i <= to; ++i) {
        if (i > from && !newPage())
            throw FileError(QStringLiteral("无法开始新的一页"));
        paintPage(painter, doc.pages[size_t(i)], doc.info, scale);
    }
    painter.end();
}

} // namespace

void printDocument(const ReportDocument &doc, QPrinter &printer)
{
    if (doc.pages.empty())
        return;
    printer.setFullPage(true);
    printer.setPageLayout(doc.info.page.pageLayout());
    int from = 0;
    int to = int(doc.pages.size()) - 1;
    if (printer.printRange() == QPrinter::PageRange && printer.fromPage() > 0) {
        from = qBound(0, printer.fromPage() - 1, to);
        if (printer.toPage() > 0)
            to = qBound(from, printer.toPage() - 1, to);
    }
    paintPages(printer, doc, from, to, [&] { return printer.newPage(); });
}

void writePdf(const ReportDocument &doc, const QString &path)
{
    checkOutputTarget(path);
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        throw FileError(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    {
        QPdfWriter pdf(&file);
        pdf.setResolution(600);
        pdf.setPageLayout(doc.info.page.pageLayout());
        pdf.setCreator(QStringLiteral("Lectoria"));
        if (doc.pages.empty()) {
            QPainter p(&pdf); // one blank page rather than an invalid file
        } else {
            paintPages(pdf, doc, 0, int(doc.pages.size()) - 1, [&] { return pdf.newPage(); });
        }
    }
    if (!file.commit())
        throw FileError(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
}

} // namespace lectoria::report
