#include "gbkcodec.h"

#include <cerrno>
#include <iconv.h>

namespace lectoria::Gbk::codec {
namespace {

iconv_t handle(void *p) { return static_cast<iconv_t>(p); }
bool valid(void *p) { return handle(p) != iconv_t(-1); }

// iconv descriptors are costly to open; one per thread is reused for decoding.
struct ThreadDecoder {
    iconv_t fromGbk = iconv_open("UTF-16LE", "GBK");
    ~ThreadDecoder()
    {
        if (fromGbk != iconv_t(-1)) iconv_close(fromGbk);
    }
};

} // namespace

Converter::Converter()
    : m_to(static_cast<void *>(iconv_open("GBK", "UTF-16LE"))), m_from(static_cast<void *>(iconv_open("UTF-16LE", "GBK")))
{
}

Converter::~Converter()
{
    if (valid(m_to)) iconv_close(handle(m_to));
    if (valid(m_from)) iconv_close(handle(m_from));
}

bool Converter::isOpen() const { return valid(m_to) && valid(m_from); }

int Converter::encodeUnit(char16_t unit, char out[8])
{
    char *in = reinterpret_cast<char *>(&unit);
    size_t inLeft = 2;
    char *dst = out;
    size_t outLeft = 8;
    iconv(handle(m_to), nullptr, nullptr, nullptr, nullptr);
    if (iconv(handle(m_to), &in, &inLeft, &dst, &outLeft) == size_t(-1))
        return 0;
    const auto n = int(dst - out);
    return n == 1 || n == 2 ? n : 0;
}

bool Converter::decodeOne(const char *bytes, std::size_t n, char16_t *unit)
{
    char *in = const_cast<char *>(bytes);
    size_t inLeft = n;
    char16_t out[4];
    char *dst = reinterpret_cast<char *>(out);
    size_t outLeft = sizeof out;
    iconv(handle(m_from), nullptr, nullptr, nullptr, nullptr);
    if (iconv(handle(m_from), &in, &inLeft, &dst, &outLeft) == size_t(-1) || inLeft != 0
        || dst != reinterpret_cast<char *>(out + 1))
        return false;
    *unit = out[0];
    return true;
}

QString decodeLenient(const char *data, qsizetype size)
{
    thread_local ThreadDecoder decoder;
    iconv_t cd = decoder.fromGbk;
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

} // namespace lectoria::Gbk::codec
