#!/usr/bin/env bash
# Builds Quorlin and opens its dialog. With no display it runs on a virtual one and works the
# bench from outside as a tester would: builds the graph on the default source, plays it,
# shows it in GraphEdit through "Show graph", plays to the end, prints the figures and saves
# screenshots (the dialog, the whole screen while the graph plays, GraphEdit attached to it).
# It prints its own progress lines, the figures and the screenshots' paths; what Wine and the
# sound and media libraries say goes to build/logs/run.log, whose path it prints on failure.
set -uo pipefail
source "$(dirname "$0")/common.sh"
bash "$QUORLIN_ROOT/scripts/setup.sh" || exit 1
app="$QUORLIN_BUILD/bin/Quorlin.exe"
log=$(quorlin_log run)
failed() { echo "== the run failed ($1); Wine's messages are in $log" >&2; }

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  "$WINE" "$app" >>"$log" 2>&1
  rc=$?
  [ $rc -eq 0 ] || failed "exit status $rc"
  exit $rc
fi

cleanup() { "$WINESERVER" -k 2>/dev/null; "$WINESERVER" -w 2>/dev/null; quorlin_stop_x; }
trap cleanup EXIT
quorlin_start_x || exit 1
"$WINESERVER" -p >>"$log" 2>&1
"$WINE" cmd /c exit </dev/null >>"$log" 2>&1

echo "== running the bench on a virtual display"
shots="$QUORLIN_BUILD/screenshots"
mkdir -p "$shots"
"$WINE" "$QUORLIN_BUILD/bin/quorlin-driver.exe" "$(quorlin_winpath "$app")" "$(quorlin_winpath "$shots")" 180 \
  2>>"$log" </dev/null
rc=$?
[ $rc -eq 0 ] || failed "exit status $rc"
exit $rc
