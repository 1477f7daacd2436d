#pragma once
#include "pagemodel.h"

#include <QDialog>

class QLabel;
class QScrollArea;
class QSpinBox;
class QToolButton;

namespace lectoria::report {

class Report;
class PageView;

// The modal print preview (objectName "ReportPreview"): page navigation
// (btFirst, btPrior, btNext, btLast, the page box spPage), zoom (btZoomIn,
// btZoomOut, btFitWidth), printing (btPrint: the print dialog, which also
// offers printing to a PDF file) and saving as PDF (btPdf, through the prompt
// service's save dialog), and btClose.
class ReportPreview : public QDialog {
    Q_OBJECT
public:
    explicit ReportPreview(ReportDocument doc, QWidget *parent = nullptr);
    ~ReportPreview() override;

    const ReportDocument &document() const { return m_doc; }
    int pageIndex() const { return m_index; } // 0-based
    int pageCount() const { return int(m_doc.pages.size()); }
    qreal zoom() const { return m_zoom; }     // 1.0 = the page at its real size on screen

    // Adds a page at the end, for a preview shown while its report is still
    // being filled (info: the document's as it stands after that page).
    void appendPage(const Page &page, const DocumentInfo &info);

public Q_SLOTS:
    void setPageIndex(int index);
    void firstPage();
    void priorPage();
    void nextPage();
    void lastPage();
    void setZoom(qreal zoom);
    void zoomIn();
    void zoomOut();
    void fitWidth();
    void print();
    void savePdf();

private:
    void updateState();
    ReportDocument m_doc;
    int m_index = 0;
    qreal m_zoom = 1.0;
    PageView *m_view = nullptr;
    QScrollArea *m_scroll = nullptr;
    QSpinBox *m_pageBox = nullptr;
    QLabel *m_pageLabel = nullptr;
    QToolButton *m_first = nullptr, *m_prior = nullptr, *m_next = nullptr, *m_last = nullptr;
};

// Fills the report and shows it in the modal preview; returns when the
// operator closes it. The window title is `title` when given.
void showPreview(Report &report, QWidget *parent = nullptr, const QString &title = QString());

} // namespace lectoria::report
