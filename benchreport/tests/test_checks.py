"""The checks on small libx264 streams, each made to pass and made to fail on purpose; and
the stream reader against ffprobe's view of the same streams."""

import os
import unittest

from benchreport import checks, h264, measure
from benchreport.tests import util


def by_name(results):
    return {c["name"]: c for c in results}


class ChecksTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        import tempfile
        cls.dir = tempfile.mkdtemp(prefix="benchreport-checks-", dir=os.environ.get("QUORLIN_TEST_TMP"))
        d = cls.dir
        # I pictures every 10 (all IDR), no B pictures, held near 200 kbit/s.
        cls.src = util.x264(os.path.join(d, "src.mp4"), "testsrc2", 2, "-crf", "6")
        cls.gop10 = util.x264(os.path.join(d, "gop10.mp4"), "testsrc2", 2, "-g", "10", "-keyint_min", "10",
                              "-sc_threshold", "0", "-bf", "0", "-b:v", "200k", "-maxrate", "200k",
                              "-bufsize", "100k")
        # The same with B pictures, and one with a key frame forced at picture 13.
        cls.gop10b = util.x264(os.path.join(d, "gop10b.mp4"), "testsrc2", 2, "-g", "10", "-keyint_min", "10",
                               "-sc_threshold", "0", "-bf", "2", "-b:v", "200k")
        cls.forced = util.x264(os.path.join(d, "forced.mp4"), "testsrc2", 2, "-g", "10", "-keyint_min", "10",
                               "-sc_threshold", "0", "-bf", "0", "-force_key_frames", "0.52")
        cls.m = {}
        for name in ("gop10", "gop10b", "forced"):
            cls.m[name] = measure.measure(getattr(cls, name), cls.src, os.path.join(d, name + "-work"))
        # The same stream against pictures it was not made from: what a sheared encode looks like.
        other = util.x264(os.path.join(d, "other.mp4"), "smptebars", 2, "-crf", "6")
        cls.m["wrong"] = measure.measure(cls.gop10, other, os.path.join(d, "wrong-work"))

    @classmethod
    def tearDownClass(cls):
        import shutil
        shutil.rmtree(cls.dir, ignore_errors=True)

    def test_key_frames(self):
        cases = [
            # stream, gop, exact, idr interval, key frames ok, IDR interval ok
            ("gop10", 10, 1, 1, True, True),
            ("gop10b", 10, 1, 1, True, True),
            ("gop10", 10, 0, 1, True, True),
            ("gop10", 12, 1, 1, False, True),    # I pictures where a GOP of 12 has none
            ("gop10", 8, 0, 1, False, True),     # 10 apart where at most 8 are allowed
            ("forced", 10, 1, 1, False, True),   # an extra key frame at 13
            ("gop10", 10, 1, 2, True, False),    # every I picture is an IDR, every 2nd expected
            ("gop10", 10, 1, 0, True, False),    # only the first should be an IDR
        ]
        for name, gop, exact, idr, want_key, want_idr in cases:
            with self.subTest(stream=name, gop=gop, exact=exact, idr=idr):
                got = by_name(checks.key_frame_checks(self.m[name]["frames"], gop, exact, idr))
                self.assertEqual(got["key frames"]["ok"], want_key, got["key frames"]["detail"])
                self.assertEqual(got["IDR interval"]["ok"], want_idr, got["IDR interval"]["detail"])
        detail = by_name(checks.key_frame_checks(self.m["forced"]["frames"], 10, 1, 1))["key frames"]["detail"]
        self.assertIn("unexpected at [13", detail)

    def test_first_picture_must_be_idr(self):
        frames = [dict(f) for f in self.m["gop10"]["frames"]]
        frames[0]["idr"] = False
        got = checks.key_frame_checks(frames, 10, 1, 1)
        self.assertFalse(got[0]["ok"])

    def test_bitrate_against_target(self):
        kbps = self.m["gop10"]["kbps"]
        cases = [
            # target, rate control, passes
            (kbps, 0, True),
            (kbps / 1.05, 0, True),
            (kbps / 1.3, 0, False),      # 30% over the target
            (kbps / 1.3, 1, False),      # too much even for variable bitrate
            (kbps / 1.2, 1, True),
            (kbps * 1.3, 0, False),      # far under
        ]
        for target, rc, want in cases:
            with self.subTest(target=target, rc=rc):
                asked = {"bitrate": int(round(target)), "rate_control": rc, "gop": 10, "exact_gop": 1,
                         "idr_interval": 1}
                got = by_name(checks.cell_checks(self.m["gop10"], None, asked))
                self.assertEqual(got["bitrate"]["ok"], want, got["bitrate"]["detail"])
        # The same cell passes every other check.
        got = checks.cell_checks(self.m["gop10"], None, {"bitrate": int(kbps), "gop": 10, "exact_gop": 1,
                                                         "idr_interval": 1})
        self.assertEqual([c for c in got if not c["ok"]], [])

    def test_picture_quality(self):
        good = checks.quality_check(self.m["gop10"], 20.0)
        self.assertTrue(good["ok"], good["detail"])
        bad = checks.quality_check(self.m["wrong"], 20.0)
        self.assertFalse(bad["ok"], bad["detail"])
        self.assertFalse(checks.quality_check({"psnr": []}, 20.0)["ok"])

    def test_the_encoders_account_is_used_before_the_request(self):
        # The record says the encoder used a GOP of 12: the stream is checked against that.
        record = {"ok": True, "errors": [], "used": {"gop_used": 12, "exact_gop": 1, "idr_interval_used": 1,
                                                     "bitrate_used": 200, "rate_control": 0}}
        got = by_name(checks.cell_checks(self.m["gop10"], record, {"gop": 10, "bitrate": 200}))
        self.assertFalse(got["key frames"]["ok"])
        record["ok"] = False
        record["errors"] = [{"what": "Can't build graph", "code": "0x80040217", "text": "x"}]
        got = by_name(checks.cell_checks(None, record, {}))
        self.assertFalse(got["run"]["ok"])
        self.assertIn("Can't build graph 0x80040217", got["run"]["detail"])

    def test_level_limits(self):
        d = self.dir
        cases = [
            # size, rate, x264 options, failing checks
            ("352x288", 25, ["-x264-params", "level=1"], {"frame size", "MB rate", "MaxBR", "CPB"}),
            ("176x144", 15, ["-x264-params", "level=1", "-b:v", "1000k"], {"MaxBR", "CPB"}),
            ("176x144", 15, ["-x264-params", "level=1.1", "-b:v", "120k", "-maxrate", "120k", "-bufsize", "200k"],
             set()),
            ("352x288", 25, ["-x264-params", "level=3"], set()),
        ]
        for i, (size, rate, opts, want) in enumerate(cases):
            with self.subTest(size=size, opts=opts):
                path = util.x264(os.path.join(d, "level%d.mp4" % i), "testsrc2", 2, *opts, size=size, rate=rate)
                sps, pics = h264.pictures(measure.annexb(path, d))
                got = checks.level_checks(sps, rate, [p["bytes"] for p in pics])
                failed = {c["name"].split(" ", 2)[2] for c in got if not c["ok"]}
                self.assertEqual(failed, want, [c["detail"] for c in got])

    def test_stream_reader_agrees_with_ffprobe(self):
        d = self.dir
        cases = [("176x144", ["-profile:v", "baseline"]), ("350x198", ["-profile:v", "main", "-bf", "2"]),
                 ("854x480", ["-profile:v", "high", "-x264-params", "cqm=jvt"])]
        for size, opts in cases:
            with self.subTest(size=size):
                path = util.x264(os.path.join(d, "sps-%s.mp4" % size), "testsrc2", 1, *opts, size=size)
                sps, pics = h264.pictures(measure.annexb(path, d))
                info = measure.stream_info(path)
                frames, packets = measure.frames(path)
                self.assertEqual((sps["width"], sps["height"]), (info["width"], info["height"]))
                self.assertEqual(sps["level_idc"], info["level"])
                self.assertEqual(len(pics), info["frames"])
                self.assertEqual(sorted(p["type"] for p in pics), sorted(f["type"] for f in frames))
                # Picture sizes in decode order: the first also carries the parameter sets.
                self.assertEqual([p["bytes"] for p in pics[1:]], [p["bytes"] for p in packets[1:]])
                self.assertGreater(pics[0]["bytes"], packets[0]["bytes"])


if __name__ == "__main__":
    unittest.main()
