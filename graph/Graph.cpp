// CGraph: object, build sequence, source chains, encoder and output chains, graph checks,
// playback control and the encoder forwarders.
// Naming in this file: Find... walks pins or filters and hands out the first match;
// Is... answers whether one pin or filter is wanted (S_OK yes, S_FALSE no, a failure: can't tell).
#include "graph/Graph.h"

#include <uuids.h>

#include "app/Diagnostics.h"

namespace {

const wchar_t kEncoderName[] = L"Morvane H264 Encoder";
const wchar_t kWriterName[] = L"Morvane MPEG-4 Writer";
const wchar_t kDecoderName[] = L"Morvane H264 Decoder";
const wchar_t kSmartTeeName[] = L"Smart Tee";

// Frees what an AM_MEDIA_TYPE owns (format block and extra interface), not the record.
void FreeMediaTypeContents(AM_MEDIA_TYPE& mt) {
    if (mt.cbFormat != 0 || mt.pbFormat != NULL) {
        ::CoTaskMemFree(mt.pbFormat);
        mt.cbFormat = 0;
        mt.pbFormat = NULL;
    }
    if (mt.pUnk != NULL) {
        mt.pUnk->Release();
        mt.pUnk = NULL;
    }
}

// Frees a media type handed out by IEnumMediaTypes, record included.
void DeleteMediaType(AM_MEDIA_TYPE* pmt) {
    if (pmt == NULL) return;
    FreeMediaTypeContents(*pmt);
    ::CoTaskMemFree(pmt);
}

// The pins of a filter; answers a failure code (never S_OK with no enumerator).
HRESULT EnumPinsOf(IBaseFilter* pFilter, CComPtr<IEnumPins>& spEnum) {
    HRESULT hr = pFilter->EnumPins(&spEnum);
    ATLASSERT(SUCCEEDED(hr));
    if (SUCCEEDED(hr) && !spEnum) hr = E_NOINTERFACE;
    return SUCCEEDED(hr) ? S_OK : hr;
}

// The filters of the graph; answers a failure code (never S_OK with no enumerator).
HRESULT EnumFiltersOf(IGraphBuilder* pGraph, CComPtr<IEnumFilters>& spEnum) {
    HRESULT hr = pGraph->EnumFilters(&spEnum);
    ATLASSERT(SUCCEEDED(hr));
    if (FAILED(hr)) return hr;
    return spEnum ? S_OK : E_NOINTERFACE;
}

// What a walk does when a predicate cannot tell (answers a failure) for one element.
enum class OnError {
    GoOn,  // count it as no match and go on with the next
    Stop,  // end the walk with that failure
};

// How a walk ended.
struct Found {
    HRESULT hr;   // S_OK: a match (handed out when asked for); S_FALSE: the enumeration
                  // ended without one; anything else: the failure that ended the walk
    bool bFetch;  // that failure is the enumeration's own: a fetch answered neither S_OK
                  // nor S_FALSE (its code), or S_OK with no element (E_POINTER)
};

// Walks an IEnumPins or IEnumFilters from where it stands and stops at the first element
// isMatch answers S_OK for; it is handed out through ppFound when that is given.
template <class Enum, class Item, class Predicate>
Found FindFirst(Enum* pEnum, Item** ppFound, OnError eOnError, Predicate isMatch) {
    for (;;) {
        CComPtr<Item> spItem;
        HRESULT hr = pEnum->Next(1, &spItem, NULL);
        if (hr == S_FALSE) return {S_FALSE, false};
        if (hr != S_OK) return {hr, true};
        if (!spItem) return {E_POINTER, true};
        hr = isMatch(spItem.p);
        if (hr == S_OK) {
            if (ppFound != NULL) *ppFound = spItem.Detach();
            return {S_OK, false};
        }
        if (FAILED(hr) && eOnError == OnError::Stop) return {hr, false};
    }
}

// Predicates. Each answers S_OK (yes), S_FALSE (no), or the failure of the call that would
// have told; diagnostics are the caller's.

// Its connection carries video described by a video format block.
HRESULT IsVideoConnection(IPin* pPin, HRESULT* phrType) {
    AM_MEDIA_TYPE mt;
    ::ZeroMemory(&mt, sizeof(mt));
    *phrType = pPin->ConnectionMediaType(&mt);
    if (FAILED(*phrType)) ::ZeroMemory(&mt, sizeof(mt));
    const bool bVideo = mt.majortype == MEDIATYPE_Video &&
                        (mt.formattype == FORMAT_VideoInfo || mt.formattype == FORMAT_VideoInfo2) &&
                        mt.pbFormat != NULL && mt.cbFormat > 0;
    FreeMediaTypeContents(mt);
    return bVideo ? S_OK : S_FALSE;
}

// "Capture" by name (any letter case), or in the capture category.
HRESULT IsCapturePin(IPin* pPin) {
    PIN_INFO rgInfo;
    ::ZeroMemory(&rgInfo, sizeof(rgInfo));
    HRESULT hr = pPin->QueryPinInfo(&rgInfo);
    if (FAILED(hr)) return hr;
    if (rgInfo.pFilter) rgInfo.pFilter->Release();
    rgInfo.achName[MAX_PIN_NAME - 1] = 0;
    if (::lstrcmpiW(rgInfo.achName, L"Capture") == 0) return S_OK;

    CComQIPtr<IKsPropertySet> spKsPropertySet(pPin);
    if (!spKsPropertySet) return S_FALSE;
    GUID guidCategory = GUID_NULL;
    DWORD cbReturned = 0;
    hr = spKsPropertySet->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, NULL, 0, &guidCategory,
                              sizeof(guidCategory), &cbReturned);
    return hr == S_OK && guidCategory == PIN_CATEGORY_CAPTURE ? S_OK : S_FALSE;
}

