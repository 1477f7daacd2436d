#pragma once
#include <QString>

#include <cstddef>

// The system's own GBK (code page 936) converter, behind the console's
// faster tables in gbk.cpp: iconv on Linux, the code page API on Windows.
namespace lectoria::Gbk::codec {

// Converts one UTF-16 unit or one short byte sequence at a time; the tables
// are filled through it once.
class Converter {
public:
    Converter();
    ~Converter();
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    bool isOpen() const;
    // The GBK form of one UTF-16 unit: its length (1 or 2) with the bytes in
    // out, or 0 when GBK has none.
    int encodeUnit(char16_t unit, char out[8]);
    // True when exactly these n bytes decode as one UTF-16 unit.
    bool decodeOne(const char *bytes, std::size_t n, char16_t *unit);

private:
    void *m_to = nullptr;
    void *m_from = nullptr;
};

// Decodes anything: each byte that is not valid GBK becomes U+FFFD and
// decoding resumes at the next byte.
QString decodeLenient(const char *data, qsizetype size);

} // namespace lectoria::Gbk::codec
