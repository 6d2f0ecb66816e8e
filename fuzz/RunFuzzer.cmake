# SPDX-License-Identifier: GPL-3.0-or-later
# Runs one libFuzzer target for a bounded time over a scratch copy of its checked-in seeds, so the
# checked-in corpus never changes. A crash, sanitizer report, leak, timeout or out-of-memory fails
# the test; the input that caused it is kept in WORK/findings/.
#   cmake -DFUZZER=EXE -DSEEDS=DIR -DWORK=DIR -DSECONDS=N -P fuzz/RunFuzzer.cmake
file(REMOVE_RECURSE ${WORK}/corpus)
file(COPY ${SEEDS}/ DESTINATION ${WORK}/corpus)
file(MAKE_DIRECTORY ${WORK}/findings)
file(GLOB seeds ${WORK}/corpus/*)
list(LENGTH seeds count)
message("${FUZZER}: ${SECONDS} s over ${count} seeds")
# -timeout: one input may take at most 10 s; a hang is a finding like a crash.
execute_process(COMMAND ${FUZZER} -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
                        -artifact_prefix=${WORK}/findings/ ${WORK}/corpus
                WORKING_DIRECTORY ${WORK}/findings RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${FUZZER} ended with '${status}'; the input that did it is in ${WORK}/findings/")
endif()
