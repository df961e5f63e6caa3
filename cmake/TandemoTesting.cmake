# One helper to add a GoogleTest program and register its cases with CTest.
#   tandemo_add_gtest(NAME SOURCES a.cpp b.cpp [LIBS lib...] [LABELS l...])
find_package(GTest REQUIRED)
include(GoogleTest)

# Real instrument files live beside the repository, never in it; tests that read
# them skip when the folder is absent.
set(TANDEMO_SAMPLES_DIR "${PROJECT_SOURCE_DIR}/../shared/itc-samples" CACHE PATH
    "Folder of real ITC files read by some tests")

function(tandemo_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE TANDEMO_SAMPLES_DIR="${TANDEMO_SAMPLES_DIR}")
  tandemo_target_defaults(${name})
  set(labels ${T_LABELS})
  if(NOT labels)
    set(labels unit)
  endif()
  gtest_discover_tests(${name} PROPERTIES LABELS "${labels}" DISCOVERY_TIMEOUT 60)
endfunction()
