#!/usr/bin/env bash
# The project's one test command: builds everything, prepares the private Wine
# prefix, starts Xvfb and a persistent wineserver, runs CTest, and stops what it
# started whatever the tests do. Exits non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${QUARNEL_BUILD_DIR:-$root/build}"

"$root/scripts/build.sh"
source "$root/scripts/wine-session.sh"

# Tests that care about the user's language set their own; the rest see English.
env LC_ALL=en_US.UTF-8 ctest --test-dir "$build" --output-on-failure --timeout 600 -j "$(nproc)" "$@"
