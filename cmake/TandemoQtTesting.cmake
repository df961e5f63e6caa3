# One helper to add a Qt Test program of the desktop program and register it with
# CTest. The windows run on Qt's offscreen platform, so no display is needed.
#   tandemo_add_qt_test(NAME SOURCES a.cpp b.cpp [LIBS lib...] [LABELS l...])
find_package(Qt6 REQUIRED COMPONENTS Test Widgets)

function(tandemo_add_qt_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE ${T_LIBS} Qt6::Test Qt6::Widgets)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  tandemo_target_defaults(${name})
  set(labels ${T_LABELS})
  if(NOT labels)
    set(labels ui)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    LABELS "${labels}"
    TIMEOUT 120
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
