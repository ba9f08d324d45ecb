// The MPEG-4 muxing core: files written from libx264 streams are read back with ffprobe and
// decoded with ffmpeg, frame for frame against the elementary stream.
#include "standins/media/AnnexB.h"
#include "standins/mp4writer/Mp4Muxer.h"
#include "tests/standins/MediaTools.h"
#include "tests/support/HostTools.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

struct MuxCase {
    const char* name;
    const char* x264Args;
    bool bTimed;     // feed the reference times (else none, at the frame rate)
    size_t cKeep;    // access units fed before Finish (0: all)
    bool bLarge = false;  // 64-bit forms (mdat largesize, co64) from a lowered limit
};

// The top-level boxes a reader takes in, free boxes left out and runs of mdat boxes as one,
// and the chunk offset box used, as "ftyp mdat moov co64".
std::string BoxLayout(const std::string& file) {
    std::string data, layout;
    if (!ReadHostFile(file, &data)) return layout;
    auto u32 = [&](size_t at) {
        return (uint64_t)(uint8_t)data[at] << 24 | (uint64_t)(uint8_t)data[at + 1] << 16 |
               (uint64_t)(uint8_t)data[at + 2] << 8 | (uint64_t)(uint8_t)data[at + 3];
    };
    for (size_t at = 0; at + 8 <= data.size();) {
        uint64_t cb = u32(at);
        if (cb == 1 && at + 16 <= data.size()) cb = u32(at + 8) << 32 | u32(at + 12);
        if (cb < 8) break;
        const std::string type = data.substr(at + 4, 4);
        const bool bRepeat = type == "mdat" && layout.size() >= 4 && layout.compare(layout.size() - 4, 4, "mdat") == 0;
        if (type != "free" && !bRepeat) layout += (layout.empty() ? "" : " ") + type;
        at += cb;
    }
    layout += data.find("co64") != std::string::npos ? " co64" : data.find("stco") != std::string::npos ? " stco" : "";
    return layout;
}

class Mp4MuxerCases : public ::testing::TestWithParam<MuxCase> {};

TEST_P(Mp4MuxerCases, WritesWhatItReceived) {
    const MuxCase& c = GetParam();
    const int kW = 200, kH = 120, kFps = 25, kFrames = 50;
    RefStream ref = MakeRefStream(kW, kH, kFps, kFrames, c.x264Args);
    ASSERT_FALSE(ref.h264Path.empty()) << "ffmpeg could not make the reference stream";

    const uint8_t* p = (const uint8_t*)ref.bytes.data();
    std::vector<annexb::Range> units = annexb::SplitAccessUnits(p, ref.bytes.size());
    ASSERT_EQ((size_t)kFrames, units.size());
    ASSERT_EQ(units.size(), ref.pts.size());

    const size_t cKeep = c.cKeep ? c.cKeep : units.size();
    const std::string out = UniqueTmpPath(".mp4");
    CMp4Muxer mux;
    ASSERT_EQ(S_OK, mux.Create(ToWinPath(out).c_str()));
    mux.SetFrameDuration(10000000 / kFps);
    if (c.bLarge) mux.SetLargeFileLimit(1000);
    for (size_t i = 0; i < cKeep; ++i)
        ASSERT_EQ(S_OK, mux.AddSample(p + units[i].offset, units[i].cb, c.bTimed, ref.pts[i],
                                      ref.pts[i] + 10000000 / kFps));
    ASSERT_EQ(S_OK, mux.Finish());
    EXPECT_EQ(cKeep, mux.SampleCount());

    auto info = ProbeVideo(out);
    EXPECT_EQ("h264", info["codec_name"]);
    EXPECT_EQ(std::to_string(kW), info["width"]);
    EXPECT_EQ(std::to_string(kH), info["height"]);
    EXPECT_EQ(std::to_string(cKeep), info["nb_frames"]);
    EXPECT_EQ(std::to_string(cKeep), info["nb_read_frames"]);
    EXPECT_NEAR((double)cKeep / kFps, std::atof(info["duration"].c_str()), 0.001);

    int cKey = 0;
    for (size_t i = 0; i < cKeep; ++i) cKey += ref.key[i];
    EXPECT_EQ(cKey, CountKeyPackets(out));

    EXPECT_EQ(c.bLarge ? "ftyp mdat moov co64" : "ftyp mdat moov stco", BoxLayout(out));

    std::vector<std::string> want = FrameHashes(ref.h264Path), got = FrameHashes(out);
    ASSERT_EQ((size_t)kFrames, want.size());
    want.resize(cKeep);
    EXPECT_EQ(want, got);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, Mp4MuxerCases,
    ::testing::Values(
        // High profile, B-frames reordered: composition offsets and an edit list.
        MuxCase{"HighWithBFrames", "-bf 2 -g 12 -keyint_min 12 -sc_threshold 0", true, 0},
        MuxCase{"BaselineTimed", "-profile:v baseline -g 10", true, 0},
        // Samples without time stamps are laid out at the frame rate.
        MuxCase{"BaselineUntimed", "-profile:v baseline -g 10", false, 0},
        // Stopped after 23 of 50 frames: every frame received is kept.
        MuxCase{"BaselineCutShort", "-profile:v baseline -g 10", true, 23},
        // Past the 32-bit limit (lowered here): 64-bit chunk offsets.
        MuxCase{"LargeFileForms", "-profile:v baseline -g 10", true, 0, true}),
    [](const ::testing::TestParamInfo<MuxCase>& info) { return std::string(info.param.name); });

