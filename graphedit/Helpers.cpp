// CGraphEdit: running object table registration and GraphEdit automation.
#include "graphedit/Helpers.h"

#include <stdlib.h>
#include <wchar.h>

#include <vector>

#include "app/Diagnostics.h"

namespace {

// Where GraphEdit is installed, and the file name used when nothing is registered.
const wchar_t kGraphEditKey[] = L"Software\\Microsoft\\Shared Tools\\Graphedit";
const wchar_t kGraphEditValue[] = L"Path";
const wchar_t kGraphEditFile[] = L"graphedt.exe";
// The property-page server's class key under HKEY_CLASSES_ROOT.
const wchar_t kProppageKey[] = L"CLSID\\{29E07010-BD27-11CE-AB59-00AA00577DA1}";
const wchar_t kProppageSubKey[] = L"InprocServer32";

const DWORD kInputIdleWait = 1000;      // ms for GraphEdit to accept input
const int kMainWindowPasses = 9;        // passes over the top-level windows
const DWORD kMainWindowStyle = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;  // 0x00CC0000
const DWORD kVisibleWait = 100;         // ms for the main window to become visible
const DWORD kVisiblePoll = 10;
const int kDialogPasses = 9;            // passes looking for the connect dialog
const DWORD kDialogPause = 10;
const DWORD kQuitWait = 1000;           // ms for GraphEdit's main thread to end
const int kCookieNameSize = 64;         // the registration name and a list line

// Reads a string value into a buffer of cch characters. Accepted only as REG_SZ or
// REG_EXPAND_SZ (used as stored) that ends within the buffer.
bool ReadRegString(HKEY hKey, LPCWSTR pszValue, LPWSTR psz, DWORD cch) {
    DWORD dwType = 0;
    DWORD dwSize = cch * sizeof(WCHAR);
    if (::RegQueryValueExW(hKey, pszValue, NULL, &dwType, (LPBYTE)psz, &dwSize) != ERROR_SUCCESS ||
        (dwType != REG_SZ && dwType != REG_EXPAND_SZ)) {
        return false;
    }
    DWORD n = dwSize / sizeof(WCHAR);
    if (n > 0 && psz[n - 1] == L'\0') return true;
    if (n >= cch) return false;  // no room left for the terminator
    psz[n] = L'\0';
    return true;
}

bool StartProcess(LPCWSTR pszApplication, PROCESS_INFORMATION* pPI) {
    STARTUPINFOW rgSI;
    ZeroMemory(&rgSI, sizeof(rgSI));
    rgSI.cb = sizeof(rgSI);
    rgSI.dwFlags = STARTF_USESHOWWINDOW;
    rgSI.wShowWindow = SW_SHOWNORMAL;
    ZeroMemory(pPI, sizeof(*pPI));
    if (!::CreateProcessW(pszApplication, NULL, NULL, NULL, FALSE, NORMAL_PRIORITY_CLASS, NULL, NULL, &rgSI, pPI))
        return false;
    // A program of the host system that the platform starts for us comes back without a
    // process handle, and its thread handle and ids are not to be trusted (closing the "thread"
    // could close any handle of ours): there is no Windows program to talk to.
    if (pPI->hProcess == NULL) {
        ZeroMemory(pPI, sizeof(*pPI));
        ::SetLastError(ERROR_BAD_EXE_FORMAT);
        return false;
    }
    return true;
}

HRESULT HResultFromLastError(DWORD dwError) { return dwError != 0 ? HRESULT_FROM_WIN32(dwError) : E_FAIL; }

}  // namespace

CGraphEdit::CGraphEdit() : m_dwCookie(0), m_rgPI(), m_hWndMain(NULL), m_hWndList(NULL) {}

CGraphEdit::~CGraphEdit() { Close(); }

// ---------------------------------------------------------------------------------------
// Running object table.

void CGraphEdit::FormatCookieName(LPWSTR szCookieName, const void* pGraph, DWORD dwProcessId) {
    ::wsprintfW(szCookieName, L"FilterGraph %08x pid %08x", (DWORD)(DWORD_PTR)pGraph, dwProcessId);
}

HRESULT CGraphEdit::AddToRot(IGraphBuilder* pGraph, DWORD* pdwCookie) {
    ATLASSERT(pGraph != NULL);
    if (pGraph == NULL) return E_INVALIDARG;
    ATLASSERT(pdwCookie != NULL);
    if (pdwCookie == NULL) return E_POINTER;
    *pdwCookie = 0;

    CComPtr<IRunningObjectTable> spROT;
    HRESULT hr = ::GetRunningObjectTable(0, &spROT);
    if (hr != S_OK) return hr;

    WCHAR szCookieName[kCookieNameSize];
    FormatCookieName(szCookieName, pGraph, ::GetCurrentProcessId());
    CComPtr<IMoniker> spMoniker;
    hr = ::CreateItemMoniker(L"!", szCookieName, &spMoniker);
    if (FAILED(hr)) return hr;

    // A weak registration: the table does not keep the graph alive.
    hr = spROT->Register(0, pGraph, spMoniker, pdwCookie);
    if (FAILED(hr)) *pdwCookie = 0;
    return hr;
}

