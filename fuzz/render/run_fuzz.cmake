# Runs the render fuzzer for a bounded time on a scratch copy of the seed corpus, so that the
# inputs it adds never land in the source tree. Crash inputs are left in WORK for inspection.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus)
file(GLOB seeds ${CORPUS}/* ${REGRESSIONS}/*)
file(COPY ${seeds} DESTINATION ${WORK}/corpus)
execute_process(
  COMMAND ${FUZZER} -max_total_time=${SECONDS} -timeout=30 -rss_limit_mb=2048 -print_final_stats=1
          -artifact_prefix=${WORK}/ ${WORK}/corpus
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "fuzz_render found a failing input (exit ${result}); see ${WORK}/")
endif()
