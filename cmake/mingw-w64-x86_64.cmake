# Cross-compiles for 64-bit Windows with mingw-w64 and runs the results under
# wine64.  Usage: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake ...
#
# scripts/test-windows.sh builds and tests with it.  Running ctest by hand
# works too (Wine makes the prefix on first use), but each test then waits a
# few seconds for Wine's background programs to leave; starting a persistent
# session first, as the script does, avoids that.
#
# The -posix compilers are required: the -win32 thread model has no
# std::mutex or std::thread, which the engine and GoogleTest use.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(INIREG_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${INIREG_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${INIREG_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${INIREG_MINGW_TRIPLE}-windres)

# Programs built here must start under Wine with no compiler DLLs beside them
# (libstdc++, libgcc, libwinpthread).
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Wine's loader is looked up before the find root is restricted to the target.
# Debian keeps wine64 out of PATH unless the "wine" package is installed too.
find_program(INIREG_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine /opt/wine-stable/bin)
set(INIREG_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH
    "Wine prefix that the test programs run in")
if(INIREG_WINE64)
  # Everything through env, so ctest, test discovery and a plain `ctest` by hand
  # all use the build's own prefix, in the environment cmake/wine.env gives
  # every Wine program of the project (quiet, no display, nothing installed
  # or written outside the prefix).
  file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/wine.env" inireg_wine_environment REGEX "^[A-Z]")
  set(CMAKE_CROSSCOMPILING_EMULATOR
      /usr/bin/env
      "WINEPREFIX=${INIREG_WINEPREFIX}"
      ${inireg_wine_environment}
      "${INIREG_WINE64}")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${INIREG_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
