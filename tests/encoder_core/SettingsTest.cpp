// Requested vs. used settings, and that the used values reach the stream:
// SPS profile/level, I/IDR positions from GOP size and IDR interval, forced
// key frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <thread>

#include "ExternalTools.h"
#include "TestUtil.h"

namespace {

vcore::EncoderSettings Small() {
    vcore::EncoderSettings s;
    s.width = 64;
    s.height = 48;
    s.fps = 25;
    s.rateControl = vcore::kRateFixedQp;
    s.qp = 30;
    s.speedQuality = 1;
    return s;
}

// Per picture: nal type (5 IDR / 1 non-IDR) and slice type (2 I / 0 P).
struct PicInfo {
    int nalType;
    int sliceType;
};

std::vector<PicInfo> Pictures(const std::vector<uint8_t>& stream) {
    std::vector<PicInfo> out;
    for (const vtest::Nal& n : vtest::SplitNals(stream)) {
        if (n.type != 1 && n.type != 5) continue;
        vtest::BitReader br(n.rbsp);
        br.Ue(); // first_mb_in_slice
        out.push_back({n.type, static_cast<int>(br.Ue() % 5)});
    }
    return out;
}

TEST(UsedSettings, UnsupportedRequestsAreReplaced) {
    vcore::EncoderSettings s = Small();
    s.profile = 100;
    s.bFrames = 3;
    s.cavlc = false;
    s.speedQuality = 99;
    vcore::H264Encoder enc;
    ASSERT_TRUE(enc.Open(s));
    const vcore::UsedSettings u = enc.Used();
    EXPECT_EQ(u.profile, 66);
    EXPECT_EQ(u.bFrames, 0);
    EXPECT_TRUE(u.cavlc);
    EXPECT_EQ(u.speedQuality, 7);
    EXPECT_EQ(u.bitrateKbps, 0); // fixed QP has no target
}

TEST(UsedSettings, ThreadsAreOnePerProcessorWithSlicesOfEightRowsOrAsAskedAtMostOnePerRow) {
    const int processors = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    struct {
        int height, threads, expected;
    } cases[] = {
        {48, 0, 1},                        // automatic: slices of 8 rows at least
        {256, 0, std::min(processors, 2)},
        {576, 0, std::min(processors, 4)},
        {2160, 0, std::min(processors, 16)},
        {48, 3, 3},                        // asked for: one per row at most
        {576, 4, 4},
        {576, 64, 16},
        {16, 8, 1},   // one row
    };
    for (const auto& c : cases) {
        vcore::EncoderSettings s = Small();
        s.height = c.height;
        s.threads = c.threads;
        vcore::H264Encoder enc;
        ASSERT_TRUE(enc.Open(s)) << c.height << " " << c.threads;
        EXPECT_EQ(enc.Used().threads, c.expected) << c.height << " " << c.threads;
    }
    vcore::EncoderSettings s = Small();
    s.threads = -1;
    vcore::H264Encoder enc;
    EXPECT_FALSE(enc.Open(s));
}

TEST(UsedSettings, AutomaticGopIsAboutOneSecond) {
    struct {
        double fps;
        int gop;
    } cases[] = {{25, 25}, {29.97, 30}, {10, 10}, {0.5, 1}};
    for (const auto& c : cases) {
        vcore::EncoderSettings s = Small();
        s.fps = c.fps;
        s.gopSize = 0;
        vcore::H264Encoder enc;
        ASSERT_TRUE(enc.Open(s));
        EXPECT_EQ(enc.Used().gopSize, c.gop) << "fps " << c.fps;
    }
}

TEST(UsedSettings, LevelFollowsLimits) {
    struct {
        int w, h;
        double fps;
        int kbps, requested, expected;
    } cases[] = {
        {176, 144, 15, 64, 0, 10},     // QCIF 15 fps fits level 1
        {352, 288, 15, 384, 0, 12},
        {352, 288, 30, 768, 0, 13},    // CIF at 30 fps needs the higher macroblock rate
        {720, 576, 25, 2000, 0, 30},
        {720, 576, 25, 12000, 0, 31},  // bitrate pushes the level up
        {1280, 720, 30, 8000, 0, 31},
        {1920, 1080, 30, 8000, 0, 40},
        {1920, 1080, 60, 8000, 0, 42},
        {720, 576, 25, 2000, 41, 41},  // explicit level that fits is kept
        {720, 576, 25, 2000, 11, 30},  // too small: the needed level is used
        {720, 576, 25, 2000, 17, 30},  // unknown level_idc
    };
    for (const auto& c : cases) {
        vcore::EncoderSettings s = Small();
        s.width = c.w;
        s.height = c.h;
        s.fps = c.fps;
        s.rateControl = vcore::kRateCbr;
        s.bitrateKbps = c.kbps;
        s.level = c.requested;
        vcore::H264Encoder enc;
        ASSERT_TRUE(enc.Open(s));
        EXPECT_EQ(enc.Used().level, c.expected) << c.w << "x" << c.h << "@" << c.fps << " " << c.kbps << "k req "
                                                << c.requested;
    }
}

TEST(UsedSettings, RejectsUnusableSettings) {
    vcore::H264Encoder enc;
    auto bad = [&](void (*edit)(vcore::EncoderSettings&)) {
        vcore::EncoderSettings s = Small();
        edit(s);
        return !enc.Open(s) && !enc.IsOpen();
    };
    EXPECT_TRUE(bad([](vcore::EncoderSettings& s) { s.width = 15; }));
    EXPECT_TRUE(bad([](vcore::EncoderSettings& s) { s.height = 0; }));
    EXPECT_TRUE(bad([](vcore::EncoderSettings& s) { s.fps = 0; }));
    EXPECT_TRUE(bad([](vcore::EncoderSettings& s) { s.qp = 52; }));
    EXPECT_TRUE(bad([](vcore::EncoderSettings& s) { s.rateControl = 3; }));
    EXPECT_TRUE(bad([](vcore::EncoderSettings& s) {
        s.rateControl = vcore::kRateCbr;
        s.bitrateKbps = 0;
    }));
    std::vector<uint8_t> out;
    uint8_t px[64 * 48] = {};
    EXPECT_FALSE(enc.Encode(px, 64, px, 32, px, 32, out, nullptr)) << "encode without a successful Open";
    EXPECT_TRUE(out.empty());
}

TEST(Stream, SpsCarriesUsedProfileAndLevel) {
    vcore::EncoderSettings s = Small();
    s.width = 720;
    s.height = 576;
    s.profile = 77;
    s.level = 0;
    s.rateControl = vcore::kRateCbr;
    s.bitrateKbps = 2000;
    vcore::H264Encoder enc;
    const vtest::Encoded e = vtest::EncodeClip(enc, s, 1);
    const vcore::UsedSettings u = enc.Used();
    int spsCount = 0;
    for (const vtest::Nal& n : vtest::SplitNals(e.stream)) {
        if (n.type != 7) continue;
        ++spsCount;
        ASSERT_GE(n.rbsp.size(), 3u);
        EXPECT_EQ(n.rbsp[0], u.profile);
        EXPECT_EQ(n.rbsp[2], u.level);
    }
    EXPECT_EQ(spsCount, 1);
    EXPECT_EQ(u.profile, 66);
    EXPECT_EQ(u.level, 30);
}

TEST(Stream, ParameterSetsPrecedeEveryIdr) {
    vcore::EncoderSettings s = Small();
    s.gopSize = 4;
    s.idrInterval = 1;
    vcore::H264Encoder enc;
    const vtest::Encoded e = vtest::EncodeClip(enc, s, 9);
    std::vector<int> types;
    for (const vtest::Nal& n : vtest::SplitNals(e.stream)) types.push_back(n.type);
    const std::vector<int> expected = {7, 8, 5, 1, 1, 1, 7, 8, 5, 1, 1, 1, 7, 8, 5};
    EXPECT_EQ(types, expected);
}

struct GopCase {
    int gop;
    int idrInterval;
    bool exactGop;
    std::vector<int> force;
    std::string pattern; // per frame: R = IDR, I = non-IDR I, P
};

class GopStructure : public ::testing::TestWithParam<GopCase> {};

TEST_P(GopStructure, KeyFramesWhereConfigured) {
    const GopCase c = GetParam();
    vcore::EncoderSettings s = Small();
    s.gopSize = c.gop;
    s.idrInterval = c.idrInterval;
    s.exactGop = c.exactGop;
    const int frames = static_cast<int>(c.pattern.size());
    vcore::H264Encoder enc;
    const vtest::Encoded e = vtest::EncodeClip(enc, s, frames, c.force);
    ASSERT_EQ(e.idr.size(), c.pattern.size());
    std::string fromApi, fromStream;
    for (bool b : e.idr) fromApi += b ? 'R' : '.';
    for (const PicInfo& p : Pictures(e.stream)) fromStream += p.nalType == 5 ? 'R' : (p.sliceType == 2 ? 'I' : 'P');
    EXPECT_EQ(fromStream, c.pattern);
    std::string idrOnly = c.pattern;
    for (char& ch : idrOnly) ch = ch == 'R' ? 'R' : '.';
    EXPECT_EQ(fromApi, idrOnly);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GopStructure,
    ::testing::Values(GopCase{5, 1, false, {}, "RPPPPRPPPPRP"},
                      GopCase{4, 2, false, {}, "RPPPIPPPRPPPIP"},
                      GopCase{3, 0, false, {}, "RPPIPPIPPIP"},       // only the first is IDR
                      GopCase{1, 3, false, {}, "RIIRII"},            // all intra
                      GopCase{5, 1, false, {3}, "RPPRPPPPRPPP"},     // forced key frame restarts the GOP
                      GopCase{5, 1, true, {3}, "RPPRPRPPPPRP"},      // exact GOP keeps the grid
                      GopCase{4, 0, false, {2, 9}, "RPRPPPIPPRPPPI"}));

TEST(Stream, FfprobeSeesKeyFramesAndPictureTypes) {
    if (!testtools::ToolAvailable("ffprobe")) GTEST_SKIP() << "ffprobe not available";
    vcore::EncoderSettings s = Small();
    s.gopSize = 4;
    s.idrInterval = 2;
    vcore::H264Encoder enc;
    const vtest::Encoded e = vtest::EncodeClip(enc, s, 11, {6});
    const std::string path = testtools::TempPath("probe.264");
    ASSERT_TRUE(vtest::WriteFile(path, e.stream));
    testtools::ToolResult r = testtools::RunTool(
        "ffprobe", {"-v", "error", "-f", "h264", "-show_entries", "frame=key_frame,pict_type", "-of", "csv=p=0", path});
    std::remove(path.c_str());
    ASSERT_EQ(r.exitCode, 0) << r.output;
    std::string keys, types;
    std::istringstream in(r.output);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() < 3) continue;
        keys += line[0] == '1' ? 'K' : '.';
        types += line[2];
    }
    // I at 0, 4 (non-IDR), forced IDR at 6, then the GOP restarts: I at 10,
    // the first I after an IDR, so not an IDR with an interval of 2
    EXPECT_EQ(types, "IPPPIPIPPPI");
    EXPECT_EQ(keys, "K.....K....");
}

