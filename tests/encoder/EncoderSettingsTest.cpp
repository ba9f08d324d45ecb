// The encoder's control interface and stream structure, fed by a test source with exactly
// the formats and time stamps each case needs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "tests/encoder/EncoderTestUtil.h"

#include <dvdmedia.h>
#include "tests/support/HostTools.h"

namespace {

struct SourceGraph : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        ASSERT_EQ(S_OK, spGraph.CoCreateInstance(CLSID_FilterGraph));
        ASSERT_EQ(S_OK, CreateEncoder(&spEncoder));
        spVireon = spEncoder;
        ASSERT_TRUE(spVireon != nullptr);
        ASSERT_EQ(S_OK, spGraph->AddFilter(spEncoder, L"Morvane H264 Encoder"));
    }
    void TearDown() override {
        CComQIPtr<IMediaControl> spControl(spGraph);
        if (spControl) spControl->Stop();
        spVireon.Release();
        spEncoder.Release();
        spSource.Release();
        spSink.Release();
        spGraph.Release();
        ::CoUninitialize();
    }
    // source (one type, `frames` frames of tDuration each) -> encoder [-> sink]
    void Build(const CKitMediaType& mt, int frames, REFERENCE_TIME tDuration = 400000, bool bSink = true) {
        pSource = new CTestSource({mt}, frames, tDuration);
        pSource->cbSample = cbSourceSample;
        spSource = static_cast<IBaseFilter*>(pSource);
        CKitMediaType type = mt;
        pSource->fill = [type](int, BYTE* p, long cb) { FillQuadrants(type, p, cb); };
        ASSERT_EQ(S_OK, spGraph->AddFilter(spSource, L"Source"));
        CComPtr<IPin> spOut, spIn;
        spOut.Attach(FirstPin(spSource, PINDIR_OUTPUT));
        spIn.Attach(FirstPin(spEncoder, PINDIR_INPUT));
        ASSERT_EQ(S_OK, spGraph->ConnectDirect(spOut, spIn, nullptr));
        if (!bSink) return;
        pSink = new CTestSink();
        spSink = static_cast<IBaseFilter*>(pSink);
        ASSERT_EQ(S_OK, spGraph->AddFilter(spSink, L"Sink"));
        CComPtr<IPin> spEncOut, spSinkIn;
        spEncOut.Attach(FirstPin(spEncoder, PINDIR_OUTPUT));
        spSinkIn.Attach(FirstPin(spSink, PINDIR_INPUT));
        ASSERT_EQ(S_OK, spGraph->ConnectDirect(spEncOut, spSinkIn, nullptr));
    }
    void Run() {
        CComQIPtr<IMediaControl> spControl(spGraph);
        ASSERT_TRUE(SUCCEEDED(spControl->Run()));
        ASSERT_EQ(EC_COMPLETE, WaitForGraphEvent(spGraph, 30000));
        ASSERT_EQ(S_OK, spControl->Stop());
    }
    // Frame positions of IDR and of other intra pictures, as "I.....i..." (I IDR, i intra).
    std::string Structure() {
        std::string s;
        for (const CollectedSample& sample : pSink->Samples()) {
            std::vector<CodedFrame> f = ParseAnnexB(sample.data);
            char c = '?';
            if (f.size() == 1) c = f[0].nalType == 5 ? 'I' : (f[0].isIntra() ? 'i' : '.');
            s += c;
            EXPECT_EQ(c == 'I', sample.bSyncPoint) << "sync point flag of frame " << s.size() - 1;
        }
        return s;
    }

    CComPtr<IGraphBuilder> spGraph;
    CComPtr<IBaseFilter> spEncoder, spSource, spSink;
    CComQIPtr<IVireon> spVireon;
    CTestSource* pSource = nullptr;
    CTestSink* pSink = nullptr;
    long cbSourceSample = 0;  // buffer size of the source, when not the type's sample size
};

