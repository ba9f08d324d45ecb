// Finding the property-page server and GraphEdit, starting GraphEdit, waiting for its main
// window, and closing it again.
#include "tests/graphedit/GraphEditFixture.h"

#include "dialog/MainDialog.h"
#include "res/resource.h"

#include <algorithm>

#include "tests/support/DiagCapture.h"
#include "tests/support/HostTools.h"
#include "tests/support/WindowTools.h"

namespace {

bool SameText(const std::wstring& a, const std::wstring& b) { return ::lstrcmpiW(a.c_str(), b.c_str()) == 0; }

std::vector<DWORD> NewProcesses(const std::vector<DWORD>& before) {
    std::vector<DWORD> added;
    for (DWORD id : ProcessesNamed(L"graphedt.exe"))
        if (std::find(before.begin(), before.end(), id) == before.end()) added.push_back(id);
    return added;
}

// A scratch folder without GraphEdit in it (Windows path).
std::wstring EmptyDir() {
    std::string dir = UniqueTmpPath("-empty");
    ::CreateDirectoryW(ToWinPath(dir).c_str(), NULL);
    return ToWinPath(dir);
}

}  // namespace

class ProppageLookup : public GraphEditTest {};

TEST_F(ProppageLookup, ReadsTheServersPathAndRefusesWhatIsNotAUsableString) {
    ProppageRegistrationGuard guard;
    CGraphEdit ge;
    wchar_t sz[MAX_PATH];
    ASSERT_TRUE(ge.IsProppageRegistered(sz));
    EXPECT_TRUE(SameText(sz, ProppagePath())) << Narrow(sz);
    EXPECT_TRUE(ge.IsProppageRegistered(NULL));

    const std::wstring expandable = L"%SystemRoot%\\system32\\proppage.dll";
    const std::wstring longest(259, L'x'), tooLong(260, L'y');
    const DWORD dwNumber = 7;
    struct Case {
        DWORD dwType;
        const void* pData;
        DWORD cb;
        bool bExpected;
        std::wstring expected;
    } cases[] = {
        {REG_EXPAND_SZ, expandable.c_str(), (DWORD)(expandable.size() + 1) * 2, true, expandable},  // as stored
        {REG_SZ, longest.c_str(), (DWORD)(longest.size() + 1) * 2, true, longest},
        {REG_SZ, longest.c_str(), (DWORD)longest.size() * 2, true, longest},  // stored without terminator
        {REG_SZ, tooLong.c_str(), (DWORD)(tooLong.size() + 1) * 2, false, L""},
        {REG_SZ, tooLong.c_str(), (DWORD)tooLong.size() * 2, false, L""},   // fills the buffer, no terminator
        {REG_DWORD, &dwNumber, sizeof(dwNumber), false, L""},
        {REG_BINARY, L"ab", 6, false, L""},
    };
    for (const Case& c : cases) {
        guard.SetServerValue(c.dwType, c.pData, c.cb);
        lstrcpyW(sz, L"stale");
        EXPECT_EQ(ge.IsProppageRegistered(sz), c.bExpected) << c.dwType << " " << c.cb;
        EXPECT_EQ(std::wstring(sz), c.expected) << c.dwType << " " << c.cb;
    }

    ASSERT_EQ(guard.Unregister(), S_OK);
    lstrcpyW(sz, L"stale");
    EXPECT_FALSE(ge.IsProppageRegistered(sz));
    EXPECT_STREQ(sz, L"");
    EXPECT_FALSE(ge.IsProppageRegistered(NULL));
}

TEST_F(ProppageLookup, AnUnregisteredServerStartsNothing) {
    ProppageRegistrationGuard guard;
    ASSERT_EQ(guard.Unregister(), S_OK);
    const std::vector<DWORD> before = ProcessesNamed(L"graphedt.exe");

    CGraph graph;
    graph.m_spGraph = MakeTeeGraph(L"Tee");
    DiagCapture diag;
    EXPECT_EQ(graph.ShowGraph(), REGDB_E_CLASSNOTREG);
    EXPECT_TRUE(diag.HasReport(L"CGraphEdit::ShowGraph(): Proppage.dll is not registered")) << diag.Dump();
    EXPECT_EQ(graph.m_graphEdit.m_dwCookie, 0u);
    EXPECT_TRUE(graph.m_graphEdit.m_rgPI.hProcess == NULL);
    EXPECT_FALSE(RotHas(L"!" + CookieName(graph.m_spGraph.p)));
    ::Sleep(300);
    EXPECT_TRUE(NewProcesses(before).empty());
}

