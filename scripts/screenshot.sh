#!/usr/bin/env bash
# Takes the README's picture of the real Tarvex window: builds, starts it loading at 30 % on a private Xvfb,
# waits for a few usage refreshes and saves the window (Wine draws its caption) as docs/tarvex.png.
# Usage: scripts/screenshot.sh [output.png] [Tarvex arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/env.sh"
tarvex_choose_program
out=${1:-$root/docs/tarvex.png}
shift || true
args=("$@")
[ ${#args[@]} -gt 0 ] || args=(-u 30 -s)
TARVEX_ARCHS=$TARVEX_ARCH "$root/scripts/build.sh" --target Tarvex >/dev/null

display=$(tarvex_free_display 131 180) || { echo "screenshot: no free X display number" >&2; exit 1; }
"$root/scripts/display.sh" "$display"
export DISPLAY="$display"
xpid=$(tr -d ' ' <"/tmp/.X${display#:}-lock")
tarvex=""
cleanup() {
    [ -n "$tarvex" ] && kill "$tarvex" 2>/dev/null || true
    kill "$xpid" 2>/dev/null || true
}
trap cleanup EXIT

tarvex_wine_window_option "$TARVEX_ARCH_EXE" Decorated N
"$root/scripts/wine-exec" "$TARVEX_ARCH" "$TARVEX_ARCH_BUILD/$TARVEX_ARCH_EXE" "${args[@]}" >/dev/null 2>&1 &
tarvex=$!

# The window's X name is its caption, "Tarvex [x.yy]".
id=""
for _ in $(seq 1 100); do
    id=$(xwininfo -root -tree 2>/dev/null | awk '/"Tarvex \[/ {print $1; exit}')
    [ -n "$id" ] && break
    sleep 0.2
done
[ -n "$id" ] || { echo "screenshot: the Tarvex window did not appear" >&2; exit 1; }
# A few one-second refreshes, so the usage column shows measured values.
sleep 4
mkdir -p "$(dirname "$out")"
import -window "$id" "$out.tmp.png"
mv "$out.tmp.png" "$out"
echo "screenshot: wrote $out"
