#include "batchcommands.h"
#include "clock.h"
#include "consoleio.h"
#include "catalogueexchange.h"
#include "databasebackup.h"
#include "errors.h"
#include "kinds.h"
#include "libdb.h"
#include "prompt.h"
#include "listingreports.h"
#include "savereport.h"
#include "statisticslayout.h"
#include "unglobal.h"

#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <memory>


namespace lectoria::batch {

bool showProgress() { return consoleio::isTerminal(consoleio::Stream::Error); }

namespace {

// The message naming a category or sub-category the database does not
// have, or empty when both exist (or none was asked for). A report of a
// category that does not exist would be an empty file that looks right.
QString missingCategory(const ReportRequest &r)
{
    if (!r.category)
        return QString();
    const int category = *r.category;
    const QString table = kindInfo(r.kind).categoryTable;
    if (LibDB::scalar(QStringLiteral("select count(*) from %1 where lt_id=%2").arg(table).arg(category)).toInt() == 0)
        return QStringLiteral("没有这个类别：%1").arg(category);
    if (!r.subCategory)
        return QString();
    const int sub = *r.subCategory;
    if (LibDB::scalar(QStringLiteral("select count(*) from %1 where ls_id=%2 and ls_sid=%3")
                          .arg(kindInfo(r.kind).subCategoryTable)
                          .arg(category)
                          .arg(sub))
            .toInt()
        == 0)
        return QStringLiteral("类别 %1 没有这个子类别：%2").arg(category).arg(sub);
    return QString();
}

// Where a report or an export is written. "--output -" means standard
// output: the file is made whole in a folder of its own, as any output is,
// and only then copied to standard output, so that a failing run puts
// nothing half made into the pipe.
class Output {
public:
    explicit Output(const QString &output) : m_output(output) {}
    bool toStandardOutput() const { return m_output == QLatin1String("-"); }
    QString path()
    {
        if (!toStandardOutput())
            return m_output;
        if (!m_folder)
            m_folder = std::make_unique<QTemporaryDir>();
        if (!m_folder->isValid())
            throw FileError(QStringLiteral("不能建立临时文件夹：%1").arg(m_folder->errorString()));
        return m_folder->filePath(QStringLiteral("output"));
    }
    void deliver()
    {
        if (!toStandardOutput())
            return;
        QFile file(path());
        if (!file.open(QIODevice::ReadOnly))
            throw FileError(QStringLiteral("%1: %2").arg(file.fileName(), file.errorString()));
        QByteArray chunk;
        QString error;
        while (!(chunk = file.read(1 << 16)).isEmpty())
            if (!consoleio::writeStandardOutput(chunk, &error))
                throw FileError(QStringLiteral("标准输出: %1").arg(error));
    }

private:
    QString m_output;
    std::unique_ptr<QTemporaryDir> m_folder;
};

} // namespace

int runReport(const Request &r)
{
    ReportRequest request = r.report;
    const QString missing = missingCategory(request);
    if (!missing.isEmpty()) {
        showError(missing);
        return Usage;
    }
    request.period = periodFor(r.period, Clock::today(), r.from, r.to);
    Output target(r.output);
    if (r.listing) {
        produceListingReport(request, *r.listing, target.path());
    } else {
        StatisticsLayout layout(request);
        produceReportFile(layout, request.output, target.path());
    }
    target.deliver();
    inform(QStringLiteral("生成文件完成！"));
    return Ok;
}
namespace {

ExchangeProgress progressLine(const QString &what)
{
    if (!showProgress())
        return {};
    return [what](int done) {
        if (done % 500 == 0)
            consoleio::writeText(consoleio::Stream::Error, QStringLiteral("\r%1 %2").arg(what).arg(done));
    };
}

void endProgressLine()
{
    if (showProgress())
        consoleio::writeText(consoleio::Stream::Error, QStringLiteral("\r"));
}

} // namespace

int runExport(const Request &r)
{
    ExportRequest request = r.exported;
    Output target(r.output);
    request.path = target.path();
    const ExportResult result = exportCatalogue(request, progressLine(QStringLiteral("导出")));
    endProgressLine();
    target.deliver();
    inform(exportMessage(result));
    return Ok;
}

int runImport(const Request &r)
{
    // The command itself is the operator's answer to the import's question.
    const ImportResult result = importCatalogue(r.importKind, r.input, progressLine(QStringLiteral("导入")), r.existing, r.encoding);
    endProgressLine();
    if (result.stopped()) {
        showError(importMessage(result));
        return DatabaseFailed;
    }
    inform(importMessage(result));
    return result.complete() ? Ok : NotAllImported;
}

int runBackup(const Request &r)
{
    const DatabaseBackup::Outcome outcome = DatabaseBackup::run(r.directory, unGlobal().ServerDate.date());
    if (!outcome.ok) {
        if (!outcome.databaseText.isEmpty())
            showError(outcome.databaseText);
        showError(outcome.message);
        return DatabaseFailed;
    }
    inform(outcome.message);
    return Ok;
}

} // namespace lectoria::batch
