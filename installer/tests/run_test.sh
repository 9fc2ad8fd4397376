#!/bin/bash
# The installer as a user runs it under Wine, silently and with no registration
# step by hand: installed, the stand-in IDE program finds the add-in at start and
# a click saves; installed twice and an older one upgraded: one entry, the newer
# files; uninstalled: no file and no key of the add-in left. Then for all users
# over a copy for the user (one registration left), Active Setup's command for
# another user, the IDE again, a running IDE holding the DLL (the installer and
# the uninstaller change nothing and exit non-zero), and the uninstall. Last, a
# release signed with a certificate made here: every signature verifies.
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
value() { "$run" reg query "${2:-$uninstall_key}" /v "$1" 2>/dev/null | tr -d '\r' | awk -v n="$1" '$1 == n { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'; }
entries() { "$run" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall' 2>/dev/null | tr -d '\r' | grep -ci 'Uninstall\\Quarnel'; }

local_app_data=$("$run" cmd /c echo %LOCALAPPDATA% | tr -d '\r')
folder=$("$run" winepath -u "$local_app_data\\Programs\\Quarnel" 2>/dev/null | tr -d '\r')
[ -n "$folder" ] || { echo "no path for $local_app_data"; exit 1; }

uninstaller="$local_app_data\\Programs\\Quarnel\\Uninstall.exe"
# For all users: the 32-bit Program Files folder, the machine's keys, and the
# entry that Active Setup runs at each user's logon.
program_files=$("$run" cmd /c echo %ProgramFiles% | tr -d '\r')
all_folder=$("$run" winepath -u "$program_files\\Quarnel" 2>/dev/null | tr -d '\r')
all_uninstaller="$program_files\\Quarnel\\Uninstall.exe"
machine_uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quarnel'
active_setup_key='HKLM\Software\Microsoft\Active Setup\Installed Components\{B49DBFBD-ABE8-493A-A11E-D4D2D38DD7A6}'
addin_key='HKCU\Software\Microsoft\Visual Basic\6.0\Addins\Quarnel.Connect'
# Leftovers of an interrupted run go first; a fresh user has no setting of the add-in.
[ -f "$folder/Uninstall.exe" ] && "$run" "$uninstaller" /S
[ -f "$all_folder/Uninstall.exe" ] && "$run" "$all_uninstaller" /S
sleep 2; rm -rf "$all_folder"
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

# The stand-in IDE program finds the installed add-in at start and a click saves
# the sample project. With "--merge", the user's class keys are first shown to COM
# as Windows shows them: Wine 8 looks only at the machine's.
use_the_ide() {
  local merged=""
  if [ "${1:-}" = "--merge" ]; then
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
  fi
  rm -f "$drive/Default/Quarnel.ini"
  find "$drive/Default/Dest" -mindepth 1 ! -name .made -exec rm -rf {} + 2>/dev/null
  rm -rf "$drive/work" && mkdir -p "$drive/work" && cp "$sample"/* "$drive/work/"
  "$run" 'D:\ideapp\program\quarnel_ide.exe' --script "$(winpath "$here/use.script")" </dev/null ||
    fail "the stand-in IDE did not save through the installed add-in"
  if [ -n "$merged" ]; then
    for key in "Quarnel.Connect" "CLSID\\$clsid" "Interface\\{194B1080-1712-41FF-8791-B541F9977306}" \
               "TypeLib\\{D6C1C353-BB8B-4E84-9B09-B25DBB389205}"; do
      "$run" reg delete "HKLM\\Software\\Classes\\$key" /f >/dev/null 2>&1
    done
    rm -rf "$merged"
  fi
}

echo "--- the installer's first page: for whom"
pictures="$build/installer-output"
rm -rf "$pictures" && mkdir -p "$pictures"
sed "s/Quarnel 1.01 Setup/Quarnel $version Setup/" "$here/mode-page.script" >"$pictures/mode-page.script"
"$run" "$(winpath "$installer")" </dev/null >/dev/null 2>&1 &
shown=$!
"$run" 'D:\ideapp\program\quarnel_ide.exe' --output "$(winpath "$pictures")" \
  --script "$(winpath "$pictures/mode-page.script")" </dev/null >"$pictures/out.txt" 2>&1 ||
  fail "no picture of the installer's first page: $(cat "$pictures/out.txt")"
"$run" taskkill /F /IM "$(basename "$installer")" >/dev/null 2>&1
wait "$shown"
python3 "$here/../../scripts/bmp2png.py" "$pictures/installer-mode-page.bmp" >/dev/null 2>&1

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
use_the_ide --merge
[ -f "$folder/Quarnel.ini" ] || fail "no Quarnel.ini beside the installed DLL"

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

echo "--- for me only, then for all users over it: one registration"
install "$installer"
"$run" "$(winpath "$installer")" /S /ALLUSERS || fail "/S /ALLUSERS exited with $?"
[ -e "$folder" ] && fail "the copy for this user is still there: $(ls -A "$folder")"
[ "$(entries)" = 0 ] || fail "this user's Add/Remove Programs entry is still there"
"$run" reg query 'HKCU\Software\Classes' /s 2>/dev/null | grep -qi -e "$clsid" -e 'Quarnel' &&
  fail "something of Quarnel below the user's classes"
for file in Quarnel.dll README.txt Uninstall.exe; do [ -f "$all_folder/$file" ] || fail "no $file in $all_folder"; done
"$run" reg query "HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" >/dev/null 2>&1 || fail "not registered for the machine"
[ "$(value DisplayName "$machine_uninstall_key")" = "Quarnel (Visual Basic 6.0 add-in)" ] || fail "no entry for all users"
"$run" reg query "$addin_key" /v FriendlyName >/dev/null 2>&1 || fail "no add-in entry for the installing user"

echo "--- another user's first logon: Active Setup's command writes their add-in entry"
stub=$("$run" reg query "$active_setup_key" /v StubPath 2>/dev/null | tr -d '\r' | sed -n 's/^ *StubPath *REG_SZ *//p')
[ -n "$stub" ] || fail "no Active Setup command"
"$run" reg delete "$addin_key" /f >/dev/null 2>&1
eval "set -- $stub"  # the command line as Windows splits it: quoted words
"$run" "$@" || fail "the Active Setup command failed: $stub"
"$run" reg query "$addin_key" /v LoadBehavior >/dev/null 2>&1 || fail "the Active Setup command wrote no add-in entry"

echo "--- the IDE finds it and a click saves (for all users)"
use_the_ide

echo "--- a running IDE holds the DLL: the installer and the uninstaller change nothing"
held=$(mktemp -d)
"$run" 'D:\ideapp\program\quarnel_ide.exe' --script "$(winpath "$here/hold.script")" >"$held/out.txt" 2>&1 </dev/null &
holder=$!
for _ in $(seq 150); do grep -q 'add-in connected' "$held/out.txt" && break; sleep 0.2; done
grep -q 'add-in connected' "$held/out.txt" || fail "the IDE did not load the add-in: $(cat "$held/out.txt")"
dll_before=$(stat -c %Y "$all_folder/Quarnel.dll")
"$run" "$(winpath "$installer")" /S /ALLUSERS; code=$?
[ "$code" != 0 ] || fail "the installer succeeded while the DLL was in use"
# In place (_?=, unquoted, as NSIS wants it), so that its exit status is its own.
printf '"%s" /S _?=%s\r\nexit /b %%ERRORLEVEL%%\r\n' "$all_uninstaller" "$program_files\\Quarnel" >"$held/uninstall.bat"
"$run" cmd /c "$(winpath "$held/uninstall.bat")"; code=$?
[ "$code" != 0 ] || fail "the uninstaller succeeded while the DLL was in use"
[ "$(stat -c %Y "$all_folder/Quarnel.dll")" = "$dll_before" ] || fail "the DLL in use was changed"
[ -f "$all_folder/Uninstall.exe" ] || fail "the uninstaller went while the DLL was in use"
"$run" reg query "$active_setup_key" >/dev/null 2>&1 || fail "the Active Setup entry went while the DLL was in use"
"$run" taskkill /F /IM quarnel_ide.exe >/dev/null 2>&1  # the user closes the IDE
wait "$holder"
rm -rf "$held"

echo "--- uninstalled (all users)"
"$run" "$all_uninstaller" /S
for _ in $(seq 150); do [ -e "$all_folder" ] || break; sleep 0.2; done
sleep 1
[ -e "$all_folder" ] && fail "left behind for all users: $(ls -A "$all_folder")"
for key in "HKLM\\Software\\Classes\\CLSID\\$clsid" 'HKLM\Software\Classes\Quarnel.Connect' \
           "$machine_uninstall_key" "$active_setup_key"; do
  "$run" reg query "$key" >/dev/null 2>&1 && fail "left behind: $key"
done
after=$(snapshot)
[ "$after" = "$before" ] || fail "the user's registry not as it was: $(diff <(echo "$before") <(echo "$after"))"

echo "--- a signed release, with a certificate made for this test"
signing=$(mktemp -d)
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quarnel test signing" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$signing/key.pem" -out "$signing/cert.pem" >/dev/null 2>&1 &&
  openssl pkcs12 -export -inkey "$signing/key.pem" -in "$signing/cert.pem" -passout pass:test-only \
    -out "$signing/test.p12" || fail "cannot make a test certificate"
QUARNEL_BUILD_DIR="$build" QUARNEL_DIST_DIR="$signing/dist" QUARNEL_SIGN_PKCS12="$signing/test.p12" \
  QUARNEL_SIGN_PASSWORD=test-only "$here/../../scripts/package.sh" >"$signing/package.log" 2>&1 ||
  fail "package.sh could not sign: $(tail -5 "$signing/package.log")"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extract("Quarnel/Quarnel.dll", sys.argv[2])' \
  "$signing/dist/Quarnel-$version.zip" "$signing"
signed_installer="$signing/dist/Quarnel-$version-setup.exe"
verify() { osslsigncode verify -CAfile "$signing/cert.pem" -in "$1" >/dev/null 2>&1 || fail "no valid signature on $1"; }
verify "$signing/Quarnel/Quarnel.dll"
verify "$signed_installer"
# Signing adds a signature after the sections and changes nothing in them: the
# version record and the type library (resources) are the built DLL's.
python3 - "$build/src/Quarnel.dll" "$signing/Quarnel/Quarnel.dll" <<'PY' || fail "signing changed the DLL's sections"
import struct, sys
def sections(path):
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count, optional = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional
    out = {}
    for i in range(count):
        name, _, _, size, offset = struct.unpack_from("<8sIIII", data, table + 40 * i)
        out[name.rstrip(b"\0")] = data[offset:offset + size]
    return out
built, signed = sections(sys.argv[1]), sections(sys.argv[2])
sys.exit(0 if built == signed and b".rsrc" in built else 1)
PY
install "$signed_installer"
verify "$folder/Uninstall.exe"
uninstall
[ -e "$folder" ] && fail "the signed release left behind: $(ls -A "$folder")"
rm -rf "$signing"

[ "$failures" = 0 ] && echo "installer: 1 passed, 0 failed" || echo "installer: $failures failure(s)"
[ "$failures" = 0 ]
