// GraphEdit: a graph viewer that attaches to a filter graph of another process through the
// running object table and draws it (GraphView): filters as boxes with their pins, each
// connection an arrow; a selected connection's media type shows below the picture, and a
// double-click on a filter opens its property pages. The picture follows the graph while it
// runs.
//
// Test switches (environment): QUORLIN_GRAPHEDT_HIDE=1 keeps the main window hidden;
// QUORLIN_GRAPHEDT_DELAY_MS=n creates it only after n ms (the program is idle meanwhile);
// QUORLIN_GRAPHEDT_BUSY_MS=n keeps the program busy for n ms before anything else, so that
// it does not accept input; QUORLIN_GRAPHEDT_CONNECT_DELAY_MS=n opens the connect dialog
// n ms after the command.
#include <windows.h>
#include <dshow.h>
#include <olectl.h>
#include <stdio.h>
#include <wchar.h>

#include <algorithm>
#include <string>
#include <vector>

#include "standins/graphedit/GraphReader.h"
#include "standins/graphedit/GraphView.h"
#include "standins/graphedit/resource.h"
#include "standins/media/PinText.h"

namespace {

const wchar_t kClassName[] = L"QuorlinGraphEdit";
const wchar_t kTitle[] = L"GraphEdit";
const UINT WM_SNAPSHOT = WM_APP + 1;   // lParam: a Snapshot the window takes over
const DWORD kRefreshMs = 500;
const DWORD kStopWaitMs = 600;  // for the watcher to end its read on closing
const int IDC_VIEW = 100;
const int IDC_INFO = 101;
const int kInfoLines = 7;  // the height of the pane below the picture

HINSTANCE g_hInstance = NULL;
HWND g_hWndMain = NULL;
HWND g_hWndView = NULL;
HWND g_hWndInfo = NULL;

// ---------------------------------------------------------------------------------------
// Graphs in the running object table.

struct GraphEntry {
    std::wstring displayName;  // "!FilterGraph 0000abcd pid 000004d2"
    std::wstring line;         // what the connect dialog lists
};

std::wstring ProcessName(DWORD dwProcessId) {
    std::wstring name = L"?";
    HANDLE hProcess = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, dwProcessId);
    if (hProcess != NULL) {
        wchar_t sz[MAX_PATH];
        DWORD cch = MAX_PATH;
        if (::QueryFullProcessImageNameW(hProcess, 0, sz, &cch)) {
            const wchar_t* p = sz;
            for (const wchar_t* q = sz; *q; ++q)
                if (*q == L'\\' || *q == L'/') p = q + 1;
            name = p;
        }
        ::CloseHandle(hProcess);
    }
    return name;
}

// Every filter graph registered as "!FilterGraph <graph> pid <process>", listed as
// "pid <process> (<program>) IFilterGraph = <graph>".
std::vector<GraphEntry> EnumerateGraphs() {
    std::vector<GraphEntry> entries;
    IRunningObjectTable* pROT = NULL;
    if (FAILED(::GetRunningObjectTable(0, &pROT))) return entries;
    IEnumMoniker* pEnum = NULL;
    IBindCtx* pBindCtx = NULL;
    if (SUCCEEDED(pROT->EnumRunning(&pEnum)) && SUCCEEDED(::CreateBindCtx(0, &pBindCtx))) {
        IMoniker* pMoniker = NULL;
        while (pEnum->Next(1, &pMoniker, NULL) == S_OK) {
            LPOLESTR pszName = NULL;
            if (SUCCEEDED(pMoniker->GetDisplayName(pBindCtx, NULL, &pszName)) && pszName != NULL) {
                unsigned int nGraph = 0, nPid = 0;
                if (wcsncmp(pszName, L"!FilterGraph", 12) == 0 &&
                    swscanf(pszName, L"!FilterGraph %x pid %x", &nGraph, &nPid) == 2) {
                    GraphEntry e;
                    e.displayName = pszName;
                    e.line = pintext::Format(L"pid %08x (%s) IFilterGraph = %08x", nPid, ProcessName(nPid).c_str(),
                                             nGraph);
                    entries.push_back(e);
                }
                ::CoTaskMemFree(pszName);
            }
            pMoniker->Release();
        }
    }
    if (pBindCtx) pBindCtx->Release();
    if (pEnum) pEnum->Release();
    pROT->Release();
    return entries;
}

