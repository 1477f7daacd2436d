#include "libdb.h"
#include "datetext.h"
#include "atomicfile.h"
#include "errors.h"
#include "fileidentity.h"
#include "exactodbc.h"
#include "helperlib.h"
#include "machinesettings.h"
#include "text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QSqlResult>
#include <QUrl>

#include <algorithm>
#include <iterator>
#include <optional>

#include <QElapsedTimer>
#include <QHash>
#include <QThread>

#include <cerrno>

#include <fcntl.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "odbcapi.h"

namespace lectoria {
namespace {

struct State {
    Dialect dialect = Dialect::SqlServer;
    bool readOnly = false;
    QStringList *log = nullptr;
    ConnectionParams params;   // of the connection open now, to make it again when it is lost
    bool reopenPending = false; // lost, and making it again failed so far
    int lockTimeoutMs = 30000;
};

State &state()
{
    static State s;
    return s;
}

const QLatin1String sqlitePrefix("sqlite:");
const QLatin1String odbcInnerName("LibDB.odbc");

QString odbcValue(const QString &v)
{
    // Braces keep ";" and "=" inside a value; a "}" inside is doubled.
    if (v.isEmpty() || v.contains(QLatin1Char(';')) || v.contains(QLatin1Char('{')) || v.contains(QLatin1Char('}'))
        || v.contains(QLatin1Char('=')) || v.trimmed() != v) {
        QString e = v;
        e.replace(QLatin1Char('}'), QLatin1String("}}"));
        return QLatin1Char('{') + e + QLatin1Char('}');
    }
    return v;
}

// Which value unixODBC's driver manager takes for each keyword of a
// connection string, as its parser (2.3) reads it: keywords after blanks and
// ";", a value up to ";" or, braced, up to a "}" not doubled ("}}" standing
// for "}"); a later DSN after DRIVER or FILEDSN (and the other way round) is
// passed over, a repeated keyword replaces the earlier value.
QMap<QString, QString> driverManagerKeywords(const QString &s)
{
    QMap<QString, QString> out;
    bool dsn = false, driver = false;
    qsizetype i = 0;
    const qsizetype n = s.size();
    for (;;) {
        while (i < n && (s.at(i).isSpace() || s.at(i) == QLatin1Char(';')))
            ++i;
        const qsizetype start = i;
        while (i < n && s.at(i) != QLatin1Char('='))
            ++i;
        if (i >= n)
            break;
        const QString keyword = s.mid(start, i - start).toUpper();
        ++i;
        QString value;
        if (i < n && s.at(i) == QLatin1Char('{')) {
            ++i;
            while (i < n && (s.at(i) != QLatin1Char('}') || (i + 1 < n && s.at(i + 1) == QLatin1Char('}')))) {
                if (s.at(i) == QLatin1Char('}'))
                    ++i;
                value += s.at(i);
                ++i;
            }
            if (i < n)
                ++i;
        } else {
            const qsizetype end = s.indexOf(QLatin1Char(';'), i);
            value = s.mid(i, end < 0 ? -1 : end - i);
            i = end < 0 ? n : end;
        }
        if (keyword == QLatin1String("DSN")) {
            if (driver)
                continue;
            dsn = true;
        } else if (keyword == QLatin1String("DRIVER") || keyword == QLatin1String("FILEDSN")) {
            if (dsn)
                continue;
            driver = true;
        }
        out.insert(keyword, value);
    }
    return out;
}

// A user name or password as a connection-string value that FreeTDS (1.3)
// reads back as it stands. It takes a value up to the next ";", or, when the
// value starts with "{", up to the first "}" followed by ";", and undoes no
// doubling inside: a "}" in a braced value stays as it is, and a value that
// holds "};" has no form at all. unixODBC (2.3) reads an unbraced value up to
// ";" too; a braced one it reads up to a "}" not doubled, which matters only
// for the keywords it acts on (see credentialsProblem()).
std::optional<QString> credentialValue(const QString &v)
{
    if (!v.contains(QLatin1Char(';')) && !v.startsWith(QLatin1Char('{')))
        return v;
    if (!v.contains(QLatin1String("};")))
        return QLatin1Char('{') + v + QLatin1Char('}');
    return std::nullopt;
}

// The keywords by which the driver manager picks the driver or writes a file.
QMap<QString, QString> driverChoice(const QString &connection)
{
    QMap<QString, QString> all = driverManagerKeywords(connection);
    QMap<QString, QString> out;
    for (const char *k : {"DSN", "DRIVER", "FILEDSN", "SAVEFILE"})
        if (all.contains(QLatin1String(k)))
            out.insert(QLatin1String(k), all.value(QLatin1String(k)));
    return out;
}

QString withoutCredentials(const ConnectionParams &p)
{
    ConnectionParams bare = p;
    bare.hasCredentials = false;
    return LibDB::odbcConnectionString(bare);
}

// The SQLSTATE of the first diagnostic record an ODBC statement left, or empty.
QString odbcState(const QSqlQuery &q)
{
    if (!q.result())
        return QString();
    SQLHANDLE stmt = odbcHandle(q.result()->handle());
    if (!stmt)
        return QString();
    // The wide form: the only one both unixODBC and Windows' headers declare alike.
    SQLWCHAR state[SQL_SQLSTATE_SIZE + 1] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRecW(SQL_HANDLE_STMT, stmt, 1, state, &native, nullptr, 0, &len)))
        return QString();
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(state));
}

