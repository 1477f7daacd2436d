#include "insertgroups.h"

#include "exactodbc.h"
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
// Set at the start of every batch on SQL Server: a batch that fails on its
// way (a lost or cancelled request) is undone whole.
const QLatin1String batchSavepoint("lectoria_batch");
// The most a batch carries in values, in UTF-16 bytes: records with long
// summaries go in smaller batches.
constexpr qsizetype maxBatchBytes = qsizetype(4) << 20;

QString noReason() { return QStringLiteral("数据库未说明原因"); }

qsizetype bytesOf(const QVariantList &values)
{
    qsizetype n = 0;
    for (const QVariant &v : values)
        n += v.typeId() == QMetaType::QString ? 2 * v.toString().size() : 8;
    return n;
}

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

LibInsertGroups::LibInsertGroups(const Dialect &dialect, const QString &insertSql, Outcome outcome, int maxRecords,
                                 int maxMs)
    : m_maxRecords(std::max(1, maxRecords)), m_maxMs(std::max(0, maxMs)), m_sqlServer(dialect == Dialect::SqlServer), m_insertSql(insertSql), m_outcome(std::move(outcome))
{
    if (m_sqlServer) {
        m_perBatch = recordsPerBatch(int(insertSql.count(QLatin1Char('?'))));
    } else {
        m_save = std::make_unique<Statement>(QStringLiteral("savepoint ") + savepoint);
        m_insert = std::make_unique<Statement>(insertSql);
        m_release = std::make_unique<Statement>(QStringLiteral("release ") + savepoint);
        m_rollbackTo = std::make_unique<Statement>(QStringLiteral("rollback to ") + savepoint);
        m_widths = declaredWidths(insertSql);
    }
}

namespace {
int batchLimit = 0;
}

void LibInsertGroups::setBatchLimit(int records) { batchLimit = std::max(0, records); }

int LibInsertGroups::recordsPerBatch(int values)
{
    // 2,100 parameters at most per request; a hundred spare for the driver.
    const int most = std::clamp(2000 / std::max(1, values), 1, 200);
    return batchLimit > 0 ? std::min(most, batchLimit) : most;
}

QString LibInsertGroups::batchStatement(const QString &insertSql, int records)
{
    QStringList numbers;
    for (int n : sqlServerRefusalNumbers())
        numbers << QString::number(n);
    // A refused record is rolled back to its savepoint (its statement alone
    // is undone by the server anyway; a trigger's work is not) and noted; a
    // doomed transaction can only be rolled back whole, and the batch ends
    // there, as it does at any failure that is not a refusal of values:
    // every later record would meet the same lock or the same full log.
    const QString onFailure = QStringLiteral(
                                  "end try\nbegin catch\n"
                                  "if xact_state() = -1 rollback transaction\n"
                                  "if xact_state() = 1 rollback transaction %1\n"
                                  "insert @lectoria_refused values (%3, error_number(), error_message())\n"
                                  "if @@trancount = 0 or error_number() not in (%2) goto lectoria_end\n"
                                  "end catch\n")
                                  .arg(savepoint, numbers.join(QLatin1Char(',')));
    QString sql = QStringLiteral("set nocount on\n"
                                 "declare @lectoria_refused table (n int, number int, message nvarchar(4000))\n"
                                 "save transaction ")
        + batchSavepoint + QLatin1Char('\n');
    for (int i = 1; i <= records; ++i) {
        sql += QStringLiteral("save transaction ") + savepoint + QStringLiteral("\nbegin try\n") + insertSql
            + QLatin1Char('\n') + QString(onFailure).replace(QLatin1String("%3"), QString::number(i));
    }
    sql += QStringLiteral("lectoria_end:\n"
                          "select n, number, message, @@trancount as open_transactions from @lectoria_refused order by n");
    return sql;
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
    m_outcome = nullptr; // the caller is unwinding: nobody is told any more
    try {
        if (m_sqlServer && !m_batchPending)
            sendQueue();
    } catch (const Error &) {
        keepAfterFailure();
        return;
    }
    if (!m_open)
        return;
    try {
        if (m_recordPending)
            dropPendingRecord();
        if (m_batchPending)
            LibDB::exec(QStringLiteral("rollback transaction ") + batchSavepoint);
        commitNow();
    } catch (const Error &) {
        rollBackQuietly();
    }
}

