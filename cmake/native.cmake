# Native build of the platform-free unwrapping code, with sanitizers.
set(SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
set(FUZZ_SECONDS 60 CACHE STRING "How long the fuzzer runs in the test suite")

add_compile_options(-Wall -Wextra -g)

add_library(unwrap_san STATIC core/unwrap.cpp)
target_include_directories(unwrap_san PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(unwrap_san PUBLIC ${SANITIZE_FLAGS})
target_link_options(unwrap_san PUBLIC ${SANITIZE_FLAGS})

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} googletest EXCLUDE_FROM_ALL)

add_executable(unwrap_test tests/unwrap_test.cpp tests/riff_builder.cpp)
target_link_libraries(unwrap_test unwrap_san gtest_main)
add_test(NAME unwrap_test_native COMMAND unwrap_test)

# The fuzzer links its own copy of the parser, instrumented for coverage.
add_executable(fuzz_unwrap tests/fuzz_unwrap.cpp core/unwrap.cpp)
target_include_directories(fuzz_unwrap PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(fuzz_unwrap PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)
target_link_options(fuzz_unwrap PRIVATE -fsanitize=fuzzer,address,undefined)
add_test(NAME fuzz_unwrap
         COMMAND ${CMAKE_COMMAND} -DFUZZER=$<TARGET_FILE:fuzz_unwrap>
                 -DSEEDS=${CMAKE_SOURCE_DIR}/tests/fuzz_seeds
                 -DWORK=${CMAKE_BINARY_DIR}/fuzz_corpus -DSECONDS=${FUZZ_SECONDS}
                 -P ${CMAKE_SOURCE_DIR}/tests/run_fuzzer.cmake)

# The benchmark measures the shipped code, so it is optimised and unsanitized.
add_executable(bench_unwrap bench/bench_unwrap.cpp core/unwrap.cpp)
target_include_directories(bench_unwrap PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(bench_unwrap PRIVATE -O2)
