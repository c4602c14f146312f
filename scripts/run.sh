#!/usr/bin/env bash
# The run command: sets up what is missing, builds Tarvex and starts it under Wine, passing the arguments
# on (e.g. scripts/run.sh -u 30 -s). Runs the 32-bit Tarvex.exe where the host executes 32-bit programs and
# the 64-bit Tarvex64.exe elsewhere; a first argument --32 or --64 chooses. Uses the caller's display when it
# answers, else a private Xvfb. Ctrl+C or TERM closes the Tarvex it started (its window first, so that it
# stores its settings; by force only when that does not end it) and stops the private display.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/env.sh"
chosen=""
case "${1:-}" in
--32 | --64)
    TARVEX_ARCH=${1#--}
    chosen=1
    shift
    ;;
esac
tarvex_choose_program || exit 2
if [ ! -f "$WINEPREFIX/system.reg" ] || [ ! -f "$TARVEX_ARCH_BUILD/$TARVEX_ARCH_EXE" ]; then
    echo "run: the first run sets up Wine and builds Tarvex: that takes a few minutes"
fi
"$root/scripts/setup.sh"
TARVEX_ARCHS=$TARVEX_ARCH "$root/scripts/build.sh" --target Tarvex
if [ "$TARVEX_ARCH" = 64 ] && [ -z "$chosen" ] && ! tarvex_can_run32; then
    echo "run: $TARVEX_ARCH_EXE, the 64-bit program (this host cannot execute 32-bit programs: $TARVEX_NO32_REASON)"
else
    echo "run: $TARVEX_ARCH_EXE, the $TARVEX_ARCH-bit program"
fi

private=""
if [ -z "${DISPLAY:-}" ] || ! timeout 5 xdpyinfo >/dev/null 2>&1; then
    # A display of our own, away from the tests' one.
    private=$(tarvex_free_display 70 130) || { echo "run: no free X display number" >&2; exit 1; }
    "$root/scripts/display.sh" "$private"
    export DISPLAY="$private"
    # Ends the private server with the program.
    trap 'kill "$(cat "/tmp/.X${private#:}-lock" 2>/dev/null | tr -d " ")" 2>/dev/null || true' EXIT
fi
# Without a window manager nobody draws the caption; let Wine draw it for Tarvex, on any display. On the
# caller's own display a window manager may look after the window (the set-up leaves it unmanaged, for the
# tests' display); on a private one Wine does.
managed=N
[ -n "${private:-}" ] || managed=Y
tarvex_wine_window_option "$TARVEX_ARCH_EXE" Decorated N
tarvex_wine_window_option "$TARVEX_ARCH_EXE" Managed "$managed"

# Tarvex pays no attention to Ctrl+C (a window program has no console), so the signal is caught here and
# the process this script started is ended by its id. Started in the background, it ignores SIGINT itself.
"$root/scripts/wine-exec" "$TARVEX_ARCH" "$TARVEX_ARCH_BUILD/$TARVEX_ARCH_EXE" "$@" &
tarvex=$!
stop() {
    trap - INT TERM
    # First the window is asked to close, as taskkill without /f asks it (a WM_CLOSE): it stores its
    # settings and stops its workers. Only a Tarvex that has not ended after a few seconds is killed.
    timeout 10 "$root/scripts/wine-exec" 64 taskkill /im "$TARVEX_ARCH_EXE" >/dev/null 2>&1 || true
    for _ in $(seq 1 50); do
        kill -0 "$tarvex" 2>/dev/null || break
        sleep 0.1
    done
    kill -TERM "$tarvex" 2>/dev/null || true
    for _ in $(seq 1 20); do
        kill -0 "$tarvex" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$tarvex" 2>/dev/null || true
    wait "$tarvex" 2>/dev/null || true
    echo "run: Tarvex ended"
    exit "$1"
}
trap 'stop 130' INT
trap 'stop 143' TERM
if [ -n "$private" ]; then
    echo "run: Tarvex runs unseen on the private display $private (no window manager); its first start under"
    echo "     Wine can take about a minute. End it with Ctrl+C, or: kill $$"
fi
status=0
wait "$tarvex" || status=$?
exit "$status"
