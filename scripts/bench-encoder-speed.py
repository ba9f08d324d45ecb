#!/usr/bin/python3
"""Speed benchmark of the vcore encoder, side by side with libx264 in one run.

One clip (CLIP, SECONDS_LEN seconds of 720x576 at 25 fps) at the same bitrate
(KBPS, CBR, I-frame period GOP) through:
  * libx264 ultrafast and veryfast with the Baseline profile, one thread and
    all threads (ffmpeg reading the raw clip);
  * the core built natively (vcore_enc), every speed in SPEED, one thread and
    all threads;
  * the product build under Wine: the core's console program (vcore_enc.exe)
    and the whole file -> encoder -> MPEG-4 writer graph without a reference
    clock (quorlin-encode.exe, source an AVI of the raw pictures), at every
    speed in SPEED: its streaming from "Play" to the end of the stream (the
    platform's splitter reading the same pictures as the core gets), the cost
    of building and releasing the graph shown apart, and its CPU time split
    between the streaming thread the encoder codes on and the platform's
    other threads (its parser's).
Threads are compared on the time spent in the encoder's calls (the core's
programs print it), the whole process shown beside it.
CPU time is the figure compared (the machine may be shared); wall time is
shown beside it and is the one that shows threads. Then the ratios of the
targets, PSNR at the same bitrate and the BD-rate of vcore against
veryfast-baseline (and of all threads against one thread) over four bitrates.

Usage: bench-encoder-speed.py VCORE_ENC WORKDIR BUILD_DIR
"""
import importlib.util
import os
import re
import resource
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
_spec = importlib.util.spec_from_file_location("bench_quality", os.path.join(HERE, "bench-encoder-quality.py"))
bq = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(bq)

W, H, FPS = 720, 576, 25
KBPS = int(os.environ.get("KBPS", "2000"))
SECONDS_LEN = int(os.environ.get("SECONDS_LEN", "10"))
CLIP = os.environ.get("CLIP", "mandelbrot")
SPEEDS = [int(s) for s in os.environ.get("SPEED", "1 4").replace(",", " ").split()]
GOP = int(os.environ.get("GOP", "25"))
# every timed row is run this many times and its best CPU and best wall time kept: on a
# shared machine a single run measures the other work as much as the encoder
REPEAT = max(1, int(os.environ.get("REPEAT", "3")))
WINE = "/usr/lib/wine/wine64"
FRAMES = SECONDS_LEN * FPS


def timed(cmd, env=None):
    """runs cmd; (CPU seconds of the process and its children, wall seconds, stdout)"""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.monotonic()
    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env,
                       stdin=subprocess.DEVNULL)
    wall = time.monotonic() - t0
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if r.returncode != 0:
        sys.exit(f"failed ({r.returncode}): {' '.join(cmd)}\n{r.stdout[-2000:]}\n{r.stderr[-2000:]}")
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return cpu, wall, r.stdout


def x264(src, out, preset, threads, kbps):
    extra = ["-profile:v", "baseline"] if preset == "veryfast" else []
    return timed(["ffmpeg", "-v", "error", "-nostdin"] + bq.raw_input(W, H, str(FPS), src) +
                 ["-c:v", "libx264", "-preset", preset, "-threads", str(threads)] + extra +
                 ["-b:v", f"{kbps}k", "-g", str(GOP), "-f", "h264", "-y", out])


def vcore(enc, src, out, speed, threads, kbps, wine_env=None):
    cmd = [enc, "-i", src, "-w", str(W), "-h", str(H), "-fps", str(FPS), "-rc", "cbr", "-b", str(kbps),
           "-g", str(GOP), "-speed", str(speed), "-threads", str(threads), "-o", out]
    if wine_env is not None:
        cmd = [WINE] + cmd
    cpu, wall, text = timed(cmd, wine_env)
    if wine_env is not None:
        # the program's own account: Wine's start-up is not the encoder's
        m = re.search(r"cpu_seconds=([0-9.]+) wall_seconds=([0-9.]+)", text)
        if not m:
            sys.exit(f"no times from {enc}: {text}")
        cpu, wall = float(m.group(1)), float(m.group(2))
    m = re.search(r"threads=(\d+)", text)
    # the time spent in the encoder's calls (wall), reading the clip and writing the stream left out
    e = re.search(r"encode_seconds=([0-9.]+)", text)
    return cpu, wall, int(m.group(1)) if m else 1, float(e.group(1)) if e else float("nan")


