// GraphEdit driven end to end: it starts, its connect dialog lists the graphs, this graph's
// line is selected and confirmed, and GraphEdit attaches to it and shows it.
#include "tests/graphedit/GraphEditFixture.h"

#include "tests/support/DiagCapture.h"
#include "tests/support/HostTools.h"
#include "tests/support/WindowTools.h"

namespace {

std::wstring Attached(const void* pGraph, DWORD pid = ::GetCurrentProcessId()) {
    return L"GraphEdit - attached to " + CookieName(pGraph, pid);
}

bool HasLineWith(const std::vector<std::wstring>& lines, const std::wstring& text) {
    for (const auto& l : lines)
        if (l.find(text) != std::wstring::npos) return true;
    return false;
}

std::string Joined(const std::vector<std::wstring>& lines) {
    std::string s;
    for (const auto& l : lines) s += Narrow(l) + "\n";
    return s;
}

// The graph of another process, published by rot_publisher.exe.
class OtherProcessGraph {
public:
    OtherProcessGraph() {
        std::wstring exe = ToWinPath(Narrow(ROT_PUBLISHER_EXE));
        STARTUPINFOW si = {sizeof si};
        EXPECT_TRUE(::CreateProcessW(exe.c_str(), NULL, NULL, NULL, FALSE, 0, NULL, NULL, &si, &m_pi));
        wchar_t szSuffix[32];
        ::wsprintfW(szSuffix, L" pid %08x", m_pi.dwProcessId);
        for (int i = 0; i < 200 && m_name.empty(); ++i) {
            for (const auto& n : RotNames())
                if (n.size() > 12 && n.compare(n.size() - 13, 13, szSuffix) == 0) m_name = n;
            if (m_name.empty()) ::Sleep(25);
        }
        EXPECT_FALSE(m_name.empty()) << "the other process did not publish its graph";
    }
    ~OtherProcessGraph() { End(); }
    void End() {
        if (m_pi.hProcess == NULL) return;
        ::PostThreadMessageW(m_pi.dwThreadId, WM_QUIT, 0, 0);
        if (::WaitForSingleObject(m_pi.hProcess, 5000) != WAIT_OBJECT_0) ::TerminateProcess(m_pi.hProcess, 1);
        ::CloseHandle(m_pi.hThread);
        ::CloseHandle(m_pi.hProcess);
        m_pi = PROCESS_INFORMATION();
    }
    DWORD Pid() const { return m_pi.dwProcessId; }
    const std::wstring& DisplayName() const { return m_name; }  // "!FilterGraph ..."

private:
    PROCESS_INFORMATION m_pi = {};
    std::wstring m_name;
};

}  // namespace

class GraphEditAutomation : public GraphEditTest {};

