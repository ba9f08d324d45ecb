#!/usr/bin/env bash
# Soak benchmark: what repeated graph builds leave behind in one process.
#
# For each graph (GRAPHS, by default all four):
#   writer   a media file through the encoder to the MPEG-4 writer
#   render   a media file through the encoder, the decoder and the video renderer
#   grf      a saved graph of the same file (made here with make-grf.exe)
#   camera   the test camera through the encoder, the decoder and the video renderer
# runs CYCLES build/release cycles and CYCLES build/play/stop cycles (a file played to the end,
# the camera for one second) three ways, each in a process of its own (tools/Soak.cpp):
#   dialog    through Quorlin's real dialog
#   plain     the same graph made with plain DirectShow calls (our stand-ins, no Quorlin code)
#   platform  the platform's part alone (RenderFile of the file, the camera rendered)
# and prints, side by side, the growth of handles, heap memory in use, private memory (the
# Windows address space), anonymous resident memory of the host process and of the
# wineserver of each way since its first cycle, then
# the growth per cycle from cycle WARMUP on (least squares, with the standard error of each
# slope after the "±"), what each way adds beyond the next one, and which handle types grow
# (with the GDI objects, windows and threads). The private memory's growth is fitted with the
# thread count beside the cycle: each of the platform's pool threads brings 3 MB of stacks
# while it lives, and one that came or went in the middle of a run read as tens of KB per
# cycle, either way (a steady growth of threads stays in the figure, and shows in the list).
# Each way has a wineserver of its own, started afresh.
#
# What the platform leaves behind per cycle here (the same in all three ways, so not ours):
#   1 event per graph manager created and released, with or without our graph shim;
#   about 40 registry keys per filter search of the graph manager (Render, and twice in
#   RenderFile; 43 for a camera's Render): the system device enumerator leaves every filter's
#   key it read open (one per registered filter, our four stand-ins' among them), and about
#   0.5 KB of heap with them;
#   1 event per "Show graph" (QUORLIN_SOAK_SHOW_GRAPH; the plain program attaches GraphEdit
#   in the same cycles with plain calls): the platform's WaitForInputIdle leaves the handle
#   of the started program's idle event open, in any program that waits for one it started;
#   about 120 bytes of the wineserver's memory per handle left open (its handle entry and
#   the key object);
#   the host process's resident memory grows by a few hundred KB per cycle in every way, the
#   platform's alone too, in the host allocator's heap and per-thread arenas (the media
#   libraries' threads come and go with each graph); it differs from way to way by more than
#   the target, in either direction, so only a difference that lasts over long runs counts.
# The wineserver opens the host files a Windows program opens, so the host process of the
# program is found by its command line (its /proc/self would be the server's).
#
#   scripts/bench-soak.sh                      # a generated 1 s clip, 20 cycles
#   CYCLES=50 GRAPHS="render camera" scripts/bench-soak.sh
#   SOURCE=/path/clip.mp4 scripts/bench-soak.sh
#   WAYS="dialog plain" QUORLIN_SOAK_SHOW_GRAPH=1 GRAPHS=render scripts/bench-soak.sh
set -uo pipefail
source "$(dirname "$0")/common.sh"

CYCLES=${CYCLES:-20}
WARMUP=${WARMUP:-5}
GRAPHS=${GRAPHS:-writer render grf camera}
WAYS=${WAYS:-dialog plain platform}
CAMERA=${CAMERA:-Test Pattern Camera}
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

src=$(quorlin_winpath "$SOURCE")
grf="$WORK/soak.grf"
if [[ " $GRAPHS " == *" grf "* ]]; then
  rm -f "$grf"
  "$WINE" "$QUORLIN_BUILD/bin/make-grf.exe" "$(quorlin_winpath "$grf")" "$src" </dev/null >/dev/null 2>&1 ||
    { echo "make-grf failed" >&2; exit 1; }
fi

