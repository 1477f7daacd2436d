#pragma once
// The ODBC API. Windows' headers need <windows.h> first; with UNICODE defined
// (as Qt builds) the calls taking text resolve to their wide forms.
#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
