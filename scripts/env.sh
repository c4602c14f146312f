# Sourced by the scripts: where the build, the Wine prefix and the private X display live.
root=${root:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export TARVEX_ROOT="$root"
export TARVEX_BUILD="${TARVEX_BUILD:-$root/build}"
export WINEPREFIX="${TARVEX_WINEPREFIX:-$root/.wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# The tests' own display; the run script uses the caller's display when there is one.
export TARVEX_TEST_DISPLAY="${TARVEX_TEST_DISPLAY:-:57}"