bool CGraphEdit::RemoveFromRot(DWORD dwCookie) {
    if (dwCookie == 0) return true;
    CComPtr<IRunningObjectTable> spROT;
    if (::GetRunningObjectTable(0, &spROT) != S_OK) return true;
    return spROT->Revoke(dwCookie) == S_OK;
}

// A line of GraphEdit's list stands for this graph when it holds "pid " and this process's
// id in hexadecimal followed by a space, and later ends with "IFilterGraph = " and the low
// 32 bits of the graph's address.
bool CGraphEdit::IsGraphItem(LPCWSTR pszCookieName, IGraphBuilder* pGraph) {
    ATLASSERT(pszCookieName != NULL);
    if (pszCookieName == NULL) return false;

    LPCWSTR pszPid = ::wcsstr(pszCookieName, L"pid ");
    if (pszPid == NULL) return false;
    LPCWSTR pszNumber = pszPid + 4;
    LPWSTR pszEnd = NULL;
    unsigned long nValue = ::wcstoul(pszNumber, &pszEnd, 16);
    if (pszEnd == pszNumber || nValue != ::GetCurrentProcessId() || *pszEnd != L' ') return false;

    LPCWSTR pszGraph = ::wcsstr(pszEnd + 1, L"IFilterGraph = ");
    if (pszGraph == NULL) return false;
    pszNumber = pszGraph + 15;
    nValue = ::wcstoul(pszNumber, &pszEnd, 16);
    if (pszEnd == pszNumber || nValue != (DWORD)(DWORD_PTR)pGraph || *pszEnd != L'\0') return false;
    return true;
}

// ---------------------------------------------------------------------------------------
// GraphEdit.

HRESULT CGraphEdit::ShowGraph(IGraphBuilder* pGraph) {
    Close();

    WCHAR szProppage_dll[MAX_PATH];
    if (!IsProppageRegistered(szProppage_dll)) {
        DIAG("CGraphEdit::ShowGraph(): Proppage.dll is not registered");
        return REGDB_E_CLASSNOTREG;
    }

    HRESULT hr = AddToRot(pGraph, &m_dwCookie);
    if (FAILED(hr)) return hr;
    m_registrations.Hold();

    hr = LoadGraphEdit(szProppage_dll);
    if (hr != S_OK) return hr;

    if (FindMainWindow()) {
        PostConnectCommand();
        SelectGraph(pGraph);
        return S_OK;
    }
    return S_FALSE;
}

void CGraphEdit::Close() {
    RemoveFromRot(m_dwCookie);
    m_dwCookie = 0;
    m_hWndList = NULL;
    m_hWndMain = NULL;
    bool bEnded = true;
    if (m_rgPI.hThread != NULL) {
        ::PostThreadMessageW(m_rgPI.dwThreadId, WM_QUIT, 0, 0);
        // GraphEdit may be in the middle of reading the graph, from this apartment: its calls
        // are served meanwhile, so that it ends having released everything it held. A
        // GraphEdit that ended without doing so would leave our filters held by its stubs.
        DWORD dwIndex = 0;
        if (::CoWaitForMultipleHandles(0, kQuitWait, 1, &m_rgPI.hThread, &dwIndex) == CO_E_NOTINITIALIZED)
            ::WaitForSingleObject(m_rgPI.hThread, kQuitWait);
        bEnded = ::WaitForSingleObject(m_rgPI.hThread, 0) == WAIT_OBJECT_0;
        ::CloseHandle(m_rgPI.hThread);
    }
    if (m_rgPI.hProcess != NULL) ::CloseHandle(m_rgPI.hProcess);
    ZeroMemory(&m_rgPI, sizeof(m_rgPI));
    // A GraphEdit still running may still be reading: its registrations stay until a later
    // Close finds nothing running.
    if (bEnded) m_registrations.Release();
}

void CGraphEdit::DisconnectGraph(IFilterGraph* pGraph) {
    if (pGraph == NULL) return;
    CComPtr<IEnumFilters> spFilters;
    if (SUCCEEDED(pGraph->EnumFilters(&spFilters)) && spFilters) {
        for (CComPtr<IBaseFilter> spFilter; spFilters->Next(1, &spFilter, NULL) == S_OK; spFilter.Release()) {
            CComPtr<IEnumPins> spPins;
            if (SUCCEEDED(spFilter->EnumPins(&spPins)) && spPins) {
                for (CComPtr<IPin> spPin; spPins->Next(1, &spPin, NULL) == S_OK; spPin.Release())
                    ::CoDisconnectObject(spPin, 0);
            }
            ::CoDisconnectObject(spFilter, 0);
        }
    }
    ::CoDisconnectObject(pGraph, 0);
}

