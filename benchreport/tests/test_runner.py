"""The runner end to end on a matrix of two tiny cells and a clip whose encode fails: locally
with a Wine prefix per cell, on a local Dask cluster of two workers against the first run
made worse on purpose, and stopped with Ctrl-C."""

import csv
import glob
import html
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from benchreport import cell, measure

MATRIX = """
[tolerances]
rate_cbr = 0.5
[thresholds]
max_bd_rate_psnr = 5.0
max_new_failures = 0
[[clips]]
name = "tiny"
generate = "testsrc2=size=128x72:rate=30000/1001"
seconds = 0.5
settings = { rate_control = "cbr", bitrate = [80, 200], gop = 6, exact_gop = 1, idr_interval = 1 }
"""

BROKEN = """
[[clips]]
name = "broken"
path = "%s"
settings = { bitrate = 100 }
"""


def report(*args, wait=True):
    env = dict(os.environ, PYTHONPATH=cell.root_dir())
    p = subprocess.Popen([sys.executable, "-m", "benchreport"] + list(args), env=env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if not wait:
        return p
    p.stdout_text, p.stderr_text = p.communicate(timeout=500)
    return p


def comparable(results):
    """What two runs of the same encoder on the same cells must agree on (times aside)."""
    out = {}
    for c in results["cells"]:
        m = c["measure"] or {}
        out[c["id"]] = (m.get("bytes"), round(m.get("kbps", 0), 3), round(m.get("psnr_y", 0), 4),
                        round(m.get("ssim_y", 0), 6), [f["type"] for f in m.get("frames", [])],
                        [(k["name"], k["ok"]) for k in c["checks"]])
    return out


def load(folder):
    with open(os.path.join(folder, "results.json")) as f:
        return json.load(f)


def slot_wine_processes():
    """Processes of Wine (the encodes, their services, the wineservers) in the runner's
    prefixes."""
    slots = os.path.join(cell.build_dir(), "report-prefixes") + "/"
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                env = f.read().split(b"\0")
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                cmd = f.read().replace(b"\0", b" ").decode("utf-8", "replace")
        except OSError:
            continue
        if any(e.startswith(b"WINEPREFIX=" + slots.encode()) for e in env):
            found.append("%s %s" % (pid, cmd))
    return found


class RunnerTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="benchreport-runner-", dir=os.environ.get("QUORLIN_TEST_TMP"))
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.broken = os.path.join(self.dir, "broken.mp4")
        with open(self.broken, "w") as f:
            f.write("not a video\n" * 100)
        self.matrix = self.write("matrix.toml", MATRIX + BROKEN % self.broken)

    def write(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def tearDown(self):
        # Wineservers of the cells' prefixes that a cluster's worker may have left.
        for prefix in glob.glob(os.path.join(cell.build_dir(), "report-prefixes", "slot*[0-9]")):
            subprocess.run([cell.WINESERVER, "-k"], env=cell.wine_env(prefix), stderr=subprocess.DEVNULL)
            subprocess.run([cell.WINESERVER, "-w"], env=cell.wine_env(prefix), stderr=subprocess.DEVNULL)

    def test_local_run_then_cluster_run_against_a_worse_baseline(self):
        plain = os.path.join(self.dir, "plain")
        p = report(self.matrix, "--out", plain, "--jobs", "2")
        self.assertEqual(p.returncode, 0, p.stderr_text[-2000:])
        self.assertIn("report: 3 cells: 2 pass every check, 1 fail (run 1)", p.stdout_text)
        results = load(plain)
        cells = {c["clip"]: c for c in results["cells"] if c["clip"] != "tiny"}
        tiny = [c for c in results["cells"] if c["clip"] == "tiny"]
        self.assertEqual(len(tiny), 2)
        source = measure.stream_info(glob.glob(os.path.join(cell.build_dir(), "report-clips", "tiny-*.mp4"))[0])
        self.assertEqual(source["frames"], 15)
        for c in tiny:
            self.assertTrue(c["record"]["ok"], c["record"])
            self.assertEqual(len(c["measure"]["frames"]), source["frames"])
            self.assertEqual((c["measure"]["stream"]["width"], c["measure"]["stream"]["height"]), (128, 72))
            self.assertAlmostEqual(c["measure"]["fps"], 30000 / 1001, places=3)
            self.assertGreater(c["measure"]["psnr_y"], 20)
            self.assertEqual([k["name"] for k in c["checks"] if not k["ok"]], [])
            self.assertIn("key frames", [k["name"] for k in c["checks"]])
        low, high = sorted(tiny, key=lambda c: c["settings"]["bitrate"])
        self.assertLess(low["measure"]["kbps"], high["measure"]["kbps"])
        # The clip that cannot be encoded: its cell says why in the system's words, the run went on.
        broken = cells["broken"]
        error = broken["record"]["errors"][0]
        self.assertEqual(error["what"], "Can't build graph")
        self.assertRegex(error["code"], r"^0x8[0-9A-F]{7}$")
        self.assertTrue(error["text"] and not error["text"].startswith("Error"), error)
        self.assertIsNone(broken["measure"])
        self.assertEqual([(k["name"], k["ok"]) for k in broken["checks"]], [("run", False)])
        self.assertIn(error["text"], broken["checks"][0]["detail"])
        with open(os.path.join(plain, "results.csv")) as f:
            rows = list(csv.DictReader(f))
        self.assertEqual([r["id"] for r in rows], [c["id"] for c in results["cells"]])
        self.assertEqual(rows[-1]["failed_checks"], "run")
        with open(os.path.join(plain, "report.html")) as f:
            self.assertIn(html.escape(error["text"]), f.read())

        # A baseline that needed half the bits, and in which the broken clip encoded.
        for c in results["cells"]:
            if c["measure"]:
                c["measure"]["kbps"] /= 2
        broken["checks"][0]["ok"] = True
        worse = os.path.join(self.dir, "worse.json")
        with open(worse, "w") as f:
            json.dump(results, f)

        from distributed import LocalCluster
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                          dashboard_address=None) as cluster:
            self.assertTrue(cluster.scheduler_address.startswith("tcp://127.0.0.1:"))
            clustered = os.path.join(self.dir, "cluster")
            p = report(self.matrix, "--out", clustered, "--scheduler", cluster.scheduler_address,
                       "--baseline", worse)
        self.assertEqual(p.returncode, 1, p.stdout_text + p.stderr_text[-2000:])
        self.assertIn("THRESHOLDS CROSSED", p.stdout_text)
        self.assertIn("report: newly failing: %s: run (" % broken["id"], p.stdout_text)
        again = load(clustered)
        self.assertEqual(comparable(again), comparable(load(plain)))
        cmp = again["comparison"]
        self.assertAlmostEqual(cmp["bd_rate_psnr"], 100.0, delta=0.5)
        self.assertEqual([f["id"] for f in cmp["new_failures"]], [broken["id"]])
        self.assertEqual(len(cmp["crossed"]), 2, cmp["crossed"])

        # Against the run as it was, a cell that failed before too crosses nothing.
        only_broken = self.write("broken.toml", MATRIX.split("[[clips]]")[0] + BROKEN % self.broken)
        p = report(only_broken, "--out", os.path.join(self.dir, "again"), "--baseline",
                   os.path.join(plain, "results.json"))
        self.assertEqual(p.returncode, 0, p.stdout_text + p.stderr_text[-2000:])
        self.assertIn("0 newly failing checks; within thresholds", p.stdout_text)

    def test_ctrl_c_leaves_no_wine_processes(self):
        matrix = self.write("many.toml", MATRIX.replace("bitrate = [80, 200]", "bitrate = [80, 120, 200, 300]"))
        p = report(matrix, "--out", os.path.join(self.dir, "stopped"), "--jobs", "2", wait=False)
        try:
            deadline = time.monotonic() + 120
            while not any("quorlin-encode" in w for w in slot_wine_processes()):
                self.assertIsNone(p.poll(), "the run ended before an encode was seen")
                self.assertLess(time.monotonic(), deadline, "no encode started")
                time.sleep(0.2)
            p.send_signal(signal.SIGINT)
            out, err = p.communicate(timeout=120)
        finally:
            if p.poll() is None:
                p.kill()
                p.communicate()
        self.assertEqual(p.returncode, 2, err[-2000:])
        self.assertIn("report: interrupted", err)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "stopped", "results.json")))
        left = slot_wine_processes()
        deadline = time.monotonic() + 10
        while left and time.monotonic() < deadline:
            time.sleep(0.5)
            left = slot_wine_processes()
        self.assertEqual(left, [])

    def test_a_bad_matrix_is_refused_in_words(self):
        with open(self.matrix, "a") as f:
            f.write('[[rows]]\nclip = "tiny"\nsettings = { colour = 1 }\n')
        p = report(self.matrix, "--out", os.path.join(self.dir, "x"))
        self.assertEqual(p.returncode, 2)
        self.assertIn("unknown setting 'colour'", p.stderr_text)


if __name__ == "__main__":
    unittest.main()