// SQLite's result codes that blame the values (too big, constraint,
// datatype mismatch, out of range), whatever their extended part.
bool sqliteRefusedValues(int resultCode)
{
    const int primary = resultCode & 0xff;
    return primary == 18 || primary == 19 || primary == 20 || primary == 25;
}

} // namespace

const QVector<int> &sqlServerRefusalNumbers()
{
    // SQL Server's message numbers: conversions, truncation, overflow, NULL
    // into a required column, constraints and duplicate keys.
    static const QVector<int> numbers = {220, 232, 241, 242, 244, 245, 248, 293, 515, 547, 2601, 2627, 2628,
                                         8114, 8115, 8152};
    return numbers;
}

bool sqlServerRefusedValues(int number) { return sqlServerRefusalNumbers().contains(number); }

namespace {

// Whether a failed statement was refused for the values it carried, as
// opposed to a failure of the database or the connection. Only the causes
// known to lie in the values count: anything unknown stops a bulk run
// rather than being taken for a bad record over and over.
bool refusedForValues(const QSqlQuery &q)
{
    const QSqlError e = q.lastError();
    bool numeric = false;
    const int native = e.nativeErrorCode().toInt(&numeric);
    const bool odbc = LibDB::database().driverName() == QLatin1String("QODBC");
    if (state().dialect == Dialect::Sqlite) {
        // SQLite's result code, through Qt's driver or the SQLite ODBC driver alike.
        if (numeric && sqliteRefusedValues(native))
            return true;
    } else if (numeric) {
        if (sqlServerRefusedValues(native))
            return true;
    }
    if (odbc) {
        // Data exceptions and integrity constraints, as ODBC classes them.
        const QString sqlState = odbcState(q);
        if (sqlState.startsWith(QLatin1String("22")) || sqlState.startsWith(QLatin1String("23")))
            return true;
    }
    return false;
}

// SQLite's busy and locked result codes, whatever their extended part.
bool sqliteLockWait(int resultCode) { return (resultCode & 0xff) == 5 || (resultCode & 0xff) == 6; }

// Whether a failed statement gave up waiting for a lock.
bool gaveUpOnLock(const QSqlQuery &q)
{
    bool numeric = false;
    const int native = q.lastError().nativeErrorCode().toInt(&numeric);
    if (state().dialect == Dialect::SqlServer)
        return numeric && native == 1222;
    if (numeric && sqliteLockWait(native))
        return true;
    // The SQLite ODBC driver may leave no result code, only SQLite's text.
    const QString text = q.lastError().databaseText();
    return text.contains(QLatin1String("database is locked")) || text.contains(QLatin1String("database table is locked"));
}

[[noreturn]] void throwFailure(const QSqlQuery &q)
{
    const QString text = dbErrorText(q.lastError());
    if (gaveUpOnLock(q))
        throw DbError(LibDB::lockWaitText(text));
    if (refusedForValues(q))
        throw DbValueRefused(text);
    if (state().dialect == Dialect::SqlServer && isPermissionError(firstNativeCode(q.lastError())))
        throw DbPermissionDenied(text);
    if (state().dialect == Dialect::Sqlite)
        LibDB::failSqlite(q.lastError().nativeErrorCode().toInt(), text);
    throw DbError(text);
}

// The keys and values of an ODBC connection string ("A=1;B={x;y}"), keys in
// upper case, braces taken off.
QMap<QString, QString> connectionKeys(const QString &connection)
{
    QMap<QString, QString> keys;
    qsizetype i = 0;
    while (i < connection.size()) {
        const qsizetype eq = connection.indexOf(QLatin1Char('='), i);
        if (eq < 0)
            break;
        const QString key = connection.mid(i, eq - i).trimmed().toUpper();
        QString value;
        qsizetype j = eq + 1;
        if (j < connection.size() && connection.at(j) == QLatin1Char('{')) {
            for (++j; j < connection.size(); ++j) {
                if (connection.at(j) == QLatin1Char('}')) {
                    if (j + 1 < connection.size() && connection.at(j + 1) == QLatin1Char('}')) {
                        value += QLatin1Char('}');
                        ++j;
                        continue;
                    }
                    ++j;
                    break;
                }
                value += connection.at(j);
            }
            const qsizetype semi = connection.indexOf(QLatin1Char(';'), j);
            j = semi < 0 ? connection.size() : semi;
        } else {
            const qsizetype semi = connection.indexOf(QLatin1Char(';'), j);
            value = connection.mid(j, (semi < 0 ? connection.size() : semi) - j).trimmed();
            j = semi < 0 ? connection.size() : semi;
        }
        keys.insert(key, value);
        i = j + 1;
    }
    return keys;
}

QString odbcIniValue(const QString &section, const char *entry, const char *file)
{
    char value[1024] = {0};
    const QByteArray name = section.toUtf8();
    if (SQLGetPrivateProfileString(name.constData(), entry, "", value, int(sizeof value), file) <= 0)
        return QString();
    return QString::fromUtf8(value).trimmed();
}

// Whether the connection goes through FreeTDS's ODBC driver: the driver the
// string or its data source names (odbc.ini, odbcinst.ini) is that library.
bool throughFreeTds(const QString &connection)
{
    const QMap<QString, QString> keys = connectionKeys(connection);
    QString driver = keys.value(QStringLiteral("DRIVER"));
    if (driver.isEmpty()) {
        const QString dsn = keys.value(QStringLiteral("DSN"), keys.isEmpty() ? connection.trimmed() : QString());
        if (dsn.isEmpty())
            return false;
        driver = odbcIniValue(dsn, "Driver", "ODBC.INI");
    }
    if (!driver.contains(QLatin1Char('/')))
        driver = odbcIniValue(driver, "Driver", "ODBCINST.INI");
    return QFileInfo(driver).fileName().contains(QLatin1String("tdsodbc"), Qt::CaseInsensitive);
}

// Asks the ODBC driver which server it reaches.
QString odbcServerName(const QSqlDatabase &db)
{
    SQLHANDLE dbc = odbcHandle(db.driver()->handle());
    if (!dbc)
        return QString();
    SQLCHAR name[256] = {0};
    SQLSMALLINT len = 0;
    if (!SQL_SUCCEEDED(SQLGetInfo(dbc, SQL_DBMS_NAME, name, sizeof name, &len)))
        return QString();
    return QString::fromLatin1(reinterpret_cast<const char *>(name));
}

void logStatement(const QString &sql)
{
    if (state().log)
        state().log->append(sql);
}

// A connection the server closed or that was given up on cannot run
// another statement; the console makes it again before the next one, so
// that after a lost or frozen server the next command works once the
// server answers again. The statement that met the loss has failed by then.
void reopenIfLost()
{
    if (!state().reopenPending) {
        const QSqlDatabase db = LibDB::database();
        const auto *driver = dynamic_cast<const ExactOdbcDriver *>(db.driver());
        if (!driver || !driver->connectionLost())
            return;
    }
    const ConnectionParams p = state().params;
    QString why;
    if (!LibDB::open(p, &why)) {
        state().params = p;
        state().reopenPending = true;
        throw DbError(QStringLiteral("与数据库服务器的连接已经中断，重新连接没有成功：%1").arg(why));
    }
}

QSqlQuery run(const QString &sql, const QVariantList *values)
{
    logStatement(sql);
    reopenIfLost();
    QSqlDatabase db = LibDB::database();
    if (!db.isOpen())
        throw DbError(QStringLiteral("数据库连接未打开。"));
    const QString adapted = adaptStatement(sql, state().dialect);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (adapted.isEmpty())
        return q;
    bool ok;
    if (values) {
        ok = q.prepare(adapted);
        if (ok) {
            for (const QVariant &v : *values)
                q.addBindValue(v);
            ok = q.exec();
        }
    } else {
        ok = q.exec(adapted);
    }
    if (!ok)
        throwFailure(q);
    return q;
}

} // namespace

