// The message box through which everything reaches the tester.
#include "dialog/ShowMessage.h"

#include "graph/DShow.h"
#include "platform/ErrorText.h"

namespace {

const int kMsgChars = 1024;  // message buffers, terminator included

// Appends pszText to pszMsg (holding n characters) without passing 1023 characters.
void Append(LPWSTR pszMsg, int& n, LPCWSTR pszText) {
    for (; *pszText && n < kMsgChars - 1; ++pszText) pszMsg[n++] = *pszText;
    pszMsg[n] = 0;
}

}  // namespace

int ShowMessageBox(HWND hWnd, LPCWSTR pszText, LPCWSTR pszCaption, HRESULT hr, UINT uType) {
    WCHAR msg[kMsgChars] = {};
    WCHAR str[kMsgChars] = {};
    int n = 0;

    if (pszText != NULL) {
        lstrcpynW(msg, pszText, kMsgChars);
        n = lstrlenW(msg);
    }

    if (hr != 0) {
        DWORD cch = 0;
        if (HRESULT_FACILITY(hr) == FACILITY_ITF) cch = GetDirectShowErrorText(hr, str, kMsgChars - 1);
        if (cch == 0) cch = GetSystemErrorText(hr, str, kMsgChars - 1);
        if (cch != 0) {
            str[kMsgChars - 1] = 0;
            if (n > 0 && n < kMsgChars - 1) msg[n++] = L'\n';
            Append(msg, n, str);
        }
        wsprintfW(str, L"%sError 0x%X", n > 0 ? L"\n" : L"", (unsigned)hr);
        Append(msg, n, str);
        if (uType == 0) uType = MB_ICONERROR;
    }

    HWND hWndOwner = ::IsWindow(hWnd) ? hWnd : ::GetActiveWindow();
    return ::MessageBoxW(hWndOwner, msg, pszCaption, uType);
}
