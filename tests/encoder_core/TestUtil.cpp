#include "TestUtil.h"

#include <cmath>
#include <cstdio>

#include "ExternalTools.h"

namespace vtest {

Frame MakeFrame(int w, int h, int t) {
    Frame f;
    f.w = w;
    f.h = h;
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    f.y.resize(static_cast<size_t>(w) * h);
    f.u.resize(static_cast<size_t>(cw) * ch);
    f.v.resize(static_cast<size_t>(cw) * ch);
    const double px = 1.75 * t, py = 0.5 * t; // background pan, sub-pixel
    const int bx = (w / 5 + 3 * t) % (w > 24 ? w - 8 : 8);
    const int by = (h / 4 + 2 * t) % (h > 24 ? h - 8 : 8);
    const int bs = std::max(8, std::min(w, h) / 4);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double X = x + px, Y = y + py;
            double v = 128 + 50 * std::sin(X * 0.21) * std::cos(Y * 0.17) + 30 * std::sin((X + 2 * Y) * 0.05);
            v += 6 * std::sin(X * 0.5) * std::sin(Y * 0.4); // fine texture that moves with the pan
            if (x >= bx && x < bx + bs && y >= by && y < by + bs) v = ((x - bx) / 4 + (y - by) / 4) % 2 ? 230 : 25;
            f.y[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(std::max(0.0, std::min(255.0, v)));
        }
    }
    for (int y = 0; y < ch; ++y) {
        for (int x = 0; x < cw; ++x) {
            // colour moves with the background pan
            const double X = 2 * x + px, Y = 2 * y + py;
            f.u[static_cast<size_t>(y) * cw + x] = static_cast<uint8_t>(128 + 50 * std::sin(X * 0.045) * std::cos(Y * 0.03));
            f.v[static_cast<size_t>(y) * cw + x] = static_cast<uint8_t>(128 + 50 * std::cos(Y * 0.05 + X * 0.01));
        }
    }
    return f;
}

Encoded EncodeClip(vcore::H264Encoder& enc, const vcore::EncoderSettings& s, int frames,
                   const std::vector<int>& forceAt) {
    Encoded e;
    if (!enc.Open(s)) return e;
    const vcore::UsedSettings used = enc.Used();
    for (int i = 0; i < frames; ++i) {
        for (int k : forceAt)
            if (k == i) enc.ForceKeyFrame();
        const Frame f = MakeFrame(s.width, s.height, i);
        const int cw = (s.width + 1) / 2;
        const size_t before = e.stream.size();
        bool idr = false;
        if (!enc.Encode(f.y.data(), s.width, f.u.data(), cw, f.v.data(), cw, e.stream, &idr)) return Encoded{};
        e.idr.push_back(idr);
        e.frameBytes.push_back(e.stream.size() - before);
        for (int p = 0; p < 3; ++p) {
            int st = 0;
            const uint8_t* r = enc.ReconPlane(p, &st);
            const int pw = p ? used.codedWidth / 2 : used.codedWidth;
            const int ph = p ? used.codedHeight / 2 : used.codedHeight;
            for (int row = 0; row < ph; ++row) e.recon.insert(e.recon.end(), r + static_cast<ptrdiff_t>(row) * st, r + static_cast<ptrdiff_t>(row) * st + pw);
        }
    }
    return e;
}

std::vector<Nal> SplitNals(const std::vector<uint8_t>& s) {
    std::vector<Nal> out;
    size_t i = 0;
    const size_t n = s.size();
    auto findStart = [&](size_t from) {
        for (size_t k = from; k + 3 <= n; ++k)
            if (s[k] == 0 && s[k + 1] == 0 && s[k + 2] == 1) return k;
        return n;
    };
    i = findStart(0);
    while (i < n) {
        const size_t payload = i + 3;
        size_t next = findStart(payload);
        size_t end = next;
        while (end > payload && s[end - 1] == 0) --end; // zero bytes of the next start code
        if (payload < end) {
            Nal nal;
            nal.refIdc = (s[payload] >> 5) & 3;
            nal.type = s[payload] & 31;
            int zeros = 0;
            for (size_t k = payload + 1; k < end; ++k) {
                if (zeros >= 2 && s[k] == 3) {
                    zeros = 0;
                    continue;
                }
                nal.rbsp.push_back(s[k]);
                zeros = s[k] == 0 ? zeros + 1 : 0;
            }
            out.push_back(std::move(nal));
        }
        i = next;
    }
    return out;
}

uint32_t BitReader::Bits(int n) {
    uint32_t v = 0;
    for (int k = 0; k < n; ++k) {
        const size_t byte = pos_ >> 3;
        const int bit = byte < d_.size() ? (d_[byte] >> (7 - (pos_ & 7))) & 1 : 0;
        v = (v << 1) | static_cast<uint32_t>(bit);
        ++pos_;
    }
    return v;
}

uint32_t BitReader::Ue() {
    int zeros = 0;
    while (Bits(1) == 0 && zeros < 32) ++zeros;
    return ((1u << zeros) - 1) + Bits(zeros);
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> d;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return d;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) d.insert(d.end(), buf, buf + n);
    std::fclose(f);
    return d;
}

bool DecodeWithFfmpeg(const std::string& in264, const std::string& outYuv, std::string* log) {
    testtools::ToolResult r = testtools::RunTool(
        "ffmpeg", {"-nostdin", "-v", "error", "-xerror", "-err_detect", "explode", "-f", "h264", "-i", in264, "-f",
                   "rawvideo", "-pix_fmt", "yuv420p", "-y", outYuv});
    if (log) *log = r.output;
    return r.exitCode == 0;
}

} // namespace vtest
