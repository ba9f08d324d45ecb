#!/usr/bin/python3
"""Quality and rate benchmark of the vcore encoder over a content corpus.

Every clip is made here with ffmpeg's lavfi generators, coded by vcore and, in
the same run and at the same bitrate, by libx264 ultrafast and by libx264
veryfast (Baseline), all with one thread. Per clip it prints: the bitrate
against the target, decoder buffer violations (checked from the stream's own
bytes per picture against the buffer of the level its SPS names), frozen
(all-skip) pictures, PSNR and SSIM of the three, vcore's PSNR at the bitrate
libx264 ultrafast actually took (read off vcore's curve over the four
bitrates below: libx264 overshoots short clips), and the BD-rate against
veryfast-baseline over four bitrates; then a summary line with the targets.

Usage: bench-encoder-quality.py VCORE_ENC WORKDIR   (FULL=1 for the whole corpus)
"""
import math
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from benchreport import bdrate as _bdrate  # noqa: E402  (needs numpy: Debian's python3)

# level_idc -> (MaxBR kbit/s, MaxCPB kbit), as in the level table
LEVELS = {
    10: (64, 175), 11: (192, 500), 12: (384, 1000), 13: (768, 2000), 20: (2000, 2000),
    21: (4000, 4000), 22: (4000, 4000), 30: (10000, 10000), 31: (14000, 14000),
    32: (20000, 20000), 40: (20000, 25000), 41: (50000, 62500), 42: (50000, 62500),
    50: (135000, 135000), 51: (240000, 240000), 52: (240000, 240000),
}
NAL_FACTOR = 1200  # bits per unit of the level table for the byte stream's buffer

# Content kinds: a function of (w, h, rate, frames) giving a lavfi graph.
def texture(w, h):
    # detailed still picture: a blurred cellular pattern over a gradient
    return (f"life=s={w}x{h}:mold=10:ratio=0.5:seed=7:death_color=#503020:life_color=#30b070,"
            f"trim=end_frame=1,boxblur=1")


KINDS = {
    "static": lambda w, h, r, n: f"{texture(w, h)},loop=loop=-1:size=1,fps={r}",
    "scroll": lambda w, h, r, n: f"{texture(w, h + n + 2)},loop=loop=-1:size=1,fps={r},crop={w}:{h}:0:'n'",
    "pan": lambda w, h, r, n: f"{texture(w + 12 * n + 16, h)},loop=loop=-1:size=1,fps={r},crop={w}:{h}:'12*n':0",
    "noise": lambda w, h, r, n: f"testsrc2=s={w}x{h}:r={r},noise=alls=30:allf=t",
    "edges": lambda w, h, r, n: f"testsrc2=s={w}x{h}:r={r}",
    "zoom": lambda w, h, r, n: f"mandelbrot=s={w}x{h}:r={r}",
    "fade": lambda w, h, r, n: (f"mandelbrot=s={w}x{h}:r={r},fade=in:0:{max(1, n // 3)},"
                                f"fade=out:{2 * n // 3}:{max(1, n // 3)}"),
    # scene cuts: three kinds back to back (made from the pieces above)
    "cuts": None,
    # hard at any QP: a game of life, every cell a sharp edge that changes
    "life": lambda w, h, r, n: f"life=s={w}x{h}:r={r}:seed=3",
    # easy: colour bars scrolling down slowly (the rate is reached only with filler)
    "bars": lambda w, h, r, n: f"smptehdbars=s={w}x{h}:r={r},scroll=vertical=0.01",
    # colour bars moving a sample every few pictures: cheap and costly
    # pictures in turn
    "steps": lambda w, h, r, n: f"smptehdbars=s={w}x{h}:r={r},scroll=horizontal=0.0005",
}

