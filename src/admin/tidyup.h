#pragma once
#include <QStringList>
#include <QVector>

class QWidget;

namespace lectoria {

// Tidy-up: deletes the catalogue records with an empty title. The video
// table is not part of it.
namespace TidyUp {

// The five deletes, each of two lines, in the order they run.
QVector<QStringList> statements();
// Runs them one after another; the first failure throws DbError and the
// deletes after it do not run (those before it stay done).
void run();

} // namespace TidyUp

// The main window's "数据库整理" command: asks first, then tidies up and says
// so; a failing delete is shown in the standard error box instead. The wait
// cursor is shown over owner meanwhile.
void tidyUpDatabase(QWidget *owner);

} // namespace lectoria
