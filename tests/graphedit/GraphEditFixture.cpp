#include "tests/graphedit/GraphEditFixture.h"

#include <tlhelp32.h>

#include "tests/support/DiagCapture.h"
#include "tests/support/HostTools.h"
#include "tests/support/WindowTools.h"

namespace {
const wchar_t kGraphEditKey[] = L"Software\\Microsoft\\Shared Tools\\Graphedit";
const wchar_t kServerKey[] = L"CLSID\\{29E07010-BD27-11CE-AB59-00AA00577DA1}\\InprocServer32";
}  // namespace

CComPtr<IGraphBuilder> MakeTeeGraph(LPCWSTR pszTeeName) {
    CComPtr<IGraphBuilder> spGraph;
    CComPtr<IBaseFilter> spTee;
    EXPECT_EQ(spGraph.CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER), S_OK);
    EXPECT_EQ(spTee.CoCreateInstance(CLSID_SmartTee, NULL, CLSCTX_INPROC_SERVER), S_OK);
    if (spGraph && spTee) {
        EXPECT_EQ(spGraph->AddFilter(spTee, pszTeeName), S_OK);
    }
    return spGraph;
}

std::wstring CookieName(const void* pGraph, DWORD dwProcessId) {
    wchar_t sz[64];
    ::wsprintfW(sz, L"FilterGraph %08x pid %08x", (DWORD)(DWORD_PTR)pGraph, dwProcessId);
    return sz;
}

std::vector<std::wstring> RotNames() {
    std::vector<std::wstring> names;
    CComPtr<IRunningObjectTable> spROT;
    CComPtr<IEnumMoniker> spEnum;
    CComPtr<IBindCtx> spBindCtx;
    if (FAILED(::GetRunningObjectTable(0, &spROT)) || FAILED(spROT->EnumRunning(&spEnum)) ||
        FAILED(::CreateBindCtx(0, &spBindCtx)))
        return names;
    for (;;) {
        CComPtr<IMoniker> spMoniker;
        if (spEnum->Next(1, &spMoniker, NULL) != S_OK) break;
        LPOLESTR psz = NULL;
        if (SUCCEEDED(spMoniker->GetDisplayName(spBindCtx, NULL, &psz)) && psz) {
            names.push_back(psz);
            ::CoTaskMemFree(psz);
        }
    }
    return names;
}

bool RotHas(const std::wstring& displayName) {
    for (const auto& n : RotNames())
        if (n == displayName) return true;
    return false;
}

bool WaitProcessEnd(DWORD dwProcessId, DWORD ms) {
    HANDLE h = ::OpenProcess(SYNCHRONIZE, FALSE, dwProcessId);
    if (h == NULL) return true;  // already gone
    bool bEnded = ::WaitForSingleObject(h, ms) == WAIT_OBJECT_0;
    ::CloseHandle(h);
    return bEnded;
}

void GraphEditTest::TearDown() { EndProcessesNamed(L"graphedt.exe"); }

