# One helper to add a GoogleTest program and register its cases with CTest.
#   tandemo_add_gtest(NAME SOURCES a.cpp b.cpp [LIBS lib...] [LABELS l...])
# A cross build compiles GoogleTest from its sources (Debian: /usr/src/googletest),
# since the system's libraries are built for the machine that builds.
set(TANDEMO_GTEST_SOURCE_DIR "" CACHE PATH "GoogleTest sources to build instead of the installed libraries")
if(TANDEMO_GTEST_SOURCE_DIR)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${TANDEMO_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
  find_package(GTest REQUIRED)
endif()
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