// A recording cut off (the process killed, the power gone) before Finish: the file as it is
// on the disk plays, frame for frame, up to at most a second before the cut.
TEST(Mp4Muxer, RecordingCutOffPlaysUpToTheLastSecond) {
    const int kW = 176, kH = 144, kFps = 25, kFrames = 110;
    for (const char* x264Args : {"-bf 2 -g 30 -keyint_min 30 -sc_threshold 0", "-profile:v baseline -g 250"}) {
        SCOPED_TRACE(x264Args);
        RefStream ref = MakeRefStream(kW, kH, kFps, kFrames, x264Args);
        ASSERT_FALSE(ref.h264Path.empty()) << "ffmpeg could not make the reference stream";
        const uint8_t* p = (const uint8_t*)ref.bytes.data();
        std::vector<annexb::Range> units = annexb::SplitAccessUnits(p, ref.bytes.size());
        ASSERT_EQ((size_t)kFrames, units.size());
        std::vector<std::string> want = FrameHashes(ref.h264Path);
        ASSERT_EQ((size_t)kFrames, want.size());

        const std::string out = UniqueTmpPath(".mp4");
        CMp4Muxer mux;
        ASSERT_EQ(S_OK, mux.Create(ToWinPath(out).c_str()));
        mux.SetFrameDuration(10000000 / kFps);
        for (size_t cFed : {(size_t)20, (size_t)67, (size_t)kFrames}) {
            for (size_t i = mux.SampleCount(); i < cFed; ++i)
                ASSERT_EQ(S_OK, mux.AddSample(p + units[i].offset, units[i].cb, true, ref.pts[i],
                                              ref.pts[i] + 10000000 / kFps));
            // The file as a cut would leave it.
            const std::string cut = UniqueTmpPath(".mp4");
            ASSERT_EQ(0, RunHost("cp '" + out + "' '" + cut + "'"));
            std::vector<std::string> got = FrameHashes(cut);
            SCOPED_TRACE(cFed);
            EXPECT_GE(got.size() + kFps, cFed);
            EXPECT_LE(got.size(), cFed);
            // Frames in presentation order: the first ones of the stream, none damaged.
            std::vector<std::string> prefix(want.begin(), want.begin() + std::min(got.size(), want.size()));
            EXPECT_EQ(prefix, got);
        }
        mux.Abort();
    }
}

TEST(Mp4Muxer, RefusesPathsItCannotCreate) {
    CMp4Muxer mux;
    const std::string missing = UniqueTmpPath("-no-such-folder") + "/out.mp4";
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), mux.Create(ToWinPath(missing).c_str()));
    EXPECT_FALSE(mux.IsOpen());
    EXPECT_EQ(E_INVALIDARG, mux.Create(L""));
    EXPECT_EQ(E_UNEXPECTED, mux.AddSample((const uint8_t*)"\0\0\1\x65", 4, false, 0, 0));
}

TEST(AnnexB, ReadsSizeFromCroppedSps) {
    // 200x120 needs cropping of the coded 208x128.
    RefStream ref = MakeRefStream(200, 120, 25, 1, "-profile:v baseline");
    ASSERT_FALSE(ref.bytes.empty());
    bool bFound = false;
    for (const annexb::Nal& nal :
         annexb::SplitNals((const uint8_t*)ref.bytes.data(), ref.bytes.size())) {
        if (nal.Type() != annexb::NAL_SPS) continue;
        annexb::SpsInfo sps;
        ASSERT_TRUE(annexb::ParseSps(nal.p, nal.cb, &sps));
        EXPECT_EQ(200, sps.width);
        EXPECT_EQ(120, sps.height);
        EXPECT_EQ(66, sps.profile);
        bFound = true;
    }
    EXPECT_TRUE(bFound);
}

}  // namespace
