#include "standins/media/PinText.h"

#include <stdarg.h>

#include "standins/media/MediaType.h"
#include "standins/media/VideoFormat.h"

namespace pintext {

std::wstring Format(const wchar_t* pszFormat, ...) {
    wchar_t sz[1025];
    va_list args;
    va_start(args, pszFormat);
    ::wvsprintfW(sz, pszFormat, args);
    va_end(args);
    sz[1024] = 0;
    return sz;
}

std::wstring GuidText(REFGUID guid) {
    wchar_t sz[64];
    ::StringFromGUID2(guid, sz, 64);
    return sz;
}

std::wstring MajorTypeName(REFGUID guid) {
    struct Name { const GUID* pGuid; const wchar_t* pszName; };
    static const Name kNames[] = {
        {&MEDIATYPE_Video, L"Video"},   {&MEDIATYPE_Audio, L"Audio"},
        {&MEDIATYPE_Stream, L"Stream"}, {&MEDIATYPE_Interleaved, L"Interleaved"},
        {&MEDIATYPE_Text, L"Text"},     {&MEDIATYPE_Midi, L"Midi"},
        {&MEDIATYPE_AnalogVideo, L"AnalogVideo"}, {&MEDIATYPE_AnalogAudio, L"AnalogAudio"},
        {&GUID_NULL, L"(any)"},
    };
    for (const Name& n : kNames)
        if (IsEqualGUID(guid, *n.pGuid)) return n.pszName;
    return GuidText(guid);
}

std::wstring SubTypeName(REFGUID guid) {
    struct Name { const GUID* pGuid; const wchar_t* pszName; };
    static const Name kNames[] = {
        {&MEDIASUBTYPE_RGB24, L"RGB24"}, {&MEDIASUBTYPE_RGB32, L"RGB32"}, {&MEDIASUBTYPE_ARGB32, L"ARGB32"},
        {&MEDIASUBTYPE_RGB565, L"RGB565"}, {&MEDIASUBTYPE_RGB555, L"RGB555"}, {&MEDIASUBTYPE_RGB8, L"RGB8"},
        {&MEDIASUBTYPE_Avi, L"Avi"}, {&MEDIASUBTYPE_WAVE, L"WAVE"}, {&MEDIASUBTYPE_PCM, L"PCM"},
        {&MEDIASUBTYPE_MPEG1System, L"MPEG1System"}, {&MEDIASUBTYPE_MPEG1Video, L"MPEG1Video"},
        {&MEDIASUBTYPE_MPEG1Payload, L"MPEG1Payload"}, {&MEDIASUBTYPE_IEEE_FLOAT, L"IEEE_FLOAT"},
        {&GUID_NULL, L"(any)"},
    };
    for (const Name& n : kNames)
        if (IsEqualGUID(guid, *n.pGuid)) return n.pszName;
    if (media::IsFourCCSubtype(guid)) {
        wchar_t sz[5];
        for (int i = 0; i < 4; ++i) {
            unsigned c = (guid.Data1 >> (8 * i)) & 0xFF;
            sz[i] = (c >= 0x20 && c < 0x7F) ? (wchar_t)c : L'?';
        }
        sz[4] = 0;
        return sz;
    }
    return GuidText(guid);
}

std::wstring MediaTypeText(const AM_MEDIA_TYPE& mt) {
    std::wstring s = MajorTypeName(mt.majortype) + L" / " + SubTypeName(mt.subtype);
    if (mt.pbFormat != NULL) {
        VideoHeader header;
        if (ReadVideoHeader(mt, &header) &&
            (IsEqualGUID(mt.formattype, FORMAT_VideoInfo) || IsEqualGUID(mt.formattype, FORMAT_VideoInfo2))) {
            s += Format(L", %d x %d", (int)header.bmi.biWidth, (int)header.bmi.biHeight);
        } else if (IsEqualGUID(mt.formattype, FORMAT_WaveFormatEx) && mt.cbFormat >= sizeof(WAVEFORMATEX) - 2) {
            const WAVEFORMATEX* pWfx = (const WAVEFORMATEX*)mt.pbFormat;
            s += Format(L", %u Hz, %u ch, %u bit", (UINT)pWfx->nSamplesPerSec, (UINT)pWfx->nChannels,
                        (UINT)pWfx->wBitsPerSample);
        }
    }
    if (mt.bFixedSizeSamples && mt.lSampleSize != 0) s += Format(L", sample size %u", (UINT)mt.lSampleSize);
    if (mt.cbFormat != 0) s += Format(L", format %u bytes", (UINT)mt.cbFormat);
    return s;
}

std::wstring FilterName(IBaseFilter* pFilter) {
    FILTER_INFO fi = {};
    if (pFilter == NULL || FAILED(pFilter->QueryFilterInfo(&fi))) return L"?";
    if (fi.pGraph != NULL) fi.pGraph->Release();
    return fi.achName;
}

HRESULT PinText(IPin* pPin, std::wstring* pText) {
    PIN_INFO pi = {};
    HRESULT hr = pPin->QueryPinInfo(&pi);
    if (FAILED(hr)) return hr;
    if (pi.pFilter != NULL) pi.pFilter->Release();
    std::wstring s = pi.achName;
    s += pi.dir == PINDIR_INPUT ? L" (in)" : L" (out)";
    IPin* pPeer = NULL;
    if (SUCCEEDED(pPin->ConnectedTo(&pPeer)) && pPeer != NULL) {
        PIN_INFO peer = {};
        std::wstring peerName = L"?";
        std::wstring filterName = L"?";
        if (SUCCEEDED(pPeer->QueryPinInfo(&peer))) {
            peerName = peer.achName;
            if (peer.pFilter != NULL) {
                filterName = FilterName(peer.pFilter);
                peer.pFilter->Release();
            }
        }
        pPeer->Release();
        s += pi.dir == PINDIR_INPUT ? L" <- " : L" -> ";
        s += filterName + L" . " + peerName;
        AM_MEDIA_TYPE mt = {};
        if (SUCCEEDED(pPin->ConnectionMediaType(&mt))) {
            s += L": " + MediaTypeText(mt);
            media::FreeMediaType(mt);
        }
    } else {
        s += L" not connected";
    }
    *pText = s;
    return S_OK;
}

}  // namespace pintext