int firstNativeCode(const QSqlError &e)
{
    return e.nativeErrorCode().section(QLatin1Char(';'), 0, 0).trimmed().toInt();
}

bool isPermissionError(int nativeCode)
{
    return nativeCode == 229 || nativeCode == 230 || nativeCode == 262 || nativeCode == 297 || nativeCode == 300
        || nativeCode == 1088;
}

StoredConnection LibDB::storedConnection(QString *settingsError)
{
    StoredConnection stored;
    if (!MachineSettings::keyExists()) {
        if (settingsError) settingsError->clear();
        return stored;
    }
    const QMap<QString, QString> v = MachineSettings::readAll(settingsError);
    stored.exists = true;
    stored.odbcName = trimText(v.value(QStringLiteral("ODBCNAME")));
    stored.user = qyDeSecrectString(trimText(v.value(QStringLiteral("USERNAME"))));
    stored.password = qyDeSecrectString(trimText(v.value(QStringLiteral("PASSWORD"))));
    return stored;
}

ConnectionParams LibDB::paramsFromSettings(QString *settingsError)
{
    const StoredConnection stored = storedConnection(settingsError);
    ConnectionParams p;
    if (!stored.exists) {
        p.odbcName = QStringLiteral("wwwODBC");
        return p;
    }
    p.odbcName = stored.odbcName;
    p.hasCredentials = true;
    p.user = stored.user;
    p.password = stored.password;
    return p;
}

