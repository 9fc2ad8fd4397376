#!/usr/bin/env bash
# The project's one test command: builds everything, then runs the suites that
# this machine can run, each in its build's private Wine prefix with its own
# Xvfb and persistent wineserver, stopped whatever the tests do. Exits non-zero
# on any failure.
#
# Where this machine runs 32-bit programs: the 32-bit suite (the shipped
# build's) and its heap-checking pass, then the 64-bit suite once, so that it
# cannot go stale. Where it does not (scripts/machine.sh): the 64-bit suite and
# its heap-checking pass; its tests that run 32-bit programs (label runs32) are
# skipped, and named at the end. The 64-bit suite's file checks read the
# shipped 32-bit files, built on every machine.
#
#   scripts/test.sh [CTest arguments]           the whole run, as CI runs it
#   scripts/test.sh --quick [CTest arguments]   one pass of this machine's main
#                                               suite, no heap checking
#   scripts/test.sh --64 [--quick] [CTest arguments]
#                                               the 64-bit suite alone
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${QUARNEL_BUILD_DIR:-$root/build}"
x64="$build/x64"

quick=0
only64=0
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1 ;;
    --64) only64=1 ;;
    *) break ;;
  esac
  shift
done

"$root/scripts/build.sh"
source "$root/scripts/machine.sh"

# One CTest pass over one build, in a Wine session of its own (a subshell, whose
# exit stops it): suite BUILD NAME LEFT_OUT [CTest arguments], LEFT_OUT the
# labels of tests left out (a regular expression, or empty). With heap
# checking, Wine's heap errors fail it too. The tests' output is kept in
# BUILD/NAME.log.
suite() (
  build="$1"; name="$2"; left_out="$3"; shift 3
  source "$root/scripts/wine-session.sh"
  # CTest keeps the output of every test, passed or failed, in this file (its
  # --output-log holds only what CTest itself prints).
  ctest_log="$build/Testing/Temporary/LastTest.log"
  log="$build/$name.log"
  status=0
  if [ "$name" = heap-check ]; then
    # The same tests again with Wine's heap checking: a heap error that the tests
    # themselves did not notice (a double free, a write past a block) fails the
    # run. The benchmarks' smoke run (label "bench") is not repeated: it only
    # proves that every measure can be made.
    echo "test: again with heap checking (WINEDEBUG=warn+heap), $build"
    env LC_ALL=en_US.UTF-8 WINEDEBUG=-all,warn+heap,err+heap \
      ctest --test-dir "$build" --timeout 600 -j "$(nproc)" -LE "bench${left_out:+|$left_out}" "$@" \
      >"$log.summary" || status=$?
    cp "$ctest_log" "$log"
    if grep -q 'No tests were found' "$log.summary"; then
      echo "test: no test of this selection is run with heap checking"
    elif ! grep -q 'Test Pass\|Test Fail\|Skipped' "$log"; then
      echo "test: the heap-checking run left no test output to look at ($ctest_log)" >&2
      status=1
    elif grep -E ':(warn|err):heap:' "$log" >&2; then
      echo "test: heap errors reported (above; all output in $log)" >&2
      status=1
    fi
    # Its summary last, so that the run ends on CTest's own count.
    grep -E 'tests passed|tests failed|^\s+[0-9]+ - ' "$log.summary" || true
  else
    # Tests that care about the user's language set their own; the rest see English.
    env LC_ALL=en_US.UTF-8 ctest --test-dir "$build" --output-on-failure --timeout 600 -j "$(nproc)" \
      ${left_out:+-LE "$left_out"} "$@" || status=$?
    cp "$ctest_log" "$log"
    # What the reliability tests counted and measured: the fault sweep's failure
    # points, and memory, handles and windows over long use.
    grep -hE '^\[ (sweep|usage) ' "$log" || true
  fi
  exit "$status"
)

# The tests a log shows skipped, each with the reason its own output gives.
skipped() {
  awk '/^[0-9]+\/[0-9]+ Testing: / { test = $3 }
       /^skipped: / && test { print "test: skipped " test ": " substr($0, 10); test = "" }' "$1" | sort -u
}

if runs_32bit && [ "$only64" = 0 ]; then
  echo "test: the 32-bit suite (the shipped build, $build)"
  suite "$build" test-output "" "$@"
  [ "$quick" = 1 ] && exit 0
  suite "$build" heap-check "" "$@"
  # The tests that run 32-bit programs are the 32-bit suite's own, just run.
  echo "test: the 64-bit suite once ($x64), but for the tests that run 32-bit programs (label runs32)"
  suite "$x64" test-output runs32 "$@"
  exit 0
fi

# Where 32-bit programs run, the tests that run them are the 32-bit suite's.
leave=
if runs_32bit; then
  echo "test: the 64-bit suite alone ($x64), but for the tests that run 32-bit programs (label runs32)"
  leave=runs32
else
  echo "test: the 64-bit suite ($x64): $(no_32bit_reason)"
fi
status=0
suite "$x64" test-output "$leave" "$@" || status=$?
if [ "$status" = 0 ] && [ "$quick" = 0 ]; then
  suite "$x64" heap-check "$leave" "$@" || status=$?
fi
# Last, the tests that did not run, and why.
skipped "$x64/test-output.log"
exit "$status"
