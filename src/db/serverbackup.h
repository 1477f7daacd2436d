#pragma once
#include <QString>

namespace lectoria {

// Runs a "backup database NAME to disk='FILE' ..." statement on LibDB.
//
// SQL Server: the statement goes out as written and every result and message
// the server sends back is read, so the backup has run to its end when this
// returns; an error in any of them throws DbError with the server's text.
//
// SQLite: the same statement makes a complete copy of the database file at
// FILE. The copy is written to FILE + BackupPartSuffix and renamed over FILE
// only when whole, so an interrupted backup never spoils the previous one.
// FILE must be an absolute path in an existing folder that can be written,
// and never the database file itself; otherwise DbError saying which. A
// partial copy is removed when the copy fails or the run is stopped by
// SIGTERM, SIGINT or SIGHUP; one left by a killed run goes at the next
// backup into the folder.
void runBackupStatement(const QString &sql);

// A failed backup's text without the server's progress messages, which the
// driver hands over together with the error; "数据库服务器没有说明原因" when
// nothing else is left.
QString backupErrorText(const QString &text);

} // namespace lectoria
