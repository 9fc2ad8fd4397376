#!/usr/bin/env bash
# Makes the private 32-bit Wine prefix the tests run in (once; later calls return
# at once). Usage: wine-prefix.sh PREFIX_DIR
set -euo pipefail
prefix="${1:?usage: wine-prefix.sh PREFIX_DIR}"
stamp="$prefix/.quarnel-ready"
[ -f "$stamp" ] && exit 0

echo "wine-prefix: creating $prefix (takes about 15 s, once)"
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and their installers would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
if ! wineboot -i >"$prefix.log" 2>&1; then
  echo "wine-prefix: wineboot failed; its output is in $prefix.log" >&2
  exit 1
fi
wineserver -w
touch "$stamp"