def capacity(enc, src, work, speed, kbps, rounds=3):
    """how much faster two one-thread encodes run at once than one alone (wall): what the
    machine's processors give to a second thread just now (2.0 on two idle processors; less
    when other work shares them or the host does not run both at full speed)"""
    def cmd(i):
        return [enc, "-i", src, "-w", str(W), "-h", str(H), "-fps", str(FPS), "-rc", "cbr", "-b", str(kbps),
                "-g", str(GOP), "-speed", str(speed), "-threads", "1", "-o", os.path.join(work, f"capacity_{i}.264")]
    ratios = []
    for _ in range(rounds):
        t0 = time.monotonic()
        subprocess.run(cmd(0), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        one = time.monotonic() - t0
        t0 = time.monotonic()
        procs = [subprocess.Popen(cmd(i), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) for i in (1, 2)]
        if any(p.wait() != 0 for p in procs):
            sys.exit("the capacity runs failed")
        ratios.append(2 * one / (time.monotonic() - t0))
    return sorted(ratios)[len(ratios) // 2]


def interleaved(jobs):
    """jobs: (label, run, least); run() -> a tuple of figures (CPU, wall, ...). REPEAT rounds, each
    running every job once in turn, so that a busy spell of the machine falls on all of them
    alike; {label: the least of the figures at the indices in least, the last run's others}"""
    results = {label: [] for label, _, _ in jobs}
    for _ in range(REPEAT):
        for label, run, _ in jobs:
            results[label].append(run())
    return {label: tuple(min(r[i] for r in results[label]) if i in least else results[label][-1][i]
                         for i in range(len(results[label][-1])))
            for label, _, least in jobs}


def winpath(p):
    return "Z:" + os.path.realpath(p).replace("/", "\\")


def main():
    enc, work, build = sys.argv[1], sys.argv[2], sys.argv[3]
    os.makedirs(work, exist_ok=True)
    src = os.path.join(work, f"src_{CLIP}_{W}x{H}_{FRAMES}.yuv")
    if not os.path.exists(src) or os.path.getsize(src) != FRAMES * bq.frame_size(W, H):
        print(f"== making a {SECONDS_LEN}s {W}x{H}@{FPS} {CLIP} clip", flush=True)
        subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-f", "lavfi", "-i", f"{CLIP}=size={W}x{H}:rate={FPS}",
                        "-frames:v", str(FRAMES), "-pix_fmt", "yuv420p", "-f", "rawvideo", "-y", src], check=True)
    ncpu = os.cpu_count() or 1
    rows = []  # (name, cpu, wall, stream, threads)
    setup = {}  # graph row -> CPU seconds of its process outside the streaming
    in_encoder = {}  # vcore row -> seconds spent in the encoder's calls (wall)

    def add(name, res, stream, threads):
        cpu, wall = res[0], res[1]
        if len(res) > 3:
            in_encoder[name] = res[3]
        rows.append((name, cpu, wall, stream, threads))
        print(f"   {name:28} {FRAMES / cpu:8.1f} fps CPU {FRAMES / wall:8.1f} fps wall", flush=True)

    print(f"== libx264 and vcore, {KBPS} kbps, {FRAMES} pictures, {ncpu} processors", flush=True)
    jobs, outs = [], {}
    for preset, name in (("ultrafast", "x264 ultrafast"), ("veryfast", "x264 veryfast-baseline")):
        for threads in (1, 0):
            label, out = f"{name} t{threads or 'all'}", os.path.join(work, f"x264_{preset}_{threads}.264")
            jobs.append((label, lambda p=preset, t=threads, o=out: x264(src, o, p, t, KBPS)[:2] + (t or ncpu,),
                         (0, 1)))
            outs[label] = out
    for speed in SPEEDS:
        for threads in (1, 0):
            label = f"vcore s{speed} t{'1' if threads == 1 else 'all'}"
            out = os.path.join(work, f"vcore_s{speed}_t{threads}.264")
            jobs.append((label, lambda s=speed, t=threads, o=out: vcore(enc, src, o, s, t, KBPS), (0, 1, 3)))
            outs[label] = out
    for label, res in interleaved(jobs).items():
        add(label, res, outs[label], res[2])

    # What the processors give to a second thread while this run lasts, measured
    # between the thread rows: the ceiling of every all-threads / one-thread ratio.
    cap = capacity(enc, src, work, SPEEDS[0], KBPS)
    print(f"   two one-thread encodes at once / one alone (wall): {cap:.2f}x", flush=True)

    # The product build under Wine.
    exe = os.path.join(build, "bin", "vcore_enc.exe")
    qenc = os.path.join(build, "bin", "quorlin-encode.exe")
    on_thread = {}  # graph row -> (CPU of the busiest thread, CPU of the others) while streaming
    wine_ok = os.path.exists(exe) and os.path.exists(qenc) and os.path.exists(WINE)
    if not wine_ok:
        print(f"== Wine rows left out: build the product first (scripts/setup.sh); missing {exe} or {qenc}")
    else:
        env = dict(os.environ)
        env.update(WINEPREFIX=os.environ.get("QUORLIN_WINEPREFIX", os.path.join(build, "wine")), WINEARCH="win64",
                   WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        if not env.get("DISPLAY"):
            sys.exit("the Wine rows need an X display (scripts/bench-encoder.sh starts one)")
        avi = os.path.join(work, f"src_{CLIP}_{W}x{H}_{FRAMES}.avi")
        if not os.path.exists(avi):
            subprocess.run(["ffmpeg", "-v", "error", "-nostdin"] + bq.raw_input(W, H, str(FPS), src) +
                           ["-c:v", "rawvideo", "-pix_fmt", "yuv420p", "-y", avi], check=True)
        print("== under Wine (the programs' own times, Wine's start-up left out)", flush=True)
        jobs, outs = [], {}
        for speed in SPEEDS:
            for threads in (1, 0):
                label = f"vcore_enc.exe s{speed} t{'1' if threads == 1 else 'all'}"
                out = os.path.join(work, f"wine_s{speed}_t{threads}.264")
                jobs.append((label, lambda s=speed, t=threads, o=out: vcore(exe, winpath(src), winpath(o), s, t, KBPS, env),
                             (0, 1, 3)))
                outs[label] = out
            for threads in (1, 0):
                out = os.path.join(work, f"graph_s{speed}_t{threads}.mp4")

                def graph_run(speed=speed, threads=threads, out=out):
                    if os.path.exists(out):
                        os.remove(out)
                    _, _, text = timed([WINE, qenc, winpath(avi), winpath(out), f"speed_quality={speed}",
                                        "rate_control=cbr", f"bitrate={KBPS}", f"gop={GOP}", "b_frames=0",
                                        f"threads={threads}"], env)
                    # the streaming from "Play" to the end of the stream, as vcore_enc.exe times its
                    # encoding; building the graph (the platform's parsers starting) is shown apart
                    m_cpu = re.search(r'"run_cpu_s": ([0-9.]+)', text)
                    m_wall = re.search(r'"run_wall_s": ([0-9.]+)', text)
                    m_all = re.search(r'"cpu_s": ([0-9.]+)', text)
                    m_thr = re.search(r'"threads_used": ([0-9]+)', text)
                    # the streaming's CPU thread by thread: the busiest is the splitter's streaming
                    # thread, which the encoder codes on (with one thread); the rest is the
                    # platform's, its parser's native threads included (not in the thread list)
                    m_each = re.search(r'"run_thread_cpu_s": \[([0-9., ]*)\]', text)
                    if not (m_cpu and m_wall and m_all) or '"ok": true' not in text:
                        sys.exit(f"the graph did not run: {text[-3000:]}")
                    each = [float(x) for x in m_each.group(1).split(",") if x.strip()] if m_each else []
                    busiest = each[0] if each else float("nan")
                    return (float(m_cpu.group(1)), float(m_wall.group(1)),
                            float(m_all.group(1)) - float(m_cpu.group(1)), int(m_thr.group(1)) if m_thr else 0,
                            busiest, float(m_cpu.group(1)) - busiest)

                label = f"graph s{speed} t{'1' if threads == 1 else 'all'}"
                jobs.append((label, graph_run, (0, 1, 4, 5)))
                outs[label] = out
        for label, res in interleaved(jobs).items():
            if label.startswith("graph"):
                cpu, wall, setup[label], used, busiest, others = res
                on_thread[label] = (busiest, others)
                add(label, (cpu, wall), outs[label], used)
            else:
                add(label, res, outs[label], res[2])

    # Quality of every stream at the bitrate, and the table.
    print("== measuring", flush=True)
    table = {}
    print(f"\n{'encoder':32} {'threads':>7} {'fps_cpu':>9} {'fps_wall':>9} {'cpu_s':>7} {'wall_s':>7} {'kbps':>8} {'psnr_dB':>8}")
    for name, cpu, wall, stream, threads in rows:
        psnr = bq.quality(stream, src, W, H, str(FPS))[0]
        kbps = os.path.getsize(stream) * 8 / SECONDS_LEN / 1000
        table[name] = dict(fps=FRAMES / cpu, wfps=FRAMES / wall, psnr=psnr, kbps=kbps)
        print(f"{name:32} {threads:>7} {FRAMES / cpu:9.1f} {FRAMES / wall:9.1f} {cpu:7.2f} "
              f"{wall:7.2f} {kbps:8.1f} {psnr:8.2f}")
    print(f"(processors: {ncpu}; every row the best of {REPEAT} runs, taken in turns with the other rows; fps_cpu = pictures / CPU seconds, fps_wall = pictures / wall seconds; "
          f"native rows time whole processes, reading the raw clip included; vcore_enc.exe rows the "
          f"program from its start, reading the raw clip included; graph rows the streaming from \"Play\" "
          f"to the end of the stream, the platform's AVI splitter reading the same pictures included)")
    for label, cpu in setup.items():
        print(f"{label}: building, starting and releasing the graph took {cpu:.2f} s CPU besides")
    for label, (busiest, others) in on_thread.items():
        if label.endswith("t1"):
            print(f"{label}: streaming, {busiest:.2f} s CPU on the thread the encoder codes on, {others:.2f} s on "
                  f"the platform's other threads (least of {REPEAT} runs each)")
    for name in sorted(in_encoder):
        print(f"{name}: {in_encoder[name]:.2f} s in the encoder's calls (wall)")

    # BD-rate over four bitrates: speed 4 against veryfast-baseline, all threads against one.
    bd_speed = 4 if 4 in SPEEDS else SPEEDS[-1]
    curves = {"vf": ([], []), "t1": ([], []), "tall": ([], [])}
    if 1 in SPEEDS:
        curves["s1"] = ([], [])  # speed 1's PSNR at ultrafast's own bitrate, read off this curve
    for f in (0.5, 0.75, 1.0, 1.5):
        k = max(16, int(round(KBPS * f)))
        for key in curves:
            out = os.path.join(work, f"bd_{key}.264")
            if key == "vf":
                x264(src, out, "veryfast", 1, k)
            elif key == "s1":
                vcore(enc, src, out, 1, 1, k)
            else:
                vcore(enc, src, out, bd_speed, 1 if key == "t1" else 0, k)
            curves[key][0].append(os.path.getsize(out) * 8 / SECONDS_LEN / 1000)
            curves[key][1].append(bq.quality(out, src, W, H, str(FPS))[0])
    bd_vf = bq.bd_rate(curves["vf"][0], curves["vf"][1], curves["t1"][0], curves["t1"][1])
    bd_thr = bq.bd_rate(curves["t1"][0], curves["t1"][1], curves["tall"][0], curves["tall"][1])

    def ratio(a, b, key="fps"):
        return table[a][key] / table[b][key] if a in table and b in table else float("nan")

    print("\nratios (CPU time unless said):")
    lines = []
    if 1 in SPEEDS:
        r = ratio("vcore s1 t1", "x264 ultrafast t1")
        uf = table["x264 ultrafast t1"]
        # at the same bitrate: each encoder lands near the asked rate, not on it, so speed 1's
        # PSNR is read off its curve at the rate ultrafast actually used (as the quality corpus does)
        at_uf = bq.psnr_at(curves["s1"][0], curves["s1"][1], uf["kbps"])
        own = table["vcore s1 t1"]["psnr"] - uf["psnr"]
        dp = own if at_uf != at_uf else at_uf - uf["psnr"]
        lines.append((f"speed 1, one thread / x264 ultrafast one thread: {r:.2f}x  (target >= 1.0)  "
                      f"PSNR at ultrafast's {uf['kbps']:.0f} kbps {dp:+.2f} dB (target >= 0; at each one's own "
                      f"rate {own:+.2f} dB)", r >= 1.0 and dp >= 0))
    if 4 in SPEEDS:
        r = ratio("vcore s4 t1", "x264 veryfast-baseline t1")
        lines.append((f"speed 4, one thread / x264 veryfast-baseline one thread: {r:.2f}x  (target >= 1.0)", r >= 1.0))
    lines.append((f"BD-rate speed {bd_speed} vs x264 veryfast-baseline: {bd_vf:+.1f}%  (target <= +10%)", bd_vf <= 10.0))
    for s in SPEEDS:
        # the encoder's rate: the time in its calls; reading the raw clip and starting the process
        # are the program's, the same with any number of threads
        t1, tall = in_encoder.get(f"vcore s{s} t1"), in_encoder.get(f"vcore s{s} tall")
        r = t1 / tall if t1 and tall else float("nan")
        lines.append((f"speed {s}, all threads / one thread, time in the encoder (wall): {r:.2f}x  (target >= 1.8 "
                      f"on 2 processors; {r / cap:.0%} of what two independent encodes got)", r >= 1.8))
        r = ratio(f"vcore s{s} tall", f"vcore s{s} t1", "wfps")
        lines.append((f"speed {s}, all threads / one thread, whole process (wall): {r:.2f}x  (reading the "
                      f"{FRAMES * bq.frame_size(W, H) / 1e6:.0f} MB raw clip included)", None))
        rc = ratio(f"vcore s{s} tall", f"vcore s{s} t1")
        lines.append((f"speed {s}, all threads / one thread (CPU): {rc:.2f}x  (1.00: the threads cost no extra "
                      f"processor time)", None))
    lines.append((f"two one-thread encodes at once / one alone (wall): {cap:.2f}x  (the machine's share for a "
                  f"second thread during this run; 2.00 on two idle processors)", None))
    lines.append((f"BD-rate speed {bd_speed}, all threads vs one thread: {bd_thr:+.2f}%", None))
    for s in SPEEDS:
        if f"graph s{s} t1" in table:
            r_cpu = ratio(f"graph s{s} t1", f"vcore_enc.exe s{s} t1")
            r_wall = ratio(f"graph s{s} tall", f"vcore_enc.exe s{s} tall", "wfps")
            lines.append((f"speed {s}, graph under Wine / vcore_enc.exe one thread (CPU): {r_cpu:.2f}x  "
                          f"(target >= 0.9)", r_cpu >= 0.9))
            lines.append((f"speed {s}, graph under Wine / vcore_enc.exe, all threads (wall): {r_wall:.2f}x", None))
            exe_cpu = FRAMES / table[f"vcore_enc.exe s{s} t1"]["fps"]
            busiest, others = on_thread.get(f"graph s{s} t1", (0, 0))
            if busiest > 0:
                # what the encoder filter costs beside the core: the thread it codes on (each
                # picture copied into its sample, the writer's share) against vcore_enc.exe's
                # whole program (its reading of the clip); the rest is the platform's parsing
                lines.append((f"speed {s}, graph's thread the encoder codes on / vcore_enc.exe, one thread (CPU): "
                              f"{exe_cpu / busiest:.2f}x; the platform's other threads (its AVI parser's): "
                              f"{others / (others + busiest):.0%} of the graph's CPU, so at most "
                              f"{exe_cpu / (exe_cpu + others):.2f}x with a filter that costs nothing", None))
            lines.append((f"speed {s}, graph under Wine / native core, one thread (CPU): "
                          f"{ratio(f'graph s{s} t1', f'vcore s{s} t1'):.2f}x", None))
            lines.append((f"speed {s}, vcore_enc.exe under Wine / native core, one thread (CPU): "
                          f"{ratio(f'vcore_enc.exe s{s} t1', f'vcore s{s} t1'):.2f}x", None))
    lines.append(("x264 all threads / one thread (wall): ultrafast "
                  f"{ratio('x264 ultrafast tall', 'x264 ultrafast t1', 'wfps'):.2f}x, veryfast-baseline "
                  f"{ratio('x264 veryfast-baseline tall', 'x264 veryfast-baseline t1', 'wfps'):.2f}x", None))
    missed = 0
    for text, ok in lines:
        mark = "      " if ok is None else ("[met] " if ok else "[MISS]")
        missed += ok is False
        print(f"{mark} {text}")
    print(f"summary: {'all targets met' if not missed else f'{missed} target(s) missed'}")
    return 0 if not missed else 1


if __name__ == "__main__":
    sys.exit(main())
