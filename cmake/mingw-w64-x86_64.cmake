# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (package
# g++-mingw-w64-x86-64-posix: the thread model GoogleTest and std::thread need).
# Programs are linked statically, so that they run under Wine or on Windows
# without the compiler's DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TANDEMO_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${TANDEMO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TANDEMO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TANDEMO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TANDEMO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
