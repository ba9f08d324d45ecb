// Transport, state, events, duration, position, video window placement, property pages and
// the encoder forwarders, on fakes and the platform's property frame.
#include "tests/graph/GraphTestSupport.h"

#include <uuids.h>

#include "tests/support/WindowTools.h"

#include <algorithm>

namespace {

class PlaybackTest : public ::testing::Test {
public:
    PlaybackTest() : spGraph(FakeGraph::Create()) { CallLog().Clear(); }
    ~PlaybackTest() override { graph.m_spGraph.Release(); }
    void Hold() { graph.m_spGraph = spGraph; }
    std::string Context() const { return "diagnostics:\n" + diag.Dump() + "calls:\n" + CallLog().Dump(); }

    ComApartment com;
    DiagCapture diag;
    TestWindow window;
    CComPtr<FakeGraph> spGraph;
    CGraph graph;
};

}  // namespace

TEST_F(PlaybackTest, WithoutGraphEverythingAnswersNoGraph) {
    LONGLONG ll = 77;
    EXPECT_FALSE(graph);
    EXPECT_TRUE(!graph);
    EXPECT_EQ(graph.Run(), E_FAIL);
    EXPECT_EQ(graph.Pause(), E_FAIL);
    EXPECT_EQ(diag.Reports(), (std::vector<std::wstring>{L"m_spGraph != 0", L"m_spGraph != 0"}));
    diag.Clear();
    EXPECT_EQ(graph.Stop(), E_FAIL);
    EXPECT_TRUE(diag.Reports().empty()) << "Stop does not assert";
    EXPECT_EQ(graph.GetState(), 0);
    EXPECT_EQ(graph.GetEvent(), 0);
    EXPECT_EQ(graph.GetDuration(&ll), E_FAIL);
    EXPECT_EQ(ll, 0);
    ll = 77;
    EXPECT_EQ(graph.GetPosition(&ll), E_FAIL);
    EXPECT_EQ(ll, 0);
    EXPECT_EQ(graph.SetPosition(0), E_FAIL);
    EXPECT_EQ(graph.PlaceVideoWindow(window.hWnd), E_FAIL);
    EXPECT_EQ(graph.ShowSourcePropertyPages(L"USB Camera", window.hWnd), E_FAIL);
    EXPECT_EQ(graph.GetDuration(NULL), E_POINTER);
    EXPECT_EQ(graph.GetPosition(NULL), E_POINTER);
}

