# Cross build: the program, its test programs (run under Wine by ctest) and
# the Windows benchmarks.
add_compile_definitions(__USE_MINGW_ANSI_STDIO=0 _WIN32_WINNT=0x0501 WINVER=0x0501)
add_compile_options(-Wall -Wextra -O2)
# A __FILE__ (an assert, a test's failure message) names the source by its
# place in the tree, never by the folder the tree was checked out in.
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)
add_link_options(-static -static-libgcc -static-libstdc++)
# A 32-bit program marked large-address-aware gets 4 GiB of addresses on
# 64-bit Windows instead of 2, which doubles the size of the files that fit
# in memory; on 32-bit Windows the mark changes nothing. The test programs
# carry it too, so that they meet the memory the program has.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  add_link_options(-Wl,--large-address-aware)
endif()

set(CORE_SOURCES core/unwrap.cpp core/riff_tags.cpp core/stream.cpp core/convert.cpp core/extension.cpp)
set(APP_SOURCES settings/settings.cpp platform/system_dlls.cpp batch/entry_list.cpp batch/run.cpp
                ui/dialog.cpp)
# shell32 and shlwapi are loaded at run time from the system folder
# (platform/system_dlls.cpp): an imported DLL would be looked for in the
# program's folder first.
set(APP_LIBS user32 kernel32)

add_library(korvane_core STATIC ${CORE_SOURCES})
target_include_directories(korvane_core PUBLIC ${CMAKE_SOURCE_DIR})

add_library(korvane_app STATIC ${APP_SOURCES})
target_include_directories(korvane_app PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(korvane_app PUBLIC korvane_core ${APP_LIBS})

# The resources are compiled once and linked into the program and into every
# test program that opens the real dialog.
set(RESOURCE_OBJECT ${CMAKE_BINARY_DIR}/korvane_res.o)
add_custom_command(
  OUTPUT ${RESOURCE_OBJECT}
  COMMAND ${CMAKE_RC_COMPILER} -I${CMAKE_SOURCE_DIR}/res -O coff
          ${CMAKE_SOURCE_DIR}/res/korvane.rc ${RESOURCE_OBJECT}
  DEPENDS res/korvane.rc res/resource.h res/version.h res/korvane.ico res/korvane.manifest
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/res)
add_custom_target(korvane_resources DEPENDS ${RESOURCE_OBJECT})

add_executable(Korvane WIN32 ui/winmain.cpp ${RESOURCE_OBJECT})
add_dependencies(Korvane korvane_resources)
target_link_libraries(Korvane korvane_app)
# The program users get is the same bytes whenever and wherever it is built,
# so anyone can check that it came from these sources: the linker writes no
# time stamp, and the symbols and the runtime's debug sections (which carry
# the paths of the runtime's own build) are left out.
target_link_options(Korvane PRIVATE -Wl,--no-insert-timestamp -s)

# ---- tests ----
# Not a test: the test command runs it first to learn whether this machine's
# Wine runs programs of this build's kind.
add_executable(bits_probe tests/bits_probe.cpp)

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} googletest EXCLUDE_FROM_ALL)

# Each test program is registered once: starting a Wine process costs about a
# second, so the cases are grouped inside the programs.
function(korvane_wine_test name)
  add_executable(${name} tests/${name}.cpp tests/crash_exit.cpp ${ARGN})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  add_test(NAME ${name} COMMAND ${name})
endfunction()

korvane_wine_test(unwrap_test tests/riff_builder.cpp)
target_link_libraries(unwrap_test korvane_core gtest_main)

# The conversion is compiled a second time with its platform calls routed
# through seams that a test can make fail; the program never has them.
korvane_wine_test(convert_test tests/convert_seams.cpp tests/riff_builder.cpp tests/test_files.cpp
                  core/convert.cpp core/stream.cpp core/unwrap.cpp core/riff_tags.cpp)
target_compile_definitions(convert_test PRIVATE KORVANE_TEST_SEAMS)
target_link_libraries(convert_test gtest_main)

# Real audio: ffmpeg makes it before convert_test converts it, and mpg123
# decodes what convert_test converted (run on its own, check_decodes pulls in
# make_audio and convert_test).
add_test(NAME make_audio COMMAND sh ${CMAKE_SOURCE_DIR}/tests/make_audio.sh ${CMAKE_BINARY_DIR}/audio)
set_tests_properties(make_audio PROPERTIES FIXTURES_SETUP korvane_audio)
set_tests_properties(convert_test PROPERTIES
  ENVIRONMENT "KORVANE_AUDIO_DIR=${CMAKE_BINARY_DIR}/audio"
  FIXTURES_REQUIRED korvane_audio FIXTURES_SETUP korvane_converted_audio)
add_test(NAME check_decodes
         COMMAND sh ${CMAKE_SOURCE_DIR}/tests/check_decodes.sh ${CMAKE_BINARY_DIR}/audio)
set_tests_properties(check_decodes PROPERTIES FIXTURES_REQUIRED korvane_converted_audio
                                              DEPENDS convert_test)
