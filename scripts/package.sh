#!/usr/bin/env bash
# The release package: builds, then writes dist/ (or $QUARNEL_DIST_DIR) with the
# installer (Quarnel-<version>-setup.exe: for the user or for all users), the
# Windows Installer package for administrators (Quarnel-<version>.msi: for
# everyone), a zip of Quarnel.dll with its Windows read-me (Quarnel-<version>.zip)
# and SHA256SUMS. The version is the project's (CMakeLists.txt), as in the DLL's
# version record.
#
# Signing (Authenticode, with osslsigncode): when QUARNEL_SIGN_PKCS12 names a
# PKCS#12 file (.pfx/.p12) holding a code-signing certificate and its key, and
# QUARNEL_SIGN_PASSWORD is its password, Quarnel.dll, the installer and the
# uninstaller inside it, the package's custom actions and the package are signed
# (QUARNEL_SIGN_TIMESTAMP: a timestamp server's URL, optional). The package is
# made again around the signed DLLs, and its signature must leave what Windows
# Installer reads of it (its summary, tables and streams) as it was. Without
# them the release is unsigned, and this says so. Any signing that fails (a
# time-stamp server that does not answer, a full disk) fails the package, and
# nothing is left in the distribution folder.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${QUARNEL_BUILD_DIR:-$root/build}"
dist="${QUARNEL_DIST_DIR:-$root/dist}"

"$root/scripts/build.sh" --shipped
version=$(sed -n 1p "$build/version.txt")
numeric=$(sed -n 2p "$build/version.txt")
# Made beside the distribution folder, and put in its place only when whole.
final="$dist"
dist="$final.partial"
stage=""
finish() {
  local status=$?
  [ -n "$stage" ] && rm -rf "$stage"
  if [ "$status" != 0 ]; then
    rm -rf "$dist"
    echo "package: FAILED (exit status $status; see above): nothing written to $final" >&2
  fi
}
trap finish EXIT
rm -rf "$final" "$dist"
mkdir -p "$dist"
installer="Quarnel-$version-setup.exe"
msi="Quarnel-$version.msi"
dll="$build/src/Quarnel.dll"
# What Windows Installer reads of a package, a line each: its summary, and the
# digest of each table and of each stream (those whose names begin with \005
# are the summary's and the signature's).
# (In the staging folder: msiinfo export writes a table's streams into a folder
# of the table's name.)
installer_reads() (
  msi=$(realpath "$1")
  cd "$stage"
  msiinfo suminfo "$msi"
  for table in $(msiinfo tables "$msi"); do echo "$table $(msiinfo export "$msi" "$table" | sha256sum)"; done
  msiinfo streams "$msi" | grep -v $'^\005' | while IFS= read -r stream; do
    echo "$stream $(msiinfo extract "$msi" "$stream" | sha256sum)"
  done
)
if [ -n "${QUARNEL_SIGN_PKCS12:-}" ]; then
  [ -f "$QUARNEL_SIGN_PKCS12" ] || { echo "package: no certificate file $QUARNEL_SIGN_PKCS12" >&2; exit 2; }
  [ -n "${QUARNEL_SIGN_PASSWORD+set}" ] || { echo "package: QUARNEL_SIGN_PASSWORD is not set" >&2; exit 2; }
  stage=$(mktemp -d)
  # One signing command for every file, "%1" being the file: signed into a copy
  # that then replaces it (makensis runs it for the installer and the uninstaller).
  sign="osslsigncode sign -pkcs12 '$QUARNEL_SIGN_PKCS12' -readpass '$stage/password' -h sha256 -n Quarnel"
  [ -n "${QUARNEL_SIGN_TIMESTAMP:-}" ] && sign+=" -ts '$QUARNEL_SIGN_TIMESTAMP'"
  sign+=" -in '%1' -out '%1.signed' >/dev/null && mv '%1.signed' '%1'"
  printf '%s' "$QUARNEL_SIGN_PASSWORD" >"$stage/password"
  cp "$dll" "$stage/Quarnel.dll"
  sh -c "${sign//%1/$stage/Quarnel.dll}"
  dll="$stage/Quarnel.dll"
  makensis -V2 -DVERSION="$numeric" -DVERSION_TEXT="$version" -DDLL="$dll" -DREADME="$build/installer/README.txt" \
    -DOUTFILE="$dist/$installer" -DSIGN="$sign" "$root/installer/Quarnel.nsi"
  cp "$build/installer/msi/QuarnelActions.dll" "$stage/QuarnelActions.dll"
  sh -c "${sign//%1/$stage/QuarnelActions.dll}"
  python3 "$root/installer/msi/make_msi.py" "$dist/$msi" "$numeric" "$dll" "$stage/QuarnelActions.dll" \
    "$build/installer/README.txt" "$build/installer/msi/registry.wxi"
  installer_reads "$dist/$msi" >"$stage/unsigned"
  sh -c "${sign//%1/$dist/$msi}"
  installer_reads "$dist/$msi" >"$stage/signed"
  cmp -s "$stage/unsigned" "$stage/signed" ||
    { echo "package: signing changed what Windows Installer reads of $msi:" >&2; diff "$stage/unsigned" "$stage/signed" >&2; exit 1; }
  echo "package: signed with $QUARNEL_SIGN_PKCS12 (Quarnel.dll, the installer and its uninstaller, the package and its custom actions)"
else
  cp "$build/installer/$installer" "$build/installer/$msi" "$dist/"
  echo "package: UNSIGNED release (set QUARNEL_SIGN_PKCS12 and QUARNEL_SIGN_PASSWORD to sign it; see docs/development.md)"
fi
python3 - "$dist/Quarnel-$version.zip" "$dll" "$build/installer/README.txt" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.write(sys.argv[2], "Quarnel/Quarnel.dll")
    z.write(sys.argv[3], "Quarnel/README.txt")
PY
(cd "$dist" && sha256sum "$installer" "$msi" "Quarnel-$version.zip" >SHA256SUMS)
mv "$dist" "$final"
echo "package: $final"
ls -l "$final"
cat "$final/SHA256SUMS"