TEST_F(PlaybackTest, TransportPassesTheManagersAnswers) {
    Hold();
    EXPECT_TRUE(graph);
    spGraph->hrRun = S_FALSE;  // transition not finished: still success
    EXPECT_EQ(graph.Run(), S_FALSE);
    EXPECT_EQ(graph.GetState(), 2);
    spGraph->hrPause = VFW_E_NOT_CONNECTED;
    EXPECT_EQ(graph.Pause(), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(graph.Stop(), S_OK);
    EXPECT_EQ(CallLog().Entries(), (std::vector<std::wstring>{L"Run", L"Pause", L"Stop"}));
    EXPECT_TRUE(diag.Reports().empty()) << Context();

    spGraph->refused.Refuse(IID_IMediaControl);
    EXPECT_EQ(graph.Run(), E_FAIL);
    EXPECT_EQ(graph.Pause(), E_FAIL);
    EXPECT_EQ(graph.Stop(), E_FAIL);
    EXPECT_EQ(graph.GetState(), 0);
}

TEST_F(PlaybackTest, GetStateFoldsIntoStoppedPausedRunning) {
    Hold();
    struct Case {
        OAFilterState state;
        HRESULT hr;
        int expected;
    };
    const Case cases[] = {
        {State_Stopped, S_OK, 0},
        {State_Paused, S_OK, 1},
        {State_Running, S_OK, 2},
        {State_Paused, VFW_S_STATE_INTERMEDIATE, 1},
        {State_Running, VFW_S_CANT_CUE, 2},
        {State_Running, E_FAIL, 0},
        {7, S_OK, 0},
    };
    for (const Case& c : cases) {
        spGraph->state = c.state;
        spGraph->hrGetState = c.hr;
        EXPECT_EQ(graph.GetState(), c.expected) << c.state << " " << std::hex << c.hr;
    }
}

TEST_F(PlaybackTest, GetEventDrainsTheQueueAndFreesEachEvent) {
    Hold();
    ASSERT_EQ(spGraph->SetNotifyWindow((OAHWND)window.hWnd, WM_GRAPHNOTIFY, 0), S_OK);
    spGraph->PostEvent(EC_COMPLETE, S_OK, 0);
    spGraph->PostEvent(EC_USERABORT);
    MSG msg;
    EXPECT_TRUE(::PeekMessageW(&msg, window.hWnd, WM_GRAPHNOTIFY, WM_GRAPHNOTIFY, PM_REMOVE));
    EXPECT_EQ(graph.GetEvent(), EC_COMPLETE);
    EXPECT_EQ(graph.GetEvent(), EC_USERABORT);
    EXPECT_EQ(graph.GetEvent(), 0);
    EXPECT_EQ(spGraph->cFreeEventParams, 2);

    spGraph->PostEvent(EC_COMPLETE);
    spGraph->refused.Refuse(IID_IMediaEvent);
    EXPECT_EQ(graph.GetEvent(), 0);
    EXPECT_TRUE(diag.HasReport(L"spEvent != 0"));
}

TEST_F(PlaybackTest, DurationAndPositionFileAndLive) {
    Hold();
    spGraph->llDuration = 20000000;
    spGraph->llPosition = 5000000;
    LONGLONG ll = 0;
    EXPECT_EQ(graph.GetDuration(&ll), S_OK);
    EXPECT_EQ(ll, 20000000);
    EXPECT_EQ(graph.GetPosition(&ll), S_OK);
    EXPECT_EQ(ll, 5000000);
    EXPECT_EQ(graph.SetPosition(0), S_OK);
    EXPECT_EQ(CallLog().Entries().back(), L"SetPositions 0 1 0");  // absolute, stop not moved
    EXPECT_FALSE(spGraph->stopPositionGiven);
    EXPECT_EQ(spGraph->dwLastCurrentFlags, (DWORD)AM_SEEKING_AbsolutePositioning);
    EXPECT_EQ(spGraph->dwLastStopFlags, (DWORD)AM_SEEKING_NoPositioning);

    spGraph->hrGetDuration = E_NOTIMPL;  // a failing answer is passed on, after an assertion
    EXPECT_EQ(graph.GetDuration(&ll), E_NOTIMPL);
    EXPECT_TRUE(diag.HasReport(L"hr == S_OK"));
    spGraph->hrGetDuration = S_OK;

    graph.m_bLive = true;
    CallLog().Clear();
    ll = 99;
    EXPECT_EQ(graph.GetDuration(&ll), E_NOTIMPL);
    EXPECT_EQ(ll, 0);
    ll = 99;
    EXPECT_EQ(graph.GetPosition(&ll), E_NOTIMPL);
    EXPECT_EQ(ll, 0);
    EXPECT_EQ(graph.SetPosition(0), E_NOTIMPL);
    EXPECT_TRUE(CallLog().Entries().empty());
}

TEST_F(PlaybackTest, SeekingWithoutTheInterfaceFailsSafely) {
    Hold();
    spGraph->refused.Refuse(IID_IMediaSeeking);
    LONGLONG ll = 5;
    EXPECT_EQ(graph.GetDuration(&ll), E_NOINTERFACE);
    EXPECT_EQ(ll, 0);
    EXPECT_EQ(graph.GetPosition(&ll), E_NOINTERFACE);
    EXPECT_EQ(graph.SetPosition(0), E_NOINTERFACE);
    EXPECT_TRUE(diag.HasReport(L"spSeeking != 0"));
}

TEST_F(PlaybackTest, PlaceVideoWindowPutsTheVideoAboveTheDialog) {
    Hold();
    RECT rcArea = {};
    ASSERT_TRUE(::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcArea, 0));
    struct Case {
        int nDialogTop;
        long nHeight, nWidth;
        long nTop;  // expected
    };
    const Case cases[] = {
        {600, 240, 320, 360},
        {240, 240, 320, 0},
        {100, 480, 640, 0},  // clamped
        {500, 0, 1, 500},
        {300, 100, 2001, 200},  // wider than the work area: a negative left
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nDialogTop);
        ::SetWindowPos(window.hWnd, NULL, 37, c.nDialogTop, 300, 200, SWP_NOZORDER | SWP_NOACTIVATE);
        RECT rc;
        ::GetWindowRect(window.hWnd, &rc);
        ASSERT_EQ(rc.top, c.nDialogTop);
        spGraph->nHeight = c.nHeight;
        spGraph->nWidth = c.nWidth;
        spGraph->nVisible = 0;
        EXPECT_EQ(graph.PlaceVideoWindow(window.hWnd), S_OK);
        EXPECT_EQ(spGraph->nTop, c.nTop);
        // The work area's width only: its left edge is not added.
        EXPECT_EQ(spGraph->nLeft, (rcArea.right - rcArea.left - c.nWidth) / 2);
        EXPECT_EQ(spGraph->nVisible, OATRUE);
    }
    EXPECT_TRUE(CallLog().Starting(L"put_Owner").empty());

    // No video window: nothing changes.
    spGraph->hrGetHeight = E_NOINTERFACE;
    CallLog().Clear();
    EXPECT_EQ(graph.PlaceVideoWindow(window.hWnd), S_FALSE);
    EXPECT_TRUE(CallLog().Entries().empty());
    spGraph->refused.Refuse(IID_IVideoWindow);
    EXPECT_EQ(graph.PlaceVideoWindow(window.hWnd), E_FAIL);
}

