// The encoder in real graphs under Wine: media files through the platform's splitters and
// decoders into the encoder, its stream collected and checked with ffmpeg, and played back
// through the platform's own decoder.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "tests/encoder/EncoderTestUtil.h"
#include "tests/support/HostTools.h"

namespace {

struct EncoderGraph : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        ASSERT_EQ(S_OK, spGraph.CoCreateInstance(CLSID_FilterGraph));
    }
    void TearDown() override {
        if (spGraph) {
            CComQIPtr<IMediaControl> spControl(spGraph);
            spControl->Stop();
        }
        spEncoder.Release();
        spSink.Release();
        spGraph.Release();
        ::CoUninitialize();
    }
    // file -> platform chain -> encoder, as the bench inserts it.
    void InsertEncoderBehindFile(const std::string& file) {
        CComPtr<IPin> spVideoOut;
        ASSERT_EQ(S_OK, RenderFileWithoutVideoRenderer(spGraph, ToWinPath(file), &spVideoOut));
        ASSERT_EQ(S_OK, CreateEncoder(&spEncoder));
        ASSERT_EQ(S_OK, spGraph->AddFilter(spEncoder, L"Morvane H264 Encoder"));
        CComPtr<IPin> spEncIn;
        spEncIn.Attach(FirstPin(spEncoder, PINDIR_INPUT));
        ASSERT_EQ(S_OK, spGraph->ConnectDirect(spVideoOut, spEncIn, nullptr));
        AM_MEDIA_TYPE mt = {};
        ASSERT_EQ(S_OK, spEncIn->ConnectionMediaType(&mt));
        inputSubtype = mt.subtype;
        KitFreeMediaType(mt);
    }
    void AddSink() {
        pSink = new CTestSink();
        spSink = static_cast<IBaseFilter*>(pSink);
        ASSERT_EQ(S_OK, spGraph->AddFilter(spSink, L"Sink"));
        CComPtr<IPin> spOut, spIn;
        spOut.Attach(FirstPin(spEncoder, PINDIR_OUTPUT));
        spIn.Attach(FirstPin(spSink, PINDIR_INPUT));
        ASSERT_EQ(S_OK, spGraph->ConnectDirect(spOut, spIn, nullptr));
    }
    long RunToEnd(DWORD ms) {
        CComQIPtr<IMediaControl> spControl(spGraph);
        if (FAILED(spControl->Run())) return -1;
        long ev = WaitForGraphEvent(spGraph, ms);
        spControl->Stop();
        return ev;
    }
    CComPtr<IGraphBuilder> spGraph;
    CComPtr<IBaseFilter> spEncoder, spSink;
    CTestSink* pSink = nullptr;
    GUID inputSubtype = GUID_NULL;
};

double AveragePsnr(const std::string& stream, const std::string& reference) {
    std::string out;
    RunHost("ffmpeg -nostdin -v info -f h264 -i '" + stream + "' -i '" + reference +
                "' -lavfi '[0:v][1:v]psnr' -f null - 2>&1 | grep -o 'average:[0-9.inf]*'",
            &out);
    if (out.find("inf") != std::string::npos) return 99.0;
    double psnr = 0;
    sscanf(out.c_str(), "average:%lf", &psnr);
    return psnr;
}