// Every input layout comes out as the same picture: no flips, no swapped chroma.
TEST_F(SourceGraph, InputFormatsKeepPictureAndColours) {
    struct Case {
        const char* name;
        GUID subtype;
        bool bInfo2;
        bool bTopDown;
    } cases[] = {
        {"I420", media::kSubtypeI420, false, false}, {"IYUV", MEDIASUBTYPE_IYUV, true, false},
        {"YV12", MEDIASUBTYPE_YV12, false, false},     {"NV12", MEDIASUBTYPE_NV12, true, false},
        {"YUY2", MEDIASUBTYPE_YUY2, false, false},     {"RGB24 bottom-up", MEDIASUBTYPE_RGB24, false, false},
        {"RGB24 top-down", MEDIASUBTYPE_RGB24, true, true}, {"RGB32 bottom-up", MEDIASUBTYPE_RGB32, true, false},
        {"RGB32 top-down", MEDIASUBTYPE_RGB32, false, true},
    };
    const int w = 64, h = 48;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        Build(MakeRawType(c.subtype, w, h, c.bInfo2, 400000, 0, c.bTopDown), 3);
        if (HasFatalFailure()) return;
        Run();
        if (HasFatalFailure()) return;
        std::string yuv;
        ASSERT_TRUE(DecodeToYuv(SaveStream(pSink->AllData()), &yuv));
        ASSERT_EQ((size_t)w * h * 3 / 2 * 3, yuv.size());
        const auto* Y = (const unsigned char*)yuv.data();
        const unsigned char* U = Y + w * h;
        const unsigned char* V = U + w * h / 4;
        for (int q = 0; q < 4; ++q) {
            const int x = (q & 1) ? 3 * w / 4 : w / 4, y = (q & 2) ? 3 * h / 4 : h / 4;
            SCOPED_TRACE(q);
            EXPECT_NEAR(kQuadrantColours[q].y, Y[y * w + x], 6);
            EXPECT_NEAR(kQuadrantColours[q].u, U[(y / 2) * (w / 2) + x / 2], 8);
            EXPECT_NEAR(kQuadrantColours[q].v, V[(y / 2) * (w / 2) + x / 2], 8);
        }
    }
}

TEST_F(SourceGraph, InputInfoComesFromTheConnectedType) {
    int nWidth = -1, nHeight = -1, eInterlacing = -1;
    double dblFps = -1;
    ASSERT_EQ(S_OK, spVireon->GetInputInfo(&nWidth, &nHeight, &dblFps, &eInterlacing));
    EXPECT_EQ(0, nWidth);  // no input yet

    struct Case {
        bool bInfo2;
        DWORD dwFlags;
        REFERENCE_TIME tFrame;
        int eExpected;
        double dblFps;
    } cases[] = {
        {false, 0, 400000, MRV264E_Progressive, 25.0},
        {true, 0, 333667, MRV264E_Progressive, 29.97},
        {true, AMINTERLACE_IsInterlaced | AMINTERLACE_Field1First, 400000, MRV264E_TopFieldFirst, 25.0},
        {true, AMINTERLACE_IsInterlaced, 400000, MRV264E_BottomFieldFirst, 25.0},
        {true, AMINTERLACE_Field1First, 200000, MRV264E_Progressive, 50.0},  // not interlaced
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dwFlags);
        TearDown();
        SetUp();
        Build(MakeRawType(MEDIASUBTYPE_YV12, 720, 576, c.bInfo2, c.tFrame, c.dwFlags), 1, c.tFrame, false);
        if (HasFatalFailure()) return;
        ASSERT_EQ(S_OK, spVireon->GetInputInfo(&nWidth, &nHeight, &dblFps, &eInterlacing));
        EXPECT_EQ(720, nWidth);
        EXPECT_EQ(576, nHeight);
        EXPECT_NEAR(c.dblFps, dblFps, 0.01);
        EXPECT_EQ(c.eExpected, eInterlacing);
    }
    // Disconnected again: no input information.
    CComPtr<IPin> spIn;
    spIn.Attach(FirstPin(spEncoder, PINDIR_INPUT));
    ASSERT_EQ(S_OK, spGraph->Disconnect(spIn));
    ASSERT_EQ(S_OK, spVireon->GetInputInfo(&nWidth, &nHeight, &dblFps, &eInterlacing));
    EXPECT_EQ(0, nWidth);
}

