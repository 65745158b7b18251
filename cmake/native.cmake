# Native build of the platform-free unwrapping and tag code, with sanitizers.
set(SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
set(FUZZ_SECONDS 60 CACHE STRING "How long the fuzzer runs in the test suite")

add_compile_options(-Wall -Wextra -g)

add_library(unwrap_san STATIC core/unwrap.cpp)
target_include_directories(unwrap_san PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(unwrap_san PUBLIC ${SANITIZE_FLAGS})
target_link_options(unwrap_san PUBLIC ${SANITIZE_FLAGS})

# The search for the tags a RIFF keeps, beside the unwrapping it relies on.
add_library(riff_tags_san STATIC core/riff_tags.cpp)
target_link_libraries(riff_tags_san PUBLIC unwrap_san)

# The streamed conversion, beside the loaded-buffer routines it must match.
add_library(stream_san STATIC core/stream.cpp)
target_link_libraries(stream_san PUBLIC riff_tags_san)

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} googletest EXCLUDE_FROM_ALL)

add_executable(unwrap_test tests/unwrap_test.cpp tests/riff_builder.cpp)
target_link_libraries(unwrap_test unwrap_san gtest_main)
add_test(NAME unwrap_test_native COMMAND unwrap_test)

# The check that reads only a file's head, against NeedsConversion on the
# whole file.
add_executable(head_check_test tests/head_check_test.cpp tests/riff_builder.cpp)
target_link_libraries(head_check_test unwrap_san gtest_main)
add_test(NAME head_check_test COMMAND head_check_test)
set_tests_properties(head_check_test PROPERTIES
  ENVIRONMENT "KORVANE_FUZZ_SEEDS=${CMAKE_SOURCE_DIR}/tests/fuzz_seeds")

# The tag search's test decodes code page 932 through iconv, as Japanese
# Windows would.
add_executable(riff_tags_test tests/riff_tags_test.cpp tests/riff_builder.cpp)
target_link_libraries(riff_tags_test riff_tags_san gtest_main)
add_test(NAME riff_tags_test COMMAND riff_tags_test)

# The streamed conversion against UnwrapRiff and FindRiffTags on the loaded
# file, through reads that come up short and fail on request.
add_executable(stream_test tests/stream_test.cpp tests/riff_builder.cpp)
target_link_libraries(stream_test stream_san gtest_main)
add_test(NAME stream_test COMMAND stream_test)
set_tests_properties(stream_test PROPERTIES
  ENVIRONMENT "KORVANE_FUZZ_SEEDS=${CMAKE_SOURCE_DIR}/tests/fuzz_seeds;KORVANE_FUZZ_SEEDS_TAGS=${CMAKE_SOURCE_DIR}/tests/fuzz_seeds_tags")

# Each fuzzer links its own copy of the code it feeds, instrumented for
# coverage, and runs for a bounded time over a fresh copy of its seeds.
function(korvane_fuzzer name seeds seconds)
  add_executable(${name} tests/${name}.cpp ${ARGN})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  add_test(NAME ${name}
           COMMAND ${CMAKE_COMMAND} -DFUZZER=$<TARGET_FILE:${name}>
                   -DSEEDS=${CMAKE_SOURCE_DIR}/tests/${seeds}
                   -DWORK=${CMAKE_BINARY_DIR}/${name}_corpus -DSECONDS=${seconds}
                   -P ${CMAKE_SOURCE_DIR}/tests/run_fuzzer.cmake)
endfunction()

korvane_fuzzer(fuzz_unwrap fuzz_seeds ${FUZZ_SECONDS} core/unwrap.cpp)

# The head check beside it, for a shorter time: its input is only a head.
set(FUZZ_HEAD_SECONDS 20 CACHE STRING "How long the head check's fuzzer runs in the test suite")
korvane_fuzzer(fuzz_head fuzz_seeds ${FUZZ_HEAD_SECONDS} core/unwrap.cpp)

# The tag search, with seeds of its own: INFO lists, id3 and cart chunks.
set(FUZZ_TAGS_SECONDS 30 CACHE STRING "How long the tag search's fuzzer runs in the test suite")
korvane_fuzzer(fuzz_riff_tags fuzz_seeds_tags ${FUZZ_TAGS_SECONDS} core/riff_tags.cpp core/unwrap.cpp)

# The streamed conversion against the loaded-buffer routines.
set(FUZZ_STREAM_SECONDS 20 CACHE STRING "How long the streamed conversion's fuzzer runs in the test suite")
korvane_fuzzer(fuzz_stream fuzz_seeds ${FUZZ_STREAM_SECONDS} core/stream.cpp core/riff_tags.cpp
               core/unwrap.cpp)

# The benchmark measures the shipped code, so it is optimised and unsanitized.
add_executable(bench_unwrap bench/bench_unwrap.cpp core/unwrap.cpp)
target_include_directories(bench_unwrap PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(bench_unwrap PRIVATE -O2)
