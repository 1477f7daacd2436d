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
#include <QVarLengthArray>
#include <QVector>

#include "odbcapi.h"

namespace lectoria {
namespace {

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

// The driver's diagnostics as Qt's ODBC driver words them: the messages,
// the first native error code.
QSqlError diagnostics(SQLHSTMT h, const QString &what)
{
    QStringList messages;
    QString code;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLWCHAR state[SQL_SQLSTATE_SIZE + 1] = {0};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        QVarLengthArray<SQLWCHAR, 512> text(512);
        SQLRETURN r = SQLGetDiagRecW(SQL_HANDLE_STMT, h, i, state, &native, text.data(), SQLSMALLINT(text.size()), &length);
        if (r == SQL_SUCCESS_WITH_INFO && length >= text.size()) {
            text.resize(length + 1);
            r = SQLGetDiagRecW(SQL_HANDLE_STMT, h, i, state, &native, text.data(), SQLSMALLINT(text.size()), &length);
        }
        if (!SQL_SUCCEEDED(r))
            break;
        messages << QString::fromUtf16(reinterpret_cast<const char16_t *>(text.constData()), qMin<qsizetype>(length, text.size()));
        if (code.isEmpty())
            code = QString::number(native);
    }
    return QSqlError(QStringLiteral("QODBC: ") + what, messages.join(QLatin1Char(' ')), QSqlError::StatementError, code);
}

// Whether the diagnostics a statement's failure left say that the driver
// stopped waiting for the server (its query timeout: SQLSTATE HYT00 or
// HYT01, S1T00 as Qt's ODBC 2 environment has it named).
bool timedOut(SQLHSTMT h)
{
    if (!h)
        return false;
    for (SQLSMALLINT i = 1; i < 20; ++i) {
        SQLCHAR state[SQL_SQLSTATE_SIZE + 1] = {0};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_STMT, h, i, state, &native, nullptr, 0, &length)))
            return false;
        const char *code = reinterpret_cast<const char *>(state);
        if (qstrcmp(code, "HYT00") == 0 || qstrcmp(code, "HYT01") == 0 || qstrcmp(code, "S1T00") == 0)
            return true;
    }
    return false;
}

// One parameter of a statement run many times. It keeps its buffer and its
// declared type from one run to the next and is bound again only when they
// change (a value longer than the buffer, text that outgrows a short
// declaration, another kind of value): FreeTDS prepares the statement anew
// whenever a parameter is bound again, two extra requests per run.
struct SteadyParam {
    SQLSMALLINT cType = 0;
    SQLSMALLINT sqlType = 0;
    SQLULEN columnSize = 0;
    SQLSMALLINT digits = 0;
    QByteArray buffer;
    SQLLEN indicator = 0;