QString LibDB::odbcConnectionString(const ConnectionParams &p)
{
    QString s = p.odbcName.contains(QLatin1Char('=')) ? p.odbcName : QStringLiteral("DSN=") + odbcValue(p.odbcName);
    // An empty stored user name passes none: SQL Server has no login without
    // a name, and an empty UID would override the credentials a data source
    // or the connection string carries.
    if (p.hasCredentials && !p.user.isEmpty()) {
        if (!s.endsWith(QLatin1Char(';'))) s += QLatin1Char(';');
        // A value without any form is never sent: open() refuses it first.
        s += QStringLiteral("UID=") + credentialValue(p.user).value_or(QString()) + QStringLiteral(";PWD=")
            + credentialValue(p.password).value_or(QString()) + QLatin1Char(';');
    }
    return s;
}

QString LibDB::credentialsProblem(const ConnectionParams &p)
{
    if (!p.hasCredentials || p.user.isEmpty() || p.odbcName.startsWith(sqlitePrefix, Qt::CaseInsensitive))
        return QString();
    const std::pair<const QString &, QString> values[] = {{p.user, QStringLiteral("登录标识号")},
                                                          {p.password, QStringLiteral("密码")}};
    for (const auto &[value, what] : values) {
        // Qt's ODBC driver takes any connection string holding ".dsn" for
        // the name of a file data source.
        if (value.contains(QLatin1String(".dsn"), Qt::CaseInsensitive))
            return QStringLiteral("数据库%1中含有“.dsn”，ODBC 连接会把它误当作数据源文件名，无法原样传给数据库服务器。"
                                  "请换一个不含“.dsn”的%1。").arg(what);
        if (!credentialValue(value))
            return QStringLiteral("数据库%1中含有“};”（右花括号紧接分号），ODBC 驱动程序无法原样接收这样的值。"
                                  "请换一个不含“};”的%1。").arg(what);
    }
    if (driverChoice(odbcConnectionString(p)) != driverChoice(withoutCredentials(p)))
        return QStringLiteral("数据库登录标识号或密码中的“}”会使 ODBC 驱动程序管理器误读连接参数，无法原样传给数据库服务器。"
                              "请换一个登录标识号或密码。");
    return QString();
}

