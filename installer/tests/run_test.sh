#!/bin/bash
# The installer as a user runs it under Wine, silently and with no registration
# step by hand: installed, the stand-in IDE program finds the add-in at start and
# a click saves; installed twice (with no mode given, the installed mode stays,
# the IDE set to run as administrator or not) and the 1.00 installer upgraded:
# one entry, the newer files, the Default folder kept; uninstalled: no file and
# no key of the add-in left. Then for all users over a copy for the user (one
# registration left, the user's Quarnel.ini not moved, their DisplayOnConnect
# kept), Active Setup's command for another user, the IDE again, an upgrade and
# its Active Setup run keeping the mode and the user's LoadBehavior 0, the
# installer's elevated copy alone (as when it runs as another account: of that
# account's, only its add-in entry is written, its LoadBehavior kept), a copy
# for the user beside it uninstalled (the entry stays), a running IDE holding
# the DLL (the installer and the uninstaller change nothing and exit 4), the
# uninstall, and Active Setup's removal for other users (sparing a copy of
# their own, as the uninstaller's elevated copy does). Then both modes on
# Windows XP (as Wine reports it to each program), with the uninstaller's
# elevated copy alone (its account's entry goes, nothing else). Last, a release
# signed with a certificate made here: every signature verifies, and a signing
# that fails fails the package. A second user is played by this one, given the
# entries that user would have; the elevated copy, which Wine never needs (it
# runs everything as an administrator), by starting it as the user's copy does.
# Given EXPLORER64 (a 64-bit program that runs a command line as Explorer
# does), the rows about the registry run again in a 64-bit prefix of their own,
# as on 64-bit Windows: the installer, regsvr32 and the IDE are 32-bit there,
# Active Setup's commands are run by the 64-bit program, and the user's class,
# which Wine keeps where both views see it, is put where Windows 7 and later
# keep a 32-bit program's (below Wow6432Node) before the removal command runs.
# There too, the Windows Installer package, with Wine's own msiexec: refused
# over the installer's copy for everyone; installed quietly (Active Setup's
# entry the installer's, this user's entry at once); an older package and the
# installer for everyone refused over it; its registry regsvr32 /n /i:machine's,
# value by value, and repaired; another user's entry by Active Setup, and the
# IDE; removed (the machine as before, Active Setup's removal the installer's,
# the Default folder's file not kept anywhere); a copy made here that fails at
# its last step, rolled back with this user's entry (one that was there
# stays); and upgraded from an older package made here, with a registry row of
# its own, while a running IDE holds its Quarnel.dll: exit 3010, the file
# replaced at Wine's restart, the older row gone, every row of this one's
# there, and Active Setup's run keeping a LoadBehavior 0.
# Usage: run_test.sh BUILD_DIR SAMPLE_DIR INSTALLER OLDER_INSTALLER VERSION_TEXT [EXPLORER64]
set -u
# The shell tools need no locale of their own (the one the tests set may not exist here).
export LC_ALL=C.UTF-8
build="$1"; sample="$2"; installer="$3"; older="$4"; version="$5"; explorer64="${6:-}"
here=$(cd "$(dirname "$0")" && pwd)
run="$build/wine-run.sh"
if [ -n "$explorer64" ]; then
  export QUARNEL_WINEPREFIX="$build/wineprefix64" QUARNEL_WINEARCH=win64
  "$here/../../scripts/wine-prefix.sh" "$QUARNEL_WINEPREFIX" win64 || exit 1
  trap 'WINEPREFIX="$QUARNEL_WINEPREFIX" wineserver -k 2>/dev/null' EXIT
  source "$here/../../scripts/wine-start.sh"
  start_prefix "$QUARNEL_WINEPREFIX" "$run"
fi
# Rows that the 64-bit prefix leaves to the first run: they are not about the registry.
once() { [ -z "$explorer64" ]; }
drive="$build/test-drive/ideapp"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quarnel'
clsid='{B49DBFBD-ABE8-493A-A11E-D4D2D38DD7A6}'
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }

