#pragma once
#include "pagemodel.h"

#include <QString>
#include <QStringView>

namespace lectoria::report {

// How the engine measures a printed text. The reports are set in the
// Chinese fonts whose half-width characters are half an em wide and whose
// Chinese characters a whole em: a text is as wide as its GBK bytes times
// half an em. Every cut, fit and column of the engine and of the text file
// uses this one measure, so that the page and the files agree; the painter
// holds the installed fonts to it.

// Half-width columns a character takes: its GBK byte count (one for ASCII,
// two for a Chinese character; a surrogate pair is one column, as GBK
// writes it as one '?').
int charColumns(QChar c);
int textColumns(QStringView s);

// Width of one half-width column at a point size, in tenths of a millimetre.
inline double columnWidth(qreal pointSize) { return pointSize * 254.0 / 72.0 / 2.0; }

// Width of a text at a point size, in tenths of a millimetre (rounded up).
int textWidth(QStringView s, qreal pointSize);

// The longest piece of s that fits in `width` tenths of a millimetre at the point
// size, cut at whole characters: the start is kept when left-aligned, the
// end when right-aligned, the middle when centred.
QString fitText(const QString &s, int width, qreal pointSize, Align align);

// A printed value that does not fit `width`: its beginning, cut at a whole
// character, and "…" to show that it goes on; s itself when it fits.
QString cutWithMark(const QString &s, int width, qreal pointSize);

} // namespace lectoria::report