    bool set(SQLHSTMT h, SQLUSMALLINT number, const QVariant &v)
    {
        SQLSMALLINT c = SQL_C_WCHAR, t = SQL_WVARCHAR, d = 0;
        SQLULEN size = 4000;
        QByteArray bytes;
        bool null = v.isNull();
        switch (v.typeId()) {
        case QMetaType::Int: case QMetaType::UInt: case QMetaType::LongLong: case QMetaType::ULongLong:
        case QMetaType::Short: case QMetaType::UShort: case QMetaType::Bool: {
            c = SQL_C_SBIGINT; t = SQL_BIGINT; size = 19;
            const SQLBIGINT n = v.toLongLong();
            bytes = QByteArray(reinterpret_cast<const char *>(&n), sizeof n);
            break;
        }
        case QMetaType::Double: case QMetaType::Float: {
            c = SQL_C_DOUBLE; t = SQL_DOUBLE; size = 15;
            const SQLDOUBLE x = v.toDouble();
            bytes = QByteArray(reinterpret_cast<const char *>(&x), sizeof x);
            break;
        }
        case QMetaType::QDate: case QMetaType::QDateTime: {
            c = SQL_C_TYPE_TIMESTAMP; t = SQL_TYPE_TIMESTAMP; size = 23; d = 3;
            const QDateTime dt = v.typeId() == QMetaType::QDate ? v.toDate().startOfDay() : v.toDateTime();
            TIMESTAMP_STRUCT ts{};
            ts.year = SQLSMALLINT(dt.date().year());
            ts.month = SQLUSMALLINT(dt.date().month());
            ts.day = SQLUSMALLINT(dt.date().day());
            ts.hour = SQLUSMALLINT(dt.time().hour());
            ts.minute = SQLUSMALLINT(dt.time().minute());
            ts.second = SQLUSMALLINT(dt.time().second());
            ts.fraction = SQLUINTEGER(dt.time().msec()) * 1000000u;
            bytes = QByteArray(reinterpret_cast<const char *>(&ts), sizeof ts);
            break;
        }
        case QMetaType::QByteArray:
            c = SQL_C_BINARY; t = SQL_VARBINARY; size = 8000;
            bytes = v.toByteArray();
            if (bytes.size() > 8000) { t = SQL_LONGVARBINARY; size = 0x7fffffff; }
            break;
        default: {
            const QString text = v.toString();
            bytes = QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * qsizetype(sizeof(char16_t)));
            // Short text keeps a short declaration; text beyond it is declared
            // long from then on, so that it does not change back and forth.
            if (text.size() > 4000 || (sqlType == SQL_WLONGVARCHAR && cType == SQL_C_WCHAR)) {
                t = SQL_WLONGVARCHAR;
                size = 0x3fffffff;
            }
            break;
        }
        }
        if (null && cType != 0) { // a NULL keeps the declaration the parameter has
            c = cType; t = sqlType; size = columnSize; d = digits;
        }
        // Room for any value of the declaration (short text: 4000 characters)
        // from the start; long values get twice what they need.
        const qsizetype room = bytes.size() + 2; // text's terminator
        const bool rebind = c != cType || t != sqlType || size != columnSize || d != digits || room > buffer.size();
        if (room > buffer.size())
            buffer.resize(qMax<qsizetype>(t == SQL_WLONGVARCHAR || t == SQL_LONGVARBINARY ? room * 2 : 8002, room));
        memcpy(buffer.data(), bytes.constData(), size_t(bytes.size()));
        buffer[bytes.size()] = 0;
        buffer[bytes.size() + 1] = 0;
        indicator = null ? SQL_NULL_DATA : SQLLEN(bytes.size());
        if (!rebind)
            return true;
        cType = c; sqlType = t; columnSize = size; digits = d;
        return SQL_SUCCEEDED(SQLBindParameter(h, number, SQL_PARAM_INPUT, cType, sqlType, columnSize, digits,
                                              buffer.data(), SQLLEN(buffer.size()), &indicator));
    }
};

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

    // Reads the rows not yet fetched into memory and frees the statement. A
    // failure while reading them is kept and given after the rows read before
    // it, as the statement itself would have: the result never ends early
    // without saying why.
    void bufferRest()
    {
        m_buffered = true;
        m_restError = QSqlError();
        while (m_inner.next()) {
            if (!readRow()) {
                m_restError = lastError();
                break;
            }
            m_rest.append(m_row);
        }
        if (!m_restError.isValid() && m_inner.lastError().isValid())
            m_restError = explained(m_inner.lastError());
        m_inner.finish();
        m_row.clear();
    }

    // Runs the statement Qt prepared with the values bound here (see
    // execPreparedSteadily). False with lastError() set when it fails.
    bool execSteadily(const QVariantList &values, QList<QStringList> *rows)
    {
        startRun();
        m_row.clear();
        const SQLHSTMT h = odbcHandle(handle());
        if (!h) {
            setLastError(QSqlError(QStringLiteral("Unable to execute statement"), QString(),
                                   QSqlError::StatementError));
            return false;
        }
        if (m_params.size() < values.size())
            m_params.resize(values.size());
        for (qsizetype i = 0; i < values.size(); ++i) {
            if (!m_params[i].set(h, SQLUSMALLINT(i + 1), values.at(i))) {
                setLastError(diagnostics(h, QStringLiteral("Unable to bind value")));
                return false;
            }
        }
        const SQLRETURN r = SQLExecute(h);
        if (r != SQL_SUCCESS && r != SQL_SUCCESS_WITH_INFO && r != SQL_NO_DATA) {
            // The diagnostics stay on the handle for whoever asks next.
            setLastError(explained(diagnostics(h, QStringLiteral("Unable to execute statement"))));
            setActive(false);
            return false;
        }
        SQLLEN touched = -1;
        if (!SQL_SUCCEEDED(SQLRowCount(h, &touched)))
            touched = -1;
        m_steadyRows = int(touched);
        if (rows) {
            // Every result's rows; a failure after the first result is the
            // statement's failure, but for SQL Server's word that the batch
            // ended with another transaction count than it began with: the
            // rows say so themselves.
            bool ok = r == SQL_NO_DATA || readRows(h, rows);
            while (ok) {
                const SQLRETURN more = SQLMoreResults(h);
                if (more == SQL_NO_DATA)
                    break;
                if (!SQL_SUCCEEDED(more)) {
                    ok = onlyMessage(h, 266);
                    break;
                }
                ok = readRows(h, rows);
            }
            if (!ok) {
                setLastError(diagnostics(h, QStringLiteral("Unable to fetch row")));
                SQLFreeStmt(h, SQL_CLOSE);
                setActive(false);
                return false;
            }
        } else {
            // Whatever the batch answered beyond its first result is read and
            // the statement closed, ready for its next run.
            while (SQL_SUCCEEDED(SQLMoreResults(h))) {
            }
        }
        SQLFreeStmt(h, SQL_CLOSE);
        setLastError(QSqlError());
        setSelect(false);
        setActive(true);
        return true;
    }

