#include "reportpreview.h"
#include "errors.h"
#include "prompt.h"
#include "reportengine.h"
#include "reportpainter.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QScrollArea>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace lectoria::report {

// Draws the current page at the preview's zoom.
class PageView : public QWidget {
public:
    explicit PageView(ReportPreview *preview) : QWidget(preview), m_preview(preview)
    {
        setObjectName(QStringLiteral("pageView"));
        setAutoFillBackground(false);
    }

    qreal scale() const { return m_preview->zoom() * logicalDpiX() / 254.0; }

    void updateSize()
    {
        const PageSetup &p = m_preview->document().info.page;
        setFixedSize(qCeil(p.width * scale()) + 1, qCeil(p.height * scale()) + 1);
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        painter.setPen(QColor(160, 160, 160));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
        const ReportDocument &doc = m_preview->document();
        const int i = m_preview->pageIndex();
        if (i >= 0 && i < int(doc.pages.size()))
            paintPage(painter, doc.pages[size_t(i)], doc.info, scale());
    }

private:
    ReportPreview *m_preview;
};

namespace {

QToolButton *button(QWidget *parent, QLayout *layout, const char *name, const QString &text, const QString &tip)
{
    auto *b = new QToolButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setText(text);
    b->setToolTip(tip);
    b->setAutoRaise(true);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    layout->addWidget(b);
    return b;
}

constexpr qreal MinZoom = 0.25;
constexpr qreal MaxZoom = 4.0;

} // namespace

ReportPreview::ReportPreview(ReportDocument doc, QWidget *parent) : QDialog(parent), m_doc(std::move(doc))
{
    setObjectName(QStringLiteral("ReportPreview"));
    setWindowTitle(QStringLiteral("打印预览"));
    setModal(true);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);

    auto *top = new QVBoxLayout(this);
    top->setContentsMargins(4, 4, 4, 4);
    auto *bar = new QHBoxLayout;
    top->addLayout(bar);

    m_first = button(this, bar, "btFirst", QStringLiteral("|<"), QStringLiteral("第一页"));
    m_prior = button(this, bar, "btPrior", QStringLiteral("<"), QStringLiteral("上一页"));
    m_pageBox = new QSpinBox(this);
    m_pageBox->setObjectName(QStringLiteral("spPage"));
    m_pageBox->setRange(1, qMax(1, pageCount()));
    bar->addWidget(m_pageBox);
    m_pageLabel = new QLabel(this);
    m_pageLabel->setObjectName(QStringLiteral("lbPages"));
    bar->addWidget(m_pageLabel);
    m_next = button(this, bar, "btNext", QStringLiteral(">"), QStringLiteral("下一页"));
    m_last = button(this, bar, "btLast", QStringLiteral(">|"), QStringLiteral("最后一页"));
    bar->addSpacing(12);
    auto *zoomOutBtn = button(this, bar, "btZoomOut", QStringLiteral("缩小"), QStringLiteral("缩小"));
    auto *zoomInBtn = button(this, bar, "btZoomIn", QStringLiteral("放大"), QStringLiteral("放大"));
    auto *fitBtn = button(this, bar, "btFitWidth", QStringLiteral("页宽"), QStringLiteral("按页宽显示"));
    bar->addSpacing(12);
    auto *printBtn = button(this, bar, "btPrint", QStringLiteral("打印..."), QStringLiteral("打印"));
    auto *pdfBtn = button(this, bar, "btPdf", QStringLiteral("保存为PDF..."), QStringLiteral("保存为PDF文件"));
    bar->addStretch(1);
    auto *closeBtn = button(this, bar, "btClose", QStringLiteral("关闭"), QStringLiteral("关闭预览"));

    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("scrollPages"));
    m_scroll->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_scroll->setBackgroundRole(QPalette::Dark);
    m_view = new PageView(this);
    m_scroll->setWidget(m_view);
    top->addWidget(m_scroll, 1);

    connect(m_first, &QToolButton::clicked, this, &ReportPreview::firstPage);
    connect(m_prior, &QToolButton::clicked, this, &ReportPreview::priorPage);
    connect(m_next, &QToolButton::clicked, this, &ReportPreview::nextPage);
    connect(m_last, &QToolButton::clicked, this, &ReportPreview::lastPage);
    connect(m_pageBox, qOverload<int>(&QSpinBox::valueChanged), this, [this](int v) { setPageIndex(v - 1); });
    connect(zoomInBtn, &QToolButton::clicked, this, &ReportPreview::zoomIn);
    connect(zoomOutBtn, &QToolButton::clicked, this, &ReportPreview::zoomOut);
    connect(fitBtn, &QToolButton::clicked, this, &ReportPreview::fitWidth);
    connect(printBtn, &QToolButton::clicked, this, &ReportPreview::print);
    connect(pdfBtn, &QToolButton::clicked, this, &ReportPreview::savePdf);
    connect(closeBtn, &QToolButton::clicked, this, &QDialog::accept);

    resize(900, 700);
    m_view->updateSize();
    updateState();
}

