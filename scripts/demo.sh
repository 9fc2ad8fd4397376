#!/usr/bin/env bash
# The demo: builds Quarnel, makes a Wine prefix of its own (build/demo-prefix),
# registers the IDE's type libraries and Quarnel.dll there with regsvr32, starts
# the stand-in IDE program with the sample project and one change, and runs the
# add-in's command from the File menu.
#
#   scripts/demo.sh                  # under Xvfb, answering the dialogs as a first-time user
#   scripts/demo.sh --interactive    # on $DISPLAY, for you to click
#   scripts/demo.sh --project PATH.vbp [--interactive]
#                                    # your own project instead of the sample: its folder is
#                                    # copied into the demo's drive (the original is never
#                                    # touched), one component changed and saved into
#                                    # build/demo-drive/Projects/<its name>
#
# Unattended, it prints each dialog's text and the files written, and saves
# screenshots (the IDE with its File menu open, each dialog) into
# build/demo-output. Then a new project is saved into a folder that holds
# another project's Form1.frm and Project1.vbp: the add-in asks before replacing
# them, and the demo answers No; into a folder where another project's form is
# read-only: the add-in refuses; on a slow disk: the add-in shows its progress;
# and on a disk that fills after the first file: the failure names that file.
# It exits 0 when the project was saved and the other project's files are
# untouched. Where this machine cannot run 32-bit programs, the demo runs the
# 64-bit build of the same sources (the tests' build), and its first line says so.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${QUARNEL_BUILD_DIR:-$root/build}"
out="$build/demo-output"
interactive=0
project=
while [ $# -gt 0 ]; do
  case "$1" in
    --interactive) interactive=1 ;;
    --project) [ $# -ge 2 ] || { echo "demo: --project needs a .vbp file" >&2; exit 2; }; project="$2"; shift ;;
    *) echo "usage: scripts/demo.sh [--interactive] [--project PATH.vbp]" >&2; exit 2 ;;
  esac
  shift
done
if [ -n "$project" ]; then
  [ -f "$project" ] || { echo "demo: no project file $project" >&2; exit 2; }
  project=$(cd "$(dirname "$project")" && pwd)/$(basename "$project")
  # The project's name, as its Name= line gives it: the folder it is saved into.
  name=$(grep -a -i -m1 '^Name=' "$project" | cut -d= -f2- | tr -d '"\r')
  [ -n "$name" ] || { echo "demo: $project names no project (no Name= line)" >&2; exit 2; }
  vbp=$(basename "$project")
else
  name=Inventory
  vbp=Inventory.vbp
fi

source "$root/scripts/machine.sh"
# The build this machine runs: the shipped 32-bit one, or the 64-bit one, whose
# programs start with 64-bit Wine's loader, named by its path.
if runs_32bit; then
  echo "demo: the 32-bit build, the shipped Quarnel.dll"
  programs="$build" arch=win32 prefix="$build/demo-prefix" wine=(wine)
else
  echo "demo: the 64-bit build of the same sources, as $(no_32bit_reason)"
  programs="$build/x64" arch=win64 prefix="$build/demo-prefix64" wine=(/usr/lib/wine/wine64)
  export WINELOADER=/usr/lib/wine/wine64
fi
"$root/scripts/build.sh" --runs-here
"$root/scripts/wine-prefix.sh" "$prefix" "$arch"
export WINEPREFIX="$prefix" WINEARCH="$arch" WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="
# Wine's folder browser stumbles over folders whose time stamps change while it
# walks to them: the demo's folders are on a drive of their own, D:.
demo="$build/demo-drive"
rm -rf "$demo" "$out"
mkdir -p "$demo/Quarnel" "$demo/IDE" "$demo/Work" "$demo/Projects/$name" "$demo/Projects/Shared" "$demo/Projects/Locked" \
  "$demo/Projects/Slow" "$demo/Projects/Full" "$out"
# Another project's files, where the second run saves a new project.
printf 'VERSION 5.00\r\nBegin VB.Form Form1\r\n   Caption = "Another project"\r\nEnd\r\nAttribute VB_Name = "Form1"\r\n' \
  >"$demo/Projects/Shared/Form1.frm"
