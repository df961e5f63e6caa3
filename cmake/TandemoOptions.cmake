# Warnings, sanitizers and fuzzing instrumentation for every target of the project.
include(CheckCXXSourceCompiles)

# libFuzzer: with TANDEMO_FUZZ on and a compiler that links libFuzzer programs (clang,
# as the asan and fuzz presets choose), every target is built with the coverage
# instrumentation libFuzzer steers by, and tests/fuzz links the fuzz target with
# libFuzzer. Otherwise the fuzz target is a program that replays its inputs.
set(TANDEMO_LIBFUZZER OFF)
if(TANDEMO_FUZZ)
  set(CMAKE_REQUIRED_FLAGS -fsanitize=fuzzer)
  check_cxx_source_compiles([[
    #include <cstddef>
    #include <cstdint>
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }
  ]] TANDEMO_COMPILER_LINKS_LIBFUZZER)
  unset(CMAKE_REQUIRED_FLAGS)
  if(TANDEMO_COMPILER_LINKS_LIBFUZZER)
    set(TANDEMO_LIBFUZZER ON)
  else()
    message(STATUS "${CMAKE_CXX_COMPILER} cannot link a libFuzzer program: the fuzz target only "
                   "replays its corpus (configure with the fuzz preset for clang)")
  endif()
endif()

function(tandemo_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wconversion -Wsign-conversion -Wshadow)
  if(TANDEMO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  set(sanitizers ${TANDEMO_SANITIZE})
  if(TANDEMO_LIBFUZZER)
    list(APPEND sanitizers fuzzer-no-link)
  endif()
  if(sanitizers)
    list(JOIN sanitizers "," sanitizers)
    target_compile_options(${target} PRIVATE -fsanitize=${sanitizers} -fno-omit-frame-pointer
                                             -fno-sanitize-recover=all)
    target_link_options(${target} PRIVATE -fsanitize=${sanitizers})
  endif()
endfunction()