namespace {
// Opens the connection; the reason when it cannot be made, else empty. Kept
// apart from open() so that no handle on the connection is alive when a
// failed connection is removed.
QString openConnection(const ConnectionParams &p)
{
    const QString Name = QLatin1String(LibDB::Name);
    auto fail = [](const QString &why) { return why.isEmpty() ? QStringLiteral("无法连接数据库。") : why; };

    if (p.odbcName.startsWith(sqlitePrefix, Qt::CaseInsensitive)) {
        QString path = p.odbcName.mid(sqlitePrefix.size()).trimmed();
        if (QFileInfo(path).isRelative())
            path = QDir(MachineSettings::folder()).absoluteFilePath(path);
        // QSQLITE would create a missing file; the console never creates the site's database.
        if (!QFileInfo(path).isFile())
            return fail(QStringLiteral("数据库文件不存在：%1").arg(QDir::toNativeSeparators(path)));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), Name);
        db.setDatabaseName(path);
        // A file this process may not write (read-only media, a copy without
        // write permission) is opened for reading: every report still works,
        // and a command that writes is told why it cannot.
        const bool readOnly = !mayWriteFile(path);
        const QString busy = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(MachineSettings::lockTimeoutSeconds() * 1000);
        db.setConnectOptions(readOnly ? busy + QStringLiteral(";QSQLITE_OPEN_READONLY") : busy);
        if (!db.open())
            return fail(dbErrorText(db.lastError()));
        if (readOnly && !QSqlQuery(db).exec(QStringLiteral("select count(*) from sqlite_master"))) {
            // A WAL database on read-only media: its shared-memory index
            // cannot be made beside it, so it is read as a file that nobody
            // changes while the console runs.
            db.close();
            db.setDatabaseName(QStringLiteral("file:") + QString::fromLatin1(QUrl::toPercentEncoding(path, "/"))
                               + QStringLiteral("?immutable=1"));
            db.setConnectOptions(busy + QStringLiteral(";QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
            if (!db.open())
                return fail(dbErrorText(db.lastError()));
        }
        state().dialect = Dialect::Sqlite;
        state().readOnly = readOnly;
    } else {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QODBC")))
            return fail(QStringLiteral("没有安装 ODBC 数据库驱动（Qt 的 QODBC 插件）。"));
        const QString problem = LibDB::credentialsProblem(p);
        if (!problem.isEmpty())
            return problem;
        // Qt's driver runs the statements; values are read by our own (see ExactOdbcDriver).
        QSqlDatabase db = QSqlDatabase::addDatabase(new ExactOdbcDriver(odbcInnerName), Name);
        // Qt's driver puts "DSN=" in front of any string that names no DRIVER
        // or SERVER, so a data source string goes to it without that keyword.
        QString connection = LibDB::odbcConnectionString(p);
        if (connection.startsWith(QLatin1String("DSN="), Qt::CaseInsensitive)
            && !connection.contains(QLatin1String("DRIVER="), Qt::CaseInsensitive)
            && !connection.contains(QLatin1String("SERVER="), Qt::CaseInsensitive))
            connection = connection.mid(4);
        // A server that stops answering in the middle of a statement is
        // given up after QUERYTIMEOUT seconds of silence. FreeTDS takes its
        // query timeout from the connection's Timeout and applies it to
        // every wait for the server's next bytes, also while the rows of a
        // result arrive: a long result that keeps arriving is never cut.
        // It then cancels the statement; a server that does not answer the
        // cancel within as long again is dropped.
        int silence = 0;
        if (throughFreeTds(connection)) {
            silence = MachineSettings::queryTimeout();
            if (!connection.endsWith(QLatin1Char(';')))
                connection += QLatin1Char(';');
            connection += QStringLiteral("Timeout=%1;").arg(silence);
        }
        db.setDatabaseName(connection);
        // An unreachable server fails within seconds instead of minutes.
        db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=10"));
        if (!db.open())
            return fail(dbErrorText(db.lastError()));
        static_cast<ExactOdbcDriver *>(db.driver())->setSilenceLimit(silence);
        const QString server = odbcServerName(db);
        state().dialect = server.contains(QLatin1String("SQLite"), Qt::CaseInsensitive) ? Dialect::Sqlite
                                                                                        : Dialect::SqlServer;
        // A text size in the data source or in freetds.conf ("text size",
        // a common tuning line) makes SQL Server cut every TEXT value to it
        // without a word, and an export would carry the cut summaries on.
        // The console needs its long texts whole.
        if (state().dialect == Dialect::SqlServer) {
            QSqlQuery q(db);
            if (!q.exec(QStringLiteral("SET TEXTSIZE 2147483647")))
                return fail(dbErrorText(q.lastError()));
        }
    }

    // SQL Server waits for a lock for ever unless told otherwise; a scheduled
    // run behind the web site's lock would never end.
    try {
        LibDB::setLockTimeout(MachineSettings::lockTimeoutSeconds() * 1000);
    } catch (const DbError &e) {
        return fail(e.text());
    }
    if (state().dialect == Dialect::Sqlite) {
        QSqlDatabase db = QSqlDatabase::database(Name, false);
        // The journal mode is the database's own: switching it would write
        // to a file the console does not own, for good (and fail on a file
        // that cannot be written). In WAL mode synchronous=NORMAL keeps every
        // committed statement across a crash of the program while inserting
        // record by record stays fast; other modes keep the engine's default.
        QSqlQuery q(db);
        q.exec(QStringLiteral("PRAGMA journal_mode"));
        if (q.next() && q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0)
            q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
        // No report or export may land on the database or its companions.
        q.exec(QStringLiteral("PRAGMA database_list"));
        while (q.next()) {
            const QString file = q.value(2).toString();
            if (q.value(1).toString() == QLatin1String("main") && !file.isEmpty())
                setGuardedFiles({file, file + QLatin1String("-wal"), file + QLatin1String("-shm"),
                                 file + QLatin1String("-journal")});
        }
    }
    return QString();
}
} // namespace

bool LibDB::open(const ConnectionParams &p, QString *error)
{
    close();
    const QString why = openConnection(p);
    if (error) *error = why;
    if (!why.isEmpty()) {
        close();
        return false;
    }
    state().params = p;
    return true;
}

