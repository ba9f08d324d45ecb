// The message box through which everything reaches the tester.
#pragma once

#include <windows.h>

// Shows pszText, the system's text for hr and the code line "Error 0x..." in a message box.
// A code of 0 shows the text alone, with the given type unchanged.
int ShowMessageBox(HWND hWnd, LPCWSTR pszText, LPCWSTR pszCaption, HRESULT hr, UINT uType);