// One of the types the pin offers is video.
HRESULT IsOfferingVideo(IPin* pPin) {
    CComPtr<IEnumMediaTypes> spTypes;
    HRESULT hr = pPin->EnumMediaTypes(&spTypes);
    if (FAILED(hr) || !spTypes) return FAILED(hr) ? hr : E_NOINTERFACE;
    for (;;) {
        AM_MEDIA_TYPE* pmt = NULL;
        if (spTypes->Next(1, &pmt, NULL) != S_OK || pmt == NULL) return S_FALSE;
        const bool bVideo = pmt->majortype == MEDIATYPE_Video;
        DeleteMediaType(pmt);
        if (bVideo) return S_OK;
    }
}

// The filter's class identifier is clsid (one that cannot be read is the null GUID).
HRESULT IsOfClass(IBaseFilter* pFilter, REFCLSID clsid) {
    CLSID clsidFilter = GUID_NULL;
    HRESULT hrId = pFilter->GetClassID(&clsidFilter);
    ATLASSERT(SUCCEEDED(hrId));
    if (FAILED(hrId)) clsidFilter = GUID_NULL;
    return clsidFilter == clsid ? S_OK : S_FALSE;
}

// The filter's name in the graph is pszName exactly.
HRESULT IsNamed(IBaseFilter* pFilter, LPCWSTR pszName) {
    FILTER_INFO rgInfo;
    ::ZeroMemory(&rgInfo, sizeof(rgInfo));
    HRESULT hr = pFilter->QueryFilterInfo(&rgInfo);
    if (FAILED(hr)) return hr;
    if (rgInfo.pGraph) rgInfo.pGraph->Release();
    rgInfo.achName[MAX_FILTER_NAME - 1] = 0;
    return ::lstrcmpW(rgInfo.achName, pszName) == 0 ? S_OK : S_FALSE;
}

}  // namespace

CGraph::CGraph() : m_bLive(false) {}

// Members go in reverse order: GraphEdit is closed first, then the encoder, then the graph.
CGraph::~CGraph() {}

// ---------------------------------------------------------------------------------------
// Build and release.

HRESULT CGraph::BuildGraph(LPCWSTR pszSource, bool bLive, LPCWSTR pszOutputFile, bool bShowPreview,
                           HWND hWnd, UINT uMsg) {
    if (pszSource == NULL) return E_INVALIDARG;
    if (!::IsWindow(hWnd)) return E_INVALIDARG;

    Release();

    HRESULT hr = m_spGraph.CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER);
    if (FAILED(hr) || !m_spGraph) {
        DIAG("CGraph::BuildGraph(): m_spGraph.CoCreateInstance() FAILED");
        m_spGraph.Release();
        return FAILED(hr) ? hr : E_NOINTERFACE;
    }

    const int cchSource = ::lstrlenW(pszSource);
    const bool bGraphFile = !bLive && cchSource >= 4 && ::lstrcmpiW(pszSource + cchSource - 4, L".grf") == 0;
    if (bGraphFile) {
        hr = BuildFromGRFFile(pszSource);
        if (hr != S_OK) return hr;
    } else {
        CComPtr<IPin> spOutputPin;
        hr = bLive ? InsertLiveSource(pszSource, &spOutputPin) : CreateChainFromFile(pszSource, &spOutputPin);
        if (hr != S_OK) return hr;

        CComPtr<IBaseFilter> spEncoder;
        hr = InsertEncoder(spOutputPin, &spEncoder);
        if (hr != S_OK) return hr;

        CComPtr<IPin> spEncoderOutput;
        hr = GetPin(spEncoder, PINDIR_OUTPUT, NULL, &spEncoderOutput);
        if (hr != S_OK) return hr;

        hr = CreateTailChain(spEncoderOutput, pszOutputFile, bShowPreview);
        if (hr != S_OK) return hr;
    }

    CComPtr<IBaseFilter> spFilter;
    hr = CheckFilter(CLSID_VireonEncoder, &spFilter);
    if (hr != S_OK) {
        DIAG("CGraph::BuildGraph(): Morvane H264 Encoder not found");
        return hr;
    }

    spFilter->QueryInterface(__uuidof(IVireon), (void**)&m_spVireon);
    ATLASSERT(m_spVireon != 0);

    // A failed build never leaves the encoder's interface behind.
    hr = PlaceVideoWindow(hWnd);
    if (FAILED(hr)) {
        m_spVireon.Release();
        return hr;
    }

    CComQIPtr<IMediaEventEx> spEvent(m_spGraph);
    ATLASSERT(spEvent != 0);
    if (spEvent) spEvent->SetNotifyWindow((OAHWND)hWnd, (long)uMsg, 0);

    m_bLive = bLive;
    return S_OK;
}

void CGraph::Release() {
    // GraphEdit is closed first, its calls served until it ends: disconnecting the graph
    // under a call of GraphEdit that waits for this thread would wait for that call forever.
    m_graphEdit.Close();
    if (m_spGraph) {
        CComQIPtr<IMediaEventEx> spEvent(m_spGraph);
        if (spEvent) spEvent->SetNotifyWindow(0, 0, 0);
        // A GraphEdit attached to the graph holds it through proxies; they must not keep it
        // (and our filters) alive once we let go of it.
        CGraphEdit::DisconnectGraph(m_spGraph);
    }
    m_spVireon.Release();
    m_spGraph.Release();
}

// ---------------------------------------------------------------------------------------
// Source chains.

