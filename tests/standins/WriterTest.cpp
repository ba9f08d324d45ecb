// The MPEG-4 writer filter in real graphs: what it writes is read back with ffprobe and
// decoded with ffmpeg against the stream it was given.
#include "graph/Vireon.h"
#include "tests/standins/AnnexBSource.h"
#include "tests/standins/MediaTools.h"
#include "tests/support/HostTools.h"
#include "tests/support/KitTestFilters.h"

#include <gtest/gtest.h>

#include <atlbase.h>

namespace {

const int kW = 160, kH = 96, kFps = 25, kFrames = 40;
const REFERENCE_TIME kFrame = 10000000 / kFps;

// One reference stream for the whole program: Baseline, a key frame every 10.
const RefStream& Ref() {
    static RefStream ref = MakeRefStream(kW, kH, kFps, kFrames, "-profile:v baseline -g 10");
    return ref;
}

struct WriterGraph : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        ASSERT_FALSE(Ref().h264Path.empty()) << "ffmpeg could not make the reference stream";
        ASSERT_EQ(S_OK, spGraph.CoCreateInstance(CLSID_FilterGraph));
        ASSERT_EQ(S_OK, spWriter.CoCreateInstance(CLSID_VireonMp4Writer));
        ASSERT_EQ(S_OK, spGraph->AddFilter(spWriter, L"Morvane MPEG-4 Writer"));
    }
    void TearDown() override {
        if (spGraph) {
            CComQIPtr<IMediaControl> spControl(spGraph);
            if (spControl) spControl->Stop();
        }
        spSource.Release();
        spWriter.Release();
        spGraph.Release();
        ::CoUninitialize();
    }
    // Adds the stream's source; nPaceMs > 0 plays it at that pace.
    CAnnexBSource* AddSource(int nPaceMs = 0) {
        auto* p = new CAnnexBSource(Ref().bytes, kW, kH, kFrame, Ref().pts, Ref().key, nPaceMs);
        spSource = static_cast<IBaseFilter*>(p);
        EXPECT_EQ(S_OK, spGraph->AddFilter(spSource, L"Source"));
        return p;
    }
    HRESULT SetFile(const std::string& unixPath) {
        CComQIPtr<IFileSinkFilter2> spSink(spWriter);
        if (!spSink) return E_NOINTERFACE;
        return spSink->SetFileName(ToWinPath(unixPath).c_str(), nullptr);
    }
    HRESULT ConnectToWriter(IPin* pOut) {
        CComPtr<IPin> spIn;
        spIn.p = FirstPin(spWriter, PINDIR_INPUT);
        return spGraph->ConnectDirect(pOut, spIn, nullptr);
    }
    // Runs to the end: the writer's EC_COMPLETE must arrive.
    void RunToEnd() {
        CComQIPtr<IMediaControl> spControl(spGraph);
        ASSERT_EQ(S_OK, SUCCEEDED(spControl->Run()) ? S_OK : E_FAIL);
        EXPECT_EQ(EC_COMPLETE, WaitForGraphEvent(spGraph, 20000));
        spControl->Stop();
    }
    // The file holds the first cFrames frames of the stream, decoding as they do.
    void ExpectFrames(const std::string& file, size_t cFrames) {
        auto info = ProbeVideo(file);
        EXPECT_EQ("h264", info["codec_name"]);
        EXPECT_EQ(std::to_string(kW), info["width"]);
        EXPECT_EQ(std::to_string(kH), info["height"]);
        EXPECT_EQ(std::to_string(cFrames), info["nb_read_frames"]);
        EXPECT_NEAR((double)cFrames / kFps, std::atof(info["duration"].c_str()), 0.001);
        EXPECT_EQ((int)(cFrames + 9) / 10, CountKeyPackets(file));
        std::vector<std::string> want = FrameHashes(Ref().h264Path);
        ASSERT_EQ((size_t)kFrames, want.size());
        want.resize(cFrames);
        EXPECT_EQ(want, FrameHashes(file));
    }
    CComPtr<IGraphBuilder> spGraph;
    CComPtr<IBaseFilter> spWriter, spSource;
};

