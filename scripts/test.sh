#!/usr/bin/env bash
# The test command: sets up what is missing, builds both programs and runs every test under Wine: the
# 64-bit suite always, the 32-bit suite where this host can execute 32-bit programs. Arguments go to ctest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/env.sh"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
export DISPLAY="$TARVEX_TEST_DISPLAY"
tarvex_loopback_only

status=0
suites=$(tarvex_test_suites)
# The skip line, when there is one, comes first; the list of suites last.
[ "$(printf '%s\n' "$suites" | wc -l)" -gt 1 ] && printf '%s\n' "$suites" | head -n -1
for arch in $(printf '%s\n' "$suites" | tail -n 1); do
    if [ "$arch" = 32 ]; then dir=$TARVEX_BUILD program=Tarvex.exe; else dir=$TARVEX_BUILD64 program=Tarvex64.exe; fi
    echo "test: the $arch-bit suite ($program)"
    (cd "$dir" && ctest --output-on-failure --timeout 300 -j2 "$@") || status=$?
done
exit "$status"