ReportPreview::~ReportPreview() = default;

void ReportPreview::appendPage(const Page &page, const DocumentInfo &info)
{
    m_doc.info = info;
    m_doc.pages.push_back(page);
    m_pageBox->setRange(1, pageCount());
    if (pageCount() == 1)
        m_view->updateSize(); // the paper is known from the first page on
    updateState();
}

void ReportPreview::updateState()
{
    const int n = pageCount();
    m_first->setEnabled(m_index > 0);
    m_prior->setEnabled(m_index > 0);
    m_next->setEnabled(m_index + 1 < n);
    m_last->setEnabled(m_index + 1 < n);
    {
        const QSignalBlocker block(m_pageBox);
        m_pageBox->setValue(m_index + 1);
    }
    m_pageLabel->setText(QStringLiteral("/ %1 页").arg(n));
    m_view->update();
}

void ReportPreview::setPageIndex(int index)
{
    const int n = pageCount();
    index = qBound(0, index, qMax(0, n - 1));
    if (index == m_index) {
        updateState();
        return;
    }
    m_index = index;
    updateState();
}

void ReportPreview::firstPage() { setPageIndex(0); }
void ReportPreview::priorPage() { setPageIndex(m_index - 1); }
void ReportPreview::nextPage() { setPageIndex(m_index + 1); }
void ReportPreview::lastPage() { setPageIndex(pageCount() - 1); }

void ReportPreview::setZoom(qreal zoom)
{
    m_zoom = qBound(MinZoom, zoom, MaxZoom);
    m_view->updateSize();
}

void ReportPreview::zoomIn() { setZoom(m_zoom * 1.25); }
void ReportPreview::zoomOut() { setZoom(m_zoom / 1.25); }

void ReportPreview::fitWidth()
{
    const int avail = m_scroll->viewport()->width() - 8;
    const qreal full = m_doc.info.page.width * logicalDpiX() / 254.0;
    if (full > 0 && avail > 0)
        setZoom(avail / full);
}

void ReportPreview::print()
{
    if (m_doc.pages.empty())
        return;
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageLayout(m_doc.info.page.pageLayout());
    printer.setFullPage(true);
    printer.setFromTo(1, pageCount());
    QPrintDialog dialog(&printer, this);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
    dialog.setMinMax(1, pageCount());
    if (dialog.exec() != QDialog::Accepted)
        return;
    guarded([&] { printDocument(m_doc, printer); });
}

void ReportPreview::savePdf()
{
    FileRequest request;
    request.caption = QStringLiteral("保存为PDF文件");
    request.filter = QStringLiteral("PDF文件(*.pdf)");
    request.defaultSuffix = QStringLiteral("pdf");
    const QString path = prompt().saveFileName(request);
    if (path.isEmpty())
        return;
    guarded([&] { writePdf(m_doc, path); });
}

void showPreview(Report &report, QWidget *parent, const QString &title)
{
    ReportPreview preview(report.fill(), parent);
    if (!title.isEmpty())
        preview.setWindowTitle(title);
    preview.exec();
}

} // namespace lectoria::report
