#include "gbkcodec.h"

#include <windows.h>

namespace lectoria::Gbk::codec {
namespace {
constexpr UINT gbk = 936;
} // namespace

Converter::Converter() = default;
Converter::~Converter() = default;

bool Converter::isOpen() const { return IsValidCodePage(gbk) != 0; }

int Converter::encodeUnit(char16_t unit, char out[8])
{
    const wchar_t w = wchar_t(unit);
    BOOL usedDefault = FALSE;
    // No best fit: a character without a GBK form of its own counts as
    // unmappable rather than turning into a look-alike.
    const int n = WideCharToMultiByte(gbk, WC_NO_BEST_FIT_CHARS, &w, 1, out, 8, nullptr, &usedDefault);
    if (usedDefault || (n != 1 && n != 2))
        return 0;
    // A few characters share a byte sequence with another in the code page's
    // table; only the one it decodes back to has a GBK form, as with iconv.
    char16_t back = 0;
    if (!decodeOne(out, std::size_t(n), &back) || back != unit)
        return 0;
    return n;
}

bool Converter::decodeOne(const char *bytes, std::size_t n, char16_t *unit)
{
    wchar_t out[4];
    if (MultiByteToWideChar(gbk, MB_ERR_INVALID_CHARS, bytes, int(n), out, 4) != 1)
        return false;
    // The code page's user-defined areas (lead bytes AA-AF, F8-FE, A1-A7
    // with trails 40-A0) come out as private-use characters; GBK as iconv
    // reads it has none, and both platforms must take the same bytes.
    if (out[0] >= 0xE000 && out[0] <= 0xF8FF)
        return false;
    *unit = char16_t(out[0]);
    return true;
}

QString decodeLenient(const char *data, qsizetype size)
{
    // One character at a time: a two-byte sequence when it is one, a single
    // byte otherwise, U+FFFD for a byte that is neither.
    Converter c;
    QString out;
    out.reserve(size);
    qsizetype i = 0;
    while (i < size) {
        const auto b = static_cast<unsigned char>(data[i]);
        char16_t u = 0;
        if (b < 0x80) {
            out.append(QChar(b));
            ++i;
        } else if (i + 1 < size && c.decodeOne(data + i, 2, &u)) {
            out.append(QChar(u));
            i += 2;
        } else if (c.decodeOne(data + i, 1, &u)) {
            out.append(QChar(u));
            ++i;
        } else {
            out.append(QChar(0xFFFD));
            ++i;
        }
    }
    return out;
}

} // namespace lectoria::Gbk::codec
