# Warnings and sanitizers for every target of the project.
function(tandemo_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wconversion -Wsign-conversion -Wshadow)
  if(TANDEMO_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=${TANDEMO_SANITIZE} -fno-omit-frame-pointer
                                             -fno-sanitize-recover=all)
    target_link_options(${target} PRIVATE -fsanitize=${TANDEMO_SANITIZE})
  endif()
endfunction()
