#!/usr/bin/env bash
# Builds libzip (with zlib) as a static mingw-w64 library from Debian's source package, for each processor
# named (i686, x86_64), into third_party/<processor>/libzip (kept out of git). The source is unpacked once;
# the processors' builds run side by side, their configure steps (one process each) included.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/source-package.sh"
missing=($(tarvex_missing_builds libzip libzip.a zip.h "$@")) || exit 2
[ ${#missing[@]} -gt 0 ] || exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
src=$(tarvex_unpack_source libzip "$work")
echo "libzip: building the static library for mingw-w64 ${missing[*]} (about half a minute)"

# One processor's build; only what Tarvex uses (no encryption, no other compressions, no tools).
build() {
    local arch=$1 prefix="$root/third_party/$1/libzip" dir="$work/build-$1"
    cmake -S "$src" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release \
        -DBUILD_SHARED_LIBS=OFF -DENABLE_COMMONCRYPTO=OFF -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF \
        -DENABLE_OPENSSL=OFF -DENABLE_WINDOWS_CRYPTO=OFF -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF \
        -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DZLIB_LIBRARY=/usr/$arch-w64-mingw32/lib/libz.a -DZLIB_INCLUDE_DIR=/usr/$arch-w64-mingw32/include \
        >"$work/configure-$arch.log" 2>&1 || { cat "$work/configure-$arch.log" >&2; return 1; }
    cmake --build "$dir" --target zip -j"$(nproc)" >"$work/build-$arch.log" 2>&1 ||
        { tail -30 "$work/build-$arch.log" >&2; return 1; }
    cmake --install "$dir" >/dev/null
}
tarvex_build_each build "${missing[@]}"
