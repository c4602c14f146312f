#!/usr/bin/env bash
# Configures (once) and builds Tarvex, its tests and benchmarks with the mingw-w64 toolchains: the 64-bit
# Tarvex64.exe into build64/ and the 32-bit Tarvex.exe into build/. TARVEX_ARCHS (default "64 32") names
# which; further arguments go to cmake --build (e.g. --target Tarvex).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/env.sh"
for arch in ${TARVEX_ARCHS:-64 32}; do
    case "$arch" in
    64) dir=$TARVEX_BUILD64 toolchain=mingw-x86_64 ;;
    32) dir=$TARVEX_BUILD toolchain=mingw-i686 ;;
    *) echo "build: TARVEX_ARCHS takes 32 and 64, not '$arch'" >&2; exit 2 ;;
    esac
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" \
            -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    cmake --build "$dir" -j"$(nproc)" "$@"
done
