#include "helperlib.h"
#include "atomicfile.h"
#include "gbk.h"

#include <QByteArray>
#include <QStringList>

namespace lectoria {
namespace {

const QLatin1String marker("QY1");

// A fixed keystream; see the header: this is obfuscation only.
quint8 streamByte(int i)
{
    static const char key[] = "Lectoria/Marrowind-school-library";
    return quint8(key[i % (sizeof key - 1)] ^ (i * 37 + 11));
}

QString htmlEscape(const QString &s) { return s.toHtmlEscaped(); }

QByteArray prependLines(const QByteArray &body, const QString &title, const QString &header)
{
    QByteArray out = Gbk::encode(title) + "\r\n" + Gbk::encode(header) + "\r\n";
    out += body;
    return out;
}

void replaceFile(const QString &fileName, const QByteArray &content)
{
    GbkFileWriter w(fileName);
    w.writeRaw(content);
    w.commit();
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
    return QString::fromUtf8(mixed);
}

void qyChangThisTextFile(const QString &fileName, const QString &title, const QString &header, bool)
{
    replaceFile(fileName, prependLines(readWholeFile(fileName), title, header));
}

void qyChangThisCSVFile(const QString &fileName, const QString &title, const QString &header, bool)
{
    replaceFile(fileName, prependLines(readWholeFile(fileName), title, header));
}

void qyChangThisHTMLFile(const QString &fileName, const QString &title, const QString &header, int, bool)
{
    QByteArray body = readWholeFile(fileName);
    // Take only what is inside <body>, should the engine's file be a whole document.
    const QByteArray lower = body.toLower();
    const int b = lower.indexOf("<body");
    if (b >= 0) {
        const int start = lower.indexOf('>', b) + 1;
        int end = lower.indexOf("</body>", start);
        if (end < 0) end = body.size();
        body = body.mid(start, end - start);
    }

    QString headerRow = QStringLiteral("<tr>");
    for (const QString &cell : header.split(QLatin1Char(',')))
        headerRow += QStringLiteral("<th>") + htmlEscape(cell) + QStringLiteral("</th>");
    headerRow += QStringLiteral("</tr>\r\n");

    // The header row goes first in the first table; without a table it gets one.
    const QByteArray row = Gbk::encode(headerRow);
    const int t = body.toLower().indexOf("<table");
    if (t >= 0) {
        const int afterTag = body.indexOf('>', t) + 1;
        body.insert(afterTag, QByteArray("\r\n") + row);
    } else {
        body.prepend("<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\">\r\n" + row + "</table>\r\n");
    }

    QByteArray doc;
    doc += "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n"
           "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">\r\n<title>";
    doc += Gbk::encode(htmlEscape(title));
    doc += "</title>\r\n</head>\r\n<body>\r\n<h1>";
    doc += Gbk::encode(htmlEscape(title));
    doc += "</h1>\r\n";
    doc += body;
    if (!body.endsWith("\r\n")) doc += "\r\n";
    doc += "</body>\r\n</html>\r\n";
    replaceFile(fileName, doc);
}

} // namespace lectoria
