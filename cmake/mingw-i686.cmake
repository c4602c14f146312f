# Cross-compiles Tarvex as a 32-bit Windows program (Tarvex.exe) with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
set(TARVEX_WINE_ARCH 32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
