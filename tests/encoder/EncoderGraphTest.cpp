// The encoder in real graphs under Wine: media files through the platform's splitters and
// decoders into the encoder, its stream collected and checked with ffmpeg, and played back
// through the platform's own decoder.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    // file -> platform chain -> encoder, as the bench inserts it. With a subtype, the chain's
    // last pin is asked for that one; *phrConnect (when given) takes a refusal instead of
    // failing the test.
    void InsertEncoderBehindFile(const std::string& file, const GUID& subtype = GUID_NULL,
                                 HRESULT* phrConnect = nullptr) {
        CComPtr<IPin> spVideoOut;
        ASSERT_EQ(S_OK, RenderFileWithoutVideoRenderer(spGraph, ToWinPath(file), &spVideoOut));
        ASSERT_EQ(S_OK, CreateEncoder(&spEncoder));
        ASSERT_EQ(S_OK, spGraph->AddFilter(spEncoder, L"Morvane H264 Encoder"));
        CComPtr<IPin> spEncIn;
        spEncIn.Attach(FirstPin(spEncoder, PINDIR_INPUT));
        AM_MEDIA_TYPE partial = {};
        partial.majortype = MEDIATYPE_Video;
        partial.subtype = subtype;
        HRESULT hr = spGraph->ConnectDirect(spVideoOut, spEncIn, subtype == GUID_NULL ? nullptr : &partial);
        if (phrConnect) {
            *phrConnect = hr;
            if (FAILED(hr)) return;
        }
        ASSERT_EQ(S_OK, hr);
        AM_MEDIA_TYPE mt = {};
        ASSERT_EQ(S_OK, spEncIn->ConnectionMediaType(&mt));
        inputSubtype = mt.subtype;
        media::FreeMediaType(mt);
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

// PSNR of the decoded stream, cropped to the source's size, against the source file.
double PsnrAgainstSource(const std::string& stream, const std::string& reference, int width, int height) {
    std::string out;
    char filter[160];
    snprintf(filter, sizeof filter, "[0:v]crop=%d:%d:0:0[a];[a][1:v]psnr", width, height);
    RunHost("ffmpeg -nostdin -v info -f h264 -i '" + stream + "' -i '" + reference + "' -lavfi '" + filter +
                "' -f null - 2>&1 | grep -o 'average:[0-9.inf]*'",
            &out);
    if (out.find("inf") != std::string::npos) return 99.0;
    double psnr = 0;
    sscanf(out.c_str(), "average:%lf", &psnr);
    return psnr;
}

// Pictures of sizes whose rows the platform pads (854 and 98 wide) in every uncompressed
// format, from the platform's splitters and decoders: the stream decodes like the source.
TEST_F(EncoderGraph, EveryInputLayoutEncodesThePictureItWasGiven) {
    const GUID kI420 = media::kSubtypeI420;
    struct Case {
        const char* name;
        const char* options;
        int width, height;
        const GUID* pSubtype;  // asked of the platform's pin; nullptr: what it offers first
    } cases[] = {
        {"854x480.mp4", "-c:v libx264 -preset ultrafast -pix_fmt yuv420p", 854, 480, nullptr},
        {"98x62.mp4", "-c:v libx264 -preset ultrafast -pix_fmt yuv420p", 98, 62, nullptr},
        {"854x480.mp4", "", 854, 480, &kI420},
        {"854x480.mp4", "", 854, 480, &MEDIASUBTYPE_YV12},
        {"854x480.mp4", "", 854, 480, &MEDIASUBTYPE_NV12},
        {"854x480.mp4", "", 854, 480, &MEDIASUBTYPE_YUY2},
        {"854x480.mp4", "", 854, 480, &MEDIASUBTYPE_RGB24},
        {"854x480.mp4", "", 854, 480, &MEDIASUBTYPE_RGB32},
        {"98x62-yuy2.avi", "-c:v rawvideo -pix_fmt yuyv422", 98, 62, nullptr},
        {"98x62-bgr24.avi", "-c:v rawvideo -pix_fmt bgr24", 98, 62, nullptr},
        {"98x62-bgra.avi", "-c:v rawvideo -pix_fmt bgra", 98, 62, nullptr},
    };
    const int kFrames = 10;
    for (const Case& c : cases) {
        wchar_t szAsked[64] = L"any";
        if (c.pSubtype) ::StringFromGUID2(*c.pSubtype, szAsked, 64);
        char szTrace[200];
        snprintf(szTrace, sizeof szTrace, "%s as %ls", c.name, szAsked);
        SCOPED_TRACE(szTrace);
        TearDown();
        SetUp();
        std::string file = MakeMediaFile(c.name, c.options, c.width, c.height, kFrames);
        ASSERT_FALSE(file.empty());
        HRESULT hrConnect = S_OK;
        InsertEncoderBehindFile(file, c.pSubtype ? *c.pSubtype : GUID_NULL, &hrConnect);
        if (HasFatalFailure()) return;
        if (c.pSubtype && FAILED(hrConnect)) {
            printf("[ info ] %s: the platform does not deliver %ls here (0x%08lx)\n", c.name, szAsked, hrConnect);
            continue;
        }
        ASSERT_EQ(S_OK, hrConnect);
        AddSink();
        if (HasFatalFailure()) return;
        ASSERT_EQ(EC_COMPLETE, RunToEnd(60000));
        EXPECT_EQ((size_t)kFrames, pSink->Samples().size());
        std::string path = SaveStream(pSink->AllData());
        StreamFacts facts = ProbeStream(path);
        EXPECT_EQ((c.width + 1) & ~1, facts.width);
        EXPECT_EQ((c.height + 1) & ~1, facts.height);
        EXPECT_EQ(kFrames, facts.frames);
        EXPECT_EQ("", facts.errors);
        const double psnr = PsnrAgainstSource(path, file, c.width, c.height);
        EXPECT_GT(psnr, 30.0) << "sheared, flipped or colours swapped";
        wchar_t szSub[64];
        ::StringFromGUID2(inputSubtype, szSub, 64);
        printf("[ info ] %s: encoder input %ls, PSNR %.2f dB\n", c.name, szSub, psnr);
    }
}

// Odd sizes (the platform's splitters round them down, so a source of ours sends them) in
// natural and padded rows: coded at the next even size, the picture where it belongs.
TEST_F(EncoderGraph, OddSizesAreCodedAtTheNextEvenSize) {
    const int w = 99, h = 61, cw = 50, ch = 31, kFrames = 5;
    // A picture in which a sheared or shifted row shows: gradients both ways, a bar.
    std::string y(w * h, 0), u(cw * ch, 0), v(cw * ch, 0);
    for (int r = 0; r < h; ++r)
        for (int x = 0; x < w; ++x) y[r * w + x] = (char)(x >= 40 && x < 48 ? 235 : 16 + 2 * x + r);
    for (int r = 0; r < ch; ++r)
        for (int x = 0; x < cw; ++x) {
            u[r * cw + x] = (char)(128 + 2 * (x - cw / 2));
            v[r * cw + x] = (char)(128 + 3 * (r - ch / 2));
        }
    std::string reference;
    for (int i = 0; i < kFrames; ++i) reference += y + u + v;
    const std::string refPath = UniqueTmpPath(".yuv");
    ASSERT_TRUE(WriteHostFile(refPath, reference));

    struct Case {
        const char* name;
        const GUID* pSubtype;
        int cbLuma, cbChroma;  // row strides of the buffer
    } cases[] = {
        {"I420 natural rows", &media::kSubtypeI420, 99, 50},
        {"I420 rows padded to 4 bytes", &media::kSubtypeI420, 100, 52},
        {"YV12 rows padded to 4 bytes", &MEDIASUBTYPE_YV12, 100, 52},
        {"YUY2", &MEDIASUBTYPE_YUY2, 200, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        const bool bYuy2 = *c.pSubtype == MEDIASUBTYPE_YUY2;
        const long cbImage = bYuy2 ? c.cbLuma * h : c.cbLuma * h + 2 * c.cbChroma * ch;
        CKitMediaType mt = MakeRawType(*c.pSubtype, w, h);
        ((VIDEOINFOHEADER*)mt.pbFormat)->bmiHeader.biSizeImage = cbImage;
        mt.lSampleSize = cbImage;
        auto* pSource = new CTestSource({mt}, kFrames, kFrames * 400000LL);
        pSource->fill = [&](int, BYTE* p, long cb) {
            memset(p, 0x80, cb);
            if (bYuy2) {
                for (int r = 0; r < h; ++r)
                    for (int x = 0; x < w; ++x) {
                        BYTE* q = p + r * c.cbLuma + (x / 2) * 4;
                        q[(x & 1) * 2] = (BYTE)y[r * w + x];
                        // chroma of row pairs is averaged by the encoder: the same in both rows
                        q[1] = (BYTE)u[(r / 2) * cw + x / 2];
                        q[3] = (BYTE)v[(r / 2) * cw + x / 2];
                    }
                return;
            }
            const bool bYv12 = *c.pSubtype == MEDIASUBTYPE_YV12;
            BYTE* pu = p + c.cbLuma * h + (bYv12 ? c.cbChroma * ch : 0);
            BYTE* pv = p + c.cbLuma * h + (bYv12 ? 0 : c.cbChroma * ch);
            for (int r = 0; r < h; ++r) memcpy(p + r * c.cbLuma, &y[r * w], w);
            for (int r = 0; r < ch; ++r) {
                memcpy(pu + r * c.cbChroma, &u[r * cw], cw);
                memcpy(pv + r * c.cbChroma, &v[r * cw], cw);
            }
        };
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
        const std::string path = SaveStream(pSink->AllData());
        StreamFacts facts = ProbeStream(path);
        EXPECT_EQ(100, facts.width);
        EXPECT_EQ(62, facts.height);
        EXPECT_EQ(kFrames, facts.frames);
        std::string out;
        RunHost("ffmpeg -nostdin -v info -f h264 -i '" + path + "' -f rawvideo -pix_fmt yuv420p -s 99x61 -i '" +
                    refPath + "' -lavfi '[0:v]crop=98:60:0:0[a];[1:v]crop=98:60:0:0[b];[a][b]psnr' -f null - 2>&1 | grep -o 'average:[0-9.inf]*'",
                &out);
        // (4:2:0 filters work on pixel pairs: the last odd column and row are left out)
        double psnr = out.find("inf") != std::string::npos ? 99.0 : 0.0;
        if (psnr == 0.0) sscanf(out.c_str(), "average:%lf", &psnr);
        EXPECT_GT(psnr, 35.0);
    }
}

// A planar type whose rows cannot be told (no biSizeImage, a width the platform pads) is
// refused at connection with its own code, never encoded with a guessed layout.
TEST_F(EncoderGraph, InputWhoseLayoutCannotBeWorkedOutIsRefused) {
    CKitMediaType mt = MakeRawType(media::kSubtypeI420, 854, 480);
    ((VIDEOINFOHEADER*)mt.pbFormat)->bmiHeader.biSizeImage = 0;
    auto* pSource = new CTestSource({mt}, 5, 400000);
    CComPtr<IBaseFilter> spSource = static_cast<IBaseFilter*>(pSource);
    ASSERT_EQ(S_OK, spGraph->AddFilter(spSource, L"Source"));
    ASSERT_EQ(S_OK, CreateEncoder(&spEncoder));
    ASSERT_EQ(S_OK, spGraph->AddFilter(spEncoder, L"Morvane H264 Encoder"));
    CComPtr<IPin> spOut, spIn;
    spOut.Attach(FirstPin(spSource, PINDIR_OUTPUT));
    spIn.Attach(FirstPin(spEncoder, PINDIR_INPUT));
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, spGraph->ConnectDirect(spOut, spIn, nullptr));
    CComPtr<IPin> spPeer;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, spIn->ConnectedTo(&spPeer));
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
    CKitMediaType mt = MakeRawType(media::kSubtypeI420, 64, 48);
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
