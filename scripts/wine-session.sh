# Sourced by scripts/test.sh and scripts/bench.sh, after the build: prepares the
# build's private Wine prefix, starts Xvfb and a persistent wineserver, and
# arranges for both to be stopped when the calling script exits.
# Expects $root and $build to be set.
prefix="$build/wineprefix"

"$root/scripts/wine-prefix.sh" "$prefix"
# Drive D: is the build's test-drive folder, where the folder-picker tests keep
# their programs and folders, away from anything that writes while tests run.
ln -sfn ../../test-drive "$prefix/dosdevices/d:"
# Drive S: is a second name for D:\ideapp, as "subst S: D:\ideapp" makes one:
# the stand-in IDE program opens projects through it.
ln -sfn ../../test-drive/ideapp "$prefix/dosdevices/s:"

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
  kill -0 "$xvfb_pid" 2>/dev/null || { echo "Xvfb did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s "$display_file" ] || { echo "Xvfb gave no display" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$display_file")"

# A persistent server, and Wine's own background programs (services, the desktop
# window) started now, detached from the callers' output pipes: started by the
# first program instead, they would hold those pipes open and CTest would wait.
wineserver -p </dev/null >/dev/null 2>&1
"$build/wine-run.sh" cmd /c exit </dev/null >/dev/null 2>&1
source "$root/scripts/wine-desktop.sh"
keep_desktop "$build/wine-run.sh"
