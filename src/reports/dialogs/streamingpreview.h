#pragma once
#include <QString>

class QWidget;

namespace lectoria::report {
class Report;
}

namespace lectoria {

// The modal print preview of a report that may run to thousands of pages:
// the preview opens with the first page as soon as it is made and later pages
// join as they are made, the window painting and answering in between (all
// on the user-interface thread). Printing and saving as PDF wait for the last
// page; closing the preview early stops the fill. Returns when the operator
// closes the preview. Database errors of the fill pass through.
void showPreviewAsFilled(report::Report &report, QWidget *parent, const QString &title);

class ReportLayout;
// The modal preview of a freshly made layout, titled SchoolName and its file
// title; the operator prints from it. A layout that previews while filling
// (a listing) opens at its first page, any other once all pages are made.
void previewLayout(ReportLayout &layout, QWidget *parent);

} // namespace lectoria
