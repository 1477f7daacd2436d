#include "exactodbc.h"

#include <QDateTime>
#include <QPointer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlField>
#include <QSqlIndex>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>
#include <QVector>

#include <sql.h>
#include <sqlext.h>

namespace lectoria {
namespace {

SQLHANDLE handleOf(const QVariant &v)
{
    // Qt's ODBC driver hands out its handles as pointer-sized values.
    if (!v.isValid() || v.metaType().sizeOf() != int(sizeof(SQLHANDLE)))
        return nullptr;
    return *static_cast<const SQLHANDLE *>(v.constData());
}

// How a column is read, from its ODBC type.
enum class Read { Text, Int, BigInt, Double, Date, Time, DateTime, Binary };

Read readFor(SQLLEN sqlType)
{
    switch (sqlType) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR:
    case SQL_WCHAR: case SQL_WVARCHAR: case SQL_WLONGVARCHAR:
    case SQL_GUID:
        return Read::Text;
    case SQL_INTEGER: case SQL_SMALLINT: case SQL_TINYINT: case SQL_BIT:
        return Read::Int;
    case SQL_BIGINT:
        return Read::BigInt;
    case SQL_DECIMAL: case SQL_NUMERIC: case SQL_FLOAT: case SQL_DOUBLE: case SQL_REAL:
        return Read::Double;
    case SQL_DATE: case SQL_TYPE_DATE:
        return Read::Date;
    case SQL_TIME: case SQL_TYPE_TIME: case -154: // SQL Server's time(n)
        return Read::Time;
    case SQL_TIMESTAMP: case SQL_TYPE_TIMESTAMP:
        return Read::DateTime;
    default:
        return Read::Binary;
    }
}

QMetaType metaTypeFor(Read r)
{
    switch (r) {
    case Read::Text: return QMetaType(QMetaType::QString);
    case Read::Int: return QMetaType(QMetaType::Int);
    case Read::BigInt: return QMetaType(QMetaType::LongLong);
    case Read::Double: return QMetaType(QMetaType::Double);
    case Read::Date: return QMetaType(QMetaType::QDate);
    case Read::Time: return QMetaType(QMetaType::QTime);
    case Read::DateTime: return QMetaType(QMetaType::QDateTime);
    case Read::Binary: break;
    }
    return QMetaType(QMetaType::QByteArray);
}

// A value whose whole length the ODBC driver may not know in advance, read
// piece after piece into one array. Each piece fills the buffer but for the
// terminator the driver adds to text; the last piece is the one whose length
// the driver gives and that fits. False when the driver reports an error.
bool readPieces(SQLHSTMT h, SQLUSMALLINT column, SQLSMALLINT cType, QByteArray &buf, QByteArray *out, bool *isNull)
{
    const SQLLEN terminator = cType == SQL_C_WCHAR ? SQLLEN(sizeof(SQLWCHAR)) : 0;
    out->clear();
    *isNull = false;
    for (bool first = true;; first = false) {
        SQLLEN ind = 0;
        const SQLRETURN r = SQLGetData(h, column, cType, buf.data(), SQLLEN(buf.size()), &ind);
        if (r == SQL_NO_DATA)
            return true; // nothing more after the pieces already read
        if (!SQL_SUCCEEDED(r))
            return false;
        if (ind == SQL_NULL_DATA) {
            *isNull = first;
            return true;
        }
        const SQLLEN room = SQLLEN(buf.size()) - terminator;
        if (ind != SQL_NO_TOTAL && ind <= room) {
            out->append(buf.constData(), ind);
            return true;
        }
        if (r == SQL_SUCCESS) {
            // Complete by the return code although the length is unknown:
            // the text ends at its terminator.
            SQLLEN n = 0;
            if (terminator) {
                const auto *w = reinterpret_cast<const SQLWCHAR *>(buf.constData());
                while (n < room && w[n / SQLLEN(sizeof(SQLWCHAR))]) n += SQLLEN(sizeof(SQLWCHAR));
            } else {
                n = room;
            }
            out->append(buf.constData(), n);
            return true;
        }
        out->append(buf.constData(), room);
        // The rest in one piece when its size is known, else in growing ones.
        const SQLLEN next = ind == SQL_NO_TOTAL ? SQLLEN(buf.size()) * 2 : ind - room + terminator;
        if (next > buf.size())
            buf.resize(qsizetype(qMin<SQLLEN>(next, SQLLEN(64) << 20)));
    }
}

class ExactOdbcResult : public QSqlResult {
public:
    explicit ExactOdbcResult(ExactOdbcDriver *driver, const QSqlDatabase &inner)
        : QSqlResult(driver), m_driver(driver), m_inner(inner)
    {
    }
    ~ExactOdbcResult() override
    {
        if (m_driver)
            m_driver->done(this);
    }

