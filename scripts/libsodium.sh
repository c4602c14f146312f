#!/usr/bin/env bash
# Builds libsodium (the signature and hash functions the update client checks answers and downloads with)
# as a static mingw-w64 library from Debian's source package, for each processor named (i686, x86_64), into
# third_party/<processor>/libsodium (kept out of git). The source is unpacked and its configure script made
# once; the processors' builds then run side by side, so that the machine's processors all work also while
# the configure scripts run (one process each).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/source-package.sh"
missing=($(tarvex_missing_builds libsodium libsodium.a sodium.h "$@")) || exit 2
[ ${#missing[@]} -gt 0 ] || exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
src=$(tarvex_unpack_source libsodium "$work")
echo "libsodium: building the static library for mingw-w64 ${missing[*]} (a minute or two)"
# The source package carries no generated configure script.
(cd "$src" && ./autogen.sh -s >"$work/autogen.log" 2>&1) || { tail -30 "$work/autogen.log" >&2; exit 1; }

# One processor's build in a folder of its own; its logs are shown when it fails.
build() {
    local arch=$1 host=$1-w64-mingw32 prefix="$root/third_party/$1/libsodium" dir="$work/build-$1" symbols symbol
    mkdir -p "$dir"
    # The posix-thread flavour of the compiler, as the programs use (cmake/mingw-*.cmake). Only what the
    # update client calls: the minimal library keeps Ed25519 signatures, SHA-256 and the codecs and leaves
    # out the rest; the library alone is built, not its tests.
    (cd "$dir" && CC=$host-gcc-posix AR=$host-ar RANLIB=$host-ranlib CFLAGS="-O2" \
        "$src/configure" --host="$host" --prefix="$prefix" --disable-shared --enable-static --disable-pie \
        --disable-ssp --with-pic=no --enable-minimal --disable-dependency-tracking \
        >"$dir/configure.log" 2>&1) || { tail -30 "$dir/configure.log" >&2; return 1; }
    make -C "$dir/src/libsodium" -j"$(nproc)" >"$dir/build.log" 2>&1 || { tail -30 "$dir/build.log" >&2; return 1; }
    make -C "$dir/src/libsodium" install >"$dir/install.log" 2>&1 || { tail -30 "$dir/install.log" >&2; return 1; }
    # What the update client calls must be there (the minimal configuration of another version could drop
    # it).
    symbols=$($host-nm -g --defined-only "$prefix/lib/libsodium.a" 2>/dev/null || true)
    for symbol in sodium_init crypto_sign_verify_detached crypto_sign_ed25519_verify_detached \
        crypto_hash_sha256_init crypto_hash_sha256_update crypto_hash_sha256_final sodium_base642bin \
        sodium_bin2hex; do
        grep -qE " T _?$symbol\$" <<<"$symbols" ||
            { echo "libsodium: the $arch library built has no $symbol" >&2; rm -rf "$prefix"; return 1; }
    done
}
tarvex_build_each build "${missing[@]}"
