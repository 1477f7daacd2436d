#include "upkeep.h"
#include "clock.h"
#include "libdb.h"
#include "text.h"

namespace lectoria::Upkeep {
namespace {

bool missing(const QString &check)
{
    QSqlQuery q = LibDB::exec(check);
    return !q.next();
}

// Runs the statements when the check finds the object missing. Another run
// started at the same moment (a scheduler starting several) may make the
// same object between this run's check and its first statement; when that
// statement fails and the check then finds the object, the other run made
// it and goes on with the rest, and the failure is none. A database opened
// for reading only is left as it is: its reports still work, and whatever
// writes says why it cannot.
void ensure(const QString &check, const QVector<QStringList> &statements)
{
    if (!missing(check) || LibDB::readOnly())
        return;
    try {
        LibDB::exec(statements.constFirst());
    } catch (const DbError &) {
        if (missing(check))
            throw;
        return;
    }
    for (qsizetype i = 1; i < statements.size(); ++i)
        LibDB::exec(statements.at(i));
}

} // namespace

QString volumeCheck()
{
    return QStringLiteral("select name from syscolumns where name='li_number' and id in (select id from sysobjects where name = 'www_lineread')");
}

QVector<QStringList> volumeStatements()
{
    return {
        {QStringLiteral("alter table www_lineread add li_number int  default(1)")},
        {QStringLiteral("update www_lineread set li_number=1")},
        {QStringLiteral("update www_lineread set li_number=4000 where li_title like '英文名著3000部%'")},
        {QStringLiteral("update www_lineread set li_number=2 where li_title like '%基础%' or li_title like '%理论%' or li_title like '%技术%'")},
    };
}

QString administratorCheck() { return QStringLiteral("select * from www_admin where ad_code='admin'"); }

QStringList administratorStatement(const QDate &today, const Dialect &dialect)
{
    return {
        QStringLiteral("insert into www_admin values("),
        QStringLiteral("'admin','系统管理员','qzmvt','1','1',"),
        QStringLiteral("'1','1','1','1','1','1','1','1',"),
        QStringLiteral("'1','1','1','1','1','1','1','1',"),
        QStringLiteral("'1',") + dialect.date(today) + QStringLiteral(")"),
    };
}

QString marginsCheck() { return QStringLiteral("select * from sysobjects where name ='lib_prtblank'"); }

QVector<QStringList> marginsStatements()
{
    return {
        {QStringLiteral("create table lib_prtblank ( "),
         QStringLiteral("\tpb_no \t\tint NOT NULL IDENTITY (1, 1),"),
         QStringLiteral("\tpb_default \tint default(0),"),
         QStringLiteral("\tpb_top\t     \tint default(0),"),
         QStringLiteral("\tpb_bottom     \tint default(0),"),
         QStringLiteral("\tpb_left\t     \tint default(0),"),
         QStringLiteral("\tpb_right     \tint default(0) "),
         QStringLiteral(") ")},
        {QStringLiteral("ALTER TABLE lib_prtblank ADD CONSTRAINT "),
         QStringLiteral("PK_lib_prtblank PRIMARY KEY NONCLUSTERED"),
         QStringLiteral("(pb_no)")},
        {QStringLiteral("insert into lib_prtblank( "),
         QStringLiteral("     pb_default,pb_top,pb_bottom,pb_left,pb_right) values("),
         QStringLiteral("     0,10,10,10,10)")},
    };
}

void ensureVolumeColumn()
{
    ensure(volumeCheck(), volumeStatements());
}

void ensureAdministrator()
{
    ensure(administratorCheck(), {administratorStatement(Clock::today(), LibDB::dialect())});
}

void ensureMarginsTable()
{
    ensure(marginsCheck(), marginsStatements());
}

} // namespace lectoria::Upkeep
