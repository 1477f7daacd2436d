#pragma once
#include <QByteArray>
#include <QString>
#include <QStringView>

namespace lectoria::Gbk {

// Every file the console reads or writes is code page 936 (GBK) text.

// Encodes to GBK. A character GBK cannot carry becomes '?'; *unmappable, when
// given, receives how many did.
QByteArray encode(const QString &text, int *unmappable = nullptr);
// The same, written at dst, which has room for twice as many bytes as the
// text has UTF-16 units; the end of what was written. *unmappable, when
// given, is added to.
char *encodeInto(QStringView text, char *dst, int *unmappable = nullptr);

// Decodes GBK. Bytes that are not valid GBK never stop the decoding: each bad
// byte becomes U+FFFD and decoding resumes at the next byte.
QString decode(const QByteArray &bytes);
QString decode(const char *data, qsizetype size);

// How many bytes at the start of data are whole GBK characters, the ones
// decode() reads without a U+FFFD: up to the first byte that is not part of
// one, or up to a last lead byte that the bytes after data may complete.
qsizetype wholeCharacters(const char *data, qsizetype size);

// Length of the text in bytes of its GBK form.
qsizetype byteLength(const QString &text);

} // namespace lectoria::Gbk
