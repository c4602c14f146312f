# Sourced by the scripts: where the builds, the Wine prefix and the private X display live, and which Wine
# loaders run the two programs.
root=${root:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export TARVEX_ROOT="$root"
# The 32-bit Tarvex.exe and the 64-bit Tarvex64.exe build in folders of their own.
export TARVEX_BUILD="${TARVEX_BUILD:-$root/build}"
export TARVEX_BUILD64="${TARVEX_BUILD64:-$root/build64}"
export WINEPREFIX="${TARVEX_WINEPREFIX:-$root/.wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export TARVEX_WINE32="${TARVEX_WINE32:-/usr/lib/wine/wine}"
export TARVEX_WINE64="${TARVEX_WINE64:-/usr/lib/wine/wine64}"
# The tests' own display; the run script uses the caller's display when there is one.
export TARVEX_TEST_DISPLAY="${TARVEX_TEST_DISPLAY:-:57}"

# Whether this host executes 32-bit programs: some kernels cannot (no IA32 emulation), and there the
# 32-bit Wine loader fails with "Exec format error" however well wine32 is installed. Asks the loader
# itself, once per shell; the reason lands in TARVEX_NO32_REASON. TARVEX_SIMULATE_NO32=1 makes a host that
# can behave as one that cannot.
tarvex_can_run32() {
    if [ -z "${TARVEX_CAN_RUN32:-}" ]; then
        local answer
        if [ "${TARVEX_SIMULATE_NO32:-0}" = 1 ]; then
            TARVEX_CAN_RUN32=0
            TARVEX_NO32_REASON="TARVEX_SIMULATE_NO32=1 simulates a host that cannot"
        elif [ ! -e "$TARVEX_WINE32" ]; then
            TARVEX_CAN_RUN32=0
            TARVEX_NO32_REASON="$TARVEX_WINE32 is not installed"
        elif answer=$("$TARVEX_WINE32" --version 2>&1 </dev/null); then
            TARVEX_CAN_RUN32=1
            TARVEX_NO32_REASON=""
        else
            TARVEX_CAN_RUN32=0
            TARVEX_NO32_REASON="$TARVEX_WINE32 --version failed: $(printf '%s' "$answer" | tail -n 1 | sed 's/^.*: //')"
        fi
        export TARVEX_CAN_RUN32 TARVEX_NO32_REASON
    fi
    [ "$TARVEX_CAN_RUN32" = 1 ]
}

# The suites the test command runs, in order: "32 64", or "64" alone on a host that cannot execute 32-bit
# programs, after one line on standard output that says the 32-bit suite is left out and why (the test
# command then builds the 32-bit program alone, for the 64-bit suite's checks of it).
tarvex_test_suites() {
    if tarvex_can_run32; then
        echo "32 64"
    else
        echo "test: the 32-bit suite was not run: this host cannot execute 32-bit programs ($TARVEX_NO32_REASON);" \
            "of the 32-bit build only Tarvex.exe was built, none of its test programs"
        echo "64"
    fi
}

# Which program a run or a benchmark uses: TARVEX_ARCH (32 or 64) when set, else the 32-bit Tarvex.exe where
# the host executes it and the 64-bit Tarvex64.exe elsewhere. Sets TARVEX_ARCH, TARVEX_ARCH_BUILD (its build
# folder) and TARVEX_ARCH_EXE (its file name).
tarvex_choose_program() {
    if [ -z "${TARVEX_ARCH:-}" ]; then
        if tarvex_can_run32; then TARVEX_ARCH=32; else TARVEX_ARCH=64; fi
    fi
    case "$TARVEX_ARCH" in
    32) TARVEX_ARCH_BUILD=$TARVEX_BUILD TARVEX_ARCH_EXE=Tarvex.exe ;;
    64) TARVEX_ARCH_BUILD=$TARVEX_BUILD64 TARVEX_ARCH_EXE=Tarvex64.exe ;;
    *)
        echo "TARVEX_ARCH is 32 or 64, not '$TARVEX_ARCH'" >&2
        return 2
        ;;
    esac
    if [ "$TARVEX_ARCH" = 32 ] && ! tarvex_can_run32; then
        echo "the 32-bit program cannot run here: this host cannot execute 32-bit programs ($TARVEX_NO32_REASON)" >&2
        return 2
    fi
    export TARVEX_ARCH TARVEX_ARCH_BUILD TARVEX_ARCH_EXE
}

# Tests and benchmarks talk to loopback only. Wine asks the name server by itself: its WMI fills in the
# DNSHostName of Win32_NetworkAdapterConfiguration by a reverse lookup of each adapter's first address, and
# the machine identifier asks WMI for the adapters. With no attempts allowed the C library's resolver sends
# nothing, and names come from /etc/hosts alone. WinINet honours the proxy variables; the loopback server
# is reached directly.
tarvex_loopback_only() {
    export RES_OPTIONS="attempts:0"
    unset http_proxy https_proxy ftp_proxy all_proxy no_proxy HTTP_PROXY HTTPS_PROXY FTP_PROXY ALL_PROXY NO_PROXY
}

# A free X display in the numbers first..last: the first with neither a lock nor a socket; printed as ":n".
# Fails when every one is taken.
tarvex_free_display() {
    local n
    for n in $(seq "$1" "$2"); do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
            echo ":$n"
            return 0
        fi
    done
    return 1
}

# Sets one of Wine's X11 driver keys for one program (e.g. Decorated N: no window manager draws the caption,
# so Wine does). Quietly does nothing when Wine cannot be asked.
tarvex_wine_window_option() {
    "$root/scripts/wine-exec" 64 reg add "HKCU\\Software\\Wine\\AppDefaults\\$1\\X11 Driver" /v "$2" /d "$3" /f \
        >/dev/null 2>&1 || true
}

# The Windows name of a Unix path under Wine's Z: drive.
tarvex_windows_path() {
    printf 'Z:%s' "$1" | tr / '\\'
}
