// Content made with ffmpeg's generators, coded in every rate mode, checked
// from the outside: ffmpeg decodes the stream against the source, the rate
// comes from the bytes produced, the decoder buffer of the level the SPS
// names is followed picture by picture, key frames sit where configured.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

#include "ExternalTools.h"
#include "TestUtil.h"

namespace {

struct Clip {
    int w = 0, h = 0, frames = 0;
    std::vector<uint8_t> data; // I420 frames back to back, chroma (w+1)/2 x (h+1)/2
    size_t FrameSize() const { return static_cast<size_t>(w) * h + 2 * static_cast<size_t>((w + 1) / 2) * ((h + 1) / 2); }
    const uint8_t* Frame(int i) const { return data.data() + FrameSize() * static_cast<size_t>(i); }
};

// Makes a clip with ffmpeg's lavfi generators; empty on failure.
Clip MakeClip(const std::string& name, const std::string& graph, int w, int h, int frames) {
    Clip c;
    const std::string path = testtools::TempPath(name + "_src.yuv");
    const testtools::ToolResult r = testtools::RunTool(
        "ffmpeg", {"-nostdin", "-v", "error", "-f", "lavfi", "-i", graph, "-frames:v", std::to_string(frames), "-vf",
                   "scale=" + std::to_string(w) + ":" + std::to_string(h) + ",format=yuv420p", "-f", "rawvideo", "-y", path});
    c.w = w;
    c.h = h;
    c.frames = frames;
    c.data = vtest::ReadFile(path);
    std::remove(path.c_str());
    if (r.exitCode != 0 || c.data.size() != c.FrameSize() * static_cast<size_t>(frames)) c.data.clear();
    return c;
}

// A detailed still picture (cellular pattern, blurred), W x H, repeated.
std::string Texture(int w, int h, const std::string& rate) {
    return "life=s=" + std::to_string(w) + "x" + std::to_string(h) +
           ":mold=10:ratio=0.5:seed=7:death_color=#503020:life_color=#30b070,trim=end_frame=1,boxblur=1,"
           "loop=loop=-1:size=1,fps=" + rate;
}

struct Coded {
    std::vector<uint8_t> stream;
    std::vector<size_t> pictureBytes; // what each Encode call appended
    std::vector<bool> idr;
    std::vector<uint8_t> reconY; // the encoder's own luma of every picture, w x h
};

Coded Encode(const Clip& c, const vcore::EncoderSettings& s, vcore::H264Encoder& enc) {
    Coded out;
    if (!enc.Open(s)) return out;
    const int cw = (c.w + 1) / 2, ch = (c.h + 1) / 2;
    for (int i = 0; i < c.frames; ++i) {
        const uint8_t* y = c.Frame(i);
        const uint8_t* u = y + static_cast<size_t>(c.w) * c.h;
        const uint8_t* v = u + static_cast<size_t>(cw) * ch;
        const size_t before = out.stream.size();
        bool idr = false;
        if (!enc.Encode(y, c.w, u, cw, v, cw, out.stream, &idr)) return Coded{};
        out.pictureBytes.push_back(out.stream.size() - before);
        out.idr.push_back(idr);
        int st = 0;
        const uint8_t* r = enc.ReconPlane(0, &st);
        for (int row = 0; r && row < c.h; ++row) out.reconY.insert(out.reconY.end(), r + row * st, r + row * st + c.w);
    }
    return out;
}

// The byte stream's buffer of a level (MaxBR and MaxCPB times 1200 bits),
// written out here rather than taken from the encoder.
struct LevelBuf {
    double maxRateBits, cpbBits;
};
const std::map<int, LevelBuf> kLevelBuffers = {
    {10, {64 * 1200.0, 175 * 1200.0}},     {11, {192 * 1200.0, 500 * 1200.0}},
    {12, {384 * 1200.0, 1000 * 1200.0}},   {13, {768 * 1200.0, 2000 * 1200.0}},
    {20, {2000 * 1200.0, 2000 * 1200.0}},  {21, {4000 * 1200.0, 4000 * 1200.0}},
    {22, {4000 * 1200.0, 4000 * 1200.0}},  {30, {10000 * 1200.0, 10000 * 1200.0}},
    {31, {14000 * 1200.0, 14000 * 1200.0}}, {32, {20000 * 1200.0, 20000 * 1200.0}},
};

int SpsLevel(const std::vector<uint8_t>& stream) {
    for (const vtest::Nal& n : vtest::SplitNals(stream))
        if (n.type == 7 && n.rbsp.size() > 2) return n.rbsp[2];
    return 0;
}

// Pictures that break the buffer. CBR: bits arrive at the target rate; no
// initial delay exists for which no picture arrives late and the buffer
// never overflows -> the count of offending pictures. VBR: arrival at the
// level's maximum rate while not full, starting full; late pictures.
int BufferViolations(const Coded& c, int level, bool cbr, int kbps, double fps) {
    auto it = kLevelBuffers.find(level);
    if (it == kLevelBuffers.end()) return static_cast<int>(c.pictureBytes.size());
    const double cpb = it->second.cpbBits;
    int bad = 0;
    if (cbr) {
        const double bpf = kbps * 1000.0 / fps;
        std::vector<double> excess;
        double sum = 0;
        for (size_t n = 0; n < c.pictureBytes.size(); ++n) {
            sum += 8.0 * static_cast<double>(c.pictureBytes[n]);
            excess.push_back(sum - static_cast<double>(n) * bpf);
        }
        double lowest = 0;
        for (size_t n = 0; n + 1 < excess.size(); ++n) lowest = std::min(lowest, excess[n]);
        const double hi = std::min(cpb, cpb - bpf + lowest);
        for (double e : excess) bad += e > hi;
        return bad;
    }
    double full = cpb;
    for (size_t b : c.pictureBytes) {
        const double bits = 8.0 * static_cast<double>(b);
        if (bits > full) {
            ++bad;
            full = 0;
        } else {
            full -= bits;
        }
        full = std::min(cpb, full + it->second.maxRateBits / fps);
    }
    return bad;
}

struct Row {
    const char* name;
    std::string graph; // lavfi source
    int w, h;
    double fps;
    int frames;
    int rc;
    int kbps;
    int gop;
    double rateTolerance; // relative
    double minPsnr;       // luma, decoded against the source
};

std::ostream& operator<<(std::ostream& o, const Row& r) { return o << r.name; }

class Corpus : public ::testing::TestWithParam<Row> {};

TEST_P(Corpus, DecodesHoldsRateBufferAndKeyFrames) {
    if (!testtools::ToolAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg not available";
    const Row& row = GetParam();
    const Clip clip = MakeClip(row.name, row.graph, row.w, row.h, row.frames);
    ASSERT_FALSE(clip.data.empty()) << "ffmpeg could not make " << row.graph;

    vcore::EncoderSettings s;
    s.width = row.w;
    s.height = row.h;
    s.fps = row.fps;
    s.rateControl = row.rc;
    s.bitrateKbps = row.kbps;
    s.gopSize = row.gop;
    s.speedQuality = 4;
    vcore::H264Encoder enc;
    const Coded c = Encode(clip, s, enc);
    ASSERT_EQ(c.idr.size(), static_cast<size_t>(row.frames));
    ASSERT_EQ(c.reconY.size(), static_cast<size_t>(row.w) * row.h * static_cast<size_t>(row.frames));

    // key frames where configured
    for (int i = 0; i < row.frames; ++i) EXPECT_EQ(c.idr[static_cast<size_t>(i)], i % row.gop == 0) << "picture " << i;

    // rate from the bytes produced
    const double kbps = static_cast<double>(c.stream.size()) * 8.0 / (row.frames / row.fps) / 1000.0;
    EXPECT_NEAR(kbps, row.kbps, row.rateTolerance * row.kbps);

    // the level named in the SPS holds: its rate and its buffer
    const int level = SpsLevel(c.stream);
    ASSERT_TRUE(kLevelBuffers.count(level)) << "level " << level;
    EXPECT_LE(kbps * 1000.0, kLevelBuffers.at(level).maxRateBits);
    EXPECT_EQ(BufferViolations(c, level, row.rc == vcore::kRateCbr, row.kbps, row.fps), 0) << "level " << level;

    // an independent decoder shows the pictures: every one, at the coded
    // (even) size, as the encoder reconstructed them, close to the source,
    // none frozen while the source moves
    const std::string in = testtools::TempPath(std::string(row.name) + ".264");
    const std::string out = testtools::TempPath(std::string(row.name) + "_dec.yuv");
    ASSERT_TRUE(vtest::WriteFile(in, c.stream));
    std::string log;
    ASSERT_TRUE(vtest::DecodeWithFfmpeg(in, out, &log)) << log;
    const std::vector<uint8_t> dec = vtest::ReadFile(out);
    std::remove(in.c_str());
    std::remove(out.c_str());
    const int dw = (row.w + 1) & ~1, dh = (row.h + 1) & ~1;
    const size_t decFrame = static_cast<size_t>(dw) * dh * 3 / 2;
    ASSERT_EQ(dec.size(), decFrame * static_cast<size_t>(row.frames)) << "decoded size or picture count differs";
    double worst = 99;
    int frozen = 0, unlikeRecon = 0;
    for (int i = 0; i < row.frames; ++i) {
        const uint8_t* d = dec.data() + decFrame * static_cast<size_t>(i);
        const uint8_t* src = clip.Frame(i);
        const uint8_t* rec = c.reconY.data() + static_cast<size_t>(row.w) * row.h * static_cast<size_t>(i);
        for (int y = 0; y < row.h; ++y)
            if (!std::equal(rec + y * row.w, rec + (y + 1) * row.w, d + y * dw)) {
                ++unlikeRecon;
                break;
            }
        double se = 0;
        for (int y = 0; y < row.h; ++y)
            for (int x = 0; x < row.w; ++x) {
                const double e = static_cast<double>(d[y * dw + x]) - src[y * row.w + x];
                se += e * e;
            }
        const double mse = se / (static_cast<double>(row.w) * row.h);
        worst = std::min(worst, mse > 0 ? 10.0 * std::log10(255.0 * 255.0 / mse) : 99.0);
        if (i > 0 && std::equal(d, d + decFrame, d - decFrame) &&
            !std::equal(src, src + static_cast<size_t>(row.w) * row.h, clip.Frame(i - 1)))
            ++frozen;
    }
    EXPECT_EQ(unlikeRecon, 0) << "pictures decoded unlike the encoder's reconstruction";
    EXPECT_GE(worst, row.minPsnr) << "worst picture's luma PSNR";
    EXPECT_EQ(frozen, 0) << "pictures repeated while the source moved";
    EXPECT_EQ(enc.SkippedPictures(), 0u);
}

const std::string kNtsc = "30000/1001";

INSTANTIATE_TEST_SUITE_P(
    Rows, Corpus,
    ::testing::Values(
        // every picture an IDR: rate control without inter pictures
        Row{"noise_gop1", "testsrc2=s=176x144:r=" + kNtsc + ",noise=alls=30:allf=t", 176, 144, 30000.0 / 1001, 60,
            vcore::kRateCbr, 600, 1, 0.05, 20.0},
        // fast pan at 50 fps, width a multiple of 4 but not 8: no frozen pictures
        Row{"pan_324x180", Texture(324 + 12 * 100 + 16, 180, "50") + ",crop=324:180:'12*n':0", 324, 180, 50, 100,
            vcore::kRateCbr, 700, 50, 0.05, 20.0},
        // detailed still picture: the rate holds with filler
        Row{"static_cif", Texture(352, 288, "25"), 352, 288, 25, 50, vcore::kRateCbr, 300, 25, 0.05, 30.0},
        // zoom in VBR over 4 s
        Row{"zoom_vbr", "mandelbrot=s=176x144:r=25", 176, 144, 25, 100, vcore::kRateVbr, 250, 12, 0.15, 20.0},
        // odd size: coded at the next even size, cropped by the SPS
        Row{"edges_99x75", "testsrc2=s=99x75:r=25", 99, 75, 25, 50, vcore::kRateCbr, 200, 10, 0.05, 25.0},
        // every picture an IDR on content too hard for QP 51 (a game of
        // life, 340 Kbps at QP 51): coarser macroblocks hold the rate
        Row{"life_gop1", "life=s=176x144:r=25:seed=3", 176, 144, 25, 50, vcore::kRateCbr, 250, 1, 0.05, 7.5},
        // a fast pan too costly at QP 51 (160 Kbps): inter macroblocks with
        // their prediction alone hold the rate, no picture frozen
        Row{"bars_pan", "smptehdbars=s=320x176:r=50,scroll=horizontal=0.04", 320, 176, 50, 100, vcore::kRateCbr, 100,
            50, 0.05, 12.0},
        // costly pictures between cheap ones (bars moving a sample every
        // few pictures): planned at their mean, not 20% over
        Row{"steps_320", "smptehdbars=s=320x176:r=50,scroll=horizontal=0.001", 320, 176, 50, 100, vcore::kRateCbr,
            200, 50, 0.05, 40.0}),
    [](const ::testing::TestParamInfo<Row>& i) { return std::string(i.param.name); });

// Content moving by one row per picture is found by the motion search at
// every speed: the inter pictures cost almost nothing next to the first.
class SlowMotion : public ::testing::TestWithParam<int> {};

TEST_P(SlowMotion, OneRowPerPictureIsFound) {
    if (!testtools::ToolAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg not available";
    static const Clip clip = MakeClip(
        "scroll", "testsrc2=s=352x400:r=25,trim=end_frame=1,loop=loop=-1:size=1,crop=352:288:0:'n'", 352, 288, 12);
    ASSERT_FALSE(clip.data.empty());
    vcore::EncoderSettings s;
    s.width = 352;
    s.height = 288;
    s.rateControl = vcore::kRateFixedQp;
    s.qp = 26;
    s.gopSize = 100;
    s.speedQuality = GetParam();
    vcore::H264Encoder enc;
    const Coded c = Encode(clip, s, enc);
    ASSERT_EQ(c.pictureBytes.size(), 12u);
    double inter = 0;
    for (size_t i = 1; i < c.pictureBytes.size(); ++i) inter += static_cast<double>(c.pictureBytes[i]);
    inter /= static_cast<double>(c.pictureBytes.size() - 1);
    // a missed vector leaves the texture's edges as residual (2.4-3.5 % here)
    EXPECT_LT(inter, 0.022 * static_cast<double>(c.pictureBytes[0]));
}

INSTANTIATE_TEST_SUITE_P(Speeds, SlowMotion, ::testing::Range(1, 8));

// Parts of a macroblock moving different ways (8-row bands, 8-column bands,
// 8x8 quarters) are predicted part by part, where one vector per macroblock
// leaves half of it or more to code. The stream decodes to the encoder's own
// reconstruction.
struct SplitMotion {
    const char* name;
    int motion[4][2]; // per 8x8 quarter of every macroblock (raster order): samples per picture
    double maxShare;  // the most an inter picture may cost, as a share of the first picture
};

class PartMotion : public ::testing::TestWithParam<SplitMotion> {};

TEST_P(PartMotion, EachPartFollowsItsOwnVector) {
    if (!testtools::ToolAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg not available";
    const SplitMotion& m = GetParam();
    const int w = 176, h = 144, frames = 8, margin = 24;
    // a blurred random texture larger than the picture
    const int tw = w + 2 * margin, th = h + 2 * margin;
    std::vector<uint8_t> tex(static_cast<size_t>(tw) * th);
    uint32_t seed = 12345;
    std::vector<int> noise(tex.size());
    for (int& n : noise) n = static_cast<int>((seed = seed * 1103515245u + 12345u) >> 24);
    for (int y = 0; y < th; ++y)
        for (int x = 0; x < tw; ++x) {
            int sum = 0;
            for (int k = -1; k <= 1; ++k) sum += noise[static_cast<size_t>(y * tw + std::min(tw - 1, std::max(0, x + k)))];
            tex[static_cast<size_t>(y * tw + x)] = static_cast<uint8_t>(sum / 3);
        }
    Clip clip;
    clip.w = w;
    clip.h = h;
    clip.frames = frames;
    const size_t lumaSize = static_cast<size_t>(w) * h;
    for (int t = 0; t < frames; ++t) {
        std::vector<uint8_t> f(clip.FrameSize(), 128);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int* v = m.motion[((y >> 3) & 1) * 2 + ((x >> 3) & 1)];
                f[static_cast<size_t>(y * w + x)] =
                    tex[static_cast<size_t>((y + margin + v[1] * t) * tw + x + margin + v[0] * t)];
            }
        clip.data.insert(clip.data.end(), f.begin(), f.end());
    }
    vcore::EncoderSettings s;
    s.width = w;
    s.height = h;
    s.rateControl = vcore::kRateFixedQp;
    s.qp = 26;
    s.gopSize = 100;
    s.speedQuality = 4;
    vcore::H264Encoder enc;
    ASSERT_TRUE(enc.Open(s));
    std::vector<uint8_t> stream, recon;
    std::vector<size_t> bytes;
    for (int i = 0; i < frames; ++i) {
        const uint8_t* y = clip.Frame(i);
        const uint8_t* u = y + lumaSize;
        const uint8_t* v = u + lumaSize / 4;
        const size_t before = stream.size();
        ASSERT_TRUE(enc.Encode(y, w, u, w / 2, v, w / 2, stream, nullptr));
        bytes.push_back(stream.size() - before);
        for (int pl = 0; pl < 3; ++pl) {
            int st = 0;
            const uint8_t* r = enc.ReconPlane(pl, &st);
            const int pw = pl ? w / 2 : w, ph = pl ? h / 2 : h;
            for (int row = 0; row < ph; ++row) recon.insert(recon.end(), r + row * st, r + row * st + pw);
        }
    }
    double inter = 0;
    for (int i = 1; i < frames; ++i) inter += static_cast<double>(bytes[static_cast<size_t>(i)]);
    inter /= frames - 1;
    EXPECT_LT(inter, m.maxShare * static_cast<double>(bytes[0])) << "first picture " << bytes[0] << " bytes";

    const std::string in = testtools::TempPath(std::string("parts_") + m.name + ".264");
    const std::string out = testtools::TempPath(std::string("parts_") + m.name + ".yuv");
    ASSERT_TRUE(vtest::WriteFile(in, stream));
    std::string log;
    ASSERT_TRUE(vtest::DecodeWithFfmpeg(in, out, &log)) << log;
    EXPECT_EQ(log, "");
    EXPECT_TRUE(vtest::ReadFile(out) == recon) << "decoded pictures differ from the reconstruction";
    std::remove(in.c_str());
    std::remove(out.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, PartMotion,
    // one vector per macroblock costs 53-56 % of the first picture for the
    // bands (moving along themselves: nothing is uncovered), 96 % for the
    // quarters (which uncover a column or a row of every part each picture)
    ::testing::Values(SplitMotion{"all_one_way", {{1, 0}, {1, 0}, {1, 0}, {1, 0}}, 0.05},
                      SplitMotion{"rows_apart", {{1, 0}, {1, 0}, {-1, 0}, {-1, 0}}, 0.12},
                      SplitMotion{"columns_apart", {{0, 1}, {0, -1}, {0, 1}, {0, -1}}, 0.12},
                      SplitMotion{"quarters_apart", {{1, 0}, {0, 1}, {-1, 0}, {0, -1}}, 0.6}),
    [](const ::testing::TestParamInfo<SplitMotion>& i) { return std::string(i.param.name); });

// Colour bars moving sideways over a plain grey luma: the luma gives the
// motion search nothing to follow, so the vector stays put while the
// colours move. Macroblocks predicted from the picture itself (the bars are
// the same all the way down) keep the colours; predicted from the picture
// before at the luma's vector, the chroma is coded again every picture and
// drifts as its residual is quantised away.
TEST(ChromaMotion, ColoursTheLumaDoesNotCarryStayIntact) {
    if (!testtools::ToolAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg not available";
    const int w = 176, h = 144, cw = w / 2, ch = h / 2, frames = 12;
    static const uint8_t kU[6] = {60, 200, 110, 160, 30, 230}, kV[6] = {190, 50, 140, 90, 220, 20};
    Clip clip;
    clip.w = w;
    clip.h = h;
    clip.frames = frames;
    for (int t = 0; t < frames; ++t) {
        std::vector<uint8_t> f(clip.FrameSize(), 128);
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x) {
                const int bar = ((x + t) / 11) % 6; // one chroma sample per picture
                f[static_cast<size_t>(w * h + y * cw + x)] = kU[bar];
                f[static_cast<size_t>(w * h + cw * ch + y * cw + x)] = kV[bar];
            }
        clip.data.insert(clip.data.end(), f.begin(), f.end());
    }
    vcore::EncoderSettings s;
    s.width = w;
    s.height = h;
    s.rateControl = vcore::kRateFixedQp;
    s.qp = 32;
    s.gopSize = 100;
    for (int speed : {3, 4, 7}) {
        SCOPED_TRACE("speed " + std::to_string(speed));
        s.speedQuality = speed;
        vcore::H264Encoder enc;
        const Coded c = Encode(clip, s, enc);
        ASSERT_EQ(c.pictureBytes.size(), static_cast<size_t>(frames));
        const std::string in = testtools::TempPath("chroma_bars.264");
        const std::string out = testtools::TempPath("chroma_bars.yuv");
        ASSERT_TRUE(vtest::WriteFile(in, c.stream));
        std::string log;
        ASSERT_TRUE(vtest::DecodeWithFfmpeg(in, out, &log)) << log;
        const std::vector<uint8_t> dec = vtest::ReadFile(out);
        std::remove(in.c_str());
        std::remove(out.c_str());
        ASSERT_EQ(dec.size(), clip.data.size());
        // the chroma of the last picture, where drift has added up
        const size_t last = clip.FrameSize() * (frames - 1), luma = static_cast<size_t>(w) * h;
        double se = 0;
        for (size_t i = luma; i < clip.FrameSize(); ++i) {
            const double e = static_cast<double>(dec[last + i]) - clip.data[last + i];
            se += e * e;
        }
        const double mse = se / static_cast<double>(clip.FrameSize() - luma);
        EXPECT_GE(mse > 0 ? 10.0 * std::log10(255.0 * 255.0 / mse) : 99.0, 40.0) << "chroma PSNR of the last picture";
        const auto lastRecon = c.reconY.end() - static_cast<std::ptrdiff_t>(luma);
        EXPECT_TRUE(std::equal(lastRecon, c.reconY.end(), dec.begin() + static_cast<std::ptrdiff_t>(last)))
            << "decoded luma differs from the reconstruction";
    }
}

} // namespace
