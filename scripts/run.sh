#!/usr/bin/env bash
# The run command: sets up what is missing, builds Tarvex and starts it under Wine, passing the arguments
# on (e.g. scripts/run.sh -u 30 -s). Uses the caller's display when it answers, else a private Xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/env.sh"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" --target Tarvex

private=""
if [ -z "${DISPLAY:-}" ] || ! timeout 5 xdpyinfo >/dev/null 2>&1; then
    # A display of our own: the first number with neither a lock nor a socket, away from the tests' one.
    for n in $(seq 70 130); do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
            private=":$n"
            break
        fi
    done
    [ -n "$private" ] || { echo "run: no free X display number" >&2; exit 1; }
    "$root/scripts/display.sh" "$private"
    export DISPLAY="$private"
    # Ends the private server with the program.
    trap 'kill "$(cat "/tmp/.X${private#:}-lock" 2>/dev/null | tr -d " ")" 2>/dev/null || true' EXIT
    # Without a window manager nobody draws the caption; let Wine draw it for Tarvex.
    wine reg add 'HKCU\Software\Wine\AppDefaults\Tarvex.exe\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 || true
    echo "run: Tarvex runs on the private display $private (no window manager, nothing to see here)"
fi
wine "$TARVEX_BUILD/Tarvex.exe" "$@"
