"""Pass/fail checks of one cell: the run itself, the stream's validity, its rate, its key
frames and its level, each from the measured stream."""

from . import h264

DEFAULT_TOLERANCES = {"rate_cbr": 0.10, "rate_vbr": 0.25, "min_psnr_y": 20.0}


def check(name, ok, detail):
    return {"name": name, "ok": bool(ok), "detail": detail}


def expectations(record, asked):
    """What the stream should show, from the settings the encoder reported it uses (the
    console program's read-back), falling back to those asked for."""
    used = (record or {}).get("used") or {}
    def pick(used_key, asked_key):
        v = used.get(used_key)
        return v if v not in (None, 0) or asked_key not in asked else asked[asked_key]
    return {
        "target_kbps": pick("bitrate_used", "bitrate") or None,
        "rate_control": used.get("rate_control", asked.get("rate_control", 0)),
        "gop": pick("gop_used", "gop") or None,
        "exact_gop": used.get("exact_gop", asked.get("exact_gop", 0)),
        "idr_interval": used.get("idr_interval_used", asked.get("idr_interval")),
    }


def key_frame_checks(frames, gop, exact, idr_interval):
    """I and IDR pictures (display order) against the GOP size and the IDR interval: I frames
    at every multiple of the GOP size when it is exact, never further apart than it otherwise;
    every idr_interval-th I frame an IDR (0: the first frame only)."""
    out = []
    if not frames:
        return [check("key frames", False, "no pictures")]
    intra = [i for i, f in enumerate(frames) if f["type"] == "I"]
    idr = [i for i, f in enumerate(frames) if f.get("idr")]
    if not frames[0].get("idr"):
        out.append(check("key frames", False, "the first picture is not an IDR picture"))
        return out
    problem = None
    if gop:
        if exact:
            want = list(range(0, len(frames), gop))
            if intra != want:
                extra = sorted(set(intra) - set(want))
                missing = sorted(set(want) - set(intra))
                problem = "I pictures at %s; with an exact GOP of %d expected at %s (%s)" % (
                    _short(intra), gop, _short(want),
                    ("unexpected at %s" % _short(extra)) if extra else ("missing at %s" % _short(missing)))
        else:
            gaps = [(b - a, a, b) for a, b in zip(intra, intra[1:] + [len(frames)])]
            for gap, a, b in gaps:
                if gap > gop and b != len(frames):
                    problem = "I pictures %d and %d are %d apart, GOP size %d" % (a, b, gap, gop)
                    break
                if gap > gop:
                    problem = "no I picture after %d in %d pictures, GOP size %d" % (a, gap, gop)
                    break
    out.append(check("key frames", problem is None,
                     problem or "%d I pictures, GOP %s%s" % (len(intra), gop or "auto", " exact" if exact else "")))
    if idr_interval is not None:
        if idr_interval == 0:
            want_idr = [0]
        else:
            want_idr = [i for k, i in enumerate(intra) if k % idr_interval == 0]
        ok = idr == want_idr
        out.append(check("IDR interval", ok,
                         "IDR pictures at %s" % _short(idr) if ok else
                         "IDR pictures at %s; every %s I picture expected: %s" % (
                             _short(idr), _nth(idr_interval), _short(want_idr))))
    return out


def _nth(n):
    if n == 0:
        return "first"
    return {1: "", 2: "2nd", 3: "3rd"}.get(n, "%dth" % n) or "single"


def _short(seq, n=8):
    seq = list(seq)
    return "[" + ", ".join(map(str, seq[:n])) + (", ..." if len(seq) > n else "") + "]"


def rate_check(kbps, target, rate_control, tol):
    if not target:
        return check("bitrate", True, "%.0f kbit/s, no target" % kbps)
    limit = tol["rate_vbr"] if rate_control == 1 else tol["rate_cbr"]
    dev = (kbps - target) / target
    return check("bitrate", abs(dev) <= limit,
                 "%.0f kbit/s for %d (%+.1f%%, allowed ±%.0f%%)" % (kbps, target, 100 * dev, 100 * limit))


