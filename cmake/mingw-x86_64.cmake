# Cross-compiles for 64-bit Windows: the same sources, built for testing.
set(KORVANE_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