HRESULT CGraph::BuildFromGRFFile(LPCWSTR pszFile) {
    if (pszFile == NULL) return E_INVALIDARG;
    CComQIPtr<IPersistStream> spPersistStream(m_spGraph);

    const DWORD grfMode = STGM_READ | STGM_SHARE_EXCLUSIVE;
    CComPtr<IStorage> spStorage;
    HRESULT hr = ::StgOpenStorage(pszFile, NULL, grfMode, NULL, 0, &spStorage);
    if (hr != S_OK) {
        DIAG("CGraph::BuildFromGRFFile(): Can't open .grf file");
        return hr;
    }

    CComPtr<IStream> spStream;
    hr = spStorage->OpenStream(L"ActiveMovieGraph", NULL, grfMode, 0, &spStream);
    if (hr != S_OK) {
        DIAG("CGraph::BuildFromGRFFile(): Invalid .grf file");
        return hr;
    }

    // A graph manager without a persistence interface cannot load a saved graph.
    ATLASSERT(spPersistStream != 0);
    if (!spPersistStream) return E_NOINTERFACE;

    hr = spPersistStream->Load(spStream);
    if (FAILED(hr)) {
        DIAG("CGraph::BuildFromGRFFile(): Can't load data from .grf file");
        return hr;
    }
    return S_OK;
}

HRESULT CGraph::CreateChainFromFile(LPCWSTR pszFileName, IPin** ppOutputPin) {
    if (pszFileName == NULL || *pszFileName == 0) return E_INVALIDARG;
    if (ppOutputPin == NULL) return E_POINTER;
    *ppOutputPin = NULL;
    if (!m_spGraph) return E_FAIL;

    HRESULT hr = m_spGraph->RenderFile(pszFileName, NULL);
    if (hr != S_OK) {
        DIAG("CGraph::CreateChainFromFile(): can't create graph from file");
        return hr;
    }

    CComPtr<IBaseFilter> spRenderer;
    CComPtr<IPin> spOutputPin;
    hr = FindRenderer(&spRenderer, &spOutputPin);
    if (hr != S_OK) return hr;

    hr = m_spGraph->RemoveFilter(spRenderer);
    if (hr != S_OK) DIAG("CGraph::CreateChainFromFile(): m_spGraph->RemoveFilter() FAILED");

    *ppOutputPin = spOutputPin.Detach();
    return hr;
}

HRESULT CGraph::FindRenderer(IBaseFilter** ppRenderer, IPin** ppOutputPin) {
    if (ppRenderer == NULL || ppOutputPin == NULL) return E_POINTER;
    *ppRenderer = NULL;
    *ppOutputPin = NULL;
    if (!m_spGraph) return E_FAIL;

    CComPtr<IEnumFilters> spEnum;
    HRESULT hr = EnumFiltersOf(m_spGraph, spEnum);
    if (hr != S_OK) return hr;

    // A video renderer: a filter without output pins whose input is connected with video;
    // the pin that feeds it is handed out. A filter whose pins can't be listed is passed over.
    CComPtr<IPin> spWantedOutputPin;
    auto isVideoRenderer = [&spWantedOutputPin](IBaseFilter* pFilter) -> HRESULT {
        spWantedOutputPin.Release();
        CComPtr<IEnumPins> spPins;
        if (FAILED(pFilter->EnumPins(&spPins)) || !spPins) {
            DIAG("CGraph::FindRenderer(): spFilter->EnumPins() FAILED");
            return E_FAIL;
        }
        // The first output pin ends the walk (a filter with one is no renderer); fetch
        // failures end it too. A pin whose direction can't be read counts as an output.
        FindFirst(spPins.p, (IPin**)NULL, OnError::GoOn, [&spWantedOutputPin](IPin* pPin) -> HRESULT {
            PIN_DIRECTION eDir = PINDIR_OUTPUT;
            if (FAILED(pPin->QueryDirection(&eDir))) {
                DIAG("CGraph::FindRenderer(): spPin->QueryDirection() FAILED");
                eDir = PINDIR_OUTPUT;
            }
            if (eDir == PINDIR_OUTPUT) {
                spWantedOutputPin.Release();
                return S_OK;
            }
            if (spWantedOutputPin) return S_FALSE;
            CComPtr<IPin> spConnected;
            if (pPin->ConnectedTo(&spConnected) != S_OK || !spConnected) return S_FALSE;
            HRESULT hrType = S_OK;
            HRESULT hrVideo = IsVideoConnection(pPin, &hrType);
            if (FAILED(hrType)) DIAG("CGraph::FindRenderer(): spPin->ConnectionMediaType() FAILED");
            if (hrVideo == S_OK) spWantedOutputPin = spConnected;
            return S_FALSE;
        });
        return spWantedOutputPin ? S_OK : S_FALSE;
    };
    // Fetch failures end the search like its end.
    if (FindFirst(spEnum.p, ppRenderer, OnError::GoOn, isVideoRenderer).hr != S_OK) {
        DIAG("CGraph::FindRenderer(): Video Renderer not found");
        return E_FAIL;
    }
    *ppOutputPin = spWantedOutputPin.Detach();
    return S_OK;
}

HRESULT CGraph::InsertLiveSource(LPCWSTR pszFriendlyName, IPin** ppOutputPin) {
    if (pszFriendlyName == NULL || *pszFriendlyName == 0) return E_INVALIDARG;
    if (ppOutputPin == NULL) return E_POINTER;
    *ppOutputPin = NULL;
    if (!m_spGraph) return E_FAIL;

    CComPtr<IBaseFilter> spSource;
    HRESULT hr = CreateLiveSource(pszFriendlyName, &spSource);
    if (hr != S_OK) return hr;

    hr = m_spGraph->AddFilter(spSource, pszFriendlyName);
    if (hr != S_OK) {
        DIAG("CGraph::InsertLiveSource(): Can't insert live source to graph");
        return hr;
    }

    hr = FindCaptureOutput(spSource, ppOutputPin);
    if (hr != S_OK) {
        hr = FindVideoOutput(spSource, ppOutputPin);
        if (hr != S_OK) {
            DIAG("CGraph::InsertLiveSource(): output video pin not found");
            return hr;
        }
    }
    return S_OK;
}