namespace {
struct OwnedSearch {
    HWND hWndOwner;
    DWORD dwProcessId;
    HWND hWnd;
};
BOOL CALLBACK FindOwned(HWND hWnd, LPARAM lParam) {
    OwnedSearch* p = (OwnedSearch*)lParam;
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hWnd, &pid);
    if (pid == p->dwProcessId && ::GetWindow(hWnd, GW_OWNER) == p->hWndOwner) {
        p->hWnd = hWnd;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

HWND OwnedWindow(HWND hWndOwner, DWORD dwProcessId) {
    OwnedSearch s = {hWndOwner, dwProcessId, NULL};
    ::EnumWindows(FindOwned, (LPARAM)&s);
    return s.hWnd;
}

std::vector<std::wstring> ListLines(HWND hList) {
    std::vector<std::wstring> lines;
    int n = (int)::SendMessageW(hList, LB_GETCOUNT, 0, 0);
    for (int i = 0; i < n; ++i) {
        int cch = (int)::SendMessageW(hList, LB_GETTEXTLEN, i, 0);
        std::wstring s(cch > 0 ? cch + 1 : 1, L'\0');
        int got = cch > 0 ? (int)::SendMessageW(hList, LB_GETTEXT, i, (LPARAM)&s[0]) : 0;
        s.resize(got > 0 ? got : 0);
        lines.push_back(s);
    }
    return lines;
}

std::wstring SentText(HWND hWnd) {
    // The text may grow between the two questions: a text that fills the buffer is asked again.
    for (int cchMore = 256;; cchMore *= 4) {
        const int cchBuffer = (int)::SendMessageW(hWnd, WM_GETTEXTLENGTH, 0, 0) + 1 + cchMore;
        std::wstring text(cchBuffer, L'\0');
        const int cch = (int)::SendMessageW(hWnd, WM_GETTEXT, cchBuffer, (LPARAM)&text[0]);
        if (cch < cchBuffer - 1 || cchMore > 1 << 20) {
            text.resize(cch > 0 ? cch : 0);
            return text;
        }
    }
}

std::vector<std::wstring> TextLines(HWND hWnd) {
    std::vector<std::wstring> lines;
    const std::wstring text = SentText(hWnd);
    for (size_t b = 0; b < text.size();) {
        size_t e = text.find(L"\r\n", b);
        if (e == std::wstring::npos) e = text.size();
        lines.push_back(text.substr(b, e - b));
        b = e + 2;
    }
    return lines;
}

HWND GraphEditView(HWND hWndMain) { return ::GetDlgItem(hWndMain, 100); }
HWND GraphEditInfo(HWND hWndMain) { return ::GetDlgItem(hWndMain, 101); }

bool ClickGraphItem(HWND hView, int nIndex, bool bArrow, bool bDouble) {
    const UINT kItemPoint = WM_APP + 20;  // GraphEdit's view: where an item is drawn
    const LRESULT pt = ::SendMessageW(hView, kItemPoint, nIndex, bArrow ? 1 : 0);
    if (pt == -1) return false;
    ::PostMessageW(hView, WM_LBUTTONDOWN, MK_LBUTTON, pt);
    ::PostMessageW(hView, WM_LBUTTONUP, 0, pt);
    if (bDouble) {
        ::PostMessageW(hView, WM_LBUTTONDBLCLK, MK_LBUTTON, pt);
        ::PostMessageW(hView, WM_LBUTTONUP, 0, pt);
    }
    return true;
}

std::wstring WaitForTitle(HWND hWnd, const std::wstring& expected, DWORD ms) {
    std::wstring last;
    PumpUntil([&] {
        last = WindowText(hWnd);
        return last == expected;
    }, ms);
    return last;
}

std::wstring GraphEdtPath() { return ToWinPath(Narrow(GRAPHEDT_EXE)); }
std::wstring ProppagePath() { return ToWinPath(Narrow(PROPPAGE_DLL)); }
std::wstring BinDir() {
    std::wstring s = GraphEdtPath();
    return s.substr(0, s.find_last_of(L'\\'));
}

// ---------------------------------------------------------------------------------------

GraphEditPathGuard::GraphEditPathGuard() : m_bHad(false) {
    wchar_t sz[1024];
    DWORD cb = sizeof(sz);
    DWORD dwType = 0;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, kGraphEditKey, L"Path", RRF_RT_REG_SZ, &dwType, sz, &cb) == ERROR_SUCCESS) {
        m_bHad = true;
        m_value = sz;
    }
}

GraphEditPathGuard::~GraphEditPathGuard() {
    if (m_bHad)
        Set(m_value);
    else
        Remove();
}

void GraphEditPathGuard::Remove() {
    HKEY hKey;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kGraphEditKey, 0, KEY_SET_VALUE, &hKey) == ERROR_SUCCESS) {
        ::RegDeleteValueW(hKey, L"Path");
        ::RegCloseKey(hKey);
    }
}

