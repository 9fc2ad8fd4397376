#!/usr/bin/env bash
# Runs a test of the 64-bit build that runs 32-bit programs; where this machine
# cannot run them (scripts/machine.sh), says so and exits 77, which CTest
# reports as skipped (the test's SKIP_RETURN_CODE).
# Usage: needs-32bit.sh WHY COMMAND [ARGUMENTS...]  (WHY: "runs the ...")
set -euo pipefail
why="$1"; shift
source "$(dirname "${BASH_SOURCE[0]}")/machine.sh"
if ! runs_32bit; then
  echo "skipped: this test $why, and $(no_32bit_reason)."
  exit 77
fi
exec "$@"
