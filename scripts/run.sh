#!/usr/bin/env bash
# Builds Quorlin and opens its dialog. With no display it runs on a virtual one and
# saves a screenshot of the dialog.
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
"$WINE" "$app" &
for _ in $(seq 100); do
  xwininfo -root -tree 2>/dev/null | grep -q '"Vireon Test"' && break
  sleep 0.2
done
sleep 1
shots="$QUORLIN_BUILD/screenshots"; mkdir -p "$shots"
import -window root "$shots/quorlin-dialog.png"
echo "Screenshot of the Quorlin dialog: $shots/quorlin-dialog.png"
