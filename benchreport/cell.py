"""Runs one cell: the bench's console program under Wine in a prefix of its own, then the
measurements and checks of its output. The same function runs on a cluster's workers."""

import atexit
import fcntl
import json
import os
import shutil
import signal
import socket
import subprocess
import threading
import time

from . import checks, matrix, measure

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"


def root_dir():
    return os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def build_dir():
    return os.environ.get("QUORLIN_BUILD_DIR") or os.path.join(root_dir(), "build")


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_env(prefix):
    env = dict(os.environ)
    env.update(WINEPREFIX=prefix, WINEARCH="win64", WINEDEBUG=env.get("WINEDEBUG", "-all"),
               WINEDLLOVERRIDES=env.get("WINEDLLOVERRIDES", "mscoree,mshtml="))
    return env


_xvfb = None


def ensure_display():
    """Wine's windowing needs an X display: a virtual one when there is none."""
    global _xvfb
    if os.environ.get("DISPLAY") or _xvfb is not None:
        return
    r, w = os.pipe()
    _xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                             pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(w)
    with os.fdopen(r) as f:
        n = f.readline().strip()
    if not n:
        raise RuntimeError("Xvfb did not start")
    os.environ["DISPLAY"] = ":" + n
    atexit.register(_stop_display)


def _stop_display():
    global _xvfb
    if _xvfb is not None:
        _xvfb.terminate()
        _xvfb.wait()
        _xvfb = None
        os.environ.pop("DISPLAY", None)


class Slot:
    """A Wine prefix for one cell at a time. In "prefix" isolation each slot is a copy of the
    project's prefix (hard links, registry files copied) with a wineserver of its own, so
    concurrent cells share no Wine state; in "shared" isolation every cell uses the project's
    prefix and its one wineserver."""

    def __init__(self, isolation="prefix"):
        self.isolation = isolation
        self.base = os.environ.get("QUORLIN_WINEPREFIX") or os.path.join(build_dir(), "wine")
        if not os.path.exists(os.path.join(self.base, "system.reg")):
            raise RuntimeError("no Wine prefix at %s: run scripts/setup.sh first" % self.base)
        self.lock = None
        self.prefix = self.base
        if isolation == "shared":
            return
        slots = os.path.join(build_dir(), "report-prefixes")
        os.makedirs(slots, exist_ok=True)
        for k in range(256):
            f = open(os.path.join(slots, "slot%d.lock" % k), "w")
            try:
                fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
            except OSError:
                f.close()
                continue
            self.lock = f
            self.prefix = os.path.join(slots, "slot%d" % k)
            break
        else:
            raise RuntimeError("no free Wine prefix slot")
        self._refresh()
        # Its wineserver, services and desktop start now, one slot at a time, not while
        # another cell builds its graph.
        with open(os.path.join(slots, "start.lock"), "w") as start:
            fcntl.flock(start, fcntl.LOCK_EX)
            subprocess.run([WINE, "cmd", "/c", "exit"], env=wine_env(self.prefix), stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)

    def _refresh(self):
        stamp = os.path.join(self.prefix, ".quorlin-base")
        want = "%s %d" % (self.base, int(os.path.getmtime(os.path.join(self.base, "system.reg"))))
        try:
            with open(stamp) as f:
                if f.read() == want:
                    return
        except OSError:
            pass
        subprocess.run([WINESERVER, "-k"], env=wine_env(self.prefix), stderr=subprocess.DEVNULL)
        subprocess.run([WINESERVER, "-w"], env=wine_env(self.prefix), stderr=subprocess.DEVNULL)
        shutil.rmtree(self.prefix, ignore_errors=True)
        subprocess.run(["cp", "-al", self.base, self.prefix], check=True)
        # Files that Wine rewrites in place (the registry, .ini files) are copied, not linked.
        for folder, _, names in os.walk(self.prefix):
            for name in names:
                if name.endswith((".reg", ".ini")):
                    p = os.path.join(folder, name)
                    if not os.path.islink(p):
                        data = os.path.join(self.base, os.path.relpath(p, self.prefix))
                        os.unlink(p)
                        shutil.copy2(data, p)
        with open(stamp, "w") as f:
            f.write(want)

    def release(self):
        if self.lock is not None:
            # Every Wine process of the slot ends with its wineserver.
            subprocess.run([WINESERVER, "-k"], env=wine_env(self.prefix), stderr=subprocess.DEVNULL)
            subprocess.run([WINESERVER, "-w"], env=wine_env(self.prefix), stderr=subprocess.DEVNULL)
            self.lock.close()
            self.lock = None


_local = threading.local()
_slots = []
_slots_lock = threading.Lock()


def thread_slot(isolation):
    """The slot of the calling thread, kept for the thread's life so that its wineserver
    serves every cell the thread runs; all are given back when the process ends."""
    slot = getattr(_local, "slot", None)
    if slot is None or slot.isolation != isolation:
        slot = Slot(isolation)
        _local.slot = slot
        with _slots_lock:
            if not _slots:
                atexit.register(release_slots)
            _slots.append(slot)
    return slot


