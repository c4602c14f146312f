#!/usr/bin/env bash
# Builds libzip (with zlib) as a static mingw-w64 library from Debian's source package, once per processor
# (i686 or x86_64, the first argument), into third_party/<processor>/libzip (kept out of git).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:?libzip.sh i686|x86_64}
case "$arch" in i686 | x86_64) ;; *) echo "libzip: no toolchain for '$arch'" >&2; exit 2 ;; esac
prefix="$root/third_party/$arch/libzip"
[ -f "$prefix/lib/libzip.a" ] && [ -f "$prefix/include/zip.h" ] && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$root/scripts/source-package.sh"
src=$(tarvex_unpack_source libzip "$work")
echo "libzip: building the static library for mingw-w64 $arch (about half a minute)"
cmake -S "$src" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_SHARED_LIBS=OFF -DENABLE_COMMONCRYPTO=OFF -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF -DENABLE_OPENSSL=OFF \
    -DENABLE_WINDOWS_CRYPTO=OFF -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF -DBUILD_TOOLS=OFF \
    -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DZLIB_LIBRARY=/usr/$arch-w64-mingw32/lib/libz.a -DZLIB_INCLUDE_DIR=/usr/$arch-w64-mingw32/include >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log" >&2; exit 1; }
cmake --build "$work/build" --target zip -j"$(nproc)" >"$work/build.log" 2>&1 || { tail -30 "$work/build.log" >&2; exit 1; }
cmake --install "$work/build" >/dev/null
