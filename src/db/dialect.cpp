#include "dialect.h"

#include <QRegularExpression>

namespace lectoria {
namespace {

// "backup database NAME to disk='FILE' ...", FILE as written (quotes doubled).
const QRegularExpression &backupPattern()
{
    static const QRegularExpression re(
        QStringLiteral(R"(^\s*backup\s+database\s+\w+\s+to\s+disk\s*=\s*'((?:[^']|'')*)')"),
        QRegularExpression::CaseInsensitiveOption);
    return re;
}

} // namespace

QString adaptStatement(const QString &sql, Dialect dialect)
{
    if (dialect == Dialect::SqlServer)
        return sql;

    using RE = QRegularExpression;
    const auto ci = RE::CaseInsensitiveOption;
    QString s = sql;

    // A primary key added afterwards: SQLite gets it from the IDENTITY column.
    static const RE addKey(QStringLiteral(R"(^\s*alter\s+table\s+\w+\s+add\s+constraint\s+\w+\s+primary\s+key)"), ci);
    if (addKey.match(s).hasMatch())
        return QString();

    // A full backup to a file: SQLite writes a complete copy of the database
    // to a temporary name beside the target; runBackupStatement() renames it
    // over the target once the copy is whole.
    const QRegularExpressionMatch backup = backupPattern().match(s);
    if (backup.hasMatch())
        return QStringLiteral("VACUUM INTO '") + backup.captured(1) + QLatin1String(BackupPartSuffix)
            + QLatin1Char('\'');

    // SQL Server's getdate() is the server's local time; so is this.
    static const RE getdate(QStringLiteral(R"(\bgetdate\s*\(\s*\))"), ci);
    s.replace(getdate, QStringLiteral("datetime('now','localtime')"));

    // Column existence: syscolumns joined to sysobjects by table name.
    static const RE colCheck(QStringLiteral(
        R"(select\s+name\s+from\s+syscolumns\s+where\s+name\s*=\s*'(\w+)'\s+and\s+id\s+in\s*\(\s*select\s+id\s+from\s+sysobjects\s+where\s+name\s*=\s*'(\w+)'\s*\))"), ci);
    s.replace(colCheck, QStringLiteral("select name from pragma_table_info('\\2') where name='\\1'"));

    // Object existence.
    static const RE objCheck(QStringLiteral(R"(\bfrom\s+sysobjects\s+where\s+name\s*=\s*'(\w+)')"), ci);
    s.replace(objCheck, QStringLiteral("from sqlite_master where name='\\1'"));

    // "insert TABLE (...)": SQLite needs INTO.
    static const RE insertNoInto(QStringLiteral(R"(^(\s*insert)\s+(?!into\b)(\w+))"), ci);
    s.replace(insertNoInto, QStringLiteral("\\1 into \\2"));

    // An IDENTITY column is SQLite's autoincrementing integer key.
    static const RE identity(QStringLiteral(R"(\bint(\s+NOT\s+NULL)?\s+IDENTITY\s*\(\s*\d+\s*,\s*\d+\s*\))"), ci);
    s.replace(identity, QStringLiteral("integer\\1 PRIMARY KEY AUTOINCREMENT"));

    return s;
}

QString backupDiskFile(const QString &sql)
{
    const QRegularExpressionMatch m = backupPattern().match(sql);
    if (!m.hasMatch())
        return QString();
    QString file = m.captured(1);
    file.replace(QLatin1String("''"), QLatin1String("'"));
    return file;
}

} // namespace lectoria
