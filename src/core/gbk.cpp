#include "gbk.h"

#include <iconv.h>
#include <cerrno>

namespace lectoria::Gbk {
namespace {

// iconv descriptors are costly to open; one pair per thread is reused.
struct Converters {
    iconv_t toGbk = iconv_open("GBK", "UTF-16LE");
    iconv_t fromGbk = iconv_open("UTF-16LE", "GBK");
    ~Converters()
    {
        if (toGbk != iconv_t(-1)) iconv_close(toGbk);
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

} // namespace

QByteArray encode(const QString &text, int *unmappable)
{
    if (unmappable) *unmappable = 0;
    if (isAscii(text))
        return text.toLatin1();

    iconv_t cd = converters().toGbk;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    QByteArray out;
    out.resize(text.size() * 2 + 8);
    char *in = reinterpret_cast<char *>(const_cast<QChar *>(text.constData()));
    size_t inLeft = size_t(text.size()) * 2;
    char *dst = out.data();
    size_t outLeft = size_t(out.size());
    while (inLeft > 0) {
        size_t r = iconv(cd, &in, &inLeft, &dst, &outLeft);
        if (r != size_t(-1))
            break;
        if (errno == E2BIG) {
            const qsizetype used = dst - out.data();
            out.resize(out.size() * 2);
            dst = out.data() + used;
            outLeft = size_t(out.size() - used);
            continue;
        }
        // EILSEQ or EINVAL: a character (or half a surrogate pair) with no GBK form.
        if (unmappable) ++*unmappable;
        const QChar c = *reinterpret_cast<const QChar *>(in);
        const size_t skip = (c.isHighSurrogate() && inLeft >= 4) ? 4 : 2;
        in += skip;
        inLeft -= skip;
        if (outLeft < 1) {
            const qsizetype used = dst - out.data();
            out.resize(out.size() * 2);
            dst = out.data() + used;
            outLeft = size_t(out.size() - used);
        }
        *dst++ = '?';
        --outLeft;
    }
    out.resize(dst - out.data());
    return out;
}

QString decode(const char *data, qsizetype size)
{
    if (isAscii(data, size))
        return QString::fromLatin1(data, size);

    iconv_t cd = converters().fromGbk;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    QString out;
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

qsizetype byteLength(const QString &text)
{
    if (isAscii(text))
        return text.size();
    return encode(text).size();
}

} // namespace lectoria::Gbk
