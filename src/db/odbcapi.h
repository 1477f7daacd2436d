#pragma once
// The ODBC API. Windows' headers need <windows.h> first. Qt builds with
// UNICODE, which would turn every call taking text into its wide form; the
// console calls the narrow forms as on unixODBC and names the wide ones
// (SQL...W) where it wants them.
#ifdef _WIN32
#include <windows.h>
#pragma push_macro("UNICODE")
#undef UNICODE
#endif
#include <sql.h>
#include <sqlext.h>
#include <odbcinst.h>
#ifdef _WIN32
#pragma pop_macro("UNICODE")
#endif