class GraphEditLaunch : public GraphEditTest {
protected:
    // Starts GraphEdit through LoadGraphEdit; on success checks which file was started and
    // closes it again.
    HRESULT Load(LPCWSTR pszProppage, std::wstring* pStarted = nullptr) {
        CGraphEdit ge;
        HRESULT hr = ge.LoadGraphEdit(pszProppage);
        if (hr == S_OK) {
            EXPECT_TRUE(ge.m_rgPI.hProcess != NULL && ge.m_rgPI.hThread != NULL);
            wchar_t sz[MAX_PATH];
            DWORD cch = MAX_PATH;
            if (pStarted && ::QueryFullProcessImageNameW(ge.m_rgPI.hProcess, 0, sz, &cch)) *pStarted = sz;
            DWORD pid = ge.m_rgPI.dwProcessId;
            ge.Close();
            EXPECT_TRUE(WaitProcessEnd(pid, 2000));
        } else {
            EXPECT_TRUE(ge.m_rgPI.hProcess == NULL && ge.m_rgPI.hThread == NULL);
        }
        return hr;
    }
};

TEST_F(GraphEditLaunch, UsesTheRegisteredPathThenTheCurrentFolderThenTheServersFolder) {
    GraphEditPathGuard path;
    const std::wstring empty = EmptyDir();
    const HRESULT hrNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    std::wstring started;

    // The registered location.
    path.Set(GraphEdtPath());
    {
        CurrentDirectoryGuard cwd(empty);
        EXPECT_EQ(Load(L"", &started), S_OK);
        EXPECT_TRUE(SameText(started, GraphEdtPath())) << Narrow(started);
    }
    // A registered location that does not exist falls back to the server's folder.
    path.Set(empty + L"\\graphedt.exe");
    {
        CurrentDirectoryGuard cwd(empty);
        started.clear();
        EXPECT_EQ(Load(ProppagePath().c_str(), &started), S_OK);
        EXPECT_TRUE(SameText(started, GraphEdtPath())) << Narrow(started);
    }

    path.Remove();
    {
        CurrentDirectoryGuard cwd(BinDir());
        started.clear();
        EXPECT_EQ(Load(L"", &started), S_OK);  // the current folder
        EXPECT_TRUE(SameText(started, GraphEdtPath())) << Narrow(started);
    }
    {
        CurrentDirectoryGuard cwd(empty);
        started.clear();
        EXPECT_EQ(Load(ProppagePath().c_str(), &started), S_OK);  // the server's folder
        EXPECT_TRUE(SameText(started, GraphEdtPath())) << Narrow(started);
        std::wstring forward = ProppagePath();
        std::replace(forward.begin(), forward.end(), L'\\', L'/');
        EXPECT_EQ(Load(forward.c_str()), S_OK);

        // Neither: the file-not-found code.
        EXPECT_EQ(Load(NULL), hrNotFound);
        EXPECT_EQ(Load(L""), hrNotFound);
        EXPECT_EQ(Load(L"proppage.dll"), hrNotFound);  // no folder to look in
        EXPECT_EQ(Load((empty + L"\\proppage.dll").c_str()), hrNotFound);
    }
}

// A registered path naming a program of the host system: the platform starts it but hands
// back no process to talk to, and the thread handle it gives is not one. Nothing of this
// process may be closed on its account.
TEST_F(GraphEditLaunch, AHostProgramIsNotAWindowsProgram) {
    GraphEditPathGuard path;
    path.Set(L"Z:\\bin\\true");
    const std::string keep = UniqueTmpPath(".keep");
    HANDLE hKeep = ::CreateFileW(ToWinPath(keep).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(hKeep, INVALID_HANDLE_VALUE);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Load(L""), HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT));
    DWORD written = 0;
    EXPECT_TRUE(::WriteFile(hKeep, "ok", 2, &written, NULL) && written == 2);
    EXPECT_TRUE(::CloseHandle(hKeep));
}