TEST_F(EncoderGraph, MediaFilesEncodeToAStreamThatDecodesLikeTheSource) {
    struct Case {
        const char* name;
        const char* options;
    } cases[] = {
        {"h264.mp4", "-c:v libx264 -preset ultrafast -pix_fmt yuv420p"},
        {"bgr24.avi", "-c:v rawvideo -pix_fmt bgr24"},  // RGB24, stored bottom-up
        {"bgra.avi", "-c:v rawvideo -pix_fmt bgra"},    // RGB32
    };
    const int kFrames = 50;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        std::string file = MakeMediaFile(c.name, c.options, 320, 240, kFrames);
        ASSERT_FALSE(file.empty());
        InsertEncoderBehindFile(file);
        if (HasFatalFailure()) return;
        AddSink();
        if (HasFatalFailure()) return;

        // The encoder sits in line: one input and one output, both connected.
        int nIn, nOut;
        bool bConnected;
        CountPins(spEncoder, &nIn, &nOut, &bConnected);
        EXPECT_EQ(1, nIn);
        EXPECT_EQ(1, nOut);
        EXPECT_TRUE(bConnected);

        // Seeking passes through encoder and sink to the file's splitter.
        CComQIPtr<IMediaSeeking> spSeeking(spGraph);
        LONGLONG tDuration = 0;
        EXPECT_EQ(S_OK, spSeeking->GetDuration(&tDuration));
        EXPECT_EQ(kFrames * 400000LL, tDuration);

        ASSERT_EQ(EC_COMPLETE, RunToEnd(60000));
        std::vector<CollectedSample> samples = pSink->Samples();
        ASSERT_EQ((size_t)kFrames, samples.size());
        EXPECT_TRUE(samples[0].bSyncPoint);
        std::string stream = pSink->AllData();
        std::string path = SaveStream(stream);
        StreamFacts facts = ProbeStream(path);
        EXPECT_EQ(320, facts.width);
        EXPECT_EQ(240, facts.height);
        EXPECT_EQ(kFrames, facts.frames);
        EXPECT_EQ("", facts.errors);
        double psnr = AveragePsnr(path, file);
        EXPECT_GT(psnr, 30.0) << "the picture differs from the source (flipped or colours swapped?)";

        CComQIPtr<IVireon> spVireon(spEncoder);
        UINT nKbps = 0, nFrames = 0;
        EXPECT_EQ(S_OK, spVireon->GetStatistics(&nKbps, &nFrames));
        EXPECT_EQ((UINT)kFrames, nFrames);
        EXPECT_NEAR(stream.size() * 8.0 / (kFrames / 25.0) / 1000.0, nKbps, 1.0);
        wchar_t szSub[64];
        ::StringFromGUID2(inputSubtype, szSub, 64);
        printf("[ info ] %s: encoder input %ls, %u frames, %u Kbps, PSNR %.2f dB\n", c.name, szSub, nFrames, nKbps,
               psnr);
    }
}

// The encoder's output decoded and shown: through the maker's decoder when one is installed,
// else by whatever decoder the graph manager finds on this platform.
TEST_F(EncoderGraph, DecoderPlaysTheStreamToTheEnd) {
    std::string file = MakeMediaFile("h264.mp4", "-c:v libx264 -preset ultrafast -pix_fmt yuv420p", 320, 240, 50);
    ASSERT_FALSE(file.empty());
    InsertEncoderBehindFile(file);
    if (HasFatalFailure()) return;
    CComPtr<IPin> spOut;
    spOut.Attach(FirstPin(spEncoder, PINDIR_OUTPUT));
    CComPtr<IBaseFilter> spDecoder;
    if (SUCCEEDED(spDecoder.CoCreateInstance(CLSID_VireonDecoder)) ||
        SUCCEEDED(spDecoder.CoCreateInstance(CLSID_VireonDecoderAlt))) {
        ASSERT_EQ(S_OK, spGraph->AddFilter(spDecoder, L"Morvane H264 Decoder"));
        CComPtr<IPin> spDecIn;
        spDecIn.Attach(FirstPin(spDecoder, PINDIR_INPUT));
        ASSERT_EQ(S_OK, spGraph->ConnectDirect(spOut, spDecIn, nullptr));
        spOut.Release();
        spOut.Attach(FirstPin(spDecoder, PINDIR_OUTPUT));
    }
    HRESULT hr = spGraph->Render(spOut);
    if (FAILED(hr)) GTEST_SKIP() << "no decoder here takes the H.264 stream: 0x" << std::hex << hr;
    EXPECT_EQ(EC_COMPLETE, RunToEnd(60000));
}

