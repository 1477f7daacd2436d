#pragma once
#include "reportrequest.h"
#include "reportwriters.h"

#include <QString>

#include <memory>

namespace lectoria {

class ReportLayout;

// What a saved report file is (text, CSV, HTML).
struct ReportFileType {
    ReportOutput format;
    QString extension; // "txt"
    QString filter;    // "文本文件(*.txt)"
};
const ReportFileType &reportFileType(ReportOutput format);

// The path with the format's extension when it was given none.
QString withDefaultExtension(const QString &path, const QString &extension);

// The finished file of a layout at path, as SaveReportToFile makes it but
// without any dialog or message: the engine writes the report with the
// title and the header line in one pass, through a temporary file. Throws
// DbError / FileError with the database's or the system's text; a failure
// leaves no partial file at path.
void writeFinishedReport(ReportLayout &layout, ReportOutput format, const QString &path, const QString &title,
                         const QString &header);

// Saves a freshly created layout as a file of the given output (nothing for
// the preview or PDF): asks for the file (one filter, default extension, an
// existing file replaced without a question), writes and finishes it, and
// says "生成文件完成！". Cancelling writes nothing and says nothing. Errors
// pass to the caller's guard.
void SaveReportToFile(ReportLayout &layout, ReportOutput output, const QString &title, const QString &header);

// Outputs a report can be produced as without any window, as the runner's
// --format names them: "txt", "csv", "htm", "pdf"; false for anything else.
bool reportOutputFromName(const QString &name, ReportOutput *out);

// For a runner without windows: writes a layout made for a request with the
// given output (text, CSV or HTML finished as SaveReportToFile does, PDF as
// printed). The title is SchoolName + the layout's file title. Throws
// DbError / FileError.
void produceReportFile(ReportLayout &layout, ReportOutput output, const QString &path);

} // namespace lectoria
