"""Bjøntegaard delta rate: the average bitrate difference of two rate-distortion curves over
the quality range they share, from cubic fits of log-rate against quality."""

import numpy as np


def bd_rate(rates_a, quality_a, rates_b, quality_b):
    """Percent bitrate curve B needs over curve A for the same quality (negative: B is
    better). None when the curves share no quality range or have too few points."""
    pts_a = sorted(zip(quality_a, rates_a))
    pts_b = sorted(zip(quality_b, rates_b))
    if len(pts_a) < 2 or len(pts_b) < 2:
        return None
    qa, ra = np.array([p[0] for p in pts_a], float), np.log(np.array([p[1] for p in pts_a], float))
    qb, rb = np.array([p[0] for p in pts_b], float), np.log(np.array([p[1] for p in pts_b], float))
    lo, hi = max(qa.min(), qb.min()), min(qa.max(), qb.max())
    if not np.isfinite(lo) or not np.isfinite(hi) or hi <= lo:
        return None
    # A cubic with four or more points, else the highest order the points allow.
    fa = np.polyint(np.polyfit(qa, ra, min(3, len(qa) - 1)))
    fb = np.polyint(np.polyfit(qb, rb, min(3, len(qb) - 1)))
    avg_a = (np.polyval(fa, hi) - np.polyval(fa, lo)) / (hi - lo)
    avg_b = (np.polyval(fb, hi) - np.polyval(fb, lo)) / (hi - lo)
    return float((np.exp(avg_b - avg_a) - 1) * 100)
