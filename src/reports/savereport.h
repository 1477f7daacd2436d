#pragma once
#include "reportwriters.h"

#include <QString>

#include <functional>
#include <memory>

namespace lectoria {

class ReportLayout;

// What a saved report file is, by the session's ExportChoice (1, 2, 3).
struct ReportFileType {
    report::FileFormat format;
    QString extension; // "txt"
    QString filter;    // "文本文件(*.txt)"
};
const ReportFileType &reportFileType(report::FileFormat format);

// The path with the format's extension when it was given none.
QString withDefaultExtension(const QString &path, const QString &extension);

// The finished file of a layout at path, as SaveReportToFile makes it but
// without any dialog or message: the engine writes the report (through a
// temporary file), then the helper library finishes it with the title and
// the header line. Throws DbError / FileError with the database's or the
// system's text; a failure leaves no partial file at path.
void writeFinishedReport(ReportLayout &layout, report::FileFormat format, const QString &path, const QString &title,
                         const QString &header, int htmlNumber = -100);

// Saves a freshly created layout in the format of the session's ExportChoice
// (nothing with 0): asks for the file (one filter, default extension, an
// existing file replaced without a question), writes and finishes it, and
// says "生成文件完成！". Cancelling writes nothing and says nothing. Errors
// pass to the caller's guard.
void SaveReportToFile(ReportLayout &layout, const QString &title, const QString &header, int htmlNumber);

// Outputs a report can be produced as without any window.
enum class ReportOutput { Text = 1, Csv = 2, Html = 3, Pdf = 4 };
// "txt", "csv", "htm"/"html", "pdf" (any letter case); false for anything else.
bool reportOutputFromName(const QString &name, ReportOutput *out);

// For a runner without windows: makes the layout for the session values as
// the matching output command would (ExportChoice set while it is created,
// 0 again afterwards) and writes the file: text, CSV and HTML finished as
// SaveReportToFile does, PDF as printed. The title is SchoolName + the
// layout's file title. Throws DbError / FileError.
void produceReportFile(const std::function<std::unique_ptr<ReportLayout>()> &makeLayout, ReportOutput output,
                       const QString &path);

} // namespace lectoria