void LibDB::close()
{
    if (QSqlDatabase::contains(QLatin1String(Name))) {
        {
            QSqlDatabase db = QSqlDatabase::database(QLatin1String(Name), false);
            if (db.isOpen()) db.close();
        }
        QSqlDatabase::removeDatabase(QLatin1String(Name));
    }
    ExactOdbcDriver::removeInner(odbcInnerName);
    state().dialect = Dialect::SqlServer;
    state().readOnly = false;
    state().reopenPending = false;
    setGuardedFiles({});
}

bool LibDB::isOpen() { return QSqlDatabase::contains(QLatin1String(Name)) && database().isOpen(); }

QSqlDatabase LibDB::database() { return QSqlDatabase::database(QLatin1String(Name), false); }

Dialect LibDB::dialect() { return state().dialect; }

bool LibDB::readOnly() { return state().readOnly; }

QSqlQuery LibDB::exec(const QStringList &lines) { return run(lines.join(QLatin1Char('\n')), nullptr); }

QSqlQuery LibDB::exec(const QString &sql) { return run(sql, nullptr); }

QSqlQuery LibDB::exec(const QString &sql, const QVariantList &values) { return run(sql, &values); }

QVariant LibDB::scalar(const QString &sql)
{
    QSqlQuery q = exec(sql);
    return next(q) ? q.value(0) : QVariant();
}

bool LibDB::next(QSqlQuery &q)
{
    if (q.next())
        return true;
    if (q.lastError().isValid())
        throwFailure(q);
    return false;
}

QDateTime LibDB::toDateTime(const QVariant &v)
{
    if (!v.isValid() || v.isNull())
        return QDateTime();
    if (v.metaType().id() == QMetaType::QDateTime)
        return v.toDateTime();
    if (v.metaType().id() == QMetaType::QDate)
        return v.toDate().startOfDay();
    QDate date;
    QTime time;
    return parseDateText(v.toString(), date, time) ? QDateTime(date, time) : QDateTime();
}

void LibDB::setLockTimeout(int ms)
{
    state().lockTimeoutMs = ms;
    if (!isOpen())
        return;
    QSqlQuery q(database());
    const QString sql = state().dialect == Dialect::SqlServer ? QStringLiteral("SET LOCK_TIMEOUT %1").arg(ms)
                                                              : QStringLiteral("PRAGMA busy_timeout=%1").arg(ms);
    if (!q.exec(sql))
        throw DbError(dbErrorText(q.lastError()));
}

int LibDB::lockTimeout() { return state().lockTimeoutMs; }

QString LibDB::lockWaitText(const QString &databaseText)
{
    return QStringLiteral("数据库一直忙（其他用户正占用所需的数据），等待%1秒后仍未能使用，操作已停止：%2")
        .arg(QString::number(state().lockTimeoutMs / 1000.0), databaseText);
}

void LibDB::setStatementLog(QStringList *log) { state().log = log; }

void LibDB::noteStatement(const QString &sql) { logStatement(sql); }

void LibDB::failSqlServer(int number, const QString &text)
{
    if (number == 1222)
        throw DbError(lockWaitText(text));
    if (sqlServerRefusedValues(number))
        throw DbValueRefused(text);
    if (isPermissionError(number))
        throw DbPermissionDenied(text);
    throw DbError(text);
}

void LibDB::failSqlite(int resultCode, const QString &text)
{
    if (sqliteLockWait(resultCode))
        throw DbError(lockWaitText(text));
    if (sqliteRefusedValues(resultCode))
        throw DbValueRefused(text);
    // The engine's common failures in the operator's words first, its own
    // text after them for whoever looks further.
    QString sentence;
    switch (resultCode & 0xff) {
    case 8: sentence = QStringLiteral("数据库文件是只读的，不能写入"); break;
    case 10: sentence = QStringLiteral("读写数据库文件时出错"); break;
    case 11: // corrupt
    case 26: // not a database
        sentence = QStringLiteral("数据库文件已损坏或不是数据库");
        break;
    case 13: sentence = QStringLiteral("数据库或磁盘已满，不能写入"); break;
    case 14: sentence = QStringLiteral("无法打开数据库文件"); break;
    default: break;
    }
    if (sentence.isEmpty())
        throw DbError(text);
    throw DbError(QStringLiteral("%1（%2）。").arg(sentence, text));
}

namespace {
// A statement object's first run prepares it; every run is logged and needs
// the connection open.
void prepareOnce(QSqlQuery &query, bool &prepared, const QString &sql)
{
    logStatement(sql);
    if (!LibDB::database().isOpen())
        throw DbError(QStringLiteral("数据库连接未打开。"));
    if (!prepared) {
        if (!query.prepare(adaptStatement(sql, state().dialect)))
            throwFailure(query);
        prepared = true;
    }
}
} // namespace