bool CGraphEdit::IsProppageRegistered(LPWSTR pszProppage_dll) {
    bool bRegistered = false;
    HKEY hKey = NULL;
    HKEY hSubKey = NULL;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, kProppageKey, 0, KEY_READ, &hKey) == ERROR_SUCCESS &&
        ::RegOpenKeyExW(hKey, kProppageSubKey, 0, KEY_READ, &hSubKey) == ERROR_SUCCESS) {
        bRegistered = pszProppage_dll == NULL || ReadRegString(hSubKey, NULL, pszProppage_dll, MAX_PATH);
    }
    if (hSubKey != NULL) ::RegCloseKey(hSubKey);
    if (hKey != NULL) ::RegCloseKey(hKey);
    if (!bRegistered && pszProppage_dll != NULL) pszProppage_dll[0] = L'\0';
    return bRegistered;
}

HRESULT CGraphEdit::LoadGraphEdit(LPCWSTR pszProppage_dll) {
    WCHAR szGraphEdit[MAX_PATH];
    szGraphEdit[0] = L'\0';
    bool bRegistered = false;
    HKEY hKey = NULL;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kGraphEditKey, 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
        bRegistered = ReadRegString(hKey, kGraphEditValue, szGraphEdit, MAX_PATH);
        ::RegCloseKey(hKey);
    }
    if (!bRegistered) ::lstrcpyW(szGraphEdit, kGraphEditFile);

    // With an application name and no command line, a bare name is looked for in the
    // current directory only.
    PROCESS_INFORMATION rgPI;
    bool bStarted = StartProcess(szGraphEdit, &rgPI);
    DWORD dwError = bStarted ? 0 : ::GetLastError();

    // Failing that, GraphEdit is looked for beside the property-page server.
    if (!bStarted && dwError == ERROR_FILE_NOT_FOUND && pszProppage_dll != NULL && pszProppage_dll[0] != L'\0') {
        ::lstrcpynW(szGraphEdit, pszProppage_dll, MAX_PATH);
        LPWSTR pszSlash = NULL;
        for (LPWSTR p = szGraphEdit; *p; ++p)
            if (*p == L'\\' || *p == L'/') pszSlash = p;
        if (pszSlash != NULL) {
            // The directory and the file name must fit in the path buffer.
            if ((pszSlash + 1 - szGraphEdit) + ::lstrlenW(kGraphEditFile) >= MAX_PATH) {
                dwError = ERROR_FILENAME_EXCED_RANGE;
            } else {
                ::lstrcpyW(pszSlash + 1, kGraphEditFile);
                bStarted = StartProcess(szGraphEdit, &rgPI);
                dwError = bStarted ? 0 : ::GetLastError();
            }
        }
    }
    if (!bStarted) return HResultFromLastError(dwError);

    DWORD dwWait = ::WaitForInputIdle(rgPI.hProcess, kInputIdleWait);
    if (dwWait != 0) {
        HRESULT hr = dwWait == WAIT_TIMEOUT ? E_FAIL : HResultFromLastError(::GetLastError());
        ATLTRACE(L"###Err### CGraphEdit::LoadGraphEdit(): WaitForInputIdle()=%u, hr=0x%X\n", dwWait, hr);
        ::CloseHandle(rgPI.hThread);
        ::CloseHandle(rgPI.hProcess);
        return hr;
    }
    m_rgPI = rgPI;
    return S_OK;
}

bool CGraphEdit::FindMainWindow() {
    ATLASSERT(m_rgPI.hProcess != NULL && m_rgPI.hThread != NULL);
    m_hWndMain = NULL;
    for (int i = 0; i < kMainWindowPasses && m_hWndMain == NULL; ++i)
        ::EnumWindows(EnumMainWindowProc, (LPARAM)this);
    if (m_hWndMain != NULL && !WaitWhileHidden()) m_hWndMain = NULL;
    if (m_hWndMain == NULL) ATLTRACE(L"###Err### CGraphEdit::FindMainWindow(): GraphEdit window not found\n");
    return m_hWndMain != NULL;
}

bool CGraphEdit::WaitWhileHidden() {
    if (m_hWndMain == NULL) return false;
    const DWORD dwDeadline = ::GetTickCount() + kVisibleWait;
    for (int nRest; (nRest = (int)(dwDeadline - ::GetTickCount())) >= 0;) {
        if (::GetWindowLongW(m_hWndMain, GWL_STYLE) & WS_VISIBLE) return true;
        ATLTRACE2(atlTraceWindowing, 4, L"CGraphEdit::WaitWhileHidden(): wait time rest is %i ms\n", nRest);
        ::Sleep(kVisiblePoll);
    }
    ATLTRACE(L"###Err### CGraphEdit::WaitWhileHidden(): Wait time is ending\n");
    return false;
}