TEST_F(WriterGraph, WritesTheWholeStreamFromADirectConnection) {
    CAnnexBSource* pSource = AddSource();
    const std::string file = UniqueTmpPath(".mp4");
    ASSERT_EQ(S_OK, SetFile(file));
    CComPtr<IPin> spOut;
    spOut.p = FirstPin(spSource, PINDIR_OUTPUT);
    ASSERT_EQ(S_OK, ConnectToWriter(spOut));
    RunToEnd();
    EXPECT_EQ(kFrames, pSource->Delivered());
    ExpectFrames(file, kFrames);
}

TEST_F(WriterGraph, SmartTeeCaptureBranchWritesTheSameAsADirectConnection) {
    AddSource();
    CComPtr<IBaseFilter> spTee;
    ASSERT_EQ(S_OK, spTee.CoCreateInstance(CLSID_SmartTee));
    ASSERT_EQ(S_OK, spGraph->AddFilter(spTee, L"Smart Tee"));
    CComPtr<IPin> spOut, spTeeIn, spCapture;
    spOut.p = FirstPin(spSource, PINDIR_OUTPUT);
    spTeeIn.p = FirstPin(spTee, PINDIR_INPUT);
    ASSERT_EQ(S_OK, spGraph->ConnectDirect(spOut, spTeeIn, nullptr));
    ASSERT_EQ(S_OK, spTee->FindPin(L"Capture", &spCapture));
    const std::string file = UniqueTmpPath(".mp4");
    ASSERT_EQ(S_OK, SetFile(file));
    ASSERT_EQ(S_OK, ConnectToWriter(spCapture));
    RunToEnd();
    ExpectFrames(file, kFrames);
}

TEST_F(WriterGraph, StoppingMidStreamKeepsEveryFrameReceived) {
    CAnnexBSource* pSource = AddSource(40);
    const std::string file = UniqueTmpPath(".mp4");
    ASSERT_EQ(S_OK, SetFile(file));
    CComPtr<IPin> spOut;
    spOut.p = FirstPin(spSource, PINDIR_OUTPUT);
    ASSERT_EQ(S_OK, ConnectToWriter(spOut));
    CComQIPtr<IMediaControl> spControl(spGraph);
    ASSERT_TRUE(SUCCEEDED(spControl->Run()));
    DWORD t0 = ::GetTickCount();
    while (pSource->Delivered() < 12 && ::GetTickCount() - t0 < 10000) ::Sleep(5);
    ASSERT_EQ(S_OK, spControl->Stop());
    int cDelivered = pSource->Delivered();
    ASSERT_GE(cDelivered, 12);
    ASSERT_LT(cDelivered, kFrames);
    ExpectFrames(file, (size_t)cDelivered);
}

TEST_F(WriterGraph, FileNameAndMode) {
    CComQIPtr<IFileSinkFilter2> spSink(spWriter);
    ASSERT_TRUE(spSink);
    LPOLESTR psz = (LPOLESTR)1;
    EXPECT_EQ(E_FAIL, spSink->GetCurFile(&psz, nullptr)) << "no file yet";
    EXPECT_EQ(nullptr, psz);

    const std::string missing = UniqueTmpPath("-missing") + "/out.mp4";
    const std::string folder = UniqueTmpPath("-folder");
    ASSERT_TRUE(::CreateDirectoryW(ToWinPath(folder).c_str(), nullptr));
    struct {
        const char* what;
        std::wstring path;
        HRESULT hr;
    } refusals[] = {
        {"folder does not exist", ToWinPath(missing), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
        {"the path is a folder", ToWinPath(folder), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)},
        {"empty", L"", E_INVALIDARG},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(r.hr, spSink->SetFileName(r.path.c_str(), nullptr));
        EXPECT_EQ(E_FAIL, spSink->GetCurFile(&psz, nullptr)) << "a refused name is not kept";
    }
    EXPECT_EQ(E_POINTER, spSink->SetFileName(nullptr, nullptr));
    EXPECT_FALSE(HostFileExists(missing));

    const std::string file = UniqueTmpPath(".mp4");
    ASSERT_EQ(S_OK, spSink->SetFileName(ToWinPath(file).c_str(), nullptr));
    EXPECT_FALSE(HostFileExists(file)) << "the file is made when the graph starts";
    AM_MEDIA_TYPE mt;
    ASSERT_EQ(S_OK, spSink->GetCurFile(&psz, &mt));
    EXPECT_STREQ(ToWinPath(file).c_str(), psz);
    EXPECT_EQ(GUID_NULL, mt.majortype) << "unconnected";
    ::CoTaskMemFree(psz);

    DWORD dwMode = 99;
    ASSERT_EQ(S_OK, spSink->GetMode(&dwMode));
    EXPECT_EQ(0u, dwMode);
    EXPECT_EQ(S_OK, spSink->SetMode(AM_FILE_OVERWRITE));
    ASSERT_EQ(S_OK, spSink->GetMode(&dwMode));
    EXPECT_EQ((DWORD)AM_FILE_OVERWRITE, dwMode);
    EXPECT_EQ(E_INVALIDARG, spSink->SetMode(0x10));
    EXPECT_EQ(E_POINTER, spSink->GetMode(nullptr));
}

