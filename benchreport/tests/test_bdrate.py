import unittest

from benchreport.bdrate import bd_rate
from benchreport.compare import compare

RATES = [480.0, 1010.0, 1950.0, 4100.0]
PSNR = [31.2, 34.9, 38.1, 41.4]
SSIM = [0.861, 0.914, 0.951, 0.975]


class BdRateTest(unittest.TestCase):
    def test_known_answers(self):
        # (rate factor of curve B, expected percent): identical curves give 0, the same curve
        # at k times the rate gives (k - 1) x 100 whatever the quality measure.
        for quality in (PSNR, SSIM):
            for k, want in ((1.0, 0.0), (1.3, 30.0), (0.5, -50.0), (2.0, 100.0)):
                with self.subTest(k=k, quality=quality[0]):
                    got = bd_rate(RATES, quality, [r * k for r in RATES], quality)
                    self.assertAlmostEqual(got, want, places=6)

    def test_nearly_flat_curves(self):
        # Noise-like content: the quality barely moves with the rate (a few hundredths of a dB
        # between points, not always upwards). A fit from badly conditioned normal equations
        # gave anything from +5% to -100% for these.
        rates = [750.0, 1125.0, 1500.0, 2250.0]
        for quality in ([24.10, 24.31, 24.33, 24.52], [24.10, 24.31, 24.29, 24.52], [23.90, 24.00, 24.02, 24.05]):
            with self.subTest(quality=quality):
                got = bd_rate(rates, quality, [r * 1.2 for r in rates], quality)
                self.assertAlmostEqual(got, 20.0, places=4)
                # the same curve a little better at every rate: more rate than A, within reason
                nudged = bd_rate(rates, quality, [r * 1.2 for r in rates], [q + 0.01 * i for i, q in enumerate(quality)])
                self.assertGreater(nudged, 0.0)
                self.assertLess(nudged, 20.0)

    def test_order_of_points_does_not_matter(self):
        shuffled = [3, 0, 2, 1]
        got = bd_rate(RATES, PSNR, [RATES[i] * 1.2 for i in shuffled], [PSNR[i] for i in shuffled])
        self.assertAlmostEqual(got, 20.0, places=6)

    def test_partial_overlap_uses_the_shared_range(self):
        # B is A at 1.1 times the rate, but only measured over the upper part of the range.
        got = bd_rate(RATES, PSNR, [r * 1.1 for r in RATES[1:]], PSNR[1:])
        # (B has one point fewer, so its fit is of a lower order: close, not exact.)
        self.assertAlmostEqual(got, 10.0, delta=0.1)

    def test_no_answer_without_shared_range_or_points(self):
        self.assertIsNone(bd_rate(RATES, PSNR, RATES, [q + 20 for q in PSNR]))
        self.assertIsNone(bd_rate(RATES[:1], PSNR[:1], RATES, PSNR))


def run(rate_factor=1.0, fps=50.0, failing=()):
    cells = []
    for clip in ("a", "b"):
        for rate, psnr, ssim in zip(RATES, PSNR, SSIM):
            cid = "%s_%d" % (clip, rate)
            cells.append({"id": cid, "clip": clip, "config": "CBR", "speed": {"fps": fps},
                          "measure": {"kbps": rate * rate_factor, "psnr_y": psnr, "ssim_y": ssim},
                          "checks": [{"name": "bitrate", "ok": cid not in failing, "detail": "d"},
                                     {"name": "decodes", "ok": True, "detail": "d"}]})
    return {"cells": cells}


class CompareTest(unittest.TestCase):
    THRESHOLDS = {"max_bd_rate_psnr": 5.0, "max_bd_rate_ssim": 5.0, "min_speed_ratio": 0.8, "max_new_failures": 0}

    def test_same_run_is_within_thresholds(self):
        c = compare(run(), run(), self.THRESHOLDS, "old")
        self.assertAlmostEqual(c["bd_rate_psnr"], 0.0, places=6)
        self.assertAlmostEqual(c["speed_ratio"], 1.0)
        self.assertEqual(c["crossed"], [])

    def test_regressions_cross_thresholds(self):
        cases = [
            # new run, baseline, thresholds crossed
            (run(rate_factor=1.1), run(), ["bd_rate_psnr", "bd_rate_ssim"]),
            (run(rate_factor=0.9), run(), []),                       # better: nothing crossed
            (run(fps=30.0), run(fps=50.0), ["speed ratio"]),
            (run(failing=("a_1010",)), run(), ["checks newly fail"]),
            (run(failing=("a_1010",)), run(failing=("a_1010",)), []),  # failed before too
        ]
        for new, old, want in cases:
            with self.subTest(want=want):
                c = compare(new, old, self.THRESHOLDS, "old")
                self.assertEqual(len(c["crossed"]), len(want), c["crossed"])
                for text, w in zip(c["crossed"], want):
                    self.assertIn(w, text)
        c = compare(run(failing=("a_1010",)), run(), {}, "old")
        self.assertEqual(c["new_failures"], [{"id": "a_1010", "check": "bitrate", "detail": "d"}])
        self.assertEqual(c["crossed"], [])                           # no thresholds in the matrix
        self.assertAlmostEqual(compare(run(rate_factor=1.1), run(), {}, "old")["per_clip"]["b"]["psnr"], 10.0)


if __name__ == "__main__":
    unittest.main()
