#include "batchcommands.h"
#include "prompt.h"

#include <unistd.h>

namespace lectoria::batch {

bool showProgress() { return isatty(STDERR_FILENO); }

int runReport(const Request &) { showError(QStringLiteral("此功能尚未提供。")); return Usage; }
int runExport(const Request &) { showError(QStringLiteral("此功能尚未提供。")); return Usage; }
int runImport(const Request &) { showError(QStringLiteral("此功能尚未提供。")); return Usage; }
int runBackup(const Request &) { showError(QStringLiteral("此功能尚未提供。")); return Usage; }

} // namespace lectoria::batch