HRESULT CGraph::CreateLiveSource(LPCWSTR pszFriendlyName, IBaseFilter** ppSource) {
    if (pszFriendlyName == NULL || *pszFriendlyName == 0) return E_INVALIDARG;
    if (ppSource == NULL) return E_POINTER;
    *ppSource = NULL;

    CComPtr<ICreateDevEnum> spDevEnum;
    HRESULT hr = spDevEnum.CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER);
    ATLASSERT(SUCCEEDED(hr));
    if (FAILED(hr)) return hr;
    if (!spDevEnum) return E_NOINTERFACE;

    CComPtr<IEnumMoniker> spEnum;
    hr = spDevEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &spEnum, 0);
    if (hr != S_OK) {
        DIAG("CGraph::CreateLiveSource(): Can't create enumerator for video capture sources");
        return hr;
    }
    ATLASSERT(spEnum != 0);
    if (!spEnum) return E_NOINTERFACE;

    for (;;) {
        CComPtr<IMoniker> spMoniker;
        hr = spEnum->Next(1, &spMoniker, NULL);
        if (hr == S_FALSE) {
            DIAG("CGraph::CreateLiveSource(): source filter not found");
            return E_FAIL;
        }
        if (hr != S_OK) {
            DIAG("CGraph::CreateLiveSource(): spEnum->Next() FAILED");
            return hr;
        }
        ATLASSERT(spMoniker != 0);
        if (!spMoniker) return E_POINTER;

        CComPtr<IPropertyBag> spPropBag;
        hr = spMoniker->BindToStorage(NULL, NULL, __uuidof(IPropertyBag), (void**)&spPropBag);
        if (FAILED(hr) || !spPropBag) {
            DIAG("CGraph::CreateLiveSource(): spMoniker->BindToStorage() FAILED");
            continue;
        }

        CComVariant varName(L"");
        hr = spPropBag->Read(L"FriendlyName", &varName, NULL);
        if (FAILED(hr)) {
            DIAG("CGraph::CreateLiveSource(): spPropBag->Read() FAILED");
            continue;
        }
        ATLASSERT(varName.vt == VT_BSTR);
        if (varName.vt != VT_BSTR || varName.bstrVal == NULL) continue;
        if (::lstrcmpW(varName.bstrVal, pszFriendlyName) != 0) continue;

        hr = spMoniker->BindToObject(NULL, NULL, __uuidof(IBaseFilter), (void**)ppSource);
        if (FAILED(hr)) DIAG("CGraph::CreateLiveSource(): spMoniker->BindToObject() FAILED");
        return hr;
    }
}

HRESULT CGraph::FindCaptureOutput(IBaseFilter* pFilter, IPin** ppCaptureOutput) {
    if (pFilter == NULL) return E_INVALIDARG;
    if (ppCaptureOutput == NULL) return E_POINTER;
    *ppCaptureOutput = NULL;

    CComPtr<IEnumPins> spEnum;
    HRESULT hr = EnumPinsOf(pFilter, spEnum);
    if (hr != S_OK) return hr;

    // A pin that can't be asked is passed over.
    Found found = FindFirst(spEnum.p, ppCaptureOutput, OnError::GoOn, [](IPin* pPin) {
        HRESULT hr = IsCapturePin(pPin);
        if (FAILED(hr)) DIAG("CGraph::FindCaptureOutput(): spPin->QueryPinInfo() FAILED");
        return hr;
    });
    if (found.hr == S_FALSE) return E_FAIL;
    if (found.bFetch) DIAG("CGraph::FindCaptureOutput(): spEnum->Next() FAILED");
    return found.hr;
}

HRESULT CGraph::FindVideoOutput(IBaseFilter* pFilter, IPin** ppVideoOutput) {
    if (pFilter == NULL) return E_INVALIDARG;
    if (ppVideoOutput == NULL) return E_POINTER;
    *ppVideoOutput = NULL;

    CComPtr<IEnumPins> spEnum;
    HRESULT hr = EnumPinsOf(pFilter, spEnum);
    if (hr != S_OK) return hr;

    // An output pin offering video; a pin that can't be asked ends the search.
    Found found = FindFirst(spEnum.p, ppVideoOutput, OnError::Stop, [](IPin* pPin) {
        PIN_DIRECTION eDir = PINDIR_INPUT;
        HRESULT hr = pPin->QueryDirection(&eDir);
        if (FAILED(hr)) {
            DIAG("CGraph::FindVideoOutput(): spPin->QueryDirection() FAILED");
            return hr;
        }
        if (eDir == PINDIR_INPUT) return S_FALSE;
        hr = IsOfferingVideo(pPin);
        if (FAILED(hr)) DIAG("CGraph::FindVideoOutput(): spPin->EnumMediaTypes() FAILED");
        return hr;
    });
    if (found.hr == S_FALSE) return E_FAIL;
    if (found.bFetch) DIAG("CGraph::FindVideoOutput(): spEnum->Next() FAILED");
    return found.hr;
}

// ---------------------------------------------------------------------------------------
// Encoder and output chains.

HRESULT CGraph::InsertEncoder(IPin* pOutputPin, IBaseFilter** ppEncoder) {
    if (pOutputPin == NULL) return E_INVALIDARG;
    if (ppEncoder == NULL) return E_POINTER;
    *ppEncoder = NULL;
    if (!m_spGraph) return E_FAIL;

    CComPtr<IBaseFilter> spEncoder;
    HRESULT hr = spEncoder.CoCreateInstance(CLSID_VireonEncoder, NULL, CLSCTX_INPROC_SERVER);
    if (hr != S_OK || !spEncoder) {
        DIAG("CGraph::InsertEncoder(): Can't create Morvane H264 Encoder");
        return hr != S_OK ? hr : E_NOINTERFACE;
    }

    hr = m_spGraph->AddFilter(spEncoder, kEncoderName);
    if (hr != S_OK) {
        DIAG("CGraph::InsertEncoder(): Can't insert Morvane H264 Encoder to graph");
        return hr;
    }

    CComPtr<IPin> spInputPin;
    hr = GetPin(spEncoder, PINDIR_INPUT, NULL, &spInputPin);
    if (hr != S_OK) return hr;

    hr = m_spGraph->ConnectDirect(pOutputPin, spInputPin, NULL);
    if (hr != S_OK) {
        DIAG("CGraph::InsertEncoder(): m_spGraph->ConnectDirect() FAILED");
        return hr;
    }

    *ppEncoder = spEncoder.Detach();
    return S_OK;
}

