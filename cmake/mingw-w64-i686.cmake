# Cross-compiles for 32-bit Windows with mingw-w64.
# Usage: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake ...
#
# No emulator is set: running 32-bit programs needs wine32 (an i386 multiarch
# install), so this build is compiled but its tests are not run.
#
# The -posix compilers are required: the -win32 thread model has no
# std::mutex or std::thread, which the engine and GoogleTest use.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(INIREG_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${INIREG_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${INIREG_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${INIREG_MINGW_TRIPLE}-windres)

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

set(CMAKE_FIND_ROOT_PATH /usr/${INIREG_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
