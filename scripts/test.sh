#!/usr/bin/env bash
# Builds everything and runs every test under Wine on a virtual X display.
set -uo pipefail
source "$(dirname "$0")/common.sh"
bash "$QUORLIN_ROOT/scripts/setup.sh" || exit 1

cleanup() { "$WINESERVER" -k 2>/dev/null; "$WINESERVER" -w 2>/dev/null; quorlin_stop_x; }
trap cleanup EXIT
quorlin_start_x || exit 1
"$WINESERVER" -p          # one wineserver for the whole run: each test program starts fast
# Start Wine's own background processes (services, the desktop) now, detached from ctest's
# output, so that they don't hold a test's output open after it ends.
"$WINE" cmd /c exit </dev/null >/dev/null 2>&1

export QUORLIN_TEST_TMP="$QUORLIN_BUILD/test-tmp"
mkdir -p "$QUORLIN_TEST_TMP"
ctest --test-dir "$QUORLIN_BUILD" --output-on-failure --no-tests=error "$@"
