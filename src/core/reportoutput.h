#pragma once

namespace lectoria {

// Where a report goes: the preview (printed from there), one of the three
// grid files, or PDF pages. The first four are numbered as the session's
// ExportChoice, which the output commands still set for the operator's
// session.
enum class ReportOutput { Preview = 0, Text = 1, Csv = 2, Html = 3, Pdf = 4 };

// CSV and HTML files keep only a report's data rows.
constexpr bool isGridFile(ReportOutput output) { return output == ReportOutput::Csv || output == ReportOutput::Html; }

// The outputs the text, CSV and HTML writers make.
constexpr bool isWrittenFile(ReportOutput output)
{
    return output == ReportOutput::Text || output == ReportOutput::Csv || output == ReportOutput::Html;
}

} // namespace lectoria
