#!/bin/sh
# Runs the stand-in IDE program's scripts as a fresh user would meet it: the
# IDE's type libraries and Quarnel.dll registered with regsvr32 in the test
# prefix, no settings yet, fresh copies of the sample project (in "work", and in
# "Inventory project", a folder with a short name of its own) and of the test
# data's "kinds" project, an empty destination. Usage: run_test.sh [--expect-crash] BUILD_DIR SAMPLE_DIR SCRIPT...
# Each script runs in a program of its own, in order; the test fails at the first
# that exits non-zero. Everything registered is unregistered at the end.
# --expect-crash turns it round, to test the test run: each program must crash,
# exit non-zero and report where (and what a script's "# report: TEXT" lines say).
# With QUARNEL_WINDOWS_XP=1, Wine tells the IDE program and regsvr32 that they
# run on Windows XP (its Version per program, set for this test only), and the
# registration shows that they were told so.
set -u
expect_crash=0
if [ "$1" = "--expect-crash" ]; then expect_crash=1; shift; fi
build="$1"; sample="$2"; shift 2
drive="$build/test-drive/ideapp"
run="$build/wine-run.sh"
out="$build/ideapp-test-output"
settings='HKCU\Software\VB and VBA Program Settings\Quarnel'

rm -f "$drive/addin/Quarnel.ini"
find "$drive/Default/Dest" -mindepth 1 ! -name .made -exec rm -rf {} + 2>/dev/null
rm -rf "$drive/work" "$drive/Inventory project" "$drive/kinds" "$out" &&
  mkdir -p "$drive/work" "$drive/Inventory project" "$out" && cp "$sample"/* "$drive/work/" &&
  cp "$sample"/* "$drive/Inventory project/" && cp -r "$(dirname "$0")/../../tests/data/kinds" "$drive/kinds"
"$run" reg delete "$settings" /f >/dev/null 2>&1
debug="${WINEDEBUG:--all}"
if [ -n "${QUARNEL_WINDOWS_XP:-}" ]; then
  xp_programs="quarnel_ide.exe regsvr32.exe"
  trap 'for p in $xp_programs; do "$run" reg delete "HKCU\\Software\\Wine\\AppDefaults\\$p" /f >/dev/null 2>&1; done' EXIT
  for p in $xp_programs; do
    "$run" reg add "HKCU\\Software\\Wine\\AppDefaults\\$p" /v Version /d winxp /f >/dev/null || exit 1
  done
  debug="$debug,+ver"
fi
registered=0
WINEDEBUG="$debug" "$run" 'D:\ideapp\program\quarnel_ide.exe' --register-typelibs 2>"$out/version.txt" &&
  WINEDEBUG="$debug" "$run" regsvr32 /s 'D:\ideapp\addin\Quarnel.dll' 2>>"$out/version.txt" && registered=1
grep -v ':trace:ver:' "$out/version.txt" >&2
[ "$registered" = 1 ] || { echo "run_test: registering the IDE's type libraries or regsvr32 failed" >&2; exit 1; }
if [ -n "${QUARNEL_WINDOWS_XP:-}" ] && [ "$(grep -c 'version_init got 5\.1 ' "$out/version.txt")" -lt 2 ]; then
  echo "run_test: the IDE program and regsvr32 were not both told Windows XP:" >&2
  grep 'version_init got ' "$out/version.txt" >&2
  "$run" regsvr32 /s /u 'D:\ideapp\addin\Quarnel.dll'
  exit 1
fi
status=0
for script in "$@"; do
  echo "--- $(basename "$script")"
  code=0
  "$run" 'D:\ideapp\program\quarnel_ide.exe' --output "Z:$(echo "$out" | tr / '\\')" \
    --script "Z:$(echo "$script" | tr / '\\')" </dev/null 2>"$out/stderr.txt" || code=$?
  cat "$out/stderr.txt" >&2
  if [ "$expect_crash" = 1 ]; then
    # A script's "# report: TEXT" lines: what its crash report must say.
    report=$(grep '^\[  CRASH   \] .* at 0x' "$out/stderr.txt")
    if [ "$code" = 0 ] || [ -z "$report" ]; then
      echo "run_test: expected a crash report and a failing exit status, got exit status $code" >&2
      status=1; break
    fi
    expected=$(sed -n 's/^# report: //p' "$script")
    if [ -n "$expected" ] && ! printf '%s\n' "$report" | grep -qF "$expected"; then
      echo "run_test: the crash report does not say \"$expected\"" >&2
      status=1; break
    fi
    echo "run_test: crashed as planted, exit status $code"
  elif [ "$code" != 0 ]; then
    status=1; break
  fi
done
"$run" regsvr32 /s /u 'D:\ideapp\addin\Quarnel.dll'
"$run" reg delete "$settings" /f >/dev/null 2>&1
exit $status
