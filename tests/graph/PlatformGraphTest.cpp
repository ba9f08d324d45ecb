// CGraph against the platform's own graph manager, Smart Tee and file source, with media made
// by ffmpeg at test time. The maker's filters are stood in for by in-process fakes.
#include "tests/graph/GraphTestSupport.h"

#include <uuids.h>

#include "tests/support/HostTools.h"
#include "tests/support/WindowTools.h"

#include <algorithm>

namespace {

// An H.264 MP4 clip of `seconds`, with an AAC track when bAudio; "" when ffmpeg fails.
std::string MakeClip(bool bAudio, int seconds = 1) {
    std::string path = UniqueTmpPath(bAudio ? "-av.mp4" : "-v.mp4");
    std::string t = std::to_string(seconds);
    std::string cmd = "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=320x240:rate=25 -t " + t;
    if (bAudio) cmd += " -f lavfi -i sine=frequency=440:sample_rate=44100 -t " + t + " -c:a aac";
    cmd += " -c:v libx264 -preset ultrafast -pix_fmt yuv420p '" + path + "'";
    return RunHost(cmd) == 0 && HostFileExists(path) ? path : std::string();
}

bool HasVideoType(IPin* pPin) {
    CComPtr<IEnumMediaTypes> spEnum;
    if (FAILED(pPin->EnumMediaTypes(&spEnum)) || !spEnum) return false;
    AM_MEDIA_TYPE* pmt = NULL;
    bool bVideo = false;
    while (!bVideo && spEnum->Next(1, &pmt, NULL) == S_OK) {
        bVideo = pmt->majortype == MEDIATYPE_Video;
        ::CoTaskMemFree(pmt->pbFormat);
        if (pmt->pUnk) pmt->pUnk->Release();
        ::CoTaskMemFree(pmt);
    }
    return bVideo;
}

class RealGraphTest : public ::testing::Test {
public:
    std::string Context() const { return "diagnostics:\n" + diag.Dump(); }
    ComApartment com;
    DiagCapture diag;
    TestWindow window;
    CGraph graph;
};

}  // namespace

TEST_F(RealGraphTest, CuttingOffTheRendererOfAPlayedFileLeavesAFreeVideoOutput) {
    for (bool bAudio : {false, true}) {
        SCOPED_TRACE(bAudio ? "with audio" : "video only");
        const std::string clip = MakeClip(bAudio);
        ASSERT_FALSE(clip.empty()) << "ffmpeg could not make the clip";
        graph.Release();
        ASSERT_EQ(graph.m_spGraph.CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER), S_OK);
        diag.Clear();

        CComPtr<IPin> spPin;
        HRESULT hr = graph.CreateChainFromFile(ToWinPath(clip).c_str(), &spPin);
        if (bAudio && hr != S_OK) {
            // No sound device here: the platform renders the file partly, which is a failure.
            EXPECT_TRUE(hr == VFW_S_PARTIAL_RENDER || hr == VFW_S_AUDIO_NOT_RENDERED) << std::hex << hr;
            EXPECT_TRUE(diag.HasReport(L"CGraph::CreateChainFromFile(): can't create graph from file"));
            EXPECT_TRUE(spPin == NULL);
            continue;
        }
        ASSERT_EQ(hr, S_OK) << Context();
        ASSERT_TRUE(spPin != NULL);
        PIN_DIRECTION dir = PINDIR_INPUT;
        EXPECT_EQ(spPin->QueryDirection(&dir), S_OK);
        EXPECT_EQ(dir, PINDIR_OUTPUT);
        CComPtr<IPin> spPeer;
        EXPECT_EQ(spPin->ConnectedTo(&spPeer), VFW_E_NOT_CONNECTED);
        EXPECT_TRUE(HasVideoType(spPin));

        // No video renderer is left; whatever renders audio stays.
        CComPtr<IBaseFilter> spRenderer;
        CComPtr<IPin> spOutput;
        EXPECT_EQ(graph.FindRenderer(&spRenderer, &spOutput), E_FAIL);
        CComPtr<IEnumFilters> spEnum;
        ASSERT_EQ(graph.m_spGraph->EnumFilters(&spEnum), S_OK);
        int nFilters = 0;
        for (CComPtr<IBaseFilter> spFilter; spEnum->Next(1, &spFilter, NULL) == S_OK; spFilter.Release()) ++nFilters;
        EXPECT_GE(nFilters, bAudio ? 2 : 1);
    }
}

