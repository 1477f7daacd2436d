#include "operatoraccounts.h"
#include "libdb.h"
#include "text.h"

namespace lectoria::OperatorAccounts {
namespace {

QString rightColumn(int n) { return QStringLiteral("ad_auth%1").arg(n); }

} // namespace

bool Operator::has(Right right) const
{
    const int n = int(right);
    return n >= 1 && n <= rights.size() && rights.at(n - 1) == QLatin1String("1");
}

QString lookupStatement(const QString &code)
{
    return QStringLiteral("select * from www_admin where ad_code='") + sqlEscape(code) + QLatin1Char('\'');
}

std::optional<Operator> find(const QString &code)
{
    QSqlQuery q = LibDB::exec(lookupStatement(code));
    if (!LibDB::next(q))
        return std::nullopt;
    Operator who;
    who.code = trimText(q.value(QStringLiteral("ad_code")).toString());
    who.password = trimText(q.value(QStringLiteral("ad_pass")).toString());
    for (int n = 1; n <= RightCount; ++n)
        who.rights[n - 1] = trimText(q.value(rightColumn(n)).toString());
    return who;
}

LoginResult login(const QString &code, const QString &password)
{
    LoginResult result;
    const std::optional<Operator> who = find(code);
    if (!who)
        result.failure = LoginFailure::NoSuchOperator;
    else if (who->password != password)
        result.failure = LoginFailure::WrongPassword;
    else
        result.who = *who;
    return result;
}

void changePassword(const QString &code, const QString &password)
{
    LibDB::exec(QStringLiteral("update www_admin set ad_pass='") + sqlEscape(password) + QStringLiteral("' where ad_code='")
                + sqlEscape(code) + QLatin1Char('\''));
}

const QVector<int> &rightOrder()
{
    static const QVector<int> order{19, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
    return order;
}

QString rightCaption(int n)
{
    static const QStringList captions{
        QStringLiteral("电子图书"), QStringLiteral("报刊文章"), QStringLiteral("新闻中心"), QStringLiteral("网上音乐"),
        QStringLiteral("图片中心"), QStringLiteral("书海导航"), QStringLiteral("留 言 薄"), QStringLiteral("读者评书"),
        QStringLiteral("热点调查"), QStringLiteral("软件下载"), QStringLiteral("访问统计"), QStringLiteral("新书通报"),
        QStringLiteral("主页通告"), QStringLiteral("页头广告"), QStringLiteral("数据备份"), QStringLiteral("生成首页"),
        QStringLiteral("备用 1"),   QStringLiteral("备用 2"),   QStringLiteral("人员管理")};
    return n >= 1 && n <= RightCount ? captions.at(n - 1) : QString();
}

QString rightTitle(int n)
{
    if (n == 17) return QStringLiteral("备用1");
    if (n == 18) return QStringLiteral("备用2");
    return rightCaption(n);
}

QStringList selectStatement(const QString &filter)
{
    QString columns = QStringLiteral("select ad_code,ad_name,lo_time");
    for (int n = 1; n <= RightCount; ++n)
        columns += QLatin1Char(',') + rightColumn(n);
    QStringList lines{columns, QStringLiteral("from www_admin")};
    if (!trimText(filter).isEmpty())
        lines << QStringLiteral("where ") + filter;
    lines << QStringLiteral("order by ad_code");
    return lines;
}

QVector<OperatorRow> load(const QString &filter)
{
    QSqlQuery q = LibDB::exec(selectStatement(filter));
    QVector<OperatorRow> rows;
    while (LibDB::next(q)) {
        OperatorRow r;
        r.code = trimText(q.value(0).toString());
        r.name = trimText(q.value(1).toString());
        r.lastLogin = LibDB::toDateTime(q.value(2));
        for (int n = 1; n <= RightCount; ++n)
            r.rights[n - 1] = trimText(q.value(2 + n).toString());
        rows << r;
    }
    return rows;
}

QStringList duplicateCheck(const QString &code)
{
    return {QStringLiteral("select * from www_admin "), QStringLiteral("where ad_code='") + sqlEscape(trimText(code)) + QStringLiteral("'")};
}

bool codeInUse(const QString &code)
{
    QSqlQuery q = LibDB::exec(duplicateCheck(code));
    return LibDB::next(q);
}

void insert(const OperatorRow &row, const QString &password)
{
    QString columns = QStringLiteral("insert into www_admin (ad_code,ad_name,ad_pass");
    QString marks = QStringLiteral("values (?,?,?");
    QVariantList values{row.code, row.name, password};
    for (int n = 1; n <= RightCount; ++n) {
        columns += QLatin1Char(',') + rightColumn(n);
        marks += QStringLiteral(",?");
        values << row.rights.at(n - 1);
    }
    LibDB::exec(columns + QStringLiteral(")\n") + marks + QLatin1Char(')'), values);
}

void update(const OperatorRow &before, const OperatorRow &after)
{
    QStringList sets;
    QVariantList values;
    if (after.name != before.name) {
        sets << QStringLiteral("ad_name=?");
        values << after.name;
    }
    for (int n = 1; n <= RightCount; ++n) {
        if (after.rights.at(n - 1) != before.rights.at(n - 1)) {
            sets << rightColumn(n) + QStringLiteral("=?");
            values << after.rights.at(n - 1);
        }
    }
    if (sets.isEmpty())
        return;
    values << before.code;
    LibDB::exec(QStringLiteral("update www_admin set ") + sets.join(QLatin1Char(',')) + QStringLiteral(" where ad_code=?"),
                values);
}

void remove(const QString &code)
{
    LibDB::exec(QStringLiteral("delete from www_admin where ad_code=?"), {code});
}

} // namespace lectoria::OperatorAccounts
