# Cross-builds Portwick for 64-bit Windows with Debian's MinGW-w64 (posix
# threads) and runs the built programs (tests, test discovery) under Wine.
#   cmake -S . -B build/windows -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PORTWICK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PORTWICK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PORTWICK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${PORTWICK_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${PORTWICK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ runtime, libgcc and winpthread linked in, so the programs need no
# DLL beyond the system's.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Windows 10 APIs (CancelIoEx, WSAPoll, CreateFile2, ...).
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 UNICODE _UNICODE NOMINMAX
                        WIN32_LEAN_AND_MEAN)

# ctest and gtest_discover_tests run the .exe files through Wine, with one
# Wine prefix per build folder (made on first use).
set(CMAKE_CROSSCOMPILING_EMULATOR
    /usr/bin/env PORTWICK_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
    ${CMAKE_CURRENT_LIST_DIR}/../../scripts/wine_run.sh)
