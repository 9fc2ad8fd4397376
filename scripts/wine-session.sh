# Sourced by scripts/test.sh and scripts/bench.sh, after the build: prepares the
# build's private Wine prefix (32-bit or 64-bit, as the build is), starts Xvfb
# and a persistent wineserver, and arranges for both to be stopped when the
# calling script (or subshell) exits.
# Expects $root and $build to be set.
prefix="$build/wineprefix"
arch=$(cat "$build/wine-arch.txt")

"$root/scripts/wine-prefix.sh" "$prefix" "$arch"

export WINEPREFIX="$prefix" WINEARCH="$arch" WINEDEBUG="${WINEDEBUG:--all}"
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
  kill -0 "$xvfb_pid" 2>/dev/null || { echo "Xvfb did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s "$display_file" ] || { echo "Xvfb gave no display" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$display_file")"

source "$root/scripts/wine-start.sh"
start_prefix "$prefix" "$build/wine-run.sh"