# name, kind, w, h, fps (string), seconds, mode, gop, kbps
DEFAULT = [
    ("static-cif", "static", 352, 288, "25", 3, "cbr", 25, 400),
    ("scroll-428", "scroll", 428, 240, "25", 4, "cbr", 50, 500),
    ("pan-640-50", "pan", 640, 360, "50", 2, "cbr", 50, 1500),
    ("noise-qcif-g1", "noise", 176, 144, "30000/1001", 2, "cbr", 1, 600),
    ("edges-854", "edges", 854, 480, "25", 3, "cbr", 10, 1200),
    ("zoom-cif-vbr", "zoom", 352, 288, "25", 4, "vbr", 25, 700),
    ("cuts-odd-vbr", "cuts", 321, 241, "30000/1001", 4, "vbr", 30, 600),
    ("fade-852", "fade", 852, 480, "25", 2, "cbr", 12, 900),
]
FULL = DEFAULT + [
    ("static-1080", "static", 1920, 1080, "25", 2, "cbr", 25, 4000),
    ("pan-720-50", "pan", 1280, 720, "50", 2, "cbr", 100, 2000),
    ("edges-856-g1", "edges", 856, 480, "25", 2, "cbr", 1, 3000),
    ("noise-cif", "noise", 352, 288, "25", 4, "cbr", 10, 500),
    ("scroll-720-vbr", "scroll", 1280, 720, "30000/1001", 4, "vbr", 60, 2500),
    ("zoom-98x62", "zoom", 98, 62, "25", 3, "cbr", 25, 150),
    ("edges-1080-vbr", "edges", 1920, 1080, "25", 4, "vbr", 50, 5000),
    ("cuts-720", "cuts", 1280, 720, "25", 4, "cbr", 250, 2500),
    ("fade-qcif-g1", "fade", 176, 144, "50", 2, "cbr", 1, 800),
    ("noise-852-vbr", "noise", 852, 480, "25", 6, "vbr", 25, 1500),
    ("life-250-g1", "life", 250, 170, "24", 4, "cbr", 1, 400),
    ("life-250", "life", 250, 170, "24", 4, "cbr", 24, 400),
    ("bars-640-60", "bars", 640, 352, "60", 3, "cbr", 60, 400),
    ("steps-640-60", "steps", 640, 352, "60", 2, "cbr", 60, 400),
]


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kw)


def fps_value(s):
    if "/" in s:
        a, b = s.split("/")
        return float(a) / float(b)
    return float(s)


def make_clip(work, name, kind, w, h, fps, seconds):
    n = int(round(fps_value(fps) * seconds))
    path = os.path.join(work, f"{name}.yuv")
    if os.path.exists(path) and os.path.getsize(path) == n * frame_size(w, h):
        return path, n
    if kind == "cuts":
        parts = []
        third = n // 3
        for i, k in enumerate(("edges", "pan", "zoom")):
            cnt = third if i < 2 else n - 2 * third
            p, _ = make_part(work, f"{name}-{i}", k, w, h, fps, cnt)
            parts.append(p)
        with open(path, "wb") as out:
            for p in parts:
                with open(p, "rb") as f:
                    out.write(f.read())
                os.remove(p)
        return path, n
    return make_part(work, name, kind, w, h, fps, n)


def make_part(work, name, kind, w, h, fps, n):
    path = os.path.join(work, f"{name}.yuv")
    graph = KINDS[kind](w, h, fps, n)
    r = run(["ffmpeg", "-v", "error", "-nostdin", "-f", "lavfi", "-i", graph, "-frames:v", str(n),
             "-vf", f"scale={w}:{h}:flags=bicubic,format=yuv420p", "-f", "rawvideo", "-y", path])
    if r.returncode != 0 or os.path.getsize(path) != n * frame_size(w, h):
        sys.exit(f"cannot make clip {name}: {r.stderr.strip()}")
    return path, n


