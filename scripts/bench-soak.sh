#!/usr/bin/env bash
# Soak benchmark: what repeated graph builds leave behind in one process.
#
# Runs CYCLES build/release cycles and CYCLES build/play/stop cycles (played to the end) of the
# same source three ways, each in a process of its own (tools/Soak.cpp):
#   dialog    through Quorlin's real dialog
#   standins  the same graph made with plain DirectShow calls (our stand-ins, no Quorlin code)
#   platform  the platform alone (RenderFile of the source)
# and prints the handles and private memory after every cycle side by side, then the growth
# per cycle of each way (from cycle WARMUP on) and what the dialog adds beyond the plain ways.
#
#   scripts/bench-soak.sh                      # a generated 1 s clip, 20 cycles
#   CYCLES=50 SOURCE=/path/clip.mp4 scripts/bench-soak.sh
#   SOURCE=build/drive-f/Ref_movies/Test\ graphs/Belukha_SD.mp4.grf scripts/bench-soak.sh
set -uo pipefail
source "$(dirname "$0")/common.sh"

CYCLES=${CYCLES:-20}
WARMUP=${WARMUP:-5}
WORK=${BENCH_DIR:-$QUORLIN_BUILD/soak}
mkdir -p "$WORK"

bash "$QUORLIN_ROOT/scripts/setup.sh" >/dev/null || { echo "set-up failed" >&2; exit 1; }

SOURCE=${SOURCE:-$WORK/clip-320x240-1s.mp4}
if [ ! -s "$SOURCE" ]; then
  ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 25 \
         -c:v libx264 -preset ultrafast -pix_fmt yuv420p "$SOURCE" || exit 1
fi

cleanup() { "$WINESERVER" -k 2>/dev/null; "$WINESERVER" -w 2>/dev/null; quorlin_stop_x; }
trap cleanup EXIT
quorlin_start_x || exit 1
"$WINESERVER" -p
"$WINE" cmd /c exit </dev/null >/dev/null 2>&1

echo "== source $SOURCE, $CYCLES cycles of each kind"
status=0
for way in dialog standins platform; do
  if ! "$WINE" "$QUORLIN_BUILD/bin/quorlin-soak.exe" "$way" "$(quorlin_winpath "$SOURCE")" "$CYCLES" \
       >"$WORK/$way.txt" 2>"$WORK/$way.err" </dev/null; then
    echo "$way: failed: $(tr -d '\r' <"$WORK/$way.err" | grep -v '^[0-9a-f]*:\(err\|fixme\)' | tail -2)" >&2
    status=1
  fi
done

python3 - "$WORK" "$WARMUP" <<'EOF'
import sys
work, warmup = sys.argv[1], int(sys.argv[2])
ways = ["dialog", "standins", "platform"]
data = {}
for w in ways:
    rows = {}
    for line in open(f"{work}/{w}.txt", errors="replace"):
        f = line.split()
        if len(f) == 4 and f[0] in ("build", "play"):
            rows[(f[0], int(f[1]))] = (int(f[2]), int(f[3]))
    data[w] = rows

for phase, title in (("build", "build/release"), ("play", "build/play/stop")):
    print(f"\n{title}: handles and private KB after each cycle")
    print("cycle " + "".join(f"{w + ' handles':>18}{w + ' KB':>14}" for w in ways))
    n = max([c for (p, c) in sum((list(d) for d in data.values()), []) if p == phase] or [0])
    for c in range(1, n + 1):
        cells = ""
        for w in ways:
            h, m = data[w].get((phase, c), (None, None))
            cells += f"{h if h is not None else '-':>18}{(m // 1024) if m is not None else '-':>14}"
        print(f"{c:>5} {cells}")
    growth = {}
    for w in ways:
        cs = sorted(c for (p, c) in data[w] if p == phase)
        first = next((c for c in cs if c >= warmup), None)
        if first is None or cs[-1] == first:
            continue
        (h0, m0), (h1, m1) = data[w][(phase, first)], data[w][(phase, cs[-1])]
        k = cs[-1] - first
        growth[w] = ((h1 - h0) / k, (m1 - m0) / k / 1024)
    print(f"growth per cycle (cycles {warmup}..{n}):")
    for w in ways:
        if w in growth:
            print(f"  {w:<9} {growth[w][0]:+8.2f} handles {growth[w][1]:+10.1f} KB")
    for a, b in (("dialog", "standins"), ("standins", "platform"), ("dialog", "platform")):
        if a in growth and b in growth:
            print(f"  {a} beyond {b}: {growth[a][0] - growth[b][0]:+.2f} handles, "
                  f"{growth[a][1] - growth[b][1]:+.1f} KB per cycle")
EOF
exit $status
