#include "tests/support/WindowTools.h"

#include <tlhelp32.h>

namespace {

struct ModalRun {
    const std::function<HWND()>* window;
    const std::function<void(HWND)>* body;
    UINT_PTR idTimer;
    bool done;
};
ModalRun* g_pRun = nullptr;

void CALLBACK ModalTimerProc(HWND, UINT, UINT_PTR idEvent, DWORD) {
    ModalRun* run = g_pRun;
    if (!run || run->done || idEvent != run->idTimer) return;
    HWND hWnd = (*run->window)();
    if (!hWnd || !::IsWindow(hWnd) || !::IsWindowVisible(hWnd)) return;
    run->done = true;
    ::KillTimer(NULL, run->idTimer);
    (*run->body)(hWnd);
    if (::IsWindow(hWnd)) ::PostMessageW(hWnd, WM_COMMAND, IDCANCEL, 0);
}

MessageBoxCatcher* g_pCatcher = nullptr;

// The static control that holds a message box's text, and the one that holds its icon.
const int kMsgBoxTextId = 0xFFFF;
const int kMsgBoxIconId = 0x0440;

}  // namespace

INT_PTR RunWhileModal(const std::function<INT_PTR()>& doModal, const std::function<HWND()>& window,
                      const std::function<void(HWND)>& body) {
    ModalRun run{&window, &body, 0, false};
    ModalRun* pOld = g_pRun;
    g_pRun = &run;
    run.idTimer = ::SetTimer(NULL, 0, 20, ModalTimerProc);
    INT_PTR nRet = doModal();
    if (!run.done) ::KillTimer(NULL, run.idTimer);
    g_pRun = pOld;
    return nRet;
}

void PumpMessages(DWORD ms) {
    PumpUntil([] { return false; }, ms);
}

bool PumpUntil(const std::function<bool()>& pred, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (pred()) return true;
        if (::GetTickCount() - start >= timeoutMs) return pred();
        MSG msg;
        while (::PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                ::PostQuitMessage((int)msg.wParam);
                return pred();
            }
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

MessageBoxCatcher::MessageBoxCatcher(int nAnswer)
    : m_hHook(::SetWindowsHookExW(WH_CBT, CbtProc, NULL, ::GetCurrentThreadId())),
      m_nAnswer(nAnswer),
      m_pOuter(g_pCatcher) {
    g_pCatcher = this;
}

MessageBoxCatcher::~MessageBoxCatcher() {
    g_pCatcher = m_pOuter;
    if (m_hHook) ::UnhookWindowsHookEx(m_hHook);
}

LRESULT CALLBACK MessageBoxCatcher::CbtProc(int nCode, WPARAM wParam, LPARAM lParam) {
    MessageBoxCatcher* self = g_pCatcher;
    if (nCode == HCBT_ACTIVATE && self) {
        HWND hWnd = (HWND)wParam;
        HWND hText = ::GetDlgItem(hWnd, kMsgBoxTextId);
        if (ClassName(hWnd) == L"#32770" && hText) {
            CaughtMessageBox box;
            box.caption = WindowText(hWnd);
            box.text = WindowText(hText);
            HWND hIcon = ::GetDlgItem(hWnd, kMsgBoxIconId);
            if (hIcon && (::GetWindowLongW(hIcon, GWL_STYLE) & WS_VISIBLE))
                box.hIcon = (HICON)::SendMessageW(hIcon, STM_GETICON, 0, 0);
            box.hWndOwner = ::GetWindow(hWnd, GW_OWNER);
            for (int id = IDOK; id <= IDCONTINUE; ++id) {
                HWND hButton = ::GetDlgItem(hWnd, id);
                if (hButton && (::GetWindowLongW(hButton, GWL_STYLE) & WS_VISIBLE)) box.buttons.push_back(id);
            }
            self->m_boxes.push_back(box);
            if (self->onShow) self->onShow(hWnd);
            ::PostMessageW(hWnd, WM_COMMAND, self->m_nAnswer, 0);
        }
    }
    return ::CallNextHookEx(NULL, nCode, wParam, lParam);
}

std::wstring WindowText(HWND hWnd) {
    int n = ::GetWindowTextLengthW(hWnd);
    std::wstring s(n + 1, L'\0');
    n = ::GetWindowTextW(hWnd, &s[0], n + 1);
    s.resize(n);
    return s;
}

std::wstring ItemText(HWND hDlg, int nID) { return WindowText(::GetDlgItem(hDlg, nID)); }

std::wstring ClassName(HWND hWnd) {
    wchar_t sz[256] = {};
    ::GetClassNameW(hWnd, sz, 256);
    return sz;
}

std::vector<DWORD> ProcessesNamed(LPCWSTR pszExe) {
    std::vector<DWORD> ids;
    HANDLE hSnap = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnap == INVALID_HANDLE_VALUE) return ids;
    PROCESSENTRY32W pe = {sizeof(pe)};
    for (BOOL b = ::Process32FirstW(hSnap, &pe); b; b = ::Process32NextW(hSnap, &pe))
        if (::lstrcmpiW(pe.szExeFile, pszExe) == 0) ids.push_back(pe.th32ProcessID);
    ::CloseHandle(hSnap);
    return ids;
}

void EndProcessesNamed(LPCWSTR pszExe) {
    for (DWORD dwId : ProcessesNamed(pszExe)) {
        HANDLE h = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, dwId);
        if (h == NULL) continue;
        ::TerminateProcess(h, 1);
        ::WaitForSingleObject(h, 2000);
        ::CloseHandle(h);
    }
}