LibStatement::LibStatement(const QString &sql) : m_sql(sql), m_query(LibDB::database())
{
    m_query.setForwardOnly(true);
}

void LibStatement::exec(const QVariantList &values)
{
    prepareOnce(m_query, m_prepared, m_sql);
    // Over ODBC the values are bound by our own code, steadily from run to run
    // (see execPreparedSteadily); Qt binds them on the other drivers.
    std::optional<bool> ran = execPreparedSteadily(m_query, values);
    if (!ran) {
        bind(values);
        ran = m_query.exec();
    }
    if (!*ran) {
        ScopeExit done([this] { m_query.finish(); });
        throwFailure(m_query); // before finish() clears the driver's diagnostics
    }
    m_query.finish();
}

QList<QStringList> LibStatement::rows(const QVariantList &values)
{
    prepareOnce(m_query, m_prepared, m_sql);
    QList<QStringList> rows;
    std::optional<bool> ran = execPreparedSteadily(m_query, values, &rows);
    if (!ran) {
        bind(values);
        ran = m_query.exec();
        if (*ran) {
            do {
                const int columns = m_query.record().count();
                while (m_query.next()) {
                    QStringList row;
                    for (int c = 0; c < columns; ++c)
                        row << (m_query.isNull(c) ? QString() : m_query.value(c).toString());
                    rows << row;
                }
            } while (m_query.nextResult());
        }
    }
    if (!*ran) {
        ScopeExit done([this] { m_query.finish(); });
        throwFailure(m_query);
    }
    m_query.finish();
    return rows;
}

// Reached on a driver that is neither ODBC (our own binding) nor the
// embedded engine's handle (the import's own statement): Qt binds by position.
void LibStatement::bind(const QVariantList &values)
{
    for (qsizetype i = 0; i < values.size(); ++i)
        m_query.bindValue(int(i), values.at(i));
}

#if defined(F_OFD_SETLK) || defined(_WIN32)
#define LECTORIA_FILE_WORK_LOCK 1
#endif

#ifdef LECTORIA_FILE_WORK_LOCK
namespace {

// SQLite keeps its own locks at the start of the page at 1 GiB (the lock
// page, never used for data); bytes from 512 on are free for ours.
constexpr qint64 workLockBase = 0x40000000LL + 512;

#ifndef _WIN32
// A descriptor on the database file for locks of our own, opened once per
// file and never closed: closing any descriptor of a file drops every POSIX
// lock the process holds on it, SQLite's included.
int lockDescriptor(const QString &file)
{
    static QHash<QString, int> open;
    const auto found = open.constFind(file);
    if (found != open.constEnd())
        return found.value();
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDWR | O_CLOEXEC);
    if (fd >= 0)
        open.insert(file, fd);
    return fd;
}
#endif

// One byte of the lock page, taken without waiting.
enum class ByteLock { Taken, Held, Unsupported };
#ifdef _WIN32
using LockHandle = HANDLE;

OVERLAPPED at(qint64 offset)
{
    OVERLAPPED o{};
    o.Offset = DWORD(offset & 0xffffffff);
    o.OffsetHigh = DWORD(offset >> 32);
    return o;
}

ByteLock lockByte(HANDLE h, qint64 offset)
{
    OVERLAPPED o = at(offset);
    if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &o))
        return ByteLock::Taken;
    const DWORD error = GetLastError();
    return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? ByteLock::Held : ByteLock::Unsupported;
}

void unlockByte(HANDLE h, qint64 offset)
{
    OVERLAPPED o = at(offset);
    UnlockFileEx(h, 0, 1, 0, &o);
}
#else
using LockHandle = int;

bool setByteLock(int fd, short type, qint64 offset)
{
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = offset;
    lock.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

ByteLock lockByte(int fd, qint64 offset)
{
    if (setByteLock(fd, F_WRLCK, offset))
        return ByteLock::Taken;
    return errno == EAGAIN || errno == EACCES || errno == EINTR ? ByteLock::Held : ByteLock::Unsupported;
}

void unlockByte(int fd, qint64 offset) { setByteLock(fd, F_UNLCK, offset); }
#endif

QString mainDatabaseFile()
{
    QSqlQuery q(LibDB::database());
    q.exec(QStringLiteral("PRAGMA database_list"));
    while (q.next())
        if (q.value(1).toString() == QLatin1String("main"))
            return q.value(2).toString();
    return QString();
}

} // namespace
#endif

