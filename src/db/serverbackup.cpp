#include "serverbackup.h"
#include "errors.h"
#include "libdb.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace lectoria {
namespace {

void drainServerBackup(const QString &sql)
{
    QSqlQuery q;
    try {
        q = LibDB::exec(sql);
    } catch (const DbPermissionDenied &) {
        throw;
    } catch (const DbError &e) {
        throw DbError(backupErrorText(e.text()));
    }
    // The server reports the backup's progress and its end as further
    // results; stopping early would cancel the backup.
    while (q.nextResult()) {
    }
    if (q.lastError().type() != QSqlError::NoError) {
        if (isPermissionError(firstNativeCode(q.lastError())))
            throw DbPermissionDenied(dbErrorText(q.lastError()));
        throw DbError(backupErrorText(dbErrorText(q.lastError())));
    }
}

// The partial copy of the backup under way, for the signal handlers: a run
// stopped by a signal removes it before it ends (a killed one cannot, and
// the next backup into the folder removes it).
char g_partPath[4096] = {0};

extern "C" void removePartAndEnd(int signal)
{
    if (g_partPath[0])
        ::unlink(g_partPath);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

class PartGuard {
public:
    explicit PartGuard(const QString &part)
    {
        const QByteArray path = QFile::encodeName(part);
        if (size_t(path.size()) < sizeof g_partPath)
            std::memcpy(g_partPath, path.constData(), size_t(path.size()) + 1);
        struct sigaction sa{};
        sa.sa_handler = removePartAndEnd;
        sigemptyset(&sa.sa_mask);
        for (int i = 0; i < 3; ++i)
            ::sigaction(Signals[i], &sa, &m_old[i]);
    }
    ~PartGuard()
    {
        for (int i = 0; i < 3; ++i)
            ::sigaction(Signals[i], &m_old[i], nullptr);
        g_partPath[0] = 0;
    }
    PartGuard(const PartGuard &) = delete;
    PartGuard &operator=(const PartGuard &) = delete;

private:
    static constexpr int Signals[3] = {SIGTERM, SIGINT, SIGHUP};
    struct sigaction m_old[3];
};

void copySqliteDatabase(const QString &sql)
{
    const QString file = backupDiskFile(sql);
    if (file.isEmpty())
        throw DbError(QStringLiteral("不是备份语句：%1").arg(sql));
    const QFileInfo target(file);
    // The folder as the statement names it (a Windows path stays as typed).
    const qsizetype cut = qMax(file.lastIndexOf(QLatin1Char('/')), file.lastIndexOf(QLatin1Char('\\')));
    const QString folder = cut >= 0 ? file.left(cut + 1) : file;
    // The server writes the file in its own folders: a relative folder would
    // name a place that depends on where the server runs.
    if (!target.isAbsolute())
        throw DbError(QStringLiteral("备份目录应为服务器上从根目录开始的完整路径，不能是相对路径：%1").arg(folder));
    if (!target.absoluteDir().exists())
        throw DbError(QStringLiteral("服务器中没有此目录：%1").arg(folder));
    if (!QFileInfo(target.path()).isWritable())
        throw DbError(QStringLiteral("数据库服务器不能在此目录中写入文件（没有写入权限）：%1").arg(folder));
    const QString live = LibDB::database().databaseName();
    if (target.exists() && QFileInfo(live).exists() && target.canonicalFilePath() == QFileInfo(live).canonicalFilePath())
        throw DbError(QStringLiteral("备份文件不能是数据库文件本身：%1").arg(QDir::toNativeSeparators(file)));

    const QString part = file + QLatin1String(BackupPartSuffix);
    // Left over from a killed backup (of any weekday): only ever partial
    // copies, and SQLite will not overwrite one.
    const QStringList stale = target.absoluteDir().entryList({QStringLiteral("www_?.dat") + QLatin1String(BackupPartSuffix)},
                                                           QDir::Files | QDir::Hidden);
    for (const QString &name : stale)
        QFile::remove(target.absoluteDir().filePath(name));
    try {
        PartGuard guard(part);
        LibDB::exec(sql);
    } catch (...) {
        QFile::remove(part);
        throw;
    }
    std::error_code ec;
    std::filesystem::rename(std::filesystem::path(part.toStdU16String()), std::filesystem::path(file.toStdU16String()), ec);
    if (ec) {
        QFile::remove(part);
        throw DbError(QString::fromLocal8Bit(ec.message().c_str()));
    }
}

} // namespace

QString backupErrorText(const QString &text)
{
    // What the server says while it works ("20 percent processed.",
    // "Processed 354 pages ...", "BACKUP DATABASE successfully processed
    // ..."), each with the driver's prefixes, is no part of the failure.
    static const QRegularExpression progress(QStringLiteral(
        "(\\[[^\\]]*\\])*\\s*(\\d+ percent processed\\.|Processed \\d+ pages for database [^\\n]*? on file \\d+\\."
        "|BACKUP (DATABASE|LOG) successfully processed [^\\n]*?MB/sec\\)\\.)\\s*"));
    QString rest = text;
    rest.replace(progress, QStringLiteral(" "));
    rest = rest.trimmed();
    return rest.isEmpty() ? QStringLiteral("数据库服务器没有说明原因") : rest;
}

void runBackupStatement(const QString &sql)
{
    if (LibDB::dialect() == Dialect::Sqlite)
        copySqliteDatabase(sql);
    else
        drainServerBackup(sql);
}

} // namespace lectoria