TEST_F(RealGraphTest, SmartTeeOutputsAreFoundByName) {
    CComPtr<IBaseFilter> spTee;
    ASSERT_EQ(spTee.CoCreateInstance(CLSID_SmartTee, NULL, CLSCTX_INPROC_SERVER), S_OK);
    struct Case {
        PIN_DIRECTION dir;
        const wchar_t* name;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {PINDIR_OUTPUT, L"Capture", L"Capture"}, {PINDIR_OUTPUT, L"preview", L"Preview"},
        {PINDIR_OUTPUT, L"PREVIEW", L"Preview"}, {PINDIR_INPUT, NULL, L"Input"},
        {PINDIR_OUTPUT, NULL, L"Capture"},
    };
    for (const Case& c : cases) {
        CComPtr<IPin> spPin;
        ASSERT_EQ(graph.GetPin(spTee, c.dir, c.name, &spPin), S_OK) << (c.name ? Narrow(c.name) : "(no name)");
        PIN_INFO info = {};
        ASSERT_EQ(spPin->QueryPinInfo(&info), S_OK);
        if (info.pFilter) info.pFilter->Release();
        EXPECT_STREQ(info.achName, c.expected);
        EXPECT_EQ(info.dir, c.dir);
    }
    CComPtr<IPin> spPin;
    EXPECT_EQ(graph.GetPin(spTee, PINDIR_INPUT, L"Capture", &spPin), E_FAIL);
    EXPECT_TRUE(diag.HasReport(L"CGraph::GetPin(): pin not found"));
}

// A media file through fake encoder and writer in the platform's graph: the build, the
// notification message at the end of the stream, and the queue drained.
TEST_F(RealGraphTest, EndOfStreamReachesTheWindowAndTheQueueDrains) {
    const std::string clip = MakeClip(false);
    ASSERT_FALSE(clip.empty());
    CComPtr<FakeEncoder> spEncoder;
    CComPtr<FakeWriter> spWriter;
    ClassRegistration regEncoder(CLSID_VireonEncoder, [&spEncoder] {
        spEncoder = FakeEncoder::Create();
        return CComPtr<IUnknown>(static_cast<IBaseFilter*>(spEncoder.p));
    });
    ClassRegistration regWriter(CLSID_VireonMp4Writer, [&spWriter] {
        spWriter = FakeWriter::Create();
        return CComPtr<IUnknown>(static_cast<IBaseFilter*>(spWriter.p));
    });
    const std::wstring out = ToWinPath(UniqueTmpPath(".mp4"));

    ASSERT_EQ(graph.BuildGraph(ToWinPath(clip).c_str(), false, out.c_str(), false, window.hWnd, WM_GRAPHNOTIFY), S_OK)
        << Context();
    ASSERT_TRUE(spEncoder && spWriter);
    EXPECT_TRUE(graph.m_spVireon.IsEqualObject(static_cast<IVireon*>(spEncoder.p)));
    EXPECT_EQ(spWriter->fileName, out);
    EXPECT_EQ(spEncoder->Pin(0)->connectionType.Get().majortype, MEDIATYPE_Video);
    EXPECT_TRUE(spEncoder->Pin(1)->peer.IsEqualObject(static_cast<IPin*>(spWriter->Pin(0))));
    // File output only: there is no video window to place.
    EXPECT_EQ(graph.PlaceVideoWindow(window.hWnd), S_FALSE);
    EXPECT_EQ(graph.GetEvent(), 0) << "nothing queued before running";

    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    std::vector<long> events;
    bool bNotified = false;
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < 30000 &&
           std::find(events.begin(), events.end(), (long)EC_COMPLETE) == events.end()) {
        MSG msg;
        while (::PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.hwnd == window.hWnd && msg.message == WM_GRAPHNOTIFY) {
                bNotified = true;
                // Drain the queue as the dialog does.
                for (long lEvent; (lEvent = graph.GetEvent()) != 0;) events.push_back(lEvent);
            } else {
                ::DispatchMessageW(&msg);
            }
        }
        ::MsgWaitForMultipleObjects(0, NULL, FALSE, 20, QS_ALLINPUT);
    }
    EXPECT_TRUE(bNotified);
    EXPECT_NE(std::find(events.begin(), events.end(), (long)EC_COMPLETE), events.end());
    EXPECT_EQ(graph.GetEvent(), 0) << "drained";
    EXPECT_GT(spEncoder->Pin(0)->cSamples, 0);
    EXPECT_EQ(spWriter->Pin(0)->cEndOfStream, 1);
    EXPECT_EQ(graph.GetState(), 2);
    EXPECT_TRUE(SUCCEEDED(graph.Stop()));
    EXPECT_EQ(graph.GetState(), 0);

    // Released: the window hears nothing more.
    graph.Release();
    MSG msg;
    EXPECT_FALSE(::PeekMessageW(&msg, window.hWnd, WM_GRAPHNOTIFY, WM_GRAPHNOTIFY, PM_REMOVE));
}

