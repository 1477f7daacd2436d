#include "searchterms.h"
#include "errors.h"
#include "libdb.h"
#include "text.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

namespace lectoria::SearchTerms {
namespace {

const QString Equal = QStringLiteral("等于");
const QString NotEqual = QStringLiteral("不等于");
const QString Greater = QStringLiteral("大于");
const QString Less = QStringLiteral("小于");
const QString GreaterEqual = QStringLiteral("大于或等于");
const QString LessEqual = QStringLiteral("小于或等于");
const QString Contains = QStringLiteral("包含");
const QString StartsWith = QStringLiteral("以...开始");
const QString EndsWith = QStringLiteral("以...结尾");

QString quoted(const QString &s) { return QLatin1Char('"') + s + QLatin1Char('"'); }

// Whole days: "equal" is from the start of d to before the start of d+1,
// "greater" starts at d+1.
QString dateCondition(const QString &f, const QString &word, const QDate &date, const Dialect &dialect)
{
    const QString d = dialect.date(date);
    const QString next = dialect.date(date.addDays(1));
    if (word == Equal)
        return QStringLiteral("(") + f + QStringLiteral(">=") + d + QStringLiteral(" ") + QStringLiteral(" and ") + f
            + QStringLiteral("<") + next + QStringLiteral(") ");
    if (word == NotEqual)
        return QStringLiteral("(") + f + QStringLiteral("<") + d + QStringLiteral(" ") + QStringLiteral(" or ") + f
            + QStringLiteral(">=") + next + QStringLiteral(") ");
    if (word == Less)
        return f + QStringLiteral(" < ") + d + QStringLiteral(" ");
    if (word == Greater)
        return f + QStringLiteral(">=") + next + QStringLiteral(" ");
    if (word == LessEqual)
        return f + QStringLiteral("<") + next + QStringLiteral(" ");
    return f + QStringLiteral(">=") + d + QStringLiteral(" "); // 大于或等于
}

} // namespace

QStringList operatorsFor(QChar typeCode)
{
    switch (typeCode.unicode()) {
    case 'C':
        return {Equal, NotEqual, Contains, StartsWith, EndsWith, Greater, Less, GreaterEqual, LessEqual};
    case 'N':
    case 'D':
        return {Equal, Greater, Less, GreaterEqual, LessEqual, NotEqual};
    default: // O and the list types
        return {Equal, NotEqual, Greater, Less, GreaterEqual, LessEqual};
    }
}

QString operatorText(const QString &word)
{
    if (word == Equal) return QStringLiteral(" = ");
    if (word == Greater) return QStringLiteral(" > ");
    if (word == Less) return QStringLiteral(" < ");
    if (word == GreaterEqual) return QStringLiteral(" >= ");
    if (word == LessEqual) return QStringLiteral(" <= ");
    if (word == NotEqual) return QStringLiteral(" <> ");
    if (word == Contains || word == StartsWith || word == EndsWith) return QStringLiteral(" like ");
    return QString();
}

QString logicText(const QString &word)
{
    if (word == QStringLiteral("并且")) return QStringLiteral(" and ");
    if (word == QStringLiteral("或者")) return QStringLiteral(" or ");
    return QString();
}

bool isListType(QChar typeCode)
{
    return typeCode == QLatin1Char('B') || typeCode == QLatin1Char('A') || typeCode == QLatin1Char('T')
        || typeCode == QLatin1Char('S');
}

QStringList fixedListItems(const QString &source)
{
    QStringList items;
    QString rest = source;
    for (;;) {
        const int semi = rest.indexOf(QLatin1Char(';'));
        const QString item = semi < 0 ? rest : rest.left(semi);
        if (!item.isEmpty())
            items << item;
        if (semi < 0)
            break;
        rest = trimText(rest.mid(semi + 1));
    }
    return items;
}

QStringList queryListItems(QChar typeCode, const QString &source)
{
    const int semi = source.indexOf(QLatin1Char(';'));
    const QString connection = trimText(source.left(semi));
    const QString statement = semi < 0 ? QString() : source.mid(semi + 1);
    QSqlQuery q;
    if (connection.compare(QLatin1String(LibDB::Name), Qt::CaseInsensitive) == 0) {
        q = LibDB::exec(statement);
    } else {
        QSqlDatabase db = QSqlDatabase::database(connection, false);
        if (!db.isOpen())
            throw DbError(QStringLiteral("没有数据库连接：%1").arg(connection));
        q = QSqlQuery(db);
        q.setForwardOnly(true);
        if (!q.exec(statement))
            throw DbError(dbErrorText(q.lastError()));
    }
    QStringList items;
    while (q.next()) {
        const QString code = typeCode == QLatin1Char('B') ? QString::number(q.value(0).toLongLong())
                                                          : trimText(q.value(0).toString());
        items << code + QLatin1Char(':') + trimText(q.value(1).toString());
    }
    if (q.lastError().isValid()) // rows cut short are no list
        throw DbError(dbErrorText(q.lastError()));
    return items;
}

QString itemCode(const QString &item)
{
    const int colon = item.indexOf(QLatin1Char(':'));
    return colon < 0 ? item : item.left(colon);
}

bool isNumber(const QString &text)
{
    static const QRegularExpression number(QStringLiteral(R"(^[+-]?(\d+(\.\d*)?|\.\d+)([eE][+-]?\d+)?$)"));
    return number.match(trimText(text)).hasMatch();
}

Comparison comparison(const TSearchType &field, const QString &operatorWord, const QString &value,
                      const QDate &date, const Dialect &dialect)
{
    const QChar type = field.typeCode;
    const QString &f = field.fieldName;
    const QString op = operatorText(operatorWord);
    Comparison c;
    c.display = field.caption + QLatin1Char(' ') + operatorWord + QLatin1Char(' ');
    if (type == QLatin1Char('D')) {
        c.display += QLatin1Char('\'') + ymd(date) + QStringLiteral("' ");
        c.condition = dateCondition(f, operatorWord, date, dialect);
        return c;
    }
    c.display += quoted(value);
    if (type == QLatin1Char('N')) {
        c.condition = f + op + value + QLatin1Char(' ');
    } else if (type == QLatin1Char('B') || type == QLatin1Char('T')) {
        c.condition = f + op + itemCode(value);
        if (value.contains(QLatin1Char(':')))
            c.condition += QLatin1Char(' ');
    } else if (type == QLatin1Char('A') || type == QLatin1Char('S')) {
        c.condition = f + op + sqlLiteral(trimText(itemCode(value))) + QLatin1Char(' ');
    } else if (operatorWord == Contains) {
        c.condition = f + op + QStringLiteral("'%") + sqlEscape(value) + QStringLiteral("%' ");
    } else if (operatorWord == StartsWith) {
        c.condition = f + op + QLatin1Char('\'') + sqlEscape(value) + QStringLiteral("%' ");
    } else if (operatorWord == EndsWith) {
        c.condition = f + op + QStringLiteral("'%") + sqlEscape(value) + QStringLiteral("' ");
    } else {
        c.condition = f + op + sqlLiteral(value) + QLatin1Char(' ');
    }
    return c;
}

} // namespace lectoria::SearchTerms
