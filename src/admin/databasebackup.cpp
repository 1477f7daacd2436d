#include "databasebackup.h"
#include "clock.h"
#include "errors.h"
#include "libdb.h"
#include "serverbackup.h"
#include "text.h"

#include <QRegularExpression>
#include <QStringList>

namespace lectoria::DatabaseBackup {

int weekdayNumber(const QDate &serverDate) { return serverDate.dayOfWeek(); }

QString fileName(int weekday) { return QStringLiteral("www_%1.dat").arg(weekday); }

QString weekdayName(int weekday)
{
    static const QStringList names{QStringLiteral("星期一"), QStringLiteral("星期二"), QStringLiteral("星期三"),
                                   QStringLiteral("星期四"), QStringLiteral("星期五"), QStringLiteral("星期六"),
                                   QStringLiteral("星期日")};
    return weekday >= 1 && weekday <= 7 ? names.at(weekday - 1) : QString();
}

QString withSeparator(const QString &typed)
{
    const QString dir = trimText(typed);
    // A folder from the root "/" lives on a Unix file system (the embedded
    // database's, or a server on Linux), where "/" separates and a
    // backslash is part of a name; a drive letter or share path is Windows.
    const bool slashes = dir.startsWith(QLatin1Char('/'))
        || (dir.contains(QLatin1Char('/')) && !dir.contains(QLatin1Char('\\')));
    const QChar separator = slashes ? QLatin1Char('/') : QLatin1Char('\\');
    return dir.endsWith(separator) ? dir : dir + separator;
}

QString statement(const QString &directory, int weekday)
{
    return QStringLiteral("backup database www to disk='") + sqlEscape(directory) + QStringLiteral("www") + QStringLiteral("_")
        + QString::number(weekday) + QStringLiteral(".dat' WITH FORMAT,INIT");
}

QString successMessage(const QString &fileName)
{
    return QStringList{QStringLiteral("数据库备份成功！"), QStringLiteral("建议及时将服务器以上目录中最新文件:"), fileName,
                       QStringLiteral("备份到其他地方（如其他机器、其他硬盘或刻录到光盘中）")}
        .join(QLatin1String("\r\n"));
}

QString failureMessage(const QString &directory, const QString &fileName)
{
    return QStringList{QStringLiteral("备份数据库失败!"),
                       QString(),
                       QStringLiteral("可能有如下问题："),
                       QStringLiteral("  1、服务器中没有此目录：") + directory,
                       QStringLiteral("  2、此文件[") + fileName + QStringLiteral("]可能被锁定。"),
                       QStringLiteral("  3、硬盘空间不足"),
                       QString(),
                       QStringLiteral("解决办法："),
                       QStringLiteral("  1、请在服务器中建立此目录或改为已存在的目录"),
                       QStringLiteral("  2、请解除此文件的锁定或重起数据库服务器"),
                       QStringLiteral("  3、请在服务器的此目录所在硬盘腾出空间")}
        .join(QLatin1String("\r\n"));
}

QString rightsMessage()
{
    return QStringList{QStringLiteral("备份数据库失败!"),
                       QString(),
                       QStringLiteral("数据源的登录没有备份数据库的权限（BACKUP DATABASE）。"),
                       QString(),
                       QStringLiteral("解决办法："),
                       QStringLiteral("  请数据库管理员把该登录的数据库用户加入 db_backupoperator 角色，或改用有此权限的登录。")}
        .join(QLatin1String("\r\n"));
}

QString accessMessage(const QString &directory)
{
    return QStringList{QStringLiteral("备份数据库失败!"),
                       QString(),
                       QStringLiteral("数据库服务器的服务账户无权写入服务器上的此目录：") + directory,
                       QString(),
                       QStringLiteral("解决办法："),
                       QStringLiteral("  请在服务器上允许 SQL Server 服务的账户写入此目录，或改为它能写入的目录。")}
        .join(QLatin1String("\r\n"));
}

bool serviceAccountDenied(const QString &databaseText)
{
    // SQL Server's 3201 names the operating system's error: 5 is "access is
    // denied" to the service account (in any language of the server).
    static const QRegularExpression denied(QStringLiteral(R"((?:error|错误)\s*5\s*[(（])"),
                                           QRegularExpression::CaseInsensitiveOption);
    return denied.match(databaseText).hasMatch();
}

Outcome run(const QString &directory, const QDate &serverDate)
{
    Outcome o;
    const int weekday = weekdayNumber(serverDate.isValid() ? serverDate : Clock::today());
    o.directory = withSeparator(directory);
    o.fileName = fileName(weekday);
    try {
        runBackupStatement(statement(o.directory, weekday));
        o.ok = true;
        o.message = successMessage(o.fileName);
    } catch (const DbPermissionDenied &e) {
        o.databaseText = e.text();
        o.message = rightsMessage();
    } catch (const Error &e) {
        o.databaseText = e.text();
        o.message = serviceAccountDenied(e.text()) ? accessMessage(o.directory) : failureMessage(o.directory, o.fileName);
    }
    return o;
}

} // namespace lectoria::DatabaseBackup
