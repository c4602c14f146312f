#!/usr/bin/env bash
# The test command: sets up what is missing, builds everything and runs every test under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/env.sh"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
export DISPLAY="$TARVEX_TEST_DISPLAY"
# The tests talk to their own server on 127.0.0.1; Wine's WinINet would send that through a proxy.
unset http_proxy https_proxy ftp_proxy all_proxy no_proxy HTTP_PROXY HTTPS_PROXY FTP_PROXY ALL_PROXY NO_PROXY
cd "$TARVEX_BUILD"
ctest --output-on-failure --timeout 300 -j2 "$@"
