#include "listingstatements.h"
#include "reportperiod.h"
#include "text.h"

namespace lectoria {

std::optional<int> categoryIdOfEntry(const QString &entry)
{
    const int colon = entry.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return std::nullopt;
    const QString id = trimText(entry.left(colon));
    if (id.isEmpty() || id.size() > 9)
        return std::nullopt;
    for (QChar c : id)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    return id.toInt();
}

QString listingCondition(Kind kind, std::optional<int> category, std::optional<int> subCategory)
{
    if (!category)
        return QString();
    if (kind != Kind::Bklw)
        return QString::number(*category);
    QString c = QStringLiteral("li_typeid=") + QString::number(*category);
    if (subCategory)
        c += QStringLiteral(" and li_subid=") + QString::number(*subCategory);
    return c;
}

QStringList listingStatement(Kind kind, const QString &selectLine, const QDate &begin, const QDate &end,
                             const QString &condition, const Dialect &dialect)
{
    const CatalogueKind &k = kindInfo(kind);
    const bool articles = kind == Kind::Bklw;
    QStringList lines;
    lines << selectLine;
    QString from = QStringLiteral("from ") + k.recordTable + QLatin1Char(',') + k.categoryTable;
    if (!k.subCategoryTable.isEmpty())
        from += QLatin1Char(',') + k.subCategoryTable;
    lines << from + QLatin1Char(' ');
    lines << (articles ? QStringLiteral("where li_typeid=lt_id and li_typeid=ls_id and li_subid=ls_sid ")
                       : QStringLiteral("where li_typeid=lt_id "));
    lines << dateConditionLines(begin, end, dialect);
    if (!condition.isEmpty())
        lines << (articles ? QStringLiteral("  and (") + condition + QLatin1Char(')')
                           : QStringLiteral("  and li_typeid=") + condition);
    lines << (articles ? QStringLiteral("order by li_typeid,li_subid,li_logtime DESC")
                       : QStringLiteral("order by li_typeid,li_logtime DESC"));
    return lines;
}

QStringList listingStatement(const ReportRequest &r, const QString &selectLine, const Dialect &dialect)
{
    return listingStatement(r.kind, selectLine, r.period.begin, r.period.end,
                            listingCondition(r.kind, r.category, r.subCategory), dialect);
}

QString categoryListStatement(Kind kind)
{
    return QStringLiteral("select * from ") + kindInfo(kind).categoryTable + QStringLiteral(" order by lt_id");
}

QString subCategoryListStatement(int categoryId)
{
    return QStringLiteral("select * from www_artypes where ls_id=") + QString::number(categoryId)
         + QStringLiteral(" order by ls_sid");
}

QString subCategoryStatisticsCondition(std::optional<int> category)
{
    return category ? QStringLiteral("li_typeid=") + QString::number(*category) : QString();
}

QStringList subCategoryStatisticsStatement(const QDate &begin, const QDate &end, const QString &condition,
                                           const Dialect &dialect)
{
    QStringList lines{QStringLiteral("select li_typeid,lt_notice,li_subid,ls_notice,count(*) as iC "),
                      QStringLiteral("from www_article,www_artype,www_artypes "),
                      QStringLiteral("where li_typeid=lt_id and li_typeid=ls_id and li_subid=ls_sid ")};
    lines << dateConditionLines(begin, end, dialect);
    if (!condition.isEmpty())
        lines << QStringLiteral("  and (") + condition + QLatin1Char(')');
    lines << QStringLiteral("group by li_typeid,lt_notice,li_subid,ls_notice ")
          << QStringLiteral("order by li_typeid,li_subid ");
    return lines;
}

QStringList subCategoryStatisticsStatement(const ReportRequest &r, const Dialect &dialect)
{
    return subCategoryStatisticsStatement(r.period.begin, r.period.end, subCategoryStatisticsCondition(r.category),
                                          dialect);
}

} // namespace lectoria