// The graph's next completion or abort event (0 on timeout), with its first parameter.
long NextEvent(IGraphBuilder* pGraph, DWORD ms, LONG_PTR* pParam1) {
    CComQIPtr<IMediaEvent> spEvent(pGraph);
    long ev = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (spEvent && spEvent->GetEvent(&ev, &p1, &p2, ms) == S_OK) {
        spEvent->FreeEventParams(ev, p1, p2);
        if (ev == EC_COMPLETE || ev == EC_ERRORABORT || ev == EC_USERABORT) {
            *pParam1 = p1;
            return ev;
        }
    }
    return 0;
}

TEST_F(WriterGraph, AFileThatCannotBeCreatedGivesAnErrorEventAndRefusesTheStream) {
    CAnnexBSource* pSource = AddSource();
    const std::string file = UniqueTmpPath(".mp4");
    ASSERT_EQ(S_OK, SetFile(file));
    // The name is taken by a folder by the time the graph starts.
    ASSERT_TRUE(::CreateDirectoryW(ToWinPath(file).c_str(), nullptr));
    CComPtr<IPin> spOut;
    spOut.p = FirstPin(spSource, PINDIR_OUTPUT);
    ASSERT_EQ(S_OK, ConnectToWriter(spOut));
    CComQIPtr<IMediaControl> spControl(spGraph);
    spControl->Run();
    LONG_PTR hr = 0;
    EXPECT_EQ(EC_ERRORABORT, NextEvent(spGraph, 5000, &hr));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), (HRESULT)hr);
    EXPECT_EQ(0, NextEvent(spGraph, 500, &hr)) << "no EC_COMPLETE after the failure";
    EXPECT_EQ(0, pSource->Delivered()) << "the first sample is refused";
    EXPECT_EQ(S_OK, spControl->Stop());
}

TEST_F(WriterGraph, RefusesWhatIsNotAnH264ByteStream) {
    CKitMediaType mt;
    mt.Set(MEDIATYPE_Video, MEDIASUBTYPE_RGB32, FORMAT_VideoInfo);
    mt.AllocFormat(sizeof(VIDEOINFOHEADER));
    std::vector<CKitMediaType> types = {mt};
    CComPtr<IBaseFilter> spRgb = static_cast<IBaseFilter*>(new CTestSource(types, 1, kFrame));
    ASSERT_EQ(S_OK, spGraph->AddFilter(spRgb, L"RGB"));
    CComPtr<IPin> spOut;
    spOut.p = FirstPin(spRgb, PINDIR_OUTPUT);
    EXPECT_TRUE(FAILED(ConnectToWriter(spOut)));
}

}  // namespace

