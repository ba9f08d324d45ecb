#include "standins/graphedit/GraphReader.h"

#include <string.h>

#include <vector>

#include "standins/media/PinText.h"
#include "standins/media/VideoFormat.h"

namespace graphview {

namespace {

const GUID kFormatVideoInfo2 = {0xf72a76a0, 0xeb0a, 0x11d0, {0xac, 0xe4, 0x00, 0x00, 0xc0, 0xcc, 0x16, 0xba}};
const GUID kFormatMpeg2Video = {0xe06d80e3, 0xdb46, 0x11cf, {0xb4, 0xd1, 0x00, 0x80, 0x5f, 0x6c, 0xbb, 0xea}};
const GUID kFormatMpegVideo = {0x05589f82, 0xc356, 0x11ce, {0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a}};
const GUID kFormatNone = {0x0f6417d6, 0xc318, 0x11d0, {0xa4, 0x3f, 0x00, 0xa0, 0xc9, 0x22, 0x31, 0x96}};

std::wstring FormatTypeName(REFGUID guid) {
    if (IsEqualGUID(guid, FORMAT_VideoInfo)) return L"VideoInfo";
    if (IsEqualGUID(guid, kFormatVideoInfo2)) return L"VideoInfo2";
    if (IsEqualGUID(guid, kFormatMpeg2Video)) return L"MPEG2Video";
    if (IsEqualGUID(guid, kFormatMpegVideo)) return L"MPEGVideo";
    if (IsEqualGUID(guid, FORMAT_WaveFormatEx)) return L"WaveFormatEx";
    if (IsEqualGUID(guid, kFormatNone)) return L"None";
    if (IsEqualGUID(guid, GUID_NULL)) return L"(none)";
    return pintext::GuidText(guid);
}

// Frame rate from a frame duration in 100 ns units: "25 fps", "29.97 fps".
std::wstring FrameRateText(LONGLONG llDuration) {
    if (llDuration <= 0) return L"not given";
    // Hundredths of a frame per second, rounded.
    const LONGLONG llCenti = (1000000000LL + llDuration / 2) / llDuration;
    if (llCenti % 100 == 0) return pintext::Format(L"%u fps", (UINT)(llCenti / 100));
    std::wstring s = pintext::Format(L"%u.%02u", (UINT)(llCenti / 100), (UINT)(llCenti % 100));
    if (s.back() == L'0') s.pop_back();
    return s + L" fps";
}

}  // namespace

bool IsGone(HRESULT hr) {
    return HRESULT_FACILITY(hr) == FACILITY_RPC || hr == CO_E_OBJNOTCONNECTED ||
           hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE) || hr == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED) ||
           hr == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE) || hr == HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE) ||
           hr == HRESULT_FROM_WIN32(ERROR_BROKEN_PIPE);
}

std::wstring MediaTypeDetails(const AM_MEDIA_TYPE& mt) {
    std::wstring s = L"Major type: " + pintext::MajorTypeName(mt.majortype) + L"\r\n";
    s += L"Subtype: " + pintext::SubTypeName(mt.subtype) + L"\r\n";
    const BYTE* pb = mt.cbFormat != 0 ? mt.pbFormat : NULL;
    VideoHeader header;
    if (pb != NULL && ReadVideoHeader(mt, &header)) {
        s += pintext::Format(L"Size: %d x %d\r\n", (int)header.bmi.biWidth, (int)header.bmi.biHeight);
        s += L"Frame rate: " + FrameRateText(header.tAvgTimePerFrame) + L"\r\n";
    } else if (pb != NULL && IsEqualGUID(mt.formattype, FORMAT_WaveFormatEx) && mt.cbFormat >= sizeof(WAVEFORMATEX) - 2) {
        WAVEFORMATEX wfx = {};
        memcpy(&wfx, pb, sizeof(WAVEFORMATEX) - 2);
        s += pintext::Format(L"Sound: %u Hz, %u channels, %u bits\r\n", (UINT)wfx.nSamplesPerSec, (UINT)wfx.nChannels,
                             (UINT)wfx.wBitsPerSample);
    }
    s += L"Format: " + FormatTypeName(mt.formattype) + pintext::Format(L", %u bytes", (UINT)mt.cbFormat);
    if (mt.bFixedSizeSamples && mt.lSampleSize != 0) s += pintext::Format(L"\r\nSample size: %u", (UINT)mt.lSampleSize);
    return s;
}

namespace {

struct PinEntry {
    IPin* pPin = NULL;
    IUnknown* pIdentity = NULL;
    int nFilter = -1, nPin = -1;
};

}  // namespace

