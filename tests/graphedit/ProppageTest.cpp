// The pins property page of the property-page server, in this process and opened by
// GraphEdit on a filter of a graph it attached to; and a picture of GraphEdit showing a graph.
#include "tests/graphedit/GraphEditFixture.h"

#include <ocidl.h>
#include <olectl.h>

#include "standins/proppage/Proppage.h"
#include "tests/support/DiagCapture.h"
#include "tests/support/HostTools.h"
#include "tests/support/WindowTools.h"

namespace {

// A graph with connections: a short clip made by ffmpeg, read by the file source, split by
// the AVI splitter and fed to a Smart Tee.
CComPtr<IGraphBuilder> MakeClipGraph() {
    static std::string clip;
    if (clip.empty()) {
        std::string path = UniqueTmpPath("-clip.avi");
        std::string out;
        int rc = RunHost("ffmpeg -v error -f lavfi -i testsrc=size=320x240:rate=10 -t 1 -c:v rawvideo -pix_fmt bgr24 -y '" + path +
                             "' 2>&1",
                         &out);
        EXPECT_EQ(rc, 0) << out;
        if (rc == 0) clip = path;
    }
    CComPtr<IGraphBuilder> spGraph;
    EXPECT_EQ(spGraph.CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER), S_OK);
    if (!spGraph || clip.empty()) return spGraph;
    CComPtr<IBaseFilter> spSource, spSplitter, spTee;
    CComPtr<IEnumPins> spPins;
    CComPtr<IPin> spSourceOut, spSplitterIn, spSplitterOut, spTeeIn;
    EXPECT_EQ(spGraph->AddSourceFilter(ToWinPath(clip).c_str(), L"Clip", &spSource), S_OK);
    EXPECT_EQ(spSplitter.CoCreateInstance(CLSID_AviSplitter, NULL, CLSCTX_INPROC_SERVER), S_OK);
    EXPECT_EQ(spTee.CoCreateInstance(CLSID_SmartTee, NULL, CLSCTX_INPROC_SERVER), S_OK);
    if (!spSource || !spSplitter || !spTee) return spGraph;
    EXPECT_EQ(spGraph->AddFilter(spSplitter, L"Splitter"), S_OK);
    EXPECT_EQ(spGraph->AddFilter(spTee, L"Tee"), S_OK);
    EXPECT_EQ(spSource->FindPin(L"Output", &spSourceOut), S_OK);
    EXPECT_EQ(spSplitter->FindPin(L"input pin", &spSplitterIn), S_OK);
    if (!spSourceOut || !spSplitterIn) return spGraph;
    EXPECT_EQ(spGraph->ConnectDirect(spSourceOut, spSplitterIn, NULL), S_OK);
    EXPECT_EQ(spSplitter->EnumPins(&spPins), S_OK);
    for (;;) {
        CComPtr<IPin> spPin;
        if (spPins->Next(1, &spPin, NULL) != S_OK) break;
        PIN_DIRECTION dir;
        if (SUCCEEDED(spPin->QueryDirection(&dir)) && dir == PINDIR_OUTPUT) {
            spSplitterOut = spPin;
            break;
        }
    }
    EXPECT_EQ(spTee->FindPin(L"Input", &spTeeIn), S_OK);
    EXPECT_TRUE(spSplitterOut != NULL);
    if (spSplitterOut && spTeeIn) {
        EXPECT_EQ(spGraph->Connect(spSplitterOut, spTeeIn), S_OK);
    }
    return spGraph;
}

CComPtr<IBaseFilter> Filter(IGraphBuilder* pGraph, LPCWSTR pszName) {
    CComPtr<IBaseFilter> spFilter;
    EXPECT_EQ(pGraph->FindFilterByName(pszName, &spFilter), S_OK) << Narrow(pszName);
    return spFilter;
}

struct ChildSearch {
    int nId;
    HWND hWnd;
};
BOOL CALLBACK FindChild(HWND hWnd, LPARAM lParam) {
    ChildSearch* p = (ChildSearch*)lParam;
    if (::GetDlgCtrlID(hWnd) == p->nId && ClassName(hWnd) == L"Edit") {
        p->hWnd = hWnd;
        return FALSE;
    }
    return TRUE;
}

