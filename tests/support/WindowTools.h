// Driving real windows from tests: running a modal dialog with a test body inside its
// message loop, catching message boxes, pumping messages.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Runs doModal() (which shows a modal dialog); once window() returns the dialog's window,
// runs body(window) inside the dialog's own message loop. If the dialog is still open after
// the body, it is sent IDCANCEL. Returns what doModal() returned.
INT_PTR RunWhileModal(const std::function<INT_PTR()>& doModal, const std::function<HWND()>& window,
                      const std::function<void(HWND)>& body);

template <class TDialog>
INT_PTR RunModal(TDialog& dlg, const std::function<void(HWND)>& body, HWND hWndOwner = NULL) {
    return RunWhileModal([&] { return dlg.DoModal(hWndOwner, 0); }, [&] { return dlg.m_hWnd; }, body);
}

// Dispatches the thread's messages for about ms milliseconds.
void PumpMessages(DWORD ms);
// Dispatches messages until pred() holds or timeoutMs passes; returns pred().
bool PumpUntil(const std::function<bool()>& pred, DWORD timeoutMs);

// What a caught message box showed.
struct CaughtMessageBox {
    std::wstring caption;
    std::wstring text;
    HICON hIcon = NULL;   // the icon shown, NULL for none
    HWND hWndOwner = NULL;
    std::vector<int> buttons;  // IDs of the buttons it offered
};

// While alive, every message box that this thread opens is recorded and answered at once
// (with the given button, IDOK by default).
class MessageBoxCatcher {
public:
    explicit MessageBoxCatcher(int nAnswer = IDOK);
    ~MessageBoxCatcher();
    const std::vector<CaughtMessageBox>& Boxes() const { return m_boxes; }
    void Clear() { m_boxes.clear(); }
    // Optional callback run while the box is on screen, before it is answered.
    std::function<void(HWND)> onShow;

private:
    static LRESULT CALLBACK CbtProc(int nCode, WPARAM wParam, LPARAM lParam);
    HHOOK m_hHook;
    int m_nAnswer;
    std::vector<CaughtMessageBox> m_boxes;
    MessageBoxCatcher* m_pOuter;
};

// Text of a window, and of a dialog's control.
std::wstring WindowText(HWND hWnd);
std::wstring ItemText(HWND hDlg, int nID);
std::wstring ClassName(HWND hWnd);

// Ids of the running processes whose image file is named pszExe.
std::vector<DWORD> ProcessesNamed(LPCWSTR pszExe);
// Ends every running process whose image file is named pszExe (a GraphEdit a test left
// running would go on holding the test program's output).
void EndProcessesNamed(LPCWSTR pszExe);
