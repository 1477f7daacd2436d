// The statement dialect: SQL Server as written, SQLite adapted; date literals.
#include "dialect.h"
#include "libdb.h"
#include "testsupport.h"
#include "text.h"
#include "upkeep.h"

#include <QTest>

using namespace lectoria;
using namespace lectoria::test;

class TestDbDialect : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { LibDB::close(); }

    void dialect_data()
    {
        QTest::addColumn<QString>("tsql");
        QTest::addColumn<QString>("sqlite");
        QTest::addColumn<QString>("sqlServer"); // empty: sent as written
        QTest::newRow("getdate") << QStringLiteral("select getdate() as dDate")
                                 << QStringLiteral("select datetime('now','localtime') as dDate") << QString();
        QTest::newRow("column check") << Upkeep::volumeCheck()
                                      << QStringLiteral("select name from pragma_table_info('www_lineread') where name='li_number'")
                                      << QString();
        QTest::newRow("object check") << Upkeep::marginsCheck()
                                      << QStringLiteral("select * from sqlite_master where name='lib_prtblank'") << QString();
        QTest::newRow("insert without into") << QStringLiteral("insert www_shdh (li_title) values ('a')")
                                             << QStringLiteral("insert into www_shdh (li_title) values ('a')") << QString();
        QTest::newRow("insert into kept") << QStringLiteral("insert into lib_prtblank( ")
                                          << QStringLiteral("insert into lib_prtblank( ") << QString();
        QTest::newRow("identity") << QStringLiteral("\tpb_no \t\tint NOT NULL IDENTITY (1, 1),")
                                  << QStringLiteral("\tpb_no \t\tinteger NOT NULL PRIMARY KEY AUTOINCREMENT,") << QString();
        QTest::newRow("added key skipped") << Upkeep::marginsStatements().at(1).join(QLatin1Char('\n')) << QString()
                                           << QString();
        QTest::newRow("text in quotes untouched") << QStringLiteral("select * from t where a='getdate'")
                                                  << QStringLiteral("select * from t where rtrim(a)='getdate' collate nocase") << QString();
        // SQL Server's '=' does not count trailing blanks and its collation
        // no case; SQLite's NOCASE columns get the blanks dropped on both
        // sides. What is set, and other comparisons, stay as written.
        QTest::newRow("comparisons without trailing blanks")
            << QStringLiteral("update www_admin set ad_pass='ab ' where ad_code='admin  ' and ad_name<>? and lt_id>'3'")
            << QStringLiteral("update www_admin set ad_pass='ab ' where rtrim(ad_code)='admin' collate nocase "
                              "and rtrim(ad_name)<>rtrim(?) collate nocase and lt_id>'3'")
            << QString();
        // Only the statement's words are SQLite's to rewrite: text in quotes is data.
        QTest::newRow("a call in quotes is text")
            << QStringLiteral("select getdate(), 'getdate()', 'it''s getdate()' from t where a like '%GETDATE ( )%'")
            << QStringLiteral("select datetime('now','localtime'), 'getdate()', 'it''s getdate()' from t where a like "
                              "'%GETDATE ( )%'")
            << QString();
        QTest::newRow("a column type in quotes is text")
            << QStringLiteral("insert t values ('int IDENTITY (1, 1)')")
            << QStringLiteral("insert into t values ('int IDENTITY (1, 1)')") << QString();
        // Chinese literals are N'...' on SQL Server, wherever they stand; ASCII
        // ones, those already prefixed and doubled quotes stay as they are.
        const QString chinese =
            QStringLiteral("update t set n=2 where a like '%基础%' or b='x' or c=N'理论' or d='O''中' or e='''技'''");
        QTest::newRow("chinese literals")
            << chinese
            << QStringLiteral("update t set n=2 where a like '%基础%' or rtrim(b)='x' collate nocase or c=N'理论' "
                              "or rtrim(d)='O''中' collate nocase or rtrim(e)='''技''' collate nocase")
            << QStringLiteral("update t set n=2 where a like N'%基础%' or b='x' or c=N'理论' or d=N'O''中' or e=N'''技'''");
        QTest::newRow("chinese after identifier ending in n")
            << QStringLiteral("select * from t where an='中'") << QStringLiteral("select * from t where rtrim(an)='中' collate nocase")
            << QStringLiteral("select * from t where an=N'中'");
        QTest::newRow("unclosed literal") << QStringLiteral("select '中") << QStringLiteral("select '中")
                                          << QStringLiteral("select N'中");
    }

    void dialect()
    {
        QFETCH(QString, tsql);
        QFETCH(QString, sqlite);
        QFETCH(QString, sqlServer);
        QCOMPARE(adaptStatement(tsql, Dialect::Sqlite), sqlite);
        QCOMPARE(adaptStatement(tsql, Dialect::SqlServer), sqlServer.isEmpty() ? tsql : sqlServer);
    }

    // Dates go to SQL Server as 'yyyymmdd', which every login language reads
    // as the same day; SQLite compares the stored 'yyyy-mm-dd' text.
    void dateLiteralsFollowTheDialect()
    {
        const QDate day(2024, 3, 25);
        QCOMPARE(Upkeep::administratorStatement(day, Dialect::Sqlite).constLast(), QStringLiteral("'1','2024-03-25')"));
        QCOMPARE(Upkeep::administratorStatement(day, Dialect::SqlServer).constLast(), QStringLiteral("'1','20240325')"));
    }
};

QTEST_GUILESS_MAIN(TestDbDialect)
#include "tst_db_dialect.moc"
