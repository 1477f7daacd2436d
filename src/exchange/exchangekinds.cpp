#include "exchangekinds.h"

namespace lectoria {
namespace {

ExchangeField text(const char *c) { return {QLatin1String(c), FieldForm::Text}; }
ExchangeField number(const char *c) { return {QLatin1String(c), FieldForm::Number}; }
ExchangeField content() { return {QStringLiteral("li_content"), FieldForm::Content}; }

QString eightBlanks(const char *rest) { return QStringLiteral("        ") + QLatin1String(rest); }

} // namespace

const QVector<ExchangeKind> &exchangeKinds()
{
    static const QVector<ExchangeKind> kinds = {
        {Kind::Dzts, kindInfo(Kind::Dzts).exchangeWord, "ExportTuShu", "ImportTuShu",
         {{QStringLiteral("li_title"), FieldForm::VolumeTitle}, number("li_typeid"), text("li_format"),
          text("li_tools"), text("li_url"), content()},
         {QStringLiteral("insert www_lineread (li_title,li_number,li_typeid,"), eightBlanks("li_format,li_tools,li_url,"),
          eightBlanks("li_content) values (")},
         true},
        {Kind::Bklw, kindInfo(Kind::Bklw).exchangeWord, "ExportBaoKan", "ImportBaoKan",
         {text("li_title"), number("li_typeid"), number("li_subid"), number("li_format"), text("li_author"),
          text("li_linkurl"), text("li_pic"), text("li_intro"), content()},
         {QStringLiteral("insert www_article (li_title,li_typeid,li_subid,"), eightBlanks("li_format,li_author,li_linkurl,"),
          eightBlanks("li_pic,li_intro,li_content) values (")},
         false},
        {Kind::Tpzl, kindInfo(Kind::Tpzl).exchangeWord, "ExportTuPian", "ImportTuPian",
         {text("li_title"), text("li_simage"), text("li_image"), number("li_typeid"), content()},
         {QStringLiteral("insert www_picture (li_title,li_simage,"), eightBlanks("li_image,li_typeid,li_content) values (")},
         false},
        {Kind::Zxyy, kindInfo(Kind::Zxyy).exchangeWord, "ExportMusic", "ImportMusic",
         {text("li_title"), text("li_format"), number("li_level"), number("li_tools"), text("li_url"),
          number("li_typeid"), content()},
         {QStringLiteral("insert www_music (li_title,li_format,"), eightBlanks("li_level,li_tools,li_url,"),
          eightBlanks("li_typeid,li_content) values (")},
         false},
        {Kind::Zxsp, kindInfo(Kind::Zxsp).exchangeWord, "ExportVideo", "ImportVideo",
         {text("li_title"), text("li_format"), number("li_level"), number("li_tools"), number("li_times"),
          text("li_url"), number("li_typeid"), content()},
         {QStringLiteral("insert www_video (li_title,li_format,"), eightBlanks("li_level,li_tools,li_times,li_url,"),
          eightBlanks("li_typeid,li_content) values (")},
         false},
        {Kind::Shdh, kindInfo(Kind::Shdh).exchangeWord, "ExportWenZhang", "ImportWenZhang",
         {text("li_title"), number("li_typeid"), text("li_about"), text("li_picurl"), text("li_from"),
          text("li_linkurl"), content()},
         {QStringLiteral("insert www_shdh (li_title,li_typeid,"), eightBlanks("li_about,li_picurl,li_from,"),
          eightBlanks("li_linkurl,li_content) values (")},
         false},
    };
    return kinds;
}

const ExchangeKind &exchangeKind(Kind k)
{
    for (const ExchangeKind &e : exchangeKinds())
        if (e.kind == k)
            return e;
    return exchangeKinds().constFirst(); // not reached: every kind is listed
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
