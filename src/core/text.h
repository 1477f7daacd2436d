#pragma once
#include <QString>
#include <QStringList>

class QDate;
class QDateTime;

namespace lectoria {

// Removes every character of code 32 or less from both ends. Fixed-width
// database columns come back blank-padded, so every value is passed through
// this before it is shown, compared or composed.
QString trimText(const QString &s);

// A value from outside (a file, a typed text) as a message quotes it: at
// most `limit` characters, then "…"; every control character (a terminal's
// escape sequence, a line break, a direction override) shown as "?", so that
// the message says what it says wherever it is shown and stays short however
// long the value is.
QString shownValue(const QString &value, qsizetype limit = 40);

// The text with each single quote doubled, for the inside of an SQL literal.
QString sqlEscape(const QString &s);

// The text as a complete SQL string literal: quotes around, quotes inside doubled.
QString sqlLiteral(const QString &s);

// A date as the console writes it everywhere: yyyy-mm-dd.
QString ymd(const QDate &d);
QString ymd(const QDateTime &dt);

// How a date goes into a statement depends on the database: Dialect::date
// (dialect.h).

} // namespace lectoria
