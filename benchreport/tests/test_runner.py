"""The runner end to end on a matrix of two tiny cells: locally with a Wine prefix per
cell, then on a local Dask cluster of two workers against the first run as a baseline made
worse on purpose."""

import csv
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from benchreport import cell

MATRIX = """
[tolerances]
rate_cbr = 0.5
[thresholds]
max_bd_rate_psnr = 5.0
min_speed_ratio = 0.8
max_new_failures = 0
[[clips]]
name = "tiny"
generate = "testsrc2=size=128x72:rate=10"
seconds = 1.2
settings = { rate_control = "cbr", bitrate = [80, 200], gop = 6, exact_gop = 1, idr_interval = 1 }
"""


def report(*args):
    env = dict(os.environ, PYTHONPATH=cell.root_dir())
    return subprocess.run([sys.executable, "-m", "benchreport"] + list(args), env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=500)


def comparable(results):
    """What two runs of the same encoder on the same cells must agree on (times aside)."""
    out = {}
    for c in results["cells"]:
        m = c["measure"]
        out[c["id"]] = (m["bytes"], round(m["kbps"], 3), round(m["psnr_y"], 4), round(m["ssim_y"], 6),
                        [f["type"] for f in m["frames"]], [k["ok"] for k in c["checks"]])
    return out


class RunnerTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="benchreport-runner-", dir=os.environ.get("QUORLIN_TEST_TMP"))
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.matrix = os.path.join(self.dir, "matrix.toml")
        with open(self.matrix, "w") as f:
            f.write(MATRIX)

    def tearDown(self):
        # Wineservers of the cells' prefixes that a cluster's worker may have left.
        for prefix in glob.glob(os.path.join(cell.build_dir(), "report-prefixes", "slot*[0-9]")):
            subprocess.run([cell.WINESERVER, "-k"], env=cell.wine_env(prefix), stderr=subprocess.DEVNULL)

    def test_local_run_then_cluster_run_against_a_worse_baseline(self):
        plain = os.path.join(self.dir, "plain")
        p = report(self.matrix, "--out", plain, "--jobs", "2")
        self.assertEqual(p.returncode, 0, p.stderr[-2000:])
        self.assertRegex(p.stdout, r"report: 2 cells: \d pass every check")
        with open(os.path.join(plain, "results.json")) as f:
            results = json.load(f)
        self.assertEqual(len(results["cells"]), 2)
        for c in results["cells"]:
            self.assertTrue(c["record"]["ok"], c["record"])
            self.assertEqual(len(c["measure"]["frames"]), 12)
            self.assertGreater(c["measure"]["psnr_y"], 20)
            self.assertIn("key frames", [k["name"] for k in c["checks"]])
        low, high = sorted(results["cells"], key=lambda c: c["settings"]["bitrate"])
        self.assertLess(low["measure"]["kbps"], high["measure"]["kbps"])
        with open(os.path.join(plain, "results.csv")) as f:
            rows = list(csv.DictReader(f))
        self.assertEqual([r["id"] for r in rows], [c["id"] for c in results["cells"]])
        self.assertTrue(os.path.getsize(os.path.join(plain, "report.html")) > 1000)

        # A baseline that needed half the bits and was twice as fast.
        for c in results["cells"]:
            c["measure"]["kbps"] /= 2
            c["speed"]["fps"] *= 2
        baseline = os.path.join(self.dir, "baseline.json")
        with open(baseline, "w") as f:
            json.dump(results, f)

        from distributed import LocalCluster
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                          dashboard_address=None) as cluster:
            self.assertTrue(cluster.scheduler_address.startswith("tcp://127.0.0.1:"))
            clustered = os.path.join(self.dir, "cluster")
            p = report(self.matrix, "--out", clustered, "--scheduler", cluster.scheduler_address,
                       "--baseline", baseline)
        self.assertEqual(p.returncode, 1, p.stdout + p.stderr[-2000:])
        self.assertIn("THRESHOLDS CROSSED", p.stdout)
        with open(os.path.join(clustered, "results.json")) as f:
            again = json.load(f)
        with open(os.path.join(plain, "results.json")) as f:
            self.assertEqual(comparable(again), comparable(json.load(f)))
        cmp = again["comparison"]
        self.assertAlmostEqual(cmp["bd_rate_psnr"], 100.0, delta=0.5)
        self.assertLess(cmp["speed_ratio"], 0.8)
        self.assertEqual(len(cmp["crossed"]), 2, cmp["crossed"])

    def test_a_bad_matrix_is_refused_in_words(self):
        with open(self.matrix, "a") as f:
            f.write('[[rows]]\nclip = "tiny"\nsettings = { colour = 1 }\n')
        p = report(self.matrix, "--out", os.path.join(self.dir, "x"))
        self.assertEqual(p.returncode, 2)
        self.assertIn("unknown setting 'colour'", p.stderr)


if __name__ == "__main__":
    unittest.main()