HRESULT CGraph::CreateTailChain(IPin* pEncoderOutput, LPCWSTR pszOutputFile, bool bShowPreview) {
    if (pEncoderOutput == NULL) return E_INVALIDARG;
    if (pszOutputFile == NULL || *pszOutputFile == 0) return CreateRendererChain(pEncoderOutput);
    if (!m_spGraph) return E_FAIL;

    // The pin that feeds the writer: the Smart Tee's capture branch, or the encoder itself.
    CComPtr<IPin> spOutput;
    HRESULT hr;
    if (bShowPreview) {
        hr = CreatePreviewChain(pEncoderOutput, &spOutput);
        if (hr != S_OK) return hr;
    } else {
        spOutput = pEncoderOutput;
    }

    CComPtr<IBaseFilter> spWriter;
    hr = spWriter.CoCreateInstance(CLSID_VireonMp4Writer, NULL, CLSCTX_INPROC_SERVER);
    if (hr != S_OK || !spWriter) {
        DIAG("CGraph::CreateTailChain(): Can't create Morvane MPEG-4 Writer");
        return hr != S_OK ? hr : E_NOINTERFACE;
    }

    hr = m_spGraph->AddFilter(spWriter, kWriterName);
    if (hr != S_OK) {
        DIAG("CGraph::CreateTailChain(): Can't insert Morvane MPEG-4 Writer into graph");
        return hr;
    }

    CComQIPtr<IFileSinkFilter2> spFileSink(spWriter);
    ATLASSERT(spFileSink != 0);
    if (!spFileSink) return E_NOINTERFACE;
    hr = spFileSink->SetFileName(pszOutputFile, NULL);
    if (hr != S_OK) {
        DIAG("CGraph::CreateTailChain(): spFileSink->SetFileName() FAILED");
        return hr;
    }

    CComPtr<IPin> spWriterInput;
    hr = GetPin(spWriter, PINDIR_INPUT, NULL, &spWriterInput);
    if (hr != S_OK) return hr;

    hr = m_spGraph->ConnectDirect(spOutput, spWriterInput, NULL);
    if (hr != S_OK) DIAG("CGraph::CreateTailChain(): m_spGraph->ConnectDirect() FAILED");
    return hr;
}

HRESULT CGraph::CreateRendererChain(IPin* pOutputPin) {
    if (pOutputPin == NULL) return E_INVALIDARG;
    if (!m_spGraph) return E_FAIL;

    CComPtr<IBaseFilter> spDecoder;
    HRESULT hr = spDecoder.CoCreateInstance(CLSID_VireonDecoder, NULL, CLSCTX_INPROC_SERVER);
    if (hr != S_OK) {
        spDecoder.Release();
        hr = spDecoder.CoCreateInstance(CLSID_VireonDecoderAlt, NULL, CLSCTX_INPROC_SERVER);
        if (hr != S_OK) spDecoder.Release();
    }

    // Without a decoder the encoded stream itself is rendered.
    CComPtr<IPin> spPinToRender;
    if (!spDecoder) {
        spPinToRender = pOutputPin;
    } else {
        hr = m_spGraph->AddFilter(spDecoder, kDecoderName);
        if (hr != S_OK) {
            DIAG("CGraph::CreateRendererChain(): Can't insert Morvane H264 Decoder to graph");
            return hr;
        }

        CComPtr<IPin> spDecoderInPin;
        hr = GetPin(spDecoder, PINDIR_INPUT, NULL, &spDecoderInPin);
        if (hr != S_OK) return hr;

        hr = m_spGraph->ConnectDirect(pOutputPin, spDecoderInPin, NULL);
        if (hr != S_OK) {
            DIAG("CGraph::CreateRendererChain(): input connection of decoder failed");
            return hr;
        }

        hr = GetPin(spDecoder, PINDIR_OUTPUT, NULL, &spPinToRender);
        if (hr != S_OK) return hr;
    }

    hr = m_spGraph->Render(spPinToRender);
    if (hr != S_OK) DIAG("CGraph::CreateRendererChain(): rendering failed");
    return hr;
}

HRESULT CGraph::CreatePreviewChain(IPin* pEncoderOutput, IPin** ppSmartTeeCaptureOutput) {
    if (pEncoderOutput == NULL) return E_INVALIDARG;
    if (ppSmartTeeCaptureOutput == NULL) return E_POINTER;
    *ppSmartTeeCaptureOutput = NULL;
    if (!m_spGraph) return E_FAIL;

    CComPtr<IBaseFilter> spSmartTee;
    HRESULT hr = spSmartTee.CoCreateInstance(CLSID_SmartTee, NULL, CLSCTX_INPROC_SERVER);
    if (hr != S_OK || !spSmartTee) {
        DIAG("CGraph::CreatePreviewChain(): Can't create Smart Tee filter");
        return hr != S_OK ? hr : E_NOINTERFACE;
    }

    hr = m_spGraph->AddFilter(spSmartTee, kSmartTeeName);
    if (hr != S_OK) {
        DIAG("CGraph::CreatePreviewChain(): Can't insert Smart Tee filter to graph");
        return hr;
    }

    CComPtr<IPin> spSmartTeeIn;
    hr = GetPin(spSmartTee, PINDIR_INPUT, NULL, &spSmartTeeIn);
    if (hr != S_OK) return hr;

    hr = m_spGraph->ConnectDirect(pEncoderOutput, spSmartTeeIn, NULL);
    if (hr != S_OK) {
        DIAG("CGraph::CreatePreviewChain(): m_spGraph->ConnectDirect() FAILED");
        return hr;
    }

    CComPtr<IPin> spSmartTeePreview;
    hr = GetPin(spSmartTee, PINDIR_OUTPUT, L"Preview", &spSmartTeePreview);
    if (hr != S_OK) return hr;

    hr = CreateRendererChain(spSmartTeePreview);
    if (hr != S_OK) return hr;

    return GetPin(spSmartTee, PINDIR_OUTPUT, L"Capture", ppSmartTeeCaptureOutput);
}

