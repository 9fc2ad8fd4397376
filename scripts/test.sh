#!/usr/bin/env bash
# The project's one test command: builds everything, prepares the private Wine
# prefix, starts Xvfb and a persistent wineserver, runs CTest (then again with
# Wine's heap checking), and stops what it started whatever the tests do. Exits
# non-zero on any failure. `scripts/test.sh --quick [CTest arguments]` skips
# the heap-checking pass.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${QUARNEL_BUILD_DIR:-$root/build}"

# --quick (first): one pass only, without the heap-checking pass, for development.
# The test command that CI runs is the whole one.
quick=0
if [ "${1:-}" = "--quick" ]; then
  quick=1
  shift
fi

"$root/scripts/build.sh"
source "$root/scripts/wine-session.sh"

# CTest keeps the output of every test, passed or failed, in this file (its
# --output-log holds only what CTest itself prints).
ctest_log="$build/Testing/Temporary/LastTest.log"

# Tests that care about the user's language set their own; the rest see English.
test_log="$build/test-output.log"
status=0
env LC_ALL=en_US.UTF-8 ctest --test-dir "$build" --output-on-failure --timeout 600 -j "$(nproc)" "$@" ||
  status=$?
cp "$ctest_log" "$test_log"
# What the reliability tests counted and measured: the fault sweep's failure
# points, and memory, handles and windows over long use.
grep -hE '^\[ (sweep|usage) ' "$test_log" || true
[ "$status" -eq 0 ] || exit "$status"
[ "$quick" -eq 0 ] || exit 0

# The same tests again with Wine's heap checking: a heap error that the tests
# themselves did not notice (a double free, a write past a block) fails the run.
# The benchmarks' smoke run (label "bench") is not repeated: it only proves that
# every measure can be made.
heap_log="$build/heap-check.log"
echo "test: again with heap checking (WINEDEBUG=warn+heap)"
heap_status=0
env LC_ALL=en_US.UTF-8 WINEDEBUG=-all,warn+heap,err+heap \
  ctest --test-dir "$build" --timeout 600 -j "$(nproc)" -LE bench "$@" >"$heap_log.summary" ||
  heap_status=$?
cp "$ctest_log" "$heap_log"
if grep -q 'No tests were found' "$heap_log.summary"; then
  echo "test: no test of this selection is run with heap checking"
elif ! grep -q 'Test Pass\|Test Fail' "$heap_log"; then
  echo "test: the heap-checking run left no test output to look at ($ctest_log)" >&2
  heap_status=1
elif grep -E ':(warn|err):heap:' "$heap_log" >&2; then
  echo "test: heap errors reported (above; all output in $heap_log)" >&2
  heap_status=1
fi
# Its summary last, so that the run ends on CTest's own count.
grep -E 'tests passed|tests failed|^\s+[0-9]+ - ' "$heap_log.summary" || true
exit "$heap_status"