TEST(ForceKeyFrame, NextFrameIsIdr) {
    vcore::EncoderSettings s = Small();
    s.gopSize = 100;
    vcore::H264Encoder enc;
    ASSERT_TRUE(enc.Open(s));
    std::vector<uint8_t> out;
    for (int i = 0; i < 6; ++i) {
        const vtest::Frame f = vtest::MakeFrame(64, 48, i);
        if (i == 4) enc.ForceKeyFrame();
        bool idr = true;
        out.clear();
        ASSERT_TRUE(enc.Encode(f.y.data(), 64, f.u.data(), 32, f.v.data(), 32, out, &idr));
        EXPECT_EQ(idr, i == 0 || i == 4) << "frame " << i;
        const std::vector<PicInfo> pics = Pictures(out);
        ASSERT_EQ(pics.size(), 1u);
        EXPECT_EQ(pics[0].nalType, (i == 0 || i == 4) ? 5 : 1) << "frame " << i;
    }
}

} // namespace

namespace {

// Pictures coded into a caller's buffer: the bytes of the growing-vector
// call, the encoder's bound holds for the largest pictures it makes (noise at
// QP 0, flat pictures padded with filler), and too little room is refused.
TEST(Output, FixedBufferGetsTheSameBytesWithinTheEncodersBound) {
    struct {
        const char* what;
        int rc, qpOrKbps;
        bool noise;
    } cases[] = {
        {"noise, QP 0", vcore::kRateFixedQp, 0, true},
        {"moving picture, CBR", vcore::kRateCbr, 300, false},
        {"flat picture, CBR with filler", vcore::kRateCbr, 20000, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        vcore::EncoderSettings s = Small();
        s.rateControl = c.rc;
        s.qp = c.qpOrKbps;
        s.bitrateKbps = c.qpOrKbps;
        s.gopSize = 2;
        vcore::H264Encoder growing, fixed;
        ASSERT_TRUE(growing.Open(s));
        ASSERT_TRUE(fixed.Open(s));
        const size_t bound = fixed.MaxFrameBytes();
        EXPECT_EQ(bound, vcore::H264Encoder::MaxFrameBytes(s));
        std::vector<uint8_t> buffer(bound);
        uint32_t seed = 1;
        size_t largest = 0;
        for (int t = 0; t < 6; ++t) {
            vtest::Frame f = vtest::MakeFrame(s.width, s.height, t);
            if (c.noise) {
                for (auto* plane : {&f.y, &f.u, &f.v})
                    for (uint8_t& b : *plane) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
            } else if (c.qpOrKbps > 10000) {
                for (auto* plane : {&f.y, &f.u, &f.v}) std::fill(plane->begin(), plane->end(), 128);
            }
            const int cw = (s.width + 1) / 2;
            std::vector<uint8_t> expected;
            bool idrA = false, idrB = false;
            ASSERT_TRUE(growing.Encode(f.y.data(), s.width, f.u.data(), cw, f.v.data(), cw, expected, &idrA));
            size_t size = 0;
            ASSERT_TRUE(fixed.Encode(f.y.data(), s.width, f.u.data(), cw, f.v.data(), cw, buffer.data(), buffer.size(),
                                     &size, &idrB));
            ASSERT_EQ(expected.size(), size) << "picture " << t;
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin())) << "picture " << t;
            EXPECT_EQ(idrA, idrB);
            largest = std::max(largest, size);
        }
        EXPECT_LE(largest, bound);
        if (c.noise) EXPECT_GT(largest * 4, vcore::H264Encoder::MaxFrameBytes(s) / 8) << "a bound far from what is coded";

        // Too little room: refused, and never written past.
        vcore::H264Encoder small;
        ASSERT_TRUE(small.Open(s));
        const vtest::Frame f = vtest::MakeFrame(s.width, s.height, 0);
        std::vector<uint8_t> room(40, 0xAB);
        size_t size = 0;
        EXPECT_FALSE(small.Encode(f.y.data(), s.width, f.u.data(), (s.width + 1) / 2, f.v.data(), (s.width + 1) / 2,
                                  room.data(), 32, &size, nullptr));
        EXPECT_EQ(32u, size);
        EXPECT_EQ(std::vector<uint8_t>(8, 0xAB), std::vector<uint8_t>(room.begin() + 32, room.end()));
    }
}

} // namespace