    // Reads the rows not yet fetched into memory and frees the statement.
    void bufferRest()
    {
        m_buffered = true;
        while (m_inner.next()) {
            readRow();
            m_rest.append(m_row);
        }
        m_inner.finish();
        m_row.clear();
    }

protected:
    bool reset(const QString &sql) override
    {
        startRun();
        m_inner.setForwardOnly(isForwardOnly());
        return finishExec(m_inner.exec(sql));
    }

    bool prepare(const QString &sql) override
    {
        startRun();
        m_inner.setForwardOnly(isForwardOnly());
        if (!m_inner.prepare(sql)) {
            setLastError(m_inner.lastError());
            return false;
        }
        return true;
    }

    bool exec() override
    {
        startRun();
        const QVariantList values = boundValues();
        for (qsizetype i = 0; i < values.size(); ++i)
            m_inner.bindValue(int(i), values.at(i), bindValueType(int(i)));
        return finishExec(m_inner.exec());
    }

    bool fetchNext() override
    {
        if (m_buffered) {
            if (m_rest.isEmpty()) {
                m_row.clear();
                return false;
            }
            m_row = m_rest.takeFirst();
            setAt(at() + 1);
            return true;
        }
        const bool ok = fetched(m_inner.next(), at() + 1);
        if (!ok && m_driver)
            m_driver->done(this);
        return ok;
    }
    bool fetchPrevious() override { return !m_buffered && fetched(m_inner.previous(), at() - 1); }
    bool fetchFirst() override
    {
        if (m_buffered || isForwardOnly())
            return at() == QSql::BeforeFirstRow && fetchNext();
        return fetched(m_inner.first(), 0);
    }
    bool fetchLast() override { return !m_buffered && fetched(m_inner.last(), m_inner.at()); }
    bool fetch(int i) override
    {
        if (m_buffered || isForwardOnly()) {
            // Forward only: as far as row i, never back.
            if (i < at())
                return false;
            while (at() < i)
                if (!fetchNext())
                    return false;
            return true;
        }
        return fetched(m_inner.seek(i), i);
    }

    QVariant data(int field) override
    {
        return field >= 0 && field < m_row.size() ? m_row.at(field) : QVariant();
    }
    bool isNull(int field) override { return data(field).isNull(); }
    int size() override { return m_inner.size(); }
    int numRowsAffected() override { return m_inner.numRowsAffected(); }
    QSqlRecord record() const override { return m_record; }
    QVariant lastInsertId() const override { return m_inner.lastInsertId(); }
    QVariant handle() const override { return m_inner.result() ? m_inner.result()->handle() : QVariant(); }

    bool nextResult() override
    {
        const bool more = m_inner.nextResult();
        setLastError(m_inner.lastError());
        describe();
        setAt(QSql::BeforeFirstRow);
        return more;
    }

    void detachFromResultSet() override
    {
        m_inner.finish();
        m_row.clear();
        m_rest.clear();
        if (m_driver)
            m_driver->done(this);
    }

private:
    void startRun()
    {
        if (m_driver)
            m_driver->aboutToRun(this);
        m_buffered = false;
        m_rest.clear();
    }

    bool finishExec(bool ok)
    {
        m_row.clear();
        setLastError(m_inner.lastError());
        if (!ok) {
            setActive(false);
            return false;
        }
        setSelect(m_inner.isSelect());
        setActive(true);
        describe();
        if (isSelect() && isForwardOnly() && m_driver)
            m_driver->streaming(this);
        return true;
    }

