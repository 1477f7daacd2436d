#include "statistics.h"
#include "reportperiod.h"
#include "statements.h"

namespace lectoria {

namespace {
StatColumn count(double headingMm, double rightMm)
{
    return {QStringLiteral("iC"), QStringLiteral("数量"), headingMm, rightMm};
}

QVector<StatisticsFacts> makeFacts()
{
    const QString oneColumnHeader = QStringLiteral("类别,数量");
    const QVector<StatColumn> plain = {count(175.7, 182.0)};
    return {
        {Kind::Shdh, QStringLiteral("导读文章统计"), QStringLiteral("导读文章分类统计"),
         QStringLiteral(" 导读文章分类统计"), oneColumnHeader, QString(), plain, 12.7},
        {Kind::Dzts, QStringLiteral("电子图书分类统计"), QStringLiteral("图书馆电子图书分类统计"),
         QStringLiteral(" 图书馆电子图书分类统计"), QStringLiteral("类别,种数,册数"),
         QStringLiteral(",sum(li_number) as iNum"),
         {{QStringLiteral("iC"), QStringLiteral("种数"), 156.6, 163.0},
          {QStringLiteral("iNum"), QStringLiteral("册数"), 175.7, 182.0}},
         14.8},
        {Kind::Bklw, QStringLiteral("报刊论文分类统计"), QStringLiteral("图书馆报刊论文分类统计"),
         QStringLiteral(" 图书馆报刊论文分类统计"), oneColumnHeader, QString(), plain, 12.7},
        {Kind::Tpzl, QStringLiteral("图片资料分类统计"), QStringLiteral("图片资料分类统计"),
         QStringLiteral(" 图片资料分类统计"), oneColumnHeader, QString(), plain, 12.7},
        {Kind::Zxyy, QStringLiteral("在线音乐统计"), QStringLiteral("在线音乐分类统计"),
         QStringLiteral(" 在线音乐分类统计"), oneColumnHeader, QString(), plain, 12.7},
        {Kind::Zxsp, QStringLiteral("在线视频统计"), QStringLiteral("在线视频分类统计"),
         QStringLiteral(" 在线视频分类统计"), QStringLiteral("类别,数量,时间长度(分钟)"),
         QStringLiteral(",sum(li_times) as iLong"),
         {count(137.6, 144.0), {QStringLiteral("iLong"), QStringLiteral("时间长度(分钟)"), 160.9, 182.0}},
         12.7},
    };
}
} // namespace

const StatisticsFacts &statisticsFacts(Kind kind)
{
    static const QVector<StatisticsFacts> facts = keyedByKind(makeFacts());
    return facts.at(int(kind));
}

QString statisticsDialogName(Kind kind)
{
    return QStringLiteral("T") + QLatin1String(kindInfo(kind).code) + QStringLiteral("TJP");
}

QString statisticsLayoutName(Kind kind)
{
    return QStringLiteral("T") + QLatin1String(kindInfo(kind).code) + QStringLiteral("TJ");
}

QStringList statisticsStatement(Kind kind, const QDate &begin, const QDate &end, const Dialect &dialect)
{
    const CatalogueKind &k = kindInfo(kind);
    QStringList lines;
    lines << QStringLiteral("select li_typeid,lt_notice,count(*) as iC") + statisticsFacts(kind).extraSelect
                 + QLatin1Char(' ')
          << QStringLiteral("from ") + k.recordTable + QLatin1Char(',') + k.categoryTable + QLatin1Char(' ')
          << QStringLiteral("where li_typeid=lt_id ");
    lines << dateConditionLines(begin, end, dialect);
    lines << QStringLiteral("group by li_typeid,lt_notice ") << QStringLiteral("order by li_typeid ");
    return lines;
}

} // namespace lectoria