TEST_F(SourceGraph, SettersCheckValuesAndReportWhatIsUsed) {
    // Before any input: the requests themselves.
    UINT n1 = 0, n2 = 0, n3 = 0, n4 = 0;
    int e1 = 0, e2 = 0;
    struct Rejected {
        const char* what;
        std::function<HRESULT()> call;
    } rejected[] = {
        {"preset 5", [&] { return spVireon->SetPreset(5); }},
        {"preset -1", [&] { return spVireon->SetPreset(-1); }},
        {"speed/quality 0", [&] { return spVireon->SetSpeedQuality(0); }},
        {"speed/quality 8", [&] { return spVireon->SetSpeedQuality(8); }},
        {"rate control 2", [&] { return spVireon->SetRateControl(2); }},
        {"bitrate 240001", [&] { return spVireon->SetBitrate(240001); }},
        {"profile 88", [&] { return spVireon->SetProfileLevel(88, 0); }},
        {"level 14", [&] { return spVireon->SetProfileLevel(66, 14); }},
        {"exact GOP 2", [&] { return spVireon->SetGop(10, 2); }},
        {"B-frames 17", [&] { return spVireon->SetBFrames(17); }},
        {"CAVLC 2", [&] { return spVireon->SetCavlc(2); }},
        {"pass-through 2", [&] { return spVireon->SetPassThroughTimeStamps(2); }},
        {"encoder type 0", [&] { return spVireon->SetEncoderType(0); }},
        {"threads 65", [&] { return spVireon->SetThreads(65); }},
    };
    for (const Rejected& r : rejected) EXPECT_EQ(E_INVALIDARG, r.call()) << r.what;
    // No hardware encoder on this machine.
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), spVireon->SetEncoderType(MRV264E_Enc_Hard));
    ASSERT_EQ(S_OK, spVireon->GetEncoderType(&e1, &e2));
    EXPECT_EQ(MRV264E_Enc_Any, e1);
    EXPECT_EQ(MRV264E_Enc_Soft, e2);
    EXPECT_EQ(S_OK, spVireon->SetEncoderType(MRV264E_Enc_Soft));
    ASSERT_EQ(S_OK, spVireon->GetEncoderType(&e1, &e2));
    EXPECT_EQ(MRV264E_Enc_Soft, e1);

    // Presets set their bundle; changing a bundled value makes the preset Custom.
    ASSERT_EQ(S_OK, spVireon->GetPreset(&e1));
    EXPECT_EQ(MRV264E_Preset_Balanced, e1);
    ASSERT_EQ(S_OK, spVireon->SetPreset(MRV264E_Preset_Fast));
    ASSERT_EQ(S_OK, spVireon->GetSpeedQuality(&n1));
    EXPECT_EQ(1u, n1);
    ASSERT_EQ(S_OK, spVireon->SetPreset(MRV264E_Preset_BestQuality));
    ASSERT_EQ(S_OK, spVireon->GetSpeedQuality(&n1));
    EXPECT_EQ(7u, n1);
    ASSERT_EQ(S_OK, spVireon->SetPreset(MRV264E_Preset_LowLatency));
    ASSERT_EQ(S_OK, spVireon->GetRateControl(&e1));
    EXPECT_EQ(MRV264E_RC_Constant, e1);
    ASSERT_EQ(S_OK, spVireon->GetBFrames(&n1, &n2));
    EXPECT_EQ(0u, n1);
    ASSERT_EQ(S_OK, spVireon->SetRateControl(MRV264E_RC_Constant));  // the preset's own value
    ASSERT_EQ(S_OK, spVireon->GetPreset(&e1));
    EXPECT_EQ(MRV264E_Preset_LowLatency, e1);
    ASSERT_EQ(S_OK, spVireon->SetSpeedQuality(5));
    ASSERT_EQ(S_OK, spVireon->GetPreset(&e1));
    EXPECT_EQ(MRV264E_Preset_Custom, e1);

    // Round trips, and what a Baseline-only encoder uses.
    ASSERT_EQ(S_OK, spVireon->SetProfileLevel(100, 31));
    ASSERT_EQ(S_OK, spVireon->SetBitrate(1500));
    ASSERT_EQ(S_OK, spVireon->SetGop(12, 1));
    ASSERT_EQ(S_OK, spVireon->SetIdrInterval(3));
    ASSERT_EQ(S_OK, spVireon->SetBFrames(3));
    ASSERT_EQ(S_OK, spVireon->SetCavlc(0));
    ASSERT_EQ(S_OK, spVireon->SetPassThroughTimeStamps(1));
    ASSERT_EQ(S_OK, spVireon->GetProfileLevel(&n1, &n2, &n3, &n4));
    EXPECT_EQ(100u, n1);
    EXPECT_EQ(31u, n2);
    EXPECT_EQ(66u, n3);
    EXPECT_EQ(31u, n4);
    ASSERT_EQ(S_OK, spVireon->GetBitrate(&n1, &n2));
    EXPECT_EQ(1500u, n1);
    EXPECT_EQ(1500u, n2);
    ASSERT_EQ(S_OK, spVireon->GetGop(&n1, &e1, &n2));
    EXPECT_EQ(12u, n1);
    EXPECT_EQ(1, e1);
    EXPECT_EQ(12u, n2);
    ASSERT_EQ(S_OK, spVireon->GetIdrInterval(&n1, &n2));
    EXPECT_EQ(3u, n1);
    EXPECT_EQ(3u, n2);
    ASSERT_EQ(S_OK, spVireon->GetBFrames(&n1, &n2));
    EXPECT_EQ(3u, n1);
    EXPECT_EQ(0u, n2);
    ASSERT_EQ(S_OK, spVireon->GetCavlc(&e1));
    EXPECT_EQ(1, e1);  // CAVLC is what Baseline uses
    ASSERT_EQ(S_OK, spVireon->GetPassThroughTimeStamps(&e1));
    EXPECT_EQ(1, e1);
    EXPECT_EQ(E_POINTER, spVireon->GetBitrate(&n1, nullptr));

    // With an input, automatic values are resolved for it: 320x240 at 25 fps.
    Build(MakeRawType(media::kSubtypeI420, 320, 240), 1, 400000, false);
    if (HasFatalFailure()) return;
    ASSERT_EQ(S_OK, spVireon->SetProfileLevel(0, 0));
    ASSERT_EQ(S_OK, spVireon->SetBitrate(0));
    ASSERT_EQ(S_OK, spVireon->SetGop(0, 0));
    ASSERT_EQ(S_OK, spVireon->GetBitrate(&n1, &n2));
    EXPECT_EQ(0u, n1);
    EXPECT_EQ(230u, n2);  // about 0.12 bits per pixel
    ASSERT_EQ(S_OK, spVireon->GetGop(&n1, &e1, &n2));
    EXPECT_EQ(0u, n1);
    EXPECT_EQ(25u, n2);  // one second
    ASSERT_EQ(S_OK, spVireon->GetProfileLevel(&n1, &n2, &n3, &n4));
    EXPECT_EQ(66u, n3);
    EXPECT_EQ(13u, n4);  // 7500 macroblocks a second is more than level 1.2 allows
    // Threads: one per processor by default in slices of 8 macroblock rows at least (one
    // here: 15 rows); asked for, at most one per row.
    ASSERT_EQ(S_OK, spVireon->GetThreads(&n1, &n2));
    EXPECT_EQ(0u, n1);
    EXPECT_EQ(1u, n2);
    ASSERT_EQ(S_OK, spVireon->SetThreads(40));
    ASSERT_EQ(S_OK, spVireon->GetThreads(&n1, &n2));
    EXPECT_EQ(40u, n1);
    EXPECT_EQ(15u, n2);
    EXPECT_EQ(E_POINTER, spVireon->GetThreads(&n1, nullptr));
    // A level too small for the stream is replaced, and the used value says so.
    ASSERT_EQ(S_OK, spVireon->SetProfileLevel(66, 10));
    ASSERT_EQ(S_OK, spVireon->GetProfileLevel(&n1, &n2, &n3, &n4));
    EXPECT_EQ(10u, n2);
    EXPECT_EQ(13u, n4);
}

