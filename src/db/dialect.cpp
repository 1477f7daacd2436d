#include "dialect.h"

#include <QRegularExpression>

#include <algorithm>

namespace lectoria {

QString Dialect::date(const QDate &d) const
{
    return QLatin1Char('\'')
        + d.toString(*this == SqlServer ? QStringLiteral("yyyyMMdd") : QStringLiteral("yyyy-MM-dd"))
        + QLatin1Char('\'');
}

Dialect::EntryBounds Dialect::entryBounds(const QDate &first, const QDate &last) const
{
    EntryBounds b;
    b.from = QStringLiteral("li_logtime>=") + date(first);
    if (last < QDate(9999, 12, 31))
        b.before = QStringLiteral("li_logtime<") + date(last.addDays(1));
    return b;
}

QString Dialect::beginTransaction() const
{
    return *this == SqlServer ? QStringLiteral("begin transaction") : QStringLiteral("begin immediate");
}

QString Dialect::commitTransaction() const
{
    return *this == SqlServer ? QStringLiteral("commit transaction") : QStringLiteral("commit");
}

QString Dialect::rollbackTransaction() const
{
    return *this == SqlServer ? QStringLiteral("if @@trancount > 0 rollback transaction") : QStringLiteral("rollback");
}

QString Dialect::setSavepoint(const QString &name) const
{
    return (*this == SqlServer ? QStringLiteral("save transaction ") : QStringLiteral("savepoint ")) + name;
}

QString Dialect::rollbackToSavepoint(const QString &name) const
{
    return (*this == SqlServer ? QStringLiteral("rollback transaction ") : QStringLiteral("rollback to ")) + name;
}

QString Dialect::releaseSavepoint(const QString &name) const
{
    return *this == SqlServer ? QString() : QStringLiteral("release ") + name;
}

namespace {

// One past the closing quote of the literal whose opening quote is at
// `open`; quotes doubled inside are part of it. The end of the text when the
// literal is not closed.
qsizetype literalEnd(const QString &sql, qsizetype open)
{
    const qsizetype n = sql.size();
    qsizetype end = open + 1;
    while (end < n) {
        if (sql.at(end) == QLatin1Char('\'')) {
            if (end + 1 < n && sql.at(end + 1) == QLatin1Char('\'')) {
                end += 2;
                continue;
            }
            return end + 1;
        }
        ++end;
    }
    return n;
}

// The statement with `rewrite` applied to each stretch between its quoted
// literals; the literals are kept as they are.
template <typename F>
QString outsideLiterals(const QString &sql, F rewrite)
{
    if (!sql.contains(QLatin1Char('\'')))
        return rewrite(sql);
    QString out;
    out.reserve(sql.size() + 16);
    qsizetype i = 0;
    while (i < sql.size()) {
        const qsizetype open = sql.indexOf(QLatin1Char('\''), i);
        const qsizetype code = open < 0 ? sql.size() : open;
        out += rewrite(sql.mid(i, code - i));
        if (open < 0)
            break;
        const qsizetype end = literalEnd(sql, open);
        out += QStringView(sql).mid(open, end - open);
        i = end;
    }
    return out;
}

// "backup database NAME to disk='FILE' ...", FILE as written (quotes doubled).
const QRegularExpression &backupPattern()
{
    static const QRegularExpression re(
        QStringLiteral(R"(^\s*backup\s+database\s+\w+\s+to\s+disk\s*=\s*'((?:[^']|'')*)')"),
        QRegularExpression::CaseInsensitiveOption);
    return re;
}

// Every string literal holding a character beyond ASCII gets SQL Server's N
// prefix: without it the server reads the literal in the database collation's
// code page and turns every character that code page lacks into "?". A
// literal that already has the prefix is left alone; quotes doubled inside a
// literal are part of it.
QString withUnicodeLiterals(const QString &sql)
{
    if (std::all_of(sql.cbegin(), sql.cend(), [](QChar c) { return c.unicode() < 0x80; }))
        return sql;
    QString out;
    out.reserve(sql.size() + 16);
    const qsizetype n = sql.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = sql.at(i);
        if (c != QLatin1Char('\'')) {
            out += c;
            ++i;
            continue;
        }
        const qsizetype end = literalEnd(sql, i);
        const bool wide = std::any_of(sql.cbegin() + i + 1, sql.cbegin() + end, [](QChar ch) { return ch.unicode() >= 0x80; });
        const bool prefixed = !out.isEmpty() && (out.back() == QLatin1Char('N') || out.back() == QLatin1Char('n'))
            && (out.size() == 1 || !(out.at(out.size() - 2).isLetterOrNumber() || out.at(out.size() - 2) == QLatin1Char('_')));
        if (wide && !prefixed)
            out += QLatin1Char('N');
        out += QStringView(sql).mid(i, end - i);
        i = end;
    }
    return out;
}

// The statement with the inside of every string literal masked, so that a
// pattern looking for code never matches text; positions stay those of sql.
QString maskedLiterals(const QString &sql)
{
    QString out = sql;
    bool inside = false;
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (out.at(i) == QLatin1Char('\'')) {
            if (inside && i + 1 < out.size() && out.at(i + 1) == QLatin1Char('\'')) {
                out[i] = out[i + 1] = QLatin1Char('x');
                ++i;
                continue;
            }
            inside = !inside;
        } else if (inside) {
            out[i] = QLatin1Char('x');
        }
    }
    return out;
}

