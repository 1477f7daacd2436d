#include "helperlib.h"
#include <QByteArray>

namespace lectoria {
namespace {

const QLatin1String marker("QY1");

// A fixed keystream; see the header: this is obfuscation only.
quint8 streamByte(int i)
{
    static const char key[] = "Lectoria/Marrowind-school-library";
    return quint8(key[i % (sizeof key - 1)] ^ (i * 37 + 11));
}

} // namespace

QString qyBeSecrectString(const QString &plain)
{
    const QByteArray bytes = plain.toUtf8();
    QByteArray mixed(bytes.size(), Qt::Uninitialized);
    for (int i = 0; i < bytes.size(); ++i)
        mixed[i] = char(quint8(bytes[i]) ^ streamByte(i));
    return marker + QString::fromLatin1(mixed.toHex().toUpper());
}

QString qyDeSecrectString(const QString &secret)
{
    if (!secret.startsWith(marker))
        return secret;
    const QString hex = secret.mid(marker.size());
    if (hex.size() % 2 != 0)
        return secret;
    for (QChar c : hex)
        if (!(c.isDigit() || (c >= QLatin1Char('A') && c <= QLatin1Char('F')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return secret;
    QByteArray mixed = QByteArray::fromHex(hex.toLatin1());
    for (int i = 0; i < mixed.size(); ++i)
        mixed[i] = char(quint8(mixed[i]) ^ streamByte(i));
    // A plain value typed by hand may look like the stored form ("QY12345"):
    // it is taken as stored only when it decodes to text (well-formed UTF-8,
    // no control characters) that the protection gives back exactly.
    const QString plain = QString::fromUtf8(mixed);
    if (plain.toUtf8() != mixed || plain.contains(QChar(0xFFFD)))
        return secret;
    for (QChar c : plain)
        if (c.unicode() < 32 || c.unicode() == 127)
            return secret;
    if (qyBeSecrectString(plain) != secret)
        return secret;
    return plain;
}

} // namespace lectoria
