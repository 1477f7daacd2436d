#pragma once
#include <QDateTime>
#include <functional>

namespace lectoria {

// The start-up steps that need no window, shared by the console's main window
// and the command-line runner. Each throws DbError when a statement fails.
namespace StartupSteps {

// INPUTTYPE of the machine settings, trimmed; empty without the key.
QString defaultInputMethod();

// The server date rule: read the date, read again when it lies before
// 2003-04-01, and warn when it still does. Returns the date kept.
QDateTime checkServerDate(const std::function<QDateTime()> &readServerDate);
QDateTime readServerDate(); // "select getdate() as dDate" under the rule above

// The school name of the machine settings, trimmed.
QString schoolName();

// The installation's report margins from lib_prtblank, or the built-in defaults.
void loadMargins();

// On a database this process can only read (LibDB::readOnly()), one
// information box saying so: the upkeep checks found nothing they could do,
// and whatever writes will be refused. Nothing on a database it can write.
void announceReadOnly();

// Every step in the console's order, for a run without windows: input method,
// server date, the three upkeep checks, school name, margins.
void prepareSession();

} // namespace StartupSteps
} // namespace lectoria
