#!/usr/bin/env bash
# The test command: sets up what is missing, builds both programs and runs every test under Wine: the
# 64-bit suite always, the 32-bit suite where this host can execute 32-bit programs. Arguments go to ctest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/env.sh"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
export DISPLAY="$TARVEX_TEST_DISPLAY"
# The tests talk to their own server on 127.0.0.1; Wine's WinINet would send that through a proxy.
unset http_proxy https_proxy ftp_proxy all_proxy no_proxy HTTP_PROXY HTTPS_PROXY FTP_PROXY ALL_PROXY NO_PROXY

status=0
if tarvex_can_run32; then
    echo "test: the 32-bit suite (build/, Tarvex.exe)"
    (cd "$TARVEX_BUILD" && ctest --output-on-failure --timeout 300 -j2 "$@") || status=$?
else
    echo "test: the 32-bit suite was not run: this host cannot execute 32-bit programs ($TARVEX_NO32_REASON)"
fi
echo "test: the 64-bit suite (build64/, Tarvex64.exe)"
(cd "$TARVEX_BUILD64" && ctest --output-on-failure --timeout 300 -j2 "$@") || status=$?
exit "$status"