TEST_F(GraphEditLaunch, AServerFolderTooLongForTheFileNameIsRefused) {
    GraphEditPathGuard path;
    path.Remove();
    const std::wstring empty = EmptyDir();
    CurrentDirectoryGuard cwd(empty);
    // The folder with its separator, and "graphedt.exe" (12 characters), must leave room for
    // the terminator in 260 characters.
    auto serverIn = [](size_t cchFolder) { return std::wstring(cchFolder - 1, L'd') + L"\\proppage.dll"; };
    const HRESULT hrTried = Load(serverIn(247).c_str());  // 259 characters: tried, and not found
    EXPECT_TRUE(FAILED(hrTried));
    EXPECT_NE(hrTried, HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(Load(serverIn(248).c_str()), HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(Load(serverIn(255).c_str()), HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
}

TEST_F(GraphEditLaunch, AMainWindowThatDoesNotShowInTimeGivesSFalse) {
    struct Case {
        const wchar_t* pszSwitch;
        const wchar_t* pszValue;
        bool bHiddenTrace;
    } cases[] = {
        {L"QUORLIN_GRAPHEDT_HIDE", L"1", true},          // found, but never visible
        {L"QUORLIN_GRAPHEDT_DELAY_MS", L"5000", false},  // not there at all
    };
    for (const Case& c : cases) {
        EnvGuard env(c.pszSwitch, c.pszValue);
        CGraph graph;
        graph.m_spGraph = MakeTeeGraph(L"Tee");
        DiagCapture diag;
        EXPECT_EQ(graph.ShowGraph(), S_FALSE) << Narrow(c.pszSwitch);
        EXPECT_TRUE(diag.HasTrace(L"###Err### CGraphEdit::FindMainWindow(): GraphEdit window not found\n"))
            << diag.Dump();
        EXPECT_EQ(diag.HasTrace(L"###Err### CGraphEdit::WaitWhileHidden(): Wait time is ending\n"), c.bHiddenTrace)
            << diag.Dump();
        EXPECT_TRUE(graph.m_graphEdit.m_hWndMain == NULL);
        // GraphEdit keeps running and the registration stays, until the next Close.
        CGraphEdit& ge = graph.m_graphEdit;
        ASSERT_TRUE(ge.m_rgPI.hProcess != NULL);
        EXPECT_EQ(::WaitForSingleObject(ge.m_rgPI.hProcess, 0), (DWORD)WAIT_TIMEOUT);
        EXPECT_NE(ge.m_dwCookie, 0u);
        EXPECT_TRUE(RotHas(L"!" + CookieName(graph.m_spGraph.p)));
        const DWORD pid = ge.m_rgPI.dwProcessId;
        ge.Close();
        EXPECT_TRUE(WaitProcessEnd(pid, 2000));
        EXPECT_FALSE(RotHas(L"!" + CookieName(graph.m_spGraph.p)));
    }
}

// Through the dialog's "Show graph": a GraphEdit that never shows its window is a failure
// the tester is told of, with the code S_FALSE.
TEST_F(GraphEditLaunch, ShowGraphAnsweringSFalseShowsTheBox) {
    EnvGuard env(L"QUORLIN_GRAPHEDT_HIDE", L"1");
    CMainDialog dlg;
    DWORD pid = 0;
    RunModal(dlg, [&](HWND hDlg) {
        dlg.m_graph.m_spGraph = MakeTeeGraph(L"Tee");
        MessageBoxCatcher boxes;
        ::SendMessageW(hDlg, WM_COMMAND, IDC_SHOW_GRAPH, 0);
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        const std::wstring& text = boxes.Boxes()[0].text;
        EXPECT_EQ(text.rfind(L"Can't show graph", 0), 0u) << Narrow(text);
        EXPECT_NE(text.find(L"Error 0x1"), std::wstring::npos) << Narrow(text);
        pid = dlg.m_graph.m_graphEdit.m_rgPI.dwProcessId;
        EXPECT_NE(pid, 0u);
        dlg.m_graph.Release();
    });
    EXPECT_TRUE(WaitProcessEnd(pid, 2000));
}

TEST_F(GraphEditLaunch, CloseIsSafeInAnyStateAndAfterTheTesterClosedGraphEdit) {
    CGraphEdit ge;
    ge.Close();
    ge.Close();
    EXPECT_EQ(ge.m_dwCookie, 0u);
    EXPECT_TRUE(ge.m_rgPI.hProcess == NULL && ge.m_rgPI.hThread == NULL && ge.m_rgPI.dwThreadId == 0);

    ASSERT_EQ(ge.LoadGraphEdit(ProppagePath().c_str()), S_OK);
    ASSERT_TRUE(ge.FindMainWindow());
    const DWORD pid = ge.m_rgPI.dwProcessId;
    ::PostMessageW(ge.m_hWndMain, WM_CLOSE, 0, 0);  // the tester closes it
    ASSERT_TRUE(WaitProcessEnd(pid, 3000));

    const DWORD dwStart = ::GetTickCount();
    ge.Close();
    EXPECT_LT(::GetTickCount() - dwStart, 500u);
    EXPECT_TRUE(ge.m_rgPI.hProcess == NULL && ge.m_rgPI.hThread == NULL && ge.m_rgPI.dwProcessId == 0);
    EXPECT_TRUE(ge.m_hWndMain == NULL && ge.m_hWndList == NULL);
}

TEST_F(GraphEditLaunch, AGraphEditThatDoesNotAcceptInputInTimeIsLeftRunningAndForgotten) {
    EnvGuard env(L"QUORLIN_GRAPHEDT_BUSY_MS", L"4000");
    const std::vector<DWORD> before = ProcessesNamed(L"graphedt.exe");
    CGraph graph;
    graph.m_spGraph = MakeTeeGraph(L"Tee");
    DiagCapture diag;
    EXPECT_EQ(graph.ShowGraph(), E_FAIL);
    EXPECT_TRUE(diag.HasTrace(L"###Err### CGraphEdit::LoadGraphEdit(): WaitForInputIdle()=258, hr=0x80004005\n"))
        << diag.Dump();
    CGraphEdit& ge = graph.m_graphEdit;
    EXPECT_TRUE(ge.m_rgPI.hProcess == NULL && ge.m_rgPI.hThread == NULL && ge.m_rgPI.dwProcessId == 0);
    EXPECT_NE(ge.m_dwCookie, 0u);  // the registration stays until the next Close
    EXPECT_TRUE(RotHas(L"!" + CookieName(graph.m_spGraph.p)));

    const std::vector<DWORD> started = NewProcesses(before);
    ASSERT_EQ(started.size(), 1u);
    ge.Close();
    EXPECT_FALSE(RotHas(L"!" + CookieName(graph.m_spGraph.p)));
    // The bridge no longer knows that GraphEdit: Close leaves it running.
    HANDLE hProcess = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, started[0]);
    ASSERT_TRUE(hProcess != NULL);
    EXPECT_EQ(::WaitForSingleObject(hProcess, 0), (DWORD)WAIT_TIMEOUT);
    ::TerminateProcess(hProcess, 1);
    ::WaitForSingleObject(hProcess, 2000);
    ::CloseHandle(hProcess);
}

TEST(GraphEditWindows, SearchesWithoutAGraphEditFindNothingAndCallbacksRefuseANullObject) {
    CGraphEdit ge;
    DiagCapture diag;
    EXPECT_FALSE(ge.FindMainWindow());
    EXPECT_TRUE(diag.HasReport(L"m_rgPI.hProcess != NULL && m_rgPI.hThread != NULL")) << diag.Dump();
    EXPECT_TRUE(diag.HasTrace(L"###Err### CGraphEdit::FindMainWindow(): GraphEdit window not found\n"));
    EXPECT_FALSE(ge.WaitWhileHidden());
    ge.PostConnectCommand();
    ge.SelectGraph(NULL);
    EXPECT_TRUE(ge.m_hWndMain == NULL && ge.m_hWndList == NULL);

    // Enumeration callbacks end the enumeration when they get no object.
    HWND hWnd = ::GetDesktopWindow();
    diag.Clear();
    EXPECT_FALSE(CGraphEdit::EnumMainWindowProc(hWnd, 0));
    EXPECT_FALSE(CGraphEdit::EnumDialogProc(hWnd, 0));
    EXPECT_FALSE(CGraphEdit::EnumDialogChildProc(hWnd, 0));
    EXPECT_EQ(diag.Reports().size(), 3u) << diag.Dump();
    EXPECT_TRUE(diag.HasReport(L"pThis != NULL")) << diag.Dump();
    // With an object, windows that are not GraphEdit's continue them.
    EXPECT_TRUE(CGraphEdit::EnumMainWindowProc(hWnd, (LPARAM)&ge));
    EXPECT_TRUE(CGraphEdit::EnumDialogProc(hWnd, (LPARAM)&ge));
    EXPECT_TRUE(CGraphEdit::EnumDialogChildProc(hWnd, (LPARAM)&ge));
}
