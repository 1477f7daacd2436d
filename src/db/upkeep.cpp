#include "upkeep.h"
#include "clock.h"
#include "libdb.h"
#include "text.h"

#include <QRegularExpression>

namespace lectoria::Upkeep {
namespace {

bool missing(const QString &check)
{
    QSqlQuery q = LibDB::exec(check);
    return !LibDB::next(q);
}

// Runs the statements when the check finds the object missing. Another run
// started at the same moment (a scheduler starting several) may make the
// same object between this run's check and its first statement; when that
// statement fails and the check then finds the object, the other run made
// it and goes on with the rest, and the failure is none. A database opened
// for reading only is left as it is: its reports still work, and whatever
// writes says why it cannot.
void ensure(const QString &check, const QVector<QStringList> &statements, const QString &task)
{
    if (!missing(check) || LibDB::readOnly())
        return;
    const auto run = [&task](const QStringList &statement) {
        try {
            LibDB::exec(statement);
        } catch (const DbPermissionDenied &e) {
            throw DbPermissionDenied(missingRightMessage(task, statement.join(QLatin1Char(' ')), e.text()));
        }
    };
    try {
        run(statements.constFirst());
    } catch (const DbError &) {
        if (missing(check))
            throw;
        return;
    }
    for (qsizetype i = 1; i < statements.size(); ++i)
        run(statements.at(i));
}

} // namespace

// The site's own login often may read and write records but not change
// the schema: without a word of which right is missing, nobody could tell
// the database administrator what to grant.
QString missingRightMessage(const QString &task, const QString &statement, const QString &serverText)
{
    static const QRegularExpression verb(
        QStringLiteral(R"(^\s*(create\s+table|alter\s+table|insert(?:\s+into)?|update|delete(?:\s+from)?|select)\s*(?:(?:\w+\.)*(\w+))?)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = verb.match(statement);
    const QString word = m.hasMatch() ? m.captured(1).section(QLatin1Char(' '), 0, 0).toLower() : QString();
    const QString table = m.captured(2);
    QString right, grant;
    if (word == QLatin1String("create")) {
        right = QStringLiteral("在数据库中建表的权限（CREATE TABLE，以及对架构 dbo 的 ALTER 权限）");
        grant = QStringLiteral("GRANT CREATE TABLE TO 该登录的数据库用户; GRANT ALTER ON SCHEMA::dbo TO 该登录的数据库用户");
    } else if (word == QLatin1String("alter")) {
        right = QStringLiteral("修改表 %1 的权限（ALTER）").arg(table);
        grant = QStringLiteral("GRANT ALTER ON dbo.%1 TO 该登录的数据库用户").arg(table);
    } else if (word == QLatin1String("insert") || word == QLatin1String("update") || word == QLatin1String("delete")) {
        const QString action = word == QLatin1String("insert") ? QStringLiteral("插入")
            : word == QLatin1String("update")                  ? QStringLiteral("修改")
                                                               : QStringLiteral("删除");
        right = QStringLiteral("在表 %1 中%2记录的权限（%3）").arg(table, action, word.toUpper());
        grant = QStringLiteral("GRANT %1 ON dbo.%2 TO 该登录的数据库用户（或把它加入 db_datawriter 角色）").arg(word.toUpper(), table);
    } else {
        right = QStringLiteral("读取数据的权限（SELECT）");
        grant = QStringLiteral("把该登录的数据库用户加入 db_datareader 角色");
    }
    return QStringLiteral("启动时的数据库维护无法完成：%1。\r\n").arg(task)
        + QStringLiteral("数据源的登录没有%1。\r\n").arg(right)
        + QStringLiteral("请数据库管理员授予：%1；或用有此权限的登录运行一次本系统，此后日常使用只需 db_datareader 和 db_datawriter。\r\n").arg(grant)
        + QStringLiteral("数据库的回答：") + serverText;
}

namespace {

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
    ensure(volumeCheck(), volumeStatements(), QStringLiteral("为电子图书表 www_lineread 加上册数列 li_number"));
}

void ensureAdministrator()
{
    ensure(administratorCheck(), {administratorStatement(Clock::today(), LibDB::dialect())},
           QStringLiteral("重建默认管理员 admin"));
}

void ensureMarginsTable()
{
    ensure(marginsCheck(), marginsStatements(), QStringLiteral("建立报表页边距表 lib_prtblank"));
}

} // namespace lectoria::Upkeep
