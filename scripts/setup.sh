#!/usr/bin/env bash
# Installs what the project needs, builds it, and prepares the project's Wine prefix.
# Used by both README commands; safe to run again (it only does what is missing).
# It prints its own progress lines only: what the tools say goes to build/logs/setup.log,
# whose path it prints when a step fails.
set -euo pipefail
source "$(dirname "$0")/common.sh"
mkdir -p "$QUORLIN_BUILD"
log=$(quorlin_log setup)
failed() {
  echo "== $1 failed; the messages are in $log" >&2
  [ -n "${2:-}" ] && grep -E "${2}" "$log" | tail -n 20 >&2
  exit 1
}

packages=(wine wine64 g++-mingw-w64-x86-64-posix cmake ninja-build xvfb xauth x11-utils
          gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
          gstreamer1.0-libav ffmpeg imagemagick
          python3 python3-numpy python3-matplotlib python3-distributed chromium)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >>"$log" 2>&1 ||
    failed "installing the packages"
fi

echo "== building in $QUORLIN_BUILD"
# Configured every time, so that components and test folders added since are picked up.
# A compiler cache, where the machine has one, makes rebuilds in other work trees cheap.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$QUORLIN_ROOT")}" CCACHE_NOHASHDIR=1
fi
cmake -S "$QUORLIN_ROOT" -B "$QUORLIN_BUILD" -G Ninja "${launcher[@]}" \
      -DCMAKE_TOOLCHAIN_FILE="$QUORLIN_ROOT/cmake/mingw-w64.cmake" >>"$log" 2>&1 ||
  failed "configuring the build" 'Error|error'
# The compiler's errors are shown with the log's path.
cmake --build "$QUORLIN_BUILD" -j "${QUORLIN_JOBS:-2}" >>"$log" 2>&1 || failed "the build" 'error|FAILED'

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== making the Wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  "$WINE" wineboot -i >>"$log" 2>&1 || failed "making the Wine prefix"
  "$WINESERVER" -w
fi

# Components register themselves in the prefix through scripts/prefix.d/*.sh. A hook's own
# progress lines ("== ...") are shown; everything else it and Wine say goes to the log.
for hook in "$QUORLIN_ROOT"/scripts/prefix.d/*.sh; do
  [ -e "$hook" ] || continue
  echo "-- $(basename "$hook")" >>"$log"
  QUORLIN_ROOT="$QUORLIN_ROOT" QUORLIN_BUILD="$QUORLIN_BUILD" bash "$hook" 2>>"$log" |
    tee -a "$log" | awk '/^== /{ print; fflush() }' ||
    failed "preparing the prefix ($(basename "$hook"))"
done
"$WINESERVER" -w
echo "== ready"
