// The bench's graphs built by CGraph::BuildGraph with the stand-ins registered: every kind of
// source and output, run, with data checked on each branch (the file written, the pictures
// decoded for the preview).
#include "graph/Graph.h"
#include "graph/Vireon.h"
#include "standins/camera/TestPatternCamera.h"
#include "tests/standins/MediaTools.h"
#include "tests/support/DiagCapture.h"
#include "tests/support/HostTools.h"
#include "tests/support/WindowTools.h"

#include <gtest/gtest.h>

#include <atlbase.h>

#include <cstdlib>

namespace {

const int kFileFrames = 50;

// A 2 s media file at 25 fps (once per run); its Windows path.
const std::wstring& MediaFile() {
    static std::wstring path;
    if (path.empty()) {
        std::string file = UniqueTmpPath(".mp4");
        if (RunHost("ffmpeg -v error -y -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 50 "
                    "-c:v libx264 -pix_fmt yuv420p '" + file + "'") == 0)
            path = ToWinPath(file);
    }
    return path;
}

CComPtr<IBaseFilter> FilterNamed(IGraphBuilder* pGraph, const wchar_t* pszName) {
    CComPtr<IBaseFilter> spFilter;
    pGraph->FindFilterByName(pszName, &spFilter);
    return spFilter;
}

// The graph's next completion or abort event (0 on timeout), pumping this thread's messages.
long WaitForEnd(IGraphBuilder* pGraph, DWORD ms) {
    CComQIPtr<IMediaEvent> spEvent(pGraph);
    const DWORD tEnd = ::GetTickCount() + ms;
    while ((LONG)(::GetTickCount() - tEnd) < 0) {
        long ev = 0;
        LONG_PTR p1, p2;
        while (spEvent->GetEvent(&ev, &p1, &p2, 0) == S_OK) {
            spEvent->FreeEventParams(ev, p1, p2);
            if (ev == EC_COMPLETE || ev == EC_ERRORABORT || ev == EC_USERABORT) return ev;
        }
        PumpMessages(20);
    }
    return 0;
}

// Pictures the decoder delivered (its IQualProp), -1 when it cannot tell.
int FramesDecoded(IBaseFilter* pDecoder) {
    CComPtr<IQualProp> spQual;
    int cFrames = -1;
    if (SUCCEEDED(pDecoder->QueryInterface(IID_IQualProp, (void**)&spQual)) &&
        spQual->get_FramesDrawn(&cFrames) != S_OK)
        cFrames = -1;
    return cFrames;
}

struct BenchCase {
    const char* name;
    bool bLive;
    bool bOutput;
    bool bPreview;
};

class BenchGraph : public ::testing::TestWithParam<BenchCase> {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        m_hWnd = ::CreateWindowExW(0, L"STATIC", L"Bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100,
                                   400, 300, NULL, NULL, NULL, NULL);
        ASSERT_TRUE(m_hWnd);
    }
    void TearDown() override {
        m_graph.Release();
        ::DestroyWindow(m_hWnd);
        ::CoUninitialize();
    }
    HWND m_hWnd = NULL;
    CGraph m_graph;
};