HRESULT CGraph::GetPin(IBaseFilter* pFilter, PIN_DIRECTION eWantedDir, LPCWSTR pszName, IPin** ppPin) {
    if (pFilter == NULL) return E_INVALIDARG;
    if (ppPin == NULL) return E_POINTER;
    *ppPin = NULL;

    CComPtr<IEnumPins> spEnum;
    HRESULT hr = pFilter->EnumPins(&spEnum);
    ATLASSERT(SUCCEEDED(hr));
    if (hr == S_OK && !spEnum) hr = E_NOINTERFACE;

    // The first pin of the direction (and name, any letter case, when given). A query that
    // does not answer S_OK ends the search, after its pin has been compared.
    if (hr == S_OK) {
        Found found = FindFirst(spEnum.p, ppPin, OnError::Stop, [eWantedDir, pszName](IPin* pPin) {
            HRESULT hrQuery;
            bool bMatch;
            if (pszName != NULL) {
                PIN_INFO rgInfo;
                ::ZeroMemory(&rgInfo, sizeof(rgInfo));
                hrQuery = pPin->QueryPinInfo(&rgInfo);
                if (hrQuery != S_OK) DIAG("CGraph::GetPin(): spPin->QueryPinInfo() FAILED");
                if (rgInfo.pFilter) rgInfo.pFilter->Release();
                rgInfo.achName[MAX_PIN_NAME - 1] = 0;
                bMatch = rgInfo.dir == eWantedDir && ::lstrcmpiW(rgInfo.achName, pszName) == 0;
            } else {
                PIN_DIRECTION eDir = PINDIR_OUTPUT;
                hrQuery = pPin->QueryDirection(&eDir);
                if (hrQuery != S_OK) DIAG("CGraph::GetPin(): spPin->QueryDirection() FAILED");
                bMatch = eDir == eWantedDir;
            }
            if (bMatch) return S_OK;
            return hrQuery == S_OK ? S_FALSE : FAILED(hrQuery) ? hrQuery : E_FAIL;
        });
        if (found.hr == S_OK) return S_OK;
        hr = found.hr;
    }

    DIAG("CGraph::GetPin(): pin not found");
    return FAILED(hr) ? hr : E_FAIL;
}

// ---------------------------------------------------------------------------------------
// Graph checks and lookup.

HRESULT CGraph::CheckFilter(REFCLSID clsidWanted, IBaseFilter** ppFilter) {
    if (!m_spGraph) return E_FAIL;
    if (ppFilter != NULL) *ppFilter = NULL;

    CComPtr<IEnumFilters> spEnum;
    HRESULT hr = EnumFiltersOf(m_spGraph, spEnum);
    if (hr != S_OK) return hr;

    // The first filter of the class is the one checked; later ones are not looked at.
    CComPtr<IBaseFilter> spFilter;
    Found found = FindFirst(spEnum.p, &spFilter, OnError::GoOn,
                            [&clsidWanted](IBaseFilter* pFilter) { return IsOfClass(pFilter, clsidWanted); });
    if (found.hr == S_FALSE) {
        DIAG("CGraph::CheckFilter(): Wanted filter not found");
        return E_FAIL;
    }
    hr = found.hr;
    if (found.bFetch && hr != E_POINTER) ATLASSERT(hr == S_OK);
    if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;

    CComPtr<IEnumPins> spPins;
    hr = EnumPinsOf(spFilter, spPins);
    if (hr != S_OK) return hr;

    // In line: one input and one output pin, both connected. The walk looks for the first
    // pin that breaks the rule; the code of the break is kept.
    bool bInput = false;
    bool bOutput = false;
    found = FindFirst(spPins.p, (IPin**)NULL, OnError::Stop, [&](IPin* pPin) -> HRESULT {
        if (bInput && bOutput) {
            DIAG("CGraph::CheckFilter(): number of pins > 2");
            return S_OK;
        }
        PIN_DIRECTION eDir = PINDIR_INPUT;
        HRESULT hr = pPin->QueryDirection(&eDir);
        if (FAILED(hr)) {
            DIAG("CGraph::CheckFilter(): spPin->QueryDirection() FAILED");
            return hr;
        }
        if (eDir == PINDIR_INPUT) {
            if (bInput) {
                DIAG("CGraph::CheckFilter(): Second input pin found");
                return S_OK;
            }
            bInput = true;
        } else {
            if (bOutput) {
                DIAG("CGraph::CheckFilter(): Second output pin found");
                return S_OK;
            }
            bOutput = true;
        }
        CComPtr<IPin> spConnected;
        if (pPin->ConnectedTo(&spConnected) != S_OK || !spConnected) {
            DIAG("CGraph::CheckFilter(): Pin of wanted filter not connected");
            return S_OK;
        }
        return S_FALSE;
    });
    if (found.hr == S_OK) return E_FAIL;
    hr = found.hr;
    if (found.bFetch && hr != E_POINTER) ATLASSERT(hr == S_OK);
    if (hr != S_FALSE) return FAILED(hr) ? hr : E_FAIL;
    if (bInput && bOutput) {
        if (ppFilter != NULL) *ppFilter = spFilter.Detach();
        return S_OK;
    }
    DIAG("CGraph::CheckFilter(): number of pins < 2");
    return E_FAIL;
}

