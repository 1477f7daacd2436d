#pragma once
#include <QString>

namespace lectoria {

// The console's statements are Transact-SQL. On SQL Server they go out as
// written, except that literals with Chinese text get the N prefix; on the embedded SQLite engine (through QSQLITE or the SQLite ODBC
// driver) this module adapts the few constructs SQLite does not know.
enum class Dialect { SqlServer, Sqlite };

// The statement as the server of this dialect takes it. An empty result means
// the statement has no counterpart there and is skipped (the primary key
// constraint that SQLite declares inside the table instead).
QString adaptStatement(const QString &sql, Dialect dialect);

// "backup database NAME to disk='FILE' ...": the FILE named, with doubled
// quotes undone; empty when the statement is not a backup. On SQLite the
// statement writes FILE + BackupPartSuffix first (see runBackupStatement).
QString backupDiskFile(const QString &sql);
constexpr const char *BackupPartSuffix = ".part";

} // namespace lectoria