namespace {

TEST_F(WriterGraph, RecordsTheEncodersStreamFrameForFrame) {
    // Raw RGB32 frames, a moving gradient -> encoder -> Smart Tee: "Capture" to the writer,
    // "Preview" to a sink that keeps the encoder's byte stream as it was sent.
    const int kRawW = 96, kRawH = 64, kRawFrames = 30;
    CKitMediaType mt;
    mt.Set(MEDIATYPE_Video, MEDIASUBTYPE_RGB32, FORMAT_VideoInfo);
    auto* pvi = (VIDEOINFOHEADER*)mt.AllocFormat(sizeof(VIDEOINFOHEADER));
    pvi->AvgTimePerFrame = kFrame;
    pvi->bmiHeader = {sizeof(BITMAPINFOHEADER), kRawW, kRawH, 1, 32, BI_RGB, kRawW * kRawH * 4};
    mt.bFixedSizeSamples = TRUE;
    mt.lSampleSize = kRawW * kRawH * 4;
    auto* pRaw = new CTestSource({mt}, kRawFrames, kFrame);
    pRaw->fill = [](int n, BYTE* p, long cb) {
        for (long i = 0; i + 3 < cb; i += 4) {
            int x = (i / 4) % kRawW, y = (i / 4) / kRawW;
            p[i] = (BYTE)(x * 2 + n * 5), p[i + 1] = (BYTE)(y * 3), p[i + 2] = (BYTE)((x + y + n * 3) & 0xFF);
        }
    };
    spSource = static_cast<IBaseFilter*>(pRaw);
    ASSERT_EQ(S_OK, spGraph->AddFilter(spSource, L"Raw"));
    CComPtr<IBaseFilter> spEncoder, spTee;
    ASSERT_EQ(S_OK, spEncoder.CoCreateInstance(CLSID_VireonEncoder));
    ASSERT_EQ(S_OK, spGraph->AddFilter(spEncoder, L"Morvane H264 Encoder"));
    ASSERT_EQ(S_OK, spTee.CoCreateInstance(CLSID_SmartTee));
    ASSERT_EQ(S_OK, spGraph->AddFilter(spTee, L"Smart Tee"));
    auto* pSink = new CTestSink();
    CComPtr<IBaseFilter> spSink = static_cast<IBaseFilter*>(pSink);
    ASSERT_EQ(S_OK, spGraph->AddFilter(spSink, L"Stream"));

    CComPtr<IPin> spRawOut, spEncIn, spEncOut, spTeeIn, spCapture, spPreview, spSinkIn;
    spRawOut.p = FirstPin(spSource, PINDIR_OUTPUT);
    spEncIn.p = FirstPin(spEncoder, PINDIR_INPUT);
    spEncOut.p = FirstPin(spEncoder, PINDIR_OUTPUT);
    spTeeIn.p = FirstPin(spTee, PINDIR_INPUT);
    spSinkIn.p = FirstPin(spSink, PINDIR_INPUT);
    ASSERT_EQ(S_OK, spTee->FindPin(L"Capture", &spCapture));
    ASSERT_EQ(S_OK, spTee->FindPin(L"Preview", &spPreview));
    ASSERT_EQ(S_OK, spGraph->ConnectDirect(spRawOut, spEncIn, nullptr));
    ASSERT_EQ(S_OK, spGraph->ConnectDirect(spEncOut, spTeeIn, nullptr));
    ASSERT_EQ(S_OK, spGraph->ConnectDirect(spPreview, spSinkIn, nullptr));
    const std::string file = UniqueTmpPath(".mp4");
    ASSERT_EQ(S_OK, SetFile(file));
    ASSERT_EQ(S_OK, ConnectToWriter(spCapture));
    RunToEnd();

    const std::string stream = UniqueTmpPath(".h264");
    ASSERT_TRUE(WriteHostFile(stream, pSink->AllData()));
    std::vector<std::string> want = FrameHashes(stream);
    EXPECT_EQ((size_t)kRawFrames, want.size());
    EXPECT_EQ(want, FrameHashes(file));
    auto info = ProbeVideo(file);
    EXPECT_EQ(std::to_string(kRawW), info["width"]);
    EXPECT_EQ(std::to_string(kRawH), info["height"]);
    EXPECT_NEAR((double)kRawFrames / kFps, std::atof(info["duration"].c_str()), 0.001);
}

}  // namespace