TEST_F(GraphEditAutomation, ShowGraphAttachesGraphEditToThisGraphAndCloseEndsIt) {
    CGraph graph;
    graph.m_spGraph = MakeTeeGraph(L"Tee of the bench");
    DiagCapture diag;
    ASSERT_EQ(graph.ShowGraph(), S_OK) << diag.Dump();
    CGraphEdit& ge = graph.m_graphEdit;
    const DWORD pid = ge.m_rgPI.dwProcessId;
    EXPECT_TRUE(ge.m_registrations.IsHeld());

    // The main window of the started GraphEdit, and the list box of its connect dialog.
    DWORD dwOwner = 0;
    ASSERT_TRUE(::IsWindow(ge.m_hWndMain));
    ::GetWindowThreadProcessId(ge.m_hWndMain, &dwOwner);
    EXPECT_EQ(dwOwner, pid);
    ASSERT_TRUE(::IsWindow(ge.m_hWndList)) << "the connect dialog was not found";
    EXPECT_EQ(ClassName(ge.m_hWndList), L"ListBox");
    // (the dialog may already be confirmed and gone by now)
    const HWND hDialog = ::GetParent(ge.m_hWndList);
    if (::IsWindow(hDialog)) EXPECT_EQ(::GetWindow(hDialog, GW_OWNER), ge.m_hWndMain);

    // GraphEdit attaches to this graph and shows its filter and pins.
    const std::wstring expected = Attached(graph.m_spGraph.p);
    EXPECT_EQ(WaitForTitle(ge.m_hWndMain, expected), expected);
    HWND hView = GraphEditView(ge.m_hWndMain);
    std::vector<std::wstring> lines;
    PumpUntil([&] { return HasLineWith(lines = TextLines(hView), L"Capture (out)"); }, 5000);
    EXPECT_TRUE(HasLineWith(lines, L"[Tee of the bench]")) << Joined(lines);
    EXPECT_TRUE(HasLineWith(lines, L"Input (in) not connected")) << Joined(lines);
    EXPECT_TRUE(HasLineWith(lines, L"Preview (out) not connected")) << Joined(lines);
    // The dialog was confirmed and is gone.
    EXPECT_TRUE(OwnedWindow(ge.m_hWndMain, pid) == NULL);

    // Close ends GraphEdit within its wait and revokes the registration.
    HANDLE hProcess = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    const DWORD dwStart = ::GetTickCount();
    ge.Close();
    EXPECT_LT(::GetTickCount() - dwStart, 1100u);
    EXPECT_EQ(::WaitForSingleObject(hProcess, 1000), WAIT_OBJECT_0);
    ::CloseHandle(hProcess);
    EXPECT_EQ(ge.m_dwCookie, 0u);
    EXPECT_TRUE(ge.m_hWndMain == NULL && ge.m_hWndList == NULL && ge.m_rgPI.hProcess == NULL);
    EXPECT_FALSE(ge.m_registrations.IsHeld());
    EXPECT_FALSE(RotHas(L"!" + CookieName(graph.m_spGraph.p)));
    EXPECT_TRUE(diag.Reports().empty()) << diag.Dump();
}

TEST_F(GraphEditAutomation, ASecondShowGraphEndsTheFirstGraphEditAndRegistersAnew) {
    CGraph graph;
    graph.m_spGraph = MakeTeeGraph(L"Tee");
    ASSERT_EQ(graph.ShowGraph(), S_OK);
    const DWORD pid1 = graph.m_graphEdit.m_rgPI.dwProcessId;
    const DWORD dwCookie1 = graph.m_graphEdit.m_dwCookie;
    HANDLE hFirst = ::OpenProcess(SYNCHRONIZE, FALSE, pid1);
    const std::wstring expected = Attached(graph.m_spGraph.p);
    EXPECT_EQ(WaitForTitle(graph.m_graphEdit.m_hWndMain, expected), expected);

    ASSERT_EQ(graph.ShowGraph(), S_OK);
    EXPECT_EQ(::WaitForSingleObject(hFirst, 1000), WAIT_OBJECT_0) << "the first GraphEdit still runs";
    ::CloseHandle(hFirst);
    EXPECT_NE(graph.m_graphEdit.m_rgPI.dwProcessId, pid1);
    EXPECT_NE(graph.m_graphEdit.m_dwCookie, 0u);
    EXPECT_NE(graph.m_graphEdit.m_dwCookie, dwCookie1);
    int nEntries = 0;
    for (const auto& n : RotNames()) nEntries += n == L"!" + CookieName(graph.m_spGraph.p);
    EXPECT_EQ(nEntries, 1);
    EXPECT_EQ(WaitForTitle(graph.m_graphEdit.m_hWndMain, expected), expected);

    // Without a graph: the running GraphEdit is closed and nothing else happens.
    const DWORD pid2 = graph.m_graphEdit.m_rgPI.dwProcessId;
    graph.m_spGraph.Release();
    EXPECT_EQ(graph.ShowGraph(), E_FAIL);
    EXPECT_TRUE(WaitProcessEnd(pid2, 1000));
    EXPECT_EQ(graph.m_graphEdit.m_dwCookie, 0u);
    EXPECT_TRUE(graph.m_graphEdit.m_rgPI.hProcess == NULL);
}

