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
#   minutes; FULL=1 runs the whole one (HD clips, longer clips).
# speed: one 720x576 25 fps clip with motion at the same bitrate: speed and PSNR.
#
#   scripts/bench-encoder.sh            # both parts, defaults below
#   PART=quality FULL=1 QSPEED=4 scripts/bench-encoder.sh   # QSPEED: vcore's speed/quality (the dialog's default 4)
#   PART=speed KBPS=2000 SECONDS_LEN=10 CLIP=mandelbrot SPEED=1 GOP=25 scripts/bench-encoder.sh
#
# CLIP is an ffmpeg lavfi source name (mandelbrot: zoom, everything moves;
# testsrc2: moving objects over a still background).
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
KBPS="${KBPS:-2000}"
SECONDS_LEN="${SECONDS_LEN:-10}"
CLIP="${CLIP:-mandelbrot}"
SPEED="${SPEED:-1}"
GOP="${GOP:-25}"   # I-frame period for both encoders (vcore's automatic value at 25 fps)
W=720 H=576 FPS=25
WORK="${BENCH_DIR:-$(mktemp -d)}"
mkdir -p "$WORK"
FRAMES=$((SECONDS_LEN * FPS))

command -v ffmpeg >/dev/null || { echo "ffmpeg is required (apt-get install -y ffmpeg)" >&2; exit 1; }

PART="${PART:-all}"
echo "== building vcore_enc"
g++ -std=c++17 -O2 -Wall -Wextra -I"$ROOT/standins/encoder/core" \
    "$ROOT"/standins/encoder/core/*.cpp "$ROOT/standins/encoder/core/tools/vcore-enc.cpp" -o "$WORK/vcore_enc"

if [ "$PART" = all ] || [ "$PART" = quality ]; then
    echo "== quality and rate: corpus$([ "${FULL:-0}" = 1 ] && echo " (full)"), speed ${QSPEED:-4} (libx264 at the same bitrate)"
    SPEED="${QSPEED:-4}" python3 "$ROOT/scripts/bench-encoder-quality.py" "$WORK/vcore_enc" "$WORK/corpus" || QUALITY_MISSED=1
    [ "$PART" = quality ] && exit "${QUALITY_MISSED:-0}"
fi

SRC="$WORK/src_${CLIP}_${W}x${H}.yuv"
if [ ! -s "$SRC" ]; then
    echo "== making a ${SECONDS_LEN}s ${W}x${H}@${FPS} $CLIP clip"
    ffmpeg -v error -f lavfi -i "${CLIP}=size=${W}x${H}:rate=${FPS}" -frames:v "$FRAMES" \
        -pix_fmt yuv420p -f rawvideo -y "$SRC"
fi

now() { date +%s.%N; }
# CPU seconds (user + sys) of a command; the machine may be shared, so CPU
# time is the figure compared, wall-clock time is shown as well.
cpu_time() {
    local TIMEFORMAT='%3U %3S' out
    out=$( { time "$@" >/dev/null 2>&1; } 2>&1 | tail -1 )
    echo "$out" | awk '{print $1 + $2}'
}
psnr() { # file.264 -> average PSNR (all planes)
    ffmpeg -hide_banner -nostdin -i "$1" -f rawvideo -pix_fmt yuv420p -s ${W}x${H} -r $FPS -i "$SRC" \
        -lavfi "[0:v][1:v]psnr" -f null - 2>&1 | sed -n 's/.*average:\([0-9.inf]*\).*/\1/p' | tail -1
}
kbps() { echo "scale=1; $(stat -c %s "$1") * 8 / $SECONDS_LEN / 1000" | bc; }

echo "== libx264 ultrafast, 1 thread, ${KBPS} kbps"
t0=$(now)
X_CPU=$(cpu_time ffmpeg -v error -nostdin -f rawvideo -pix_fmt yuv420p -s ${W}x${H} -r $FPS -i "$SRC" \
    -c:v libx264 -preset ultrafast -threads 1 -b:v "${KBPS}k" -g "$GOP" -f h264 -y "$WORK/x264.264")
t1=$(now)
X_WALL=$(echo "$t1 - $t0" | bc)

echo "== vcore, speed $SPEED, CBR ${KBPS} kbps"
t0=$(now)
V_CPU=$(cpu_time "$WORK/vcore_enc" -i "$SRC" -w $W -h $H -fps $FPS -rc cbr -b "$KBPS" -g "$GOP" -speed "$SPEED" -o "$WORK/vcore.264")
t1=$(now)
V_WALL=$(echo "$t1 - $t0" | bc)

X_FPS=$(echo "scale=1; $FRAMES / $X_CPU" | bc)
V_FPS=$(echo "scale=1; $FRAMES / $V_CPU" | bc)
X_WFPS=$(echo "scale=1; $FRAMES / $X_WALL" | bc)
V_WFPS=$(echo "scale=1; $FRAMES / $V_WALL" | bc)
RATIO=$(echo "scale=2; $V_FPS / $X_FPS" | bc)
X_PSNR=$(psnr "$WORK/x264.264")
V_PSNR=$(psnr "$WORK/vcore.264")

printf '\n%-8s %12s %12s %10s %10s\n' encoder fps_cpu fps_wall kbps psnr_dB
printf '%-8s %12s %12s %10s %10s\n' x264 "$X_FPS" "$X_WFPS" "$(kbps "$WORK/x264.264")" "$X_PSNR"
printf '%-8s %12s %12s %10s %10s\n' vcore "$V_FPS" "$V_WFPS" "$(kbps "$WORK/vcore.264")" "$V_PSNR"
echo "speed ratio vcore/x264 (CPU time): $RATIO   PSNR difference: $(echo "$V_PSNR - $X_PSNR" | bc) dB"
echo "(whole processes timed, reading the raw clip included; $FRAMES frames)"
