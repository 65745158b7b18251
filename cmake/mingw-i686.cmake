# Cross-compiles for 32-bit Windows (the program users get) and runs the test
# programs under 32-bit Wine.
set(KORVANE_MINGW_ARCH i686)
set(KORVANE_WINE_LOADER /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
