#!/usr/bin/env bash
# The test command: sets up what is missing, builds everything and runs every test under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/env.sh"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
export DISPLAY="$TARVEX_TEST_DISPLAY"
cd "$TARVEX_BUILD"
ctest --output-on-failure --timeout 300 -j2 "$@"
