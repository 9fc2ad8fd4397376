#!/usr/bin/env bash
# The benchmarks: builds what this machine runs, prepares the Wine session as
# scripts/test.sh does, runs the benchmark program and prints its table. It
# measures and does not judge: it exits 0 whether or not every figure meets its
# target (figures that miss are marked in the table). Arguments go to the
# program: --smoke makes every measure once and judges nothing (the test command
# runs it so). Where this machine cannot run 32-bit programs, it measures the
# 64-bit build: a regression check of the same code, not the shipped DLL's
# figures (but for the footprint, read from the shipped file).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${QUARNEL_BUILD_DIR:-$root/build}"

source "$root/scripts/machine.sh"
if runs_32bit; then
  echo "bench: the 32-bit build, the shipped Quarnel.dll ($build)"
else
  echo "bench: the 64-bit build ($build/x64), as $(no_32bit_reason): its figures are a regression check, not the shipped DLL's"
fi
"$root/scripts/build.sh" --runs-here
runs_32bit || build="$build/x64"
source "$root/scripts/wine-session.sh"

env LC_ALL=en_US.UTF-8 "$build/wine-run.sh" "$build/bench/quarnel_bench.exe" "$@" </dev/null
