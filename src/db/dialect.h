#pragma once
#include <QDate>
#include <QString>

namespace lectoria {

// How statements are written for one database engine. The console's
// statements are Transact-SQL; the embedded demo database is SQLite (through
// QSQLITE or the SQLite ODBC driver). The connection knows its dialect
// (LibDB::dialect()); statement builders take it as a value, so that what a
// statement looks like never depends on process-wide state.
class Dialect {
public:
    static const Dialect SqlServer;
    static const Dialect Sqlite;

    bool operator==(const Dialect &o) const { return m_engine == o.m_engine; }
    bool operator!=(const Dialect &o) const { return m_engine != o.m_engine; }

    // A date as a complete literal with its quotes. SQLite compares the
    // stored text, so it gets 'yyyy-mm-dd'; SQL Server reads 'yyyy-mm-dd' by
    // the login language's day order (year-day-month under British, German,
    // French...), but 'yyyymmdd' as the same day under every language.
    QString date(const QDate &d) const;

    // The verbs of an import group: a transaction (on SQLite IMMEDIATE, so
    // that waiting for another writer happens before a group starts, never
    // inside one), its commit, and a rollback that does no harm when the
    // database has already ended the transaction.
    QString beginTransaction() const;
    QString commitTransaction() const;
    QString rollbackTransaction() const;
    // A savepoint: set, returned to, and released. SQL Server has no
    // release (empty); setting a savepoint of the same name again makes the
    // newest the one a rollback returns to.
    QString setSavepoint(const QString &name) const;
    QString rollbackToSavepoint(const QString &name) const;
    QString releaseSavepoint(const QString &name) const;

    // Entry dates from `first` to `last`, both whole days: "li_logtime>=FIRST"
    // and "li_logtime<THE DAY AFTER LAST". No entry date lies after the last
    // day a date can name (9999-12-31); the day after it would be the year
    // 10000, which no database reads as a date, so a period ending there has
    // no upper bound (empty).
    struct EntryBounds {
        QString from;
        QString before;
    };
    EntryBounds entryBounds(const QDate &first, const QDate &last) const;

private:
    enum class Engine : quint8 { SqlServer, Sqlite };
    constexpr explicit Dialect(Engine e) : m_engine(e) {}
    Engine m_engine;
};

inline const Dialect Dialect::SqlServer{Dialect::Engine::SqlServer};
inline const Dialect Dialect::Sqlite{Dialect::Engine::Sqlite};

// A finished statement as the server of this dialect takes it. On SQL
// Server, every literal holding Chinese text gets the N prefix; on SQLite the
// few constructs SQLite does not know are put its way. Only the statement's
// own words are rewritten, never the inside of a quoted literal (a search for
// the text "getdate()" stays a search for that text). An empty result means
// the statement has no counterpart there and is skipped (the primary key
// constraint that SQLite declares inside the table instead).
QString adaptStatement(const QString &sql, const Dialect &dialect);

// "backup database NAME to disk='FILE' ...": the FILE named, with doubled
// quotes undone; empty when the statement is not a backup. On SQLite the
// statement writes FILE + BackupPartSuffix first (see runBackupStatement).
QString backupDiskFile(const QString &sql);
constexpr const char *BackupPartSuffix = ".part";

} // namespace lectoria