TEST_P(BenchGraph, BuildsRunsAndFeedsEveryBranch) {
    const BenchCase& c = GetParam();
    std::wstring source = c.bLive ? TEST_CAMERA_FRIENDLY_NAME : MediaFile();
    ASSERT_FALSE(source.empty()) << "ffmpeg could not make the media file";
    const std::string out = UniqueTmpPath(".mp4");
    const std::wstring outWin = ToWinPath(out);

    DiagCapture diag;
    ASSERT_EQ(S_OK, m_graph.BuildGraph(source.c_str(), c.bLive, c.bOutput ? outWin.c_str() : nullptr,
                                       c.bPreview, m_hWnd, WM_GRAPHNOTIFY))
        << diag.Dump();
    IGraphBuilder* pGraph = m_graph.m_spGraph;
    ASSERT_TRUE(pGraph);

    const bool bDecoder = !c.bOutput || c.bPreview;
    EXPECT_TRUE(FilterNamed(pGraph, L"Morvane H264 Encoder"));
    EXPECT_EQ(c.bOutput, (bool)FilterNamed(pGraph, L"Morvane MPEG-4 Writer"));
    EXPECT_EQ(c.bOutput && c.bPreview, (bool)FilterNamed(pGraph, L"Smart Tee"));
    CComPtr<IBaseFilter> spDecoder = FilterNamed(pGraph, L"Morvane H264 Decoder");
    EXPECT_EQ(bDecoder, (bool)spDecoder);
    if (c.bLive) {
        EXPECT_TRUE(FilterNamed(pGraph, TEST_CAMERA_FRIENDLY_NAME));
    }

    ASSERT_TRUE(SUCCEEDED(m_graph.Run()));
    if (c.bLive) {
        // Three seconds at least, and until 30 pictures have gone through every branch: the
        // machine may be too busy for the camera's rate.
        PumpMessages(3000);
        PumpUntil(
            [&] {
                UINT nAvg = 0, nEncoded = 0;
                m_graph.GetStatistics(&nAvg, &nEncoded);
                return nEncoded >= 31 && (!spDecoder || FramesDecoded(spDecoder) >= 30);
            },
            20000);
    } else {
        EXPECT_EQ(EC_COMPLETE, WaitForEnd(pGraph, 60000));
    }
    EXPECT_EQ(S_OK, m_graph.Stop());

    int cDecoded = 0;
    if (spDecoder) {
        cDecoded = FramesDecoded(spDecoder);
        if (c.bLive) EXPECT_GE(cDecoded, 30) << "preview pictures";
        else EXPECT_EQ(kFileFrames, cDecoded) << "preview pictures";
    }
    if (c.bOutput) {
        auto info = ProbeVideo(out);
        EXPECT_EQ("h264", info["codec_name"]);
        int cWritten = std::atoi(info["nb_read_frames"].c_str());
        if (c.bLive) EXPECT_GE(cWritten, 30) << "frames written";
        else EXPECT_EQ(kFileFrames, cWritten) << "frames written";
    } else {
        EXPECT_FALSE(HostFileExists(out));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, BenchGraph,
    ::testing::Values(BenchCase{"FileToDecoder", false, false, false},
                      BenchCase{"FileToWriter", false, true, false},
                      BenchCase{"FileToWriterAndPreview", false, true, true},
                      BenchCase{"CameraToDecoder", true, false, false},
                      BenchCase{"CameraToWriter", true, true, false},
                      BenchCase{"CameraToWriterAndPreview", true, true, true}),
    [](const ::testing::TestParamInfo<BenchCase>& info) { return std::string(info.param.name); });

TEST(BenchGraphFile, TheSavedSampleGraphBuildsAsSavedAndRuns) {
    const wchar_t* kGrf = L"F:\\Ref_movies\\Test graphs\\Belukha_SD.mp4.grf";
    if (::GetFileAttributesW(kGrf) == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "no sample graph in the prefix";
    ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    {
        HWND hWnd = ::CreateWindowExW(0, L"STATIC", L"Bench", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, NULL,
                                      NULL, NULL, NULL);
        CGraph graph;
        DiagCapture diag;
        ASSERT_EQ(S_OK, graph.BuildGraph(kGrf, false, L"Z:\\ignored.mp4", true, hWnd, WM_GRAPHNOTIFY))
            << diag.Dump();
        EXPECT_FALSE(FilterNamed(graph.m_spGraph, L"Morvane MPEG-4 Writer")) << "nothing is added";
        CComPtr<IBaseFilter> spDecoder = FilterNamed(graph.m_spGraph, L"Morvane H264 Decoder");
        ASSERT_TRUE(spDecoder);
        ASSERT_TRUE(SUCCEEDED(graph.Run()));
        // Two seconds at least, and as long as a busy machine needs for 11 pictures.
        PumpMessages(2000);
        PumpUntil([&] { return FramesDecoded(spDecoder) > 10; }, 30000);
        graph.Stop();
        EXPECT_GT(FramesDecoded(spDecoder), 10);
        graph.Release();
        ::DestroyWindow(hWnd);
    }
    ::CoUninitialize();
}

}  // namespace