namespace {

// Watches this thread's windows while a property frame runs its modal loop: records the
// caption of each frame that appears and cancels it (destroying it if it will not go).
class PropertyFrameCatcher {
public:
    PropertyFrameCatcher() : m_idTimer(::SetTimer(NULL, 0, 50, TimerProc)) { s_pActive = this; }
    ~PropertyFrameCatcher() {
        s_pActive = NULL;
        ::KillTimer(NULL, m_idTimer);
    }
    std::vector<std::wstring> captions;

private:
    static BOOL CALLBACK EnumProc(HWND hWnd, LPARAM) {
        PropertyFrameCatcher* self = s_pActive;
        if (!self || !::IsWindowVisible(hWnd) || ClassName(hWnd) != L"#32770") return TRUE;
        if (std::find(self->m_seen.begin(), self->m_seen.end(), hWnd) == self->m_seen.end()) {
            self->m_seen.push_back(hWnd);
            self->m_ticks.push_back(0);
            self->captions.push_back(WindowText(hWnd));
        }
        size_t i = std::find(self->m_seen.begin(), self->m_seen.end(), hWnd) - self->m_seen.begin();
        if (++self->m_ticks[i] < 40)
            ::PostMessageW(hWnd, WM_COMMAND, IDCANCEL, 0);
        else
            ::DestroyWindow(hWnd);
        return TRUE;
    }
    static void CALLBACK TimerProc(HWND, UINT, UINT_PTR, DWORD) {
        ::EnumThreadWindows(::GetCurrentThreadId(), EnumProc, 0);
    }
    UINT_PTR m_idTimer;
    std::vector<HWND> m_seen;
    std::vector<int> m_ticks;
    static PropertyFrameCatcher* s_pActive;
};
PropertyFrameCatcher* PropertyFrameCatcher::s_pActive = NULL;

}  // namespace

TEST_F(PlaybackTest, PropertyFrameIsTitledWithTheFiltersName) {
    Hold();
    CComPtr<FakeFilter> spCamera = CreateFakeCaptureFilter();
    spCamera->hasPropertyPages = true;
    const CLSID kPage = {0x6a1d2e3f, 0x1111, 0x4222, {0x83, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99}};
    std::vector<CComPtr<IUnknown>> pagesMade;
    ClassRegistration regPage(kPage, [&pagesMade] {
        pagesMade.push_back(FakePropertyPage::Create(L"General"));
        return pagesMade.back();
    });
    spCamera->pages = {kPage};
    spGraph->Insert(spCamera, L"USB Camera");
    {
        PropertyFrameCatcher catcher;
        EXPECT_EQ(graph.ShowSourcePropertyPages(L"USB Camera", window.hWnd), S_OK) << Context();
        ASSERT_EQ(catcher.captions.size(), 1u);
        EXPECT_NE(catcher.captions[0].find(L"USB Camera"), std::wstring::npos) << Narrow(catcher.captions[0]);
        // The page was given the filter itself.
        ASSERT_EQ(pagesMade.size(), 1u);
        FakePropertyPage* pPage = static_cast<FakePropertyPage*>(static_cast<IPropertyPage*>((IUnknown*)pagesMade[0]));
        ASSERT_EQ(pPage->objects.size(), 1u);
        EXPECT_TRUE(pPage->objects[0].IsEqualObject(static_cast<IBaseFilter*>(spCamera.p)));
    }
    {
        // A filter whose name cannot be read.
        spCamera->hrQueryFilterInfo = E_FAIL;
        PropertyFrameCatcher catcher;
        EXPECT_EQ(graph.ShowPropertyPages(spCamera, window.hWnd), S_OK) << Context();
        ASSERT_EQ(catcher.captions.size(), 1u);
        EXPECT_NE(catcher.captions[0].find(L"Properties"), std::wstring::npos) << Narrow(catcher.captions[0]);
        EXPECT_EQ(catcher.captions[0].find(L"USB Camera"), std::wstring::npos);
    }
    EXPECT_EQ(spCamera->cGetPages, 2);
}

