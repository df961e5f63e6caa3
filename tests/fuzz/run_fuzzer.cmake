# Runs FUZZER for RUNS inputs with the dictionary DICT, starting from the seed
# corpus CORPUS. New inputs and any failing input go to WORK_DIR, never into the
# source tree.
cmake_minimum_required(VERSION 3.22)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/corpus ${WORK_DIR}/artifacts)
execute_process(COMMAND ${FUZZER} -runs=${RUNS} -seed=1 -dict=${DICT} -print_final_stats=1
                        -artifact_prefix=${WORK_DIR}/artifacts/
                        ${WORK_DIR}/corpus ${CORPUS}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(GLOB found ${WORK_DIR}/artifacts/*)
  message(FATAL_ERROR "the fuzzer failed (${rc}); input kept: ${found}")
endif()
