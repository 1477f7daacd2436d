#pragma once
#include "dialect.h"
#include "errors.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <QVector>

namespace lectoria {

// A statement the database refused for the values it carried (a constraint,
// a value its column cannot take, a failed conversion): the database itself
// is sound and the next statement may well go through. Every other failure
// of a statement (a lock held too long, a read-only or full database, a lost
// connection, a statement the database does not know) is a plain DbError.
class DbValueRefused : public DbError {
public:
    using DbError::DbError;
};

// SQL Server's message numbers of statements refused for their values.
const QVector<int> &sqlServerRefusalNumbers();
bool sqlServerRefusedValues(int number);

// A statement SQL Server refused because the login lacks a right on the
// database or on an object (the site's own restricted login, for example).
// The database is sound; someone who administers it must grant the right.
class DbPermissionDenied : public DbError {
public:
    using DbError::DbError;
};

// SQL Server's message numbers for a right the login lacks: 229/230 an
// object's permission, 262 a database permission (CREATE TABLE, BACKUP
// DATABASE), 297 the user has no access, 300 a server permission, 1088 an
// object to alter that "does not exist or you do not have permissions".
bool isPermissionError(int nativeCode);
// The message number of a failure's first diagnostic record (Qt may list
// those of several records, separated by ";"); 0 when there is none.
int firstNativeCode(const QSqlError &e);

// What the machine settings hold about the connection, as stored: the user
// name and password unprotected, blanks at either end trimmed; no key gives
// exists false and every field empty. The connection dialog shows it as it
// is; LibDB::paramsFromSettings() adds the defaults for connecting.
struct StoredConnection {
    bool exists = false;
    QString odbcName;
    QString user;
    QString password;
};

// What a connection is made with.
struct ConnectionParams {
    // An ODBC data source name, a full ODBC connection string ("DRIVER=...;..."),
    // or "sqlite:" and a path for the embedded engine (relative to the folder of
    // the settings file).
    QString odbcName;
    bool hasCredentials = false; // the key exists: user name and password are passed
    QString user;
    QString password;
};

// The one database connection of the run, named LibDB, shared by every window.
class LibDB {
public:
    static constexpr const char *Name = "LibDB";

    // The one reader of the stored connection settings. *settingsError
    // receives a message when the settings exist but cannot be read.
    static StoredConnection storedConnection(QString *settingsError = nullptr);
    // What to connect with: the stored settings, or without a key the data
    // source "wwwODBC" and no credentials at all.
    static ConnectionParams paramsFromSettings(QString *settingsError = nullptr);

    // The ODBC connection string for a data source name or connection string,
    // with the credentials written so that the driver manager and the driver
    // read them back as they stand (see credentialsProblem()).
    static QString odbcConnectionString(const ConnectionParams &p);
    // Why the user name or password cannot reach the server as it stands
    // through the connection string (in Chinese, for the connection dialog),
    // or empty. open() refuses such parameters rather than send something
    // else.
    static QString credentialsProblem(const ConnectionParams &p);

    // Opens the connection. False, with the reason in *error, when it cannot be made.
    static bool open(const ConnectionParams &p, QString *error = nullptr);
    static void close();
    static bool isOpen();
    static QSqlDatabase database();
    static Dialect dialect();
    // An embedded database file this process may not write, opened for reading only.
    static bool readOnly();

    // Runs one statement, given as lines joined by line breaks, on a
    // forward-only query. A failing statement throws DbError with the
    // database's own text (DbValueRefused when its values were refused).
    static QSqlQuery exec(const QStringList &lines);
    static QSqlQuery exec(const QString &sql);
    // With values bound to the "?" placeholders, for text typed by operators
    // or read from files.
    static QSqlQuery exec(const QString &sql, const QVariantList &values);
    // The first column of the first row, or an invalid value when there is no row.
    static QVariant scalar(const QString &sql);
    // Moves a query LibDB::exec gave to its next row; false after its last.
    // A failure while reading the rows (a connection lost or given up on in
    // the middle of the result) throws DbError with the database's text: a
    // result cut short never passes for a complete one.
    static bool next(QSqlQuery &q);

