#include "kinds.h"

namespace lectoria {

const QVector<CatalogueKind> &catalogueKinds()
{
    static const QVector<CatalogueKind> kinds = keyedByKind<CatalogueKind>({
        {Kind::Shdh, "Shdh", "shdh", QStringLiteral("导读文章"), QStringLiteral("书海导读文章"),
         QStringLiteral("www_shdh"), QStringLiteral("www_shtype"), QString()},
        {Kind::Dzts, "Dzts", "dzts", QStringLiteral("电子图书"), QStringLiteral("电子图书"),
         QStringLiteral("www_lineread"), QStringLiteral("www_litype"), QString()},
        {Kind::Bklw, "Bklw", "bklw", QStringLiteral("报刊论文"), QStringLiteral("报刊论文"),
         QStringLiteral("www_article"), QStringLiteral("www_artype"), QStringLiteral("www_artypes")},
        {Kind::Tpzl, "Tpzl", "tpzl", QStringLiteral("图片资料"), QStringLiteral("图片资料"),
         QStringLiteral("www_picture"), QStringLiteral("www_pitype"), QString()},
        {Kind::Zxyy, "Zxyy", "zxyy", QStringLiteral("在线音乐"), QStringLiteral("在线音乐"),
         QStringLiteral("www_music"), QStringLiteral("www_mutype"), QString()},
        {Kind::Zxsp, "Zxsp", "zxsp", QStringLiteral("在线视频"), QStringLiteral("在线视频"),
         QStringLiteral("www_video"), QStringLiteral("www_vitype"), QString()},
    });
    return kinds;
}

const CatalogueKind &kindInfo(Kind k) { return catalogueKinds().at(int(k)); }

const CatalogueKind *findKind(const QString &code)
{
    for (const CatalogueKind &k : catalogueKinds())
        if (code.compare(QLatin1String(k.code), Qt::CaseInsensitive) == 0)
            return &k;
    return nullptr;
}

} // namespace lectoria