echo "== source $SOURCE, $CYCLES cycles of each kind, growth from cycle $WARMUP"
status=0
for graph in $GRAPHS; do
  for way in $WAYS; do
    case $graph in
      writer) args=("$src" "$CYCLES" "$(quorlin_winpath "$WORK/out-$way.mp4")") ;;
      render) args=("$src" "$CYCLES") ;;
      grf) if [ $way = platform ]; then args=("$src" "$CYCLES"); else args=("$(quorlin_winpath "$grf")" "$CYCLES"); fi ;;
      camera) args=("$CAMERA" "$CYCLES") ;;
      *) echo "unknown graph $graph" >&2; exit 2 ;;
    esac
    out="$WORK/$graph-$way"
    # A wineserver of its own for each way: what one process left in the server's memory
    # (freed at its exit, kept by the server's allocator) must not be the next one's.
    "$WINESERVER" -k 2>/dev/null; "$WINESERVER" -w 2>/dev/null
    "$WINESERVER" -p
    "$WINE" cmd /c exit </dev/null >/dev/null 2>&1
    if ! "$WINE" "$QUORLIN_BUILD/bin/quorlin-soak.exe" "$way" "$graph" "${args[@]}" \
         >"$out.txt" 2>"$out.err" </dev/null; then
      echo "$graph/$way: failed: $(tr -d '\r' <"$out.err" | grep -v '^[0-9a-f]*:\(err\|fixme\)\|^ALSA' | tail -2)" >&2
      status=1
    fi
    grep -a '^handle counter\|^host process' "$out.err" | tr -d '\r' | sed "s|^|  $graph/$way: |" | head -2
  done
done

python3 - "$WORK" "$WARMUP" "$WAYS" $GRAPHS <<'EOF'
import sys
work, warmup, graphs = sys.argv[1], int(sys.argv[2]), sys.argv[4:]
ways = [w for w in ("dialog", "plain", "platform") if w in sys.argv[3].split()]

def read(path):
    rows = {}
    try:
        lines = open(path, errors="replace").read().replace("\r", "").splitlines()
    except OSError:
        return rows
    for line in lines:
        f = line.split()
        if len(f) >= 7 and f[0] in ("build", "play"):
            types = dict((k, int(v)) for k, _, v in (t.rpartition("=") for t in f[7:]))
            rows[(f[0], int(f[1]))] = (int(f[2]), int(f[3]) / 1024, int(f[4]) / 1024, int(f[5]), int(f[6]), types)
    return rows

def slope(points):
    """Least-squares slope and its standard error (0 with two points)."""
    n = len(points)
    if n < 2:
        return None
    mx = sum(x for x, _ in points) / n
    my = sum(y for _, y in points) / n
    sxx = sum((x - mx) ** 2 for x, _ in points)
    b = sum((x - mx) * (y - my) for x, y in points) / sxx
    if n < 3:
        return b, 0.0
    residual = sum((y - my - b * (x - mx)) ** 2 for x, y in points)
    return b, (residual / (n - 2) / sxx) ** 0.5

def slope_beside(points, steps):
    """The slope of y in x with the steps of a second measure (the thread count) taken out,
    y = a + b x + c t by least squares, with b's standard error; the plain slope where t does
    not vary, or varies with x (a steady growth of threads stays in y's growth)."""
    n = len(points)
    if n < 4:
        return slope(points)
    mx = sum(x for x, _ in points) / n
    my = sum(y for _, y in points) / n
    mt = sum(steps) / n
    sxx = sum((x - mx) ** 2 for x, _ in points)
    stt = sum((t - mt) ** 2 for t in steps)
    sxt = sum((x - mx) * (t - mt) for (x, _), t in zip(points, steps))
    if stt == 0 or sxt * sxt >= 0.9 * sxx * stt:
        return slope(points)
    sxy = sum((x - mx) * (y - my) for x, y in points)
    sty = sum((t - mt) * (y - my) for (_, y), t in zip(points, steps))
    det = sxx * stt - sxt * sxt
    b = (stt * sxy - sxt * sty) / det
    c = (sxx * sty - sxt * sxy) / det
    residual = sum((y - my - b * (x - mx) - c * (t - mt)) ** 2 for (x, y), t in zip(points, steps))
    return b, (residual / (n - 3) * stt / det) ** 0.5

