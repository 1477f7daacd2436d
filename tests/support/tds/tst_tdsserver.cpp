// The TDS test server as FreeTDS's ODBC driver sees it, through the raw ODBC
// API (wide characters, so that text arrives exactly as the server sent it).
#include "tdstestserver.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <functional>
#include <thread>

#include "odbcapi.h"

using namespace lectoria;
using namespace lectoria::test;

namespace {

QString wide(const SQLWCHAR *s, SQLLEN bytes)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(s), qsizetype(bytes / sizeof(SQLWCHAR)));
}

std::u16string utf16(const QString &s)
{
    return s.toStdU16String();
}

// One ODBC connection to the server, with a statement handle.
class Odbc {
public:
    explicit Odbc(const QString &connection)
    {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        std::u16string c = utf16(connection);
        connected = SQL_SUCCEEDED(SQLDriverConnectW(dbc, nullptr, reinterpret_cast<SQLWCHAR *>(c.data()), SQL_NTS,
                                                    nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT));
        if (!connected)
            lastError = diagnostics(SQL_HANDLE_DBC, dbc).join(QLatin1Char('\n'));
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    }
    ~Odbc()
    {
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        if (connected)
            SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }

    // "<native error> <text>" of every diagnostic record.
    QStringList diagnostics(SQLSMALLINT type, SQLHANDLE h)
    {
        QStringList out;
        for (SQLSMALLINT i = 1;; ++i) {
            SQLWCHAR state[6], text[2048];
            SQLINTEGER native = 0;
            SQLSMALLINT len = 0;
            if (!SQL_SUCCEEDED(SQLGetDiagRecW(type, h, i, state, &native, text, 2048, &len)))
                return out;
            out << QString::number(native) + QLatin1Char(' ') + wide(text, len * SQLLEN(sizeof(SQLWCHAR)));
        }
    }

    // Runs a statement directly; false with lastError/nativeError set when it fails.
    bool exec(const QString &sql)
    {
        SQLFreeStmt(stmt, SQL_CLOSE);
        std::u16string s = utf16(sql);
        return check(SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR *>(s.data()), SQL_NTS));
    }

    bool check(SQLRETURN r)
    {
        messages = diagnostics(SQL_HANDLE_STMT, stmt);
        if (SQL_SUCCEEDED(r) || r == SQL_NO_DATA)
            return true;
        lastError = messages.join(QLatin1Char('\n'));
        nativeError = messages.isEmpty() ? 0 : messages.first().section(QLatin1Char(' '), 0, 0).toInt();
        return false;
    }

    QString text(int column)
    {
        QString out;
        SQLWCHAR buf[4096];
        SQLLEN ind = 0;
        // Read piece by piece until the driver has given all of it.
        for (;;) {
            SQLRETURN r = SQLGetData(stmt, SQLUSMALLINT(column), SQL_C_WCHAR, buf, sizeof buf, &ind);
            if (r == SQL_NO_DATA || !SQL_SUCCEEDED(r) || ind == SQL_NULL_DATA)
                return ind == SQL_NULL_DATA ? QString() : out;
            const SQLLEN got = (ind == SQL_NO_TOTAL || ind >= SQLLEN(sizeof buf)) ? SQLLEN(sizeof buf) - 2 : ind;
            out += wide(buf, got);
            if (r == SQL_SUCCESS)
                return out;
        }
    }

    bool isNull(int column)
    {
        char buf[8];
        SQLLEN ind = 0;
        SQLGetData(stmt, SQLUSMALLINT(column), SQL_C_CHAR, buf, sizeof buf, &ind);
        return ind == SQL_NULL_DATA;
    }

    qint64 integer(int column)
    {
        SQLBIGINT v = 0;
        SQLLEN ind = 0;
        SQLGetData(stmt, SQLUSMALLINT(column), SQL_C_SBIGINT, &v, sizeof v, &ind);
        return v;
    }

    QDateTime timestamp(int column)
    {
        SQL_TIMESTAMP_STRUCT t{};
        SQLLEN ind = 0;
        SQLGetData(stmt, SQLUSMALLINT(column), SQL_C_TYPE_TIMESTAMP, &t, sizeof t, &ind);
        if (ind == SQL_NULL_DATA)
            return QDateTime();
        return QDateTime(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second, int(t.fraction / 1000000)));
    }

    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    bool connected = false;
    QString lastError;
    int nativeError = 0;
    QStringList messages;
};

QString repeatChinese(int n)
{
    const QString pool = QStringLiteral("图书馆电子阅览室期刊论文数字资源管理系统");
    QString s;
    for (int i = 0; i < n; ++i)
        s += pool.at(i % pool.size());
    return s;
}

int gbkBytes(const QString &s)
{
    int n = 0;
    for (QChar c : s)
        n += c.unicode() < 0x80 ? 1 : 2;
    return n;
}

TestDatabase::Options plain()
{
    TestDatabase::Options o;
    o.open = false;
    return o;
}

// A test database, made ready by prepare, served over the wire with one ODBC
// connection to it (options added to the connection string).
struct Wire {
    explicit Wire(const std::function<void(TestDatabase &)> &prepare = nullptr, const QString &options = QString())
        : db(plain()), ready(((prepare ? prepare(db) : void()), true)), server(db.path()),
          c(server.started() ? server.connectionString() + options : QString())
    {
    }
    QString problem() const { return !server.started() ? server.error() : c.connected ? QString() : c.lastError; }

