import unittest

from benchreport.bdrate import bd_rate

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


if __name__ == "__main__":
    unittest.main()