// What the encoder reports as used is worked out for the input connected now, not for one
// connected before.
TEST_F(SourceGraph, UsedValuesFollowTheConnectedInput) {
    struct Case {
        int w, h;
        REFERENCE_TIME tFrame;
        UINT nKbps, nLevel;
    } cases[] = {
        {320, 240, 400000, 230, 13},  // about 0.12 bits per pixel; 7500 macroblocks a second
        {640, 480, 400000, 922, 30},  // 30000 macroblocks a second: more than level 2.2 allows
        {320, 240, 200000, 461, 21},  // 50 fps: 15000 macroblocks a second
        {320, 240, 400000, 230, 13},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " " << c.tFrame);
        if (spSource) {
            ASSERT_EQ(S_OK, spGraph->RemoveFilter(spSource));
            spSource.Release();
        }
        Build(MakeRawType(media::kSubtypeI420, c.w, c.h, false, c.tFrame), 1, c.tFrame, false);
        if (HasFatalFailure()) return;
        UINT n1 = 0, n2 = 0, n3 = 0, n4 = 0;
        ASSERT_EQ(S_OK, spVireon->GetBitrate(&n1, &n2));
        EXPECT_EQ(c.nKbps, n2);
        ASSERT_EQ(S_OK, spVireon->GetProfileLevel(&n1, &n2, &n3, &n4));
        EXPECT_EQ(c.nLevel, n4);
    }
}

