# Product target: 32-bit Windows, posix thread model, static runtime; its tests run under 32-bit Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MORIX_TOOLCHAIN_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# ctest and test discovery run Windows programs through this wrapper with the 32-bit loader, each build
# tree in a WoW64 prefix of its own.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env "WINE_TEST_PREFIX=${CMAKE_BINARY_DIR}/wineprefix" WINE_TEST_BITS=32
    ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
