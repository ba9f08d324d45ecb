"""Small streams for the tests, made by ffmpeg."""

import os
import subprocess
import tempfile


def ffmpeg(*args):
    p = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y"] + list(args),
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if p.returncode != 0:
        raise RuntimeError("ffmpeg failed: %s" % p.stderr)


def x264(path, source, seconds, *opts, size="176x144", rate=25):
    """A clip of an ffmpeg generator coded by libx264 with the given options."""
    ffmpeg("-f", "lavfi", "-i", "%s=size=%s:rate=%s" % (source, size, rate), "-t", str(seconds), "-an",
           "-c:v", "libx264", "-threads", "1", "-pix_fmt", "yuv420p", *opts, path)
    return path


def scratch(test):
    d = tempfile.mkdtemp(prefix="benchreport-", dir=os.environ.get("QUORLIN_TEST_TMP"))
    test.addCleanup(subprocess.run, ["rm", "-rf", d])
    return d
