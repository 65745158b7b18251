# Cross-compiles for 64-bit Windows and runs the test programs under 64-bit
# Wine, which works where 32-bit programs can't be executed.
set(KORVANE_MINGW_ARCH x86_64)
set(KORVANE_WINE_LOADER /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
