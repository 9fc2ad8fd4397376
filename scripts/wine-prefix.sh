#!/usr/bin/env bash
# Makes a private Wine prefix (once; later calls return at once): the 32-bit
# build's tests run in a 32-bit one; the 64-bit build's tests, and the installer
# test's second run, in a 64-bit one.
# Usage: wine-prefix.sh PREFIX_DIR [win32|win64]
set -euo pipefail
prefix="${1:?usage: wine-prefix.sh PREFIX_DIR [win32|win64]}"
arch="${2:-win32}"
# The stamp names the version of this setup: a changed setup remakes old prefixes.
stamp="$prefix/.quarnel-ready-5"
[ -f "$stamp" ] && exit 0

echo "wine-prefix: creating $prefix (takes about 15 s, once)"
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
export WINEPREFIX="$prefix" WINEARCH="$arch" WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and their installers would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
# A 64-bit prefix is made by 64-bit Wine's loader, named by its path: "wine"
# takes the 32-bit one wherever its file is, also on a machine that cannot run
# it. Its registry has two views of the machine's software keys: the settings
# below go into both (/reg:32, the 32-bit programs' view).
wine=(wine)
views=("")
if [ "$arch" = win64 ]; then
  export WINELOADER=/usr/lib/wine/wine64
  wine=("$WINELOADER")
  views=(/reg:64 /reg:32)
  # Its programs start without address randomisation where the kernel allows it,
  # as wine-run.sh says why.
  setarch "$(uname -m)" -R true 2>/dev/null && wine=(setarch "$(uname -m)" -R "${wine[@]}")
fi
if ! "${wine[@]}" wineboot -i >"$prefix.log" 2>&1; then
  echo "wine-prefix: wineboot failed; its output is in $prefix.log" >&2
  exit 1
fi
# No window manager runs on the test display: each window that Wine leaves to
# one would wait up to a second for it whenever it is hidden or destroyed
# (every dialog a test closes).
"${wine[@]}" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>"$prefix.log" 2>&1
# No debugger: a program that crashes ends at once with the exception's code as
# its exit status, so its test fails. Without a Debugger value Wine starts its
# own, which kills a program of several threads with exit status 0 (it passes
# its test); an empty one cannot start, and the program ends by itself.
for view in "${views[@]}"; do
  "${wine[@]}" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d "" /f $view \
    >>"$prefix.log" 2>&1
done
"${wine[@]}" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >>"$prefix.log" 2>&1
wineserver -w
touch "$stamp"
