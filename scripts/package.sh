#!/usr/bin/env bash
# The release package: builds, then writes dist/ with the installer
# (Quarnel-<version>-setup.exe, per user, no administrator), a zip of Quarnel.dll
# with its Windows read-me (Quarnel-<version>.zip) and SHA256SUMS. The version
# is the project's (CMakeLists.txt), as in the DLL's version record.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${QUARNEL_BUILD_DIR:-$root/build}"
dist="$root/dist"

"$root/scripts/build.sh"
version=$(head -n1 "$build/version.txt")
rm -rf "$dist"
mkdir -p "$dist"
cp "$build/installer/Quarnel-$version-setup.exe" "$dist/"
python3 - "$dist/Quarnel-$version.zip" "$build/src/Quarnel.dll" "$build/installer/README.txt" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.write(sys.argv[2], "Quarnel/Quarnel.dll")
    z.write(sys.argv[3], "Quarnel/README.txt")
PY
(cd "$dist" && sha256sum "Quarnel-$version-setup.exe" "Quarnel-$version.zip" >SHA256SUMS)
echo "package: $dist"
ls -l "$dist"
cat "$dist/SHA256SUMS"
