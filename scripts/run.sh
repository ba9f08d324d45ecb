#!/usr/bin/env bash
# Builds Quorlin and opens its dialog. With no display it runs on a virtual one, works the
# bench from outside (build, play to the end) and saves screenshots of the dialog.
set -uo pipefail
source "$(dirname "$0")/common.sh"
bash "$QUORLIN_ROOT/scripts/setup.sh" || exit 1
app="$QUORLIN_BUILD/bin/Quorlin.exe"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  "$WINE" "$app"
  exit $?
fi

cleanup() { "$WINESERVER" -k 2>/dev/null; "$WINESERVER" -w 2>/dev/null; quorlin_stop_x; }
trap cleanup EXIT
quorlin_start_x || exit 1
"$WINESERVER" -p
"$WINE" cmd /c exit </dev/null >/dev/null 2>&1

# No display: work the bench as a tester would (build on the default source, play to the
# end) and report what the dialog showed, with screenshots.
shots="$QUORLIN_BUILD/screenshots"
mkdir -p "$shots"
"$WINE" "$QUORLIN_BUILD/bin/quorlin-driver.exe" "$(quorlin_winpath "$app")" "$(quorlin_winpath "$shots")" 180
