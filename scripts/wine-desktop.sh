# Sourced by the scripts that start a Wine session (scripts/wine-session.sh,
# the installer test's 64-bit prefix): keep_desktop WINE-RUN-SCRIPT.
#
# Wine's desktop (explorer.exe /desktop) ends a second after the prefix's last
# program, and the next program that needs it starts it again with its own
# output as the desktop's: CTest then waits for the desktop to close that pipe,
# which it does only once no program is left. Under a parallel load that may be
# never, and a test that has passed runs into its time-out (or a test reading a
# child's output waits for ever). A program of the prefix that waits on a pipe
# the calling shell holds open keeps the desktop of the session's start, whose
# output goes nowhere; it ends with the shell, or with the prefix's server.
keep_desktop() {
  local fifo; fifo=$(mktemp -u)
  mkfifo "$fifo"
  "$1" cmd /c pause <"$fifo" >/dev/null 2>&1 &
  exec {keeper_fd}>"$fifo"
  rm -f "$fifo"
}
