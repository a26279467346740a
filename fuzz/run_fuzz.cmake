# cmake -DFUZZER=<harness> -DWORK=<dir> -DSECONDS=<n> -P run_fuzz.cmake
# Writes the harness's seed corpus, then fuzzes for a bounded time with a fixed
# random seed (a CI failure can be replayed the same way). Crash
# inputs land in WORK as crash-*/leak-*/timeout-* files.
file(REMOVE_RECURSE ${WORK}/seeds)
file(MAKE_DIRECTORY ${WORK}/seeds ${WORK}/corpus)
execute_process(COMMAND ${CMAKE_COMMAND} -E env TWXML_FUZZ_WRITE_SEEDS=${WORK}/seeds ${FUZZER}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "writing the seed corpus failed: ${rc}")
endif()
execute_process(
  COMMAND ${FUZZER} -seed=1 -max_total_time=${SECONDS} -rss_limit_mb=2048 -timeout=20
          -max_len=65536 -print_final_stats=1 -artifact_prefix=${WORK}/
          ${WORK}/corpus ${WORK}/seeds
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "fuzzing found a failure (exit ${rc}); inputs are in ${WORK}")
endif()
