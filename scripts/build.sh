#!/usr/bin/env bash
# Configures (once) and builds Tarvex, its tests and benchmarks with the mingw-w64 toolchain.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/env.sh"
if [ ! -f "$TARVEX_BUILD/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$TARVEX_BUILD" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$TARVEX_BUILD" -j"$(nproc)" "$@"