# Every value below the keys given, one line each ("KEY | NAME TYPE DATA"),
# sorted (empty keys carry nothing and are left out).
values_below() {
  for key in "$@"; do
    "$run" reg query "$key" /s 2>/dev/null
  done | python3 -c '
import sys
key = None
for line in sys.stdin.read().replace("\r", "").split("\n"):
    if line.startswith("HKEY_"): key = line.strip()
    elif line.startswith("    ") and line.strip() and key: print(key + " | " + " ".join(line.split()))
' | sort
}
# The user's keys an installation may touch.
snapshot() {
  values_below 'HKCU\Software\Classes' 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall' \
               'HKCU\Software\Microsoft\Visual Basic' 'HKCU\Software\VB and VBA Program Settings'
}
# The whole of the user's hive, one line per value (Wine's own settings left out:
# the test sets some), for a run that must change nothing of the user's.
hive() {
  local file; file=$(mktemp --suffix=.reg)
  "$run" reg export HKCU "$(winpath "$file")" /y >/dev/null 2>&1
  python3 -c '
import sys
key = None
for line in open(sys.argv[1], "rb").read().decode("utf-16").replace("\r", "").split("\n"):
    if line.startswith("["): key = line
    elif line and key and not key.lower().startswith("[hkey_current_user\\software\\wine"): print(key + " " + line)
' "$file" | sort
  rm -f "$file"
}
# STATE SIGN WHAT: the hive, against STATE, changed in the add-in entry alone,
# each line of the change marked SIGN (">" written, "<" removed).
entry_alone() {
  local change; change=$(diff <(echo "$1") <(hive) | grep '^[<>]')
  [ -n "$change" ] && ! echo "$change" | grep -viqF "$2 [HKEY_CURRENT_USER${addin_key#HKCU}]" ||
    fail "$3: ${change:-nothing changed}"
}
value() { "$run" reg query "${2:-$uninstall_key}" /v "$1" 2>/dev/null | tr -d '\r' | awk -v n="$1" '$1 == n { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'; }
entries() { "$run" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall' 2>/dev/null | tr -d '\r' | grep -ci 'Uninstall\\Quarnel'; }
# Runs "$run" ARGS...; its exit status is the program's. With Wine's errors
# on (a program that Wine could not start says why only there), said with the
# exit status when the program fails.
traced() {
  local said code
  said=$(mktemp)
  WINEDEBUG="${WINEDEBUG:--all},err+all" "$run" "$@" 2>"$said"; code=$?
  [ "$code" = 0 ] && cat "$said" >&2 || { echo "exited with $code: $*"; sed 's/^/    /' "$said"; } >&2
  rm -f "$said"
  return "$code"
}
# Runs a command line as Windows' Active Setup does at a user's logon: the
# program and its arguments as Windows splits them (quoted words), the rest left
# to the program (cmd's operators to cmd). Its exit status is the command's.
run_stub() {
  local words=()
  [ -n "$explorer64" ] && words=("$(winpath "$explorer64")")
  while IFS= read -r -d '' word; do words+=("$word"); done < <(python3 -c '
import re, sys
for word in re.findall(r"(?:\"[^\"]*\"|[^\s\"])+", sys.argv[1]): sys.stdout.write(word.replace("\"", "") + "\0")
' "$1")
  traced "${words[@]}"
}

# Windows' value of an environment variable; the Unix path of a Windows one.
windows_env() { "$run" cmd /c echo "%$1%" | tr -d '\r'; }
unix() { "$run" winepath -u "$1" 2>/dev/null | tr -d '\r'; }
local_app_data=$(windows_env LOCALAPPDATA)
folder=$(unix "$local_app_data\\Programs\\Quarnel")
[ -n "$folder" ] || { echo "no path for $local_app_data"; exit 1; }

uninstaller="$local_app_data\\Programs\\Quarnel\\Uninstall.exe"
# For all users: the 32-bit Program Files folder, the machine's keys, and the
# entry that Active Setup runs at each user's logon.
program_files=$(windows_env ProgramFiles)
all_folder=$(unix "$program_files\\Quarnel")
all_uninstaller="$program_files\\Quarnel\\Uninstall.exe"
machine_uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quarnel'
active_setup_key='HKLM\Software\Microsoft\Active Setup\Installed Components\{B49DBFBD-ABE8-493A-A11E-D4D2D38DD7A6}'
addin_key='HKCU\Software\Microsoft\Visual Basic\6.0\Addins\Quarnel.Connect'
settings_key='HKCU\Software\VB and VBA Program Settings\Quarnel\Settings'
# The programs an installation runs, told by Wine that they run on Windows XP
# (its Version per program) for the rows that say so; the uninstaller runs as a
# copy of itself.
xp_programs=("$(basename "$installer")" Uninstall.exe Un.exe regsvr32.exe quarnel_ide.exe)
windows_xp() {  # on|off
  for program in "${xp_programs[@]}"; do
    if [ "$1" = on ]; then "$run" reg add "HKCU\\Software\\Wine\\AppDefaults\\$program" /v Version /d winxp /f >/dev/null
    else "$run" reg delete "HKCU\\Software\\Wine\\AppDefaults\\$program" /f >/dev/null 2>&1; fi
  done
}
# Runs a command with Wine's trace of the version it reports: every program the
# command started must have been told Windows XP (5.1), but Wine's own desktop
# (explorer.exe, started with the first window).
on_xp() {
  local trace saved="${WINEDEBUG:--all}" code
  trace=$(mktemp)
  export WINEDEBUG="$saved,+ver,+loaddll"
  "$@" 2>"$trace"; code=$?
  export WINEDEBUG="$saved"
  grep -v ':trace:\(ver\|loaddll\):' "$trace" >&2  # the rest, a heap check's report too
  grep -q 'version_init got 5\.1 ' "$trace" || fail "no program of \"$*\" was told Windows XP"
  # The program of each thread told another version: the first program its thread loaded.
  for thread in $(grep 'version_init got ' "$trace" | grep -v 'got 5\.1 ' | cut -d: -f1); do
    program=$(grep -m1 "^$thread:trace:loaddll:.*Loaded .*\.exe" "$trace" | sed 's/.*Loaded L"//; s/".*//')
    [ "$program" = 'C:\\windows\\system32\\explorer.exe' ] || fail "$program was not told Windows XP"
  done
  rm -f "$trace"
  return $code
}
user_class_key="HKCU\\Software\\Classes\\CLSID\\$clsid\\InprocServer32"
# The keys of the class's registration, below a Software\Classes.
class_keys=("Quarnel.Connect" "CLSID\\$clsid" "Interface\\{194B1080-1712-41FF-8791-B541F9977306}"
            "TypeLib\\{D6C1C353-BB8B-4E84-9B09-B25DBB389205}")
# The machine's registration, every value as a 32-bit program sees it.
registration() { values_below "${class_keys[@]/#/HKLM\\Software\\Classes\\}"; }
# What an installation for all users is: the machine's keys and the files.
machine_state() {
  registration
  for key in "$machine_uninstall_key" "$active_setup_key"; do
    "$run" reg query "$key" /s 2>/dev/null | tr -d '\r'
  done
  (cd "$all_folder" 2>/dev/null && sha256sum ./*)
}
# The Windows Installer package, run quietly by Wine's own msiexec, its log in
# $msi_log: msi ACTION PACKAGE [PROPERTY=VALUE...]; its exit status (1603, a
# refusal or a failure, is 67 to the shell, which keeps 8 bits).
msi_package="$build/installer/Quarnel-$version.msi"
msi_log="$build/msiexec.log"
msi() { "$run" msiexec "$1" "$(winpath "$2")" /qn /l*v "$(winpath "$msi_log")" "${@:3}"; }
# Where Windows keeps what it replaces or removes at its next start.
session_manager='HKLM\System\CurrentControlSet\Control\Session Manager'
# PACKAGE installed with its interface, as an administrator double-clicks it,
# where it must refuse: prints the text of the box that says why (Wine's
# msiexec logs no launch condition's text), and exits with msiexec's status.
msi_refusal() {
  local shown
  "$run" msiexec /i "$(winpath "$1")" </dev/null >/dev/null 2>&1 & shown=$!
  "$run" "$setup_user" box "Install Failed" ok | tr -d '\r'
  wait "$shown"
}
# 64-bit Windows' own registry view (its policies, the machine's compatibility
# settings), where a 64-bit prefix has one: the 64-bit reg.
reg64() { if [ -n "$explorer64" ]; then traced "$(winpath "$explorer64")" reg "$@"; else "$run" reg "$@"; fi; }
# Whether Add/Remove Programs lists the package PACKAGE's product, by its code
# (in either view: Wine keeps a 32-bit package's in the 32-bit one).
listed() {
  local code; code=$(msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }')
  "$run" reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$code" >/dev/null 2>&1 ||
    reg64 query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$code" >/dev/null 2>&1
}
# An uninstaller copies itself into the temporary folder ("~nsu1.tmp\Un.exe")
# and runs from there. This waits, half a minute at the most, until FOLDER is
# gone, then until no such copy runs (the user's part follows the folder). The
# other installer test, the only other that uninstalls, shares this one's locks.
wait_for_uninstallers() {  # FOLDER
  for _ in $(seq 150); do [ -e "$1" ] || break; sleep 0.2; done
  for _ in $(seq 150); do
    grep -qsa '\\~nsu[0-9A-F]*\.tmp\\' /proc/[0-9]*/cmdline || return 0
    sleep 0.2
  done
  fail "an uninstaller still runs after half a minute"
}
uninstall() { "$run" "$uninstaller" /S; wait_for_uninstallers "$folder"; }
uninstall_all() { "$run" "$all_uninstaller" /S "$@"; wait_for_uninstallers "$all_folder"; }  # [/ELEVATED]
# Leftovers of an interrupted run go first; a fresh user has no setting of the add-in.
windows_xp off
[ -f "$folder/Uninstall.exe" ] && uninstall
[ -f "$all_folder/Uninstall.exe" ] && uninstall_all
"$run" reg delete "$session_manager" /v PendingFileRenameOperations /f >/dev/null 2>&1
for package in "$msi_package" "$build/installer/Quarnel-1.00.msi"; do [ -f "$package" ] && listed "$package" && msi /x "$package"; done
sleep 2; rm -rf "$all_folder"
sleep 2; rm -rf "$folder"; "$run" reg delete "$uninstall_key" /f >/dev/null 2>&1
"$run" reg delete 'HKCU\Software\VB and VBA Program Settings\Quarnel' /f >/dev/null 2>&1
"$run" 'D:\ideapp\program\quarnel_ide.exe' --register-typelibs >/dev/null || exit 1
before=$(snapshot)

install() {  # INSTALLER [MODE]
  "$run" "$(winpath "$1")" /S "${@:2}"
  local code=$?
  [ "$code" = 0 ] || fail "$(basename "$1") /S ${*:2} exited with $code"
}

# The stand-in IDE program finds the installed add-in at start and a click saves
# the sample project. With "--merge", the user's class keys are first shown to COM
# as Windows shows them: Wine 8 looks only at the machine's.
use_the_ide() {
  local merged=""
  if [ "${1:-}" = "--merge" ]; then
    merged=$(mktemp -d)
    for key in "${class_keys[@]}"; do
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
  "$run" "${ide:-D:\ideapp\program\quarnel_ide.exe}" --script "$(winpath "$here/use.script")" </dev/null ||
    fail "the stand-in IDE did not save through the installed add-in"
  if [ -n "$merged" ]; then
    for key in "${class_keys[@]}"; do
      "$run" reg delete "HKLM\\Software\\Classes\\$key" /f >/dev/null 2>&1
    done
    rm -rf "$merged"
  fi
}

# A running IDE that holds the installed add-in's DLL (hold.script), until the
# user closes it (release_the_dll). $held is a folder for the row's files.
hold_the_dll() {
  held=$(mktemp -d)
  "$run" 'D:\ideapp\program\quarnel_ide.exe' --script "$(winpath "$here/hold.script")" >"$held/out.txt" 2>&1 </dev/null &
  holder=$!
  for _ in $(seq 150); do grep -qs 'add-in connected' "$held/out.txt" && break; sleep 0.2; done
  grep -q 'add-in connected' "$held/out.txt" || fail "the IDE did not load the add-in: $(cat "$held/out.txt")"
}
release_the_dll() {
  "$run" taskkill /F /IM quarnel_ide.exe >/dev/null 2>&1
  wait "$holder"
  rm -rf "$held"
}

# The installer's first page, as the user meets it: the interactive installer
# runs while the user (setup_user.exe) reads its controls, one line each
# (class|checked|text), and "photograph NAME" takes its picture (the stand-in
# IDE program's screenshot) into $pictures.
pictures="$build/installer-output"
title="Quarnel $version Setup"
setup_user=$(winpath "$build/installer/setup_user.exe")
open_installer() { "$run" "$(winpath "$installer")" </dev/null >/dev/null 2>&1 & shown=$!; }
read_page() { "$run" "$setup_user" read "$title" | tr -d '\r'; }
close_installer() { "$run" taskkill /F /IM "$(basename "$installer")" >/dev/null 2>&1; wait "$shown"; }
photograph() {
  printf 'window-screenshot "%s" %s\r\n' "$title" "$1" >"$pictures/$1.script"
  "$run" 'D:\ideapp\program\quarnel_ide.exe' --output "$(winpath "$pictures")" \
    --script "$(winpath "$pictures/$1.script")" </dev/null >"$pictures/out.txt" 2>&1 &&
    python3 "$here/../../scripts/bmp2png.py" "$pictures/$1.bmp" >/dev/null 2>&1 ||
    fail "no picture $1 of the installer's first page: $(cat "$pictures/out.txt")"
}
# ROW me|everyone [SENTENCE [PICTURE]]: the first page's default mode, and why
# it says so; its picture, taken once.
usual="If you run the Visual Basic 6.0 IDE as administrator, choose everyone on this computer."
elevated="Your Visual Basic 6.0 IDE is set to run as administrator"
expect_default() {
  local radio="For &me only" page
  [ "$2" = everyone ] && radio="For &everyone"
  open_installer
  page=$(read_page)
  [ -n "${4:-}" ] && once && photograph "$4"
  close_installer
  echo "$page" | grep -q "^Button|checked|$radio" && echo "$page" | grep -qF "${3:-$usual}" ||
    fail "$1: the first page should choose \"$radio\" and say \"${3:-$usual}\", it shows: $page"
}

# The stand-in IDE program as VB6's setup registers the IDE: VB6.EXE in the
# folder its ProductDir names (below a folder of a long name, as VB6's own), in
# the 32-bit view, where VB6's 32-bit setup writes it. The user has what many
# have and what does not elevate: Windows XP SP3 compatibility, and a shortcut
# to the IDE in their Start menu. UAC is on, as on Windows (Wine's own prefix
# says it is off: everything runs as an administrator there).
ide_exe='D:\ideapp\Microsoft Visual Studio\VB98\VB6.EXE'
ide_dir="$drive/Microsoft Visual Studio/VB98"  # with the type libraries the stand-in loads from beside it
mkdir -p "$ide_dir" && cp "$drive/program/"{MSO.DLL,VB6EXT.OLB} "$ide_dir/" && cp "$drive/program/quarnel_ide.exe" "$ide_dir/VB6.EXE"
vb6_setup_key='HKLM\Software\Microsoft\VisualStudio\6.0\Setup\Microsoft Visual Basic'
layers='Software\Microsoft\Windows NT\CurrentVersion\AppCompatFlags\Layers'
uac_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Policies\System'
start_menu="$(windows_env APPDATA)\Microsoft\Windows\Start Menu\Programs\Microsoft Visual Basic 6.0"
desktop_link="$(windows_env PUBLIC)\Desktop\Visual Basic 6.0.lnk"
# The user's compatibility settings for the IDE.
user_layer() { "$run" reg add "HKCU\\$layers" /v "$ide_exe" /d "$1" /f >/dev/null; }
# LINK TARGET [runas]: a shortcut as the shell makes it; "runas" ticks its "Run as
# administrator", the flag SLDF_RUNAS_USER (0x2000) of the link's header.
shortcut() {
  printf 'Set s = CreateObject("WScript.Shell").CreateShortcut(WScript.Arguments(0))\r\ns.TargetPath = WScript.Arguments(1)\r\ns.Save\r\n' >"$build/shortcut.vbs"
  "$run" cscript //nologo "$(winpath "$build/shortcut.vbs")" "$1" "$2" && { [ "${3:-}" != runas ] || python3 -c '
import sys; f = open(sys.argv[1], "r+b"); f.seek(0x15); flags = f.read(1)[0]; f.seek(0x15); f.write(bytes([flags | 0x20]))' "$(unix "$1")"; }
}
# An interrupted run's ways to start the IDE as administrator for every user go first.
rm -f "$(unix "$desktop_link")"; reg64 delete "HKLM\\$layers" /v "$ide_exe" /f >/dev/null 2>&1
uac=$(reg64 query "$uac_key" /v EnableLUA 2>/dev/null | tr -d '\r' | awk '$1 == "EnableLUA" { print $3 }')
{ reg64 add "$uac_key" /v EnableLUA /t REG_DWORD /d 1 /f >/dev/null &&
  "$run" reg add "$vb6_setup_key" /v ProductDir /d "${ide_exe%\\*}" /f >/dev/null &&
  user_layer '~ WINXPSP3' &&
  mkdir -p "$(unix "$start_menu")" &&
  shortcut "$start_menu\Visual Basic 6.0.lnk" "$ide_exe"; } ||
  fail "cannot register the stand-in IDE program as VB6.EXE"
# Its folder as a program may store it: by its short 8.3 name (as dir /x lists it).
ide_short="D:\\ideapp\\$("$run" cmd /c dir /x 'D:\ideapp' | tr -d '\r' | awk '/ Microsoft Visual Studio$/ { print $(NF - 3) }')\\VB98"
[[ "$ide_short" == *"~"*"\VB98" ]] || fail "no short name for the IDE's folder: $ide_short"

echo "--- the installer's first page follows the way the IDE starts"
once && rm -rf "$pictures" && mkdir -p "$pictures"
expect_default "nothing sets the IDE to run as administrator" me "" installer-mode-page
user_layer '~ RUNASADMIN WINXPSP3'
expect_default "the user's compatibility settings" everyone "$elevated (in its compatibility settings), so it can load Quarnel only if Quarnel is installed for everyone on this computer." \
  installer-mode-page-admin
reg64 add "$uac_key" /v EnableLUA /t REG_DWORD /d 0 /f >/dev/null
expect_default "UAC turned off" me
reg64 add "$uac_key" /v EnableLUA /t REG_DWORD /d 1 /f >/dev/null
user_layer '~ WINXPSP3'
# An administrator's IDE runs with the highest rights its account has (the test's user is one);
# VB6's setup key names its folder by the short name.
reg64 add "HKLM\\$layers" /v "$ide_exe" /d 'RUNASHIGHEST' /f >/dev/null
"$run" reg add "$vb6_setup_key" /v ProductDir /d "$ide_short" /f >/dev/null
[ -n "$explorer64" ] && "$run" reg query "HKLM\\$layers" /v "$ide_exe" >/dev/null 2>&1 &&
  fail "the 64-bit view's compatibility settings are seen in the 32-bit one: the row proves nothing"
expect_default "the machine's compatibility settings (RUNASHIGHEST), the IDE's short name" everyone "$elevated (in its compatibility settings for all users)"
reg64 delete "HKLM\\$layers" /v "$ide_exe" /f >/dev/null
"$run" reg add "$vb6_setup_key" /v ProductDir /d "${ide_exe%\\*}" /f >/dev/null
shortcut "$desktop_link" "$ide_short\\vb6.exe" runas || fail "cannot make a shortcut marked Run as administrator"
expect_default "a shortcut marked Run as administrator, its target by the short name" everyone "$elevated (by its shortcut \"Visual Basic 6.0\" on the desktop for all users)"
rm -f "$(unix "$desktop_link")"

if once; then
echo "--- set to run as administrator: the first page says so, and for me only is warned of"
user_layer '~ RUNASADMIN'
open_installer
"$run" "$setup_user" click "$title" "For &me only (no administrator needed)" &&
  "$run" "$setup_user" click "$title" "&Next >" || fail "cannot choose for me only"
box=$("$run" "$setup_user" box "$title" no | tr -d '\r')
[[ "$box" == *"$elevated (in its compatibility settings). Started that way, it will not load a copy of Quarnel installed for you only"*"Install for you only anyway?"* ]] ||
  fail "no warning on for me only: $box"
read_page | grep -q "^Button|checked|For &me only" || fail "answered No, the first page did not stay: $(read_page)"
"$run" "$setup_user" click "$title" "&Next >"
"$run" "$setup_user" box "$title" yes >/dev/null || fail "no warning on for me only, the second time"
read_page | grep -qF "|$local_app_data\Programs\Quarnel" ||
  fail "answered Yes, the next page does not propose the folder for me only: $(read_page)"
close_installer
echo "--- the same, silent with no mode given: installed for everyone, which the IDE started as VB6.EXE loads"
install "$installer"
[ "$(value DisplayName "$machine_uninstall_key")" = "Quarnel (Visual Basic 6.0 add-in)" ] && [ ! -e "$folder" ] ||
  fail "the silent default did not install for everyone"
ide="$ide_exe" use_the_ide
uninstall_all
after=$(snapshot)
[ "$after" = "$before" ] || fail "registry not as it was after the silent default: $(diff <(echo "$before") <(echo "$after"))"
"$run" reg delete "$active_setup_key" /f >/dev/null 2>&1
user_layer '~ WINXPSP3'

# Run as the user who starts it: Windows asks for no rights before the first
# page (only "for everyone" starts it again elevated).
grep -aq 'requestedExecutionLevel level="asInvoker"' "$installer" ||
  fail "the installer asks Windows for rights at start: $(grep -ao 'requestedExecutionLevel level="[A-Za-z]*"' "$installer")"
fi

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

echo "--- installed again, the IDE set to run as administrator: still for me only, the Add-In Manager's choice (LoadBehavior 0) kept"
"$run" reg add "$addin_key" /v LoadBehavior /t REG_DWORD /d 0 /f >/dev/null
user_layer '~ RUNASADMIN'
expect_default "a copy for me only installed, the IDE set to run as administrator" me "$elevated (in its compatibility settings)"
install "$installer"
user_layer '~ WINXPSP3'
[ "$(entries)" = 1 ] || fail "$(entries) entries in Add/Remove Programs"
"$run" reg query "$machine_uninstall_key" >/dev/null 2>&1 && fail "installing again with no mode installed for all users"
[ "$(value LoadBehavior "$addin_key")" = 0x0 ] || fail "installing again: LoadBehavior $(value LoadBehavior "$addin_key")"
[ -f "$folder/Quarnel.ini" ] || fail "installing again lost the Default folder"

echo "--- uninstalled"
uninstall
[ -e "$folder" ] && fail "left behind: $(ls -A "$folder")"
after=$(snapshot)
[ "$after" = "$before" ] || fail "registry not as it was: $(diff <(echo "$before") <(echo "$after"))"

if once; then
echo "--- the 1.00 installer, used, then this one over it: the Default folder stays"
install "$older"
grep -q "Quarnel 1.00 " "$folder/README.txt" || fail "the older read-me is not there"
[ "$(value DisplayVersion)" = "1.00" ] || fail "older DisplayVersion: $(value DisplayVersion)"
printf '[FOLDER]\r\nDefaultFolder=C:\\Mine\r\n' >"$folder/Quarnel.ini"
install "$installer"
[ "$(cat "$folder/Quarnel.ini" 2>/dev/null)" = "$(printf '[FOLDER]\r\nDefaultFolder=C:\\Mine\r\n')" ] ||
  fail "the upgrade from 1.00 lost the Default folder"
grep -q "Quarnel $version " "$folder/README.txt" || fail "the newer read-me did not replace the older"
[ "$(value DisplayVersion)" = "$version" ] || fail "upgraded DisplayVersion: $(value DisplayVersion)"
[ "$(entries)" = 1 ] || fail "$(entries) entries after the upgrade"
"$run" reg query "HKCU\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" >/dev/null 2>&1 || fail "not registered after the upgrade"
uninstall
[ -e "$folder" ] && fail "left behind after the upgrade: $(ls -A "$folder")"
after=$(snapshot)
[ "$after" = "$before" ] || fail "registry not as it was after the upgrade: $(diff <(echo "$before") <(echo "$after"))"
fi

echo "--- for me only, used, then for all users over it: one registration, no one's Quarnel.ini, the user's DisplayOnConnect"
install "$installer"
printf '[FOLDER]\r\nDefaultFolder=C:\\Mine\r\n' >"$folder/Quarnel.ini"
"$run" reg add "$settings_key" /v DisplayOnConnect /d 1 /f >/dev/null
"$run" "$(winpath "$installer")" /S /ALLUSERS || fail "/S /ALLUSERS exited with $?"
[ "$(value DisplayOnConnect "$settings_key")" = 1 ] || fail "the move to all users lost the user's DisplayOnConnect"
[ -e "$all_folder/Quarnel.ini" ] && fail "the user's Quarnel.ini was moved where every user's IDE reads it"
[ -e "$folder" ] && fail "the copy for this user is still there: $(ls -A "$folder")"
[ "$(entries)" = 0 ] || fail "this user's Add/Remove Programs entry is still there"
"$run" reg query 'HKCU\Software\Classes' /s 2>/dev/null | grep -qi -e "$clsid" -e 'Quarnel' &&
  fail "something of Quarnel below the user's classes"
for file in Quarnel.dll README.txt Uninstall.exe; do [ -f "$all_folder/$file" ] || fail "no $file in $all_folder"; done
"$run" reg query "HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" >/dev/null 2>&1 || fail "not registered for the machine"
[ "$(value DisplayName "$machine_uninstall_key")" = "Quarnel (Visual Basic 6.0 add-in)" ] || fail "no entry for all users"
"$run" reg query "$addin_key" /v FriendlyName >/dev/null 2>&1 || fail "no add-in entry for the installing user"

echo "--- regsvr32 /u /n /i:addin removes the user's add-in entry and nothing else"
state=$(snapshot; machine_state)
"$run" regsvr32 /s /u /n /i:addin "$program_files\\Quarnel\\Quarnel.dll" || fail "regsvr32 /u /n /i:addin failed"
removed=$(diff <(echo "$state") <(snapshot; machine_state) | grep -v '^[0-9]')
[ -n "$removed" ] && ! echo "$removed" | grep -qv '^< HKEY_CURRENT_USER\\Software\\Microsoft\\Visual Basic\\6.0\\Addins\\Quarnel.Connect ' ||
  fail "regsvr32 /u /n /i:addin: $removed"

echo "--- another user's first logon: Active Setup's command writes their add-in entry"
stub=$(value StubPath "$active_setup_key")
install_stub=$stub
installed_version=$(value Version "$active_setup_key")
[ -n "$stub" ] || fail "no Active Setup command"
run_stub "$stub" || fail "the Active Setup command failed: $stub"
"$run" reg query "$addin_key" /v LoadBehavior >/dev/null 2>&1 || fail "the Active Setup command wrote no add-in entry"

echo "--- the IDE finds it and a click saves (for all users)"
use_the_ide

if [ -n "$explorer64" ]; then
echo "--- the Windows Installer package over this copy for everyone: refused, saying why, nothing changed"
state=$(machine_state)
box=$(msi_refusal "$msi_package"); code=$?
[ "$code" = 67 ] && [[ "$box" == *"already installed for everyone on this computer by its setup program, in $program_files\Quarnel"* ]] ||
  fail "the package over the setup program's copy exited with $code: $box"
[ "$(machine_state)" = "$state" ] || fail "the refused package changed: $(diff <(echo "$state") <(machine_state))"
fi

echo "--- upgraded with no mode given: still for all users, the user's LoadBehavior 0 stays, through Active Setup's run too"
"$run" reg add "$addin_key" /v LoadBehavior /t REG_DWORD /d 0 /f >/dev/null
install "$installer"
[ -e "$folder" ] && fail "the upgrade with no mode installed a copy for me only"
[ "$(value LoadBehavior "$addin_key")" = 0x0 ] || fail "the upgrade: LoadBehavior $(value LoadBehavior "$addin_key")"
run_stub "$(value StubPath "$active_setup_key")" || fail "the Active Setup command failed after the upgrade"
[ "$(value LoadBehavior "$addin_key")" = 0x0 ] || fail "Active Setup's run: LoadBehavior $(value LoadBehavior "$addin_key")"

echo "--- for me only beside it, then the installer's elevated copy alone (as another account): its entry written, nothing else"
install "$installer" /CURRENTUSER
# That account's entry holds its Add-In Manager choice alone: the rest is written, the choice kept.
"$run" reg delete "$addin_key" /va /f >/dev/null
"$run" reg add "$addin_key" /v LoadBehavior /t REG_DWORD /d 0 /f >/dev/null
state=$(hive)
"$run" "$(winpath "$installer")" /S /ALLUSERS /ELEVATED || fail "/S /ALLUSERS /ELEVATED exited with $?"
entry_alone "$state" ">" "the elevated copy, in the user's hive"
"$run" reg query "HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" >/dev/null 2>&1 ||
  fail "the elevated copy did not register for the machine"

echo "--- the copy for me only uninstalled: the entry stays for the copy for everyone, LoadBehavior 0 too"
uninstall
[ "$(value LoadBehavior "$addin_key")" = 0x0 ] ||
  fail "uninstalling for me only beside the copy for everyone: LoadBehavior $(value LoadBehavior "$addin_key")"
"$run" reg add "$addin_key" /v LoadBehavior /t REG_DWORD /d 1 /f >/dev/null
"$run" reg query "HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" >/dev/null 2>&1 || fail "the machine's registration went"
[ -f "$all_folder/Quarnel.dll" ] || fail "the copy for everyone went"

if once; then
echo "--- a running IDE holds the DLL: the installer and the uninstaller change nothing"
hold_the_dll
state=$(machine_state)
"$run" "$(winpath "$installer")" /S /ALLUSERS; code=$?
[ "$code" = 4 ] || fail "the installer, while the DLL was in use, exited with $code"
# In place (_?=, unquoted, as NSIS wants it), so that its exit status is its own.
printf '"%s" /S _?=%s\r\nexit /b %%ERRORLEVEL%%\r\n' "$all_uninstaller" "$program_files\\Quarnel" >"$held/uninstall.bat"
"$run" cmd /c "$(winpath "$held/uninstall.bat")"; code=$?
[ "$code" = 4 ] || fail "the uninstaller, while the DLL was in use, exited with $code"
[ "$(machine_state)" = "$state" ] ||
  fail "changed while the DLL was in use: $(diff <(echo "$state") <(machine_state))"
release_the_dll
fi

echo "--- uninstalled (all users): the user's Quarnel.ini in Windows' file virtualisation store goes too"
virtual_store=$(unix "$local_app_data\\VirtualStore\\${program_files:3}\\Quarnel")
mkdir -p "$virtual_store" && printf '[FOLDER]\r\nDefaultFolder=C:\\Mine\r\n' >"$virtual_store/Quarnel.ini" ||
  fail "cannot play the IDE's Quarnel.ini in the virtualisation store ($virtual_store)"
uninstall_all
[ -e "$all_folder" ] && fail "left behind for all users: $(ls -A "$all_folder")"
[ -e "$virtual_store" ] && fail "left behind in the virtualisation store: $(ls -A "$virtual_store")"
for key in "HKLM\\Software\\Classes\\CLSID\\$clsid" 'HKLM\Software\Classes\Quarnel.Connect' \
           "$machine_uninstall_key"; do
  "$run" reg query "$key" >/dev/null 2>&1 && fail "left behind: $key"
done
after=$(snapshot)
[ "$after" = "$before" ] || fail "the user's registry not as it was: $(diff <(echo "$before") <(echo "$after"))"

echo "--- other users' next logon: Active Setup removes their entry, unless they have a copy of their own"
stub=$(value StubPath "$active_setup_key")
removal_version=$(value Version "$active_setup_key")
[ "${removal_version%%,*}" -gt "${installed_version%%,*}" ] 2>/dev/null ||
  fail "Active Setup entry after the uninstall: version $removal_version (installed: $installed_version), command $stub"
"$run" reg add "$addin_key" /v LoadBehavior /t REG_DWORD /d 1 /f >/dev/null
run_stub "$stub"
"$run" reg query "$addin_key" >/dev/null 2>&1 && fail "Active Setup left a removed add-in's entry: $stub"
# This other user has a copy of their own, installed or registered by hand.
own_dll='D:\ideapp\own\Quarnel.dll'
for own in installed "registered by hand"; do
  if [ "$own" = installed ]; then
    install "$installer"
  else
    mkdir -p "$drive/own" && cp "$build/src/Quarnel.dll" "$drive/own/" &&
      "$run" regsvr32 /s /n /i:user "$own_dll" || fail "cannot register a copy by hand"
  fi
  if [ -n "$explorer64" ]; then  # their class where Windows 7 and later keep a 32-bit program's, not Wine
    reg64 copy "HKCU\\Software\\Classes\\CLSID\\$clsid" "HKCU\\Software\\Classes\\Wow6432Node\\CLSID\\$clsid" /s /f >/dev/null &&
      reg64 delete "HKCU\\Software\\Classes\\CLSID\\$clsid" /f >/dev/null ||
      fail "cannot move the user's class"
  fi
  run_stub "$stub"
  "$run" reg query "$addin_key" /v LoadBehavior >/dev/null 2>&1 ||
    fail "Active Setup removed the entry of the user's own copy ($own)"
  if [ "$own" != installed ]; then  # the uninstaller's elevated copy spares it too (its account played by this one)
    "$run" "$(winpath "$installer")" /S /ALLUSERS /ELEVATED || fail "/S /ALLUSERS /ELEVATED exited with $?"
    uninstall_all /ELEVATED
    "$run" reg query "$addin_key" /v LoadBehavior >/dev/null 2>&1 ||
      fail "the uninstaller's elevated copy removed the entry of a copy registered by hand"
  fi
  [ -n "$explorer64" ] && reg64 delete 'HKCU\Software\Classes\Wow6432Node' /f >/dev/null
  if [ "$own" = installed ]; then
    uninstall
  else
    "$run" regsvr32 /s /u /n /i:user "$own_dll"
    rm -rf "$drive/own"
  fi
done
after=$(snapshot)
[ "$after" = "$before" ] || fail "the user's registry not as it was at the end: $(diff <(echo "$before") <(echo "$after"))"

if [ -n "$explorer64" ]; then
echo "--- the Windows Installer package, quiet: Active Setup's entry as the setup program's, above its removal; this user's entry at once"
removal_stub=$stub
# The entry as the last removal left it (the rows above installed and removed again).
removal_version=$(value Version "$active_setup_key")
msi /i "$msi_package" || fail "the package exited with $?"
cmp -s "$all_folder/Quarnel.dll" "$build/src/Quarnel.dll" && [ -f "$all_folder/README.txt" ] || fail "the package's files: $(ls -A "$all_folder")"
[ "$(value StubPath "$active_setup_key")" = "$install_stub" ] ||
  fail "the package's Active Setup command: $(value StubPath "$active_setup_key") (the setup program's: $install_stub)"
installed_version=$(value Version "$active_setup_key")
[ "${installed_version%%,*}" -gt "${removal_version%%,*}" ] 2>/dev/null ||
  fail "the package's Active Setup version $installed_version, after the removal's $removal_version"
"$run" reg query "$addin_key" /v LoadBehavior >/dev/null 2>&1 || fail "no add-in entry for the account that ran the package"

echo "--- an older package, and the setup program for everyone, over it: refused, saying why, nothing changed"
older_msi="$build/installer/Quarnel-1.00.msi"
# Its DLL another file than this one's (the same code, longer), and a registry
# row of its own that this version does not write.
older_files=$(mktemp -d)
retired_key='HKLM\Software\Quarnel'
{ cp "$build/src/Quarnel.dll" "$older_files/" && head -c 512 /dev/zero >>"$older_files/Quarnel.dll" &&
  sed 's|^</Include>|  <RegistryValue Root="HKLM" Key="Software\\Quarnel" Name="Retired" Type="string" Value="1.00"/>\n&|' \
    "$build/installer/msi/registry.wxi" >"$older_files/registry.wxi" &&
  python3 "$here/../msi/make_msi.py" "$older_msi" 1.0.0.0 "$older_files/Quarnel.dll" "$build/installer/msi/QuarnelActions.dll" \
    "$build/installer/older/README.txt" "$older_files/registry.wxi"; } || fail "cannot make the 1.00 package"
state=$(machine_state)
box=$(msi_refusal "$older_msi"); code=$?
[ "$code" = 67 ] && [[ "$box" == *"A newer version of Quarnel is already installed"* ]] ||
  fail "the older package over the newer exited with $code: $box"
for mode in "" /ALLUSERS; do
  "$run" "$(winpath "$installer")" /S $mode; code=$?
  [ "$code" = 6 ] || fail "the setup program /S $mode over the package's copy exited with $code"
done
[ "$(machine_state)" = "$state" ] && [ ! -e "$folder" ] ||
  fail "changed over the package's copy: $(diff <(echo "$state") <(machine_state)) $(ls -A "$folder" 2>/dev/null)"
expect_default "the package's copy for everyone" everyone
open_installer
"$run" "$setup_user" click "$title" "&Next >" || fail "cannot leave the first page"
box=$("$run" "$setup_user" box "$title" ok | tr -d '\r')
[[ "$box" == *"by its Windows Installer package"* ]] || fail "leaving the first page for everyone over the package's copy: $box"
close_installer

echo "--- the package's registry is regsvr32 /n /i:machine's, value by value; repaired as it was"
written=$(registration)
"$run" regsvr32 /s /u /n /i:machine "$program_files\\Quarnel\\Quarnel.dll" && [ -z "$(registration)" ] &&
  "$run" regsvr32 /s /n /i:machine "$program_files\\Quarnel\\Quarnel.dll" || fail "regsvr32 [/u] /n /i:machine failed"
[ -n "$written" ] && [ "$(registration)" = "$written" ] ||
  fail "the package's registry is not regsvr32's: $(diff <(echo "$written") <(registration))"
rm -f "$all_folder/Quarnel.dll" && "$run" reg delete "HKLM\\Software\\Classes\\CLSID\\$clsid" /f >/dev/null
# Repaired as "msiexec /fomus" asks (Wine's msiexec has no /f of its own).
msi /i "$msi_package" REINSTALL=ALL REINSTALLMODE=omus || fail "the repair exited with $?"
cmp -s "$all_folder/Quarnel.dll" "$build/src/Quarnel.dll" && [ "$(registration)" = "$written" ] ||
  fail "not repaired: $(ls -A "$all_folder") $(diff <(echo "$written") <(registration))"

echo "--- another user's logon: Active Setup's command writes their entry; the IDE started as VB6.EXE loads it and saves"
"$run" reg delete "$addin_key" /f >/dev/null
run_stub "$(value StubPath "$active_setup_key")" && "$run" reg query "$addin_key" /v LoadBehavior >/dev/null 2>&1 ||
  fail "the package's Active Setup command wrote no entry"
ide="$ide_exe" use_the_ide

echo "--- removed (msiexec /x): the machine's registry and Program Files as before, Active Setup's removal as the setup program's"
installed_version=$(value Version "$active_setup_key")
mkdir -p "$virtual_store" && printf '[FOLDER]\r\nDefaultFolder=C:\\Mine\r\n' >"$virtual_store/Quarnel.ini"
# The Default folder of the IDE just used, beside the DLL, is kept aside while
# the removal can be rolled back, and goes when it is done.
[ -f "$all_folder/Quarnel.ini" ] || fail "the IDE wrote no Quarnel.ini beside the package's DLL"
kept_ini=$(unix "$(windows_env TEMP)\Quarnel.ini.kept")
msi /x "$msi_package" || fail "msiexec /x exited with $?"
[ -z "$(registration)" ] && [ ! -e "$all_folder" ] && ! listed "$msi_package" ||
  fail "left behind by msiexec /x: $(registration) $(ls -A "$all_folder" 2>/dev/null)"
[ -e "$kept_ini" ] && fail "msiexec /x left the Default folder's Quarnel.ini aside: $kept_ini"
removal_version=$(value Version "$active_setup_key")
[ "$(value StubPath "$active_setup_key")" = "$removal_stub" ] && [ "${removal_version%%,*}" -gt "${installed_version%%,*}" ] ||
  fail "Active Setup's entry after msiexec /x: version $removal_version (installed: $installed_version), $(value StubPath "$active_setup_key")"
"$run" reg query "$addin_key" >/dev/null 2>&1 && fail "msiexec /x left the entry of the account that ran it"
[ -e "$virtual_store" ] && fail "msiexec /x left its Quarnel.ini in the virtualisation store"
# The add-in's own setting stays, as every other user's does.
"$run" reg delete 'HKCU\Software\VB and VBA Program Settings\Quarnel' /f >/dev/null 2>&1

echo "--- a copy of the package that fails at its last step: rolled back, this user's new entry too, an entry there before kept"
# FailLate, run last when FAIL_LATE is given, fails: made here, never shipped.
failing_msi="$build/installer/Quarnel-failing.msi"
cp "$msi_package" "$failing_msi" && msibuild "$failing_msi" \
  -q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('FailLate', 1025, 'Actions', 'RunForUser')" \
  -q "INSERT INTO \`Property\` (\`Property\`, \`Value\`) VALUES ('FailLate', 'cmd.exe /c exit 1')" \
  -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('FailLate', 'FAIL_LATE', 6599)" ||
  fail "cannot make the failing package"
for before in none 0; do
  [ "$before" = none ] || "$run" reg add "$addin_key" /v LoadBehavior /t REG_DWORD /d "$before" /f >/dev/null
  msi /i "$failing_msi" FAIL_LATE=1; code=$?
  [ "$code" = 67 ] || fail "the failing package exited with $code"
  [ -z "$(registration)" ] && [ ! -e "$all_folder" ] && ! listed "$failing_msi" ||
    fail "left behind by the failed installation: $(registration) $(ls -A "$all_folder" 2>/dev/null)"
  if [ "$before" = none ]; then
    "$run" reg query "$addin_key" >/dev/null 2>&1 && fail "the failed installation left this user's add-in entry"
  else
    [ "$(value LoadBehavior "$addin_key")" = "0x$before" ] ||
      fail "the failed installation, over this user's entry: LoadBehavior $(value LoadBehavior "$addin_key")"
  fi
done
"$run" reg delete "$addin_key" /f >/dev/null 2>&1
rm -f "$failing_msi"

echo "--- the 1.00 package, then this one over it while a running IDE holds its Quarnel.dll: one product, in place, exit 3010 and the file replaced at the next start; the 1.00 package's own row gone, every row of this one's there"
# Wine's msiexec removes the older version at once, in a msiexec of its own
# with no UPGRADINGPRODUCTCODE: that removal is an uninstall's, which takes
# this user's entry and the Default folder's Quarnel.ini (Windows Installer
# tells the package an upgrade's, which leaves both): not played here.
msi /i "$older_msi" || fail "the 1.00 package exited with $?"
[ "$(value Retired "$retired_key")" = 1.00 ] || fail "the 1.00 package did not write its own row"
hold_the_dll
msi /i "$msi_package"; code=$?
# 3010: done, a restart completes it (194 to the shell).
[ "$code" = 194 ] || fail "the upgrade while the IDE held Quarnel.dll exited with $code, not 3010"
pending=$("$run" reg query "$session_manager" /v PendingFileRenameOperations 2>/dev/null | tr -d '\r')
[[ "$pending" == *"$program_files\Quarnel\Quarnel.dll"* ]] || fail "nothing replaces Quarnel.dll at the next start: $pending"
release_the_dll
# Windows starts again: Wine's restart does what Windows does then, the renames first.
"$run" wineboot -r || fail "wineboot -r exited with $?"
cmp -s "$all_folder/Quarnel.dll" "$build/src/Quarnel.dll" && [ "$(ls -A "$all_folder" | tr '\n' ' ')" = "Quarnel.dll README.txt " ] ||
  fail "after the restart: $(ls -A "$all_folder")"
rm -rf "$older_files"
listed "$msi_package" && ! listed "$older_msi" || fail "the upgrade left these products listed: $(listed "$older_msi" && echo 1.00) $(listed "$msi_package" && echo "$version")"
"$run" reg query "$retired_key" >/dev/null 2>&1 && fail "the upgrade left the 1.00 package's own row: $retired_key"
[ "$(registration)" = "$written" ] || fail "the upgraded registration: $(diff <(echo "$written") <(registration))"
while IFS=$'\t' read -r root key name; do
  which=(/ve); [ -n "$name" ] && which=(/v "$name")
  [ "$root" = 2 ] && "$run" reg query "HKLM\\$key" "${which[@]}" >/dev/null 2>&1 ||
    fail "the upgrade lost a row of the package's registry table: $root $key ${name:-(default)}"
done < <(msiinfo export "$msi_package" Registry | tr -d '\r' | awk -F'\t' 'NR > 3 && $4 != "-" { print $2 "\t" $3 "\t" $4 }')
grep -q "Quarnel $version " "$all_folder/README.txt" || fail "the upgrade: $(head -1 "$all_folder/README.txt")"
"$run" reg query "$addin_key" /v LoadBehavior >/dev/null 2>&1 || fail "no add-in entry after the package's upgrade"
"$run" reg add "$addin_key" /v LoadBehavior /t REG_DWORD /d 0 /f >/dev/null
run_stub "$(value StubPath "$active_setup_key")" || fail "the package's Active Setup command failed"
[ "$(value LoadBehavior "$addin_key")" = 0x0 ] || fail "the package's Active Setup run: LoadBehavior $(value LoadBehavior "$addin_key")"
msi /x "$msi_package" && [ ! -e "$all_folder" ] && [ -z "$(registration)" ] || fail "the upgraded package was not removed"
fi
"$run" reg delete "$active_setup_key" /f >/dev/null 2>&1

if once; then
echo "--- on Windows XP: for me only, then for everyone, the IDE each time"
windows_xp on
# Windows XP has no UAC: an IDE started as administrator sees the user's classes.
user_layer '~ RUNASADMIN'
on_xp install "$installer"
user_layer '~ WINXPSP3'
"$run" reg query "$user_class_key" >/dev/null 2>&1 || fail "not registered for the user on Windows XP"
on_xp use_the_ide --merge
on_xp uninstall
[ -e "$folder" ] && fail "left behind on Windows XP: $(ls -A "$folder")"
after=$(snapshot)
[ "$after" = "$before" ] || fail "registry not as it was on Windows XP: $(diff <(echo "$before") <(echo "$after"))"
on_xp "$run" "$(winpath "$installer")" /S /ALLUSERS || fail "/S /ALLUSERS on Windows XP exited with $?"
"$run" reg query "HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" >/dev/null 2>&1 ||
  fail "not registered for the machine on Windows XP"
on_xp use_the_ide
echo "--- on Windows XP, the uninstaller's elevated copy alone (as another account): its entry goes, nothing else"
state=$(hive)
on_xp uninstall_all /ELEVATED
[ -e "$all_folder" ] && fail "left behind for all users on Windows XP: $(ls -A "$all_folder")"
entry_alone "$state" "<" "the uninstaller's elevated copy, in the user's hive"
"$run" reg query "HKLM\\Software\\Classes\\CLSID\\$clsid" >/dev/null 2>&1 && fail "the elevated copy left the machine's registration"
# What the user's copy then does: the setting goes.
"$run" reg delete 'HKCU\Software\VB and VBA Program Settings\Quarnel' /f >/dev/null 2>&1
"$run" reg delete "$active_setup_key" /f >/dev/null 2>&1
windows_xp off

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
# The package, signed (what Windows Installer reads of it, package.sh checks),
# listed in SHA256SUMS, installs the signed DLL.
signed_msi="$signing/dist/Quarnel-$version.msi"
verify "$signed_msi"
grep -q " Quarnel-$version.msi\$" "$signing/dist/SHA256SUMS" && (cd "$signing/dist" && sha256sum -c --quiet SHA256SUMS) ||
  fail "SHA256SUMS does not list the release: $(cat "$signing/dist/SHA256SUMS")"
msi /i "$signed_msi" && cmp -s "$all_folder/Quarnel.dll" "$signing/Quarnel/Quarnel.dll" ||
  fail "the signed package did not install the signed DLL: $(tail -3 "$msi_log")"
msi /x "$signed_msi" && [ ! -e "$all_folder" ] || fail "the signed package was not removed"
"$run" reg delete "$active_setup_key" /f >/dev/null 2>&1

echo "--- a signing that fails, of the uninstaller or of the installer, fails the package"
# osslsigncode as it is, but the n-th signing fails (1: the DLL, 2: the
# uninstaller, 3: the installer).
mkdir -p "$signing/failing"
for at in 2 3; do
  rm -f "$signing/failing/count"
  cat >"$signing/failing/osslsigncode" <<EOF
#!/bin/sh
n=\$((\$(cat "$signing/failing/count" 2>/dev/null || echo 0) + 1)); echo \$n >"$signing/failing/count"
[ \$n = $at ] && { echo "osslsigncode: the time-stamp server did not answer (planted)" >&2; exit 1; }
exec "$(command -v osslsigncode)" "\$@"
EOF
  chmod +x "$signing/failing/osslsigncode"
  PATH="$signing/failing:$PATH" QUARNEL_BUILD_DIR="$build" QUARNEL_DIST_DIR="$signing/failed" \
    QUARNEL_SIGN_PKCS12="$signing/test.p12" QUARNEL_SIGN_PASSWORD=test-only \
    "$here/../../scripts/package.sh" >"$signing/failed.log" 2>&1 && fail "package.sh succeeded though signing $at failed"
  [ "$(cat "$signing/failing/count")" = "$at" ] || fail "signing $at: $(cat "$signing/failing/count") signings"
  ls -d "$signing"/failed* 2>/dev/null | grep -qv 'failed.log$' && fail "signing $at failed, and package.sh left $(ls -d "$signing"/failed*)"
  grep -q 'planted' "$signing/failed.log" && grep -q 'package: FAILED' "$signing/failed.log" ||
    fail "signing $at failed, and package.sh did not say why: $(tail -3 "$signing/failed.log")"
done
rm -rf "$signing"
fi

"$run" reg delete "$vb6_setup_key" /f >/dev/null 2>&1
if [ -n "$uac" ]; then reg64 add "$uac_key" /v EnableLUA /t REG_DWORD /d $((uac)) /f >/dev/null
else reg64 delete "$uac_key" /v EnableLUA /f >/dev/null 2>&1; fi
"$run" reg delete "HKCU\\$layers" /v "$ide_exe" /f >/dev/null 2>&1
rm -rf "$(unix "$start_menu")"
rm -rf "$drive/Microsoft Visual Studio"

[ "$failures" = 0 ] && echo "installer${explorer64:+ (64-bit)}: 1 passed, 0 failed" || echo "installer: $failures failure(s)"
[ "$failures" = 0 ]
