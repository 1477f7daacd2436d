#include "savereport.h"
#include "errors.h"
#include "helperlib.h"
#include "prompt.h"
#include "reportlayout.h"
#include "reportpainter.h"
#include "unglobal.h"

#include <QFile>
#include <QFileInfo>

namespace lectoria {

const ReportFileType &reportFileType(report::FileFormat format)
{
    static const ReportFileType types[] = {
        {report::FileFormat::Text, QStringLiteral("txt"), QStringLiteral("文本文件(*.txt)")},
        {report::FileFormat::Csv, QStringLiteral("csv"), QStringLiteral("逗号分隔文件(*.csv)")},
        {report::FileFormat::Html, QStringLiteral("htm"), QStringLiteral("Html文件(*.htm)")},
    };
    return types[int(format) - 1];
}

QString withDefaultExtension(const QString &path, const QString &extension)
{
    if (!QFileInfo(path).suffix().isEmpty())
        return path;
    return path + (path.endsWith(QLatin1Char('.')) ? QString() : QStringLiteral(".")) + extension;
}

void writeFinishedReport(ReportLayout &layout, report::FileFormat format, const QString &path, const QString &title,
                         const QString &header, int htmlNumber)
{
    report::writeReportFile(layout.report(), format, path);
    try {
        switch (format) {
        case report::FileFormat::Text:
            qyChangThisTextFile(path, title, header, true);
            break;
        case report::FileFormat::Csv:
            qyChangThisCSVFile(path, title, header, true);
            break;
        case report::FileFormat::Html:
            qyChangThisHTMLFile(path, title, header, htmlNumber, true);
            break;
        }
    } catch (...) {
        // The engine's output is not the file the operator asked for; leave nothing half done.
        QFile::remove(path);
        throw;
    }
}

void SaveReportToFile(ReportLayout &layout, const QString &title, const QString &header, int htmlNumber)
{
    const int choice = unGlobal().ExportChoice;
    if (choice < 1 || choice > 3)
        return;
    const ReportFileType &type = reportFileType(report::FileFormat(choice));
    FileRequest request;
    request.filter = type.filter;
    request.defaultSuffix = type.extension;
    const QString chosen = prompt().saveFileName(request);
    if (chosen.isEmpty())
        return;
    writeFinishedReport(layout, type.format, withDefaultExtension(chosen, type.extension), title, header,
                        htmlNumber);
    inform(QStringLiteral("生成文件完成！"));
}

bool reportOutputFromName(const QString &name, ReportOutput *out)
{
    const QString n = name.toLower();
    if (n == QLatin1String("txt"))
        *out = ReportOutput::Text;
    else if (n == QLatin1String("csv"))
        *out = ReportOutput::Csv;
    else if (n == QLatin1String("htm") || n == QLatin1String("html"))
        *out = ReportOutput::Html;
    else if (n == QLatin1String("pdf"))
        *out = ReportOutput::Pdf;
    else
        return false;
    return true;
}

void produceReportFile(const std::function<std::unique_ptr<ReportLayout>()> &makeLayout, ReportOutput output,
                       const QString &path)
{
    Session &s = unGlobal();
    std::unique_ptr<ReportLayout> layout;
    {
        s.ExportChoice = output == ReportOutput::Pdf ? 0 : int(output);
        ScopeExit reset([&s] { s.ExportChoice = 0; });
        layout = makeLayout();
    }
    if (output == ReportOutput::Pdf) {
        report::writePdf(layout->report().fill(), path);
        return;
    }
    writeFinishedReport(*layout, report::FileFormat(int(output)), path, s.SchoolName + layout->fileTitle(),
                        layout->headerLine());
}

} // namespace lectoria
