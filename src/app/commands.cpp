#include "mainwindow.h"
#include "startup.h"

namespace lectoria {

void registerCommands(TWebMain &)
{
    // The report, exchange and administration windows register here as they come.
}

} // namespace lectoria
