// ATL subset: assertion and trace reporting.
#pragma once

#ifndef STRSAFE_NO_DEPRECATE
#define STRSAFE_NO_DEPRECATE
#endif
#include <windows.h>

namespace ATL {

// Kinds of developer diagnostics.
enum AtlReportKind { atlReportAssert = 0, atlReportTrace = 1 };

// Receives every assertion report and trace line, with its exact text, before it goes to
// the debugger output. Used by tests to capture diagnostics.
typedef void (*ATL_REPORT_HOOK)(AtlReportKind eKind, const wchar_t* pszText);
ATL_REPORT_HOOK AtlSetReportHook(ATL_REPORT_HOOK pfnHook);

// An assertion report; it never changes the flow of the caller.
void AtlAssertReport(const wchar_t* pszText, const char* pszFile, int nLine);
// A trace line, formatted as by wsprintfW (at most 1024 characters).
void __cdecl AtlTrace(const wchar_t* pszFormat, ...);
void __cdecl AtlTrace2(DWORD_PTR dwCategory, UINT nLevel, const wchar_t* pszFormat, ...);

// Trace categories used by the application.
const DWORD_PTR atlTraceGeneral   = 0x000001;
const DWORD_PTR atlTraceCOM       = 0x000002;
const DWORD_PTR atlTraceWindowing = 0x000004;

}  // namespace ATL

#define ATLASSERT(expr) \
    do { if (!(expr)) ::ATL::AtlAssertReport(L"" #expr, __FILE__, __LINE__); } while (0)
#define ATLTRACE ::ATL::AtlTrace
#define ATLTRACE2 ::ATL::AtlTrace2
