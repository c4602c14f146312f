#!/usr/bin/env bash
# Builds libzip (with zlib) as a static mingw-w64 library from Debian's source package, once per processor
# (i686 or x86_64, the first argument), into third_party/<processor>/libzip (kept out of git). Adds a deb-src
# entry for bookworm main when there is none, with the URI of the machine's own Debian entry.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:?libzip.sh i686|x86_64}
case "$arch" in i686 | x86_64) ;; *) echo "libzip: no toolchain for '$arch'" >&2; exit 2 ;; esac
prefix="$root/third_party/$arch/libzip"
[ -f "$prefix/lib/libzip.a" ] && [ -f "$prefix/include/zip.h" ] && exit 0

sudo_=""
[ "$(id -u)" = 0 ] || sudo_=sudo
if ! grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    # The URI of the first active Debian entry (one-line or deb822 form), not the security archive's.
    uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
        awk '/^URIs:/ {print $2} /^deb / {print ($2 ~ /^\[/ ? $3 : $2)}' | grep -v security | sed -n 1p || true)
    if [ -z "$uri" ]; then
        echo "libzip: this machine has no Debian package source to take the source package from." >&2
        echo "        Add the Debian archive you use to /etc/apt/sources.list.d/ (a 'Types: deb deb-src' entry for" >&2
        echo "        bookworm main), run 'apt-get update' and start again." >&2
        exit 1
    fi
    echo "libzip: adding a deb-src entry for $uri bookworm main"
    printf 'Types: deb-src\nURIs: %s\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        "$uri" | $sudo_ tee /etc/apt/sources.list.d/tarvex-src.sources >/dev/null
    $sudo_ apt-get update -q >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "libzip: building the static library for mingw-w64 $arch (about half a minute)"
(cd "$work" && apt-get source --download-only -q libzip >/dev/null 2>&1) ||
    { echo "libzip: apt-get source libzip failed" >&2; exit 1; }
tar -xf "$work"/libzip_*.orig.tar.* -C "$work"
src=$(find "$work" -maxdepth 1 -type d -name 'libzip-*' | head -n 1)
cmake -S "$src" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_SHARED_LIBS=OFF -DENABLE_COMMONCRYPTO=OFF -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF -DENABLE_OPENSSL=OFF \
    -DENABLE_WINDOWS_CRYPTO=OFF -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF -DBUILD_TOOLS=OFF \
    -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DZLIB_LIBRARY=/usr/$arch-w64-mingw32/lib/libz.a -DZLIB_INCLUDE_DIR=/usr/$arch-w64-mingw32/include >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log" >&2; exit 1; }
cmake --build "$work/build" -j"$(nproc)" >"$work/build.log" 2>&1 || { tail -30 "$work/build.log" >&2; exit 1; }
cmake --install "$work/build" >/dev/null