// SQL Server's Chinese_PRC_CI_AS compares text without case, and '='
// pads the shorter side with blanks first, so trailing blanks never count:
// 'admin ' finds admin, li_title='' finds a title of blanks (the ' ' the
// import stores for an empty one). The embedded schema declares its CHAR
// columns NOCASE; here each "column = 'text'" or "column = ?" after WHERE
// (and <>, !=) compares both sides without their trailing blanks, still
// without case. Built-in functions only: the file stays readable by every
// SQLite reader (the sqlite3 shell, the SQLite ODBC driver, Python).
QString withBlankPaddedComparisons(const QString &sql)
{
    static const QRegularExpression where(QStringLiteral(R"(\bwhere\b)"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression comparison(
        QStringLiteral(R"((?<![\w.])([A-Za-z_]\w*(?:\.[A-Za-z_]\w*)?)\s*(=|<>|!=)\s*('[^']*'|\?))"));
    const QString masked = maskedLiterals(sql);
    const QRegularExpressionMatch w = where.match(masked);
    if (!w.hasMatch())
        return sql;
    QString out = sql.left(w.capturedEnd());
    qsizetype at = w.capturedEnd();
    QRegularExpressionMatchIterator it = comparison.globalMatch(masked, at);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(sql).mid(at, m.capturedStart() - at);
        QString value = sql.mid(m.capturedStart(3), m.capturedLength(3));
        if (value == QLatin1String("?")) {
            value = QStringLiteral("rtrim(?)");
        } else {
            qsizetype end = value.size() - 1; // the closing quote
            while (end > 1 && value.at(end - 1) == QLatin1Char(' '))
                --end;
            value = value.left(end) + QLatin1Char('\'');
        }
        out += QStringLiteral("rtrim(") + m.captured(1) + QStringLiteral(")") + m.captured(2) + value
            + QStringLiteral(" collate nocase");
        at = m.capturedEnd();
    }
    out += QStringView(sql).mid(at);
    return out;
}

} // namespace

QString adaptStatement(const QString &sql, const Dialect &dialect)
{
    if (dialect == Dialect::SqlServer)
        return withUnicodeLiterals(sql);

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

    // SQL Server's getdate() is the server's local time; so is this. An
    // IDENTITY column is SQLite's autoincrementing integer key. Both are
    // words of the statement: text in quotes that looks like them is data.
    static const RE getdate(QStringLiteral(R"(\bgetdate\s*\(\s*\))"), ci);
    static const RE identity(QStringLiteral(R"(\bint(\s+NOT\s+NULL)?\s+IDENTITY\s*\(\s*\d+\s*,\s*\d+\s*\))"), ci);
    s = outsideLiterals(s, [](QString code) {
        code.replace(getdate, QStringLiteral("datetime('now','localtime')"));
        code.replace(identity, QStringLiteral("integer\\1 PRIMARY KEY AUTOINCREMENT"));
        return code;
    });

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

    // A lookup in the system catalogue compares names, which have no blanks.
    static const RE catalogue(QStringLiteral(R"(\bsys(?:objects|columns)\b)"), ci);
    return catalogue.match(sql).hasMatch() ? s : withBlankPaddedComparisons(s);
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
