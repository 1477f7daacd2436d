// Reading rows when the database fails in the middle of a result: a result
// cut short is an error, never its end; a silent server is given up after
// QUERYTIMEOUT seconds while a slow one that keeps sending is not; and the
// next statement after a lost connection runs on a connection made again.
#include "errors.h"
#include "libdb.h"
#include "tdstestserver.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTest>

using namespace lectoria;
using namespace lectoria::test;

namespace {

const QString everyBook = QStringLiteral("select li_id, li_title, li_content from www_lineread order by li_id");

// Every row of a statement through LibDB; the rows read before a failure
// stay in *read.
void readAll(const QString &sql, int *read)
{
    QSqlQuery q = LibDB::exec(sql);
    while (LibDB::next(q))
        ++*read;
}

// Why a test of the wire cannot run here: it runs once, in the run over the
// TDS test server.
QString wireOnly()
{
    if (!TestDatabase::overTheWire())
        return QStringLiteral("runs in the run over the TDS test server");
    return TdsTestServer::unavailable();
}

TestDatabase::Options books()
{
    TestDatabase::Options o;
    o.open = false;
    return o;
}

// 200 e-books with 2,000-character summaries: the result spans many packets.
void addBooks(TestDatabase &db)
{
    db.exec(QStringLiteral("with recursive n(i) as (select 1 union all select i + 1 from n where i < 200) "
                           "insert into www_lineread (li_title, li_typeid, li_content, li_logtime) "
                           "select '书' || i, 1, printf('%.*c', 2000, 'x'), '2024-01-01 08:00:00' from n"));
}

} // namespace

class TestDbFaults : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { LibDB::close(); }

    // The embedded engine failing on a row in the middle of a result (here
    // an integer overflow the 31st row's condition meets).
    void sqliteRowFailureIsAnError()
    {
        if (TestDatabase::overTheWire())
            QSKIP("the embedded engine's own reading");
        TestDatabase db(books());
        addBooks(db);
        db.openAsLibDB();
        int read = 0;
        try {
            readAll(QStringLiteral("select li_id from www_lineread "
                                   "where case when li_id > 30 then abs(-9223372036854775807 - 1) else 1 end"),
                    &read);
            QFAIL("the failing row passed for the end of the result");
        } catch (const DbError &e) {
            QVERIFY2(e.text().contains(QStringLiteral("overflow")), qPrintable(e.text()));
        }
        QCOMPARE(read, 30);
    }

    void cutResultIsAnError_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("buffered"); // another statement runs while the result is read
        QTest::newRow("after 40 rows") << QStringLiteral("cut rows 40") << false;
        QTest::newRow("after 30000 bytes") << QStringLiteral("cut bytes 30000") << false;
        QTest::newRow("rest taken into memory") << QStringLiteral("cut rows 40") << true;
        QTest::newRow("before the first row") << QStringLiteral("cut rows 0") << false;
    }
    void cutResultIsAnError()
    {
        QFETCH(QString, fault);
        QFETCH(bool, buffered);
        if (const QString why = wireOnly(); !why.isEmpty())
            QSKIP(qPrintable(why));
        TestDatabase db(books());
        addBooks(db);
        TdsTestServer server(db.path());
        QVERIFY2(server.started(), qPrintable(server.error()));
        server.openAsLibDB();
        server.control(fault);
        int read = 0;
        QString failure;
        try {
            QSqlQuery q = LibDB::exec(everyBook);
            if (buffered) {
                QVERIFY(LibDB::next(q));
                ++read;
                // The rest is taken into memory; the cut shows at its end.
                try {
                    LibDB::scalar(QStringLiteral("select count(*) from www_admin"));
                } catch (const DbError &) {
                    // the connection is gone by then: this statement fails too
                }
            }
            while (LibDB::next(q))
                ++read;
        } catch (const DbError &e) {
            failure = e.text();
        }
        QVERIFY2(!failure.isEmpty(), qPrintable(QStringLiteral("%1 rows and no error").arg(read)));
        QVERIFY(read < 200);
        // The next statement runs on a connection made again.
        QCOMPARE(LibDB::scalar(QStringLiteral("select count(*) from www_lineread")).toInt(), 200);
    }

    void silentServerIsGivenUp_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("before the answer") << QStringLiteral("freeze");
        QTest::newRow("in the middle of the rows") << QStringLiteral("freeze rows 30");
    }
    void silentServerIsGivenUp()
    {
        QFETCH(QString, fault);
        if (const QString why = wireOnly(); !why.isEmpty())
            QSKIP(qPrintable(why));
        TestSettings settings;
        settings.write({{QStringLiteral("QUERYTIMEOUT"), QStringLiteral("2")}});
        TestDatabase db(books());
        addBooks(db);
        TdsTestServer server(db.path());
        QVERIFY2(server.started(), qPrintable(server.error()));
        server.openAsLibDB();
        server.control(fault);
        QElapsedTimer clock;
        clock.start();
        int read = 0;
        QString failure;
        try {
            readAll(everyBook, &read);
        } catch (const DbError &e) {
            failure = e.text();
        }
        const qint64 waited = clock.elapsed();
        server.control(QStringLiteral("thaw"));
        QVERIFY2(failure.contains(QStringLiteral("超过2秒没有任何回应")), qPrintable(failure));
        QVERIFY(read < 200);
        // Given up within the silence bound and the cancel's as long again,
        // with room for a loaded machine; a statement nobody bounded would
        // still be waiting.
        QVERIFY2(waited >= 1500 && waited < 30000, qPrintable(QString::number(waited)));
        // The console goes on: the next statement finds the server again.
        QCOMPARE(LibDB::scalar(QStringLiteral("select count(*) from www_lineread")).toInt(), 200);
    }

    // A result that keeps arriving, a packet every quarter second, takes far
    // longer than the silence bound and is read whole.
    void slowResultThatKeepsComingIsRead()
    {
        if (const QString why = wireOnly(); !why.isEmpty())
            QSKIP(qPrintable(why));
        TestSettings settings;
        settings.write({{QStringLiteral("QUERYTIMEOUT"), QStringLiteral("2")}});
        TestDatabase db(books());
        addBooks(db);
        TdsTestServer server(db.path());
        QVERIFY2(server.started(), qPrintable(server.error()));
        server.openAsLibDB();
        server.control(QStringLiteral("pace 0.25"));
        QElapsedTimer clock;
        clock.start();
        int read = 0;
        readAll(QStringLiteral("select li_id, li_title, li_content from www_lineread where li_id <= 60 order by li_id"),
                &read);
        QCOMPARE(read, 60);
        QVERIFY2(clock.elapsed() > 4000, qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestDbFaults)
#include "tst_db_faults.moc"