HRESULT CGraph::FindSource(LPCWSTR pszSource, IBaseFilter** ppFilter) {
    if (pszSource == NULL || *pszSource == 0) return E_INVALIDARG;
    if (ppFilter == NULL) return E_POINTER;
    *ppFilter = NULL;
    if (!m_spGraph) return E_FAIL;

    CComPtr<IEnumFilters> spEnum;
    HRESULT hr = EnumFiltersOf(m_spGraph, spEnum);
    if (hr != S_OK) return hr;

    // A filter whose name can't be read is passed over; fetch failures end the search like
    // its end.
    Found found = FindFirst(spEnum.p, ppFilter, OnError::GoOn,
                            [pszSource](IBaseFilter* pFilter) { return IsNamed(pFilter, pszSource); });
    if (found.hr != S_OK) {
        DIAG("CGraph::FindSource(): Filter not found");
        return E_FAIL;
    }
    return S_OK;
}

// ---------------------------------------------------------------------------------------
// Playback control, position and events.

HRESULT CGraph::Run() {
    ATLASSERT(m_spGraph != 0);
    if (!m_spGraph) return E_FAIL;
    CComQIPtr<IMediaControl> spControl(m_spGraph);
    if (!spControl) return E_FAIL;
    return spControl->Run();
}

HRESULT CGraph::Pause() {
    ATLASSERT(m_spGraph != 0);
    if (!m_spGraph) return E_FAIL;
    CComQIPtr<IMediaControl> spControl(m_spGraph);
    if (!spControl) return E_FAIL;
    return spControl->Pause();
}

HRESULT CGraph::Stop() {
    if (!m_spGraph) return E_FAIL;
    CComQIPtr<IMediaControl> spControl(m_spGraph);
    if (!spControl) return E_FAIL;
    return spControl->Stop();
}

int CGraph::GetState() {
    if (!m_spGraph) return 0;
    CComQIPtr<IMediaControl> spControl(m_spGraph);
    if (!spControl) return 0;
    OAFilterState eState = 0;
    if (FAILED(spControl->GetState(0, &eState))) return 0;
    if (eState == State_Paused) return 1;
    if (eState == State_Running) return 2;
    return 0;
}

long CGraph::GetEvent(LONG_PTR* plParam1) {
    if (plParam1 != NULL) *plParam1 = 0;
    if (!m_spGraph) return 0;
    CComQIPtr<IMediaEvent> spEvent(m_spGraph);
    ATLASSERT(spEvent != 0);
    if (!spEvent) return 0;

    long lEventCode = 0;
    LONG_PTR lParam1 = 0;
    LONG_PTR lParam2 = 0;
    if (spEvent->GetEvent(&lEventCode, &lParam1, &lParam2, 0) != S_OK) return 0;
    // Only numeric parameters are handed out; they stay valid after the event is freed.
    if (plParam1 != NULL) *plParam1 = lParam1;
    spEvent->FreeEventParams(lEventCode, lParam1, lParam2);
    return lEventCode;
}

HRESULT CGraph::GetDuration(LONGLONG* pllDuration) {
    ATLASSERT(pllDuration != 0);
    if (pllDuration == NULL) return E_POINTER;
    *pllDuration = 0;
    if (!m_spGraph) return E_FAIL;
    if (m_bLive) return E_NOTIMPL;

    CComQIPtr<IMediaSeeking> spSeeking(m_spGraph);
    ATLASSERT(spSeeking != 0);
    if (!spSeeking) return E_NOINTERFACE;
    HRESULT hr = spSeeking->GetDuration(pllDuration);
    ATLASSERT(hr == S_OK);
    return hr;
}

HRESULT CGraph::GetPosition(LONGLONG* pllPosition) {
    ATLASSERT(pllPosition != 0);
    if (pllPosition == NULL) return E_POINTER;
    *pllPosition = 0;
    if (!m_spGraph) return E_FAIL;
    if (m_bLive) return E_NOTIMPL;

    CComQIPtr<IMediaSeeking> spSeeking(m_spGraph);
    ATLASSERT(spSeeking != 0);
    if (!spSeeking) return E_NOINTERFACE;
    HRESULT hr = spSeeking->GetCurrentPosition(pllPosition);
    ATLASSERT(hr == S_OK);
    return hr;
}

HRESULT CGraph::SetPosition(LONGLONG llPosition) {
    if (!m_spGraph) return E_FAIL;
    if (m_bLive) return E_NOTIMPL;

    CComQIPtr<IMediaSeeking> spSeeking(m_spGraph);
    ATLASSERT(spSeeking != 0);
    if (!spSeeking) return E_NOINTERFACE;
    LONGLONG llCurrent = llPosition;
    HRESULT hr = spSeeking->SetPositions(&llCurrent, AM_SEEKING_AbsolutePositioning, NULL,
                                         AM_SEEKING_NoPositioning);
    ATLASSERT(SUCCEEDED(hr));
    return hr;
}

HRESULT CGraph::PlaceVideoWindow(HWND hWnd) {
    ATLASSERT(::IsWindow(hWnd));
    ATLASSERT(m_spGraph != 0);
    if (!m_spGraph) return E_FAIL;

    CComQIPtr<IVideoWindow> spVideoWindow(m_spGraph);
    if (!spVideoWindow) return E_FAIL;

    RECT rcArea = {0, 0, 0, 0};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcArea, 0);
    RECT rc = {0, 0, 0, 0};
    ::GetWindowRect(hWnd, &rc);

    long nHeight = 0;
    if (FAILED(spVideoWindow->get_Height(&nHeight))) return S_FALSE;

    long nTop = rc.top - nHeight;
    if (nTop < 0) nTop = 0;
    HRESULT hr = spVideoWindow->put_Top(nTop);
    ATLASSERT(SUCCEEDED(hr));

    long nWidth = 0;
    hr = spVideoWindow->get_Width(&nWidth);
    ATLASSERT(SUCCEEDED(hr));
    const long nLeft = (rcArea.right - rcArea.left - nWidth) / 2;
    hr = spVideoWindow->put_Left(nLeft);
    ATLASSERT(SUCCEEDED(hr));

    hr = spVideoWindow->put_Visible(OATRUE);
    ATLASSERT(SUCCEEDED(hr));
    return S_OK;
}

