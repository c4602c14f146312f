#!/usr/bin/env bash
# Builds libsodium (the signature and hash functions the update client checks answers and downloads with)
# as a static mingw-w64 library from Debian's source package, once per processor (i686 or x86_64, the first
# argument), into third_party/<processor>/libsodium (kept out of git).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:?libsodium.sh i686|x86_64}
case "$arch" in i686 | x86_64) ;; *) echo "libsodium: no toolchain for '$arch'" >&2; exit 2 ;; esac
prefix="$root/third_party/$arch/libsodium"
[ -f "$prefix/lib/libsodium.a" ] && [ -f "$prefix/include/sodium.h" ] && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$root/scripts/source-package.sh"
src=$(tarvex_unpack_source libsodium "$work")
echo "libsodium: building the static library for mingw-w64 $arch (about a minute)"
# The posix-thread flavour of the compiler, as the programs use (cmake/mingw-*.cmake).
host=$arch-w64-mingw32
# The source package carries no generated configure script.
(cd "$src" && ./autogen.sh -s >"$work/autogen.log" 2>&1) || { tail -30 "$work/autogen.log" >&2; exit 1; }
# Only what the update client calls: the minimal library keeps Ed25519 signatures, SHA-256 and the codecs
# and leaves out the rest (and the library alone is built, not its tests).
(cd "$src" && CC=$host-gcc-posix AR=$host-ar RANLIB=$host-ranlib CFLAGS="-O2" \
    ./configure --host="$host" --prefix="$prefix" --disable-shared --enable-static --disable-pie \
    --disable-ssp --with-pic=no --enable-minimal --disable-dependency-tracking \
    >"$work/configure.log" 2>&1) || { tail -30 "$work/configure.log" >&2; exit 1; }
make -C "$src/src/libsodium" -j"$(nproc)" >"$work/build.log" 2>&1 || { tail -30 "$work/build.log" >&2; exit 1; }
make -C "$src/src/libsodium" install >"$work/install.log" 2>&1 || { tail -30 "$work/install.log" >&2; exit 1; }
# What the update client calls must be there (the minimal configuration of another version could drop it).
symbols=$($host-nm -g --defined-only "$prefix/lib/libsodium.a" 2>/dev/null || true)
for symbol in sodium_init crypto_sign_verify_detached crypto_sign_ed25519_verify_detached \
    crypto_hash_sha256_init crypto_hash_sha256_update crypto_hash_sha256_final sodium_base642bin sodium_bin2hex; do
    grep -qE " T _?$symbol\$" <<<"$symbols" ||
        { echo "libsodium: the library built has no $symbol" >&2; rm -rf "$prefix"; exit 1; }
done
