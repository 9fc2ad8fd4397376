# Sourced by the scripts that start a Wine session (scripts/wine-session.sh,
# the installer test's 64-bit prefix): start_prefix PREFIX WINE-RUN-SCRIPT.
#
# Drive D: is the build's test-drive folder, where the folder-picker tests keep
# their programs and folders, away from anything that writes while tests run.
# Drive S: is a second name for D:\ideapp, as "subst S: D:\ideapp" makes one:
# the stand-in IDE program opens projects through it. \\localhost\share is the
# test drive as a network share (Wine's own UNC mapping).
#
# A persistent server, and Wine's own background programs (services, the desktop
# window) started now, detached from the callers' output pipes: started by the
# first program instead, they would hold those pipes open and CTest would wait.
#
# Wine's desktop (explorer.exe /desktop) ends a second after the prefix's last
# program, and the next program that needs it starts it again with its own
# output as the desktop's: CTest then waits for the desktop to close that pipe,
# which it does only once no program is left. Under a parallel load that may be
# never, and a test that has passed runs into its time-out (or a test reading a
# child's output waits for ever). A program of the prefix that waits on a pipe
# the calling shell holds open keeps the desktop of the session's start, whose
# output goes nowhere; it ends with the shell, or with the prefix's server.
start_prefix() {
  ln -sfn ../../test-drive "$1/dosdevices/d:"
  ln -sfn ../../test-drive/ideapp "$1/dosdevices/s:"
  mkdir -p "$1/dosdevices/unc/localhost"
  ln -sfn ../../../../test-drive "$1/dosdevices/unc/localhost/share"
  WINEPREFIX="$1" wineserver -p </dev/null >/dev/null 2>&1
  "$2" cmd /c exit </dev/null >/dev/null 2>&1
  local fifo; fifo=$(mktemp -u)
  mkfifo "$fifo"
  "$2" cmd /c pause <"$fifo" >/dev/null 2>&1 &
  exec {keeper_fd}>"$fifo"
  rm -f "$fifo"
}