TEST_F(SourceGraph, SettingsChangeOnlyWhileStopped) {
    Build(MakeRawType(media::kSubtypeI420, 64, 48), 5);
    if (HasFatalFailure()) return;
    CComQIPtr<IMediaControl> spControl(spGraph);
    ASSERT_TRUE(SUCCEEDED(spControl->Pause()));
    EXPECT_EQ(VFW_E_WRONG_STATE, spVireon->SetBitrate(500));
    EXPECT_EQ(VFW_E_WRONG_STATE, spVireon->SetPreset(MRV264E_Preset_Fast));
    EXPECT_EQ(VFW_E_WRONG_STATE, spVireon->SetGop(5, 0));
    EXPECT_EQ(S_OK, spVireon->ForceKeyFrame());
    UINT n1 = 0, n2 = 0;
    EXPECT_EQ(S_OK, spVireon->GetBitrate(&n1, &n2));
    EXPECT_EQ(0u, n1);
    ASSERT_EQ(S_OK, spControl->Stop());
    EXPECT_EQ(S_OK, spVireon->SetBitrate(500));
}

TEST_F(SourceGraph, GopAndIdrIntervalPlaceTheKeyFrames) {
    struct Case {
        UINT nGop, nIdr;
        const char* expected;
    } cases[] = {
        {10, 1, "I.........I.........I.........I........."},
        {10, 2, "I.........i.........I.........i........."},
        {10, 0, "I.........i.........i.........i........."},
        {7, 3, "I......i......i......I......i......i...."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        TearDown();
        SetUp();
        ASSERT_EQ(S_OK, spVireon->SetGop(c.nGop, 0));
        ASSERT_EQ(S_OK, spVireon->SetIdrInterval(c.nIdr));
        Build(MakeRawType(media::kSubtypeI420, 64, 48), 40);
        if (HasFatalFailure()) return;
        Run();
        if (HasFatalFailure()) return;
        EXPECT_EQ(c.expected, Structure());
        // ffmpeg sees the IDR frames as the key frames.
        std::string idr;
        for (char ch : std::string(c.expected)) idr += ch == 'I' ? '1' : '0';
        StreamFacts facts = ProbeStream(SaveStream(pSink->AllData()));
        EXPECT_EQ(idr, facts.keyFrames);
        EXPECT_EQ("", facts.errors);
    }
}

TEST_F(SourceGraph, ForcedKeyFrameIsTheNextFrame) {
    struct Case {
        int bExactGop;
        const char* expected;
    } cases[] = {
        {0, "I......I.........i.........i"},  // the GOP restarts at the forced frame
        {1, "I......I..i.........i......."},  // the regular grid stays
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        TearDown();
        SetUp();
        ASSERT_EQ(S_OK, spVireon->SetGop(10, c.bExactGop));
        ASSERT_EQ(S_OK, spVireon->SetIdrInterval(0));
        Build(MakeRawType(media::kSubtypeI420, 64, 48), 28);
        if (HasFatalFailure()) return;
        CKitMediaType type = MakeRawType(media::kSubtypeI420, 64, 48);
        IVireon* pVireon = spVireon;
        // Asked for while frame 7 is being made: frame 7 is the next one the encoder gets.
        pSource->fill = [type, pVireon](int n, BYTE* p, long cb) {
            FillQuadrants(type, p, cb);
            if (n == 7) pVireon->ForceKeyFrame();
        };
        Run();
        if (HasFatalFailure()) return;
        EXPECT_EQ(c.expected, Structure());
        std::string idr;
        for (char ch : std::string(c.expected)) idr += ch == 'I' ? '1' : '0';
        EXPECT_EQ(idr, ProbeStream(SaveStream(pSink->AllData())).keyFrames);
    }
}

TEST_F(SourceGraph, TimeStampsPassedThroughOrMadeFromTheFrameRate) {
    // The source stamps 30 fps frames from 0; its type says 25 fps.
    for (int bPassThrough = 0; bPassThrough < 2; ++bPassThrough) {
        SCOPED_TRACE(bPassThrough);
        TearDown();
        SetUp();
        ASSERT_EQ(S_OK, spVireon->SetPassThroughTimeStamps(bPassThrough));
        Build(MakeRawType(media::kSubtypeI420, 64, 48, false, 400000), 6, 333333);
        if (HasFatalFailure()) return;
        Run();
        if (HasFatalFailure()) return;
        std::vector<CollectedSample> samples = pSink->Samples();
        ASSERT_EQ(6u, samples.size());
        const REFERENCE_TIME tFrame = bPassThrough ? 333333 : 400000;
        for (int i = 0; i < 6; ++i) {
            EXPECT_TRUE(samples[i].bHasTime);
            EXPECT_EQ(i * tFrame, samples[i].tStart) << i;
            EXPECT_EQ((i + 1) * tFrame, samples[i].tStop) << i;
        }
    }
}

TEST_F(SourceGraph, PassedThroughTimeStampsWithOnlyAStartOrNoneAreCompleted) {
    // Frames alternate between a start time alone and no time at all. A start alone gets the
    // type's frame duration (25 fps) as its length; a frame without time is stamped from the
    // frame count, as without pass-through.
    ASSERT_EQ(S_OK, spVireon->SetPassThroughTimeStamps(1));
    Build(MakeRawType(media::kSubtypeI420, 64, 48, false, 400000), 6, 333333);
    if (HasFatalFailure()) return;
    pSource->decorate = [](int n, IMediaSample* pSample) {
        REFERENCE_TIME tStart = 1000000 + n * 333333LL;
        if (n % 2 == 0)
            pSample->SetTime(&tStart, nullptr);
        else
            pSample->SetTime(nullptr, nullptr);
    };
    Run();
    if (HasFatalFailure()) return;
    std::vector<CollectedSample> samples = pSink->Samples();
    ASSERT_EQ(6u, samples.size());
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        const REFERENCE_TIME tStart = i % 2 == 0 ? 1000000 + i * 333333LL : i * 400000LL;
        EXPECT_TRUE(samples[i].bHasTime);
        EXPECT_EQ(tStart, samples[i].tStart);
        EXPECT_EQ(tStart + 400000, samples[i].tStop);
    }
}