printf 'Type=Exe\r\nForm=Form1.frm\r\nName="Another"\r\n' >"$demo/Projects/Shared/Project1.vbp"
other_sums=$(cd "$demo/Projects/Shared" && sha256sum Form1.frm Project1.vbp)
# A read-only form of another project, where the new project is then refused.
printf 'VERSION 5.00\r\nBegin VB.Form Form1\r\nEnd\r\n' >"$demo/Projects/Locked/Form1.frm"
chmod a-w "$demo/Projects/Locked/Form1.frm"
ln -sfn ../../demo-drive "$prefix/dosdevices/d:"
cp "$programs/src/Quarnel.dll" "$demo/Quarnel/"
cp "$programs/test-drive/ideapp/program/"{quarnel_ide.exe,VB6EXT.OLB,MSO.DLL} "$demo/IDE/"
if [ -n "$project" ]; then
  # A copy of the project's folder: the demo never writes where the original is.
  cp -R "$(dirname "$project")/." "$demo/Work/"
  chmod -R u+w "$demo/Work"
else
  cp "$root/samples/Inventory/"* "$demo/Work/"
fi

xvfb_pid=
cleanup() {
  wineserver -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
if [ "$interactive" = 0 ] || [ -z "${DISPLAY:-}" ]; then
  [ "$interactive" = 1 ] && echo "demo: no \$DISPLAY; running unattended under Xvfb"
  interactive=0
  display_file=$(mktemp)
  Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp 5>"$display_file" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -n1 "$display_file")"
  rm -f "$display_file"
fi
wineserver -p </dev/null >/dev/null 2>&1
"${wine[@]}" cmd /c exit </dev/null >/dev/null 2>&1

echo "demo: registering the IDE's type libraries and Quarnel.dll (regsvr32) in $prefix"
"${wine[@]}" 'D:\IDE\quarnel_ide.exe' --register-typelibs
"${wine[@]}" regsvr32 /s 'D:\Quarnel\Quarnel.dll'
"${wine[@]}" reg delete 'HKCU\Software\VB and VBA Program Settings\Quarnel' /f >/dev/null 2>&1 || true

if [ "$interactive" = 1 ]; then
  echo "demo: the stand-in IDE with the sample project; use File > Quarnel... (Project menu: change a component)"
  "${wine[@]}" 'D:\IDE\quarnel_ide.exe' "D:\\Work\\$vbp"
  exit 0
fi

script="$demo/demo.script"
change=modStock
[ -n "$project" ] && change='*'
cat >"$script" <<STEPS
open "D:\\Work\\$vbp"
change $change "' one more item counted"
screenshot ide
menu-screenshot File ide-file-menu
expect-menu File 7 Quarnel...
msgbox ok
folder D:\Projects
msgbox ok
msgbox ok
folder "D:\\Projects\\$name"
click File 7
expect-saved
new-project Project1
folder D:\Projects\Shared
msgbox no "The folder already holds files that saving would replace:"
click File 7
folder D:\Projects\Locked
msgbox ok "The save cannot write these files:"
click File 7
slow-disk 1000
folder D:\Projects\Slow
progress progress
click File 7
expect-saved
slow-disk 0
change Form1 "' changed again"
change Module1 "' changed again"
fail _VBComponent.SaveAs 2 "Disk full"
folder D:\Projects\Full
msgbox ok "Already written: Form1.frm"
click File 7 fails
STEPS
status=0
"${wine[@]}" 'D:\IDE\quarnel_ide.exe' --output "Z:$(echo "$out" | tr / '\\')" --script 'D:\demo.script' </dev/null || status=$?
python3 "$root/scripts/bmp2png.py" "$out"/*.bmp >/dev/null 2>&1 && echo "demo: screenshots (PNG and BMP) in $out"
ls "$out"
if ! (cd "$demo/Projects/Shared" && echo "$other_sums" | sha256sum -c --quiet >/dev/null 2>&1); then
  echo "demo: the other project's files in $demo/Projects/Shared were changed" >&2
  status=1
fi
if [ "$status" = 0 ]; then
  echo "demo: the project was saved into $demo/Projects/$name:"
  ls -l "$demo/Projects/$name"
  echo "demo: asked before replacing another project's files in $demo/Projects/Shared, and kept them"
else
  echo "demo: the project was NOT saved (status $status)" >&2
fi
exit "$status"
