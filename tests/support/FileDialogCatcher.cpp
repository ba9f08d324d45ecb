#include "tests/support/FileDialogCatcher.h"

#include <dlgs.h>

#include "tests/support/WindowTools.h"

namespace {

FileDialogCatcher* g_pFileCatcher = nullptr;

// The file-name box: a combo box in newer templates, an edit in older ones.
HWND FileNameBox(HWND hDlg) {
    HWND h = ::GetDlgItem(hDlg, cmb13);
    return h ? h : ::GetDlgItem(hDlg, edt1);
}

}  // namespace

FileDialogCatcher::FileDialogCatcher(const std::wstring& answer)
    : m_hHook(::SetWindowsHookExW(WH_CBT, CbtProc, NULL, ::GetCurrentThreadId())),
      m_answer(answer),
      m_pOuter(g_pFileCatcher) {
    g_pFileCatcher = this;
}

FileDialogCatcher::~FileDialogCatcher() {
    g_pFileCatcher = m_pOuter;
    if (m_hHook) ::UnhookWindowsHookEx(m_hHook);
}

// Runs once the dialog has filled its controls, inside its own message loop.
void CALLBACK FileDialogCatcher::ReadAndAnswer(HWND hWnd, UINT, UINT_PTR idEvent, DWORD) {
    ::KillTimer(hWnd, idEvent);
    FileDialogCatcher* self = g_pFileCatcher;
    if (!self) return;
    HWND hTypes = ::GetDlgItem(hWnd, cmb1);
    HWND hName = FileNameBox(hWnd);
    CaughtFileDialog dlg;
    dlg.title = WindowText(hWnd);
    const int n = (int)::SendMessageW(hTypes, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < n; ++i) {
        const int cch = (int)::SendMessageW(hTypes, CB_GETLBTEXTLEN, i, 0);
        std::wstring s(cch + 1, L'\0');
        ::SendMessageW(hTypes, CB_GETLBTEXT, i, (LPARAM)&s[0]);
        s.resize(cch);
        dlg.filters.push_back(s);
    }
    dlg.nFilter = (int)::SendMessageW(hTypes, CB_GETCURSEL, 0, 0);
    dlg.fileName = WindowText(hName);
    dlg.hWndOwner = ::GetWindow(hWnd, GW_OWNER);
    self->m_dialogs.push_back(dlg);
    if (self->m_answer.empty()) {
        ::PostMessageW(hWnd, WM_COMMAND, IDCANCEL, 0);
    } else {
        ::SetWindowTextW(hName, self->m_answer.c_str());
        ::PostMessageW(hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)::GetDlgItem(hWnd, IDOK));
    }
}

LRESULT CALLBACK FileDialogCatcher::CbtProc(int nCode, WPARAM wParam, LPARAM lParam) {
    FileDialogCatcher* self = g_pFileCatcher;
    if (nCode == HCBT_ACTIVATE && self) {
        HWND hWnd = (HWND)wParam;
        if (ClassName(hWnd) == L"#32770" && ::GetDlgItem(hWnd, cmb1) && FileNameBox(hWnd) &&
            ::GetPropW(hWnd, L"QuorlinFileDialogCaught") == NULL) {
            ::SetPropW(hWnd, L"QuorlinFileDialogCaught", (HANDLE)1);
            ::SetTimer(hWnd, 0x7151, 50, ReadAndAnswer);
        }
    }
    return ::CallNextHookEx(NULL, nCode, wParam, lParam);
}
