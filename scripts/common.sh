# Shared settings of the project's scripts; sourced, never run.
QUORLIN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QUORLIN_BUILD=${QUORLIN_BUILD_DIR:-$QUORLIN_ROOT/build}
export WINEPREFIX=${QUORLIN_WINEPREFIX:-$QUORLIN_BUILD/wine}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

# The messages of the tools a command runs (compilers, Wine, the sound and media libraries)
# go to a log of that command under build/logs; the command prints its path when something
# fails. quorlin_log NAME starts the log afresh and names it.
quorlin_log() {
  mkdir -p "$QUORLIN_BUILD/logs"
  local log="$QUORLIN_BUILD/logs/$1.log"
  : >"$log"
  printf '%s' "$log"
}

# Unix path -> the path Wine programs see (drive Z: is the root file system).
quorlin_winpath() { printf 'Z:%s' "$(readlink -m "$1" | tr / '\\')"; }

# Starts an X server on a free display for this shell; quorlin_stop_x stops it.
quorlin_start_x() {
  local fifo; fifo=$(mktemp -u); mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  QUORLIN_XVFB_PID=$!
  local n; read -r -t 20 n <"$fifo"; rm -f "$fifo"
  [ -n "$n" ] || { echo "Xvfb did not start" >&2; return 1; }
  export DISPLAY=":$n"
}
quorlin_stop_x() {
  if [ -n "${QUORLIN_XVFB_PID:-}" ]; then kill "$QUORLIN_XVFB_PID" 2>/dev/null; wait "$QUORLIN_XVFB_PID" 2>/dev/null; QUORLIN_XVFB_PID=; fi
}