// The text of the pins page inside a window (also of another process).
std::wstring PageText(HWND hWnd) {
    ChildSearch s = {IDC_PINS_TEXT, NULL};
    ::EnumChildWindows(hWnd, FindChild, (LPARAM)&s);
    if (s.hWnd == NULL) return L"";
    int cch = (int)::SendMessageW(s.hWnd, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(cch + 1, L'\0');
    cch = (int)::SendMessageW(s.hWnd, WM_GETTEXT, cch + 1, (LPARAM)&text[0]);
    text.resize(cch > 0 ? cch : 0);
    return text;
}

bool Contains(const std::wstring& s, const std::wstring& part) { return s.find(part) != std::wstring::npos; }

// The property frame (a dialog) that a process shows.
HWND PropertyFrame(DWORD dwProcessId) {
    struct Search {
        DWORD pid;
        HWND hWnd;
    } s = {dwProcessId, NULL};
    ::EnumWindows(
        [](HWND hWnd, LPARAM lParam) -> BOOL {
            Search* p = (Search*)lParam;
            DWORD pid = 0;
            ::GetWindowThreadProcessId(hWnd, &pid);
            if (pid != p->pid || ClassName(hWnd) != L"#32770") return TRUE;
            p->hWnd = hWnd;
            return FALSE;
        },
        (LPARAM)&s);
    return s.hWnd;
}

}  // namespace

class PinsPage : public GraphEditTest {};

TEST_F(PinsPage, ShowsTheFiltersPinsConnectionsAndMediaTypes) {
    CComPtr<IPropertyPage> spPage;
    ASSERT_EQ(spPage.CoCreateInstance(CLSID_PinsPropertyPage, NULL, CLSCTX_INPROC_SERVER), S_OK);
    PROPPAGEINFO info = {};
    ASSERT_EQ(spPage->GetPageInfo(&info), S_OK);
    EXPECT_STREQ(info.pszTitle, L"Pins");
    EXPECT_GT(info.size.cx, 0);
    EXPECT_GT(info.size.cy, 0);
    ::CoTaskMemFree(info.pszTitle);

    // Objects that are no filters are refused.
    CComPtr<IBindCtx> spNotAFilter;
    ASSERT_EQ(::CreateBindCtx(0, &spNotAFilter), S_OK);
    IUnknown* pUnk = spNotAFilter;
    EXPECT_EQ(spPage->SetObjects(1, &pUnk), E_NOINTERFACE);

    CComPtr<IGraphBuilder> spGraph = MakeClipGraph();
    CComPtr<IBaseFilter> spTee = Filter(spGraph, L"Tee");
    ASSERT_TRUE(spTee != NULL);
    pUnk = spTee;
    ASSERT_EQ(spPage->SetObjects(1, &pUnk), S_OK);

    HWND hParent = ::CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 400, 300, NULL, NULL, NULL, NULL);
    RECT rc = {0, 0, 360, 220};
    ASSERT_EQ(spPage->Activate(hParent, &rc, TRUE), S_OK);
    const std::wstring text = PageText(hParent);
    EXPECT_TRUE(Contains(text, L"Tee\r\n")) << Narrow(text);
    EXPECT_TRUE(Contains(text, L"Input (in) <- Splitter . ")) << Narrow(text);
    EXPECT_TRUE(Contains(text, L": Video / RGB24, 320 x 240")) << Narrow(text);
    EXPECT_TRUE(Contains(text, L"Capture (out) not connected")) << Narrow(text);
    EXPECT_TRUE(Contains(text, L"Preview (out) not connected")) << Narrow(text);
    EXPECT_EQ(spPage->Show(SW_SHOW), S_OK);
    RECT rcMoved = {10, 10, 200, 100};
    EXPECT_EQ(spPage->Move(&rcMoved), S_OK);
    EXPECT_EQ(spPage->IsPageDirty(), S_FALSE);
    EXPECT_EQ(spPage->Apply(), S_OK);

    // The splitter's side of the same connection.
    CComPtr<IBaseFilter> spSplitter = Filter(spGraph, L"Splitter");
    pUnk = spSplitter;
    ASSERT_EQ(spPage->SetObjects(1, &pUnk), S_OK);
    const std::wstring splitterText = PageText(hParent);
    EXPECT_TRUE(Contains(splitterText, L"(out) -> Tee . Input: Video / RGB24, 320 x 240")) << Narrow(splitterText);
    EXPECT_TRUE(Contains(splitterText, L"(in) <- Clip . Output: Stream / Avi")) << Narrow(splitterText);

    EXPECT_EQ(spPage->Deactivate(), S_OK);
    EXPECT_EQ(PageText(hParent), L"");
    EXPECT_EQ(spPage->Deactivate(), E_UNEXPECTED);
    EXPECT_EQ(spPage->SetObjects(0, NULL), S_OK);
    ::DestroyWindow(hParent);
}