TEST_F(GraphEditAutomation, AGraphOfAnotherProcessListedFirstIsSkipped) {
    OtherProcessGraph other;
    ASSERT_FALSE(other.DisplayName().empty());
    CComPtr<IGraphBuilder> spGraph = MakeTeeGraph(L"Tee");
    CGraphEdit ge;
    ASSERT_EQ(ge.AddToRot(spGraph, &ge.m_dwCookie), S_OK);
    ASSERT_EQ(ge.LoadGraphEdit(ProppagePath().c_str()), S_OK);
    ASSERT_TRUE(ge.FindMainWindow());

    // Open the connect dialog and look at its list before selecting.
    // The connect dialog, once it is on screen with its list.
    auto openDialog = [&ge] {
        ge.PostConnectCommand();
        HWND hDialog = NULL;
        ge.m_hWndList = NULL;
        PumpUntil([&] {
            hDialog = OwnedWindow(ge.m_hWndMain, ge.m_rgPI.dwProcessId);
            if (hDialog == NULL || !::IsWindowVisible(hDialog)) return false;
            ::EnumChildWindows(hDialog, CGraphEdit::EnumDialogChildProc, (LPARAM)&ge);
            return ::IsWindow(ge.m_hWndList) != FALSE;
        }, 3000);
        return hDialog;
    };
    HWND hDialog = openDialog();
    ASSERT_TRUE(hDialog != NULL);
    EXPECT_EQ(WindowText(hDialog), L"Connect to Graph");
    ASSERT_TRUE(::IsWindow(ge.m_hWndList));
    const std::vector<std::wstring> lines = ListLines(ge.m_hWndList);
    wchar_t szOther[32], szOurs[32];
    ::wsprintfW(szOther, L"pid %08x ", other.Pid());
    ::wsprintfW(szOurs, L"pid %08x ", ::GetCurrentProcessId());
    size_t nOther = lines.size(), nOurs = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find(szOther) == 0 && nOther == lines.size()) nOther = i;
        if (lines[i].find(szOurs) == 0 && nOurs == lines.size()) nOurs = i;
    }
    ASSERT_LT(nOther, lines.size()) << Joined(lines);
    ASSERT_LT(nOurs, lines.size()) << Joined(lines);
    EXPECT_LT(nOther, nOurs) << "the other process's graph should be listed first\n" << Joined(lines);
    EXPECT_EQ(ge.FindGraphItem(spGraph), (int)nOurs);

    // SelectGraph confirms this graph's line, and GraphEdit attaches to this graph.
    ge.SelectGraph(spGraph);
    const std::wstring expected = Attached(spGraph.p);
    EXPECT_EQ(WaitForTitle(ge.m_hWndMain, expected), expected);

    // Attached to the other process's graph, GraphEdit survives that graph going away.
    hDialog = openDialog();
    ASSERT_TRUE(::IsWindow(ge.m_hWndList));
    ASSERT_EQ(ListLines(ge.m_hWndList), lines);
    ASSERT_NE(::SendMessageW(ge.m_hWndList, LB_SETCURSEL, nOther, 0), LB_ERR);
    ::PostMessageW(hDialog, WM_COMMAND, IDOK, 0);
    const std::wstring otherName = other.DisplayName().substr(1);
    EXPECT_EQ(WaitForTitle(ge.m_hWndMain, L"GraphEdit - attached to " + otherName),
              L"GraphEdit - attached to " + otherName);
    HWND hView = GraphEditView(ge.m_hWndMain);
    std::vector<std::wstring> view;
    EXPECT_TRUE(PumpUntil([&] { return HasLineWith(view = TextLines(hView), L"[Tee of another process]"); }, 5000))
        << Joined(view);

    other.End();
    EXPECT_EQ(WaitForTitle(ge.m_hWndMain, L"GraphEdit - graph disconnected: " + otherName, 15000),
              L"GraphEdit - graph disconnected: " + otherName);
    view = TextLines(hView);
    EXPECT_TRUE(HasLineWith(view, L"graph disconnected")) << Joined(view);
    EXPECT_EQ(::WaitForSingleObject(ge.m_rgPI.hProcess, 0), (DWORD)WAIT_TIMEOUT) << "GraphEdit ended";
    ge.Close();
}

