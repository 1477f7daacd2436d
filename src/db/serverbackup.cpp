#include "serverbackup.h"
#include "errors.h"
#include "libdb.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>

#include <filesystem>
#include <system_error>

namespace lectoria {
namespace {

void drainServerBackup(const QString &sql)
{
    QSqlQuery q = LibDB::exec(sql);
    // The server reports the backup's progress and its end as further
    // results; stopping early would cancel the backup.
    while (q.nextResult()) {
    }
    if (q.lastError().type() != QSqlError::NoError) {
        if (isPermissionError(firstNativeCode(q.lastError())))
            throw DbPermissionDenied(dbErrorText(q.lastError()));
        throw DbError(dbErrorText(q.lastError()));
    }
}

void copySqliteDatabase(const QString &sql)
{
    const QString file = backupDiskFile(sql);
    if (file.isEmpty())
        throw DbError(QStringLiteral("不是备份语句：%1").arg(sql));
    const QFileInfo target(file);
    if (!target.isAbsolute() || !target.absoluteDir().exists())
        throw DbError(QStringLiteral("服务器中没有此目录：%1").arg(QDir::toNativeSeparators(target.path())));
    const QString live = LibDB::database().databaseName();
    if (target.exists() && QFileInfo(live).exists() && target.canonicalFilePath() == QFileInfo(live).canonicalFilePath())
        throw DbError(QStringLiteral("备份文件不能是数据库文件本身：%1").arg(QDir::toNativeSeparators(file)));

    const QString part = file + QLatin1String(BackupPartSuffix);
    QFile::remove(part); // left over from an interrupted backup; SQLite will not overwrite it
    try {
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

void runBackupStatement(const QString &sql)
{
    if (LibDB::dialect() == Dialect::Sqlite)
        copySqliteDatabase(sql);
    else
        drainServerBackup(sql);
}

} // namespace lectoria
