#!/usr/bin/env bash
# Builds Quarnel and its tests, installing the toolchain first when it is
# missing: the shipped 32-bit build into build/ (or $QUARNEL_BUILD_DIR), and the
# 64-bit build of the same sources, for the tests only, into build/x64.
#
#   scripts/build.sh            # both builds
#   scripts/build.sh --shipped  # the 32-bit build alone (the release's files)
#   scripts/build.sh --runs-here
#                               # what runs on this machine: the 32-bit build, and
#                               # the 64-bit one where 32-bit programs cannot run
#
# Where this machine cannot run 32-bit programs (scripts/machine.sh), the
# 32-bit build's one step that runs a program of its own under Wine (the
# package's registry table) runs the 64-bit build's instead, made first.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${QUARNEL_BUILD_DIR:-$root/build}"
x64="$build/x64"
what=both
case "${1:-}" in
  "") ;;
  --shipped) what=shipped ;;
  --runs-here) what=runs-here ;;
  *) echo "usage: scripts/build.sh [--shipped | --runs-here]" >&2; exit 2 ;;
esac

"$root/scripts/bootstrap.sh"
source "$root/scripts/machine.sh"
table_build=
runs_32bit || table_build="$x64"
[ "$what" = runs-here ] && { runs_32bit && what=shipped || what=both; }

# Configured again at every run (it takes a second and rebuilds nothing that did
# not change): the answer about this machine may have changed.
configure() {  # BUILD TOOLCHAIN [CMAKE ARGUMENTS...]
  local dir="$1" toolchain="$2"; shift 2
  local first=()
  [ -f "$dir/build.ninja" ] || first=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain"
                                       -DCMAKE_BUILD_TYPE="${QUARNEL_BUILD_TYPE:-Release}")
  mkdir -p "$dir"
  cmake -S "$root" -B "$dir" "${first[@]}" "$@" >"$dir/configure.log" 2>&1 || {
    cat "$dir/configure.log" >&2; exit 1; }
}
configure "$build" mingw-i686.cmake -DQUARNEL_TABLE_BUILD="$table_build"
if [ "$what" = both ] || [ -n "$table_build" ]; then
  configure "$x64" mingw-x86_64.cmake -DQUARNEL_SHIPPED_BUILD="$build"
fi
[ -z "$table_build" ] || cmake --build "$x64" --target registry_table
cmake --build "$build"
[ "$what" = shipped ] || cmake --build "$x64"
