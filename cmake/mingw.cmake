# What both MinGW-w64 toolchain files share: cross-compiling for Windows with
# the posix threads variant of the compilers for KORVANE_MINGW_ARCH, and
# running the resulting test programs through scripts/wine.sh, which runs
# both kinds under the one Wine of the project's root (32-bit programs in
# its WoW64 mode).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KORVANE_MINGW_ARCH})

set(CMAKE_C_COMPILER ${KORVANE_MINGW_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVANE_MINGW_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${KORVANE_MINGW_ARCH}-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVANE_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

get_filename_component(KORVANE_WINE_LAUNCHER ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine.sh ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KORVANE_WINE_LAUNCHER})
