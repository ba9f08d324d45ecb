"""The report as one self-contained HTML page: rate-distortion curves per clip, per-frame
bits and PSNR of every cell with its I and IDR pictures marked, the checks, the speed, and
the comparison with a baseline when there is one."""

import base64
import html
import io

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def _png(fig):
    buf = io.BytesIO()
    fig.savefig(buf, format="png", dpi=80, bbox_inches="tight")
    plt.close(fig)
    return "data:image/png;base64," + base64.b64encode(buf.getvalue()).decode("ascii")


def curves(cells):
    """clip -> configuration -> sorted points (kbps, PSNR-Y, SSIM-Y) of the measured cells."""
    out = {}
    for c in cells:
        m = c.get("measure")
        if not m or "psnr_y" not in m:
            continue
        out.setdefault(c["clip"], {}).setdefault(c["config"], []).append(
            (m["kbps"], m["psnr_y"], m.get("ssim_y")))
    for clip in out.values():
        for cfg in clip:
            clip[cfg].sort()
    return out


def rd_plot(clip, configs, baseline=None):
    fig, (ax1, ax2) = plt.subplots(1, 2, figsize=(10, 3.6))
    for cfg, pts in sorted(configs.items()):
        line = ax1.plot([p[0] for p in pts], [p[1] for p in pts], "o-", label=cfg)[0]
        ax2.plot([p[0] for p in pts], [p[2] for p in pts], "o-", color=line.get_color(), label=cfg)
        if baseline and cfg in baseline:
            old = baseline[cfg]
            ax1.plot([p[0] for p in old], [p[1] for p in old], "x--", color=line.get_color(), alpha=0.6,
                     label=cfg + " (baseline)")
            ax2.plot([p[0] for p in old], [p[2] for p in old], "x--", color=line.get_color(), alpha=0.6)
    ax1.set(title="%s: PSNR-Y" % clip, xlabel="kbit/s", ylabel="dB")
    ax2.set(title="%s: SSIM-Y" % clip, xlabel="kbit/s", ylabel="SSIM")
    for ax in (ax1, ax2):
        ax.grid(alpha=0.3)
    ax1.legend(fontsize=7)
    return _png(fig)


def frame_plot(cell):
    m = cell["measure"]
    frames = m["frames"]
    x = list(range(len(frames)))
    kbits = [8 * f["bytes"] / 1000 for f in frames]
    colors = ["#d62728" if f.get("idr") else "#ff7f0e" if f["type"] == "I" else
              "#1f77b4" if f["type"] == "P" else "#2ca02c" for f in frames]
    fig, ax = plt.subplots(figsize=(10, 2.8))
    ax.vlines(x, 0, kbits, colors=colors, linewidth=2)
    ax.set(xlabel="picture (display order)", ylabel="kbit", title=cell["id"])
    idr = [i for i, f in enumerate(frames) if f.get("idr")]
    ax.plot(idr, [kbits[i] for i in idr], "v", color="#d62728", label="IDR")
    intra = [i for i, f in enumerate(frames) if f["type"] == "I" and not f.get("idr")]
    ax.plot(intra, [kbits[i] for i in intra], "v", color="#ff7f0e", label="I")
    handles = ax.get_legend_handles_labels()
    if m.get("psnr"):
        ax2 = ax.twinx()
        psnr = [p[0] for p in m["psnr"]]
        ax2.plot(range(len(psnr)), psnr, color="black", lw=0.8, label="PSNR-Y")
        # At least 10 dB from bottom to top: a few tenths of a dB must not look like a collapse.
        lo, hi = min(psnr), max(psnr)
        pad = max(0.5, (10 - (hi - lo)) / 2)
        ax2.set_ylim(lo - pad, hi + pad)
        ax2.set_ylabel("PSNR-Y dB")
        more = ax2.get_legend_handles_labels()
        handles = (handles[0] + more[0], handles[1] + more[1])
    ax.legend(*handles, loc="upper right", fontsize=7)
    return _png(fig)


def speed_plot(cells):
    rows = [(c["id"], c["speed"]["fps"]) for c in cells if c.get("speed") and c["speed"].get("fps")]
    fig, ax = plt.subplots(figsize=(10, 0.25 * len(rows) + 1))
    ax.barh([r[0] for r in rows], [r[1] for r in rows], color="#1f77b4")
    ax.set(xlabel="frames per second (wall clock)")
    ax.invert_yaxis()
    ax.tick_params(axis="y", labelsize=8)
    return _png(fig)


def _fmt(v, f="%.2f"):
    return "" if v is None else f % v


SCRIPT = """
window.onerror = function (msg) {
  document.body.dataset.errors = (document.body.dataset.errors || "") + msg + ";";
};
document.getElementById("only-failing").addEventListener("change", function (e) {
  document.querySelectorAll("#checks tbody tr").forEach(function (tr) {
    tr.hidden = e.target.checked && tr.dataset.failed === "0";
  });
});
window.addEventListener("load", function () {
  var plots = document.querySelectorAll("figure.rd-plot img");
  var shown = 0;
  plots.forEach(function (img) { if (img.complete && img.naturalWidth > 0) shown++; });
  document.body.dataset.rdPlotsShown = String(shown);
  document.body.dataset.ready = "1";
});
"""

STYLE = """
body { font-family: sans-serif; margin: 1.5em; color: #222; }
table { border-collapse: collapse; font-size: 13px; }
td, th { border: 1px solid #ccc; padding: 2px 6px; text-align: right; }
td.l, th.l { text-align: left; }
.pass { background: #dff0d8; } .fail { background: #f2dede; }
figure { margin: 0.5em 0; } img { max-width: 100%; }
.summary { font-size: 15px; font-weight: bold; }
"""


