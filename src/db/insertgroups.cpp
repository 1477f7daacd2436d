#include "insertgroups.h"

#include "gbk.h"

#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlQuery>

#include <sqlite3.h>

#include <algorithm>

namespace lectoria {
namespace {
// One name serves every record: a savepoint is set again for each record and
// on SQLite released after it, so there is never more than one.
const QLatin1String savepoint("lectoria_record");

// The embedded engine's own handle behind Qt's SQLite driver, or null.
sqlite3 *nativeSqlite()
{
    const QSqlDatabase db = LibDB::database();
    if (!db.isOpen() || db.driverName() != QLatin1String("QSQLITE"))
        return nullptr;
    const QVariant h = db.driver()->handle();
    if (!h.isValid() || qstrcmp(h.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(h.constData());
}

// The CHAR(n)/VARCHAR(n) widths of an insert's columns ("insert [into] T
// (a,b,...) values (?,?,...)"), in the order of its values; 0 where a
// column has none. SQLite enforces no width: these are what SQL Server's
// table enforces, as the embedded schema declares them.
QVector<int> declaredWidths(const QString &insertSql)
{
    static const QRegularExpression head(QStringLiteral(R"(^\s*insert\s+(?:into\s+)?(\w+)\s*\(([^)]*)\)\s*values\s*\()"),
                                         QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression sized(QStringLiteral(R"(^\s*(?:var)?char(?:acter)?\s*\(\s*(\d+)\s*\))"),
                                          QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = head.match(insertSql);
    if (!m.hasMatch())
        return {};
    QHash<QString, int> widths;
    // Asked of the engine directly: no statement of the console's own.
    QSqlQuery q(LibDB::database());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("select name, type from pragma_table_info('%1')").arg(m.captured(1))))
        return {};
    while (q.next()) {
        const QRegularExpressionMatch t = sized.match(q.value(1).toString());
        if (t.hasMatch())
            widths.insert(q.value(0).toString().toLower(), t.captured(1).toInt());
    }
    QVector<int> out;
    for (const QString &column : m.captured(2).split(QLatin1Char(',')))
        out << widths.value(column.trimmed().toLower(), 0);
    return out;
}
} // namespace

// One statement run once per record. On Qt's SQLite driver it runs on the
// engine's own handle: Qt binds text as UTF-16, which the engine converts
// character by character into the database's UTF-8, and looks the
// connection up again for every run; together that was a third of an
// import's time. Elsewhere it is a LibStatement. Either way it is logged and
// fails as LibDB's statements do.
class LibInsertGroups::Statement {
public:
    explicit Statement(const QString &sql) : m_sql(sql)
    {
        m_db = nativeSqlite();
        if (!m_db)
            m_lib = std::make_unique<LibStatement>(sql);
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    void exec(const QVariantList &values = {})
    {
        if (m_lib) {
            m_lib->exec(values);
            return;
        }
        LibDB::noteStatement(m_sql);
        // Prepared at its first run, as a LibStatement is: a table that
        // lacks a column fails the first record, not the import's start.
        if (!m_stmt) {
            const QByteArray text = adaptStatement(m_sql, Dialect::Sqlite).toUtf8();
            if (sqlite3_prepare_v2(m_db, text.constData(), int(text.size()), &m_stmt, nullptr) != SQLITE_OK) {
                sqlite3_finalize(m_stmt);
                m_stmt = nullptr;
                fail(sqlite3_extended_errcode(m_db), QString::fromUtf8(sqlite3_errmsg(m_db)));
            }
        }
        m_texts.resize(values.size());
        for (int i = 0; i < int(values.size()); ++i) {
            const QVariant &v = values.at(i);
            int rc;
            if (v.isNull()) {
                rc = sqlite3_bind_null(m_stmt, i + 1);
            } else if (v.metaType().id() == QMetaType::Int || v.metaType().id() == QMetaType::LongLong) {
                rc = sqlite3_bind_int64(m_stmt, i + 1, v.toLongLong());
            } else {
                m_texts[i] = v.toString().toUtf8(); // kept until the step is done
                rc = sqlite3_bind_text(m_stmt, i + 1, m_texts.at(i).constData(), int(m_texts.at(i).size()), SQLITE_STATIC);
            }
            if (rc != SQLITE_OK)
                fail(rc);
        }
        const int rc = sqlite3_step(m_stmt);
        if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
            const int code = sqlite3_extended_errcode(m_db);
            const QString text = QString::fromUtf8(sqlite3_errmsg(m_db));
            sqlite3_reset(m_stmt);
            fail(code, text);
        }
        sqlite3_reset(m_stmt);
    }

private:
    [[noreturn]] static void fail(int code, const QString &text = QString())
    {
        LibDB::failSqlite(code, text.isEmpty() ? QString::fromUtf8(sqlite3_errstr(code)) : text);
    }

    QString m_sql;
    std::unique_ptr<LibStatement> m_lib;
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_stmt = nullptr;
    QVector<QByteArray> m_texts;
};

LibInsertGroups::LibInsertGroups(const Dialect &dialect, const QString &insertSql, int maxRecords, int maxMs)
    : m_maxRecords(std::max(1, maxRecords)), m_maxMs(std::max(0, maxMs)), m_dialect(dialect)
{
    const QString release = dialect.releaseSavepoint(savepoint);
    if (release.isEmpty()) {
        // No release (SQL Server): the savepoint travels in the record's own
        // batch, one round trip per record, as without groups.
        m_insert = std::make_unique<Statement>(dialect.setSavepoint(savepoint) + QLatin1Char('\n') + insertSql);
    } else {
        m_save = std::make_unique<Statement>(dialect.setSavepoint(savepoint));
        m_insert = std::make_unique<Statement>(insertSql);
        m_release = std::make_unique<Statement>(release);
        m_widths = declaredWidths(insertSql);
    }
    m_rollbackTo = std::make_unique<Statement>(dialect.rollbackToSavepoint(savepoint));
}

bool LibInsertGroups::fitWidths(QVariantList &values, QString *why) const
{
    for (int i = 0; i < int(std::min(values.size(), m_widths.size())); ++i) {
        const int width = m_widths.at(i);
        QVariant &v = values[i];
        if (!width || v.isNull() || v.metaType().id() != QMetaType::QString)
            continue;
        // SQL Server drops the blanks beyond a column's width without a
        // word (the import adds one to every value, so a title that fills
        // CHAR(128) is one blank too long) and refuses a value only when
        // anything else would be cut.
        QString text = v.toString();
        if (Gbk::byteLength(text) <= width)
            continue;
        qsizetype n = text.size();
        while (n > 0 && text.at(n - 1) == QLatin1Char(' '))
            --n;
        text.truncate(n);
        v = text;
        const qsizetype bytes = Gbk::byteLength(text);
        if (bytes > width) {
            if (why)
                *why = QStringLiteral("值超过此列的宽度（%1 字节，GBK 编码后为 %2 字节），不能存入：%3")
                           .arg(width).arg(bytes).arg(text.left(40));
            return false;
        }
    }
    return true;
}

LibInsertGroups::~LibInsertGroups()
{
    if (!m_open)
        return;
    try {
        if (m_recordPending) {
            m_rollbackTo->exec({});
            if (m_release)
                m_release->exec({});
        }
        commit();
    } catch (const Error &) {
        rollBackQuietly();
    }
}

void LibInsertGroups::begin()
{
    LibDB::exec(m_dialect.beginTransaction());
    m_open = true;
    m_openFor.start();
}

void LibInsertGroups::runOne(const QVariantList &values)
{
    m_recordPending = true;
    if (m_save)
        m_save->exec({});
    m_insert->exec(values);
    if (m_release)
        m_release->exec({});
    m_recordPending = false;
}

bool LibInsertGroups::insert(const QVariantList &given, QString *why)
{
    QVariantList values = given;
    if (!m_widths.isEmpty() && !fitWidths(values, why))
        return false;
    if (!m_open)
        begin();
    try {
        runOne(values);
    } catch (const DbValueRefused &e) {
        if (why)
            *why = e.text();
        undoRecord();
        return false;
    }
    m_group.append(values);
    return true;
}

void LibInsertGroups::undoRecord()
{
    try {
        m_rollbackTo->exec({});
        if (m_release)
            m_release->exec({});
        m_recordPending = false;
        return;
    } catch (const DbError &) {
        // No savepoint to return to: the refusal ended the transaction, or
        // left it unable to go on (SQL Server's doomed transaction). What the
        // group had inserted is gone with it and is inserted again.
    }
    m_recordPending = false;
    rollBackQuietly();
    replayGroup();
}

void LibInsertGroups::replayGroup()
{
    QVector<QVariantList> again;
    again.swap(m_group);
    try {
        begin();
        for (const QVariantList &values : std::as_const(again)) {
            runOne(values);
            m_group.append(values);
        }
    } catch (const DbError &e) {
        // Records the database took a moment ago and now refuses: the
        // database is not what it was. None of the group is stored.
        m_recordPending = false;
        rollBackQuietly();
        m_group = again;
        throw DbError(e.text());
    }
}

void LibInsertGroups::rollBackQuietly()
{
    m_open = false;
    try {
        LibDB::exec(m_dialect.rollbackTransaction());
    } catch (const DbError &) {
        // SQLite says so when it has already rolled back; nothing is left to undo.
    }
}

void LibInsertGroups::commitIfDue()
{
    if (m_open && (m_group.size() >= m_maxRecords || m_openFor.elapsed() >= m_maxMs))
        commit();
}

void LibInsertGroups::commit()
{
    if (!m_open)
        return;
    LibDB::exec(m_dialect.commitTransaction());
    m_longestMs = std::max(m_longestMs, m_openFor.elapsed());
    m_open = false;
    m_group.clear();
    ++m_groups;
}

bool LibInsertGroups::keepAfterFailure()
{
    if (!m_open) {
        // No group open: nothing was lost unless a group was rolled back
        // before it could be inserted again.
        const bool nothingLost = m_group.isEmpty();
        m_group.clear();
        return nothingLost;
    }
    try {
        if (m_recordPending) {
            m_rollbackTo->exec({});
            if (m_release)
                m_release->exec({});
            m_recordPending = false;
        }
        commit();
        return true;
    } catch (const DbError &) {
        m_recordPending = false;
        rollBackQuietly();
        m_group.clear();
        return false;
    }
}

} // namespace lectoria