void CGraphEdit::PostConnectCommand() {
    if (m_hWndMain != NULL) ::PostMessageW(m_hWndMain, WM_COMMAND, MAKEWPARAM(ID_GRAPHEDIT_CONNECT, 1), 0);
}

void CGraphEdit::SelectGraph(IGraphBuilder* pGraph) {
    if (!::IsWindow(m_hWndMain)) return;
    m_hWndList = NULL;
    for (int i = 0; i < kDialogPasses; ++i) {
        ::EnumWindows(EnumDialogProc, (LPARAM)this);
        if (::IsWindow(m_hWndList)) {
            int nItem = FindGraphItem(pGraph);
            if (nItem >= 0 && ::SendMessageW(m_hWndList, LB_SETCURSEL, nItem, 0) != LB_ERR)
                ::PostMessageW(::GetParent(m_hWndList), WM_COMMAND, IDOK, 0);
            return;
        }
        ::Sleep(kDialogPause);
    }
}

int CGraphEdit::FindGraphItem(IGraphBuilder* pGraph) {
    if (!::IsWindow(m_hWndList)) return -1;
    int nCount = (int)::SendMessageW(m_hWndList, LB_GETCOUNT, 0, 0);
    for (int i = 0; i < nCount; ++i) {
        WCHAR szCookieName[kCookieNameSize];
        szCookieName[0] = L'\0';
        // The list hands a line over without a limit: a line that does not fit the buffer
        // is read into one of its own size.
        int nLength = (int)::SendMessageW(m_hWndList, LB_GETTEXTLEN, i, 0);
        if (nLength <= 0) continue;
        std::vector<WCHAR> rgLong;
        LPWSTR pszLine = szCookieName;
        if (nLength >= kCookieNameSize) {
            rgLong.assign(nLength + 1, L'\0');
            pszLine = rgLong.data();
        }
        int nRead = (int)::SendMessageW(m_hWndList, LB_GETTEXT, i, (LPARAM)pszLine);
        if (nRead > 0 && nRead <= nLength && IsGraphItem(pszLine, pGraph)) return i;
    }
    return -1;
}

// ---------------------------------------------------------------------------------------
// Window enumeration.

BOOL CALLBACK CGraphEdit::EnumMainWindowProc(HWND hWnd, LPARAM lParam) {
    CGraphEdit* pThis = (CGraphEdit*)lParam;
    ATLASSERT(pThis != NULL);
    return pThis != NULL ? pThis->OnEnumMainWindow(hWnd) : FALSE;
}

BOOL CALLBACK CGraphEdit::EnumDialogProc(HWND hWnd, LPARAM lParam) {
    CGraphEdit* pThis = (CGraphEdit*)lParam;
    ATLASSERT(pThis != NULL);
    return pThis != NULL ? pThis->OnEnumDialog(hWnd) : FALSE;
}

BOOL CALLBACK CGraphEdit::EnumDialogChildProc(HWND hWnd, LPARAM lParam) {
    CGraphEdit* pThis = (CGraphEdit*)lParam;
    ATLASSERT(pThis != NULL);
    return pThis != NULL ? pThis->OnEnumDialogChild(hWnd) : FALSE;
}

BOOL CGraphEdit::OnEnumMainWindow(HWND hWnd) {
    DWORD dwProcessId = 0;
    ::GetWindowThreadProcessId(hWnd, &dwProcessId);
    if (dwProcessId == m_rgPI.dwProcessId &&
        ((DWORD)::GetWindowLongW(hWnd, GWL_STYLE) & kMainWindowStyle) == kMainWindowStyle) {
        m_hWndMain = hWnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CGraphEdit::OnEnumDialog(HWND hWnd) {
    DWORD dwProcessId = 0;
    ::GetWindowThreadProcessId(hWnd, &dwProcessId);
    if (dwProcessId == m_rgPI.dwProcessId && ::GetParent(hWnd) == m_hWndMain)
        return ::EnumChildWindows(hWnd, EnumDialogChildProc, (LPARAM)this);
    return TRUE;
}

BOOL CGraphEdit::OnEnumDialogChild(HWND hWnd) {
    WCHAR szClassName[256];
    szClassName[0] = L'\0';
    ::GetClassNameW(hWnd, szClassName, 256);
    if (::lstrcmpW(szClassName, L"ListBox") == 0) {
        m_hWndList = hWnd;
        return FALSE;
    }
    return TRUE;
}
