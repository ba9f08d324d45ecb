// Texts for the platform's result codes, for the messages a tester reads.
//
// GetDirectShowErrorText stands where DirectShow's AMGetErrorTextW is asked: it keeps
// DirectShow's own text when there is one, and otherwise (the platform may answer every code
// with a bare "Error: 0x..." line) gives this program's text for the codes a tester meets
// while building and playing graphs: file formats, pins and connections, filter states, the
// structured-storage codes of saved graphs, and codes the system describes (a class that is
// not registered). GetSystemErrorText is the system's message text with its inserts ("%1")
// filled by a neutral word, since the message box has no arguments to put there.
//
// Both write at most cchMax - 1 characters and a terminator, and return the number of
// characters written, 0 when there is no text for the code.
#pragma once

#include <windows.h>

DWORD GetDirectShowErrorText(HRESULT hr, LPWSTR pszText, DWORD cchMax);
DWORD GetSystemErrorText(HRESULT hr, LPWSTR pszText, DWORD cchMax);