def release_slots():
    with _slots_lock:
        while _slots:
            _slots.pop().release()


class Interrupted(Exception):
    """The run is being stopped (Ctrl-C): no further encode starts."""


# The encodes under way in this process, each in a process group of its own, so that an
# interrupted run can end them all.
_running = set()
_running_lock = threading.Lock()
_stopping = threading.Event()


def stop_encodes():
    """Ends every encode under way and refuses new ones (the run was interrupted)."""
    _stopping.set()
    with _running_lock:
        procs = list(_running)
    for p in procs:
        try:
            os.killpg(p.pid, signal.SIGKILL)
        except OSError:
            pass


def stopping():
    return _stopping.is_set()


def encode(source, output, settings, prefix, timeout):
    """The console program's record for one encode; a record with an error when it gave none."""
    exe = os.path.join(build_dir(), "bin", "quorlin-encode.exe")
    args = [WINE, exe, winpath(source), winpath(output)]
    args += ["%s=%s" % (k, v) for k, v in settings.items()]
    args.append("timeout=%d" % timeout)
    t0 = time.monotonic()
    with _running_lock:
        if _stopping.is_set():
            raise Interrupted()
        p = subprocess.Popen(args, env=wine_env(prefix), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, start_new_session=True)
        _running.add(p)
    try:
        out, err = p.communicate(timeout=timeout + 60)
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        out, err = p.communicate()
        return {"ok": False, "errors": [{"what": "quorlin-encode did not end in %d s" % (timeout + 60)}],
                "wall_s": time.monotonic() - t0}
    finally:
        with _running_lock:
            _running.discard(p)
    if _stopping.is_set():
        raise Interrupted()
    text = out.decode("utf-8", "replace").strip().splitlines()
    for line in reversed(text):
        if line.startswith("{"):
            try:
                rec = json.loads(line)
                rec["exit"] = p.returncode
                return rec
            except ValueError:
                break
    return {"ok": False, "exit": p.returncode, "wall_s": time.monotonic() - t0,
            "errors": [{"what": "quorlin-encode gave no record (exit status %d)" % p.returncode,
                        "text": err.decode("utf-8", "replace").strip()[-600:]}]}


def run_cell(cell, outdir, options=None):
    """Encodes, measures and checks one cell; returns its result record. Whatever goes wrong
    with one cell is told in its record: the run goes on with the others."""
    try:
        return _run_cell(cell, outdir, options or {})
    except Interrupted:
        raise
    except Exception as e:  # noqa: BLE001 - one cell's fault must not end the whole run
        return {"id": cell["id"], "clip": cell["clip"]["name"], "config": cell["config"],
                "settings": cell["settings"], "host": socket.gethostname(), "record": None, "measure": None,
                "checks": [checks.check("run", False, "the runner failed on this cell: %s: %s"
                                        % (type(e).__name__, e))]}


def _run_cell(cell, outdir, options):
    ensure_display()
    root = root_dir()
    result = {"id": cell["id"], "clip": cell["clip"]["name"], "config": cell["config"],
              "settings": cell["settings"], "host": socket.gethostname()}
    workdir = os.path.join(outdir, "cells", cell["id"])
    os.makedirs(workdir, exist_ok=True)
    output = os.path.join(workdir, "out.mp4")
    if os.path.exists(output):
        os.remove(output)
    try:
        source = matrix.clip_path(cell["clip"], root, build_dir())
        reference = cell["clip"].get("reference")
        reference = os.path.join(root, reference) if reference and not os.path.isabs(reference) else reference
        slot = thread_slot(options.get("isolation", "prefix"))
        record = encode(source, output, cell["settings"], slot.prefix, int(options.get("timeout", 900)))
    except (RuntimeError, OSError, matrix.MatrixError, subprocess.CalledProcessError) as e:
        result.update(record=None, measure=None, checks=[checks.check("run", False, str(e))])
        return result
    if stopping():
        raise Interrupted()
    result["record"] = record
    m = None
    if os.path.exists(output) and os.path.getsize(output) > 0:
        try:
            m = measure.measure(output, reference or source, workdir)
        except Exception as e:  # noqa: BLE001 - an output ffmpeg cannot measure is this cell's failure
            record.setdefault("errors", []).append({"what": "measuring failed", "text": "%s: %s" % (type(e).__name__, e)})
    result["measure"] = m
    result["checks"] = checks.cell_checks(m, record, cell["settings"], options.get("tolerances"))
    frames = record.get("frames_encoded") or (len(m["frames"]) if m else 0)
    wall = record.get("wall_s") or 0
    cpu = record.get("cpu_s") or 0
    result["speed"] = {"frames": frames, "wall_s": wall, "cpu_s": cpu,
                       "fps": frames / wall if wall else None, "cpu_fps": frames / cpu if cpu else None}
    return result
