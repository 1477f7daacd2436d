#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace lectoria {

// The widest line of a descriptive text in a book-style catalogue, in bytes
// of its GBK form: 108 half-width characters of the 9 pt report font.
constexpr int BookLineBytes = 108;

// The heading of a record: the title (trimmed, every "&nbsp;" removed), then
// the bracketed value (trimmed) in square brackets. NULL prints as empty text.
QString bookHeading(const QVariant &title, const QVariant &bracketed);

// The descriptive text of a record turned from the web site's HTML fragment
// into printed lines: trimmed, "&nbsp;" a blank, "<br>" (any letter case) and
// carriage returns break paragraphs, line feeds removed, empty paragraphs
// dropped, each paragraph cut into lines of at most BookLineBytes bytes.
QStringList bookTextLines(const QVariant &text);

// One paragraph (GBK bytes) cut into lines. A line takes 108 bytes, or 107
// when an odd number of its first 108 bytes are above 120 (so that the last
// two-byte character is not cut in two); a cut that would still fall inside a
// two-byte character moves one byte back.
QList<QByteArray> cutParagraph(const QByteArray &gbk);

} // namespace lectoria
