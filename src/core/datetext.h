#pragma once
#include <QDate>
#include <QStringView>
#include <QTime>

namespace lectoria {

// A date or date-time as SQLite and Qt's drivers give it as text:
// "yyyy-MM-dd", then optionally a blank or "T" and "hh:mm", ":ss", ".zzz"
// (leading blanks and whatever follows are ignored). The date must be a real
// day; a time that is missing or not a real time reads as midnight. Written
// by hand rather than with QDateTime::fromString: the report engine reads
// every date of a listing through it.
bool parseDateText(QStringView s, QDate &date, QTime &time);

} // namespace lectoria