    // The columns' ODBC types decide how each value is read. Without Qt's
    // statement handle or a column's type, Qt reads the rows as it would.
    void describe()
    {
        m_reads.clear();
        // Taken before any row is fetched: QSqlQuery::record() on a row reads its values.
        m_record = m_inner.record();
        const SQLHSTMT h = handleOf(handle());
        const int columns = m_record.count();
        m_exact = h != nullptr;
        for (int c = 0; c < columns && m_exact; ++c) {
            SQLLEN type = SQL_UNKNOWN_TYPE;
            m_exact = SQL_SUCCEEDED(
                SQLColAttribute(h, SQLUSMALLINT(c + 1), SQL_DESC_CONCISE_TYPE, nullptr, 0, nullptr, &type));
            m_reads.append(readFor(type));
        }
    }

    bool fetched(bool ok, int row)
    {
        m_row.clear();
        if (!ok)
            return false;
        readRow();
        setAt(row);
        return true;
    }

    void readRow()
    {
        const int columns = m_record.count();
        m_row.reserve(columns);
        const SQLHSTMT h = m_exact ? handleOf(handle()) : nullptr;
        for (int c = 0; c < columns; ++c)
            m_row.append(h ? readValue(h, SQLUSMALLINT(c + 1), m_reads.at(c)) : m_inner.value(c));
    }

    template<typename T>
    bool readFixed(SQLHSTMT h, SQLUSMALLINT column, SQLSMALLINT cType, T *value)
    {
        SQLLEN ind = 0;
        const SQLRETURN r = SQLGetData(h, column, cType, value, sizeof(T), &ind);
        return SQL_SUCCEEDED(r) && ind != SQL_NULL_DATA;
    }

    QVariant readValue(SQLHSTMT h, SQLUSMALLINT column, Read read)
    {
        const QVariant null{metaTypeFor(read)};
        switch (read) {
        case Read::Text:
        case Read::Binary: {
            bool isNull = false;
            const SQLSMALLINT cType = read == Read::Text ? SQL_C_WCHAR : SQL_C_BINARY;
            if (!readPieces(h, column, cType, m_buffer, &m_value, &isNull) || isNull)
                return null;
            if (read == Read::Binary)
                return m_value;
            return QString::fromUtf16(reinterpret_cast<const char16_t *>(m_value.constData()),
                                      m_value.size() / qsizetype(sizeof(SQLWCHAR)));
        }
        case Read::Int: {
            SQLINTEGER v = 0;
            return readFixed(h, column, SQL_C_SLONG, &v) ? QVariant(int(v)) : null;
        }
        case Read::BigInt: {
            SQLBIGINT v = 0;
            return readFixed(h, column, SQL_C_SBIGINT, &v) ? QVariant(qlonglong(v)) : null;
        }
        case Read::Double: {
            SQLDOUBLE v = 0;
            return readFixed(h, column, SQL_C_DOUBLE, &v) ? QVariant(double(v)) : null;
        }
        case Read::Date: {
            DATE_STRUCT d{};
            return readFixed(h, column, SQL_C_DATE, &d) ? QVariant(QDate(d.year, d.month, d.day)) : null;
        }
        case Read::Time: {
            TIME_STRUCT t{};
            return readFixed(h, column, SQL_C_TIME, &t) ? QVariant(QTime(t.hour, t.minute, t.second)) : null;
        }
        case Read::DateTime: {
            TIMESTAMP_STRUCT t{};
            if (!readFixed(h, column, SQL_C_TIMESTAMP, &t))
                return null;
            return QDateTime(QDate(t.year, t.month, t.day),
                             QTime(t.hour, t.minute, t.second, int(t.fraction / 1000000)));
        }
        }
        return null;
    }

    QPointer<ExactOdbcDriver> m_driver; // results may outlive a closed connection
    QSqlQuery m_inner;
    bool m_buffered = false;
    QList<QVariantList> m_rest;
    QSqlRecord m_record;
    QVector<Read> m_reads;
    bool m_exact = false;
    QVariantList m_row;
    QByteArray m_buffer = QByteArray(16384, Qt::Uninitialized);
    QByteArray m_value;
};

// How many statements may have results pending at once; 0 means no limit.
SQLUSMALLINT activeStatementsAllowed(SQLHDBC dbc)
{
    SQLUSMALLINT n = 0;
    if (!dbc || !SQL_SUCCEEDED(SQLGetInfo(dbc, SQL_MAX_CONCURRENT_ACTIVITIES, &n, sizeof n, nullptr)))
        return 1;
    return n;
}

} // namespace

