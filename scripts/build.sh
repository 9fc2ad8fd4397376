#!/usr/bin/env bash
# Builds Quarnel and its tests for 32-bit Windows into build/ (or $QUARNEL_BUILD_DIR),
# installing the toolchain first when it is missing.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${QUARNEL_BUILD_DIR:-$root/build}"

"$root/scripts/bootstrap.sh"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE="${QUARNEL_BUILD_TYPE:-Release}"
fi
cmake --build "$build"
