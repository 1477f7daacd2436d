#pragma once
// The banded report engine.
//
// A layout defines bands and items once; one fill pass reads the rows, runs
// the band hooks, keeps the running values, breaks pages and hands each
// finished page (a flat list of positioned texts and ruled lines, see
// pagemodel.h) to a sink. The preview, printing, PDF and the text, CSV and
// HTML writers only read those pages. Lengths are tenths of a millimetre;
// mm(8.5) == 85. Item positions are relative to their band, whose left edge
// is the page's left margin.
//
// Nothing leaves the body between the margins: on a body narrower than the
// design width the positions are scaled down, a box is moved in from an
// edge it crosses, and a text wider than the room between its anchor and the
// body's edge is printed in a smaller font (cut at a whole character when
// even the smallest font does not fit). A band that would cross pages
// anyway starts where it is when its first lines fit there.
//
// Usage (a statistics layout):
//
//   using namespace lectoria::report;
//   Report r;
//   r.setPageSetup(standardPageSetup());            // default printer + session margins
//   r.setFont(FontSpec{QStringLiteral("宋体"), 9});
//
//   Band &ph = r.pageHeader();                      // every page, the first included
//   ph.setHeight(mm(10.6));
//   ph.addLabel(school, {mm(40), mm(1), mm(56), mm(6)}, Align::Right, "qlbSchool")
//       ->setFont({QStringLiteral("宋体"), 14});
//   ph.addLabel(period, {mm(120), mm(6), mm(63), mm(4)}, Align::Right, "qlbDate");
//   Band &ch = r.columnHeader();
//   ch.setHeight(mm(7.1));
//   ch.setFrame(true, true);                        // ruled line above and below
//   ch.addLabel("类别", {mm(8.5), mm(1.5), mm(20), mm(4)});
//
//   Band &d = r.detail();
//   d.setHeight(mm(6.3));
//   d.addField("lt_notice", {mm(8.5), mm(1), mm(80), mm(4)});
//   d.addField("iC", {mm(160), mm(1), mm(22), mm(4)}, Align::Right);
//
//   Band &s = r.summary();
//   s.setHeight(mm(12.7));
//   s.addLabel("合计", {mm(8.5), mm(1), mm(20), mm(4)});
//   s.addAggregate(AggregateKind::Sum, "iC", false, {mm(160), mm(1), mm(22), mm(4)}, Align::Right);
//   s.addSystem(SystemValue::DateTime, {mm(25.4), mm(7), mm(50), mm(4)});
//
//   // Groups: header (with an optional child band) and footer, on columns or a key.
//   Group &g = r.addGroup({"lt_notice"});
//   g.header().setHeight(mm(8));
//   Band &captions = g.header().addChild(mm(6));    // printed after every group header
//   g.footer().setBeforePrint([&](BandContext &c) { total->setText(QString::number(n)); });
//   // Hooks may change an item's text or hide it (item->setVisible(false)),
//   // or skip the whole band (c.setPrint(false)); memo lines are set in a hook:
//   //   memo->setLines(lines);  the memo and its band grow with them.
//
//   // Rows: any RowSource; for a query:
//   SqlRowSource rows(LibDB::exec(lines));          // rowsources.h
//   r.setRowSource(&rows);
//   r.setStartHook([&](Report &) { rows.setQuery(LibDB::exec(lines)); }); // optional: re-run each time
//   if (isGridFile(output)) { r.pageHeader().setEnabled(false); ... }
//
//   showPreview(r, parent);                         // reportpreview.h: modal, page/zoom/print/PDF
//   writeReportFile(r, ReportOutput::Csv, path);    // reportwriters.h: streams pages, GBK CR LF,
//                                                    // FileError and no partial file on failure
//   ReportDocument doc = r.fill();                   // or keep every page (tests, printing)

#include "layoutmodel.h"