void GraphEditPathGuard::Set(const std::wstring& value) {
    HKEY hKey;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kGraphEditKey, 0, NULL, 0, KEY_SET_VALUE, NULL, &hKey, NULL),
              ERROR_SUCCESS);
    ::RegSetValueExW(hKey, L"Path", 0, REG_SZ, (const BYTE*)value.c_str(), (DWORD)((value.size() + 1) * 2));
    ::RegCloseKey(hKey);
}

typedef HRESULT(STDAPICALLTYPE* RegisterProc)();

ProppageRegistrationGuard::ProppageRegistrationGuard() : m_hModule(::LoadLibraryW(ProppagePath().c_str())) {
    EXPECT_TRUE(m_hModule != NULL);
}

ProppageRegistrationGuard::~ProppageRegistrationGuard() {
    if (m_hModule == NULL) return;
    auto pfn = (RegisterProc)::GetProcAddress(m_hModule, "DllRegisterServer");
    EXPECT_TRUE(pfn && pfn() == S_OK) << "the property-page server could not be registered again";
    ::FreeLibrary(m_hModule);
}

HRESULT ProppageRegistrationGuard::Unregister() {
    auto pfn = m_hModule ? (RegisterProc)::GetProcAddress(m_hModule, "DllUnregisterServer") : NULL;
    return pfn ? pfn() : E_FAIL;
}

void ProppageRegistrationGuard::SetServerValue(DWORD dwType, const void* pData, DWORD cb) {
    HKEY hKey;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CLASSES_ROOT, kServerKey, 0, KEY_SET_VALUE, &hKey), ERROR_SUCCESS);
    EXPECT_EQ(::RegSetValueExW(hKey, NULL, 0, dwType, (const BYTE*)pData, cb), ERROR_SUCCESS);
    ::RegCloseKey(hKey);
}

EnvGuard::EnvGuard(LPCWSTR pszName, LPCWSTR pszValue) : m_name(pszName), m_bHad(false) {
    wchar_t sz[1024];
    DWORD n = ::GetEnvironmentVariableW(pszName, sz, 1024);
    if (n > 0 && n < 1024) {
        m_bHad = true;
        m_value = sz;
    }
    ::SetEnvironmentVariableW(pszName, pszValue);
}

EnvGuard::~EnvGuard() { ::SetEnvironmentVariableW(m_name.c_str(), m_bHad ? m_value.c_str() : NULL); }

CurrentDirectoryGuard::CurrentDirectoryGuard(const std::wstring& dir) {
    wchar_t sz[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, sz);
    m_saved = sz;
    EXPECT_TRUE(::SetCurrentDirectoryW(dir.c_str())) << Narrow(dir);
}

CurrentDirectoryGuard::~CurrentDirectoryGuard() { ::SetCurrentDirectoryW(m_saved.c_str()); }

// The first start of a program in a fresh Wine session loads everything from disk; GraphEdit
// is started once before the tests, so that their starts meet the bridge's one-second wait
// for input as a tester's machine would.
namespace {
class WarmGraphEdit : public ::testing::Environment {
public:
    void SetUp() override {
        STARTUPINFOW si = {sizeof si};
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = SW_HIDE;
        PROCESS_INFORMATION pi = {};
        std::wstring exe = GraphEdtPath();
        if (!::CreateProcessW(exe.c_str(), NULL, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) return;
        ::WaitForInputIdle(pi.hProcess, 20000);
        ::PostThreadMessageW(pi.dwThreadId, WM_QUIT, 0, 0);
        if (::WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) ::TerminateProcess(pi.hProcess, 1);
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }
};
::testing::Environment* const g_pWarmGraphEdit = ::testing::AddGlobalTestEnvironment(new WarmGraphEdit);
}  // namespace