def frame_size(w, h):
    return w * h + 2 * ((w + 1) // 2) * ((h + 1) // 2)


def raw_input(w, h, fps, src):
    return ["-f", "rawvideo", "-pix_fmt", "yuv420p", "-s", f"{w}x{h}", "-r", fps, "-i", src]


def encode_vcore(enc, src, out, w, h, fps, mode, gop, kbps):
    r = run([enc, "-i", src, "-w", str(w), "-h", str(h), "-fps", str(fps_value(fps)), "-rc", mode,
             "-b", str(kbps), "-g", str(gop), "-speed", os.environ.get("SPEED", "4"), "-o", out])
    if r.returncode != 0:
        sys.exit(f"vcore failed: {r.stderr.strip()}")


def encode_x264(src, out, w, h, fps, gop, kbps, preset):
    extra = ["-profile:v", "baseline"] if preset == "veryfast" else []
    if w % 2 or h % 2:  # libx264 takes even sizes only: code the picture padded by one row/column
        extra += ["-vf", "pad=ceil(iw/2)*2:ceil(ih/2)*2"]
    r = run(["ffmpeg", "-v", "error", "-nostdin"] + raw_input(w, h, fps, src) +
            ["-c:v", "libx264", "-preset", preset, "-threads", "1"] + extra +
            ["-b:v", f"{kbps}k", "-g", str(gop), "-f", "h264", "-y", out])
    if r.returncode != 0:
        sys.exit(f"libx264 failed: {r.stderr.strip()}")


def quality(stream, src, w, h, fps, statsfile=None):
    """(PSNR all planes, SSIM all, per-frame PSNR list or None); odd sizes are
    compared without their last column/row (4:2:0 filters work in pairs)"""
    psnr_opt = f"psnr=stats_file={statsfile}" if statsfile else "psnr"
    r = run(["ffmpeg", "-hide_banner", "-nostdin", "-i", stream] + raw_input(w, h, fps, src) +
            ["-lavfi", f"[0:v]crop={w & ~1}:{h & ~1}:0:0,split=2[a0][a1];[1:v]crop={w & ~1}:{h & ~1}:0:0,split=2[b0][b1];[a0][b0]{psnr_opt};[a1][b1]ssim",
             "-f", "null", "-"])
    p = re.findall(r"PSNR .*average:([0-9.inf]+)", r.stderr)
    s = re.findall(r"SSIM .*All:([0-9.]+)", r.stderr)
    psnr = float(p[-1]) if p and p[-1] != "inf" else (99.0 if p else float("nan"))
    ssim = float(s[-1]) if s else float("nan")
    frames = None
    if statsfile and os.path.exists(statsfile):
        frames = []
        for line in open(statsfile):
            m = re.search(r"psnr_avg:([0-9.inf]+)", line)
            if m:
                frames.append(99.0 if m.group(1) == "inf" else float(m.group(1)))
    return psnr, ssim, frames


def nal_units(data):
    """(type, size in bytes with start code) of every NAL unit of an Annex-B stream"""
    starts = [m.start() for m in re.finditer(b"\x00\x00\x01", data)]
    units = []
    for i, s in enumerate(starts):
        begin = s - 1 if s > 0 and data[s - 1] == 0 else s
        end = starts[i + 1] if i + 1 < len(starts) else len(data)
        if i + 1 < len(starts) and data[end - 1] == 0:
            end -= 1
        units.append((data[s + 3] & 0x1F, end - begin, s + 3))
    return units


def pictures(data):
    """bits of every access unit (one slice per picture), and the SPS's level_idc"""
    sizes, pending, level = [], 0, 0
    for t, size, pos in nal_units(data):
        if t == 7 and not level:
            level = data[pos + 3]
        if t in (1, 5):
            sizes.append((pending + size) * 8)
            pending = 0
        elif t == 12 and sizes:
            sizes[-1] += size * 8  # filler belongs to the picture before it
        else:
            pending += size
    return sizes, level


def buffer_violations(sizes, level, mode, kbps, fps):
    """Pictures that break the level's decoder buffer. CBR: bits arrive at the
    target rate; the buffer may neither run dry at a removal nor overflow, for
    the best initial delay. VBR: bits arrive at the level's MaxBR while the
    buffer is not full, starting full."""
    if level not in LEVELS:
        return len(sizes)
    maxbr, maxcpb = LEVELS[level]
    cpb = maxcpb * NAL_FACTOR
    if mode == "cbr":
        bpf = kbps * 1000.0 / fps
        s, excess = 0.0, []
        for n, b in enumerate(sizes):
            s += b
            excess.append(s - n * bpf)
        # a start level exists iff every excess fits under it and every level
        # before a removal stays under the buffer size
        hi = min(cpb, cpb - bpf + min(excess[:-1] or [0.0]))
        return sum(1 for e in excess if e > hi)
    rate = maxbr * NAL_FACTOR / fps
    full, bad = cpb, 0
    for b in sizes:
        if b > full:
            bad += 1
            full = 0.0
        else:
            full -= b
        full = min(cpb, full + rate)
    return bad


def frozen(stream, src, w, h, work):
    """indices of decoded pictures identical to the one before while the source changed"""
    dec = os.path.join(work, "dec.yuv")
    r = run(["ffmpeg", "-v", "error", "-nostdin", "-i", stream, "-vf", f"crop={w & ~1}:{h & ~1}:0:0", "-f", "rawvideo",
             "-pix_fmt", "yuv420p", "-y", dec])
    if r.returncode != 0:
        return None
    fs, fd = frame_size(w, h), frame_size(w & ~1, h & ~1)
    out = []
    with open(dec, "rb") as d, open(src, "rb") as s:
        prev_d = prev_s = None
        i = 0
        while True:
            a, b = d.read(fd), s.read(fs)
            if len(a) < fd or len(b) < fs:
                break
            if prev_d is not None and a == prev_d and b != prev_s:
                out.append(i)
            prev_d, prev_s, i = a, b, i + 1
    os.remove(dec)
    return out


def bd_rate(r1, p1, r2, p2):
    """average bitrate difference of curve 2 against curve 1 at equal PSNR, percent
    (the report's computation; nan where the curves share no PSNR range)"""
    d = _bdrate.bd_rate(r1, p1, r2, p2)
    return float("nan") if d is None else d


def psnr_at(rates, psnrs, rate):
    """PSNR of a curve at a bitrate, linear in log-rate between its nearest
    points; nan outside the curve"""
    pts = sorted(zip(rates, psnrs))
    lr = math.log(rate)
    for (r0, p0), (r1, p1) in zip(pts, pts[1:]):
        if r0 <= rate <= r1:
            if r1 == r0:
                return max(p0, p1)
            return p0 + (p1 - p0) * (lr - math.log(r0)) / (math.log(r1) - math.log(r0))
    return float("nan")


def kbps_of(path, frames, fps):
    return os.path.getsize(path) * 8 / (frames / fps) / 1000


def main():
    enc, work = sys.argv[1], sys.argv[2]
    os.makedirs(work, exist_ok=True)
    corpus = FULL if os.environ.get("FULL") == "1" else DEFAULT
    only = os.environ.get("ONLY")
    if only:
        corpus = [c for c in corpus if re.search(only, c[0])]
    print(f"{'clip':15} {'size':>9} {'fps':>6} {'s':>2} {'rc':>3} {'gop':>3} {'target':>6} "
          f"{'vc_kbps':>8} {'err%':>6} {'buf':>3} {'skip':>4} {'level':>5} | "
          f"{'vc_psnr':>7} {'uf_psnr':>7} {'vf_psnr':>7} {'vc@uf':>7} | {'vc_ssim':>7} {'uf_ssim':>7} {'vf_ssim':>7} | "
          f"{'uf_kbps':>7} {'bd_vf%':>7}")
    fails, bds, no_bd = [], [], []
    for name, kind, w, h, fps, seconds, mode, gop, kbps in corpus:
        src, n = make_clip(work, name, kind, w, h, fps, seconds)
        fv = fps_value(fps)
        vc = os.path.join(work, f"{name}.vcore.264")
        uf = os.path.join(work, f"{name}.uf.264")
        encode_vcore(enc, src, vc, w, h, fps, mode, gop, kbps)
        encode_x264(src, uf, w, h, fps, gop, kbps, "ultrafast")
        vc_psnr, vc_ssim, _ = quality(vc, src, w, h, fps)
        uf_stats = os.path.join(work, "uf_psnr.log")
        uf_psnr, uf_ssim, uf_frames = quality(uf, src, w, h, fps, uf_stats)
        data = open(vc, "rb").read()
        sizes, level = pictures(data)
        vc_kbps = kbps_of(vc, n, fv)
        err = (vc_kbps - kbps) / kbps * 100
        buf = buffer_violations(sizes, level, mode, kbps, fv)
        fz = frozen(vc, src, w, h, work) or []
        # frozen pictures in runs (two or more in a row) where libx264 ultrafast keeps above 20 dB
        bad_skip = [i for i in fz if (i - 1 in fz or i + 1 in fz) and uf_frames and i < len(uf_frames)
                    and uf_frames[i] > 20.0]
        # BD-rate over four bitrates against veryfast-baseline
        r_vc, p_vc, r_vf, p_vf = [], [], [], []
        vf_psnr = vf_ssim = float("nan")
        for f in (0.5, 0.75, 1.0, 1.5):
            k = max(16, int(round(kbps * f)))
            a = os.path.join(work, f"{name}.bd.vc.264")
            b = os.path.join(work, f"{name}.bd.vf.264")
            if f == 1.0:
                a = vc
            else:
                encode_vcore(enc, src, a, w, h, fps, mode, gop, k)
            encode_x264(src, b, w, h, fps, gop, k, "veryfast")
            pa = vc_psnr if f == 1.0 else quality(a, src, w, h, fps)[0]
            pb, sb, _ = quality(b, src, w, h, fps)
            if f == 1.0:
                vf_psnr, vf_ssim = pb, sb
            r_vc.append(kbps_of(a, n, fv))
            p_vc.append(pa)
            r_vf.append(kbps_of(b, n, fv))
            p_vf.append(pb)
        bd = bd_rate(r_vf, p_vf, r_vc, p_vc)
        if not math.isnan(bd):
            bds.append(bd)
            bd_text = f"{bd:>+7.1f}"
        else:
            # the curves share no PSNR range: no rate difference can be read off
            side = "above" if min(p_vc) > max(p_vf) else ("below" if max(p_vc) < min(p_vf) else "apart")
            no_bd.append(f"{name} (ours {side})")
            bd_text = f"{'n/a':>7}"
        why = []
        if mode == "cbr" and seconds >= 2 and abs(err) > 5:
            why.append("cbr-rate")
        if mode == "vbr" and seconds >= 4 and abs(err) > 15:
            why.append("vbr-rate")
        if buf:
            why.append("buffer")
        # at the same bitrate: libx264 overshoots short clips (a quarter on
        # some), so vcore's PSNR is read off its own curve at libx264's rate
        uf_kbps = kbps_of(uf, n, fv)
        vc_at_uf = psnr_at(r_vc, p_vc, uf_kbps)
        if math.isnan(vc_at_uf):
            vc_at_uf = vc_psnr
        if vc_at_uf < uf_psnr:
            why.append("psnr<uf")
        if bad_skip:
            why.append("frozen")
        if why:
            fails.append(f"{name}({','.join(why)})")
        print(f"{name:15} {w:>4}x{h:<4} {fv:>6.2f} {seconds:>2} {mode:>3} {gop:>3} {kbps:>6} "
              f"{vc_kbps:>8.1f} {err:>+6.1f} {buf:>3} {len(fz):>4} {level:>5} | "
              f"{vc_psnr:>7.2f} {uf_psnr:>7.2f} {vf_psnr:>7.2f} {vc_at_uf:>7.2f} | {vc_ssim:>7.4f} {uf_ssim:>7.4f} {vf_ssim:>7.4f} | "
              f"{uf_kbps:>7.1f} {bd_text}", flush=True)
        for p in (vc, uf, uf_stats, os.path.join(work, f"{name}.bd.vc.264"), os.path.join(work, f"{name}.bd.vf.264")):
            if os.path.exists(p):
                os.remove(p)
    avg_bd = sum(bds) / len(bds) if bds else float("nan")
    if not (avg_bd <= 10.0):
        fails.append(f"bd-rate average {avg_bd:+.1f}%")
    if no_bd:
        print(f"no BD-rate (the PSNR curves share no range): {', '.join(no_bd)}")
    print(f"summary: {len(corpus)} clips, BD-rate vs veryfast-baseline average {avg_bd:+.1f}% over {len(bds)} clips "
          f"(target <= +10%), targets {'met' if not fails else 'missed: ' + ' '.join(fails)}")
    return 0 if not fails else 1


if __name__ == "__main__":
    sys.exit(main())
