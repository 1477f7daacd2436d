#pragma once
#include "dialect.h"

#include <QDate>
#include <QStringList>
#include <QVector>

namespace lectoria {

// Brings an older site database up to what the console needs. Each check is
// a query whose empty result means the object is missing; only then do its
// statements run. A failing statement throws DbError and the rest is skipped,
// unless the check then finds the object (a run started at the same time
// made it). Nothing runs on a database opened for reading only.
namespace Upkeep {

// E-book volume column li_number.
QString volumeCheck();
QVector<QStringList> volumeStatements();
// Default administrator "admin", re-created whenever it is missing.
QString administratorCheck();
QStringList administratorStatement(const QDate &today, const Dialect &dialect);
// Report margins table lib_prtblank with its default row.
QString marginsCheck();
QVector<QStringList> marginsStatements();

// What the operator reads when a statement of the upkeep (doing task) was
// refused for a right the login lacks: which right, what to grant, and the
// server's own text.
QString missingRightMessage(const QString &task, const QString &statement, const QString &serverText);

// Each throws DbPermissionDenied with missingRightMessage() when the login
// lacks a right the upkeep needs, DbError for any other failure.
void ensureVolumeColumn();
void ensureAdministrator();
void ensureMarginsTable();

} // namespace Upkeep
} // namespace lectoria
