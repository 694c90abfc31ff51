# Warnings for Portwick's own targets only (not for GoogleTest built from source).
# Under clang the thread-safety analysis checks the GUARDED_BY and
# EXCLUSIVE_LOCKS_REQUIRED annotations on base/mutex.h's Mutex.
function(portwick_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wconversion -Wshadow
                                           -Wold-style-cast)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    # clang's -Wconversion also warns on sign changes, which g++'s does not
    # in C++; both compilers check the same set.
    target_compile_options(${target} PRIVATE -Wthread-safety -Wno-sign-conversion)
  endif()
  if(MINGW)
    # GCC 12's -Wrestrict misfires inside MinGW's libstdc++ string code
    # (std::string appends in tests); nothing of ours is involved.
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  if(PORTWICK_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