    TestDatabase db;
    bool ready; // set once prepare has run, before the server starts
    TdsTestServer server;
    Odbc c;
};

} // namespace

class TdsServerTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        const QString reason = TdsTestServer::unavailable();
        if (!reason.isEmpty())
            QSKIP(qPrintable(reason));
    }

    void readsValuesAsSqlServerSendsThem_data()
    {
        QTest::addColumn<QString>("title");
        QTest::newRow("ascii") << QStringLiteral("Hello 'quoted'");
        QTest::newRow("9 Chinese") << repeatChinese(9);
        QTest::newRow("10 Chinese") << repeatChinese(10);
        QTest::newRow("64 Chinese, the whole width") << repeatChinese(64);
        QTest::newRow("empty") << QStringLiteral("");
    }

    void readsValuesAsSqlServerSendsThem()
    {
        QFETCH(QString, title);
        Wire w([&](TestDatabase &db) {
            db.exec(QStringLiteral("insert into www_shdh (li_id,li_title,li_typeid,li_logtime,li_content) values (7,?,3,"
                                   "'2024-02-29 13:14:15',?)"),
                {title, repeatChinese(5000)});
        });
        QVERIFY2(w.problem().isEmpty(), qPrintable(w.problem()));
        auto &[db, ready, server, c] = w;

        QVERIFY2(c.exec(QStringLiteral("select li_title,li_id,li_logtime,li_content,li_about,count(*) as iC "
                                       "from www_shdh group by li_id")),
                 qPrintable(c.lastError));
        QVERIFY(SQL_SUCCEEDED(SQLFetch(c.stmt)));
        // CHAR(128): blank-padded to 128 bytes in GBK.
        QCOMPARE(c.text(1), title + QString(128 - gbkBytes(title), QLatin1Char(' ')));
        QCOMPARE(c.integer(2), 7);
        QCOMPARE(c.timestamp(3), QDateTime(QDate(2024, 2, 29), QTime(13, 14, 15)));
        QCOMPARE(c.text(4), repeatChinese(5000));
        QVERIFY(c.isNull(5));
        QCOMPARE(c.integer(6), 1);

        // The types as SQL Server declares them.
        const struct { int column; SQLSMALLINT type; SQLULEN size; } expected[] = {
            {1, SQL_CHAR, 128}, {2, SQL_INTEGER, 10}, {3, SQL_TYPE_TIMESTAMP, 23}, {4, SQL_LONGVARCHAR, 0}, {6, SQL_INTEGER, 10}};
        for (const auto &e : expected) {
            SQLWCHAR name[64];
            SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
            SQLULEN size = 0;
            SQLDescribeColW(c.stmt, SQLUSMALLINT(e.column), name, 64, &nameLen, &type, &size, &digits, &nullable);
            QCOMPARE(type, e.type);
            if (e.size)
                QCOMPARE(size, e.size);
        }
    }

    void failsWithSqlServersErrors_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("text");
        QTest::newRow("CHAR too narrow, in GBK bytes")
            << QStringLiteral("insert www_shdh (li_title) values (N'%1')").arg(repeatChinese(65)) << 8152
            << QStringLiteral("String or binary data would be truncated.");
        QTest::newRow("update too wide") << QStringLiteral("update www_admin set ad_code='1234567'") << 8152
                                         << QStringLiteral("truncated");
        QTest::newRow("no such table") << QStringLiteral("select * from www_nothing") << 208
                                       << QStringLiteral("Invalid object name 'www_nothing'.");
        QTest::newRow("no such column") << QStringLiteral("select li_nothing from www_shdh") << 207
                                        << QStringLiteral("Invalid column name 'li_nothing'.");
        QTest::newRow("syntax") << QStringLiteral("select li_title frm www_shdh where") << 102
                                << QStringLiteral("Incorrect syntax near");
        QTest::newRow("duplicate key") << QStringLiteral("insert into www_shtype values (1,'x')") << 2627
                                       << QStringLiteral("Violation of PRIMARY KEY constraint");
        QTest::newRow("refused by a trigger") << QStringLiteral("insert into www_shtype values (90,'refuse')") << 547
                                              << QStringLiteral("不收此记录");
        QTest::newRow("no such date") << QStringLiteral("select * from www_shdh where li_logtime >= '20240230'") << 242
                                      << QStringLiteral("out-of-range value");
        QTest::newRow("no date in a date column")
            << QStringLiteral("update www_admin set lo_time='yesterday'") << 242 << QStringLiteral("out-of-range value");
    }

    void failsWithSqlServersErrors()
    {
        QFETCH(QString, sql);
        QFETCH(int, number);
        QFETCH(QString, text);
        Wire w([&](TestDatabase &db) {
            db.exec(QStringLiteral("create trigger refuse before insert on www_shtype when new.lt_notice='refuse' "
                                   "begin select raise(abort, '不收此记录'); end"));
        });
        QVERIFY2(w.problem().isEmpty(), qPrintable(w.problem()));
        auto &[db, ready, server, c] = w;
        // As a batch and as a prepared statement (sp_prepexec).
        for (bool prepared : {false, true}) {
            if (prepared) {
                std::u16string s = utf16(sql);
                SQLFreeStmt(c.stmt, SQL_CLOSE);
                QVERIFY(c.check(SQLPrepareW(c.stmt, reinterpret_cast<SQLWCHAR *>(s.data()), SQL_NTS)));
                QVERIFY(!c.check(SQLExecute(c.stmt)));
            } else {
                QVERIFY(!c.exec(sql));
            }
            QCOMPARE(c.nativeError, number);
            QVERIFY2(c.lastError.contains(text), qPrintable(c.lastError));
            // The connection goes on.
            QVERIFY2(c.exec(QStringLiteral("select count(*) from www_admin")), qPrintable(c.lastError));
        }
    }

    void translatesTheConsolesStatements_data()
    {
        QTest::addColumn<QStringList>("statements");
        QTest::addColumn<QString>("check"); // on the SQLite file
        QTest::addColumn<QString>("expected");
        QTest::newRow("literal text left alone")
            << QStringList{QStringLiteral("insert www_shdh (li_id,li_content) values (50, N'图书''s isnull(x) dbo.y getdate() 20240101')")}
            << QStringLiteral("select li_content from www_shdh where li_id=50") << QStringLiteral("图书's isnull(x) dbo.y getdate() 20240101");
        QTest::newRow("text without N in the code page")
            << QStringList{QStringLiteral("insert www_shdh (li_id,li_content) values (50, 'ß中')"),
                           QStringLiteral("insert www_shdh (li_id,li_content) values (51, N'ß中')")}
            << QStringLiteral("select group_concat(li_content, '|') from www_shdh where li_id in (50,51)") << QStringLiteral("?中|ß中");
        QTest::newRow("date literals as stored dates")
            << QStringList{QStringLiteral("update www_admin set lo_time='20240315 08:09:10' where ad_code='admin'"),
                           QStringLiteral("update www_admin set lo_time='20240316' where ad_code='lib01'")}
            << QStringLiteral("select group_concat(lo_time, '|') from (select lo_time from www_admin where ad_code in ('admin','lib01') order by ad_code)")
            << QStringLiteral("2024-03-15 08:09:10|2024-03-16 00:00:00");
        QTest::newRow("getdate")
            << QStringList{QStringLiteral("update www_admin set lo_time=getdate() where ad_code='admin'")}
            << QStringLiteral("select lo_time = datetime('now','localtime') or lo_time = datetime('now','localtime','-1 second') from www_admin where ad_code='admin'")
            << QStringLiteral("1");
        QTest::newRow("top, insert without into")
            << QStringList{QStringLiteral("insert www_shtype (lt_id,lt_notice) select top 2 lt_id+100,lt_notice from www_shtype order by lt_id desc")}
            << QStringLiteral("select count(*) from www_shtype where lt_id > 100") << QStringLiteral("2");
        QTest::newRow("identity, key added afterwards")
            << QStringList{QStringLiteral("create table lib_prtblank ( pb_no int NOT NULL IDENTITY (1, 1), pb_top int default(0) )"),
                           QStringLiteral("ALTER TABLE lib_prtblank ADD CONSTRAINT PK_lib_prtblank PRIMARY KEY NONCLUSTERED(pb_no)"),
                           QStringLiteral("insert into lib_prtblank(pb_top) values(10)"), QStringLiteral("insert into lib_prtblank(pb_top) values(20)")}
            << QStringLiteral("select group_concat(pb_no || ':' || pb_top) from lib_prtblank") << QStringLiteral("1:10,2:20");
        QTest::newRow("column added, existence checks")
            << QStringList{QStringLiteral("alter table www_lineread add li_pages int  default(1)"),
                           QStringLiteral("insert www_admin (ad_code,ad_name,ad_pass,ad_auth1,ad_auth2,ad_auth3,ad_auth4,ad_auth5,ad_auth6,"
                                          "ad_auth7,ad_auth8,ad_auth9,ad_auth10,ad_auth11,ad_auth12,ad_auth13,ad_auth14,ad_auth15,ad_auth16,"
                                          "ad_auth17,ad_auth18,ad_auth19) select 'x', 'y','z','1','1','1','1','1','1','1','1','1','1','1','1','1',"
                                          "'1','1','1','1','1','1' from syscolumns where name='li_pages' and id in "
                                          "(select id from sysobjects where name = 'www_lineread')")}
            << QStringLiteral("select count(*) from www_admin where ad_name='y'") << QStringLiteral("1");
    }

    void translatesTheConsolesStatements()
    {
        QFETCH(QStringList, statements);
        QFETCH(QString, check);
        QFETCH(QString, expected);
        Wire w;
        QVERIFY2(w.problem().isEmpty(), qPrintable(w.problem()));
        auto &[db, ready, server, c] = w;
        for (const QString &sql : statements)
            QVERIFY2(c.exec(sql), qPrintable(sql + QLatin1Char('\n') + c.lastError));
        QCOMPARE(db.scalar(check).toString(), expected);
    }

    void readsDateLiteralsAsTheLoginLanguageDoes_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("literal");
        QTest::addColumn<QString>("stored"); // empty: error 242
        QTest::newRow("us_english, dashed") << QStringLiteral("us_english") << QStringLiteral("2024-03-15") << QStringLiteral("2024-03-15");
        QTest::newRow("british, dashed, day 15") << QStringLiteral("british") << QStringLiteral("2024-03-15") << QString();
        QTest::newRow("british, dashed, day 5") << QStringLiteral("british") << QStringLiteral("2024-03-05 10:20:30")
                                                << QStringLiteral("2024-05-03 10:20:30");
        QTest::newRow("british, digits") << QStringLiteral("british") << QStringLiteral("20240315 10:20:30")
                                         << QStringLiteral("2024-03-15 10:20:30");
        QTest::newRow("deutsch, digits") << QStringLiteral("deutsch") << QStringLiteral("20240229") << QStringLiteral("2024-02-29 00:00:00");
    }

    void readsDateLiteralsAsTheLoginLanguageDoes()
    {
        QFETCH(QString, language);
        QFETCH(QString, literal);
        QFETCH(QString, stored);
        Wire w(nullptr, QStringLiteral(";Language=") + language);
        QVERIFY2(w.problem().isEmpty(), qPrintable(w.problem()));
        auto &[db, ready, server, c] = w;
        const bool ok = c.exec(QStringLiteral("update www_admin set lo_time='%1' where ad_code='admin'").arg(literal));
        if (stored.isEmpty()) {
            QVERIFY(!ok);
            QCOMPARE(c.nativeError, 242);
        } else {
            QVERIFY2(ok, qPrintable(c.lastError));
            QCOMPARE(db.scalar(QStringLiteral("select lo_time from www_admin where ad_code='admin'")).toString(), stored);
        }
    }

    // Chinese_PRC_CI_AS: letters without case, trailing blanks not counted
    // by '=', kept by LIKE; the same rule for bound values and IN lists.
    void comparesAsTheDatabaseCollation_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("expected");
        QTest::newRow("= without case") << QStringLiteral("select count(*) from www_admin where ad_code='ADMIN'") << QStringLiteral("1");
        QTest::newRow("= without trailing blanks") << QStringLiteral("select count(*) from www_admin where ad_code='admin   '") << QStringLiteral("1");
        QTest::newRow("leading blanks count") << QStringLiteral("select count(*) from www_admin where ad_code=' admin'") << QStringLiteral("0");
        QTest::newRow("<> alike") << QStringLiteral("select count(*) from www_admin where ad_code<>'Admin '") << QStringLiteral("4");
        QTest::newRow("bound value") << QStringLiteral("select count(*) from www_admin where ad_code=?") << QStringLiteral("1");
        QTest::newRow("in list") << QStringLiteral("select count(*) from www_admin where ad_code in ('ADMIN','Lib01')") << QStringLiteral("2");
        QTest::newRow("like without case") << QStringLiteral("select count(*) from www_admin where ad_code like 'AD%'") << QStringLiteral("1");
        QTest::newRow("blank titles are empty")
            << QStringLiteral("select count(*) from www_shdh where li_title=''") << QStringLiteral("3");
        QTest::newRow("order by, case aside")
            << QStringLiteral("select ad_code from www_admin order by ad_code") << QStringLiteral("admin|b2|Bb|guest|lib01");
        QTest::newRow("order by, Chinese by pinyin")
            << QStringLiteral("select lt_notice from www_shtype where lt_id>=80 order by lt_notice desc")
            << QStringLiteral("中文|文学|阿拉伯");
    }

    void comparesAsTheDatabaseCollation()
    {
        QFETCH(QString, sql);
        QFETCH(QString, expected);
        Wire w([](TestDatabase &db) {
            db.addOperator(QStringLiteral("Bb"), QStringLiteral("x"), QStringLiteral("x"), QString(19, QLatin1Char('0')));
            db.addOperator(QStringLiteral("b2"), QStringLiteral("x"), QStringLiteral("x"), QString(19, QLatin1Char('0')));
            for (const QString &title : {QStringLiteral(""), QStringLiteral(" "), QStringLiteral("   "), QStringLiteral("x")})
                db.exec(QStringLiteral("insert into www_shdh (li_title) values (?)"), {title});
            int id = 80;
            for (const QString &name : {QStringLiteral("文学"), QStringLiteral("阿拉伯"), QStringLiteral("中文")})
                db.exec(QStringLiteral("insert into www_shtype values (?,?)"), {id++, name});
        });
        QVERIFY2(w.problem().isEmpty(), qPrintable(w.problem()));
        auto &c = w.c;
        std::u16string code = utf16(QStringLiteral("ADMIN "));
        SQLLEN codeLen = SQLLEN(code.size() * 2);
        QVERIFY(c.check(SQLBindParameter(c.stmt, 1, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 6, 0, code.data(),
                                         codeLen, &codeLen)));
        QVERIFY2(c.exec(sql), qPrintable(c.lastError));
        QStringList got;
        while (SQL_SUCCEEDED(SQLFetch(c.stmt)))
            got << c.text(1).trimmed();
        QCOMPARE(got.join(QLatin1Char('|')), expected);
    }

    // SQL Server drops what exceeds CHAR(n) when it is only blanks, and
    // refuses the value when anything else would be cut.
    void storesWhatFitsOnceTrailingBlanksAreDropped_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("stored");
        QTest::newRow("128 bytes and a blank") << repeatChinese(64) + QStringLiteral(" ") << true;
        QTest::newRow("128 bytes and many blanks") << repeatChinese(64) + QString(300, QLatin1Char(' ')) << true;
        QTest::newRow("one byte more") << repeatChinese(64) + QStringLiteral("x") << false;
        QTest::newRow("a blank inside the excess") << repeatChinese(64) + QStringLiteral(" x") << false;
    }

    void storesWhatFitsOnceTrailingBlanksAreDropped()
    {
        QFETCH(QString, title);
        QFETCH(bool, stored);
        Wire w;
        QVERIFY2(w.problem().isEmpty(), qPrintable(w.problem()));
        auto &c = w.c;
        const bool ok = c.exec(QStringLiteral("insert www_shdh (li_id,li_title) values (60,N'%1')").arg(title));
        QCOMPARE(ok, stored);
        if (!ok) {
            QCOMPARE(c.nativeError, 8152);
            return;
        }
        QVERIFY2(c.exec(QStringLiteral("select li_title from www_shdh where li_id=60")), qPrintable(c.lastError));
        QVERIFY(SQL_SUCCEEDED(SQLFetch(c.stmt)));
        QCOMPARE(c.text(1), repeatChinese(64));
    }

    // SET TEXTSIZE cuts TEXT values, as FreeTDS sends it when its data source
    // or freetds.conf sets a text size.
    void cutsTextToTheSessionsTextSize()
    {
        const QString summary = QStringLiteral("abcdefghij").repeated(50);
        Wire w([&](TestDatabase &db) {
            db.exec(QStringLiteral("insert into www_shdh (li_id,li_content) values (61,?)"), {summary});
        }, QStringLiteral(";TextSize=100"));
        QVERIFY2(w.problem().isEmpty(), qPrintable(w.problem()));
        auto &c = w.c;
        const QString read = QStringLiteral("select li_content from www_shdh where li_id=61");
        QVERIFY2(c.exec(read), qPrintable(c.lastError));
        QVERIFY(SQL_SUCCEEDED(SQLFetch(c.stmt)));
        QCOMPARE(c.text(1), summary.left(100));

        QVERIFY2(c.exec(QStringLiteral("set textsize 2147483647")), qPrintable(c.lastError));
        QVERIFY2(c.exec(read), qPrintable(c.lastError));
        QVERIFY(SQL_SUCCEEDED(SQLFetch(c.stmt)));
        QCOMPARE(c.text(1), summary);
    }

    void preparedInsertSendsEachRecordOnce()
    {
        Wire w;
        QVERIFY2(w.problem().isEmpty(), qPrintable(w.problem()));
        auto &[db, ready, server, c] = w;
        server.clearRequests();

        std::u16string sql = utf16(QStringLiteral("insert www_shdh (li_title,li_typeid,li_logtime,li_content) values (?,?,?,?)"));
        QVERIFY(c.check(SQLPrepareW(c.stmt, reinterpret_cast<SQLWCHAR *>(sql.data()), SQL_NTS)));
        const QString summary = repeatChinese(100000) + QStringLiteral("'end"); // about 300 KB in UTF-8
        const QStringList titles{repeatChinese(64), QStringLiteral("It's"), repeatChinese(10)};

        // Bound once; each record only fills the buffers.
        std::u16string title(128, u' '), content(summary.size(), u' ');
        SQLLEN titleLen = 0, contentLen = 0, typeLen = 0, whenLen = sizeof(SQL_TIMESTAMP_STRUCT);
        SQLINTEGER type = 0;
        SQL_TIMESTAMP_STRUCT when{2024, 12, 31, 23, 59, 58, 0};
        QVERIFY(c.check(SQLBindParameter(c.stmt, 1, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 128, 0, title.data(),
                                         SQLLEN(title.size() * 2), &titleLen)));
        QVERIFY(c.check(SQLBindParameter(c.stmt, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &type, 0, &typeLen)));
        QVERIFY(c.check(SQLBindParameter(c.stmt, 3, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 23, 3, &when,
                                         0, &whenLen)));
        QVERIFY(c.check(SQLBindParameter(c.stmt, 4, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WLONGVARCHAR, content.size(), 0,
                                         content.data(), SQLLEN(content.size() * 2), &contentLen)));
        for (int i = 0; i < titles.size(); ++i) {
            const std::u16string t = utf16(titles.at(i)), s = utf16(summary);
            std::copy(t.begin(), t.end(), title.begin());
            titleLen = SQLLEN(t.size() * 2);
            std::copy(s.begin(), s.end(), content.begin());
            contentLen = i == 1 ? SQL_NULL_DATA : SQLLEN(s.size() * 2);
            type = 10 + i;
            QVERIFY2(c.check(SQLExecute(c.stmt)), qPrintable(c.lastError));
        }
        // Prepared with the first record, executed by handle for the others.
        QCOMPARE(server.requests(), (QStringList{QStringLiteral("rpc sp_prepexec insert www_shdh (li_title,li_typeid,li_logtime,li_content) values"),
                                                 QStringLiteral("rpc sp_execute"), QStringLiteral("rpc sp_execute")}));

        // Bound values in a direct statement go as sp_executesql.
        QVERIFY(c.check(SQLFreeStmt(c.stmt, SQL_RESET_PARAMS)));
        SQL_TIMESTAMP_STRUCT since{2024, 12, 31, 23, 59, 58, 0};
        QVERIFY(c.check(SQLBindParameter(c.stmt, 1, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 23, 3, &since,
                                         0, &whenLen)));
        QVERIFY2(c.exec(QStringLiteral("select count(*) from www_shdh where li_logtime >= ? and li_title like N'%馆%'")),
                 qPrintable(c.lastError));
        QVERIFY(SQL_SUCCEEDED(SQLFetch(c.stmt)));
        QCOMPARE(c.integer(1), 2);
        QVERIFY2(server.requests().last().startsWith(QStringLiteral("rpc sp_executesql select count(*)")),
                 qPrintable(server.requests().last()));

        // A prepared SELECT is described before it runs (sp_prepare).
        Odbc d(server.connectionString());
        std::u16string select = utf16(QStringLiteral("select li_title,li_logtime from www_shdh where li_id=?"));
        QVERIFY(d.check(SQLPrepareW(d.stmt, reinterpret_cast<SQLWCHAR *>(select.data()), SQL_NTS)));
        SQLSMALLINT columns = 0;
        QVERIFY(d.check(SQLNumResultCols(d.stmt, &columns)));
        QCOMPARE(columns, SQLSMALLINT(2));
        SQLWCHAR name[64];
        SQLSMALLINT nameLen = 0, columnType = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        QVERIFY(d.check(SQLDescribeColW(d.stmt, 1, name, 64, &nameLen, &columnType, &size, &digits, &nullable)));
        QCOMPARE(wide(name, nameLen * 2), QStringLiteral("li_title"));
        QCOMPARE(columnType, SQLSMALLINT(SQL_CHAR));
        QCOMPARE(size, SQLULEN(128));

        const QVector<QVariantList> rows = db.rows(QStringLiteral("select li_title,li_typeid,li_logtime,li_content from www_shdh order by li_id"));
        QCOMPARE(rows.size(), titles.size());
        for (int i = 0; i < titles.size(); ++i) {
            QCOMPARE(rows[i].mid(0, 3), (QVariantList{titles[i], 10 + i, QStringLiteral("2024-12-31 23:59:58")}));
            if (i == 1)
                QVERIFY(rows[i][3].isNull());
            else
                QCOMPARE(rows[i][3].toString(), summary);
        }
    }

    void scrollsAStaticCursor()
    {
        // Qt's scrollable statements reach the server as static cursors.
        Wire w;
        QVERIFY2(w.problem().isEmpty(), qPrintable(w.problem()));
        auto &[db, ready, server, c] = w;
        QVERIFY(SQL_SUCCEEDED(SQLSetStmtAttr(c.stmt, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_STATIC), 0)));
        QVERIFY2(c.exec(QStringLiteral("select lt_id from www_shtype where lt_id <= 5 order by lt_id")), qPrintable(c.lastError));
        const struct { SQLSMALLINT orientation; SQLLEN offset; int id; } steps[] = {
            {SQL_FETCH_NEXT, 0, 1},  {SQL_FETCH_NEXT, 0, 2},     {SQL_FETCH_LAST, 0, 5},  {SQL_FETCH_NEXT, 0, 0},
            {SQL_FETCH_FIRST, 0, 1}, {SQL_FETCH_ABSOLUTE, 3, 3}, {SQL_FETCH_PRIOR, 0, 2}, {SQL_FETCH_RELATIVE, 2, 4},
            {SQL_FETCH_ABSOLUTE, -1, 5}, {SQL_FETCH_PRIOR, 0, 4}};
        for (const auto &step : steps) {
            const SQLRETURN r = SQLFetchScroll(c.stmt, step.orientation, step.offset);
            if (!step.id) {
                QCOMPARE(r, SQLRETURN(SQL_NO_DATA));
                continue;
            }
            QVERIFY2(c.check(r), qPrintable(c.lastError));
            QCOMPARE(c.integer(1), step.id);
            SQLULEN row = 0;
            QVERIFY(SQL_SUCCEEDED(SQLGetStmtAttr(c.stmt, SQL_ATTR_ROW_NUMBER, &row, SQL_IS_UINTEGER, nullptr)));
            QCOMPARE(int(row), step.id);
        }
        QCOMPARE(server.countRequests(QStringLiteral("rpc sp_cursoropen")), 1);
    }

    void transactionsAndSavepoints()
    {
        Wire w;
        QVERIFY2(w.problem().isEmpty(), qPrintable(w.problem()));
        auto &[db, ready, server, c] = w;
        for (const char *sql : {"begin tran", "insert www_shtype values (91,'a')", "save tran one",
                                "insert www_shtype values (92,'b')", "rollback tran one", "insert www_shtype values (93,'c')",
                                "commit tran"})
            QVERIFY2(c.exec(QString::fromLatin1(sql)), qPrintable(c.lastError));
        QCOMPARE(db.scalar(QStringLiteral("select group_concat(lt_id) from www_shtype where lt_id > 90")).toString(), QStringLiteral("91,93"));

        // The driver's own transactions: autocommit off, then SQLEndTran.
        QVERIFY(SQL_SUCCEEDED(SQLSetConnectAttr(c.dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0)));
        QVERIFY2(c.exec(QStringLiteral("insert www_shtype values (94,'d')")), qPrintable(c.lastError));
        QVERIFY(SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, c.dbc, SQL_ROLLBACK)));
        QVERIFY2(c.exec(QStringLiteral("insert www_shtype values (95,'e')")), qPrintable(c.lastError));
        QVERIFY(SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, c.dbc, SQL_COMMIT)));
        QVERIFY(SQL_SUCCEEDED(SQLSetConnectAttr(c.dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0)));
        QCOMPARE(db.scalar(QStringLiteral("select group_concat(lt_id) from www_shtype where lt_id > 90")).toString(), QStringLiteral("91,93,95"));
    }

    void backupSendsItsMessagesThenWritesTheFile()
    {
        Wire w([&](TestDatabase &db) {
            db.exec(QStringLiteral("insert into www_shtype values (91,'中文')"));
        });
        QVERIFY2(w.problem().isEmpty(), qPrintable(w.problem()));
        auto &[db, ready, server, c] = w;
        const QString target = db.folder() + QStringLiteral("/www_3.dat");

        QVERIFY2(c.exec(QStringLiteral("backup database www to disk='%1' WITH FORMAT,INIT").arg(target)), qPrintable(c.lastError));
        QStringList messages = c.messages;
        int results = 1;
        for (;;) {
            const SQLRETURN r = SQLMoreResults(c.stmt);
            if (r == SQL_NO_DATA)
                break;
            QVERIFY(c.check(r));
            messages += c.messages;
            ++results;
        }
        QVERIFY2(results > 3, qPrintable(QString::number(results)));
        QVERIFY2(messages.filter(QRegularExpression(QStringLiteral("^4035 .*Processed"))).size() == 2, qPrintable(messages.join(QLatin1Char('\n'))));
        QVERIFY2(messages.last().contains(QStringLiteral("BACKUP DATABASE successfully processed")),
                 qPrintable(messages.join(QLatin1Char('\n'))));
        QVERIFY(QFile::exists(target));
        QSqlDatabase copy = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("copy"));
        copy.setDatabaseName(target);
        QVERIFY(copy.open());
        QSqlQuery q(copy);
        QVERIFY(q.exec(QStringLiteral("select lt_notice from www_shtype where lt_id=91")) && q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("中文"));
        q = QSqlQuery();
        copy.close();
        copy = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("copy"));

        // A client that drops the statement after its first message cancels
        // the backup: no file.
        const QString dropped = db.folder() + QStringLiteral("/www_4.dat");
        QVERIFY(c.exec(QStringLiteral("backup database www to disk='%1' WITH FORMAT,INIT").arg(dropped)));
        QVERIFY(SQL_SUCCEEDED(SQLFreeStmt(c.stmt, SQL_CLOSE)));
        QVERIFY2(c.exec(QStringLiteral("select count(*) from www_shtype")), qPrintable(c.lastError));
        QVERIFY(!QFile::exists(dropped));
        QCOMPARE(server.countRequests(QStringLiteral("attention")), 1);

        // A folder the server does not have.
        QVERIFY(!c.exec(QStringLiteral("backup database www to disk='/nonexistent/www_1.dat' WITH FORMAT,INIT")));
        QCOMPARE(c.nativeError, 3201);
    }

    void answersControlCommands()
    {
        Wire w;
        QVERIFY2(w.server.started(), qPrintable(w.server.error()));
        QCOMPARE(w.server.control(QStringLiteral("ping")), QStringLiteral("pong"));
        QVERIFY_THROWS_EXCEPTION(DbError, w.server.control(QStringLiteral("no-such-command")));
        // The connection is served as before once the commands are answered.
        QVERIFY2(w.c.exec(QStringLiteral("select count(*) from www_admin")), qPrintable(w.c.lastError));
    }

    // Locks as SQL Server holds them under READ COMMITTED: a statement behind
    // another session's lock waits, for ever by default, up to LOCK_TIMEOUT
    // when set, then fails with 1222; the connection goes on.
    void waitsBehindLocks_data()
    {
        QTest::addColumn<QString>("holder");  // what the other connection runs and keeps open, or "hold ..." for the control session
        QTest::addColumn<QString>("blocked"); // a statement that must wait
        QTest::addColumn<QString>("free");    // a statement that must not
        QTest::newRow("written in an open transaction")
            << QStringLiteral("begin tran; insert www_shtype values (91,'a')")
            << QStringLiteral("select count(*) from www_shtype") << QStringLiteral("select count(*) from www_admin");
        QTest::newRow("exclusive lock of the other session") << QStringLiteral("hold www_admin")
                                                             << QStringLiteral("select ad_code from www_admin where ad_code='x'")
                                                             << QStringLiteral("insert www_shtype values (92,'b')");
        QTest::newRow("shared lock of the other session") << QStringLiteral("hold www_shtype shared")
                                                          << QStringLiteral("update www_shtype set lt_notice='c'")
                                                          << QStringLiteral("select count(*) from www_shtype");
    }
    void waitsBehindLocks()
    {
        QFETCH(QString, holder);
        QFETCH(QString, blocked);
        QFETCH(QString, free);
        Wire w;
        QVERIFY2(w.problem().isEmpty(), qPrintable(w.problem()));
        Odbc other(w.server.connectionString());
        const bool control = holder.startsWith(QLatin1String("hold "));
        if (control)
            w.server.control(holder);
        else
            QVERIFY2(other.exec(holder), qPrintable(other.lastError));

        QVERIFY2(w.c.exec(QStringLiteral("set lock_timeout 300")), qPrintable(w.c.lastError));
        QElapsedTimer t;
        t.start();
        QVERIFY(!w.c.exec(blocked));
        QVERIFY2(t.elapsed() >= 250, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(w.c.nativeError, 1222);
        QVERIFY2(w.c.lastError.contains(QStringLiteral("Lock request time out period exceeded.")), qPrintable(w.c.lastError));
        QVERIFY2(w.c.exec(free), qPrintable(w.c.lastError));

        // Without a timeout the statement waits until the lock goes.
        QVERIFY2(w.c.exec(QStringLiteral("set lock_timeout -1")), qPrintable(w.c.lastError));
        bool ran = false;
        std::thread waiter([&] { ran = w.c.exec(blocked); });
        QTRY_VERIFY_WITH_TIMEOUT(w.server.control(QStringLiteral("locks")).startsWith(QLatin1String("waiting=1")), 20000);
        QTest::qWait(300);
        QVERIFY(w.server.control(QStringLiteral("locks")).startsWith(QLatin1String("waiting=1")));
        if (control)
            w.server.control(QStringLiteral("release"));
        else
            QVERIFY2(other.exec(QStringLiteral("commit")), qPrintable(other.lastError));
        waiter.join();
        QVERIFY2(ran, qPrintable(w.c.lastError));
    }

    // A reader that stops reading a long result keeps its shared lock, as
    // SQL Server keeps the lock of the row or page its send stopped at: a
    // writer waits until the result is read or dropped.
    void halfReadResultKeepsAWriterWaiting()
    {
        Wire w([&](TestDatabase &db) {
            for (int i = 0; i < 200; ++i)
                db.exec(QStringLiteral("insert into www_shdh (li_id,li_title,li_content) values (?,'t',?)"),
                        {i + 1, QString(100000, QLatin1Char('x'))});
        });
        QVERIFY2(w.problem().isEmpty(), qPrintable(w.problem()));
        Odbc writer(w.server.connectionString());
        QVERIFY2(w.c.exec(QStringLiteral("select li_id,li_content from www_shdh")), qPrintable(w.c.lastError));
        QVERIFY(SQL_SUCCEEDED(SQLFetch(w.c.stmt)));
        QVERIFY2(writer.exec(QStringLiteral("set lock_timeout 500")), qPrintable(writer.lastError));
        QVERIFY(!writer.exec(QStringLiteral("update www_shdh set li_title='u' where li_id=200")));
        QCOMPARE(writer.nativeError, 1222);
        QVERIFY(SQL_SUCCEEDED(SQLFreeStmt(w.c.stmt, SQL_CLOSE)));
        QVERIFY2(w.c.exec(QStringLiteral("select count(*) from www_admin")), qPrintable(w.c.lastError));
        QVERIFY2(writer.exec(QStringLiteral("update www_shdh set li_title='u' where li_id=200")), qPrintable(writer.lastError));
    }

    // sp_getapplock and sp_releaseapplock with their return codes.
    void applicationLocks()
    {
        Wire w;
        QVERIFY2(w.problem().isEmpty(), qPrintable(w.problem()));
        Odbc other(w.server.connectionString());
        auto call = [](Odbc &c, const QString &call) {
            if (!c.exec(QStringLiteral("declare @r int; exec @r = %1; select @r").arg(call)))
                return QStringLiteral("error ") + c.lastError;
            if (!SQL_SUCCEEDED(SQLFetch(c.stmt)))
                return QStringLiteral("no row");
            return QString::number(c.integer(1));
        };
        const QString get = QStringLiteral("sp_getapplock @Resource = N'导入-dzts', @LockMode = 'Exclusive', "
                                           "@LockOwner = 'Session', @LockTimeout = %1");
        const QString release = QStringLiteral("sp_releaseapplock @Resource = N'导入-dzts', @LockOwner = 'Session'");
        QCOMPARE(call(w.c, get.arg(0)), QStringLiteral("0"));
        QElapsedTimer t;
        t.start();
        QCOMPARE(call(other, get.arg(300)), QStringLiteral("-1"));
        QVERIFY(t.elapsed() >= 250);
        QCOMPARE(call(w.c, release), QStringLiteral("0"));
        QCOMPARE(call(other, get.arg(0)), QStringLiteral("0"));
        // Granted after a wait: 1.
        QString waited;
        std::thread waiter([&] { waited = call(w.c, get.arg(20000)); });
        QTRY_VERIFY_WITH_TIMEOUT(w.server.control(QStringLiteral("locks")).startsWith(QLatin1String("waiting=1")), 20000);
        QCOMPARE(call(other, release), QStringLiteral("0"));
        waiter.join();
        QCOMPARE(waited, QStringLiteral("1"));
        // Not held: -999 with SQL Server's message.
        const QString notHeld = call(other, release);
        QVERIFY2(notHeld.contains(QStringLiteral("1223")) || notHeld == QStringLiteral("-999"), qPrintable(notHeld));
        // A session that goes away lets go of its locks.
        {
            Odbc third(w.server.connectionString());
            QCOMPARE(call(third, QStringLiteral("sp_getapplock @Resource = N'x', @LockMode = 'Exclusive', @LockOwner = 'Session'")),
                     QStringLiteral("0"));
        }
        QTRY_COMPARE_WITH_TIMEOUT(call(other, QStringLiteral("sp_getapplock @Resource = N'x', @LockMode = 'Exclusive', "
                                                             "@LockOwner = 'Session', @LockTimeout = 0")),
                                  QStringLiteral("0"), 10000);
    }

    // The login's user name and password as the server received them.
    void tellsTheLogins()
    {
        Wire w;
        QVERIFY2(w.server.started(), qPrintable(w.server.error()));
        const QString hex = w.server.control(QStringLiteral("logins"));
        QCOMPARE(QByteArray::fromHex(hex.section(QLatin1Char(':'), 0, 0).toLatin1()), QByteArray("sa"));
        QCOMPARE(QByteArray::fromHex(hex.section(QLatin1Char(':'), 1, 1).toLatin1()), QByteArray("x"));
    }

    void servesTheConsolesConnection()
    {
        TestDatabase::Options o = plain();
        o.recordsPerKind = 3;
        TestDatabase db(o);
        TdsTestServer server(db.path());
        QVERIFY2(server.started(), qPrintable(server.error()));
        server.openAsLibDB();
        QCOMPARE(LibDB::dialect(), Dialect::SqlServer);
        QSqlQuery q = LibDB::exec(QStringLiteral("select count(*) as iC from www_admin where ad_code=?"), {QStringLiteral("admin")});
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toInt(), 1);
        LibDB::close();
    }
};

QTEST_MAIN(TdsServerTest)
#include "tst_tdsserver.moc"
