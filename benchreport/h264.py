"""Reading an H.264 Annex-B stream: NAL units, the sequence parameter set, the pictures in
decode order, and the level limits of the standard's table A-1."""

import math


def nal_units(data):
    """Yields (nal_unit_type, payload bytes with header) of an Annex-B byte stream."""
    n = len(data)
    starts = []
    i = 0
    while True:
        i = data.find(b"\x00\x00\x01", i)
        if i < 0:
            break
        starts.append(i + 3)
        i += 3
    for k, s in enumerate(starts):
        end = starts[k + 1] - 3 if k + 1 < len(starts) else n
        # A four-byte start code leaves one zero byte behind the previous unit.
        while end > s and data[end - 1] == 0:
            end -= 1
        if end > s:
            yield data[s] & 0x1F, data[s:end]


def rbsp(nal):
    """The payload without its header byte and emulation prevention bytes."""
    out = bytearray()
    zeros = 0
    for b in nal[1:]:
        if zeros >= 2 and b == 3:
            zeros = 0
            continue
        out.append(b)
        zeros = zeros + 1 if b == 0 else 0
    return bytes(out)


class BitReader:
    def __init__(self, data):
        self.data = data
        self.pos = 0

    def u(self, n):
        v = 0
        for _ in range(n):
            byte = self.pos >> 3
            if byte >= len(self.data):
                raise ValueError("read past the end of the unit")
            v = (v << 1) | ((self.data[byte] >> (7 - (self.pos & 7))) & 1)
            self.pos += 1
        return v

    def ue(self):
        zeros = 0
        while self.u(1) == 0:
            zeros += 1
            if zeros > 31:
                raise ValueError("bad exp-Golomb code")
        return (1 << zeros) - 1 + self.u(zeros)

    def se(self):
        k = self.ue()
        return (k + 1) // 2 if k & 1 else -(k // 2)


def _skip_scaling_list(r, size):
    last = nxt = 8
    for _ in range(size):
        if nxt != 0:
            nxt = (last + r.se() + 256) % 256
        last = nxt if nxt != 0 else last


def parse_sps(nal):
    """The fields of a sequence parameter set that the checks need."""
    r = BitReader(rbsp(nal))
    sps = {"profile_idc": r.u(8)}
    flags = r.u(8)
    sps["constraint_set3"] = (flags >> 4) & 1
    sps["level_idc"] = r.u(8)
    r.ue()  # seq_parameter_set_id
    chroma = 1
    if sps["profile_idc"] in (100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135):
        chroma = r.ue()
        if chroma == 3:
            r.u(1)
        r.ue()
        r.ue()
        r.u(1)
        if r.u(1):
            for i in range(8 if chroma != 3 else 12):
                if r.u(1):
                    _skip_scaling_list(r, 16 if i < 6 else 64)
    r.ue()  # log2_max_frame_num_minus4
    poc_type = r.ue()
    if poc_type == 0:
        r.ue()
    elif poc_type == 1:
        r.u(1)
        r.se()
        r.se()
        for _ in range(r.ue()):
            r.se()
    sps["max_num_ref_frames"] = r.ue()
    r.u(1)
    width_mbs = r.ue() + 1
    map_units = r.ue() + 1
    frame_mbs_only = r.u(1)
    if not frame_mbs_only:
        r.u(1)
    r.u(1)
    height_mbs = (2 - frame_mbs_only) * map_units
    crop = [0, 0, 0, 0]
    if r.u(1):
        crop = [r.ue(), r.ue(), r.ue(), r.ue()]
    cx, cy = (2, 2 * (2 - frame_mbs_only)) if chroma == 1 else (1, 2 - frame_mbs_only)
    sps.update(width_mbs=width_mbs, height_mbs=height_mbs, frame_mbs_only=frame_mbs_only,
               width=width_mbs * 16 - cx * (crop[0] + crop[1]),
               height=height_mbs * 16 - cy * (crop[2] + crop[3]))
    sps["hrd"] = None
    if r.u(1):  # VUI
        try:
            _parse_vui(r, sps)
        except ValueError:
            pass  # a cut VUI leaves the fields read so far
    return sps