LibWorkLock::LibWorkLock(const QString &name, int slot, const QString &refusal) : m_name(name)
{
    const int waitMs = std::max(0, LibDB::lockTimeout());
    if (LibDB::dialect() == Dialect::SqlServer) {
        QString quoted = name;
        quoted.replace(QLatin1Char('\''), QLatin1String("''"));
        QSqlQuery q = LibDB::exec(
            QStringLiteral("declare @r int; exec @r = sp_getapplock @Resource = N'%1', @LockMode = 'Exclusive', "
                           "@LockOwner = 'Session', @LockTimeout = %2; select @r")
                .arg(quoted)
                .arg(waitMs));
        const QVariant granted = q.next() ? q.value(0) : QVariant();
        while (q.next()) {
            // read to the end: a result left unread costs a cancel on the wire
        }
        bool numeric = false;
        const int code = granted.toInt(&numeric);
        if (numeric && code == -1)
            throw DbError(refusal);
        if (!numeric || code < 0)
            throw DbError(QStringLiteral("数据库没有给出应用锁“%1”（sp_getapplock 返回 %2），操作已停止。")
                              .arg(name, granted.toString()));
        m_serverLock = true;
        return;
    }
#ifdef LECTORIA_FILE_WORK_LOCK
    if (LibDB::readOnly())
        return;
    const QString file = mainDatabaseFile();
    m_offset = workLockBase + std::clamp(slot, 0, 255);
#ifdef _WIN32
    // Windows keeps a lock to the handle that took it, and a mandatory lock
    // on bytes SQLite never reads or writes hinders nobody: a handle of our
    // own for each lock, closed with it.
    const LockHandle handle = file.isEmpty() ? INVALID_HANDLE_VALUE
                                             : CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(file).utf16()),
                                                           GENERIC_READ | GENERIC_WRITE,
                                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return; // a file this process cannot write: no import can write there either
    const auto letGo = [&] { CloseHandle(handle); };
    const auto keep = [&] { m_file = handle; };
#else
    const LockHandle handle = file.isEmpty() ? -1 : lockDescriptor(file);
    if (handle < 0)
        return; // a file this process cannot write: no import can write there either
    const auto letGo = [] {}; // the descriptor stays open for the process
    const auto keep = [&] { m_fd = handle; };
#endif
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        switch (lockByte(handle, m_offset)) {
        case ByteLock::Taken:
            keep();
            return;
        case ByteLock::Unsupported:
            letGo();
            return; // the file system keeps no such locks: as without them
        case ByteLock::Held:
            break;
        }
        if (waited.elapsed() >= waitMs) {
            letGo();
            throw DbError(refusal);
        }
        QThread::msleep(20);
    }
#else
    Q_UNUSED(slot);
    Q_UNUSED(refusal);
#endif
}

LibWorkLock::~LibWorkLock()
{
    if (m_serverLock && LibDB::isOpen()) {
        // A connection already lost took the lock with it.
        QString quoted = m_name;
        quoted.replace(QLatin1Char('\''), QLatin1String("''"));
        const QString release = QStringLiteral("exec sp_releaseapplock @Resource = N'%1', @LockOwner = 'Session'").arg(quoted);
        LibDB::noteStatement(release);
        QSqlQuery q(LibDB::database());
        q.setForwardOnly(true);
        q.exec(release);
    }
#ifdef _WIN32
    if (m_file) {
        unlockByte(m_file, m_offset);
        CloseHandle(m_file);
    }
#elif defined(F_OFD_SETLK)
    if (m_fd >= 0)
        unlockByte(m_fd, m_offset);
#endif
}

namespace {
QVariant pragma(const QString &name, const QString &value = QString())
{
    QSqlQuery q(LibDB::database());
    q.exec(QStringLiteral("PRAGMA ") + name + (value.isEmpty() ? QString() : QLatin1Char('=') + value));
    return q.next() ? q.value(0) : QVariant();
}
} // namespace

LibBulkRun::LibBulkRun()
{
    if (LibDB::dialect() != Dialect::Sqlite || !LibDB::isOpen())
        return;
    m_mmapSize = pragma(QStringLiteral("mmap_size"));
    m_autoCheckpoint = pragma(QStringLiteral("wal_autocheckpoint"));
    pragma(QStringLiteral("mmap_size"), QStringLiteral("1073741824"));
    pragma(QStringLiteral("wal_autocheckpoint"), QStringLiteral("10000"));
}

LibBulkRun::~LibBulkRun()
{
    if (LibDB::dialect() != Dialect::Sqlite || !LibDB::isOpen())
        return;
    if (m_mmapSize.isValid())
        pragma(QStringLiteral("mmap_size"), m_mmapSize.toString());
    if (m_autoCheckpoint.isValid())
        pragma(QStringLiteral("wal_autocheckpoint"), m_autoCheckpoint.toString());
}

} // namespace lectoria
