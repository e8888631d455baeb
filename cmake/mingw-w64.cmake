# Cross-compile korvum.exe with Debian's MinGW-w64 (x86_64-w64-mingw32):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The tests then run under Wine, as the cross-compiling emulator.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KORVUM_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KORVUM_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVUM_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVUM_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVUM_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained executables: the C++, GCC and thread runtimes linked in,
# so that only the DLLs every Windows has are needed.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(KORVUM_WINE NAMES wine64 wine PATHS /usr/lib/wine
             NO_CMAKE_FIND_ROOT_PATH)
if(KORVUM_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KORVUM_WINE})
endif()