def _parse_vui(r, sps):
    if r.u(1) and r.u(8) == 255:
        r.u(16)
        r.u(16)
    if r.u(1):
        r.u(1)
    if r.u(1):
        r.u(3)
        r.u(1)
        if r.u(1):
            r.u(24)
    if r.u(1):
        r.ue()
        r.ue()
    if r.u(1):
        num_units, time_scale = r.u(32), r.u(32)
        r.u(1)
        if num_units:
            sps["vui_fps"] = time_scale / (2.0 * num_units)
    if r.u(1):  # NAL HRD
        cpb_cnt = r.ue() + 1
        br_scale, cpb_scale = r.u(4), r.u(4)
        br = cpb = 0
        for i in range(cpb_cnt):
            b, c = r.ue() + 1, r.ue() + 1
            cbr = r.u(1)
            if i == 0:
                br, cpb = b << (6 + br_scale), c << (4 + cpb_scale)
                sps["hrd"] = {"bit_rate": br, "cpb_size": cpb, "cbr": cbr}


def pictures(data):
    """The pictures of the stream in decode order: dicts with idr, slice type letter and bytes
    (every unit of the access unit, with a four-byte start code or length each)."""
    pics = []
    pending = 0
    sps = None
    for kind, nal in nal_units(data):
        size = len(nal) + 4
        if kind == 7 and sps is None:
            sps = parse_sps(nal)
        if kind in (1, 5):
            r = BitReader(rbsp(nal[:32]))
            first_mb = r.ue()
            slice_type = "PBIpi"[r.ue() % 5]
            if first_mb == 0 or not pics:
                pics.append({"idr": kind == 5, "type": slice_type, "bytes": pending + size})
                pending = 0
            else:
                pics[-1]["bytes"] += pending + size
                pending = 0
        else:
            pending += size
    if pics:
        pics[-1]["bytes"] += pending
    return sps, pics


# Table A-1: level -> (MaxMBPS, MaxFS, MaxDpbMbs, MaxBR, MaxCPB); MaxBR and MaxCPB in units
# of cpbBrNalFactor bits (per second).
LEVELS = {
    "1": (1485, 99, 396, 64, 175),
    "1b": (1485, 99, 396, 128, 350),
    "1.1": (3000, 396, 900, 192, 500),
    "1.2": (6000, 396, 2376, 384, 1000),
    "1.3": (11880, 396, 2376, 768, 2000),
    "2": (11880, 396, 2376, 2000, 2000),
    "2.1": (19800, 792, 4752, 4000, 4000),
    "2.2": (20250, 1620, 8100, 4000, 4000),
    "3": (40500, 1620, 8100, 10000, 10000),
    "3.1": (108000, 3600, 18000, 14000, 14000),
    "3.2": (216000, 5120, 20480, 20000, 20000),
    "4": (245760, 8192, 32768, 20000, 25000),
    "4.1": (245760, 8192, 32768, 50000, 62500),
    "4.2": (522240, 8704, 34816, 50000, 62500),
    "5": (589824, 22080, 110400, 135000, 135000),
    "5.1": (983040, 36864, 184320, 240000, 240000),
    "5.2": (2073600, 36864, 184320, 240000, 240000),
}


def level_name(sps):
    idc = sps["level_idc"]
    if idc == 9 or (idc == 11 and sps["constraint_set3"] and sps["profile_idc"] in (66, 77, 88)):
        return "1b"
    major, minor = divmod(idc, 10)
    return str(major) if minor == 0 else "%d.%d" % (major, minor)


def nal_factor(profile_idc):
    """cpbBrNalFactor of table A-2."""
    return {100: 1500, 110: 3600, 122: 4800, 244: 4800}.get(profile_idc, 1200)


def level_limits(sps):
    name = level_name(sps)
    if name not in LEVELS:
        return name, None
    mbps, fs, dpb, br, cpb = LEVELS[name]
    f = nal_factor(sps["profile_idc"])
    return name, {"max_mbps": mbps, "max_fs": fs, "max_dpb_mbs": dpb, "max_br": br * f,
                  "max_cpb": cpb * f, "max_dim_mbs": math.sqrt(8 * fs)}