// Output file and preview in the platform's graph: its Smart Tee splits the (fake) encoder's
// stream, its renderer shows the (fake) decoder's output, and the video window goes above
// the window given.
TEST_F(RealGraphTest, PreviewBranchEndsInThePlatformsVideoWindowAboveTheDialog) {
    const std::string clip = MakeClip(false);
    ASSERT_FALSE(clip.empty());
    CComPtr<FakeFilter> spDecoder;
    ClassRegistration regEncoder(CLSID_VireonEncoder, [] { return CComPtr<IUnknown>(static_cast<IBaseFilter*>(FakeEncoder::Create().p)); });
    ClassRegistration regWriter(CLSID_VireonMp4Writer, [] { return CComPtr<IUnknown>(static_cast<IBaseFilter*>(FakeWriter::Create().p)); });
    ClassRegistration regDecoder(CLSID_VireonDecoder, [&spDecoder] {
        spDecoder = CreateFakeDecoder();
        return CComPtr<IUnknown>(static_cast<IBaseFilter*>(spDecoder.p));
    });
    ::SetWindowPos(window.hWnd, NULL, 50, 700, 400, 200, SWP_NOZORDER | SWP_NOACTIVATE);
    const std::wstring out = ToWinPath(UniqueTmpPath(".mp4"));

    ASSERT_EQ(graph.BuildGraph(ToWinPath(clip).c_str(), false, out.c_str(), true, window.hWnd, WM_GRAPHNOTIFY), S_OK)
        << Context();
    CComPtr<IBaseFilter> spTee;
    ASSERT_EQ(graph.m_spGraph->FindFilterByName(L"Smart Tee", &spTee), S_OK);
    CLSID clsid = GUID_NULL;
    spTee->GetClassID(&clsid);
    EXPECT_EQ(clsid, CLSID_SmartTee);
    ASSERT_TRUE(spDecoder != NULL);
    CComPtr<IPin> spPreview;
    ASSERT_EQ(graph.GetPin(spTee, PINDIR_OUTPUT, L"Preview", &spPreview), S_OK);
    EXPECT_TRUE(spDecoder->Pin(0)->peer.IsEqualObject(spPreview));
    EXPECT_TRUE(spDecoder->Pin(1)->peer != NULL) << "the decoder's output is rendered";

    CComQIPtr<IVideoWindow> spVideo(graph.m_spGraph);
    ASSERT_TRUE(spVideo != NULL);
    long nTop = -1, nLeft = -1, nWidth = 0, nHeight = 0, nVisible = 0;
    ASSERT_EQ(spVideo->get_Height(&nHeight), S_OK);
    spVideo->get_Width(&nWidth);
    spVideo->get_Top(&nTop);
    spVideo->get_Left(&nLeft);
    spVideo->get_Visible(&nVisible);
    RECT rcArea = {};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcArea, 0);
    EXPECT_EQ(nTop, std::max(0L, 700 - nHeight));
    EXPECT_EQ(nLeft, (rcArea.right - rcArea.left - nWidth) / 2);
    EXPECT_EQ(nVisible, OATRUE);
    graph.Release();
}
