#!/usr/bin/env bash
# Starts a private Xvfb on the given display (e.g. :57) unless one already answers there.
set -euo pipefail
display=${1:?display}
n=${display#:}
if [ -S "/tmp/.X11-unix/X$n" ] && DISPLAY=$display timeout 5 xdpyinfo >/dev/null 2>&1; then
    exit 0
fi
rm -f "/tmp/.X$n-lock" "/tmp/.X11-unix/X$n"
setsid Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
for _ in $(seq 1 50); do
    DISPLAY=$display timeout 5 xdpyinfo >/dev/null 2>&1 && exit 0
    sleep 0.2
done
echo "display: Xvfb did not come up on $display" >&2
exit 1
