# Sourced by the scripts that build, test, demonstrate or measure: whether this
# machine runs 32-bit programs. Some x86-64 machines run 64-bit programs only
# (Linux's "IA-32 emulation off"); there the tests, the demo and the benchmarks
# run the 64-bit build of the same sources.
#
# runs_32bit answers by running one, 32-bit Wine's own loader, once; the answer
# is kept in QUARNEL_RUNS_32BIT (yes or no) for the programs started later.
# QUARNEL_PLAY_NO_32BIT=1 plays a machine that cannot, on one that can: a way to
# try that path, not a part of the detection.
runs_32bit() {
  if [ -z "${QUARNEL_RUNS_32BIT:-}" ]; then
    if [ "${QUARNEL_PLAY_NO_32BIT:-0}" = 1 ]; then
      QUARNEL_RUNS_32BIT=no
    elif /usr/lib/wine/wine --version >/dev/null 2>&1; then
      QUARNEL_RUNS_32BIT=yes
    else
      QUARNEL_RUNS_32BIT=no
    fi
    export QUARNEL_RUNS_32BIT
  fi
  [ "$QUARNEL_RUNS_32BIT" = yes ]
}

# The sentence that says why, for the scripts' first lines.
no_32bit_reason() {
  if [ "${QUARNEL_PLAY_NO_32BIT:-0}" = 1 ]; then
    echo "QUARNEL_PLAY_NO_32BIT=1 plays a machine that cannot run 32-bit programs"
  else
    echo "this machine cannot run 32-bit programs (/usr/lib/wine/wine, a 32-bit program, does not start)"
  fi
}