void LibInsertGroups::begin(int firstTag)
{
    // IMMEDIATE: SQLite takes the write lock here, so that waiting for
    // another writer happens before a group starts, never inside one.
    LibDB::exec(m_sqlServer ? QStringLiteral("begin transaction") : QStringLiteral("begin immediate"));
    m_open = true;
    m_openFor.start();
    m_attempted = 0;
    if (firstTag >= 0)
        m_groupFirstTag = firstTag;
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

void LibInsertGroups::insert(const QVariantList &values, int tag)
{
    if (m_sqlServer) {
        m_queue.append({values, tag, false});
        m_queueBytes += bytesOf(values);
        if (m_queue.size() >= m_perBatch || m_queueBytes >= maxBatchBytes)
            sendQueue();
        return;
    }
    m_failedTag = tag;
    QString why;
    QVariantList fitted = values;
    if (!m_widths.isEmpty() && !fitWidths(fitted, &why)) {
        told(tag, why.isEmpty() ? noReason() : why);
        return;
    }
    if (!m_open)
        begin(tag);
    ++m_attempted;
    try {
        runOne(fitted);
    } catch (const DbValueRefused &e) {
        undoRecord();
        told(tag, e.text().isEmpty() ? noReason() : e.text());
        return;
    }
    m_group.append(fitted);
    told(tag, QString());
}

void LibInsertGroups::dropPendingRecord()
{
    m_rollbackTo->exec({});
    if (m_release)
        m_release->exec({});
    m_recordPending = false;
}

void LibInsertGroups::undoRecord()
{
    try {
        dropPendingRecord();
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
        begin(-1);
        for (const QVariantList &values : std::as_const(again)) {
            runOne(values);
            m_group.append(values);
        }
        m_attempted = int(m_group.size());
    } catch (const DbError &e) {
        m_recordPending = false;
        m_group = again;
        failReplay(e.text());
    }
}

void LibInsertGroups::failReplay(const QString &text)
{
    // Records the database took a moment ago and now refuses: the database
    // is not what it was. None of the group is stored.
    rollBackQuietly();
    if (m_group.isEmpty())
        m_group.append(QVariantList()); // keepAfterFailure() tells the group is lost
    m_queue.clear();
    m_queueBytes = 0;
    m_failedTag = m_groupFirstTag;
    throw DbError(text);
}

void LibInsertGroups::rollBackQuietly()
{
    m_open = false;
    m_batchPending = false;
    try {
        LibDB::exec(m_sqlServer ? QStringLiteral("if @@trancount > 0 rollback transaction") : QStringLiteral("rollback"));
    } catch (const DbError &) {
        // SQLite says so when it has already rolled back; nothing is left to undo.
    }
}

void LibInsertGroups::sendQueue()
{
    while (!m_queue.isEmpty()) {
        // As many records as a batch takes, fewer when their values are long.
        int count = 0;
        qsizetype bytes = 0;
        while (count < m_queue.size() && count < m_perBatch) {
            bytes += bytesOf(m_queue.at(count).values);
            if (count > 0 && bytes > maxBatchBytes)
                break;
            ++count;
        }
        sendBatch(count);
    }
    m_queueBytes = 0;
}

void LibInsertGroups::sendBatch(int count)
{
    // Records stored again after the database lost their group lead the queue.
    int replays = 0;
    while (replays < count && m_queue.at(replays).replay)
        ++replays;
    m_failedTag = m_queue.first().tag;
    if (!m_open)
        begin(replays > 0 ? -1 : m_queue.first().tag);
    if (!m_batches.contains(count)) {
        // The full size and one other: a batch of another size is a
        // statement of its own, prepared on the server.
        for (auto it = m_batches.begin(); it != m_batches.end();) {
            if (it.key() != m_perBatch)
                it = m_batches.erase(it);
            else
                ++it;
        }
        m_batches.insert(count, std::make_shared<LibStatement>(batchStatement(m_insertSql, count)));
    }
    const std::shared_ptr<LibStatement> run = m_batches.value(count);
    QVariantList values;
    for (int i = 0; i < count; ++i)
        values += m_queue.at(i).values;

    QList<QStringList> answer;
    m_batchPending = true;
    try {
        answer = run->rows(values);
    } catch (const DbError &e) {
        if (replays > 0)
            failReplay(e.text());
        throw;
    }
    m_batchPending = false;
    m_attempted += count;

    // The rows: record (from 1), error number, text, @@trancount after the batch.
    bool stopped = false, lost = false;
    int dealt = count; // the records the batch dealt with, from the first
    QString failure;
    int failureNumber = 0;
    QHash<int, QString> refused;
    for (const QStringList &row : std::as_const(answer)) {
        if (row.size() < 4)
            continue;
        const int at = row.at(0).toInt() - 1;
        if (at < 0 || at >= count)
            continue;
        if (!m_prefixKnown) {
            m_messagePrefix = serverMessagePrefix(LibDB::database());
            m_prefixKnown = true;
        }
        const QString text = row.at(2).isEmpty() ? noReason() : m_messagePrefix + row.at(2);
        lost = row.at(3).toInt() == 0;
        if (at < replays) {
            m_queue.clear();
            m_queueBytes = 0;
            failReplay(text);
        }
        if (sqlServerRefusedValues(row.at(1).toInt())) {
            refused.insert(at, text);
            if (lost)
                dealt = at + 1;
        } else {
            stopped = true;
            dealt = at;
            failure = text;
            failureNumber = row.at(1).toInt();
        }
    }
    for (int i = 0; i < dealt; ++i) {
        const Record &r = m_queue.at(i);
        if (refused.contains(i)) {
            told(r.tag, refused.value(i));
            continue;
        }
        m_group.append(r.values);
        if (!r.replay) // told when it first went in
            told(r.tag, QString());
    }
    if (stopped) {
        m_failedTag = m_queue.at(dealt).tag;
        m_queue.clear();
        m_queueBytes = 0;
        if (lost)
            m_open = false; // the server rolled the group back: what m_group holds is lost
        LibDB::failSqlServer(failureNumber, failure);
    }
    QVector<Record> rest = m_queue.mid(dealt);
    m_queue.clear();
    if (lost) {
        // The refusal ended the transaction: the group so far again, then
        // the records after the refused one.
        m_open = false;
        for (const QVariantList &v : std::as_const(m_group))
            m_queue.append({v, -1, true});
        m_group.clear();
    }
    m_queue += rest;
}

void LibInsertGroups::commitIfDue()
{
    // On SQL Server the queue fills a batch first; a group ends between batches.
    if (!m_queue.isEmpty())
        return;
    if (m_open && (m_attempted >= m_maxRecords || m_openFor.elapsed() >= m_maxMs))
        commitNow();
}

void LibInsertGroups::commit()
{
    sendQueue();
    commitNow();
}

void LibInsertGroups::commitNow()
{
    if (!m_open)
        return;
    LibDB::exec(m_sqlServer ? QStringLiteral("commit transaction") : QStringLiteral("commit"));
    m_longestMs = std::max(m_longestMs, m_openFor.elapsed());
    m_open = false;
    m_group.clear();
    ++m_groups;
}

bool LibInsertGroups::keepAfterFailure()
{
    m_queue.clear();
    m_queueBytes = 0;
    if (!m_open) {
        // No group open: nothing was lost unless a group was rolled back
        // before it could be inserted again.
        const bool nothingLost = m_group.isEmpty();
        m_group.clear();
        m_batchPending = false;
        return nothingLost;
    }
    try {
        if (m_recordPending)
            dropPendingRecord();
        if (m_batchPending) {
            // A batch that did not answer may have inserted some of its
            // records: none of them counts as stored, so none stays.
            LibDB::exec(QStringLiteral("rollback transaction ") + batchSavepoint);
            m_batchPending = false;
        }
        commitNow();
        return true;
    } catch (const DbError &) {
        m_recordPending = false;
        rollBackQuietly();
        m_group.clear();
        return false;
    }
}

} // namespace lectoria
