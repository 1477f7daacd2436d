#include "insertgroups.h"

#include <QSqlQuery>

#include <algorithm>

namespace lectoria {
namespace {
// One name serves every record: a savepoint is set again for each record and
// on SQLite released after it, so there is never more than one.
const QLatin1String savepoint("lectoria_record");
} // namespace

LibInsertGroups::LibInsertGroups(const QString &insertSql, int maxRecords, int maxMs)
    : m_maxRecords(std::max(1, maxRecords)), m_maxMs(std::max(0, maxMs)),
      m_sqlServer(LibDB::dialect() == Dialect::SqlServer)
{
    if (m_sqlServer) {
        // The savepoint travels in the record's own batch: one round trip per
        // record, as without groups. SQL Server has no release; setting a
        // savepoint of the same name again makes the newest the one a
        // rollback returns to.
        m_insert = std::make_unique<LibStatement>(QStringLiteral("save transaction ") + savepoint
                                                  + QLatin1Char('\n') + insertSql);
        m_rollbackTo = std::make_unique<LibStatement>(QStringLiteral("rollback transaction ") + savepoint);
    } else {
        m_save = std::make_unique<LibStatement>(QStringLiteral("savepoint ") + savepoint);
        m_insert = std::make_unique<LibStatement>(insertSql);
        m_release = std::make_unique<LibStatement>(QStringLiteral("release ") + savepoint);
        m_rollbackTo = std::make_unique<LibStatement>(QStringLiteral("rollback to ") + savepoint);
    }
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
    // IMMEDIATE: SQLite takes the write lock here, so that waiting for
    // another writer happens before a group starts, never inside one.
    LibDB::exec(m_sqlServer ? QStringLiteral("begin transaction") : QStringLiteral("begin immediate"));
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

bool LibInsertGroups::insert(const QVariantList &values, QString *why)
{
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
        LibDB::exec(m_sqlServer ? QStringLiteral("if @@trancount > 0 rollback transaction") : QStringLiteral("rollback"));
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
    LibDB::exec(m_sqlServer ? QStringLiteral("commit transaction") : QStringLiteral("commit"));
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
