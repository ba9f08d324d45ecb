// Catching the common open and save dialogs that this thread shows: what they showed is
// recorded, then they are cancelled or given a file name and confirmed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct CaughtFileDialog {
    std::wstring title;
    std::vector<std::wstring> filters;  // display texts of the file-type list, in order
    int nFilter = -1;                   // the file type selected when it opened
    std::wstring fileName;              // the file-name box when it opened
    HWND hWndOwner = NULL;
};

class FileDialogCatcher {
public:
    // With an empty answer every dialog is cancelled; otherwise the answer is typed into
    // the file-name box and confirmed.
    explicit FileDialogCatcher(const std::wstring& answer = std::wstring());
    ~FileDialogCatcher();
    const std::vector<CaughtFileDialog>& Dialogs() const { return m_dialogs; }

private:
    static LRESULT CALLBACK CbtProc(int nCode, WPARAM wParam, LPARAM lParam);
    static void CALLBACK ReadAndAnswer(HWND hWnd, UINT uMsg, UINT_PTR idEvent, DWORD dwTime);
    HHOOK m_hHook;
    std::wstring m_answer;
    std::vector<CaughtFileDialog> m_dialogs;
    FileDialogCatcher* m_pOuter;
};
