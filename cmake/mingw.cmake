# What both MinGW-w64 toolchain files share: cross-compiling for Windows with
# the posix threads variant of the compilers for KORVANE_MINGW_ARCH, and
# running the resulting test programs under the Wine loader named in
# KORVANE_WINE_LOADER, called by its path (/usr/bin/wine picks the 32-bit
# loader whenever it is installed).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KORVANE_MINGW_ARCH})

set(CMAKE_C_COMPILER ${KORVANE_MINGW_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVANE_MINGW_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${KORVANE_MINGW_ARCH}-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVANE_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${KORVANE_WINE_LOADER})
