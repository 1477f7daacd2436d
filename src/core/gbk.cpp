#include "gbk.h"

#include "gbkcodec.h"

#include <vector>

namespace lectoria::Gbk {
namespace {

bool isAscii(const QString &s)
{
    for (QChar c : s)
        if (c.unicode() >= 0x80) return false;
    return true;
}

bool isAscii(const char *p, qsizetype n)
{
    for (qsizetype i = 0; i < n; ++i)
        if (static_cast<unsigned char>(p[i]) >= 0x80) return false;
    return true;
}

// The GBK form of every UTF-16 code unit, taken once from the system's
// converter: two bytes (the lead byte high), one byte (below 0x100), or 0 when
// GBK has none. Encoding through the table is several times faster than
// through the converter, which matters for exports of many megabytes.
const quint16 *gbkTable()
{
    static const std::vector<quint16> table = [] {
        std::vector<quint16> t(0x10000, 0);
        for (unsigned u = 0; u < 0x80; ++u)
            t[u] = quint16(u);
        codec::Converter c;
        if (!c.isOpen())
            return t;
        for (unsigned u = 0x80; u < 0x10000; ++u) {
            if (u >= 0xD800 && u < 0xE000)
                continue; // surrogates have no GBK form of their own
            char out[8];
            const int n = c.encodeUnit(char16_t(u), out);
            const auto b0 = quint8(out[0]);
            if (n == 1)
                t[u] = b0;
            else if (n == 2)
                t[u] = quint16(b0 << 8 | quint8(out[1]));
        }
        return t;
    }();
    return table.data();
}

// The character of every two-byte GBK sequence, by lead byte 0x80..0xFF and
// trail byte, taken once from the system's converter; 0 where it does not
// decode exactly those two bytes as one character. Null when the converter
// does not map ASCII to itself, which GBK always does: decoding then goes
// through the converter alone. Decoding through the table is several times
// faster, which matters for imports of many megabytes.
const char16_t *gbkPairs()
{
    static const std::vector<char16_t> table = [] {
        std::vector<char16_t> t;
        codec::Converter c;
        if (!c.isOpen())
            return t;
        for (unsigned b = 0; b < 0x80; ++b) {
            const char ch = char(b);
            char16_t u = 0;
            if (!c.decodeOne(&ch, 1, &u) || u != b)
                return t;
        }
        t.assign(0x80 * 0x100, 0);
        for (unsigned lead = 0x80; lead < 0x100; ++lead) {
            for (unsigned trail = 0; trail < 0x100; ++trail) {
                const char pair[2] = {char(lead), char(trail)};
                char16_t u = 0;
                if (c.decodeOne(pair, 2, &u) && u != 0)
                    t[(lead - 0x80) << 8 | trail] = u;
            }
        }
        return t;
    }();
    return table.empty() ? nullptr : table.data();
}

// Decodes well-formed GBK through the table; false at the first byte it
// cannot take (a bad byte, a lone lead byte), which the system's converter
// then handles.
bool decodeByTable(const char *data, qsizetype size, QString &out)
{
    const char16_t *pairs = gbkPairs();
    if (!pairs)
        return false;
    out.resize(size);
    char16_t *dst = reinterpret_cast<char16_t *>(out.data());
    const auto *p = reinterpret_cast<const uchar *>(data);
    const uchar *const end = p + size;
    while (p < end) {
        const uchar b = *p;
        if (b < 0x80) {
            *dst++ = b;
            ++p;
            continue;
        }
        if (end - p < 2)
            return false;
        const char16_t u = pairs[(b - 0x80) << 8 | p[1]];
        if (u == 0)
            return false;
        *dst++ = u;
        p += 2;
    }
    out.resize(dst - reinterpret_cast<char16_t *>(out.data()));
    return true;
}

} // namespace

char *encodeInto(QStringView text, char *dst, int *unmappable)
{
    const quint16 *table = gbkTable();
    const QChar *p = text.data();
    const QChar *const end = p + text.size();
    for (; p < end; ++p) {
        const char16_t u = p->unicode();
        if (u < 0x80) {
            *dst++ = char(u);
            continue;
        }
        const quint16 g = table[u];
        if (g >= 0x100) {
            *dst++ = char(g >> 8);
            *dst++ = char(g & 0xFF);
        } else if (g != 0) {
            *dst++ = char(g);
        } else {
            // No GBK form (a character beyond the BMP counts once).
            if (unmappable) ++*unmappable;
            if (QChar::isHighSurrogate(u) && p + 1 < end && p[1].isLowSurrogate())
                ++p;
            *dst++ = '?';
        }
    }
    return dst;
}

QByteArray encode(const QString &text, int *unmappable)
{
    if (unmappable) *unmappable = 0;
    if (isAscii(text))
        return text.toLatin1();
    QByteArray out(text.size() * 2, Qt::Uninitialized);
    out.truncate(encodeInto(text, out.data(), unmappable) - out.constData());
    return out;
}

QString decode(const char *data, qsizetype size)
{
    if (isAscii(data, size))
        return QString::fromLatin1(data, size);
    QString out;
    if (decodeByTable(data, size, out))
        return out;

    return codec::decodeLenient(data, size);
}

QString decode(const QByteArray &bytes) { return decode(bytes.constData(), bytes.size()); }

qsizetype wholeCharacters(const char *data, qsizetype size)
{
    const auto *const begin = reinterpret_cast<const uchar *>(data);
    const uchar *p = begin;
    const uchar *const end = begin + size;
    const char16_t *pairs = gbkPairs();
    if (!pairs) {
        // Without the table, the slow way: whole or nothing.
        return decode(data, size).contains(QChar(0xFFFD)) ? 0 : size;
    }
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        if (end - p < 2 || pairs[(*p - 0x80) << 8 | p[1]] == 0)
            break;
        p += 2;
    }
    return p - begin;
}

qsizetype byteLength(const QString &text)
{
    if (isAscii(text))
        return text.size();
    return encode(text).size();
}

} // namespace lectoria::Gbk
