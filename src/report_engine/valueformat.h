#pragma once
#include <QDate>
#include <QString>
#include <QTime>
#include <QVariant>

namespace lectoria::report {

// How the engine turns a row's values into printed text.

// A value's wall-clock date and time: a date-time, a date, or date text as
// SQLite gives it (datetext.h). Never converted to a time zone: that costs a
// system call per value and changes nothing printed.
bool dateParts(const QVariant &v, QDate &date, QTime &time);

// The date and time in a date-time pattern; "yyyy-MM-dd" and
// "yyyy-MM-dd hh:mm:ss", the console's usual ones, are written directly.
QString formatDateTime(const QDate &d, const QTime &t, const QString &pattern);

// A value as a field prints it: in `pattern` when it is a date (and a
// pattern is given), otherwise numbers in full, dates as yyyy-MM-dd
// (hh:mm:ss), text trimmed of blanks and controls, null as nothing.
QString valueText(const QVariant &v, const QString &pattern = QString());

} // namespace lectoria::report
