"""bash scripts/report.sh [MATRIX] [--out DIR] [--jobs N] [--baseline OLD/results.json]
                         [--scheduler tcp://HOST:PORT] [--isolation prefix|shared]

Runs every cell of the matrix (scripts/report-matrix.toml by default) through the bench's
console program, measures the outputs, and writes results.json, results.csv and report.html
into the output folder (build/report by default). Exit status: 0 done; 1 a comparison
threshold of the matrix crossed; 2 the run could not be made."""

import argparse
import concurrent.futures
import csv
import datetime
import json
import os
import signal
import socket
import sys
import time

from . import cell as cellmod
from . import compare as comparemod
from . import matrix, page


class Progress:
    def __init__(self, total, stream=sys.stderr):
        self.total, self.done, self.t0, self.stream = total, 0, time.monotonic(), stream
        self.tty = stream.isatty()
        self.show()

    def step(self, text):
        self.done += 1
        self.show(text)

    def show(self, text=""):
        elapsed = time.monotonic() - self.t0
        left = elapsed / self.done * (self.total - self.done) if self.done else None
        width = 30
        filled = int(width * self.done / self.total) if self.total else width
        line = "[%s%s] %d/%d cells, %s elapsed, %s left %s" % (
            "#" * filled, "." * (width - filled), self.done, self.total, _clock(elapsed),
            _clock(left) if left is not None else "?", text)
        if self.tty:
            self.stream.write("\r\033[K" + line[:160])
            if self.done == self.total:
                self.stream.write("\n")
        elif self.done:
            self.stream.write(line + "\n")
        self.stream.flush()


