# Runs the unwrapping fuzzer for a bounded time over a fresh copy of the seed
# corpus; any crash, sanitizer report or disagreement fails the test.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(GLOB seeds ${SEEDS}/*)
file(COPY ${seeds} DESTINATION ${WORK})
execute_process(COMMAND ${FUZZER} -max_total_time=${SECONDS} -max_len=4096 -print_final_stats=1
                        -artifact_prefix=${WORK}/ ${WORK}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "fuzzer failed with ${result}")
endif()
