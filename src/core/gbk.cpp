#include "gbk.h"

#include <iconv.h>
#include <cerrno>
#include <vector>

namespace lectoria::Gbk {
namespace {

// iconv descriptors are costly to open; one per thread is reused for decoding.
struct Converters {
    iconv_t fromGbk = iconv_open("UTF-16LE", "GBK");
    ~Converters()
    {
        if (fromGbk != iconv_t(-1)) iconv_close(fromGbk);
    }
};

Converters &converters()
{
    thread_local Converters c;
    return c;
}

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

// The GBK form of every UTF-16 code unit, taken once from iconv: two bytes
// (the lead byte high), one byte (below 0x100), or 0 when GBK has none.
// Encoding through the table is several times faster than through iconv,
// which matters for exports of many megabytes.
const quint16 *gbkTable()
{
    static const std::vector<quint16> table = [] {
        std::vector<quint16> t(0x10000, 0);
        for (unsigned u = 0; u < 0x80; ++u)
            t[u] = quint16(u);
        iconv_t cd = iconv_open("GBK", "UTF-16LE");
        if (cd == iconv_t(-1))
            return t;
        for (unsigned u = 0x80; u < 0x10000; ++u) {
            if (u >= 0xD800 && u < 0xE000)
                continue; // surrogates have no GBK form of their own
            const char16_t unit = char16_t(u);
            char *in = reinterpret_cast<char *>(const_cast<char16_t *>(&unit));
            size_t inLeft = 2;
            char out[8];
            char *dst = out;
            size_t outLeft = sizeof out;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd, &in, &inLeft, &dst, &outLeft) == size_t(-1))
                continue;
            const auto b0 = quint8(out[0]);
            if (dst - out == 1)
                t[u] = b0;
            else if (dst - out == 2)
                t[u] = quint16(b0 << 8 | quint8(out[1]));
        }
        iconv_close(cd);
        return t;
    }();
    return table.data();
}

// The character of every two-byte GBK sequence, by lead byte 0x80..0xFF and
// trail byte, taken once from iconv; 0 where iconv does not decode exactly
// those two bytes as one character. Null when iconv does not map ASCII to
// itself, which GBK always does: decoding then goes through iconv alone.
// Decoding through the table is several times faster than through iconv,
// which matters for imports of many megabytes.
const char16_t *gbkPairs()
{
    static const std::vector<char16_t> table = [] {
        std::vector<char16_t> t;
        iconv_t cd = iconv_open("UTF-16LE", "GBK");
        if (cd == iconv_t(-1))
            return t;
        auto decodeOne = [cd](const char *bytes, size_t n, char16_t *unit) {
            char *in = const_cast<char *>(bytes);
            size_t inLeft = n;
            char16_t out[4];
            char *dst = reinterpret_cast<char *>(out);
            size_t outLeft = sizeof out;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd, &in, &inLeft, &dst, &outLeft) == size_t(-1) || inLeft != 0
                || dst != reinterpret_cast<char *>(out + 1))
                return false;
            *unit = out[0];
            return true;
        };
        for (unsigned b = 0; b < 0x80; ++b) {
            const char c = char(b);
            char16_t u = 0;
            if (!decodeOne(&c, 1, &u) || u != b) {
                iconv_close(cd);
                return t;
            }
        }
        t.assign(0x80 * 0x100, 0);
        for (unsigned lead = 0x80; lead < 0x100; ++lead) {
            for (unsigned trail = 0; trail < 0x100; ++trail) {
                const char pair[2] = {char(lead), char(trail)};
                char16_t u = 0;
                if (decodeOne(pair, 2, &u) && u != 0)
                    t[(lead - 0x80) << 8 | trail] = u;
            }
        }
        iconv_close(cd);
        return t;
    }();
    return table.empty() ? nullptr : table.data();
}

// Decodes well-formed GBK through the table; false at the first byte it
// cannot take (a bad byte, a lone lead byte), which iconv then handles.
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

    iconv_t cd = converters().fromGbk;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    out.resize(size + 1);
    char *in = const_cast<char *>(data);
    size_t inLeft = size_t(size);
    char *dst = reinterpret_cast<char *>(out.data());
    size_t outLeft = size_t(out.size()) * 2;
    while (inLeft > 0) {
        size_t r = iconv(cd, &in, &inLeft, &dst, &outLeft);
        if (r != size_t(-1))
            break;
        if (errno == E2BIG) { // cannot happen: one GBK byte never gives more than one UTF-16 unit
            break;
        }
        // EILSEQ (bad byte) or EINVAL (a lead byte at the very end).
        ++in;
        --inLeft;
        *reinterpret_cast<char16_t *>(dst) = u'\uFFFD';
        dst += 2;
        outLeft -= 2;
    }
    out.resize((dst - reinterpret_cast<char *>(out.data())) / 2);
    return out;
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
