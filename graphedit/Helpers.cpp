// CGraphEdit: running object table registration and GraphEdit automation.
#include "graphedit/Helpers.h"

CGraphEdit::CGraphEdit() : m_dwCookie(0), m_rgPI(), m_hWndMain(NULL), m_hWndList(NULL) {}

CGraphEdit::~CGraphEdit() { Close(); }

bool CGraphEdit::RemoveFromRot(DWORD dwCookie) {
    if (dwCookie == 0) return true;
    CComPtr<IRunningObjectTable> spROT;
    if (::GetRunningObjectTable(0, &spROT) != S_OK) return true;
    return spROT->Revoke(dwCookie) == S_OK;
}

void CGraphEdit::Close() {
    RemoveFromRot(m_dwCookie);
    m_dwCookie = 0;
    m_hWndList = NULL;
    m_hWndMain = NULL;
    if (m_rgPI.hThread != NULL) {
        ::PostThreadMessageW(m_rgPI.dwThreadId, WM_QUIT, 0, 0);
        ::WaitForSingleObject(m_rgPI.hThread, 1000);
        ::CloseHandle(m_rgPI.hThread);
    }
    if (m_rgPI.hProcess != NULL) ::CloseHandle(m_rgPI.hProcess);
    ZeroMemory(&m_rgPI, sizeof(m_rgPI));
}
