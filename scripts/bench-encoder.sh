#!/usr/bin/env bash
# Benchmarks the vcore encoder against ffmpeg/libx264 (one thread):
#
# quality: a content corpus made with ffmpeg's generators (static detail,
#   slow scroll, fast pan, noise, flat areas with sharp edges, zoom, scene
#   cuts, fades; odd sizes and widths not a multiple of 8; 25, 29.97 and 50
#   fps; CBR and VBR; GOP 1, short and long GOPs), coded by vcore, libx264
#   ultrafast and libx264 veryfast-baseline at the same bitrate: rate against
#   target, decoder buffer violations, frozen pictures, PSNR/SSIM, BD-rate
#   (scripts/bench-encoder-quality.py). The default corpus takes a few
#   minutes; FULL=1 runs the whole one (HD clips, longer clips, and the
#   extremes of CBR: a game of life too hard for QP 51, colour bars too easy
#   to use the rate, bars moving in steps).
# speed: one 720x576 25 fps clip with motion at the same bitrate, side by side
#   in one run: libx264 ultrafast and veryfast-baseline (one thread and all
#   threads), the core built natively at every speed in SPEED (one thread and
#   all threads), the product build under Wine (vcore_enc.exe) and the whole
#   file -> encoder -> writer graph under Wine (quorlin-encode.exe); CPU and
#   wall time, fps, PSNR, the ratios of the targets and the BD-rates
#   (scripts/bench-encoder-speed.py). The Wine rows need the build of
#   scripts/setup.sh.
#
#   scripts/bench-encoder.sh            # both parts, defaults below
#   PART=quality FULL=1 QSPEED=4 scripts/bench-encoder.sh   # QSPEED: vcore's speed/quality (the dialog's default 4)
#   PART=speed KBPS=2000 SECONDS_LEN=10 CLIP=mandelbrot SPEED="1 4" GOP=25 scripts/bench-encoder.sh
#
# CLIP is an ffmpeg lavfi source name (mandelbrot: zoom, everything moves;
# testsrc2: moving objects over a still background).
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
KBPS="${KBPS:-2000}"
SECONDS_LEN="${SECONDS_LEN:-10}"
CLIP="${CLIP:-mandelbrot}"
GOP="${GOP:-25}"   # I-frame period for both encoders (vcore's automatic value at 25 fps)
SPEED="${SPEED:-1 4}"   # vcore's speeds measured
export KBPS SECONDS_LEN CLIP GOP SPEED
WORK="${BENCH_DIR:-$(mktemp -d)}"
mkdir -p "$WORK"

command -v ffmpeg >/dev/null || { echo "ffmpeg is required (apt-get install -y ffmpeg)" >&2; exit 1; }

PART="${PART:-all}"
echo "== building vcore_enc"
g++ -std=c++17 -O2 -pthread -Wall -Wextra -I"$ROOT/standins/encoder/core" \
    "$ROOT"/standins/encoder/core/*.cpp "$ROOT/standins/encoder/core/tools/vcore-enc.cpp" -o "$WORK/vcore_enc"

if [ "$PART" = all ] || [ "$PART" = quality ]; then
    echo "== quality and rate: corpus$([ "${FULL:-0}" = 1 ] && echo " (full)"), speed ${QSPEED:-4} (libx264 at the same bitrate)"
    SPEED="${QSPEED:-4}" /usr/bin/python3 "$ROOT/scripts/bench-encoder-quality.py" "$WORK/vcore_enc" "$WORK/corpus" || QUALITY_MISSED=1
    [ "$PART" = quality ] && exit "${QUALITY_MISSED:-0}"
fi

# the graph under Wine wants an X display
source "$ROOT/scripts/common.sh"
if [ -z "${DISPLAY:-}" ]; then quorlin_start_x; trap quorlin_stop_x EXIT; fi
/usr/bin/python3 "$ROOT/scripts/bench-encoder-speed.py" "$WORK/vcore_enc" "$WORK" "${QUORLIN_BUILD_DIR:-$ROOT/build}" || SPEED_MISSED=1
exit $(( ${QUALITY_MISSED:-0} | ${SPEED_MISSED:-0} ))
