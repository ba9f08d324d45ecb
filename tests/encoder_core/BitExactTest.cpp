// The stream must decode cleanly with an independent decoder (ffmpeg) and the
// decoded pictures must equal the encoder's own reconstruction exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "ExternalTools.h"
#include "TestUtil.h"

namespace {

struct Case {
    int w, h;
    int rc;    // vcore::RateControlMode
    int qpOrKbps;
    int speed;
    int frames;
    int gop;
    int idrInterval;
};

std::string Name(const Case& c) {
    std::ostringstream o;
    o << c.w << "x" << c.h << (c.rc == vcore::kRateFixedQp ? "_qp" : (c.rc == vcore::kRateCbr ? "_cbr" : "_vbr"))
      << c.qpOrKbps << "_s" << c.speed;
    return o.str();
}

class BitExact : public ::testing::TestWithParam<Case> {};

TEST_P(BitExact, FfmpegDecodesToReconstruction) {
    if (!testtools::ToolAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg not available";
    const Case c = GetParam();
    vcore::EncoderSettings s;
    s.width = c.w;
    s.height = c.h;
    s.fps = 25;
    s.rateControl = c.rc;
    s.qp = c.qpOrKbps;
    s.bitrateKbps = c.qpOrKbps;
    s.speedQuality = c.speed;
    s.gopSize = c.gop;
    s.idrInterval = c.idrInterval;
    vcore::H264Encoder enc;
    const vtest::Encoded e = vtest::EncodeClip(enc, s, c.frames);
    ASSERT_EQ(e.idr.size(), static_cast<size_t>(c.frames));

    const std::string base = "bitexact_" + Name(c);
    const std::string in = testtools::TempPath(base + ".264");
    const std::string out = testtools::TempPath(base + ".yuv");
    ASSERT_TRUE(vtest::WriteFile(in, e.stream));
    std::string log;
    ASSERT_TRUE(vtest::DecodeWithFfmpeg(in, out, &log)) << log;
    EXPECT_EQ(log, "") << "decoder reported problems";
    const std::vector<uint8_t> dec = vtest::ReadFile(out);
    ASSERT_EQ(dec.size(), e.recon.size()) << "decoded frame count/size differs";
    size_t firstDiff = dec.size();
    for (size_t i = 0; i < dec.size(); ++i)
        if (dec[i] != e.recon[i]) {
            firstDiff = i;
            break;
        }
    const size_t frameSize = e.recon.size() / static_cast<size_t>(c.frames);
    EXPECT_EQ(firstDiff, dec.size()) << "first mismatch in frame " << firstDiff / frameSize << " at byte "
                                     << firstDiff % frameSize;
    std::remove(in.c_str());
    std::remove(out.c_str());
}

const Case kCases[] = {
    // size, rate control, qp/kbps, speed, frames, gop, idr interval
    {176, 144, vcore::kRateFixedQp, 10, 4, 10, 5, 2},
    {176, 144, vcore::kRateFixedQp, 26, 4, 10, 5, 2},
    {176, 144, vcore::kRateFixedQp, 45, 4, 10, 5, 2},
    {176, 144, vcore::kRateFixedQp, 26, 1, 8, 0, 1},
    {176, 144, vcore::kRateFixedQp, 26, 7, 8, 0, 1},
    {320, 240, vcore::kRateFixedQp, 26, 3, 8, 4, 0},
    {320, 240, vcore::kRateFixedQp, 0, 4, 3, 0, 1},
    {320, 240, vcore::kRateFixedQp, 51, 4, 6, 0, 1},
    {100, 60, vcore::kRateFixedQp, 10, 4, 10, 6, 1},
    {100, 60, vcore::kRateFixedQp, 26, 6, 10, 6, 1},
    {100, 60, vcore::kRateFixedQp, 45, 2, 10, 6, 1},
    {33, 17, vcore::kRateFixedQp, 20, 5, 6, 0, 1},   // odd sizes
    {16, 16, vcore::kRateFixedQp, 30, 4, 6, 3, 1},   // single macroblock
    {720, 576, vcore::kRateFixedQp, 26, 4, 5, 0, 1},
    {720, 576, vcore::kRateCbr, 1500, 1, 6, 3, 1},   // QP changes per frame
    {352, 288, vcore::kRateCbr, 3000, 4, 10, 5, 1},  // low QP floor: filler data
    {320, 240, vcore::kRateCbr, 10, 1, 16, 0, 1},    // far over budget: all-skip pictures
};

INSTANTIATE_TEST_SUITE_P(Clips, BitExact, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& i) { return Name(i.param); });

} // namespace

