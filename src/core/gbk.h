#pragma once
#include <QByteArray>
#include <QString>

namespace lectoria::Gbk {

// Every file the console reads or writes is code page 936 (GBK) text.

// Encodes to GBK. A character GBK cannot carry becomes '?'; *unmappable, when
// given, receives how many did.
QByteArray encode(const QString &text, int *unmappable = nullptr);

// Decodes GBK. Bytes that are not valid GBK never stop the decoding: each bad
// byte becomes U+FFFD and decoding resumes at the next byte.
QString decode(const QByteArray &bytes);
QString decode(const char *data, qsizetype size);

// Length of the text in bytes of its GBK form.
qsizetype byteLength(const QString &text);

} // namespace lectoria::Gbk