for graph in graphs:
    data = {w: read(f"{work}/{graph}-{w}.txt") for w in ways}
    for phase, title in (("build", "build/release"), ("play", "build/play/stop")):
        print(f"\n{graph}, {title}: growth since cycle 1 (handles, heap KB, private KB, resident KB, "
              f"wineserver resident KB)")
        print("cycle " + "".join(f"{w:>37}" for w in ways))
        n = max([c for d in data.values() for (p, c) in d if p == phase] or [0])
        for c in range(1, n + 1):
            cells = ""
            for w in ways:
                first, row = data[w].get((phase, 1)), data[w].get((phase, c))
                if first and row:
                    cells += (f"{row[0] - first[0]:>+7}{row[1] - first[1]:>+8.1f}"
                              f"{row[2] - first[2]:>+8.0f}{row[3] - first[3]:>+7}{row[4] - first[4]:>+7}")
                else:
                    cells += f"{'-':>37}"
            print(f"{c:>5} {cells}")
        growth, spread = {}, {}
        for w in ways:
            cs = sorted(c for (p, c) in data[w] if p == phase and c >= warmup)
            if len(cs) < 2:
                continue
            rows = [data[w][(phase, c)] for c in cs]
            types = sorted(set(t for r in rows for t in r[5]))
            fits = [slope([(c, r[i]) for c, r in zip(cs, rows)]) for i in range(5)]
            # Each of the platform's pool threads brings 3 MB of stacks while it lives.
            fits[2] = slope_beside([(c, r[2]) for c, r in zip(cs, rows)], [r[5].get("threads", 0) for r in rows])
            spread[w] = [e for _, e in fits]
            growth[w] = [b for b, _ in fits] + [
                {t: (rows[-1][5].get(t, 0) - rows[0][5].get(t, 0)) / (cs[-1] - cs[0]) for t in types}]
        print(f"per cycle (cycles {warmup}..{n}):")
        for w in ways:
            if w in growth:
                h, heap, m, a, server, types = growth[w]
                grown = " ".join(f"{t or '?'} {v:+.2f}" for t, v in types.items() if abs(v) >= 0.05)
                e = spread[w]
                print(f"  {w:<9} {h:+8.2f} handles {heap:+8.2f}±{e[1]:<5.2f} KB heap "
                      f"{m:+7.1f}±{e[2]:<4.1f} KB private {a:+7.1f}±{e[3]:<4.1f} KB resident "
                      f"{server:+7.1f}±{e[4]:<4.1f} KB wineserver"
                      + (f"   ({grown})" if grown else ""))
        # A leak keeps its slope; the host allocator's warm-up flattens out.
        late = {}
        for w in ways:
            cs = sorted(c for (p, c) in data[w] if p == phase and c >= max(warmup, n // 2))
            if len(cs) >= 3:
                late[w] = slope([(c, data[w][(phase, c)][3]) for c in cs])
        if late:
            print(f"  resident over the last half (cycles {max(warmup, n // 2)}..{n}): " +
                  ", ".join(f"{w} {b:+.1f}±{e:.1f}" for w, (b, e) in late.items()) + " KB per cycle")
        for a, b in (("dialog", "plain"), ("plain", "platform")):
            if a in growth and b in growth:
                print(f"  {a} beyond {b}: {growth[a][0] - growth[b][0]:+.2f} handles, "
                      f"{growth[a][1] - growth[b][1]:+.2f} KB heap, "
                      f"{growth[a][2] - growth[b][2]:+.1f} KB private, "
                      f"{growth[a][3] - growth[b][3]:+.1f} KB resident, "
                      f"{growth[a][4] - growth[b][4]:+.1f} KB wineserver per cycle")
EOF
exit $status