HRESULT CGraph::ShowPropertyPages(IBaseFilter* pFilter, HWND hWndOwner) {
    ATLASSERT(pFilter != 0);
    if (pFilter == NULL) return E_INVALIDARG;

    CComQIPtr<ISpecifyPropertyPages> spPropertyPages(pFilter);
    if (!spPropertyPages) return S_FALSE;

    CAUUID cuidPages = {0, NULL};
    HRESULT hr = spPropertyPages->GetPages(&cuidPages);
    if (FAILED(hr)) {
        DIAG("CGraph::ShowPropertyPages(): spPropertyPages->GetPages() FAILED");
        return hr;
    }

    FILTER_INFO rgInfo;
    ::ZeroMemory(&rgInfo, sizeof(rgInfo));
    LPCOLESTR pszCaption = L"Properties";
    if (SUCCEEDED(pFilter->QueryFilterInfo(&rgInfo))) {
        if (rgInfo.pGraph) rgInfo.pGraph->Release();
        rgInfo.achName[MAX_FILTER_NAME - 1] = 0;
        pszCaption = rgInfo.achName;
    }

    IUnknown* pUnk = pFilter;
    hr = ::OleCreatePropertyFrame(hWndOwner, 0, 0, pszCaption, 1, &pUnk, cuidPages.cElems, cuidPages.pElems, 0,
                                  0, NULL);
    if (FAILED(hr)) DIAG("CGraph::ShowPropertyPages(): OleCreatePropertyFrame() FAILED");

    ::CoTaskMemFree(cuidPages.pElems);
    return hr;
}

HRESULT CGraph::ShowSourcePropertyPages(LPCWSTR pszSource, HWND hWndOwner) {
    CComPtr<IBaseFilter> spFilter;
    HRESULT hr = FindSource(pszSource, &spFilter);
    if (hr != S_OK) return hr;
    return ShowPropertyPages(spFilter, hWndOwner);
}

// ---------------------------------------------------------------------------------------
// Encoder operations.

HRESULT CGraph::GetInputInfo(int* pnWidth, int* pnHeight, double* pdblFPS, int* peInterlacing) {
    if (!m_spVireon) return E_FAIL;
    return m_spVireon->GetInputInfo(pnWidth, pnHeight, pdblFPS, peInterlacing);
}

HRESULT CGraph::SetPreset(int ePreset) {
    if (!m_spVireon) return E_FAIL;
    return m_spVireon->SetPreset(ePreset);
}

HRESULT CGraph::GetPreset(int* pePreset) {
    if (!m_spVireon) return E_FAIL;
    return m_spVireon->GetPreset(pePreset);
}

HRESULT CGraph::GetSpeedQuality(UINT* pnSpeedQuality) {
    if (!m_spVireon) return E_FAIL;
    return m_spVireon->GetSpeedQuality(pnSpeedQuality);
}

HRESULT CGraph::GetRateControl(int* peRateControl) {
    if (!m_spVireon) return E_FAIL;
    return m_spVireon->GetRateControl(peRateControl);
}

HRESULT CGraph::GetBitrate(UINT* pnBitrate, UINT* pnBitrateUsed) {
    if (!m_spVireon) return E_FAIL;
    return m_spVireon->GetBitrate(pnBitrate, pnBitrateUsed);
}

HRESULT CGraph::GetStatistics(UINT* pnAvgBitrate, UINT* pnFrames) {
    if (!m_spVireon) return E_FAIL;
    return m_spVireon->GetStatistics(pnAvgBitrate, pnFrames);
}

HRESULT CGraph::GetProfileLevel(UINT* pnProfile, UINT* pnLevel, UINT* pnProfileUsed, UINT* pnLevelUsed) {
    if (!m_spVireon) return E_FAIL;
    return m_spVireon->GetProfileLevel(pnProfile, pnLevel, pnProfileUsed, pnLevelUsed);
}

HRESULT CGraph::GetGop(UINT* pnGopSize, int* pbExactGop, UINT* pnGopSizeUsed) {
    if (!m_spVireon) return E_FAIL;
    return m_spVireon->GetGop(pnGopSize, pbExactGop, pnGopSizeUsed);
}

HRESULT CGraph::GetIdrInterval(UINT* pnIdrInterval, UINT* pnIdrIntervalUsed) {
    if (!m_spVireon) return E_FAIL;
    return m_spVireon->GetIdrInterval(pnIdrInterval, pnIdrIntervalUsed);
}

HRESULT CGraph::GetBFrames(UINT* pnBFrames, UINT* pnBFramesUsed) {
    if (!m_spVireon) return E_FAIL;
    return m_spVireon->GetBFrames(pnBFrames, pnBFramesUsed);
}

HRESULT CGraph::GetCavlc(int* pbCavlc) {
    if (!m_spVireon) return E_FAIL;
    return m_spVireon->GetCavlc(pbCavlc);
}

HRESULT CGraph::ForceKeyFrame() {
    if (!m_spVireon) return E_FAIL;
    return m_spVireon->ForceKeyFrame();
}

HRESULT CGraph::SetEncoderType(int eEncType) {
    if (!m_spVireon) return E_FAIL;
    return m_spVireon->SetEncoderType(eEncType);
}

HRESULT CGraph::GetEncoderType(int* peEncType, int* peEncUsed) {
    if (!m_spVireon) return E_FAIL;
    return m_spVireon->GetEncoderType(peEncType, peEncUsed);
}
