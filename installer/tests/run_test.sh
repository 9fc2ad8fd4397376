#!/bin/bash
# The installer as a user runs it under Wine, silently and with no registration
# step by hand: installed, the stand-in IDE program finds the add-in at start and
# a click saves; installed twice and an older one upgraded: one entry, the newer
# files; uninstalled: no file and no key of the add-in left.
# Usage: run_test.sh BUILD_DIR SAMPLE_DIR INSTALLER OLDER_INSTALLER VERSION_TEXT
set -u
# The shell tools need no locale of their own (the one the tests set may not exist here).
export LC_ALL=C.UTF-8
build="$1"; sample="$2"; installer="$3"; older="$4"; version="$5"
here=$(cd "$(dirname "$0")" && pwd)
run="$build/wine-run.sh"
drive="$build/test-drive/ideapp"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quarnel'
clsid='{B49DBFBD-ABE8-493A-A11E-D4D2D38DD7A6}'
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }

# The user's keys an installation may touch, one line per value (empty keys
# carry nothing and are left out).
snapshot() {
  for key in 'HKCU\Software\Classes' 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall' \
             'HKCU\Software\Microsoft\Visual Basic' 'HKCU\Software\VB and VBA Program Settings'; do
    "$run" reg query "$key" /s 2>/dev/null
  done | python3 -c '
import sys
key = None
for line in sys.stdin.read().replace("\r", "").split("\n"):
    if line.startswith("HKEY_"): key = line.strip()
    elif line.startswith("    ") and line.strip() and key: print(key + " | " + " ".join(line.split()))
' | sort
}
value() { "$run" reg query "$uninstall_key" /v "$1" 2>/dev/null | tr -d '\r' | awk -v n="$1" '$1 == n { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'; }
entries() { "$run" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall' 2>/dev/null | tr -d '\r' | grep -ci 'Uninstall\\Quarnel'; }

local_app_data=$("$run" cmd /c echo %LOCALAPPDATA% | tr -d '\r')
folder=$("$run" winepath -u "$local_app_data\\Programs\\Quarnel" 2>/dev/null | tr -d '\r')
[ -n "$folder" ] || { echo "no path for $local_app_data"; exit 1; }

uninstaller="$local_app_data\\Programs\\Quarnel\\Uninstall.exe"
# Leftovers of an interrupted run go first; a fresh user has no setting of the add-in.
[ -f "$folder/Uninstall.exe" ] && "$run" "$uninstaller" /S
sleep 2; rm -rf "$folder"; "$run" reg delete "$uninstall_key" /f >/dev/null 2>&1
"$run" reg delete 'HKCU\Software\VB and VBA Program Settings\Quarnel' /f >/dev/null 2>&1
"$run" 'D:\ideapp\program\quarnel_ide.exe' --register-typelibs >/dev/null || exit 1
before=$(snapshot)

install() {
  "$run" "$(winpath "$1")" /S || fail "$(basename "$1") /S exited with $?"
}
uninstall() {
  # The uninstaller copies itself away and runs from there: wait for it to finish.
  "$run" "$uninstaller" /S
  for _ in $(seq 150); do [ -e "$folder" ] || break; sleep 0.2; done
  sleep 1
}

echo "--- install $(basename "$installer")"
install "$installer"
for file in Quarnel.dll README.txt Uninstall.exe; do [ -f "$folder/$file" ] || fail "no $file in $folder"; done
cmp -s "$folder/Quarnel.dll" "$build/src/Quarnel.dll" || fail "the installed Quarnel.dll is not the built one"
[ "$(value DisplayName)" = "Quarnel (Visual Basic 6.0 add-in)" ] || fail "DisplayName: $(value DisplayName)"
[ "$(value Publisher)" = "The Quarnel developers" ] || fail "Publisher: $(value Publisher)"
[ "$(value DisplayVersion)" = "$version" ] || fail "DisplayVersion: $(value DisplayVersion)"
"$run" reg query "HKCU\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" >/dev/null 2>&1 || fail "not registered for the user"
"$run" reg query "HKLM\\Software\\Classes\\CLSID\\$clsid" >/dev/null 2>&1 && fail "registered for the machine"

echo "--- the IDE finds it and a click saves"
# Windows finds a user's classes through HKEY_CLASSES_ROOT; Wine 8 looks only at
# the machine's. For this step the user's class keys are shown to COM the way
# Windows shows them: copied into the machine's view, and removed again after.
merged=$(mktemp -d)
for key in "Quarnel.Connect" "CLSID\\$clsid" "Interface\\{194B1080-1712-41FF-8791-B541F9977306}" \
           "TypeLib\\{D6C1C353-BB8B-4E84-9B09-B25DBB389205}"; do
  "$run" reg export "HKCU\\Software\\Classes\\$key" "$(winpath "$merged/key.reg")" /y >/dev/null 2>&1 ||
    fail "no $key for the user"
  python3 -c '
import sys
data = open(sys.argv[1], "rb").read().decode("utf-16")
open(sys.argv[1], "wb").write(data.replace("HKEY_CURRENT_USER\\Software\\Classes", "HKEY_LOCAL_MACHINE\\Software\\Classes").encode("utf-16"))
' "$merged/key.reg"
  "$run" reg import "$(winpath "$merged/key.reg")" >/dev/null 2>&1 || fail "cannot show $key to COM"
done
rm -f "$drive/Default/Quarnel.ini"
find "$drive/Default/Dest" -mindepth 1 ! -name .made -exec rm -rf {} + 2>/dev/null
rm -rf "$drive/work" && mkdir -p "$drive/work" && cp "$sample"/* "$drive/work/"
"$run" 'D:\ideapp\program\quarnel_ide.exe' --script "$(winpath "$here/use.script")" </dev/null ||
  fail "the stand-in IDE did not save through the installed add-in"
[ -f "$folder/Quarnel.ini" ] || fail "no Quarnel.ini beside the installed DLL"
for key in "Quarnel.Connect" "CLSID\\$clsid" "Interface\\{194B1080-1712-41FF-8791-B541F9977306}" \
           "TypeLib\\{D6C1C353-BB8B-4E84-9B09-B25DBB389205}"; do
  "$run" reg delete "HKLM\\Software\\Classes\\$key" /f >/dev/null 2>&1
done
rm -rf "$merged"

echo "--- installed again"
install "$installer"
[ "$(entries)" = 1 ] || fail "$(entries) entries in Add/Remove Programs"
[ -f "$folder/Quarnel.ini" ] || fail "installing again lost the Default folder"

echo "--- uninstalled"
uninstall
[ -e "$folder" ] && fail "left behind: $(ls -A "$folder")"
after=$(snapshot)
[ "$after" = "$before" ] || fail "registry not as it was: $(diff <(echo "$before") <(echo "$after"))"

echo "--- an older version, then this one over it"
install "$older"
grep -q "Quarnel 1.00 " "$folder/README.txt" || fail "the older read-me is not there"
[ "$(value DisplayVersion)" = "1.00" ] || fail "older DisplayVersion: $(value DisplayVersion)"
install "$installer"
grep -q "Quarnel $version " "$folder/README.txt" || fail "the newer read-me did not replace the older"
[ "$(value DisplayVersion)" = "$version" ] || fail "upgraded DisplayVersion: $(value DisplayVersion)"
[ "$(entries)" = 1 ] || fail "$(entries) entries after the upgrade"
"$run" reg query "HKCU\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" >/dev/null 2>&1 || fail "not registered after the upgrade"
uninstall
[ -e "$folder" ] && fail "left behind after the upgrade: $(ls -A "$folder")"
after=$(snapshot)
[ "$after" = "$before" ] || fail "registry not as it was after the upgrade: $(diff <(echo "$before") <(echo "$after"))"

[ "$failures" = 0 ] && echo "installer: 1 passed, 0 failed" || echo "installer: $failures failure(s)"
[ "$failures" = 0 ]