// The object registered under a display name "!<item>".
HRESULT GetRegisteredGraph(const std::wstring& displayName, IFilterGraph** ppGraph) {
    *ppGraph = NULL;
    if (displayName.size() < 2 || displayName[0] != L'!') return E_INVALIDARG;
    IRunningObjectTable* pROT = NULL;
    HRESULT hr = ::GetRunningObjectTable(0, &pROT);
    if (FAILED(hr)) return hr;
    IMoniker* pMoniker = NULL;
    hr = ::CreateItemMoniker(L"!", displayName.c_str() + 1, &pMoniker);
    if (SUCCEEDED(hr)) {
        IUnknown* pUnk = NULL;
        hr = pROT->GetObject(pMoniker, &pUnk);
        if (SUCCEEDED(hr)) {
            hr = pUnk->QueryInterface(IID_IFilterGraph, (void**)ppGraph);
            pUnk->Release();
        }
        pMoniker->Release();
    }
    pROT->Release();
    return hr;
}

// ---------------------------------------------------------------------------------------
// The watcher: a thread of its own reads the remote graph, so that the window stays
// responsive however slowly the graph's process answers.

struct Snapshot {
    enum State { Detached, Attached, Disconnected, Failed } eState = Detached;
    std::wstring name;   // registration name without the "!"
    HRESULT hr = S_OK;
    graphview::GraphDesc graph;
    std::wstring message;  // shown instead of an empty graph
};

class CWatcher {
public:
    CWatcher() : m_hWake(::CreateEventW(NULL, FALSE, FALSE, NULL)), m_hThread(NULL), m_bNew(false), m_bStop(false) {
        ::InitializeCriticalSection(&m_cs);
    }
    void Start() { m_hThread = ::CreateThread(NULL, 0, ThreadProc, this, 0, NULL); }
    // Attaches to the graph registered under displayName; an empty name detaches.
    void Attach(const std::wstring& displayName) {
        ::EnterCriticalSection(&m_cs);
        m_target = displayName;
        m_bNew = true;
        ::LeaveCriticalSection(&m_cs);
        ::SetEvent(m_hWake);
    }
    void Refresh() { ::SetEvent(m_hWake); }
    // The thread may be inside a call to the graph's process: it is given the time of a few
    // reads to finish and let go of the graph; whatever is left ends with the process.
    void Stop() {
        ::EnterCriticalSection(&m_cs);
        m_bStop = true;
        ::LeaveCriticalSection(&m_cs);
        ::SetEvent(m_hWake);
        if (m_hThread != NULL) ::WaitForSingleObject(m_hThread, kStopWaitMs);
    }

private:
    static DWORD WINAPI ThreadProc(LPVOID pv) {
        ((CWatcher*)pv)->Run();
        return 0;
    }
    void Post(Snapshot* pSnap) {
        if (!::PostMessageW(g_hWndMain, WM_SNAPSHOT, 0, (LPARAM)pSnap)) delete pSnap;
    }
    void Run() {
        ::CoInitializeEx(NULL, COINIT_MULTITHREADED);
        IFilterGraph* pGraph = NULL;
        std::wstring name;
        for (;;) {
            ::WaitForSingleObject(m_hWake, kRefreshMs);
            ::EnterCriticalSection(&m_cs);
            bool bStop = m_bStop, bNew = m_bNew;
            std::wstring target = m_target;
            m_bNew = false;
            ::LeaveCriticalSection(&m_cs);
            if (bStop) break;
            if (bNew) {
                if (pGraph) pGraph->Release();
                pGraph = NULL;
                name = target;
                Snapshot* pSnap = new Snapshot;
                pSnap->name = name.empty() ? name : name.substr(1);
                if (!name.empty()) {
                    pSnap->hr = GetRegisteredGraph(name, &pGraph);
                    if (FAILED(pSnap->hr)) pSnap->eState = Snapshot::Failed;
                }
                if (pGraph == NULL) {
                    Post(pSnap);
                    continue;
                }
                delete pSnap;
            }
            if (pGraph == NULL) continue;
            Snapshot* pSnap = new Snapshot;
            pSnap->name = name.substr(1);
            pSnap->hr = graphview::ReadGraph(pGraph, &pSnap->graph);
            if (FAILED(pSnap->hr)) {
                // The graph went away: say so, and stop asking it.
                pSnap->eState = Snapshot::Disconnected;
                pSnap->graph.filters.clear();
                pSnap->message = pintext::Format(L"graph disconnected (0x%08X)", (UINT)pSnap->hr);
                pGraph->Release();
                pGraph = NULL;
            } else {
                pSnap->eState = Snapshot::Attached;
                if (pSnap->graph.filters.empty()) pSnap->message = L"(the graph is empty)";
            }
            Post(pSnap);
        }
        if (pGraph) pGraph->Release();
        ::CoUninitialize();
    }

