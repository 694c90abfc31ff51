# Warnings for Portwick's own targets only (not for GoogleTest built from source).
function(portwick_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wconversion -Wshadow -Wold-style-cast)
  if(PORTWICK_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
