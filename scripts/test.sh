#!/usr/bin/env bash
# The project's one test command: builds everything, prepares the private Wine
# prefix, starts Xvfb and a persistent wineserver, runs CTest (then again with
# Wine's heap checking), and stops what it started whatever the tests do. Exits
# non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${QUARNEL_BUILD_DIR:-$root/build}"
prefix="$build/wineprefix"

"$root/scripts/build.sh"
"$root/scripts/wine-prefix.sh" "$prefix"
# Drive D: is the build's test-drive folder, where the folder-picker tests keep
# their programs and folders, away from anything that writes while tests run.
ln -sfn ../../test-drive "$prefix/dosdevices/d:"

export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG="${WINEDEBUG:--all}"
xvfb_pid=
display_file=$(mktemp)
cleanup() {
  wineserver -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -f "$display_file"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp 5>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$display_file" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { echo "test: Xvfb did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s "$display_file" ] || { echo "test: Xvfb gave no display" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$display_file")"

# A persistent server, and Wine's own background programs (services, the desktop
# window) started now, detached from CTest's output pipes: started by the first
# test instead, they would hold those pipes open and CTest would wait for them.
wineserver -p </dev/null >/dev/null 2>&1
"$build/wine-run.sh" cmd /c exit </dev/null >/dev/null 2>&1

# Tests that care about the user's language set their own; the rest see English.
env LC_ALL=en_US.UTF-8 ctest --test-dir "$build" --output-on-failure --timeout 600 -j "$(nproc)" "$@"

# The same tests again with Wine's heap checking: a heap error that the tests
# themselves did not notice (a double free, a write past a block) fails the run.
heap_log="$build/heap-check.log"
echo "test: again with heap checking (WINEDEBUG=warn+heap)"
heap_status=0
env LC_ALL=en_US.UTF-8 WINEDEBUG=-all,warn+heap,err+heap \
  ctest --test-dir "$build" --timeout 600 -j "$(nproc)" --output-log "$heap_log" "$@" >"$heap_log.summary" ||
  heap_status=$?
if grep -E ':(warn|err):heap:' "$heap_log" >&2; then
  echo "test: heap errors reported (above; all output in $heap_log)" >&2
  heap_status=1
fi
# Its summary last, so that the run ends on CTest's own count.
grep -E 'tests passed|tests failed|^\s+[0-9]+ - ' "$heap_log.summary" || true
exit "$heap_status"