# The tags kept from the RIFF, read back by mutagen (Debian's, whatever other
# Python comes first on the path).
find_program(DEBIAN_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
add_test(NAME check_tags
         COMMAND ${DEBIAN_PYTHON} ${CMAKE_SOURCE_DIR}/tests/check_tags.py ${CMAKE_BINARY_DIR}/audio)
set_tests_properties(check_tags PROPERTIES FIXTURES_REQUIRED korvane_converted_audio
                                           DEPENDS convert_test)

# A child process converting a file of tens of MiB is killed at chosen
# instants; the file must be whole after each.
korvane_wine_test(cutoff_test tests/riff_builder.cpp tests/test_files.cpp)
target_link_libraries(cutoff_test korvane_core gtest shell32)

korvane_wine_test(settings_test tests/test_files.cpp settings/settings.cpp)
target_link_libraries(settings_test gtest_main)

foreach(name dialog_test entry_list_test run_test)
  korvane_wine_test(${name} tests/dialog_driver.cpp tests/test_files.cpp tests/riff_builder.cpp
                    ${RESOURCE_OBJECT})
  add_dependencies(${name} korvane_resources)
  target_link_libraries(${name} korvane_app gtest_main)
endforeach()
# The run drops the same real audio onto the dialog.
set_tests_properties(run_test PROPERTIES
  ENVIRONMENT "KORVANE_AUDIO_DIR=${CMAKE_BINARY_DIR}/audio"
  FIXTURES_REQUIRED korvane_audio)
# The version resource is read back as the file's properties page reads it.
target_link_libraries(dialog_test version)

# Korvane.exe started beside DLLs with system names, each a copy of the
# marker DLL, which leaves a file when its code runs. The DLL is built by the
# same toolchain as the program, so it fits the program's architecture.
add_library(marker_dll SHARED tests/marker_dll.cpp)
set_target_properties(marker_dll PROPERTIES PREFIX "")
korvane_wine_test(planted_dll_test tests/dialog_driver.cpp tests/test_files.cpp
                  tests/riff_builder.cpp)
add_dependencies(planted_dll_test Korvane marker_dll)
target_link_libraries(planted_dll_test korvane_app gtest)

# Directory links back up the tree and across to another folder, for the
# folder search.
add_test(NAME make_link_loop
         COMMAND sh ${CMAKE_SOURCE_DIR}/tests/make_link_loop.sh ${CMAKE_BINARY_DIR}/link-loop)
set_tests_properties(make_link_loop PROPERTIES FIXTURES_SETUP korvane_link_loop)
set_tests_properties(entry_list_test PROPERTIES FIXTURES_REQUIRED korvane_link_loop)

# Static checks of the built program (label "static"); they run no Windows
# code, so they run on every machine, whichever Wine it has.
find_program(OBJDUMP NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-objdump objdump)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(PE_FORMAT pei-x86-64)
else()
  set(PE_FORMAT pei-i386)
endif()
add_test(NAME program_imports
         COMMAND sh ${CMAKE_SOURCE_DIR}/tests/check_imports.sh ${OBJDUMP} $<TARGET_FILE:Korvane>
                 ${PE_FORMAT})
set_tests_properties(program_imports PROPERTIES LABELS static)

# The program users get (the 32-bit one) is built once more from a copy of
# the sources in another folder and must come out the same bytes; and its
# archive is checked.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  file(RELATIVE_PATH TOOLCHAIN_IN_TREE ${CMAKE_SOURCE_DIR} ${CMAKE_TOOLCHAIN_FILE})
  add_test(NAME reproducible_build
           COMMAND sh ${CMAKE_SOURCE_DIR}/tests/check_reproducible.sh ${CMAKE_SOURCE_DIR}
                   $<TARGET_FILE:Korvane> ${TOOLCHAIN_IN_TREE} "${CMAKE_GENERATOR}" ${CMAKE_BUILD_TYPE})
  set_tests_properties(reproducible_build PROPERTIES LABELS static)
  # The archive handed to users: scripts/package.sh run twice.
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME package
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/check_package.py
                   ${CMAKE_SOURCE_DIR} $<TARGET_FILE:Korvane>)
  set_tests_properties(package PROPERTIES LABELS static)
endif()

# The scene of the README's picture of the window (scripts/screenshot.sh).
add_executable(screenshot_scene tests/screenshot_scene.cpp tests/dialog_driver.cpp
                                tests/test_files.cpp tests/riff_builder.cpp ${RESOURCE_OBJECT})
add_dependencies(screenshot_scene korvane_resources)
target_include_directories(screenshot_scene PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(screenshot_scene korvane_app)

# ---- benchmarks (built, not run by the test suite) ----
add_executable(bench_convert bench/bench_convert.cpp)
target_link_libraries(bench_convert korvane_core psapi)
add_executable(bench_memory bench/bench_memory.cpp)
target_link_libraries(bench_memory korvane_core psapi)
add_executable(bench_check bench/bench_check.cpp)
target_link_libraries(bench_check korvane_core)
foreach(name bench_drop bench_run)
  add_executable(${name} bench/${name}.cpp tests/dialog_driver.cpp tests/test_files.cpp
                         tests/riff_builder.cpp ${RESOURCE_OBJECT})
  add_dependencies(${name} korvane_resources)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} korvane_app)
endforeach()
