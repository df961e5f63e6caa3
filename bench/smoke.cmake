# Runs tandemo-bench on a 1 MB pair in an empty WORK_DIR: it must print its table
# and leave the folder empty again.
cmake_minimum_required(VERSION 3.22)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
execute_process(COMMAND ${BENCH} --mb 1 --repeat 1 --dir ${WORK_DIR}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
message(STATUS "${out}${err}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "tandemo-bench exited with ${rc}")
endif()
foreach(row "plain copy" "merge \\(engine\\)" "merge --compensate \\(engine\\)"
            "tandemo-merge --compensate")
  if(NOT out MATCHES "${row} [^\n]*[0-9]")
    message(FATAL_ERROR "no figure for: ${row}")
  endif()
endforeach()
file(GLOB left ${WORK_DIR}/*)
if(left)
  message(FATAL_ERROR "tandemo-bench left files behind: ${left}")
endif()