ExactOdbcDriver::ExactOdbcDriver(const QString &innerName) : m_innerName(innerName) {}

// The inner connection stays registered under its name until removeInner():
// the registry is locked while a connection is removed, so neither this
// driver's destructor nor its close() may reach it.
ExactOdbcDriver::~ExactOdbcDriver() { close(); }

void ExactOdbcDriver::removeInner(const QString &innerName)
{
    if (QSqlDatabase::contains(innerName))
        QSqlDatabase::removeDatabase(innerName);
}

QSqlDriver *ExactOdbcDriver::inner() const { return m_innerDb.isValid() ? m_innerDb.driver() : nullptr; }

bool ExactOdbcDriver::open(const QString &db, const QString &user, const QString &password, const QString &host,
                           int port, const QString &options)
{
    close();
    m_innerDb = QSqlDatabase();
    removeInner(m_innerName);
    m_innerDb = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), m_innerName);
    m_innerDb.setDatabaseName(db);
    m_innerDb.setUserName(user);
    m_innerDb.setPassword(password);
    m_innerDb.setHostName(host);
    m_innerDb.setPort(port);
    m_innerDb.setConnectOptions(options);
    const bool ok = m_innerDb.open();
    m_oneStatementAtATime = ok && activeStatementsAllowed(handleOf(m_innerDb.driver()->handle())) == 1;
    setOpen(ok);
    setOpenError(!ok);
    if (!ok)
        setLastError(m_innerDb.lastError());
    return ok;
}

void ExactOdbcDriver::close()
{
    if (m_innerDb.isValid())
        m_innerDb.close();
    setOpen(false);
    setOpenError(false);
}

void ExactOdbcDriver::aboutToRun(QSqlResult *result)
{
    if (m_streaming && m_streaming != result) {
        auto *other = static_cast<ExactOdbcResult *>(m_streaming);
        m_streaming = nullptr;
        other->bufferRest();
    }
}

void ExactOdbcDriver::streaming(QSqlResult *result)
{
    if (m_oneStatementAtATime)
        m_streaming = result;
}

void ExactOdbcDriver::done(QSqlResult *result)
{
    if (m_streaming == result)
        m_streaming = nullptr;
}

bool ExactOdbcDriver::hasFeature(DriverFeature f) const
{
    if (const QSqlDriver *d = inner())
        return d->hasFeature(f);
    return false;
}

QSqlResult *ExactOdbcDriver::createResult() const
{
    return new ExactOdbcResult(const_cast<ExactOdbcDriver *>(this), m_innerDb);
}

QVariant ExactOdbcDriver::handle() const
{
    const QSqlDriver *d = inner();
    return d ? d->handle() : QVariant();
}

bool ExactOdbcDriver::beginTransaction()
{
    QSqlDriver *d = inner();
    return d && d->beginTransaction();
}

bool ExactOdbcDriver::commitTransaction()
{
    QSqlDriver *d = inner();
    return d && d->commitTransaction();
}

bool ExactOdbcDriver::rollbackTransaction()
{
    QSqlDriver *d = inner();
    return d && d->rollbackTransaction();
}

QStringList ExactOdbcDriver::tables(QSql::TableType type) const
{
    const QSqlDriver *d = inner();
    return d ? d->tables(type) : QStringList();
}

QSqlRecord ExactOdbcDriver::record(const QString &table) const
{
    const QSqlDriver *d = inner();
    return d ? d->record(table) : QSqlRecord();
}

QSqlIndex ExactOdbcDriver::primaryIndex(const QString &table) const
{
    const QSqlDriver *d = inner();
    return d ? d->primaryIndex(table) : QSqlIndex();
}

QString ExactOdbcDriver::escapeIdentifier(const QString &identifier, IdentifierType type) const
{
    const QSqlDriver *d = inner();
    return d ? d->escapeIdentifier(identifier, type) : identifier;
}

QString ExactOdbcDriver::formatValue(const QSqlField &field, bool trimStrings) const
{
    const QSqlDriver *d = inner();
    return d ? d->formatValue(field, trimStrings) : QSqlDriver::formatValue(field, trimStrings);
}

} // namespace lectoria
