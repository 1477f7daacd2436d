#pragma once
#include <QStringList>
#include <QVector>

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

} // namespace lectoria
