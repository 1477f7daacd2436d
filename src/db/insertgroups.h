#pragma once
#include "libdb.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QVariantList>
#include <QVector>

#include <functional>
#include <memory>

namespace lectoria {

// Runs one INSERT statement for many records on LibDB, committing them in
// groups: a group is one transaction, closed after maxRecords records or once
// it has been open maxMs milliseconds, whichever comes first, so that a crash
// loses at most the last group and no group keeps the table's new rows locked
// from the site's readers for longer than that. Each record runs under a
// savepoint of its own: a record whose values the database refuses is rolled
// back alone and the rest of its group stays.
//
// On SQLite each record is inserted when it is handed over. On SQL Server
// the records travel in batches, many records in one request (see
// batchStatement()): a round trip costs more than the server's work for a
// record. The batch inserts each record in a TRY/CATCH block under its own
// savepoint and answers which records it refused, with the server's texts;
// it stops at the first failure that is not a refusal of values (a lock
// held too long, a full log), and the records before it stay in the group.
//
// Some refusals take the whole transaction with them (an SQLite trigger's
// RAISE(ROLLBACK), a SQL Server error that dooms the transaction or ends it).
// The group's earlier records are then inserted again in a new transaction
// from the values kept for that purpose, so that a refused record never costs
// its neighbours.
//
// Records are known by a number the caller gives (its tag). What became of
// each is told to the outcome function in the order the records were handed
// over, on SQL Server once its batch has been answered.
class LibInsertGroups {
public:
    // why is empty when the record was stored (in the open group), else the
    // database's reason for refusing it; the record then left no trace.
    using Outcome = std::function<void(int tag, const QString &why)>;

    LibInsertGroups(const Dialect &dialect, const QString &insertSql, Outcome outcome, int maxRecords = 1000,
                    int maxMs = 200);
    // Commits an open group (an exception such as a read error of the file
    // may leave one), records not yet sent included: what was handed over
    // before stays, as it would have without groups. Nothing throws from here.
    ~LibInsertGroups();
    LibInsertGroups(const LibInsertGroups &) = delete;
    LibInsertGroups &operator=(const LibInsertGroups &) = delete;

    // Whether records handed over since the last commit are not yet committed.
    bool groupOpen() const { return m_open || !m_queue.isEmpty(); }

    // Hands one record over, to be inserted in the open group (opened first
    // when none is). Throws DbError when the database itself fails; call
    // keepAfterFailure() then.
    void insert(const QVariantList &values, int tag);

    // Commits the open group when it is full or has been open long enough.
    // Throws DbError.
    void commitIfDue();
    // Sends what is waiting and commits the open group, if any. Throws DbError.
    void commit();

    // After a DbError: undoes what the failing record or batch may have left
    // and commits the group's records before it. False when the group could
    // not be kept (the database had already rolled it back, or the commit
    // failed): every record since the group opened is then not stored.
    bool keepAfterFailure();
    // After a DbError: the record at which the database failed; it and every
    // record handed over after it are not stored, and their outcomes are
    // never told. With keepAfterFailure() false, groupFirstTag() is the first
    // record not stored.
    int failedTag() const { return m_failedTag; }
    // The first record of the open group (or of the group last lost), -1 before any.
    int groupFirstTag() const { return m_groupFirstTag; }

    // The longest time a group stayed open, in ms (for the benchmark's figures).
    qint64 longestGroupMs() const { return m_longestMs; }
    int groupsCommitted() const { return m_groups; }

    // SQL Server: the T-SQL batch that inserts `records` records with
    // insertSql, each in its own savepoint and TRY/CATCH, and answers one
    // row (record from 1, error number, error text, @@trancount after the
    // batch) per record it refused or failed at, in record order.
    static QString batchStatement(const QString &insertSql, int records);
    // Records per batch for a statement of `values` placeholders: SQL Server
    // takes at most 2,100 parameters in one request.
    static int recordsPerBatch(int values);
    // At most this many records per batch from now on (0: as many as
    // recordsPerBatch() allows); the benchmark compares with one per request.
    static void setBatchLimit(int records);

private:
    struct Record {
        QVariantList values;
        int tag = 0;
        bool replay = false; // stored before, in the group the database lost
    };
    void begin(int firstTag);
    void runOne(const QVariantList &values);
    // Returns to the pending record's savepoint and releases it: the record
    // leaves no trace. Throws DbError when there is no savepoint to return to.
    void dropPendingRecord();
    void undoRecord();
    void rollBackQuietly();
    void replayGroup();
    void sendQueue();
    void sendBatch(int count);
    [[noreturn]] void failReplay(const QString &text);
    // On SQLite: values as SQL Server would store them in the columns'
    // CHAR(n)/VARCHAR(n) widths (blanks beyond the width dropped); false,
    // with the reason, when a value does not fit.
    bool fitWidths(QVariantList &values, QString *why) const;
    void commitNow();
    void told(int tag, const QString &why)
    {
        if (m_outcome)
            m_outcome(tag, why);
    }

    const int m_maxRecords;
    const int m_maxMs;
    const bool m_sqlServer;
    QString m_insertSql;
    Outcome m_outcome;
    class Statement;
    std::unique_ptr<Statement> m_save; // SQLite; SQL Server sets it in m_insert
    std::unique_ptr<Statement> m_insert;
    std::unique_ptr<Statement> m_release; // SQLite only
    std::unique_ptr<Statement> m_rollbackTo;
    // SQL Server: the batch statements by their number of records (the full
    // size and the one other size last used).
    QHash<int, std::shared_ptr<LibStatement>> m_batches;
    QVector<Record> m_queue; // handed over, not yet sent
    qsizetype m_queueBytes = 0;
    int m_perBatch = 1;
    bool m_batchPending = false; // a batch was sent and did not answer
    QString m_messagePrefix;     // how the ODBC driver words a server's message
    bool m_prefixKnown = false;
    bool m_open = false;
    bool m_recordPending = false; // a record's savepoint is set and not yet released
    QElapsedTimer m_openFor;
    QVector<QVariantList> m_group; // values of the records inserted in the open group
    int m_attempted = 0;           // records sent in the open group, refused ones included
    QVector<int> m_widths;         // SQLite: each value's column width in GBK bytes, 0 for none
    int m_failedTag = -1;
    int m_groupFirstTag = -1;
    qint64 m_longestMs = 0;
    int m_groups = 0;
};

} // namespace lectoria
