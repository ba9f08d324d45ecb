"""The matrix file (TOML): clips, setting sweeps or explicit rows, tolerances and the
thresholds of a comparison; and the clips made by ffmpeg that a matrix may ask for."""

import fcntl
import hashlib
import itertools
import os
import subprocess
import tomllib

# The console program's setting names.
SETTINGS = ("encoder_type", "preset", "profile", "level", "speed_quality", "rate_control", "bitrate", "gop",
            "exact_gop", "idr_interval", "b_frames", "cavlc", "pass_through_timestamps")

RATE_NAMES = {"cbr": 0, "constant bitrate": 0, "vbr": 1, "variable bitrate": 1}


class MatrixError(Exception):
    pass


def load(path):
    try:
        with open(path, "rb") as f:
            data = tomllib.load(f)
    except (OSError, tomllib.TOMLDecodeError) as e:
        raise MatrixError("cannot read the matrix %s: %s" % (path, e))
    data.setdefault("clips", [])
    data.setdefault("settings", {})
    data.setdefault("rows", [])
    data.setdefault("tolerances", {})
    data.setdefault("thresholds", {})
    data.setdefault("run", {})
    names = set()
    for clip in data["clips"]:
        if "name" not in clip or ("path" not in clip and "generate" not in clip):
            raise MatrixError("every clip needs a name and a path or a generate line: %r" % (clip,))
        if clip["name"] in names:
            raise MatrixError("two clips are named %s" % clip["name"])
        names.add(clip["name"])
    for table in [data["settings"]] + [c.get("settings", {}) for c in data["clips"]] + \
            [r.get("settings", {}) for r in data["rows"]]:
        for key in table:
            if key not in SETTINGS:
                raise MatrixError("unknown setting %r (known: %s)" % (key, ", ".join(SETTINGS)))
    for row in data["rows"]:
        if row.get("clip") not in names:
            raise MatrixError("row for an unknown clip: %r" % (row,))
    return data


def _normal(settings):
    out = {}
    for k, v in settings.items():
        if k == "rate_control" and isinstance(v, str):
            v = RATE_NAMES.get(v.lower(), v)
        out[k] = v
    return out


def config_label(settings):
    """The configuration a cell belongs to: its settings without the bitrate (one RD curve)."""
    rest = {k: v for k, v in settings.items() if k != "bitrate"}
    if not rest:
        return "default"
    parts = []
    for k in SETTINGS:
        if k in rest:
            v = rest[k]
            if k == "rate_control":
                parts.append({0: "CBR", 1: "VBR"}.get(v, "rc=%s" % v))
            else:
                parts.append("%s=%s" % (k, v))
    return " ".join(parts)


def cell_id(clip, settings):
    return clip + "".join("_%s-%s" % (k, str(settings[k]).replace(" ", "")) for k in SETTINGS if k in settings)


def cells(data):
    """Every cell: each clip crossed with its sweep (the clip's own settings over the global
    ones), then the explicit rows."""
    out = []
    clips = {c["name"]: c for c in data["clips"]}
    for clip in data["clips"]:
        sweep = dict(data["settings"])
        sweep.update(clip.get("settings", {}))
        if clip.get("rows_only"):
            continue
        keys = [k for k in SETTINGS if k in sweep]
        values = [v if isinstance(v, list) else [v] for v in (sweep[k] for k in keys)]
        for combo in itertools.product(*values):
            out.append(_cell(clips[clip["name"]], _normal(dict(zip(keys, combo)))))
    for row in data["rows"]:
        out.append(_cell(clips[row["clip"]], _normal(row.get("settings", {}))))
    seen = set()
    unique = []
    for c in out:
        if c["id"] not in seen:
            seen.add(c["id"])
            unique.append(c)
    return unique


def _cell(clip, settings):
    return {"id": cell_id(clip["name"], settings), "clip": clip, "settings": settings,
            "config": config_label(settings)}


def clip_path(clip, root, build):
    """The clip's file, made first when the matrix says how to generate it."""
    if "path" in clip:
        p = clip["path"].replace("{build}", build).replace("{root}", root)
        return p if os.path.isabs(p) else os.path.join(root, p)
    folder = os.path.join(build, "report-clips")
    os.makedirs(folder, exist_ok=True)
    # Named by what makes it, so that a changed generate line or length makes a new clip.
    recipe = "%s|%s" % (clip["generate"], clip.get("seconds", 2))
    path = os.path.join(folder, "%s-%s.mp4" % (clip["name"], hashlib.sha1(recipe.encode()).hexdigest()[:10]))
    with open(path + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(path):
            generate(clip, path)
    return path


def generate(clip, path):
    """A clip from one of ffmpeg's generators, coded nearly losslessly so that the encoder
    under test gets (after decoding) the same pictures as the reference."""
    tmp = path + ".tmp.mp4"
    args = ["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", clip["generate"],
            "-t", str(clip.get("seconds", 2)), "-an", "-c:v", "libx264", "-preset", "veryfast", "-crf", "8",
            "-threads", "1", "-pix_fmt", "yuv420p", "-movflags", "+faststart", tmp]
    p = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if p.returncode != 0:
        raise MatrixError("ffmpeg could not make clip %s: %s" % (clip["name"], p.stderr.strip()[-300:]))
    os.replace(tmp, path)
