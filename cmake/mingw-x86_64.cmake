# Test target: the same code for 64-bit Windows; its tests run under wine64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MORIX_TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# ctest and test discovery run Windows programs through this wrapper, each build tree in a prefix of its own.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env "WINE_TEST_PREFIX=${CMAKE_BINARY_DIR}/wineprefix"
    ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
