// Texts for the platform's result codes.
#include "platform/ErrorText.h"

#include "graph/DShow.h"

namespace {

struct CodeText {
    HRESULT hr;
    LPCWSTR pszText;
};

// Codes a tester meets while building, saving and playing graphs, where the platform may
// have no words of its own; the system's own text comes first where it has one.
const CodeText kTexts[] = {
    // Files and their formats.
    {VFW_E_INVALID_FILE_FORMAT, L"The file format is invalid."},
    {VFW_E_UNKNOWN_FILE_TYPE, L"The media type of this file is not recognized."},
    {VFW_E_UNSUPPORTED_STREAM, L"Cannot play back the file: the format is not supported."},
    {VFW_E_CANNOT_LOAD_SOURCE_FILTER, L"The source filter for this file could not be loaded."},
    {VFW_E_FILE_TOO_SHORT, L"The file is shorter than its header says; it may be truncated."},
    {VFW_E_INVALID_FILE_VERSION, L"The file's version number is invalid."},
    {VFW_E_NOT_FOUND, L"An object or name was not found."},
    {VFW_E_CANNOT_RENDER, L"No combination of filters could be found to render the stream."},
    {VFW_E_NO_AUDIO_HARDWARE, L"Cannot play back the audio stream: no audio hardware is available."},
    // Pins and connections.
    {VFW_E_NOT_CONNECTED, L"The operation cannot be performed because the pins are not connected."},
    {VFW_E_ALREADY_CONNECTED, L"The operation cannot be performed because the pins are already connected."},
    {VFW_E_CANNOT_CONNECT, L"No combination of intermediate filters could be found to make the connection."},
    {VFW_E_NO_ACCEPTABLE_TYPES, L"There is no common media type between these pins."},
    {VFW_E_TYPE_NOT_ACCEPTED, L"This pin cannot use the supplied media type."},
    {VFW_E_INVALID_DIRECTION, L"Cannot connect these pins: their directions do not match."},
    {VFW_E_NOT_IN_GRAPH, L"The filter is not in a filter graph."},
    {VFW_E_NO_ALLOCATOR, L"No sample buffer allocator is available."},
    {VFW_E_NOT_COMMITTED, L"The sample buffers have not been allocated: the graph is not paused or running."},
    // Filter states and running graphs.
    {VFW_E_NOT_STOPPED, L"The operation cannot be performed because the filter is active."},
    {VFW_E_NOT_PAUSED, L"The operation cannot be performed because the filter is not paused."},
    {VFW_E_NOT_RUNNING, L"The operation cannot be performed because the filter is not running."},
    {VFW_E_WRONG_STATE, L"The operation could not be performed because the filter is in the wrong state."},
    {VFW_E_RUNTIME_ERROR, L"A run-time error occurred."},
    {VFW_E_SAMPLE_REJECTED, L"A sample was rejected by the filter."},
    {VFW_E_TIMEOUT, L"The operation timed out."},
    // Saved graphs are structured-storage (compound) files.
    {STG_E_FILEALREADYEXISTS, L"The file is not a compound file, so it is no saved graph."},
    {STG_E_INVALIDHEADER, L"The file is not a valid compound file, so it is no saved graph."},
    {STG_E_READFAULT, L"The file could not be read to its end: it is truncated or damaged."},
    {STG_E_DOCFILECORRUPT, L"The compound file is damaged."},
    {STG_E_FILENOTFOUND, L"The file could not be found."},
    {STG_E_PATHNOTFOUND, L"The path could not be found."},
    {STG_E_ACCESSDENIED, L"Access denied."},
    {STG_E_SHAREVIOLATION, L"The file is in use by another program."},
    {STG_E_LOCKVIOLATION, L"The file is locked by another program."},
    {STG_E_MEDIUMFULL, L"There is not enough space on the disk."},
    {STG_E_WRITEFAULT, L"A disk error occurred during a write operation."},
    // For a system without its own text.
    {REGDB_E_CLASSNOTREG, L"Class not registered."},
};

// The word that stands for an insert of a system text: capitalised at the start of a
// sentence.
const WCHAR kInsert[] = L"the item";
const WCHAR kInsertCapital[] = L"The item";

DWORD CopyText(LPCWSTR pszFrom, LPWSTR pszText, DWORD cchMax) {
    DWORD n = 0;
    for (; pszFrom[n] && n + 1 < cchMax; ++n) pszText[n] = pszFrom[n];
    pszText[n] = 0;
    return n;
}

bool IsHexDigit(WCHAR c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }

// Whether a text says no more than the code's number ("Error: 0x80040209", "Error 0x...").
bool IsNumberOnly(LPCWSTR psz) {
    bool bDigits = false;
    for (; *psz; ++psz) {
        const WCHAR c = *psz;
        if (c == L' ' || c == L':' || c == L'.' || c == L'\r' || c == L'\n' || c == L'\t') continue;
        if ((c == L'x' || c == L'X') && psz[-1] == L'0') continue;
        if (::CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, psz, 5, L"Error", 5) == CSTR_EQUAL) {
            psz += 4;
            continue;
        }
        if (!IsHexDigit(c)) return false;
        bDigits = true;
    }
    return bDigits;
}