def render(results, comparison=None, baseline_cells=None):
    cells = results["cells"]
    e = html.escape
    parts = ["<!DOCTYPE html><html><head><meta charset='utf-8'><title>Encoder report</title>",
             "<style>%s</style></head><body>" % STYLE,
             "<h1>Encoder report</h1>",
             "<p class='summary' id='summary'>%s</p>" % e(results["summary"]["line"]),
             "<p>Encoder: %s<br>Matrix: %s<br>Started %s on %s</p>" % (
                 e(results.get("encoder") or "?"), e(results.get("matrix", "")), e(results.get("started", "")),
                 e(results.get("host", "")))]
    if comparison:
        parts.append("<h2>Comparison with %s</h2>" % e(comparison["baseline"]))
        parts.append("<p class='summary' id='comparison'>%s</p>" % e(comparison["line"]))
        parts.append("<table><tr><th class='l'>clip</th><th class='l'>configuration</th>"
                     "<th>BD-rate PSNR %</th><th>BD-rate SSIM %</th></tr>")
        for row in comparison["bd_rates"]:
            parts.append("<tr><td class='l'>%s</td><td class='l'>%s</td><td>%s</td><td>%s</td></tr>" % (
                e(row["clip"]), e(row["config"]), _fmt(row["psnr"]), _fmt(row["ssim"])))
        parts.append("</table>")
        if comparison["new_failures"]:
            parts.append("<h3>Checks that newly fail</h3><ul>")
            for f in comparison["new_failures"]:
                parts.append("<li>%s: %s (%s)</li>" % (e(f["id"]), e(f["check"]), e(f["detail"])))
            parts.append("</ul>")

    parts.append("<h2>Rate-distortion</h2>")
    old_curves = curves(baseline_cells) if baseline_cells else {}
    for clip, configs in sorted(curves(cells).items()):
        parts.append("<figure class='rd-plot' data-clip='%s'><img alt='RD curves of %s' src='%s'></figure>" % (
            e(clip), e(clip), rd_plot(clip, configs, old_curves.get(clip))))

    parts.append("<h2>Checks</h2><label><input type='checkbox' id='only-failing'> only cells with failures</label>")
    parts.append("<table id='checks'><thead><tr><th class='l'>clip</th><th class='l'>configuration</th>"
                 "<th>target kbit/s</th><th>kbit/s</th>"
                 "<th>PSNR Y</th><th>PSNR U</th><th>PSNR V</th><th>SSIM Y</th><th>fps</th>"
                 "<th class='l'>checks</th></tr></thead><tbody>")
    for c in cells:
        m = c.get("measure") or {}
        failed = [k for k in c["checks"] if not k["ok"]]
        # The failing checks by name (details on hovering); the passing ones only counted.
        checks_html = " ".join("<b class='fail' title='%s'>%s</b>" % (e(k["detail"]), e(k["name"])) for k in failed)
        passed = len(c["checks"]) - len(failed)
        checks_html += "%s<span title='%s'>%s%d pass</span>" % (
            " " if failed else "", e("; ".join("%s: %s" % (k["name"], k["detail"]) for k in c["checks"] if k["ok"])),
            "" if failed else "all ", passed)
        parts.append("<tr data-failed='%d' class='%s' title='%s'><td class='l'>%s</td><td class='l'>%s</td><td>%s</td>"
                     "<td>%s</td><td>%s</td>"
                     "<td>%s</td><td>%s</td><td>%s</td><td>%s</td><td class='l'>%s</td></tr>" % (
                         len(failed), "fail" if failed else "pass", e(c["id"]), e(c["clip"]), e(c["config"]),
                         e(str(c["settings"].get("bitrate", ""))),
                         _fmt(m.get("kbps"), "%.0f"), _fmt(m.get("psnr_y")), _fmt(m.get("psnr_u")),
                         _fmt(m.get("psnr_v")), _fmt(m.get("ssim_y"), "%.4f"),
                         _fmt((c.get("speed") or {}).get("fps"), "%.1f"), checks_html))
    parts.append("</tbody></table>")
    parts.append("<h3>Failed checks</h3><ul>")
    for c in cells:
        for k in c["checks"]:
            if not k["ok"]:
                parts.append("<li>%s: <b>%s</b>: %s</li>" % (e(c["id"]), e(k["name"]), e(k["detail"])))
    parts.append("</ul>")

    parts.append("<h2>Speed</h2>")
    if any(c.get("speed") and c["speed"].get("fps") for c in cells):
        parts.append("<figure class='speed-plot'><img alt='speed' src='%s'></figure>" % speed_plot(cells))
    parts.append("<h2>Pictures</h2><p>Bars: bits of each picture (red IDR, orange I, blue P, green B); "
                 "line: PSNR-Y.</p>")
    for c in cells:
        if c.get("measure") and c["measure"].get("frames"):
            # Cells with a failing check are shown open: they are the ones a tester looks at.
            failing = [k["name"] for k in c["checks"] if not k["ok"]]
            parts.append("<details class='frames'%s><summary>%s%s</summary><img alt='pictures of %s' src='%s'>"
                         "</details>" % (" open" if failing else "", e(c["id"]),
                                         " <span class='fail'>%s</span>" % e(", ".join(failing)) if failing else "",
                                         e(c["id"]), frame_plot(c)))
    parts.append("<script>%s</script></body></html>" % SCRIPT)
    return "\n".join(parts)
