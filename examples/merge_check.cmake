# Merges the example pair with OPTIONS into OUTPUT and checks what tandemo-merge
# says: success, the second portion's 8 injections appended after the first's 10,
# a DP offset when compensating, and nothing on standard error: the two headers
# agree in everything that is compared.
cmake_minimum_required(VERSION 3.22)
file(REMOVE ${OUTPUT})
execute_process(COMMAND ${MERGE} ${OPTIONS} -o ${OUTPUT} ${SOURCE_DIR}/portion1.itc ${SOURCE_DIR}/portion2.itc
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
message(STATUS "tandemo-merge ${OPTIONS}: ${out}${err}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "tandemo-merge exited with ${rc}")
endif()
if(NOT out MATCHES "8 injections appended \\(numbered 11 to 18\\)")
  message(FATAL_ERROR "unexpected summary")
endif()
if("--compensate" IN_LIST OPTIONS AND NOT out MATCHES "DP offset 0\\.[34]")
  message(FATAL_ERROR "the reload offset of about 0.4 ucal/s was not compensated")
endif()
if(NOT err STREQUAL "")
  message(FATAL_ERROR "tandemo-merge remarked on the pair")
endif()
if(NOT EXISTS ${OUTPUT})
  message(FATAL_ERROR "${OUTPUT} was not written")
endif()
