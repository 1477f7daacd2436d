#include "dialect.h"

#include <QRegularExpression>

namespace lectoria {

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

} // namespace lectoria