    CRITICAL_SECTION m_cs;
    HANDLE m_hWake;
    HANDLE m_hThread;
    std::wstring m_target;
    bool m_bNew;
    bool m_bStop;
};

CWatcher g_watcher;
Snapshot g_shown;  // what the window shows

void ApplySnapshot(Snapshot* pSnap) {
    std::wstring title = kTitle;
    switch (pSnap->eState) {
    case Snapshot::Attached: title += L" - attached to " + pSnap->name; break;
    case Snapshot::Disconnected: title += L" - graph disconnected: " + pSnap->name; break;
    case Snapshot::Failed: title += pintext::Format(L" - can't attach to %s (0x%08X)", pSnap->name.c_str(), (UINT)pSnap->hr); break;
    case Snapshot::Detached: break;
    }
    ::SetWindowTextW(g_hWndMain, title.c_str());
    graphview::SetGraph(g_hWndView, pSnap->graph, pSnap->message);
    g_shown = *pSnap;
}

DWORD EnvNumber(LPCWSTR pszName) {
    wchar_t sz[32];
    DWORD n = ::GetEnvironmentVariableW(pszName, sz, 32);
    if (n == 0 || n >= 32) return 0;
    return (DWORD)wcstoul(sz, NULL, 10);
}

// Keeps the message loop going for ms milliseconds without a window; false when told to quit.
bool IdleFor(DWORD ms) {
    const DWORD dwStart = ::GetTickCount();
    for (DWORD dwElapsed; (dwElapsed = ::GetTickCount() - dwStart) < ms;) {
        ::MsgWaitForMultipleObjects(0, NULL, FALSE, ms - dwElapsed, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return false;
            ::DispatchMessageW(&msg);
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// The connect dialog.

struct ConnectContext {
    std::vector<GraphEntry> entries;
    int nChosen = -1;
};

INT_PTR CALLBACK ConnectDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    ConnectContext* pCtx = (ConnectContext*)::GetWindowLongPtrW(hDlg, DWLP_USER);
    switch (uMsg) {
    case WM_INITDIALOG:
        ::SetWindowLongPtrW(hDlg, DWLP_USER, lParam);
        pCtx = (ConnectContext*)lParam;
        for (const GraphEntry& e : pCtx->entries)
            ::SendDlgItemMessageW(hDlg, IDC_GRAPHS, LB_ADDSTRING, 0, (LPARAM)e.line.c_str());
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_GRAPHS:
            if (HIWORD(wParam) != LBN_DBLCLK) return FALSE;
            // A double click confirms.
            [[fallthrough]];
        case IDOK: {
            int nSel = (int)::SendDlgItemMessageW(hDlg, IDC_GRAPHS, LB_GETCURSEL, 0, 0);
            if (nSel < 0 || nSel >= (int)pCtx->entries.size()) {
                ::MessageBeep(MB_ICONWARNING);
                return TRUE;
            }
            pCtx->nChosen = nSel;
            ::EndDialog(hDlg, IDOK);
            return TRUE;
        }
        case IDCANCEL:
            ::EndDialog(hDlg, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

void OnConnect(HWND hWnd) {
    if (DWORD dwDelay = EnvNumber(L"QUORLIN_GRAPHEDT_CONNECT_DELAY_MS")) {
        if (!IdleFor(dwDelay)) {
            ::PostQuitMessage(0);
            return;
        }
    }
    // The list is complete before the dialog exists.
    ConnectContext ctx;
    ctx.entries = EnumerateGraphs();
    if (::DialogBoxParamW(g_hInstance, MAKEINTRESOURCEW(IDD_CONNECT), hWnd, ConnectDlgProc, (LPARAM)&ctx) == IDOK &&
        ctx.nChosen >= 0) {
        g_watcher.Attach(ctx.entries[ctx.nChosen].displayName);
    }
}

// The property pages of the selected filter: the filter's own, and the pins page.
void OnProperties(HWND hWnd) {
    const std::wstring filterName = graphview::SelectedFilter(g_hWndView);
    if (filterName.empty() || g_shown.eState != Snapshot::Attached) return;
    IFilterGraph* pGraph = NULL;
    if (FAILED(GetRegisteredGraph(L"!" + g_shown.name, &pGraph))) return;
    IBaseFilter* pFilter = NULL;
    if (SUCCEEDED(pGraph->FindFilterByName(filterName.c_str(), &pFilter)) && pFilter != NULL) {
        std::vector<CLSID> pages;
        ISpecifyPropertyPages* pSpecify = NULL;
        if (SUCCEEDED(pFilter->QueryInterface(IID_ISpecifyPropertyPages, (void**)&pSpecify))) {
            CAUUID cauuid = {};
            if (SUCCEEDED(pSpecify->GetPages(&cauuid))) {
                pages.assign(cauuid.pElems, cauuid.pElems + cauuid.cElems);
                ::CoTaskMemFree(cauuid.pElems);
            }
            pSpecify->Release();
        }
        pages.push_back(CLSID_PinsPropertyPage);
        IUnknown* pUnk = pFilter;
        ::OleCreatePropertyFrame(hWnd, 30, 30, filterName.c_str(), 1, &pUnk, (ULONG)pages.size(), pages.data(),
                                 LOCALE_USER_DEFAULT, 0, NULL);
        pFilter->Release();
    }
    pGraph->Release();
}

LRESULT CALLBACK MainWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    switch (uMsg) {
    case WM_CREATE:
        g_hWndView = ::CreateWindowExW(WS_EX_CLIENTEDGE, graphview::kViewClassName, L"",
                                       WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP, 0, 0, 0, 0, hWnd,
                                       (HMENU)(INT_PTR)IDC_VIEW, g_hInstance, NULL);
        g_hWndInfo = ::CreateWindowExW(WS_EX_CLIENTEDGE, L"Edit", graphview::SelectionText(g_hWndView).c_str(),
                                       WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY, 0, 0, 0,
                                       0, hWnd, (HMENU)(INT_PTR)IDC_INFO, g_hInstance, NULL);
        ::SendMessageW(g_hWndInfo, WM_SETFONT, (WPARAM)::GetStockObject(DEFAULT_GUI_FONT), FALSE);
        return 0;
    case WM_SIZE: {
        const int cx = LOWORD(lParam), cy = HIWORD(lParam);
        TEXTMETRICW tm = {};
        HDC hdc = ::GetDC(g_hWndInfo);
        HGDIOBJ hOld = ::SelectObject(hdc, ::GetStockObject(DEFAULT_GUI_FONT));
        ::GetTextMetricsW(hdc, &tm);
        ::SelectObject(hdc, hOld);
        ::ReleaseDC(g_hWndInfo, hdc);
        const int cyInfo = std::min(cy / 2, (int)tm.tmHeight * kInfoLines + 8);
        ::MoveWindow(g_hWndView, 0, 0, cx, cy - cyInfo, TRUE);
        ::MoveWindow(g_hWndInfo, 0, cy - cyInfo, cx, cyInfo, TRUE);
        return 0;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case ID_FILE_CONNECT: OnConnect(hWnd); return 0;
        case ID_FILE_DISCONNECT: g_watcher.Attach(L""); return 0;
        case ID_FILE_EXIT: ::DestroyWindow(hWnd); return 0;
        case ID_VIEW_REFRESH: g_watcher.Refresh(); return 0;
        case ID_VIEW_PROPERTIES: OnProperties(hWnd); return 0;
        case IDC_VIEW:
            if (HIWORD(wParam) == graphview::kViewSelChange)
                ::SetWindowTextW(g_hWndInfo, graphview::SelectionText(g_hWndView).c_str());
            else if (HIWORD(wParam) == graphview::kViewOpenFilter)
                OnProperties(hWnd);
            return 0;
        }
        break;
    case WM_SNAPSHOT: {
        Snapshot* pSnap = (Snapshot*)lParam;
        ApplySnapshot(pSnap);
        delete pSnap;
        return 0;
    }
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int nCmdShow) {
    g_hInstance = hInstance;
    if (DWORD dwBusy = EnvNumber(L"QUORLIN_GRAPHEDT_BUSY_MS")) ::Sleep(dwBusy);
    HRESULT hrCom = ::CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    // Reach the running object table and build the connect dialog once now, so that the
    // dialog opens at once when asked for.
    EnumerateGraphs();
    ConnectContext warm;
    if (HWND hDlg = ::CreateDialogParamW(hInstance, MAKEINTRESOURCEW(IDD_CONNECT), NULL, ConnectDlgProc, (LPARAM)&warm))
        ::DestroyWindow(hDlg);

    bool bRun = true;
    if (DWORD dwDelay = EnvNumber(L"QUORLIN_GRAPHEDT_DELAY_MS")) bRun = IdleFor(dwDelay);

    WNDCLASSEXW wc = {sizeof(wc)};
    wc.lpfnWndProc = MainWndProc;
    wc.hInstance = hInstance;
    wc.hIcon = ::LoadIconW(NULL, (LPCWSTR)IDI_APPLICATION);
    wc.hCursor = ::LoadCursorW(NULL, (LPCWSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszClassName = kClassName;
    ::RegisterClassExW(&wc);
    graphview::RegisterViewClass(hInstance);

    MSG msg = {};
    if (bRun) {
        g_hWndMain = ::CreateWindowExW(0, kClassName, kTitle, WS_OVERLAPPEDWINDOW, 40, 40, 1180, 640, NULL,
                                       ::LoadMenuW(hInstance, MAKEINTRESOURCEW(IDR_MAINMENU)), hInstance, NULL);
        if (g_hWndMain == NULL) return 1;
        g_watcher.Start();
        if (EnvNumber(L"QUORLIN_GRAPHEDT_HIDE") != 1) {
            ::ShowWindow(g_hWndMain, nCmdShow);
            ::UpdateWindow(g_hWndMain);
        }
        while (::GetMessageW(&msg, NULL, 0, 0) > 0) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        g_watcher.Stop();
    }
    if (SUCCEEDED(hrCom)) ::CoUninitialize();
    return (int)msg.wParam;
}
