"""A run against a baseline run: BD-rate per clip and configuration (PSNR and SSIM), speed
ratios, the checks that newly fail, and the thresholds of the matrix that are crossed."""

import math

from . import bdrate
from .page import curves


def _mean(values):
    values = [v for v in values if v is not None]
    return sum(values) / len(values) if values else None


def compare(new, old, thresholds, baseline_name):
    new_curves, old_curves = curves(new["cells"]), curves(old["cells"])
    rows = []
    for clip in sorted(new_curves):
        for cfg in sorted(new_curves[clip]):
            a = old_curves.get(clip, {}).get(cfg)
            b = new_curves[clip][cfg]
            if not a:
                continue
            psnr = bdrate.bd_rate([p[0] for p in a], [p[1] for p in a], [p[0] for p in b], [p[1] for p in b])
            ssim = None
            if all(p[2] is not None for p in a + b):
                ssim = bdrate.bd_rate([p[0] for p in a], [p[2] for p in a], [p[0] for p in b], [p[2] for p in b])
            rows.append({"clip": clip, "config": cfg, "psnr": psnr, "ssim": ssim})
    per_clip = {}
    for r in rows:
        per_clip.setdefault(r["clip"], []).append(r)
    clip_means = {c: {"psnr": _mean(r["psnr"] for r in rs), "ssim": _mean(r["ssim"] for r in rs)}
                  for c, rs in per_clip.items()}

    old_by_id = {c["id"]: c for c in old["cells"]}
    ratios = {}
    new_failures = []
    for c in new["cells"]:
        o = old_by_id.get(c["id"])
        if o is None:
            continue
        fn, fo = (c.get("speed") or {}).get("fps"), (o.get("speed") or {}).get("fps")
        if fn and fo:
            ratios[c["id"]] = fn / fo
        passed_before = {k["name"] for k in o.get("checks", []) if k["ok"]}
        for k in c.get("checks", []):
            if not k["ok"] and k["name"] in passed_before:
                new_failures.append({"id": c["id"], "check": k["name"], "detail": k["detail"]})
    speed = math.exp(sum(math.log(r) for r in ratios.values()) / len(ratios)) if ratios else None

    out = {"baseline": baseline_name, "bd_rates": rows, "per_clip": clip_means,
           "bd_rate_psnr": _mean(m["psnr"] for m in clip_means.values()),
           "bd_rate_ssim": _mean(m["ssim"] for m in clip_means.values()),
           "speed_ratios": ratios, "speed_ratio": speed, "new_failures": new_failures}

    crossed = []
    t = thresholds or {}
    for key, name in (("max_bd_rate_psnr", "bd_rate_psnr"), ("max_bd_rate_ssim", "bd_rate_ssim")):
        if key in t and out[name] is not None and out[name] > t[key]:
            crossed.append("%s %+.2f%% is over %s %.2f%%" % (name, out[name], key, t[key]))
    if "min_speed_ratio" in t and speed is not None and speed < t["min_speed_ratio"]:
        crossed.append("speed ratio %.3f is under min_speed_ratio %.3f" % (speed, t["min_speed_ratio"]))
    if "max_new_failures" in t and len(new_failures) > t["max_new_failures"]:
        crossed.append("%d checks newly fail, max_new_failures is %d" % (len(new_failures), t["max_new_failures"]))
    out["crossed"] = crossed

    def pct(v):
        return "n/a" if v is None else "%+.2f%%" % v
    out["line"] = "against %s: BD-rate PSNR %s, SSIM %s; speed x%s; %d newly failing checks; %s" % (
        baseline_name, pct(out["bd_rate_psnr"]), pct(out["bd_rate_ssim"]),
        "n/a" if speed is None else "%.3f" % speed, len(new_failures),
        "THRESHOLDS CROSSED: " + "; ".join(crossed) if crossed else "within thresholds")
    return out
