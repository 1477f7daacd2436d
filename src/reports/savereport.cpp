#include "savereport.h"
#include "errors.h"
#include "prompt.h"
#include "reportlayout.h"
#include "reportpainter.h"
#include "unglobal.h"

#include <QFileInfo>

namespace lectoria {

const ReportFileType &reportFileType(ReportOutput format)
{
    static const ReportFileType types[] = {
        {ReportOutput::Text, QStringLiteral("txt"), QStringLiteral("文本文件(*.txt)")},
        {ReportOutput::Csv, QStringLiteral("csv"), QStringLiteral("逗号分隔文件(*.csv)")},
        {ReportOutput::Html, QStringLiteral("htm"), QStringLiteral("Html文件(*.htm)")},
    };
    for (const ReportFileType &t : types)
        if (t.format == format)
            return t;
    throw Error(QStringLiteral("报表不能以此格式写入文件。"));
}

QString withDefaultExtension(const QString &path, const QString &extension)
{
    if (!QFileInfo(path).suffix().isEmpty())
        return path;
    return path + (path.endsWith(QLatin1Char('.')) ? QString() : QStringLiteral(".")) + extension;
}

void writeFinishedReport(ReportLayout &layout, ReportOutput format, const QString &path, const QString &title,
                         const QString &header)
{
    report::writeReportFile(layout.report(), format, path, report::FileFrame{title, header});
}

void SaveReportToFile(ReportLayout &layout, ReportOutput output, const QString &title, const QString &header)
{
    if (!isWrittenFile(output))
        return;
    const ReportFileType &type = reportFileType(output);
    FileRequest request;
    request.filter = type.filter;
    request.defaultSuffix = type.extension;
    const QString chosen = prompt().saveFileName(request);
    if (chosen.isEmpty())
        return;
    writeFinishedReport(layout, type.format, withDefaultExtension(chosen, type.extension), title, header);
    inform(QStringLiteral("生成文件完成！"));
}

bool reportOutputFromName(const QString &name, ReportOutput *out)
{
    const QString &n = name;
    if (n == QLatin1String("txt"))
        *out = ReportOutput::Text;
    else if (n == QLatin1String("csv"))
        *out = ReportOutput::Csv;
    else if (n == QLatin1String("htm"))
        *out = ReportOutput::Html;
    else if (n == QLatin1String("pdf"))
        *out = ReportOutput::Pdf;
    else
        return false;
    return true;
}

void produceReportFile(ReportLayout &layout, ReportOutput output, const QString &path)
{
    if (output == ReportOutput::Pdf) {
        report::writePdf(layout.report().fill(), path);
        return;
    }
    writeFinishedReport(layout, output, path, unGlobal().SchoolName + layout.fileTitle(), layout.headerLine());
}

} // namespace lectoria