def _clock(seconds):
    seconds = int(round(seconds))
    return "%d:%02d:%02d" % (seconds // 3600, seconds // 60 % 60, seconds % 60)


def run_local(cells, outdir, options, jobs, progress):
    results = {}
    pool = concurrent.futures.ThreadPoolExecutor(max_workers=jobs)
    try:
        futures = {pool.submit(cellmod.run_cell, c, outdir, options): c for c in cells}
        for f in concurrent.futures.as_completed(futures):
            r = f.result()
            results[r["id"]] = r
            progress.step(_mark(r))
    except BaseException:
        # Interrupted: no further cell starts, the encodes under way are ended, and their
        # threads end with them before the prefixes' Wine services are stopped.
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        cellmod.stop_encodes()
        pool.shutdown(wait=True, cancel_futures=True)
        raise
    finally:
        pool.shutdown(wait=True)
        cellmod.release_slots()
    return [results[c["id"]] for c in cells]


def run_cluster(cells, outdir, options, address, progress):
    from distributed import Client, as_completed
    results = {}
    with Client(address, timeout="30s") as client:
        futures = [client.submit(cellmod.run_cell, c, outdir, options, pure=False) for c in cells]
        try:
            for f in as_completed(futures):
                r = f.result()
                results[r["id"]] = r
                progress.step(_mark(r))
        except BaseException:
            # Cells not yet started are dropped; a cell under way on a worker ends by itself.
            client.cancel(futures)
            raise
    return [results[c["id"]] for c in cells]


def _mark(result):
    failed = [k["name"] for k in result["checks"] if not k["ok"]]
    return "%s %s" % (result["id"], "FAIL " + ",".join(failed) if failed else "ok")


def summarize(cells, wall):
    failing = {}
    for c in cells:
        for k in c["checks"]:
            if not k["ok"]:
                failing[k["name"]] = failing.get(k["name"], 0) + 1
    passed = sum(1 for c in cells if all(k["ok"] for k in c["checks"]))
    psnr = [c["measure"]["psnr_y"] for c in cells if c.get("measure") and "psnr_y" in c["measure"]]
    fps = [c["speed"]["fps"] for c in cells if c.get("speed") and c["speed"].get("fps")]
    line = "%d cells: %d pass every check, %d fail%s; mean PSNR-Y %s; mean speed %s; wall %s" % (
        len(cells), passed, len(cells) - passed,
        " (%s)" % ", ".join("%s %d" % kv for kv in sorted(failing.items())) if failing else "",
        "%.2f dB" % (sum(psnr) / len(psnr)) if psnr else "n/a",
        "%.1f fps" % (sum(fps) / len(fps)) if fps else "n/a", _clock(wall))
    return {"cells": len(cells), "passed": passed, "failing_checks": failing, "line": line}


def write_csv(path, cells):
    fields = ["id", "clip", "config", "target_kbps", "kbps", "psnr_y", "psnr_u", "psnr_v", "psnr_yuv", "ssim_y",
              "frames", "fps", "cpu_fps", "wall_s", "failed_checks"]
    with open(path, "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=fields)
        w.writeheader()
        for c in cells:
            m = c.get("measure") or {}
            s = c.get("speed") or {}
            w.writerow({"id": c["id"], "clip": c["clip"], "config": c["config"],
                        "target_kbps": c["settings"].get("bitrate", ""), "kbps": _r(m.get("kbps")),
                        "psnr_y": _r(m.get("psnr_y")), "psnr_u": _r(m.get("psnr_u")), "psnr_v": _r(m.get("psnr_v")),
                        "psnr_yuv": _r(m.get("psnr_yuv")), "ssim_y": _r(m.get("ssim_y"), 5),
                        "frames": len(m.get("frames", [])), "fps": _r(s.get("fps")), "cpu_fps": _r(s.get("cpu_fps")),
                        "wall_s": _r(s.get("wall_s")),
                        "failed_checks": ";".join(k["name"] for k in c["checks"] if not k["ok"])})


def _r(v, digits=3):
    return "" if v is None else round(v, digits)


def main(argv=None):
    root = cellmod.root_dir()
    ap = argparse.ArgumentParser(prog="scripts/report.sh", description=__doc__.split("\n\n")[1])
    ap.add_argument("matrix", nargs="?", default=os.path.join(root, "scripts", "report-matrix.toml"))
    ap.add_argument("--out", default=os.path.join(cellmod.build_dir(), "report"))
    ap.add_argument("--jobs", type=int, default=min(2, os.cpu_count() or 1))
    ap.add_argument("--baseline", help="results.json of an earlier run to compare with")
    ap.add_argument("--scheduler", help="tcp://HOST:PORT of a Dask scheduler whose workers run the cells")
    ap.add_argument("--isolation", choices=("prefix", "shared"), default="prefix",
                    help="a Wine prefix and wineserver per concurrent cell (default), or one for all")
    args = ap.parse_args(argv)

    try:
        data = matrix.load(args.matrix)
        cells = matrix.cells(data)
        baseline = None
        if args.baseline:
            with open(args.baseline) as f:
                baseline = json.load(f)
    except (matrix.MatrixError, OSError, ValueError) as e:
        print("report: %s" % e, file=sys.stderr)
        return 2
    if not cells:
        print("report: the matrix has no cells", file=sys.stderr)
        return 2
    outdir = os.path.abspath(args.out)
    os.makedirs(outdir, exist_ok=True)
    options = {"isolation": args.isolation, "timeout": data["run"].get("timeout", 900),
               "tolerances": data["tolerances"]}

    started = datetime.datetime.now().isoformat(timespec="seconds")
    t0 = time.monotonic()
    progress = Progress(len(cells))
    try:
        if args.scheduler:
            results = run_cluster(cells, outdir, options, args.scheduler, progress)
        else:
            results = run_local(cells, outdir, options, max(1, args.jobs), progress)
    except (KeyboardInterrupt, cellmod.Interrupted):
        print("\nreport: interrupted; no results written", file=sys.stderr)
        return 2
    wall = time.monotonic() - t0

    encoder = next((c["record"].get("encoder") for c in results if c.get("record") and c["record"].get("encoder")), "")
    out = {"matrix": os.path.abspath(args.matrix), "started": started, "host": socket.gethostname(),
           "scheduler": args.scheduler, "jobs": args.jobs, "isolation": args.isolation, "wall_s": wall,
           "encoder": encoder, "cells": results, "summary": summarize(results, wall)}
    comparison = None
    if baseline is not None:
        comparison = comparemod.compare(out, baseline, data["thresholds"], args.baseline)
        out["comparison"] = comparison
    with open(os.path.join(outdir, "results.json"), "w") as f:
        json.dump(out, f, indent=1)
    write_csv(os.path.join(outdir, "results.csv"), results)
    with open(os.path.join(outdir, "report.html"), "w") as f:
        f.write(page.render(out, comparison, baseline["cells"] if baseline else None))

    print("report: " + out["summary"]["line"])
    if comparison:
        print("report: " + comparison["line"])
        for f in comparison["new_failures"]:
            print("report: newly failing: %s: %s (%s)" % (f["id"], f["check"], f["detail"]))
    print("report: %s" % os.path.join(outdir, "report.html"))
    return 1 if comparison and comparison["crossed"] else 0


if __name__ == "__main__":
    sys.exit(main())
