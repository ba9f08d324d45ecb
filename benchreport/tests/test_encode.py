"""The console program on short clips under Wine, against ffprobe's view of its output."""

import os
import shutil
import subprocess
import tempfile
import unittest

from benchreport import cell, measure
from benchreport.tests import util


class EncodeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cell.ensure_display()
        cls.dir = tempfile.mkdtemp(prefix="benchreport-encode-", dir=os.environ.get("QUORLIN_TEST_TMP"))
        cls.prefix = cell.Slot("shared").prefix
        # 14 frames of an odd size at 24 fps.
        cls.clip = util.x264(os.path.join(cls.dir, "clip.mp4"), "testsrc2", 14 / 24, "-crf", "10",
                             size="202x118", rate=24)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def encode(self, source, name, settings):
        out = os.path.join(self.dir, name)
        return cell.encode(source, out, settings, self.prefix, 120), out

    def test_record_matches_ffprobe(self):
        settings = {"rate_control": "Variable bitrate", "bitrate": 300, "gop": 5, "idr_interval": 2,
                    "profile": "Baseline", "level": "3.1", "b_frames": 2, "speed_quality": 6}
        rec, out = self.encode(self.clip, "out.mp4", settings)
        self.assertTrue(rec["ok"], rec)
        self.assertEqual(rec["exit"], 0)
        src, got = measure.stream_info(self.clip), measure.stream_info(out)
        self.assertEqual(got["frames"], src["frames"])
        self.assertEqual(rec["frames_encoded"], got["frames"])
        self.assertEqual((rec["input"]["width"], rec["input"]["height"]), (src["width"], src["height"]))
        self.assertEqual((got["width"], got["height"]), (src["width"], src["height"]))
        self.assertAlmostEqual(rec["input"]["fps"], src["fps"], places=2)
        self.assertTrue(rec["encoder"])
        self.assertIn("EC_COMPLETE", [e["event"] for e in rec["events"]])
        self.assertGreater(rec["wall_s"], 0)
        # the streaming is timed apart, inside the whole run
        self.assertGreater(rec["run_wall_s"], 0)
        self.assertLessEqual(rec["run_wall_s"], rec["wall_s"])
        self.assertLessEqual(rec["run_cpu_s"], rec["cpu_s"])
        # thread by thread, the busiest first, within the streaming's CPU (the clock ticks of the
        # threads' times are coarser than the process's: a tick of slack each; a run this short
        # may leave every thread under a tick)
        each = rec["run_thread_cpu_s"]
        self.assertEqual(each, sorted(each, reverse=True))
        self.assertLessEqual(sum(each), rec["run_cpu_s"] + 0.02 * len(each))
        self.assertEqual(rec["errors"], [])
        # Names reached the encoder as the dialog's values; Baseline's rule overrode three.
        self.assertEqual(rec["asked"], {"profile": 66, "level": 31, "speed_quality": 6, "rate_control": 1,
                                        "bitrate": 300, "gop": 5, "idr_interval": 2, "b_frames": 2})
        self.assertEqual((rec["sent"]["level"], rec["sent"]["b_frames"], rec["sent"]["cavlc"]), (0, 0, 1))
        self.assertEqual((rec["used"]["rate_control"], rec["used"]["bitrate"], rec["used"]["gop"]), (1, 300, 5))
        # The key frames ffprobe sees follow the GOP the encoder reports it used.
        frames, _ = measure.frames(out)
        intra = [i for i, f in enumerate(frames) if f["type"] == "I"]
        self.assertEqual(intra, list(range(0, len(frames), rec["used"]["gop_used"])))

    def test_saved_graph_source(self):
        grf = os.path.join(self.dir, "clip.grf")
        p = subprocess.run([cell.WINE, os.path.join(cell.build_dir(), "bin", "make-grf.exe"), cell.winpath(grf),
                            cell.winpath(self.clip)], env=cell.wine_env(self.prefix), stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        self.assertEqual(p.returncode, 0, p.stderr)
        rec, out = self.encode(grf, "grf.mp4", {"bitrate": 200})
        self.assertTrue(rec["ok"], rec)
        self.assertEqual(measure.stream_info(out)["frames"], measure.stream_info(self.clip)["frames"])

    def test_failures_are_reported_in_words(self):
        rec, out = self.encode(os.path.join(self.dir, "missing.mp4"), "none.mp4", {})
        self.assertFalse(rec["ok"])
        self.assertEqual(rec["exit"], 1)
        self.assertEqual(rec["errors"][0]["what"], "Can't build graph")
        self.assertRegex(rec["errors"][0]["code"], r"^0x8[0-9A-F]{7}$")
        # Words, not the platform's bare "Error: 0x..." line.
        self.assertRegex(rec["errors"][0]["text"], r"^[A-Z][a-z]+ .*\w")
        # A setting the encoder refuses stops the run before the graph starts.
        rec, out = self.encode(self.clip, "refused.mp4", {"speed_quality": 99})
        self.assertFalse(rec["ok"])
        self.assertEqual(rec["errors"][0]["what"], "Can't change encoding properties")
        self.assertNotIn("EC_COMPLETE", [e["event"] for e in rec["events"]])

    def test_bad_usage(self):
        exe = os.path.join(cell.build_dir(), "bin", "quorlin-encode.exe")
        for args, word in ((["a.mp4", "b.mp4", "colour=red"], "colour"), (["a.mp4", "b.mp4", "level=9.9"], "level"),
                           (["a.mp4"], "usage")):
            with self.subTest(args=args):
                p = subprocess.run([cell.WINE, exe] + args, env=cell.wine_env(self.prefix), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=120)
                self.assertEqual(p.returncode, 2)
                self.assertIn(word, p.stderr)
                self.assertEqual(p.stdout, "")


if __name__ == "__main__":
    unittest.main()
