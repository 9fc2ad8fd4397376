#!/usr/bin/env bash
# Makes the README's pictures in docs/ again, small PNGs of what the user sees:
# from the demo, the File menu with the command, the first-use message, the
# Default-folder and destination browsers and the question before another
# project's files are replaced, the refusal of files that cannot be written, the
# progress window of a long save and the failure that names the files already
# written; from the install test, the installer's first
# page (for whom to install), as usual and for an IDE run as administrator.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${QUARNEL_BUILD_DIR:-$root/build}"

"$root/scripts/demo.sh" >/dev/null
"$root/scripts/test.sh" --quick -R '^Installer\.BothModesInstall' >/dev/null
mkdir -p "$root/docs"
while read -r from to; do
  cp "$build/$from" "$root/docs/$to"
done <<'PICTURES'
demo-output/ide-file-menu.png file-menu.png
demo-output/dialog-1.png first-use.png
demo-output/dialog-2.png default-folder.png
demo-output/dialog-5.png destination.png
demo-output/dialog-7.png replace-question.png
demo-output/dialog-9.png cannot-write.png
demo-output/progress.png progress.png
demo-output/dialog-12.png already-written.png
installer-output/installer-mode-page.png installer-mode-page.png
installer-output/installer-mode-page-admin.png installer-mode-page-admin.png
PICTURES
ls -l "$root/docs"
