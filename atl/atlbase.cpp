// ATL subset: module objects and diagnostic reporting.
#include "atlbase.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

namespace ATL {

CAtlBaseModule _AtlBaseModule;
CAtlWinModule _AtlWinModule;

extern "C" IMAGE_DOS_HEADER __ImageBase;

CAtlBaseModule::CAtlBaseModule() throw()
    : m_hInst((HINSTANCE)&__ImageBase), m_hInstResource((HINSTANCE)&__ImageBase) {}

CAtlWinModule::CAtlWinModule() throw()
    : m_bInitialized(true), m_pCreateWndList(NULL), m_nAtoms(0) {
    ::InitializeCriticalSection(&m_csWindowCreate);
}

CAtlWinModule::~CAtlWinModule() throw() { Term(); }

void CAtlWinModule::AddCreateWndData(_AtlCreateWndData* pData, void* pObject) throw() {
    pData->m_pThis = pObject;
    pData->m_dwThreadID = ::GetCurrentThreadId();
    ::EnterCriticalSection(&m_csWindowCreate);
    pData->m_pNext = m_pCreateWndList;
    m_pCreateWndList = pData;
    ::LeaveCriticalSection(&m_csWindowCreate);
}

void* CAtlWinModule::ExtractCreateWndData() throw() {
    void* pv = NULL;
    ::EnterCriticalSection(&m_csWindowCreate);
    _AtlCreateWndData* pPrev = NULL;
    for (_AtlCreateWndData* pEntry = m_pCreateWndList; pEntry; pEntry = pEntry->m_pNext) {
        if (pEntry->m_dwThreadID == ::GetCurrentThreadId()) {
            if (pPrev == NULL)
                m_pCreateWndList = pEntry->m_pNext;
            else
                pPrev->m_pNext = pEntry->m_pNext;
            pv = pEntry->m_pThis;
            break;
        }
        pPrev = pEntry;
    }
    ::LeaveCriticalSection(&m_csWindowCreate);
    return pv;
}

void CAtlWinModule::AddWindowClass(ATOM atom) throw() {
    if (m_nAtoms < (int)(sizeof(m_rgAtoms) / sizeof(m_rgAtoms[0]))) m_rgAtoms[m_nAtoms++] = atom;
}

void CAtlWinModule::Term() throw() {
    if (!m_bInitialized) return;
    for (int i = 0; i < m_nAtoms; i++)
        ::UnregisterClassW((LPCWSTR)(ULONG_PTR)m_rgAtoms[i], _AtlBaseModule.GetModuleInstance());
    m_nAtoms = 0;
    ::DeleteCriticalSection(&m_csWindowCreate);
    m_bInitialized = false;
}

// ---------------------------------------------------------------------------------------
// Diagnostics.

static ATL_REPORT_HOOK g_pfnReportHook = NULL;

ATL_REPORT_HOOK AtlSetReportHook(ATL_REPORT_HOOK pfnHook) {
    ATL_REPORT_HOOK pfnOld = g_pfnReportHook;
    g_pfnReportHook = pfnHook;
    return pfnOld;
}

// Diagnostics also go to the file named by QUORLIN_DIAG_FILE, when set, so that tests
// driving the program from outside can read them.
static void AppendToDiagFile(const wchar_t* pszText) {
    wchar_t szPath[MAX_PATH];
    DWORD n = ::GetEnvironmentVariableW(L"QUORLIN_DIAG_FILE", szPath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    HANDLE h = ::CreateFileW(szPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return;
    char szUtf8[4096];
    int cb = ::WideCharToMultiByte(CP_UTF8, 0, pszText, -1, szUtf8, sizeof(szUtf8), NULL, NULL);
    if (cb > 1) {
        DWORD cbWritten = 0;
        ::WriteFile(h, szUtf8, cb - 1, &cbWritten, NULL);
    }
    ::CloseHandle(h);
}

static void Emit(AtlReportKind eKind, const wchar_t* pszText) {
    if (g_pfnReportHook) g_pfnReportHook(eKind, pszText);
    if (eKind == atlReportAssert) {
        wchar_t sz[1100];
        ::wsprintfW(sz, L"%.1024s\n", pszText);
        ::OutputDebugStringW(sz);
        AppendToDiagFile(sz);
    } else {
        ::OutputDebugStringW(pszText);
        AppendToDiagFile(pszText);
    }
}

void AtlAssertReport(const wchar_t* pszText, const char* /*pszFile*/, int /*nLine*/) {
    Emit(atlReportAssert, pszText ? pszText : L"");
}

static void TraceV(const wchar_t* pszFormat, va_list args) {
    wchar_t sz[1025];
    ::wvsprintfW(sz, pszFormat, args);
    sz[1024] = 0;
    Emit(atlReportTrace, sz);
}

void __cdecl AtlTrace(const wchar_t* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    TraceV(pszFormat, args);
    va_end(args);
}

void __cdecl AtlTrace2(DWORD_PTR /*dwCategory*/, UINT /*nLevel*/, const wchar_t* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    TraceV(pszFormat, args);
    va_end(args);
}

}  // namespace ATL