HRESULT ReadGraph(IFilterGraph* pGraph, GraphDesc* pDesc) {
    pDesc->filters.clear();
    IEnumFilters* pEnum = NULL;
    HRESULT hr = pGraph->EnumFilters(&pEnum);
    if (FAILED(hr)) return hr;
    if (pEnum == NULL) return E_POINTER;
    std::vector<IBaseFilter*> filters;
    IBaseFilter* pFilter = NULL;
    ULONG cFetched = 0;
    while ((hr = pEnum->Next(1, &pFilter, &cFetched)) == S_OK && cFetched == 1) filters.push_back(pFilter);
    pEnum->Release();
    if (FAILED(hr)) {
        for (IBaseFilter* p : filters) p->Release();
        return hr;
    }

    // The graph lists the filters added last first; take them in the order they came.
    hr = S_OK;
    std::vector<PinEntry> pins;
    for (auto it = filters.rbegin(); it != filters.rend(); ++it) {
        IBaseFilter* p = *it;
        FILTER_INFO fi = {};
        HRESULT hrFilter = p->QueryFilterInfo(&fi);
        if (fi.pGraph) fi.pGraph->Release();
        if (FAILED(hrFilter)) {
            if (IsGone(hrFilter)) hr = hrFilter;
            continue;
        }
        FilterDesc fd;
        fd.name = fi.achName;
        CLSID clsid = GUID_NULL;
        p->GetClassID(&clsid);
        fd.classId = pintext::GuidText(clsid);
        const int nFilter = (int)pDesc->filters.size();
        IEnumPins* pPins = NULL;
        HRESULT hrPins = p->EnumPins(&pPins);
        if (SUCCEEDED(hrPins) && pPins != NULL) {
            IPin* pPin = NULL;
            ULONG cPins = 0;
            while ((hrPins = pPins->Next(1, &pPin, &cPins)) == S_OK && cPins == 1) {
                PIN_INFO pi = {};
                HRESULT hrPin = pPin->QueryPinInfo(&pi);
                if (pi.pFilter) pi.pFilter->Release();
                if (FAILED(hrPin)) {
                    if (IsGone(hrPin)) hr = hrPin;
                    pPin->Release();
                    continue;
                }
                PinDesc pd;
                pd.name = pi.achName;
                pd.bOutput = pi.dir == PINDIR_OUTPUT;
                PinEntry e;
                e.pPin = pPin;
                pPin->QueryInterface(IID_IUnknown, (void**)&e.pIdentity);
                e.nFilter = nFilter;
                e.nPin = (int)fd.pins.size();
                pins.push_back(e);
                fd.pins.push_back(pd);
            }
            pPins->Release();
        }
        if (FAILED(hrPins) && IsGone(hrPins)) hr = hrPins;
        pDesc->filters.push_back(fd);
    }

    // The connections: the pin at the other end, known by its identity (or, failing that, by
    // its filter's and its own name), and the media type.
    for (const PinEntry& e : pins) {
        if (FAILED(hr)) break;
        PinDesc& pd = pDesc->filters[e.nFilter].pins[e.nPin];
        pd.text = pd.name + (pd.bOutput ? L" (out)" : L" (in)");
        IPin* pPeer = NULL;
        HRESULT hrPeer = e.pPin->ConnectedTo(&pPeer);
        if (FAILED(hrPeer) || pPeer == NULL) {
            if (IsGone(hrPeer)) hr = hrPeer;
            pd.text += L" not connected";
            continue;
        }
        IUnknown* pIdentity = NULL;
        pPeer->QueryInterface(IID_IUnknown, (void**)&pIdentity);
        for (const PinEntry& other : pins) {
            if (pIdentity != NULL && other.pIdentity == pIdentity) {
                pd.nPeerFilter = other.nFilter;
                pd.nPeerPin = other.nPin;
            }
        }
        if (pIdentity) pIdentity->Release();
        std::wstring peerFilter = L"?", peerPin = L"?";
        if (pd.nPeerFilter >= 0) {
            peerFilter = pDesc->filters[pd.nPeerFilter].name;
            peerPin = pDesc->filters[pd.nPeerFilter].pins[pd.nPeerPin].name;
        } else {
            PIN_INFO peer = {};
            HRESULT hrInfo = pPeer->QueryPinInfo(&peer);
            if (SUCCEEDED(hrInfo)) {
                peerPin = peer.achName;
                if (peer.pFilter != NULL) {
                    peerFilter = pintext::FilterName(peer.pFilter);
                    peer.pFilter->Release();
                }
                for (int f = 0; f < (int)pDesc->filters.size() && pd.nPeerFilter < 0; ++f) {
                    if (pDesc->filters[f].name != peerFilter) continue;
                    for (int p = 0; p < (int)pDesc->filters[f].pins.size(); ++p) {
                        if (pDesc->filters[f].pins[p].name == peerPin) {
                            pd.nPeerFilter = f;
                            pd.nPeerPin = p;
                            break;
                        }
                    }
                }
            } else if (IsGone(hrInfo)) {
                hr = hrInfo;
            }
        }
        pPeer->Release();
        pd.text += (pd.bOutput ? L" -> " : L" <- ") + peerFilter + L" . " + peerPin;
        AM_MEDIA_TYPE mt = {};
        HRESULT hrType = e.pPin->ConnectionMediaType(&mt);
        if (SUCCEEDED(hrType)) {
            pd.text += L": " + pintext::MediaTypeText(mt);
            pd.mediaType = MediaTypeDetails(mt);
            if (mt.cbFormat != 0 && mt.pbFormat != NULL) ::CoTaskMemFree(mt.pbFormat);
            if (mt.pUnk != NULL) mt.pUnk->Release();
        } else if (IsGone(hrType)) {
            hr = hrType;
        }
    }
    for (const PinEntry& e : pins) {
        if (e.pIdentity) e.pIdentity->Release();
        e.pPin->Release();
    }
    for (IBaseFilter* p : filters) p->Release();
    return hr;
}

}  // namespace graphview
