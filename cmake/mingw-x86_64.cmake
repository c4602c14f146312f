# Cross-compiles Tarvex as a 64-bit Windows program (Tarvex64.exe) with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(TARVEX_WINE_ARCH 64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