TEST_F(PinsPage, GraphEditShowsABuiltGraphAndOpensThePageOfAFilter) {
    CGraph graph;
    graph.m_spGraph = MakeClipGraph();
    ASSERT_EQ(graph.ShowGraph(), S_OK);
    CGraphEdit& ge = graph.m_graphEdit;
    const std::wstring expected = L"GraphEdit - attached to " + CookieName(graph.m_spGraph.p);
    ASSERT_EQ(WaitForTitle(ge.m_hWndMain, expected), expected);

    // Every filter with its pins, the connections and their media types.
    HWND hView = GraphEditView(ge.m_hWndMain);
    std::vector<std::wstring> lines;
    auto has = [&](const std::wstring& part) {
        for (const auto& l : lines)
            if (Contains(l, part)) return true;
        return false;
    };
    PumpUntil([&] {
        lines = TextLines(hView);
        return has(L"[Tee]") && has(L"[Splitter]") && has(L"[Clip]");
    }, 5000);
    std::string all;
    for (const auto& l : lines) all += Narrow(l) + "\n";
    EXPECT_TRUE(has(L"Output (out) -> Splitter . input pin: Stream / Avi")) << all;
    EXPECT_TRUE(has(L"(out) -> Tee . Input: Video / RGB24, 320 x 240")) << all;
    EXPECT_TRUE(has(L"Input (in) <- Splitter . ")) << all;
    EXPECT_TRUE(has(L"Capture (out) not connected")) << all;

    // Pictures of GraphEdit showing the graph, then with the page of a filter.
    const std::string dir = TestTmpDir() + "/../screenshots";
    auto screenshot = [&](const std::string& name) {
        PumpMessages(300);
        const std::string png = dir + "/" + name;
        std::string out;
        EXPECT_EQ(RunHost("mkdir -p '" + dir + "' && import -window root '" + png + "' 2>&1", &out, 30000), 0) << out;
        EXPECT_TRUE(HostFileExists(png)) << png;
    };
    // Clicking an arrow selects its connection, and the pane below tells its media type.
    HWND hInfo = GraphEditInfo(ge.m_hWndMain);
    ASSERT_TRUE(hInfo != NULL);
    std::wstring teeInput;
    std::wstring info;
    for (int i = 0; ClickGraphItem(hView, i, true); ++i) {
        const std::wstring previous = info;
        PumpUntil([&] { return (info = SentText(hInfo)).find(L"Connection: ") == 0 && info != previous; }, 3000);
        if (Contains(info, L" -> Tee . Input\r\n")) teeInput = info;
    }
    EXPECT_TRUE(Contains(teeInput, L"Connection: Splitter . ")) << Narrow(teeInput);
    for (const wchar_t* pszLine : {L"\nMajor type: Video\r", L"\nSubtype: RGB24\r", L"\nSize: 320 x 240\r",
                                   L"\nFrame rate: 10 fps\r", L"\nFormat: VideoInfo, "})
        EXPECT_TRUE(Contains(teeInput, pszLine)) << Narrow(pszLine) << " in\n" << Narrow(teeInput);
    screenshot("graphedit.png");

    // A double click on the Smart Tee's box opens its property frame with the pins page.
    int nTee = -1, nFilter = 0;
    for (size_t i = 0; i < lines.size() && nTee < 0; ++i) {
        if (lines[i].find(L"[Tee]") == 0) nTee = nFilter;
        nFilter += lines[i].find(L"[") == 0;
    }
    ASSERT_GE(nTee, 0) << all;
    ASSERT_TRUE(ClickGraphItem(hView, nTee, false, true));
    HWND hFrame = NULL;
    std::wstring pageText;
    PumpUntil([&] {
        hFrame = PropertyFrame(ge.m_rgPI.dwProcessId);
        pageText = hFrame ? PageText(hFrame) : L"";
        return !pageText.empty();
    }, 8000);
    ASSERT_TRUE(hFrame != NULL) << "no property frame";
    EXPECT_TRUE(Contains(WindowText(hFrame), L"Tee")) << Narrow(WindowText(hFrame));
    EXPECT_TRUE(Contains(pageText, L"Input (in) <- Splitter . ")) << Narrow(pageText);
    EXPECT_TRUE(Contains(pageText, L"Preview (out) not connected")) << Narrow(pageText);

    ::SetWindowPos(hFrame, NULL, 300, 500, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    screenshot("graphedit-properties.png");

    ::PostMessageW(hFrame, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(hFrame); }, 3000));
    // GraphEdit lets go of the filter and the graph: calls into this process to serve.
    PumpMessages(500);
    const DWORD pid = ge.m_rgPI.dwProcessId;
    ge.Close();
    EXPECT_TRUE(WaitProcessEnd(pid, 1000));
}
