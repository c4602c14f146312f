#!/usr/bin/env bash
# Installs what building and testing Tarvex needs on Debian bookworm (as root), starts the private
# X display and boots the project's own Wine prefix (a 64-bit one, which also runs the 32-bit program where
# the host can execute it). Skips whatever is already there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/env.sh"

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
for p in g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-i686-dev mingw-w64-x86-64-dev \
    libz-mingw-w64-dev wine wine32:i386 wine64 \
    fonts-wine xvfb xauth imagemagick cmake googletest python3 python3-nacl x11-utils \
    autoconf automake libtool make strace; do
    have "$p" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
    echo "setup: installing ${need[*]}"
    sudo_=""
    [ "$(id -u)" = 0 ] || sudo_=sudo
    export DEBIAN_FRONTEND=noninteractive
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo_ dpkg --add-architecture i386
    # A mirror in the middle of a sync fails one index now and then; try again, and go on with what was
    # fetched when it keeps failing (the install below says what it could not find).
    for try in 1 2 3; do
        $sudo_ apt-get update -q && break
        echo "setup: apt-get update failed (try $try of 3)" >&2
        sleep $((try * 5))
    done
    # wine32 needs the same version of every shared library for both widths. When one width's index of
    # the security archive is missing, the two widths' candidates differ; the main archive's are the same.
    $sudo_ apt-get install -y -q --no-install-recommends "${need[@]}" ||
        $sudo_ apt-get install -y -q --no-install-recommends -t bookworm "${need[@]}"
fi

"$root/scripts/display.sh" "$TARVEX_TEST_DISPLAY"

# Wine's services inherit the caller's pipes unless started detached; CTest would then wait forever.
# The persistent server keeps later starts fast. A first boot takes the better part of a minute, mostly
# waiting: it runs while the libraries build.
mkdir -p "$WINEPREFIX"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "setup: creating the Wine prefix $WINEPREFIX"
fi
# The 64-bit loader works on every host; the 32-bit one only where the kernel executes 32-bit programs.
wine64="$root/scripts/wine-exec 64"
DISPLAY="$TARVEX_TEST_DISPLAY" setsid sh -c "wineserver -p; $wine64 wineboot" </dev/null >/dev/null 2>&1 &
boot=$!

# The ZIP library the update client extracts archives with and libsodium, for the signature and hash checks
# of updates, built once for each program from Debian's source packages. The 32-bit ones are needed also where
# only Tarvex.exe is built. Both libraries build at the same time: each spends much of its time in a configure
# step that keeps one processor busy.
. "$root/scripts/source-package.sh"
tarvex_source_entry setup
"$root/scripts/libzip.sh" x86_64 i686 &
zip=$!
"$root/scripts/libsodium.sh" x86_64 i686 &
sodium=$!
built=0
wait "$zip" || built=1
wait "$sodium" || built=1
wait "$boot" || true
[ "$built" = 0 ] || exit 1

# First boots take a while; wait (bounded) until the prefix answers.
for _ in $(seq 1 120); do
    [ -f "$WINEPREFIX/system.reg" ] && DISPLAY="$TARVEX_TEST_DISPLAY" timeout 20 $wine64 cmd /c exit </dev/null >/dev/null 2>&1 && break
    sleep 1
done
# The tests' display has no window manager, and Wine waits up to two seconds for one to take away every managed
# window that is hidden (each closed dialog and message box): unmanaged, Wine does that itself at once. The
# run script asks for a managed Tarvex again when it shows it on the caller's own display.
reg=$(mktemp --suffix=.reg)
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n' >"$reg"
for exe in Tarvex.exe Tarvex64.exe; do
    printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\%s\\X11 Driver]\n"Managed"="N"\n' "$exe" >>"$reg"
done
DISPLAY="$TARVEX_TEST_DISPLAY" timeout 60 $wine64 regedit /S "$(tarvex_windows_path "$reg")" </dev/null >/dev/null 2>&1 || true
rm -f "$reg"
# A program that crashes under test must end by itself, not wait behind Wine's crash dialog.
DISPLAY="$TARVEX_TEST_DISPLAY" timeout 60 $wine64 reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD \
    /d 0 /f </dev/null >/dev/null 2>&1 || true
# Debian's Wine does not find its own fonts (Tahoma, MS Sans Serif, Marlett for the caption buttons)
# in the shared data folder; the prefix's Fonts folder is always searched.
fonts="$WINEPREFIX/drive_c/windows/Fonts"
if [ -d /usr/share/wine/fonts ] && [ -d "$fonts" ] && [ ! -f "$fonts/tahoma.ttf" ]; then
    cp -n /usr/share/wine/fonts/* "$fonts/"
fi
