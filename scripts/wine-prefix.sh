#!/usr/bin/env bash
# Makes the private 32-bit Wine prefix the tests run in (once; later calls return
# at once), or a 64-bit one (the installer test's second run).
# Usage: wine-prefix.sh PREFIX_DIR [win32|win64]
set -euo pipefail
prefix="${1:?usage: wine-prefix.sh PREFIX_DIR [win32|win64]}"
arch="${2:-win32}"
# The stamp names the version of this setup: a changed setup remakes old prefixes.
stamp="$prefix/.quarnel-ready-4"
[ -f "$stamp" ] && exit 0

echo "wine-prefix: creating $prefix (takes about 15 s, once)"
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
export WINEPREFIX="$prefix" WINEARCH="$arch" WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and their installers would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
if ! wineboot -i >"$prefix.log" 2>&1; then
  echo "wine-prefix: wineboot failed; its output is in $prefix.log" >&2
  exit 1
fi
# No window manager runs on the test display: each window that Wine leaves to
# one would wait up to a second for it whenever it is hidden or destroyed
# (every dialog a test closes).
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>"$prefix.log" 2>&1
# No debugger: a program that crashes ends at once with the exception's code as
# its exit status, so its test fails. Without a Debugger value Wine starts its
# own, which kills a program of several threads with exit status 0 (it passes
# its test); an empty one cannot start, and the program ends by itself.
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d "" /f >>"$prefix.log" 2>&1
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >>"$prefix.log" 2>&1
wineserver -w
touch "$stamp"
