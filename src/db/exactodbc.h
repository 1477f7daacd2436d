#pragma once
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlQuery>

#include <optional>

namespace lectoria {

// The console's driver for ODBC connections: Qt's ODBC driver prepares, binds,
// runs and fetches, and this one reads every value of every row itself through
// the ODBC API on Qt's statement handle.
//
// Why: Qt 6.4's driver reads a text column in pieces sized from the column's
// declared width (n+1 characters for CHAR(n)) and stops at the first piece
// whose total length the ODBC driver cannot tell (SQL_NO_TOTAL). FreeTDS
// answers exactly that whenever it converts the server's code page and the
// value does not fit the piece, so Chinese text filling a CHAR column and
// every TEXT value longer than a piece came back empty. Here text is read as
// UTF-16 piece after piece until the ODBC driver says the value is complete,
// whatever it answers for the length.
//
// Queries on a connection made with this driver are ordinary QSqlQuery
// objects; everything above LibDB reads them as before.
class ExactOdbcDriver : public QSqlDriver {
public:
    // Qt's driver runs on a connection registered under innerName.
    explicit ExactOdbcDriver(const QString &innerName);
    ~ExactOdbcDriver() override;
    // Unregisters that connection; call it once the connection using this
    // driver has been removed.
    static void removeInner(const QString &innerName);

    bool open(const QString &db, const QString &user, const QString &password, const QString &host, int port,
              const QString &options) override;
    void close() override;
    bool hasFeature(DriverFeature f) const override;
    QSqlResult *createResult() const override;
    QVariant handle() const override;
    bool beginTransaction() override;
    bool commitTransaction() override;
    bool rollbackTransaction() override;
    QStringList tables(QSql::TableType type) const override;
    QSqlRecord record(const QString &table) const override;
    QSqlIndex primaryIndex(const QString &table) const override;
    QString escapeIdentifier(const QString &identifier, IdentifierType type) const override;
    QString formatValue(const QSqlField &field, bool trimStrings) const override;

    // SQL Server answers no other statement on a connection while a result
    // is still being read (without multiple active result sets). Before a
    // statement runs, the result still being read takes the rest of its rows
    // into memory; results that are read to their end or dropped first cost
    // nothing. Called by this driver's results.
    void aboutToRun(QSqlResult *result);
    void streaming(QSqlResult *result);
    void done(QSqlResult *result);

    // The seconds of silence after which the ODBC driver gives a statement
    // up (its query timeout), so that such a failure says so in the
    // operator's words; 0 when none is set.
    void setSilenceLimit(int seconds) { m_silenceLimit = seconds; }
    int silenceLimit() const { return m_silenceLimit; }
    // Whether the ODBC driver knows the connection to be gone (a server that
    // closed it, one given up on): no statement can run on it any more.
    bool connectionLost() const;

private:
    QSqlDriver *inner() const;
    QString m_innerName;
    QSqlDatabase m_innerDb;
    bool m_oneStatementAtATime = false;
    int m_silenceLimit = 0;
    QSqlResult *m_streaming = nullptr;
};

// An ODBC handle (environment, connection or statement) from what a driver's
// or a result's handle() gives; nullptr when it holds none.
void *odbcHandle(const QVariant &handle);

// Runs a statement prepared on query, through ExactOdbcDriver, with the values
// bound by our own code: each parameter keeps its buffer and declared type
// from one run to the next, so that FreeTDS runs the prepared statement again
// (one request, sp_execute) instead of preparing it anew for every run.
// With rows, every row of every result the statement answers is read into
// it, each value as text (NULL as a null string); without, its rows are
// dropped. nullopt when the query is not on such a connection; else whether
// it ran (query.lastError() says why not).
std::optional<bool> execPreparedSteadily(QSqlQuery &query, const QVariantList &values,
                                         QList<QStringList> *rows = nullptr);

// How the ODBC driver of the connection words a message of the server: the
// words it puts before the server's own text ("[FreeTDS][SQL Server]"),
// learnt from a PRINT the server answers. Empty when not on such a connection
// or the driver adds nothing.
QString serverMessagePrefix(const QSqlDatabase &db);

} // namespace lectoria
