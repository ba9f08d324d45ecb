"""The report page opened in headless Chromium: it loads without script errors and shows one
rate-distortion plot per clip."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

from benchreport import page
from benchreport.__main__ import summarize

CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync"]


def fake_cell(clip, config, kbps, psnr, n=30, gop=10):
    frames = [{"type": "I" if i % gop == 0 else "P", "idr": i == 0, "bytes": 4000 if i % gop == 0 else 900,
               "t": i / 25} for i in range(n)]
    settings = {"bitrate": int(kbps), "rate_control": 0 if config == "CBR" else 1}
    return {"id": "%s_%s_%d" % (clip, config, kbps), "clip": clip, "config": config, "settings": settings,
            "measure": {"kbps": kbps * 1.02, "psnr_y": psnr, "psnr_u": psnr + 2, "psnr_v": psnr + 2.5,
                        "ssim_y": 1 - 3 / psnr ** 1.5, "frames": frames, "psnr": [[psnr, psnr, psnr]] * n},
            "speed": {"fps": 40 + kbps / 100, "wall_s": 1.0, "cpu_s": 1.0},
            "checks": [{"name": "bitrate", "ok": kbps < 3000, "detail": "x"}]}


def load_in_chromium(path):
    """The DOM after the page has loaded, as Chromium dumps it."""
    profile = tempfile.mkdtemp(prefix="benchreport-chromium-")
    try:
        p = subprocess.run(["chromium"] + CHROMIUM_FLAGS + ["--user-data-dir=" + profile,
                                                              "--virtual-time-budget=5000", "--dump-dom",
                                                              "file://" + path],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=120)
    finally:
        shutil.rmtree(profile, ignore_errors=True)
    return p.stdout


def body_attrs(dom):
    m = re.search(r"<body([^>]*)>", dom)
    return dict(re.findall(r'([\w-]+)="([^"]*)"', m.group(1))) if m else {}


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="benchreport-page-", dir=os.environ.get("QUORLIN_TEST_TMP"))
        cells = [fake_cell(clip, cfg, kbps, 30 + 4 * i + (1 if cfg == "VBR" else 0))
                 for clip, cfg in (("clip-a", "CBR"), ("clip-a", "VBR"), ("clip-b", "CBR"), ("clip-c", "VBR"))
                 for i, kbps in enumerate((500, 2000))]
        cls.results = {"cells": cells, "summary": summarize(cells, 12.0), "encoder": "Test <encoder> & co"}

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def write(self, text, name):
        path = os.path.join(self.dir, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def test_loads_and_shows_one_plot_per_clip(self):
        comparison = {"baseline": "old/results.json", "line": "against old", "new_failures": [],
                      "bd_rates": [{"clip": "clip-a", "config": "CBR", "psnr": 3.2, "ssim": None}]}
        text = page.render(self.results, comparison, self.results["cells"])
        self.assertNotIn("<encoder>", text)          # names are escaped
        dom = load_in_chromium(self.write(text, "report.html"))
        attrs = body_attrs(dom)
        self.assertEqual(attrs.get("data-ready"), "1", dom[:300])
        self.assertNotIn("data-errors", attrs)
        self.assertEqual(attrs.get("data-rd-plots-shown"), "3")
        self.assertEqual(len(re.findall(r"<figure class=\"rd-plot\"", dom)), 3)
        self.assertEqual(len(re.findall(r"<details class=\"frames\"", dom)), len(self.results["cells"]))

    def test_a_script_error_is_seen(self):
        # The same page with a fault in its script: the load check must notice it.
        text = page.render(self.results).replace('getElementById("only-failing")', 'getElementById("missing")')
        attrs = body_attrs(load_in_chromium(self.write(text, "broken.html")))
        self.assertIn("data-errors", attrs)


if __name__ == "__main__":
    unittest.main()