private:
    // The rows of the current result, if it has columns, as text.
    bool readRows(SQLHSTMT h, QList<QStringList> *rows)
    {
        SQLSMALLINT columns = 0;
        if (!SQL_SUCCEEDED(SQLNumResultCols(h, &columns)) || columns <= 0)
            return true;
        for (;;) {
            const SQLRETURN f = SQLFetch(h);
            if (f == SQL_NO_DATA)
                return true;
            if (!SQL_SUCCEEDED(f))
                return false;
            QStringList row;
            for (SQLSMALLINT c = 1; c <= columns; ++c) {
                bool isNull = false;
                if (!readPieces(h, SQLUSMALLINT(c), SQL_C_WCHAR, m_buffer, &m_value, &isNull))
                    return false;
                row << (isNull ? QString()
                               : QString::fromUtf16(reinterpret_cast<const char16_t *>(m_value.constData()),
                                                    m_value.size() / qsizetype(sizeof(SQLWCHAR))));
            }
            rows->append(row);
        }
    }

    // Whether every diagnostic on the handle has this native error number.
    static bool onlyMessage(SQLHSTMT h, SQLINTEGER number)
    {
        bool any = false;
        for (SQLSMALLINT i = 1;; ++i) {
            SQLWCHAR state[SQL_SQLSTATE_SIZE + 1] = {0};
            SQLINTEGER native = 0;
            SQLSMALLINT length = 0;
            if (!SQL_SUCCEEDED(SQLGetDiagRecW(SQL_HANDLE_STMT, h, i, state, &native, nullptr, 0, &length)))
                return any;
            if (native != number)
                return false;
            any = true;
        }
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
                if (m_restError.isValid())
                    setLastError(m_restError);
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
    int numRowsAffected() override { return m_steadyRows ? *m_steadyRows : m_inner.numRowsAffected(); }
    QSqlRecord record() const override { return m_record; }
    QVariant lastInsertId() const override { return m_inner.lastInsertId(); }
    QVariant handle() const override { return m_inner.result() ? m_inner.result()->handle() : QVariant(); }

    bool nextResult() override
    {
        const bool more = m_inner.nextResult();
        setLastError(explained(m_inner.lastError()));
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
    // A failure, in the operator's words first when the driver gave up on a
    // silent server; to be called while the failed call's diagnostics are
    // still on the statement.
    QSqlError explained(const QSqlError &e) const
    {
        if (!e.isValid() || !m_driver || m_driver->silenceLimit() <= 0 || !timedOut(odbcHandle(handle())))
            return e;
        const QString why = QStringLiteral("数据库服务器超过%1秒没有任何回应，已放弃等待，操作已停止"
                                           "（服务器可能停止了响应，或网络已中断）。")
                                .arg(m_driver->silenceLimit());
        const QString text = e.databaseText().trimmed().isEmpty() ? e.driverText() : e.databaseText();
        return QSqlError(e.driverText(), why + QLatin1Char(' ') + text, e.type(), e.nativeErrorCode());
    }

    void startRun()
    {
        if (m_driver)
            m_driver->aboutToRun(this);
        m_steadyRows.reset();
        m_buffered = false;
        m_rest.clear();
        m_restError = QSqlError();
    }

    bool finishExec(bool ok)
    {
        m_row.clear();
        setLastError(explained(m_inner.lastError()));
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
        const SQLHSTMT h = odbcHandle(handle());
        const int columns = m_record.count();
        m_exact = h != nullptr;
        for (int c = 0; c < columns && m_exact; ++c) {
            SQLLEN type = SQL_UNKNOWN_TYPE;
            m_exact = SQL_SUCCEEDED(
                SQLColAttribute(h, SQLUSMALLINT(c + 1), SQL_DESC_CONCISE_TYPE, nullptr, 0, nullptr, &type));
            m_reads.append(readFor(type));
        }
    }

    // A fetch that fails (a connection lost or given up in the middle of the
    // result, a value the driver cannot convert) ends the rows with the
    // driver's error, so that no reader takes it for the end of the result.
    bool fetched(bool ok, int row)
    {
        m_row.clear();
        if (!ok) {
            if (m_inner.lastError().isValid())
                setLastError(explained(m_inner.lastError()));
            return false;
        }
        if (!readRow())
            return false;
        setAt(row);
        return true;
    }

    // False, with lastError() set, when the driver fails to give a value.
    bool readRow()
    {
        const int columns = m_record.count();
        m_row.reserve(columns);
        const SQLHSTMT h = m_exact ? odbcHandle(handle()) : nullptr;
        for (int c = 0; c < columns; ++c) {
            if (!h) {
                m_row.append(m_inner.value(c));
                continue;
            }
            QVariant v;
            if (!readValue(h, SQLUSMALLINT(c + 1), m_reads.at(c), &v)) {
                setLastError(explained(diagnostics(h, QStringLiteral("Unable to read value"))));
                m_row.clear();
                return false;
            }
            m_row.append(std::move(v));
        }
        return true;
    }

    // False when the driver reports an error; *isNull for SQL NULL.
    template<typename T>
    bool readFixed(SQLHSTMT h, SQLUSMALLINT column, SQLSMALLINT cType, T *value, bool *isNull)
    {
        SQLLEN ind = 0;
        const SQLRETURN r = SQLGetData(h, column, cType, value, sizeof(T), &ind);
        *isNull = !SQL_SUCCEEDED(r) || ind == SQL_NULL_DATA;
        return SQL_SUCCEEDED(r) || r == SQL_NO_DATA;
    }

    bool readValue(SQLHSTMT h, SQLUSMALLINT column, Read read, QVariant *out)
    {
        *out = QVariant(metaTypeFor(read)); // NULL of the column's type
        bool isNull = false;
        switch (read) {
        case Read::Text:
        case Read::Binary: {
            const SQLSMALLINT cType = read == Read::Text ? SQL_C_WCHAR : SQL_C_BINARY;
            if (!readPieces(h, column, cType, m_buffer, &m_value, &isNull))
                return false;
            if (isNull)
                return true;
            if (read == Read::Binary)
                *out = m_value;
            else
                *out = QString::fromUtf16(reinterpret_cast<const char16_t *>(m_value.constData()),
                                          m_value.size() / qsizetype(sizeof(SQLWCHAR)));
            return true;
        }
        case Read::Int: {
            SQLINTEGER v = 0;
            if (!readFixed(h, column, SQL_C_SLONG, &v, &isNull))
                return false;
            if (!isNull)
                *out = int(v);
            return true;
        }
        case Read::BigInt: {
            SQLBIGINT v = 0;
            if (!readFixed(h, column, SQL_C_SBIGINT, &v, &isNull))
                return false;
            if (!isNull)
                *out = qlonglong(v);
            return true;
        }
        case Read::Double: {
            SQLDOUBLE v = 0;
            if (!readFixed(h, column, SQL_C_DOUBLE, &v, &isNull))
                return false;
            if (!isNull)
                *out = double(v);
            return true;
        }
        case Read::Date: {
            DATE_STRUCT d{};
            if (!readFixed(h, column, SQL_C_DATE, &d, &isNull))
                return false;
            if (!isNull)
                *out = QDate(d.year, d.month, d.day);
            return true;
        }
        case Read::Time: {
            TIME_STRUCT t{};
            if (!readFixed(h, column, SQL_C_TIME, &t, &isNull))
                return false;
            if (!isNull)
                *out = QTime(t.hour, t.minute, t.second);
            return true;
        }
        case Read::DateTime: {
            TIMESTAMP_STRUCT t{};
            if (!readFixed(h, column, SQL_C_TIMESTAMP, &t, &isNull))
                return false;
            if (!isNull)
                *out = QDateTime(QDate(t.year, t.month, t.day),
                                 QTime(t.hour, t.minute, t.second, int(t.fraction / 1000000)));
            return true;
        }
        }
        return true;
    }

    QPointer<ExactOdbcDriver> m_driver; // results may outlive a closed connection
    QVector<SteadyParam> m_params;
    std::optional<int> m_steadyRows; // rows the last steady run touched
    QSqlQuery m_inner;
    bool m_buffered = false;
    QList<QVariantList> m_rest;
    QSqlError m_restError; // what ended the rows taken into memory early
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

void *odbcHandle(const QVariant &v)
{
    // Qt's ODBC driver hands out its handles as pointer-sized values.
    if (!v.isValid() || v.metaType().sizeOf() != int(sizeof(SQLHANDLE)))
        return nullptr;
    return *static_cast<void *const *>(v.constData());
}

std::optional<bool> execPreparedSteadily(QSqlQuery &query, const QVariantList &values, QList<QStringList> *rows)
{
    auto *result = dynamic_cast<ExactOdbcResult *>(const_cast<QSqlResult *>(query.result()));
    if (!result)
        return std::nullopt;
    return result->execSteadily(values, rows);
}

QString serverMessagePrefix(const QSqlDatabase &db)
{
    auto *driver = dynamic_cast<ExactOdbcDriver *>(db.driver());
    if (!driver || !db.isOpen())
        return QString();
    driver->aboutToRun(nullptr); // a result still being read goes into memory first
    const SQLHDBC dbc = odbcHandle(driver->handle());
    SQLHSTMT h = nullptr;
    if (!dbc || !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &h)))
        return QString();
    const QString probe = QStringLiteral("lectoria");
    const QString sql = QStringLiteral("print N'%1'").arg(probe);
    SQLRETURN r = SQLExecDirectW(h, const_cast<SQLWCHAR *>(reinterpret_cast<const SQLWCHAR *>(sql.utf16())),
                                 SQLINTEGER(sql.size()));
    QString text;
    // The message comes with the statement or, from some drivers, with the
    // result after it.
    while (text.isEmpty() && SQL_SUCCEEDED(r)) {
        if (r == SQL_SUCCESS_WITH_INFO) {
            SQLWCHAR state[SQL_SQLSTATE_SIZE + 1] = {0};
            SQLINTEGER native = 0;
            SQLSMALLINT length = 0;
            QVarLengthArray<SQLWCHAR, 512> buf(512);
            if (SQL_SUCCEEDED(SQLGetDiagRecW(SQL_HANDLE_STMT, h, 1, state, &native, buf.data(), SQLSMALLINT(buf.size()), &length)))
                text = QString::fromUtf16(reinterpret_cast<const char16_t *>(buf.constData()), qMin<qsizetype>(length, buf.size() - 1));
        }
        r = SQLMoreResults(h);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, h);
    return text.endsWith(probe) ? text.left(text.size() - probe.size()) : QString();
}

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
    m_oneStatementAtATime = ok && activeStatementsAllowed(odbcHandle(m_innerDb.driver()->handle())) == 1;
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

bool ExactOdbcDriver::connectionLost() const
{
    const SQLHDBC dbc = odbcHandle(handle());
    if (!dbc || !isOpen())
        return false;
    SQLUINTEGER dead = SQL_CD_FALSE;
    return SQL_SUCCEEDED(SQLGetConnectAttr(dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) && dead == SQL_CD_TRUE;
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