// The encoded stream through the bench's output chains: the maker's MPEG-4 writer, and a
// Smart Tee whose "Capture" and "Preview" branches both get every frame.
TEST_F(EncoderGraph, StreamGoesThroughWriterAndSmartTee) {
    const int kFrames = 50;
    std::string file = MakeMediaFile("h264.mp4", "-c:v libx264 -preset ultrafast -pix_fmt yuv420p", 320, 240, kFrames);
    ASSERT_FALSE(file.empty());
    InsertEncoderBehindFile(file);
    if (HasFatalFailure()) return;

    CComPtr<IBaseFilter> spTee;
    ASSERT_EQ(S_OK, spTee.CoCreateInstance(CLSID_SmartTee));
    ASSERT_EQ(S_OK, spGraph->AddFilter(spTee, L"Smart Tee"));
    CComPtr<IPin> spEncOut, spTeeIn, spCapture, spPreview;
    spEncOut.Attach(FirstPin(spEncoder, PINDIR_OUTPUT));
    spTeeIn.Attach(FirstPin(spTee, PINDIR_INPUT));
    ASSERT_EQ(S_OK, spGraph->ConnectDirect(spEncOut, spTeeIn, nullptr));
    ASSERT_EQ(S_OK, spTee->FindPin(L"Capture", &spCapture));
    ASSERT_EQ(S_OK, spTee->FindPin(L"Preview", &spPreview));

    auto* pPreview = new CTestSink();
    CComPtr<IBaseFilter> spPreviewSink = static_cast<IBaseFilter*>(pPreview);
    ASSERT_EQ(S_OK, spGraph->AddFilter(spPreviewSink, L"Preview Sink"));
    CComPtr<IPin> spPreviewIn;
    spPreviewIn.Attach(FirstPin(spPreviewSink, PINDIR_INPUT));
    ASSERT_EQ(S_OK, spGraph->ConnectDirect(spPreview, spPreviewIn, nullptr));

    std::string mp4 = UniqueTmpPath(".mp4");
    CComPtr<IBaseFilter> spWriter;
    if (FAILED(spWriter.CoCreateInstance(CLSID_VireonMp4Writer))) GTEST_SKIP() << "no MPEG-4 writer registered";
    ASSERT_EQ(S_OK, spGraph->AddFilter(spWriter, L"Morvane MPEG-4 Writer"));
    CComQIPtr<IFileSinkFilter2> spFileSink(spWriter);
    ASSERT_TRUE(spFileSink != nullptr);
    ASSERT_EQ(S_OK, spFileSink->SetFileName(ToWinPath(mp4).c_str(), nullptr));
    CComPtr<IPin> spWriterIn;
    spWriterIn.Attach(FirstPin(spWriter, PINDIR_INPUT));
    ASSERT_EQ(S_OK, spGraph->ConnectDirect(spCapture, spWriterIn, nullptr));

    ASSERT_EQ(EC_COMPLETE, RunToEnd(60000));
    EXPECT_EQ((size_t)kFrames, pPreview->Samples().size());
    StreamFacts preview = ProbeStream(SaveStream(pPreview->AllData()));
    EXPECT_EQ(kFrames, preview.frames);
    EXPECT_EQ("", preview.errors);

    std::string out;
    EXPECT_EQ(0, RunHost("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                         "stream=codec_name,width,height,nb_read_frames -of csv=p=0 '" + mp4 + "'", &out));
    EXPECT_EQ("h264,320,240,50", out.substr(0, out.find_last_not_of("\r\n") + 1));
}

// Samples shorter than a frame of the agreed type are left out, never read past their end.
TEST_F(EncoderGraph, ShortSamplesAreLeftOut) {
    CKitMediaType mt = MakeRawType(KIT_MEDIASUBTYPE_I420, 64, 48);
    auto* pSource = new CTestSource({mt}, 5, 400000);
    pSource->cbSample = 64 * 48;  // luma only
    CComPtr<IBaseFilter> spSource = static_cast<IBaseFilter*>(pSource);
    ASSERT_EQ(S_OK, spGraph->AddFilter(spSource, L"Source"));
    ASSERT_EQ(S_OK, CreateEncoder(&spEncoder));
    ASSERT_EQ(S_OK, spGraph->AddFilter(spEncoder, L"Morvane H264 Encoder"));
    CComPtr<IPin> spOut, spIn;
    spOut.Attach(FirstPin(spSource, PINDIR_OUTPUT));
    spIn.Attach(FirstPin(spEncoder, PINDIR_INPUT));
    ASSERT_EQ(S_OK, spGraph->ConnectDirect(spOut, spIn, nullptr));
    AddSink();
    if (HasFatalFailure()) return;
    ASSERT_EQ(EC_COMPLETE, RunToEnd(30000));
    EXPECT_EQ(5, pSource->Delivered());
    EXPECT_EQ(0u, pSink->Samples().size());
    UINT nKbps = 0, nFrames = 1;
    CComQIPtr<IVireon>(spEncoder)->GetStatistics(&nKbps, &nFrames);
    EXPECT_EQ(0u, nFrames);
}

}  // namespace
