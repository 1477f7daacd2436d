#include "streamingpreview.h"
#include "reportengine.h"
#include "reportlayout.h"
#include "reportpreview.h"
#include "text.h"
#include "unglobal.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QToolButton>

namespace lectoria {

namespace {

// Thrown out of the fill when the operator closed the preview.
struct PreviewClosed {};

// Between pages, at most this long without painting or answering.
constexpr int PaintEveryMs = 40;

class PreviewSink : public report::PageSink {
public:
    explicit PreviewSink(report::ReportPreview &preview) : m_preview(preview) {}

    void page(const report::Page &page, const report::DocumentInfo &info) override
    {
        m_preview.appendPage(page, info);
        if (!m_shown) {
            m_shown = true;
            m_preview.show();
            breathe();
        } else if (m_since.elapsed() >= PaintEveryMs) {
            breathe();
        }
        if (!m_preview.isVisible())
            throw PreviewClosed();
    }

private:
    void breathe()
    {
        QCoreApplication::processEvents();
        m_since.start();
    }

    report::ReportPreview &m_preview;
    QElapsedTimer m_since;
    bool m_shown = false;
};

void enableOutput(report::ReportPreview &preview, bool on)
{
    for (const char *name : {"btPrint", "btPdf"})
        if (auto *b = preview.findChild<QToolButton *>(QLatin1String(name)))
            b->setEnabled(on);
}

} // namespace

void showPreviewAsFilled(report::Report &report, QWidget *parent, const QString &title)
{
    report::ReportPreview preview(report::ReportDocument(), parent);
    if (!title.isEmpty())
        preview.setWindowTitle(title);
    enableOutput(preview, false);
    PreviewSink sink(preview);
    try {
        report.run(sink);
    } catch (const PreviewClosed &) {
        return;
    }
    enableOutput(preview, true);
    if (preview.isVisible())
        preview.exec();
}

void previewLayout(ReportLayout &layout, QWidget *parent)
{
    const QString title = trimText(unGlobal().SchoolName + layout.fileTitle());
    if (layout.previewsWhileFilling())
        showPreviewAsFilled(layout.report(), parent, title);
    else
        report::showPreview(layout.report(), parent, title);
}

} // namespace lectoria