def quality_check(m, min_psnr):
    """No picture far from its source: a wrong layout or a broken reference shows as a
    picture whose PSNR-Y no bitrate explains."""
    psnr = [p[0] for p in m.get("psnr", [])]
    if not psnr:
        return check("picture quality", False, "no picture could be compared with the source")
    worst = min(range(len(psnr)), key=psnr.__getitem__)
    return check("picture quality", psnr[worst] >= min_psnr,
                 "lowest PSNR-Y %.2f dB at picture %d (mean %.2f), at least %.0f dB expected" % (
                     psnr[worst], worst, sum(psnr) / len(psnr), min_psnr))


def level_checks(sps, fps, decode_order_bytes):
    """The measured stream against the limits of the level its SPS names."""
    if not sps:
        return [check("level", False, "no sequence parameter set in the stream")]
    name, lim = h264.level_limits(sps)
    if lim is None:
        return [check("level", False, "unknown level_idc %d" % sps["level_idc"])]
    out = []
    fs = sps["width_mbs"] * sps["height_mbs"]
    big = max(sps["width_mbs"], sps["height_mbs"])
    out.append(check("level %s frame size" % name, fs <= lim["max_fs"] and big <= lim["max_dim_mbs"],
                     "%dx%d macroblocks = %d, level allows %d" % (sps["width_mbs"], sps["height_mbs"], fs, lim["max_fs"])))
    mbps = fs * fps
    out.append(check("level %s MB rate" % name, mbps <= lim["max_mbps"],
                     "%.0f macroblocks/s, level allows %d" % (mbps, lim["max_mbps"])))
    # The highest rate over any one second of pictures.
    n = max(1, int(round(fps)))
    bits = [8 * b for b in decode_order_bytes]
    window = sum(bits[:n])
    peak = window
    for i in range(n, len(bits)):
        window += bits[i] - bits[i - n]
        peak = max(peak, window)
    if len(bits) < n and bits:
        peak = sum(bits) * n / len(bits)
    out.append(check("level %s MaxBR" % name, peak <= lim["max_br"],
                     "peak %.0f kbit/s over one second, level allows %.0f" % (peak / 1000, lim["max_br"] / 1000)))
    # A coded picture buffer of the level's size filled at the level's rate from full: no
    # picture may find fewer bits in it than it has.
    size, rate = lim["max_cpb"], lim["max_br"]
    fullness = size
    worst = None
    for i, b in enumerate(bits):
        if b > fullness:
            worst = (i, b, fullness)
            break
        fullness = min(size, fullness - b + rate / fps)
    out.append(check("level %s CPB" % name, worst is None,
                     "every picture fits a %.0f kbit buffer at %.0f kbit/s" % (size / 1000, rate / 1000) if worst is None
                     else "picture %d (decode order) has %d bits, the buffer holds %.0f" % worst))
    return out


def cell_checks(m, record, asked, tol=None):
    tol = dict(DEFAULT_TOLERANCES, **(tol or {}))
    exp = expectations(record, asked)
    out = []
    if record is not None:
        errors = record.get("errors") or []
        out.append(check("run", record.get("ok") and not errors,
                         "; ".join("%s %s %s" % (e.get("what"), e.get("code", ""), e.get("text", "")) for e in errors)
                         or "ran to the end"))
    if m is None:
        return out
    errs = m["decode_errors"]
    out.append(check("decodes", not errs, "%d decode errors: %s" % (len(errs), errs[0]) if errs else "no decode errors"))
    src, st = m["source"], m["stream"]
    n = len(m["frames"])
    out.append(check("frames", n == src["frames"] and n > 0, "%d pictures for %d source frames" % (n, src["frames"])))
    out.append(check("picture size", (st["width"], st["height"]) == (src["width"], src["height"]),
                     "%sx%s, source %sx%s" % (st["width"], st["height"], src["width"], src["height"])))
    out.append(rate_check(m["kbps"], exp["target_kbps"], exp["rate_control"], tol))
    out.append(quality_check(m, tol["min_psnr_y"]))
    out.extend(key_frame_checks(m["frames"], exp["gop"], exp["exact_gop"], exp["idr_interval"]))
    out.extend(level_checks(m["sps"], m["fps"], m["decode_order_bytes"]))
    return out
