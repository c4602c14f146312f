#!/usr/bin/env bash
# The test command: sets up what is missing, builds both programs and runs every test under Wine: the
# 64-bit suite always, the 32-bit suite where this host can execute 32-bit programs. Arguments go to ctest.
# It ends with the ten slowest tests of the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/env.sh"
"$root/scripts/setup.sh"
suites=$(tarvex_test_suites)
run=$(printf '%s\n' "$suites" | tail -n 1)
# Only what runs is built: where the 32-bit suite cannot run, its test programs are not built, but
# Tarvex.exe is (it must compile, and the 64-bit suite reads its import table).
if [ "$run" = 64 ]; then
    # Side by side: each build's configure step and links keep only one processor busy.
    log32=$(mktemp)
    TARVEX_ARCHS=32 "$root/scripts/build.sh" --target Tarvex >"$log32" 2>&1 &
    build32=$!
    TARVEX_ARCHS=64 "$root/scripts/build.sh"
    if ! wait "$build32"; then
        cat "$log32" >&2
        echo "test: the 32-bit Tarvex.exe did not build" >&2
        exit 1
    fi
    rm -f "$log32"
else
    "$root/scripts/build.sh"
fi
export DISPLAY="$TARVEX_TEST_DISPLAY"
tarvex_loopback_only

status=0
times=$(mktemp)
trap 'rm -f "$times" "$times.out"' EXIT
# The skip line, when there is one, comes first; the list of suites last.
[ "$(printf '%s\n' "$suites" | wc -l)" -gt 1 ] && printf '%s\n' "$suites" | head -n -1
for arch in $run; do
    if [ "$arch" = 32 ]; then dir=$TARVEX_BUILD program=Tarvex.exe; else dir=$TARVEX_BUILD64 program=Tarvex64.exe; fi
    echo "test: the $arch-bit suite ($program)"
    (cd "$dir" && ctest --output-on-failure --timeout 300 -j2 "$@") 2>&1 | tee "$times.out" || status=$?
    # CTest's result lines ("12/60 Test  #7: base.Name .....   Passed    3.21 sec", failures and time-outs
    # alike), kept as seconds, suite and name.
    sed -nE "s/^ *[0-9]+\/[0-9]+ +Test +#[0-9]+: +([^ ]+) .* ([0-9]+\.[0-9]+) sec\$/\2 $arch \1/p" "$times.out" >>"$times"
done
# Slowest first, so that the next slow test is seen when it comes.
if [ -s "$times" ]; then
    echo "test: the ten slowest tests (seconds, suite, test)"
    sort -rn "$times" | head -n 10 | awk '{ printf "%9.2f  %s-bit  %s\n", $1, $2, $3 }'
fi
exit "$status"