TEST_F(PlaybackTest, PropertyPagesThatCannotBeShown) {
    Hold();
    PropertyFrameCatcher catcher;
    CComPtr<FakeFilter> spFilter = CreateFakeCaptureFilter();
    spGraph->Insert(spFilter, L"USB Camera");
    EXPECT_EQ(graph.ShowPropertyPages(spFilter, window.hWnd), S_FALSE) << "no property pages";
    EXPECT_EQ(graph.ShowSourcePropertyPages(L"USB Camera", window.hWnd), S_FALSE);
    spFilter->hasPropertyPages = true;
    spFilter->hrGetPages = E_OUTOFMEMORY;
    EXPECT_EQ(graph.ShowPropertyPages(spFilter, window.hWnd), E_OUTOFMEMORY);
    EXPECT_TRUE(diag.HasReport(L"CGraph::ShowPropertyPages(): spPropertyPages->GetPages() FAILED"));
    EXPECT_EQ(graph.ShowPropertyPages(NULL, window.hWnd), E_INVALIDARG);
    EXPECT_EQ(graph.ShowSourcePropertyPages(L"usb camera", window.hWnd), E_FAIL);
    EXPECT_EQ(graph.ShowSourcePropertyPages(NULL, window.hWnd), E_INVALIDARG);
    EXPECT_TRUE(catcher.captions.empty());
}

TEST_F(PlaybackTest, EncoderOperationsForwardOrAnswerNoEncoder) {
    int n1 = -1, n2 = -1;
    UINT u1 = 9, u2 = 9, u3 = 9, u4 = 9;
    double dbl = -1;
    struct Op {
        const char* method;
        std::function<HRESULT()> call;
    };
    const Op ops[] = {
        {"GetInputInfo", [&] { return graph.GetInputInfo(&n1, &n2, &dbl, &n1); }},
        {"SetPreset", [&] { return graph.SetPreset(MRV264E_Preset_Fast); }},
        {"GetPreset", [&] { return graph.GetPreset(&n1); }},
        {"GetSpeedQuality", [&] { return graph.GetSpeedQuality(&u1); }},
        {"GetRateControl", [&] { return graph.GetRateControl(&n1); }},
        {"GetBitrate", [&] { return graph.GetBitrate(&u1, &u2); }},
        {"GetStatistics", [&] { return graph.GetStatistics(&u1, &u2); }},
        {"GetProfileLevel", [&] { return graph.GetProfileLevel(&u1, &u2, &u3, &u4); }},
        {"GetGop", [&] { return graph.GetGop(&u1, &n1, &u2); }},
        {"GetIdrInterval", [&] { return graph.GetIdrInterval(&u1, &u2); }},
        {"GetBFrames", [&] { return graph.GetBFrames(&u1, &u2); }},
        {"GetCavlc", [&] { return graph.GetCavlc(&n1); }},
        {"ForceKeyFrame", [&] { return graph.ForceKeyFrame(); }},
        {"SetEncoderType", [&] { return graph.SetEncoderType(MRV264E_Enc_Hard); }},
        {"GetEncoderType", [&] { return graph.GetEncoderType(&n1, &n2); }},
    };
    for (const Op& op : ops) EXPECT_EQ(op.call(), E_FAIL) << op.method;

    CComPtr<FakeEncoder> spEncoder = FakeEncoder::Create();
    graph.m_spVireon = spEncoder;
    for (const Op& op : ops) {
        spEncoder->calls.clear();
        spEncoder->results[op.method] = (HRESULT)0x80040A01;
        EXPECT_EQ(op.call(), (HRESULT)0x80040A01) << op.method;
        spEncoder->results.erase(op.method);
        EXPECT_EQ(op.call(), S_OK) << op.method;
        ASSERT_EQ(spEncoder->calls.size(), 2u) << op.method;
        EXPECT_EQ(spEncoder->calls[1].compare(0, strlen(op.method), op.method), 0) << spEncoder->calls[1];
    }
    // Arguments and answers travel unchanged.
    spEncoder->values.nBitrate = 1234;
    spEncoder->values.nBitrateUsed = 1000;
    EXPECT_EQ(graph.GetBitrate(&u1, &u2), S_OK);
    EXPECT_EQ(u1, 1234u);
    EXPECT_EQ(u2, 1000u);
    spEncoder->values.nWidth = 720;
    spEncoder->values.nHeight = 576;
    spEncoder->values.dblFPS = 29.97;
    spEncoder->values.eInterlacing = MRV264E_BottomFieldFirst;
    int nInterlacing = 0;
    EXPECT_EQ(graph.GetInputInfo(&n1, &n2, &dbl, &nInterlacing), S_OK);
    EXPECT_EQ(n1, 720);
    EXPECT_EQ(n2, 576);
    EXPECT_DOUBLE_EQ(dbl, 29.97);
    EXPECT_EQ(nInterlacing, MRV264E_BottomFieldFirst);
    EXPECT_EQ(graph.SetPreset(MRV264E_Preset_LowLatency), S_OK);
    EXPECT_EQ(spEncoder->calls.back(), "SetPreset(3)");
    EXPECT_EQ(graph.SetEncoderType(MRV264E_Enc_Soft), S_OK);
    EXPECT_EQ(spEncoder->calls.back(), "SetEncoderType(2)");
    graph.m_spVireon.Release();
}