TEST_F(SourceGraph, StatisticsCountEachRunFromItsStart) {
    UINT nKbps = 1, nFrames = 1;
    ASSERT_EQ(S_OK, spVireon->GetStatistics(&nKbps, &nFrames));
    EXPECT_EQ(0u, nKbps);
    EXPECT_EQ(0u, nFrames);
    Build(MakeRawType(media::kSubtypeI420, 176, 144), 20);
    if (HasFatalFailure()) return;
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        Run();
        if (HasFatalFailure()) return;
        std::vector<CollectedSample> samples = pSink->Samples();
        ASSERT_EQ(20u * run, samples.size());
        size_t cbRun = 0;
        for (size_t i = 20u * (run - 1); i < samples.size(); ++i) cbRun += samples[i].data.size();
        // Kept after the stop, counted again from the next start.
        ASSERT_EQ(S_OK, spVireon->GetStatistics(&nKbps, &nFrames));
        EXPECT_EQ(20u, nFrames);
        EXPECT_NEAR(cbRun * 8.0 / (20 / 25.0) / 1000.0, nKbps, 1.0);
    }
}

// A sample that brings another picture size: the encoder restarts with an IDR and tells the
// next filter the new size on that sample.
TEST_F(SourceGraph, PictureSizeChangeMidStream) {
    CKitMediaType small = MakeRawType(media::kSubtypeI420, 64, 48, true);
    CKitMediaType large = MakeRawType(media::kSubtypeI420, 96, 64, true);
    cbSourceSample = large.lSampleSize;
    Build(small, 8);
    if (HasFatalFailure()) return;
    pSource->fill = [small, large](int n, BYTE* p, long cb) { FillQuadrants(n < 4 ? small : large, p, cb); };
    pSource->decorate = [large](int n, IMediaSample* pSample) {
        if (n == 4) pSample->SetMediaType(const_cast<CKitMediaType*>(&large));
    };
    Run();
    if (HasFatalFailure()) return;
    std::vector<CollectedSample> samples = pSink->Samples();
    ASSERT_EQ(8u, samples.size());
    EXPECT_EQ("I...I...", Structure());
    for (int i = 0; i < 8; ++i) EXPECT_EQ(i == 4, samples[i].bHasType) << i;
    ASSERT_TRUE(samples[4].bHasType);
    EXPECT_EQ(media::kSubtypeH264, samples[4].type.subtype);
    ASSERT_EQ(FORMAT_VideoInfo2, samples[4].type.formattype);
    const auto* vih2 = (const VIDEOINFOHEADER2*)samples[4].type.pbFormat;
    EXPECT_EQ(96, vih2->bmiHeader.biWidth);
    EXPECT_EQ(64, vih2->bmiHeader.biHeight);
    int nWidth = 0, nHeight = 0, eInterlacing = 0;
    double dblFps = 0;
    ASSERT_EQ(S_OK, spVireon->GetInputInfo(&nWidth, &nHeight, &dblFps, &eInterlacing));
    EXPECT_EQ(96, nWidth);
    EXPECT_EQ(64, nHeight);
    StreamFacts facts = ProbeStream(SaveStream(pSink->AllData()));
    EXPECT_EQ(8, facts.frames);
    EXPECT_EQ("", facts.errors);
}

