#include "exchangekinds.h"

namespace lectoria {
namespace {

ExchangeField text(const char *c) { return {QLatin1String(c), FieldForm::Text}; }
ExchangeField number(const char *c) { return {QLatin1String(c), FieldForm::Number}; }
ExchangeField content() { return {QStringLiteral("li_content"), FieldForm::Content}; }

} // namespace

const QVector<ExchangeKind> &exchangeKinds()
{
    static const QVector<ExchangeKind> kinds = {
        {Kind::Dzts, kindInfo(Kind::Dzts).exchangeWord,
         {{QStringLiteral("li_title"), FieldForm::VolumeTitle}, number("li_typeid"), text("li_format"),
          text("li_tools"), text("li_url"), content()},
         {3, 3, 1},
         true},
        {Kind::Bklw, kindInfo(Kind::Bklw).exchangeWord,
         {text("li_title"), number("li_typeid"), number("li_subid"), number("li_format"), text("li_author"),
          text("li_linkurl"), text("li_pic"), text("li_intro"), content()},
         {3, 3, 3},
         false},
        {Kind::Tpzl, kindInfo(Kind::Tpzl).exchangeWord,
         {text("li_title"), text("li_simage"), text("li_image"), number("li_typeid"), content()},
         {2, 3},
         false},
        {Kind::Zxyy, kindInfo(Kind::Zxyy).exchangeWord,
         {text("li_title"), text("li_format"), number("li_level"), number("li_tools"), text("li_url"),
          number("li_typeid"), content()},
         {2, 3, 2},
         false},
        {Kind::Zxsp, kindInfo(Kind::Zxsp).exchangeWord,
         {text("li_title"), text("li_format"), number("li_level"), number("li_tools"), number("li_times"),
          text("li_url"), number("li_typeid"), content()},
         {2, 4, 2},
         false},
        {Kind::Shdh, kindInfo(Kind::Shdh).exchangeWord,
         {text("li_title"), number("li_typeid"), text("li_about"), text("li_picurl"), text("li_from"),
          text("li_linkurl"), content()},
         {2, 3, 2},
         false},
    };
    return kinds;
}

QVector<ImportColumn> importColumns(const ExchangeKind &k)
{
    QVector<ImportColumn> columns;
    for (const ExchangeField &f : k.fields) {
        columns.append({f.column, f.form == FieldForm::Number});
        if (f.form == FieldForm::VolumeTitle)
            columns.append({QStringLiteral("li_number"), true});
    }
    return columns;
}

QStringList insertHeader(const ExchangeKind &k)
{
    QStringList columns;
    for (const ImportColumn &c : importColumns(k))
        columns << c.name;
    QStringList lines;
    qsizetype next = 0;
    for (int n : k.insertLines) {
        QString line = lines.isEmpty() ? QStringLiteral("insert ") + kindInfo(k.kind).recordTable + QStringLiteral(" (")
                                       : QStringLiteral("        ");
        line += QStringList(columns.mid(next, n)).join(QLatin1Char(','));
        next += n;
        line += next < columns.size() ? QStringLiteral(",") : QStringLiteral(") values (");
        lines << line;
    }
    if (next != columns.size())
        qFatal("exchange kind %d: its insert lines name %d of %d columns", int(k.kind), int(next), int(columns.size()));
    return lines;
}

const ExchangeKind &exchangeKind(Kind k)
{
    static const QVector<ExchangeKind> keyed = keyedByKind(exchangeKinds());
    return keyed.at(int(k));
}

QVector<Kind> kindsNamedIn(const QString &text)
{
    QVector<Kind> named;
    for (const ExchangeKind &e : exchangeKinds())
        if (text.contains(e.word))
            named << e.kind;
    return named;
}

} // namespace lectoria
