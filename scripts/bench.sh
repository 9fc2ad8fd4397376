#!/usr/bin/env bash
# The benchmarks: builds everything, prepares the Wine session as scripts/test.sh
# does, runs the benchmark program and prints its table. It measures and does not
# judge: it exits 0 whether or not every figure meets its target (figures that
# miss are marked in the table). Arguments go to the program: --smoke makes
# every measure once and judges nothing (the test command runs it so).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${QUARNEL_BUILD_DIR:-$root/build}"

"$root/scripts/build.sh"
source "$root/scripts/wine-session.sh"

env LC_ALL=en_US.UTF-8 "$build/wine-run.sh" "$build/bench/quarnel_bench.exe" "$@" </dev/null
