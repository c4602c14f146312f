# Sourced by the library build scripts: Debian's source package of a library, unpacked into a folder.
# Adds a deb-src entry for bookworm main when the machine has none, with the URI of the machine's own Debian
# entry; a machine with no Debian entry at all is told what to add.

# tarvex_source_entry NAME: makes sure apt has a deb-src entry (NAME names the caller in messages). The set-up
# calls it before building the libraries side by side, so that only one of them touches apt's lists.
tarvex_source_entry() {
    local name=$1 sudo_="" uri
    [ "$(id -u)" = 0 ] || sudo_=sudo
    if ! grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        # The URI of the first active Debian entry (one-line or deb822 form), not the security archive's.
        uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
            awk '/^URIs:/ {print $2} /^deb / {print ($2 ~ /^\[/ ? $3 : $2)}' | grep -v security | sed -n 1p || true)
        if [ -z "$uri" ]; then
            echo "$name: this machine has no Debian package source to take the source package from." >&2
            echo "        Add the Debian archive you use to /etc/apt/sources.list.d/ (a 'Types: deb deb-src' entry for" >&2
            echo "        bookworm main), run 'apt-get update' and start again." >&2
            return 1
        fi
        echo "$name: adding a deb-src entry for $uri bookworm main" >&2
        printf 'Types: deb-src\nURIs: %s\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
            "$uri" | $sudo_ tee /etc/apt/sources.list.d/tarvex-src.sources >/dev/null
        # A mirror in the middle of a sync fails an unrelated index now and then; the source index is what
        # counts here, and apt-get source says so when it is missing.
        $sudo_ apt-get update -q >/dev/null || true
    fi
}

# tarvex_unpack_source NAME WORK: unpacks source package NAME into WORK and prints the source folder.
tarvex_unpack_source() {
    local name=$1 work=$2
    tarvex_source_entry "$name" || return 1
    (cd "$work" && apt-get source --download-only -q "$name" >/dev/null 2>&1) ||
        { echo "$name: apt-get source $name failed" >&2; return 1; }
    tar -xf "$work"/"$name"_*.orig.tar.* -C "$work" || return 1
    find "$work" -maxdepth 1 -type d -name "$name-*" | head -n 1
}

# tarvex_missing_builds NAME LIBRARY HEADER PROCESSOR...: prints the processors (i686, x86_64) whose
# third_party/<processor>/NAME lacks lib/LIBRARY or include/HEADER; fails on a processor without a toolchain.
tarvex_missing_builds() {
    local name=$1 library=$2 header=$3 arch prefix
    shift 3
    [ $# -gt 0 ] || { echo "usage: $name.sh i686|x86_64 ..." >&2; return 2; }
    for arch in "$@"; do
        case "$arch" in i686 | x86_64) ;; *) echo "$name: no toolchain for '$arch'" >&2; return 2 ;; esac
        prefix="$root/third_party/$arch/$name"
        [ -f "$prefix/lib/$library" ] && [ -f "$prefix/include/$header" ] || echo "$arch"
    done
}

# tarvex_build_each FUNCTION PROCESSOR...: runs FUNCTION for every processor side by side; fails when one does.
tarvex_build_each() {
    local function=$1 pids=() pid status=0 arch
    shift
    for arch in "$@"; do
        "$function" "$arch" &
        pids+=($!)
    done
    for pid in "${pids[@]}"; do wait "$pid" || status=1; done
    return "$status"
}
