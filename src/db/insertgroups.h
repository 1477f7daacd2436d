#pragma once
#include "libdb.h"

#include <QElapsedTimer>
#include <QString>
#include <QVariantList>
#include <QVector>

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
// Some refusals take the whole transaction with them (an SQLite trigger's
// RAISE(ROLLBACK), a SQL Server error that dooms the transaction or ends it).
// The group's earlier records are then inserted again in a new transaction
// from the values kept for that purpose, so that a refused record never costs
// its neighbours.
class LibInsertGroups {
public:
    LibInsertGroups(const Dialect &dialect, const QString &insertSql, int maxRecords = 1000, int maxMs = 200);
    // Commits an open group (an exception such as a read error of the file
    // may leave one): what was inserted before stays, as it would have without
    // groups. Nothing throws from here.
    ~LibInsertGroups();
    LibInsertGroups(const LibInsertGroups &) = delete;
    LibInsertGroups &operator=(const LibInsertGroups &) = delete;

    // Whether a group is open: records inserted since its start are not yet
    // committed.
    bool groupOpen() const { return m_open; }

    // Inserts one record, opening a group first when none is open. False,
    // with the database's reason in *why, when the values were refused; the
    // record then left no trace. Throws DbError when the database itself
    // fails; call keepAfterFailure() then.
    bool insert(const QVariantList &values, QString *why);

    // Commits the open group when it is full or has been open long enough.
    // Throws DbError.
    void commitIfDue();
    // Commits the open group, if any. Throws DbError.
    void commit();

    // After insert() threw: undoes what the failing record may have left and
    // commits the group's earlier records. False when the group could not be
    // kept (the database had already rolled it back, or the commit failed):
    // every record since the group opened is then not stored.
    bool keepAfterFailure();

    // The longest time a group stayed open, in ms (for the benchmark's figures).
    qint64 longestGroupMs() const { return m_longestMs; }
    int groupsCommitted() const { return m_groups; }

private:
    void begin();
    void runOne(const QVariantList &values);
    void undoRecord();
    void rollBackQuietly();
    void replayGroup();
    // On SQLite: values as SQL Server would store them in the columns'
    // CHAR(n)/VARCHAR(n) widths (blanks beyond the width dropped); false,
    // with the reason, when a value does not fit.
    bool fitWidths(QVariantList &values, QString *why) const;

    const int m_maxRecords;
    const int m_maxMs;
    const Dialect m_dialect;
    class Statement;
    std::unique_ptr<Statement> m_save; // SQLite; SQL Server sets it in m_insert
    std::unique_ptr<Statement> m_insert;
    std::unique_ptr<Statement> m_release; // SQLite only
    std::unique_ptr<Statement> m_rollbackTo;
    bool m_open = false;
    bool m_recordPending = false; // a record's savepoint is set and not yet released
    QElapsedTimer m_openFor;
    QVector<QVariantList> m_group; // values of the records inserted in the open group
    QVector<int> m_widths;         // SQLite: each value's column width in GBK bytes, 0 for none
    qint64 m_longestMs = 0;
    int m_groups = 0;
};

} // namespace lectoria
