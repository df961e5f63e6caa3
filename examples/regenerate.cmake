# Runs the generator command of README.md into WORK_DIR and compares the result
# byte for byte with the example files in SOURCE_DIR.
cmake_minimum_required(VERSION 3.22)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
file(READ ${SOURCE_DIR}/README.md readme)
# The command stands on its own line in the README, after "tandemo-itcgen".
string(REGEX MATCH "tandemo-itcgen ([^\n]*) examples/portion1.itc examples/portion2.itc" found "${readme}")
if(NOT found)
  message(FATAL_ERROR "README.md holds no tandemo-itcgen command for the example pair")
endif()
separate_arguments(options UNIX_COMMAND "${CMAKE_MATCH_1}")
execute_process(COMMAND ${GENERATOR} ${options} ${WORK_DIR}/portion1.itc ${WORK_DIR}/portion2.itc
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "tandemo-itcgen failed: ${rc}")
endif()
foreach(name portion1.itc portion2.itc)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${SOURCE_DIR}/${name} ${WORK_DIR}/${name}
                  RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    message(FATAL_ERROR "examples/${name} is not what the README's command writes; "
                        "regenerate it with that command")
  endif()
endforeach()
message(STATUS "the example pair is what the README's command writes")