// Copies a system text, putting kInsert where it has "%1" to "%99" and keeping "%%" and
// the other escapes as the system would show them.
DWORD FillInserts(LPCWSTR pszFrom, LPWSTR pszText, DWORD cchMax) {
    DWORD n = 0;
    auto put = [&](WCHAR c) {
        if (n + 1 < cchMax) pszText[n++] = c;
    };
    for (LPCWSTR p = pszFrom; *p;) {
        if (p[0] == L'%' && p[1] >= L'1' && p[1] <= L'9') {
            p += 2;
            if (*p >= L'0' && *p <= L'9') ++p;
            // "%1!s!" formats: the part between the marks goes with the insert.
            if (*p == L'!') {
                LPCWSTR pEnd = p + 1;
                while (*pEnd && *pEnd != L'!') ++pEnd;
                if (*pEnd == L'!') p = pEnd + 1;
            }
            bool bStart = true;
            for (DWORD i = n; i > 0; --i) {
                const WCHAR c = pszText[i - 1];
                if (c == L' ' || c == L'\t' || c == L'\r' || c == L'\n') continue;
                bStart = c == L'.';
                break;
            }
            for (LPCWSTR pszWord = bStart ? kInsertCapital : kInsert; *pszWord; ++pszWord) put(*pszWord);
            continue;
        }
        put(*p++);
    }
    pszText[n] = 0;
    return n;
}

}  // namespace

DWORD GetDirectShowErrorText(HRESULT hr, LPWSTR pszText, DWORD cchMax) {
    if (pszText == NULL || cchMax == 0) return 0;
    pszText[0] = 0;

    DWORD cch = ::AMGetErrorTextW(hr, pszText, cchMax);
    if (cch != 0 && cch < cchMax) {
        pszText[cch] = 0;
        if (!IsNumberOnly(pszText)) return cch;
    }
    pszText[0] = 0;

    // The system describes some codes of this facility (REGDB_E_CLASSNOTREG); the others
    // get this program's text.
    return GetSystemErrorText(hr, pszText, cchMax);
}

DWORD GetSystemErrorText(HRESULT hr, LPWSTR pszText, DWORD cchMax) {
    if (pszText == NULL || cchMax == 0) return 0;
    pszText[0] = 0;

    WCHAR sz[1024] = {};
    DWORD cch = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, (DWORD)hr,
                                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), sz, ARRAYSIZE(sz) - 1, NULL);
    if (cch == 0 || cch >= ARRAYSIZE(sz)) {
        // A code the system has no text for here.
        for (const CodeText& row : kTexts)
            if (row.hr == hr) return CopyText(row.pszText, pszText, cchMax);
        return 0;
    }
    sz[cch] = 0;
    return FillInserts(sz, pszText, cchMax);
}
