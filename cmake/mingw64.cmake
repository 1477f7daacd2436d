# Cross-building for Windows with Debian's MinGW-w64 (posix threads) against a
# Qt for MinGW unpacked in QT_MINGW_PREFIX; the host tools (moc, rcc, uic)
# come from Debian's own Qt of the same version:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw64.cmake -DQT_MINGW_PREFIX=/path/to/qt \
#         -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake ...
# scripts/lectoria windows does all of this.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
if(NOT QT_MINGW_PREFIX AND DEFINED ENV{QT_MINGW_PREFIX})
  set(QT_MINGW_PREFIX "$ENV{QT_MINGW_PREFIX}")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QT_MINGW_PREFIX)
list(APPEND CMAKE_PREFIX_PATH "${QT_MINGW_PREFIX}")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "${QT_MINGW_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
