#pragma once
#include "batch.h"

namespace lectoria::batch {

// The four commands, run after the operator has logged in; each returns an exit status.
int runReport(const Request &r);
int runExport(const Request &r);
int runImport(const Request &r);
int runBackup(const Request &r);

// Whether progress goes to standard error (it is a terminal).
bool showProgress();

} // namespace lectoria::batch