    // Date-times come back as text from SQLite and as date-times from ODBC;
    // everything above this layer gets them in one form.
    static QDateTime toDateTime(const QVariant &v);

    // How long a statement waits for data that another user holds locked
    // (SQL Server's LOCK_TIMEOUT, SQLite's busy timeout), in milliseconds.
    // Opening takes it from the machine settings (LOCKTIMEOUT); setting it
    // applies it to the open connection at once. A statement that waits
    // longer fails with lockWaitText().
    static void setLockTimeout(int ms);
    static int lockTimeout();
    // "数据库一直忙……" with how long it waited, then the database's own text.
    static QString lockWaitText(const QString &databaseText);

    // Every statement sent, as the console wrote it (before adaptation to the
    // dialect). For tests; nullptr switches logging off.
    static void setStatementLog(QStringList *log);
    // Adds a statement sent on LibDB's connection by other means to that log.
    static void noteStatement(const QString &sql);
    // Throws what a statement failing on the embedded engine with this
    // result code and text throws.
    [[noreturn]] static void failSqlite(int resultCode, const QString &text);
    // The same for a statement SQL Server failed with this message number
    // and text (as an import's batch reports a record's failure).
    [[noreturn]] static void failSqlServer(int number, const QString &text);
};

// Keeps a piece of work to one run of the console at a time on the database
// (an import of one kind), for as long as it lives: on SQL Server the
// application lock of the given name, held by the session; on the embedded
// engine a lock on byte `slot` (0 to 255) of the database file's lock page,
// which SQLite itself never uses, held by this object (SQLite's own write
// lock would not do: an import commits in groups and lets go of it after
// each). It waits as long as a statement waits for a lock; when the other run
// is still at work then, it throws DbError with `refusal`. Released when it
// ends (on SQL Server also when the connection goes). A database opened for
// reading only takes no lock: nothing can be written there anyway.
class LibWorkLock {
public:
    LibWorkLock(const QString &name, int slot, const QString &refusal);
    ~LibWorkLock();
    LibWorkLock(const LibWorkLock &) = delete;
    LibWorkLock &operator=(const LibWorkLock &) = delete;

private:
    QString m_name;
    bool m_serverLock = false;
    int m_fd = -1;
    void *m_file = nullptr; // Windows: a handle of our own on the database file
    qint64 m_offset = 0;
};

// A statement prepared once and run for many sets of bound values, as a bulk
// import does: each run is logged and takes effect by itself like
// LibDB::exec(sql, values), without adapting and preparing the text again.
class LibStatement {
public:
    explicit LibStatement(const QString &sql);
    // Throws DbError with the database's own text, DbValueRefused when the
    // database refused the values.
    void exec(const QVariantList &values);
    // The same for a statement that answers rows: every row of every result,
    // each value as text (NULL as a null string).
    QList<QStringList> rows(const QVariantList &values);

private:
    void bind(const QVariantList &values);
    QString m_sql;
    QSqlQuery m_query;
    bool m_prepared = false;
};

// While it lives, the embedded engine is set up for one long run of reads or
// single-statement writes on LibDB (an export, an import): pages are read
// through a memory map instead of one system call each, and WAL checkpoints,
// each of which syncs the disk, come every ten thousand pages instead of
// every thousand (in WAL mode). Every statement still commits on its own and
// the journal mode and sync setting stay as they are, so nothing of safety is
// traded. The previous settings come back at its end. Nothing changes on SQL
// Server.
class LibBulkRun {
public:
    LibBulkRun();
    ~LibBulkRun();
    LibBulkRun(const LibBulkRun &) = delete;
    LibBulkRun &operator=(const LibBulkRun &) = delete;

private:
    QVariant m_mmapSize;
    QVariant m_autoCheckpoint;
};

} // namespace lectoria
