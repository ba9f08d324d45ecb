"""Measures an encoded file with ffmpeg and ffprobe, against the clip it was made from."""

import json
import os
import re
import subprocess

from . import h264


def _run(args, **kw):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kw)


def ffprobe_json(path, *entries):
    p = _run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-of", "json"] + list(entries) + [path])
    if p.returncode != 0:
        raise RuntimeError("ffprobe cannot read %s: %s" % (path, p.stderr.strip()[-400:]))
    return json.loads(p.stdout or "{}")


def _rate(text):
    try:
        num, den = text.split("/")
        return float(num) / float(den) if float(den) else 0.0
    except (ValueError, AttributeError):
        return 0.0


def stream_info(path):
    """Size, frame rate and frame count of the first video stream."""
    info = ffprobe_json(path, "-count_packets", "-show_entries",
                        "stream=codec_name,width,height,avg_frame_rate,r_frame_rate,nb_read_packets,profile,level")
    streams = info.get("streams") or []
    if not streams:
        raise RuntimeError("%s has no video stream" % path)
    s = streams[0]
    fps = _rate(s.get("avg_frame_rate")) or _rate(s.get("r_frame_rate"))
    return {"codec": s.get("codec_name"), "width": s.get("width"), "height": s.get("height"),
            "fps": fps, "frames": int(s.get("nb_read_packets") or 0), "profile": s.get("profile"),
            "level": s.get("level")}


def decode_errors(path):
    """Lines that ffmpeg's decoder reports as errors while decoding the whole file."""
    p = _run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:v:0", "-f", "null", "-"])
    lines = [l for l in p.stderr.splitlines() if l.strip()]
    if p.returncode != 0 and not lines:
        lines = ["ffmpeg exited with status %d" % p.returncode]
    return lines


def _parse_stats(path, pattern):
    out = []
    rx = re.compile(pattern)
    with open(path) as f:
        for line in f:
            m = rx.search(line)
            if m:
                out.append(tuple(min(float(v), 100.0) if v != "inf" else 100.0 for v in m.groups()))
    return out


def quality(path, reference, width, height, workdir):
    """Per-frame PSNR (Y, U, V) and SSIM (Y, all) of the file against the reference, frame by
    frame from the first; the reference is scaled only when the sizes differ."""
    psnr_log = os.path.join(workdir, "psnr.log")
    ssim_log = os.path.join(workdir, "ssim.log")
    graph = ("[0:v]setpts=PTS-STARTPTS,format=yuv420p[d];"
             "[1:v]setpts=PTS-STARTPTS,format=yuv420p,scale=%d:%d:flags=bicubic,split[r1][r2];"
             "[d][r1]psnr=stats_file=%s:shortest=1[dp];[dp][r2]ssim=stats_file=%s:shortest=1"
             % (width, height, _filter_path(psnr_log), _filter_path(ssim_log)))
    p = _run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-i", reference, "-lavfi", graph, "-f", "null", "-"])
    if p.returncode != 0:
        raise RuntimeError("ffmpeg could not compare with the source: %s" % p.stderr.strip()[-400:])
    psnr = _parse_stats(psnr_log, r"psnr_y:(\S+) psnr_u:(\S+) psnr_v:(\S+)")
    ssim = _parse_stats(ssim_log, r"Y:(\S+) U:\S+ V:\S+ All:(\S+)")
    return psnr, ssim


def _filter_path(path):
    return path.replace("\\", "\\\\").replace(":", "\\:").replace("'", "\\'")


def annexb(path, workdir):
    out = os.path.join(workdir, "stream.264")
    p = _run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", path, "-map", "0:v:0", "-c", "copy",
              "-bsf:v", "h264_mp4toannexb", "-f", "h264", out])
    if p.returncode != 0:
        raise RuntimeError("ffmpeg could not extract the stream: %s" % p.stderr.strip()[-400:])
    with open(out, "rb") as f:
        data = f.read()
    os.remove(out)
    return data


def frames(path):
    """Display-order frames (picture type, size, time) and decode-order packets."""
    fr = ffprobe_json(path, "-show_entries", "frame=pict_type,key_frame,pts_time,best_effort_timestamp_time,pkt_size")
    pk = ffprobe_json(path, "-show_entries", "packet=pts_time,dts_time,size,flags")
    out = []
    for f in fr.get("frames", []):
        t = f.get("pts_time", f.get("best_effort_timestamp_time"))
        out.append({"type": f.get("pict_type", "?"), "key": int(f.get("key_frame", 0)),
                    "bytes": int(f.get("pkt_size", 0) or 0), "t": float(t) if t not in (None, "N/A") else None})
    packets = [{"t": float(p["pts_time"]) if p.get("pts_time") not in (None, "N/A") else None,
                "bytes": int(p.get("size", 0))} for p in pk.get("packets", [])]
    return out, packets


def measure(path, reference, workdir, fps=None):
    """Everything the checks and the report need about one encoded file."""
    os.makedirs(workdir, exist_ok=True)
    m = {"file": path, "bytes": os.path.getsize(path)}
    src = stream_info(reference)
    out = stream_info(path)
    m["source"] = src
    m["stream"] = out
    fps = fps or src["fps"] or out["fps"] or 25.0
    m["fps"] = fps
    m["decode_errors"] = decode_errors(path)

    sps, pics = h264.pictures(annexb(path, workdir))
    m["sps"] = sps
    disp, packets = frames(path)
    # Decode-order pictures and packets are the same units: the packets' times place the
    # IDR pictures in display order.
    idr_times = set()
    for pic, pkt in zip(pics, packets):
        if pic["idr"] and pkt["t"] is not None:
            idr_times.add(round(pkt["t"], 4))
    for f in disp:
        f["idr"] = f["t"] is not None and round(f["t"], 4) in idr_times
    if disp and not idr_times and pics and pics[0]["idr"]:
        disp[0]["idr"] = True
    m["frames"] = disp
    m["decode_order_bytes"] = [p["bytes"] for p in pics]
    m["decode_order_idr"] = [p["idr"] for p in pics]

    n = len(disp)
    total_bits = 8 * sum(p["bytes"] for p in packets)
    m["kbps"] = total_bits / (n / fps) / 1000.0 if n else 0.0

    if out["width"] and out["height"]:
        psnr, ssim = quality(path, reference, out["width"], out["height"], workdir)
    else:
        psnr, ssim = [], []
    m["psnr"] = [list(p) for p in psnr]
    m["ssim"] = [list(s) for s in ssim]
    if psnr:
        m["psnr_y"] = sum(p[0] for p in psnr) / len(psnr)
        m["psnr_u"] = sum(p[1] for p in psnr) / len(psnr)
        m["psnr_v"] = sum(p[2] for p in psnr) / len(psnr)
        # The usual 6:1:1 weighting of the planes.
        m["psnr_yuv"] = (6 * m["psnr_y"] + m["psnr_u"] + m["psnr_v"]) / 8
    if ssim:
        m["ssim_y"] = sum(s[0] for s in ssim) / len(ssim)
        m["ssim"] = [list(s) for s in ssim]
    return m