namespace {

// Several threads: each codes a slice of whole rows. The stream decodes to the
// reconstruction, every picture has one slice per thread, starting at row
// boundaries in order, and the stream does not depend on which thread
// happened to be faster (encoded twice, it is the same).
TEST(Threads, SlicesPerThreadDecodeToReconstructionAndAreTheSameEveryRun) {
    if (!testtools::ToolAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg not available";
    struct ThreadCase {
        int w, h, rc, qpOrKbps, speed, frames;
    };
    const ThreadCase cases[] = {
        {320, 240, vcore::kRateCbr, 400, 4, 12},   // QP adapted row by row in every slice
        {352, 288, vcore::kRateCbr, 3000, 1, 8},   // skip runs up to the slice's end, filler
        {320, 240, vcore::kRateCbr, 10, 2, 10},    // all-skip pictures
        {100, 60, vcore::kRateVbr, 200, 6, 8},     // four rows
        {176, 144, vcore::kRateFixedQp, 30, 7, 8}, // fixed QP: slices of equal rows
        {33, 17, vcore::kRateFixedQp, 20, 3, 6},   // two rows, odd size
        // intra against inter at every slice's first row: the decisions there
        // must not look at the row above, another worker's, being coded
        {333, 199, vcore::kRateFixedQp, 40, 3, 20},
    };
    for (const ThreadCase& c : cases) {
        vcore::EncoderSettings s;
        s.width = c.w;
        s.height = c.h;
        s.fps = 25;
        s.rateControl = c.rc;
        s.qp = c.qpOrKbps;
        s.bitrateKbps = c.qpOrKbps;
        s.speedQuality = c.speed;
        s.gopSize = 5;
        const int mbW = (c.w + 15) / 16, mbH = (c.h + 15) / 16;
        for (int threads : {1, 2, 3}) {
            std::ostringstream name;
            name << c.w << "x" << c.h << "_rc" << c.rc << "_" << c.qpOrKbps << "_s" << c.speed << "_t" << threads;
            SCOPED_TRACE(name.str());
            s.threads = threads;
            vcore::H264Encoder enc;
            const vtest::Encoded e = vtest::EncodeClip(enc, s, c.frames);
            const int used = std::min(threads, mbH);
            EXPECT_EQ(used, enc.Used().threads);
            if (threads > 1) {
                vcore::H264Encoder again;
                EXPECT_TRUE(vtest::EncodeClip(again, s, c.frames).stream == e.stream) << "a second run differs";
            }

            // first_mb_in_slice of every slice, picture by picture
            std::vector<std::vector<uint32_t>> pictures;
            for (const vtest::Nal& n : vtest::SplitNals(e.stream)) {
                if (n.type != 1 && n.type != 5) continue;
                vtest::BitReader br(n.rbsp);
                const uint32_t firstMb = br.Ue();
                if (firstMb == 0) pictures.emplace_back();
                ASSERT_FALSE(pictures.empty()) << "a picture that does not start at its first macroblock";
                pictures.back().push_back(firstMb);
            }
            ASSERT_EQ(pictures.size(), static_cast<size_t>(c.frames));
            for (const std::vector<uint32_t>& starts : pictures) {
                ASSERT_EQ(starts.size(), static_cast<size_t>(used));
                for (size_t k = 1; k < starts.size(); ++k) {
                    EXPECT_GT(starts[k], starts[k - 1]);
                    EXPECT_EQ(starts[k] % static_cast<uint32_t>(mbW), 0u) << "a slice that does not start a row";
                }
            }

            const std::string in = testtools::TempPath("threads_" + name.str() + ".264");
            const std::string out = testtools::TempPath("threads_" + name.str() + ".yuv");
            ASSERT_TRUE(vtest::WriteFile(in, e.stream));
            std::string log;
            ASSERT_TRUE(vtest::DecodeWithFfmpeg(in, out, &log)) << log;
            EXPECT_EQ(log, "") << "decoder reported problems";
            EXPECT_TRUE(vtest::ReadFile(out) == e.recon) << "decoded pictures differ from the reconstruction";
            std::remove(in.c_str());
            std::remove(out.c_str());
        }
    }
}

} // namespace
