#include "booktext.h"
#include "gbk.h"
#include "text.h"

namespace lectoria {

namespace {

const QString nbsp = QStringLiteral("&nbsp;");

// Whether the first `cut` bytes of a line end inside a two-byte character.
bool splitsCharacter(const char *p, int size, int cut)
{
    int i = 0;
    while (i < cut) {
        const auto b = uchar(p[i]);
        i += (b >= 0x81 && b <= 0xfe && i + 1 < size) ? 2 : 1;
    }
    return i > cut;
}

} // namespace

QString bookHeading(const QVariant &title, const QVariant &bracketed)
{
    QString t = trimText(title.toString());
    t.remove(nbsp, Qt::CaseInsensitive);
    return t + QLatin1Char('[') + trimText(bracketed.toString()) + QLatin1Char(']');
}

QList<QByteArray> cutParagraph(const QByteArray &gbk)
{
    QList<QByteArray> lines;
    const char *p = gbk.constData();
    int left = int(gbk.size());
    while (left > BookLineBytes) {
        int high = 0;
        for (int i = 0; i < BookLineBytes; ++i)
            if (uchar(p[i]) > 120)
                ++high;
        int take = (high % 2) ? BookLineBytes - 1 : BookLineBytes;
        // The count is only a guess at character boundaries (trail bytes can
        // be 120 or less, and so can 'y' and 'z' be above it); never print
        // half a character.
        if (splitsCharacter(p, left, take))
            --take;
        lines.append(QByteArray(p, take));
        p += take;
        left -= take;
    }
    if (left > 0)
        lines.append(QByteArray(p, left));
    return lines;
}

QStringList bookTextLines(const QVariant &text)
{
    QString s = trimText(text.toString());
    s.replace(nbsp, QStringLiteral(" "), Qt::CaseInsensitive);
    s.replace(QStringLiteral("<br>"), QStringLiteral("\r"), Qt::CaseInsensitive);
    s.remove(QLatin1Char('\n'));

    QStringList lines;
    for (const QString &paragraph : s.split(QLatin1Char('\r'), Qt::SkipEmptyParts))
        for (const QByteArray &line : cutParagraph(Gbk::encode(paragraph)))
            lines.append(Gbk::decode(line));
    return lines;
}

} // namespace lectoria
