// Readable text for filters, pins and media types, shared by GraphEdit and the pins page.
#pragma once

#include "graph/DShow.h"

#include <string>

// The property page that shows a filter's pins in these texts (the pins page of the
// property-page server).
// {29E07010-BD27-11CE-AB59-00AA00577DA1}
static const CLSID CLSID_PinsPropertyPage = {0x29e07010, 0xbd27, 0x11ce, {0xab, 0x59, 0x00, 0xaa, 0x00, 0x57, 0x7d, 0xa1}};

namespace pintext {

// wvsprintfW into a string of at most 1024 characters.
std::wstring Format(const wchar_t* pszFormat, ...);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
std::wstring GuidText(REFGUID guid);
// "Video", "Audio", ... or the GUID's text.
std::wstring MajorTypeName(REFGUID guid);
// "RGB32", "YUY2" (the four characters of a FOURCC subtype, '?' for any that cannot be
// shown), ... or the GUID's text.
std::wstring SubTypeName(REFGUID guid);
// "Video / YUY2, 320 x 240, sample size 153600, format 88 bytes"
std::wstring MediaTypeText(const AM_MEDIA_TYPE& mt);
// The filter's name in its graph, "?" when it cannot be asked.
std::wstring FilterName(IBaseFilter* pFilter);
// One pin: "Capture (out) -> Sink . In: Video / ..." or "Preview (out) not connected".
// Fails only when the pin cannot be asked at all (a graph that went away).
HRESULT PinText(IPin* pPin, std::wstring* pText);

}  // namespace pintext