TEST(EncoderVersion, IdentifiesTheEncoder) {
    ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    {
        CComPtr<IBaseFilter> spEncoder;
        ASSERT_EQ(S_OK, CreateEncoder(&spEncoder));
        CComQIPtr<IVireonVersion> spVersion(spEncoder);
        ASSERT_TRUE(spVersion != nullptr);
        int eType = -1, eOS = -1;
        EXPECT_EQ(S_OK, spVersion->GetType(&eType));
        EXPECT_EQ(MRV264E_Type_Release, eType);  // the project builds with NDEBUG
        EXPECT_EQ(S_OK, spVersion->GetOS(&eOS));
        EXPECT_EQ(MRV264E_OS_64, eOS);
        CComBSTR name, number, dateTime;
        EXPECT_EQ(S_OK, spVersion->GetName(&name));
        EXPECT_STREQ(L"Morvane H264 Encoder", name);
        EXPECT_EQ(S_OK, spVersion->GetNumber(&number));
        EXPECT_STREQ(L"1.0.0.2", number);
        EXPECT_EQ(S_OK, spVersion->GetDateTime(&dateTime));
        ASSERT_EQ(19u, dateTime.Length());  // YYYY-MM-DD hh:mm:ss
        EXPECT_EQ(L'-', dateTime[4]);
        EXPECT_EQ(L' ', dateTime[10]);
        // The filter's identity in the graph world.
        CLSID clsid = GUID_NULL;
        EXPECT_EQ(S_OK, spEncoder->GetClassID(&clsid));
        EXPECT_EQ(CLSID_VireonEncoder, clsid);
        int nIn, nOut;
        bool bConnected;
        CountPins(spEncoder, &nIn, &nOut, &bConnected);
        EXPECT_EQ(1, nIn);
        EXPECT_EQ(1, nOut);
        EXPECT_FALSE(bConnected);
    }
    ::CoUninitialize();
}

}  // namespace