TEST_F(GraphEditAutomation, AConnectDialogThatOpensTooLateIsLeftWithoutASelection) {
    EnvGuard env(L"QUORLIN_GRAPHEDT_CONNECT_DELAY_MS", L"800");
    CGraph graph;
    graph.m_spGraph = MakeTeeGraph(L"Tee");
    ASSERT_EQ(graph.ShowGraph(), S_OK);
    CGraphEdit& ge = graph.m_graphEdit;
    EXPECT_TRUE(ge.m_hWndList == NULL);

    HWND hDialog = NULL;
    HWND hList = NULL;
    PumpUntil([&] {
        hDialog = OwnedWindow(ge.m_hWndMain, ge.m_rgPI.dwProcessId);
        hList = hDialog && ::IsWindowVisible(hDialog) ? ::FindWindowExW(hDialog, NULL, L"ListBox", NULL) : NULL;
        return hList != NULL;
    }, 5000);
    ASSERT_TRUE(hList != NULL) << "the connect dialog did not open";
    wchar_t szOurs[64];
    ::wsprintfW(szOurs, L"IFilterGraph = %08x", (DWORD)(DWORD_PTR)graph.m_spGraph.p);
    EXPECT_TRUE(HasLineWith(ListLines(hList), szOurs));
    PumpMessages(300);
    EXPECT_EQ(::SendMessageW(hList, LB_GETCURSEL, 0, 0), LB_ERR);
    EXPECT_TRUE(::IsWindow(hDialog));
    EXPECT_EQ(WindowText(ge.m_hWndMain), L"GraphEdit");

    const DWORD pid = ge.m_rgPI.dwProcessId;
    ge.Close();  // also ends a GraphEdit with its dialog open
    EXPECT_TRUE(WaitProcessEnd(pid, 1000));
}

TEST_F(GraphEditAutomation, FindGraphItemReadsLinesOfAnyLengthWithinTheirBuffer) {
    IGraphBuilder* pGraph = (IGraphBuilder*)(ULONG_PTR)0x0001ABCD;
    const DWORD pid = ::GetCurrentProcessId();
    wchar_t sz[512];
    auto line = [&](DWORD dwPid, size_t cchName) {
        ::wsprintfW(sz, L"pid %08x (%s) IFilterGraph = 0001abcd", dwPid, std::wstring(cchName, L'n').c_str());
        return std::wstring(sz);
    };
    // 39 characters around the name: 24 make a line of 63, which fits the 64-character buffer.
    struct Case {
        std::vector<std::wstring> lines;
        int nExpected;
    } cases[] = {
        {{line(pid + 1, 24), line(pid, 24)}, 1},
        {{line(pid + 1, 300), line(pid, 25)}, 1},   // 64 characters
        {{line(pid + 1, 25), line(pid, 200)}, 1},   // a long line of this graph
        {{L"", line(pid + 2, 400), line(pid, 0)}, 2},
        {{line(pid + 1, 100), std::wstring(450, L'z')}, -1},
        {{}, -1},
    };
    HWND hWnd = ::CreateWindowExW(0, L"ListBox", L"", WS_POPUP, 0, 0, 100, 100, NULL, NULL, NULL, NULL);
    ASSERT_TRUE(hWnd != NULL);
    CGraphEdit ge;
    EXPECT_EQ(ge.FindGraphItem(pGraph), -1);  // no list
    ge.m_hWndList = hWnd;
    for (const Case& c : cases) {
        ::SendMessageW(hWnd, LB_RESETCONTENT, 0, 0);
        for (const auto& l : c.lines) ::SendMessageW(hWnd, LB_ADDSTRING, 0, (LPARAM)l.c_str());
        ASSERT_EQ((int)::SendMessageW(hWnd, LB_GETCOUNT, 0, 0), (int)c.lines.size());
        EXPECT_EQ(ge.FindGraphItem(pGraph), c.nExpected) << Joined(c.lines);
    }
    ge.m_hWndList = NULL;
    ::DestroyWindow(hWnd);
}
