#pragma once
#include <QDate>
#include <QString>

namespace lectoria {

// The database server backs the site database up into a folder of its own
// file system, one file per weekday ("www_1.dat" for Monday up to
// "www_7.dat" for Sunday), so the backups rotate weekly. No widgets: the
// backup dialog and the command-line runner both call run().
namespace DatabaseBackup {

// ISO weekday of the server's date: 1 for Monday up to 7 for Sunday.
int weekdayNumber(const QDate &serverDate);
QString fileName(int weekday);    // "www_3.dat"
QString weekdayName(int weekday); // "星期三"

// A folder as typed, trimmed and ending in a separator: "/" when the path
// starts with "/" (a backslash in it is then part of a name) or uses "/" and
// no "\", otherwise "\" (an empty text becomes "\").
QString withSeparator(const QString &typed);

// The backup statement for a folder that already ends in its separator.
QString statement(const QString &directory, int weekday);

QString successMessage(const QString &fileName);
QString failureMessage(const QString &directory, const QString &fileName);
// A backup the login may not make, and one the server's service account may
// not write into the folder: each says which, instead of the list of guesses.
QString rightsMessage();
QString accessMessage(const QString &directory);
bool serviceAccountDenied(const QString &databaseText);

struct Outcome {
    bool ok = false;
    QString directory;    // the folder with its separator
    QString fileName;     // "www_3.dat"
    QString message;      // what the operator is told: success or the fixed failure text
    QString databaseText; // the database's own error text on failure (not shown in the dialog)
};

// Backs the database up into directory (as typed; a separator is appended
// when missing) under the file name of serverDate's weekday (today's when
// serverDate is null). Never throws.
Outcome run(const QString &directory, const QDate &serverDate);

} // namespace DatabaseBackup
} // namespace lectoria
