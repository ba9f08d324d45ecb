#include "tests/support/fakes/FakeFilters.h"

#include <uuids.h>

#include <sstream>

namespace {

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

}  // namespace

// ---------------------------------------------------------------------------------------
// FakePin.

FakePin::FakePin(FakeFilter* pOwner, const std::wstring& pinName, PIN_DIRECTION pinDir)
    : name(pinName),
      dir(pinDir),
      hasKsPropertySet(false),
      category(GUID_NULL),
      acceptMajorType(GUID_NULL),
      hrQueryDirection(S_OK),
      hrQueryPinInfo(S_OK),
      hrConnectionMediaType(S_OK),
      hrEnumMediaTypes(S_OK),
      mediaTypesFailAt(-1),
      hrKsGet(S_OK),
      hrConnect(S_OK),
      cSamples(0),
      cEndOfStream(0),
      m_cRef(1),
      m_pOwner(pOwner) {}

void* FakePin::QueryInterfaceImpl(REFIID riid) {
    if (riid == IID_IUnknown || riid == IID_IPin) return static_cast<IPin*>(this);
    if (riid == IID_IKsPropertySet && hasKsPropertySet) return static_cast<IKsPropertySet*>(this);
    if (riid == IID_IMemInputPin && dir == PINDIR_INPUT) return static_cast<IMemInputPin*>(this);
    return NULL;
}

void FakePin::Link(FakePin* pOut, FakePin* pIn, const MediaType& mt) {
    pOut->peer = pIn;
    pIn->peer = pOut;
    pOut->connectionType = mt;
    pIn->connectionType = mt;
}

bool FakePin::Accepts(const AM_MEDIA_TYPE& mt) const {
    return acceptMajorType == GUID_NULL || mt.majortype == acceptMajorType;
}

void FakePin::SetUpAllocator(IPin* pReceivePin) {
    CComQIPtr<IMemInputPin> spMemInput(pReceivePin);
    if (!spMemInput) return;
    CComPtr<IMemAllocator> spAllocator;
    if (FAILED(spMemInput->GetAllocator(&spAllocator)) || !spAllocator) {
        spAllocator.Release();
        if (FAILED(spAllocator.CoCreateInstance(CLSID_MemoryAllocator, NULL, CLSCTX_INPROC_SERVER))) return;
    }
    ALLOCATOR_PROPERTIES request = {1, 1 << 20, 1, 0};
    ALLOCATOR_PROPERTIES actual = {};
    spAllocator->SetProperties(&request, &actual);
    if (SUCCEEDED(spMemInput->NotifyAllocator(spAllocator, FALSE))) m_spAllocator = spAllocator;
}

STDMETHODIMP FakePin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
    CallLog().Add(L"Connect " + PinLabel(this) + L" -> " + PinLabel(pReceivePin));
    if (pReceivePin == NULL) return E_POINTER;
    if (dir != PINDIR_OUTPUT) return E_UNEXPECTED;
    if (peer) return VFW_E_ALREADY_CONNECTED;
    if (FAILED(hrConnect)) return hrConnect;

    std::vector<MediaType> candidates;
    if (pmt != NULL) {
        candidates.push_back(MediaType(*pmt));
    } else {
        candidates = mediaTypes;
        CComPtr<IEnumMediaTypes> spEnum;
        if (SUCCEEDED(pReceivePin->EnumMediaTypes(&spEnum)) && spEnum) {
            AM_MEDIA_TYPE* p = NULL;
            while (spEnum->Next(1, &p, NULL) == S_OK && p) {
                candidates.push_back(MediaType(*p));
                ::CoTaskMemFree(p->pbFormat);
                if (p->pUnk) p->pUnk->Release();
                ::CoTaskMemFree(p);
                p = NULL;
            }
        }
        if (candidates.empty()) candidates.push_back(MediaType());
    }
    for (const MediaType& mt : candidates) {
        if (pmt == NULL && !mediaTypes.empty() && mt.Get().majortype != GUID_NULL &&
            mt.Get().majortype != mediaTypes[0].Get().majortype)
            continue;
        if (SUCCEEDED(pReceivePin->ReceiveConnection(this, &mt.Get()))) {
            peer = pReceivePin;
            connectionType = mt;
            SetUpAllocator(pReceivePin);
            return S_OK;
        }
    }
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

STDMETHODIMP FakePin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
    if (pConnector == NULL || pmt == NULL) return E_POINTER;
    if (dir != PINDIR_INPUT) return E_UNEXPECTED;
    if (peer) return VFW_E_ALREADY_CONNECTED;
    if (FAILED(hrConnect)) return hrConnect;
    if (!Accepts(*pmt)) return VFW_E_TYPE_NOT_ACCEPTED;
    peer = pConnector;
    connectionType.Assign(*pmt);
    return S_OK;
}

STDMETHODIMP FakePin::Disconnect() {
    if (!peer) return S_FALSE;
    peer.Release();
    connectionType.Clear();
    m_spAllocator.Release();
    return S_OK;
}

STDMETHODIMP FakePin::ConnectedTo(IPin** ppPin) {
    if (ppPin == NULL) return E_POINTER;
    *ppPin = NULL;
    if (!peer) return VFW_E_NOT_CONNECTED;
    return peer.CopyTo(ppPin);
}

STDMETHODIMP FakePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
    if (pmt == NULL) return E_POINTER;
    if (FAILED(hrConnectionMediaType)) return hrConnectionMediaType;
    if (!peer) {
        ::ZeroMemory(pmt, sizeof(*pmt));
        return VFW_E_NOT_CONNECTED;
    }
    return connectionType.CopyTo(pmt);
}

STDMETHODIMP FakePin::QueryPinInfo(PIN_INFO* pInfo) {
    if (pInfo == NULL) return E_POINTER;
    if (FAILED(hrQueryPinInfo)) return hrQueryPinInfo;
    pInfo->pFilter = m_pOwner;
    if (m_pOwner) m_pOwner->AddRef();
    pInfo->dir = dir;
    lstrcpynW(pInfo->achName, name.c_str(), MAX_PIN_NAME);
    return hrQueryPinInfo;
}

STDMETHODIMP FakePin::QueryDirection(PIN_DIRECTION* pPinDir) {
    if (pPinDir == NULL) return E_POINTER;
    if (FAILED(hrQueryDirection)) return hrQueryDirection;
    *pPinDir = dir;
    return hrQueryDirection;
}

STDMETHODIMP FakePin::QueryId(LPWSTR* Id) {
    if (Id == NULL) return E_POINTER;
    const std::wstring& s = id.empty() ? name : id;
    *Id = (LPWSTR)::CoTaskMemAlloc((s.size() + 1) * sizeof(wchar_t));
    if (*Id == NULL) return E_OUTOFMEMORY;
    memcpy(*Id, s.c_str(), (s.size() + 1) * sizeof(wchar_t));
    return S_OK;
}

STDMETHODIMP FakePin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
    if (pmt == NULL) return E_POINTER;
    return Accepts(*pmt) ? S_OK : S_FALSE;
}

STDMETHODIMP FakePin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
    if (ppEnum == NULL) return E_POINTER;
    *ppEnum = NULL;
    if (FAILED(hrEnumMediaTypes)) return hrEnumMediaTypes;
    *ppEnum = CreateMediaTypeEnum(mediaTypes, mediaTypesFailAt).Detach();
    return S_OK;
}

STDMETHODIMP FakePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

STDMETHODIMP FakePin::EndOfStream() {
    ::InterlockedIncrement(&cEndOfStream);
    if (m_pOwner) m_pOwner->OnEndOfStream(this);
    return S_OK;
}

STDMETHODIMP FakePin::BeginFlush() { return S_OK; }
STDMETHODIMP FakePin::EndFlush() { return S_OK; }
STDMETHODIMP FakePin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

STDMETHODIMP FakePin::Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) { return E_NOTIMPL; }

STDMETHODIMP FakePin::Get(REFGUID guidPropSet, DWORD dwPropID, LPVOID, DWORD, LPVOID pPropData, DWORD cbPropData,
                          DWORD* pcbReturned) {
    if (hrKsGet != S_OK) return hrKsGet;
    if (guidPropSet != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
    if (dwPropID != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (pPropData == NULL && pcbReturned == NULL) return E_POINTER;
    if (pcbReturned) *pcbReturned = sizeof(GUID);
    if (pPropData == NULL) return S_OK;
    if (cbPropData < sizeof(GUID)) return E_UNEXPECTED;
    *(GUID*)pPropData = category;
    return S_OK;
}

STDMETHODIMP FakePin::QuerySupported(REFGUID guidPropSet, DWORD dwPropID, DWORD* pTypeSupport) {
    if (guidPropSet != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
    if (dwPropID != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (pTypeSupport) *pTypeSupport = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

STDMETHODIMP FakePin::GetAllocator(IMemAllocator** ppAllocator) {
    if (ppAllocator == NULL) return E_POINTER;
    *ppAllocator = NULL;
    return VFW_E_NO_ALLOCATOR;
}

STDMETHODIMP FakePin::NotifyAllocator(IMemAllocator*, BOOL) { return S_OK; }
STDMETHODIMP FakePin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

STDMETHODIMP FakePin::Receive(IMediaSample*) {
    ::InterlockedIncrement(&cSamples);
    return S_OK;
}

STDMETHODIMP FakePin::ReceiveMultiple(IMediaSample**, LONG nSamples, LONG* nSamplesProcessed) {
    ::InterlockedExchangeAdd(&cSamples, nSamples);
    if (nSamplesProcessed) *nSamplesProcessed = nSamples;
    return S_OK;
}

STDMETHODIMP FakePin::ReceiveCanBlock() { return S_FALSE; }

// ---------------------------------------------------------------------------------------
// FakeFilter.

FakeFilter::FakeFilter(const std::wstring& filterName, REFCLSID filterClsid)
    : clsid(filterClsid),
      name(filterName),
      hasPropertyPages(false),
      isRenderer(false),
      hrGetClassID(S_OK),
      hrEnumPins(S_OK),
      pinsFailAt(-1),
      hrPinsFail(E_UNEXPECTED),
      hrQueryFilterInfo(S_OK),
      hrGetPages(S_OK),
      graph(NULL),
      state(State_Stopped),
      cGetPages(0),
      cEnumPins(0),
      m_cRef(1) {}

FakeFilter::~FakeFilter() {
    for (auto& spPin : pins) {
        spPin->peer.Release();
        spPin->Detach();
    }
}

CComPtr<FakeFilter> FakeFilter::Create(const std::wstring& filterName, REFCLSID filterClsid) {
    CComPtr<FakeFilter> sp;
    sp.Attach(new FakeFilter(filterName, filterClsid));
    return sp;
}

void* FakeFilter::QueryInterfaceImpl(REFIID riid) {
    if (refused.IsRefused(riid)) return NULL;
    if (riid == IID_IUnknown || riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist)
        return static_cast<IBaseFilter*>(this);
    if (riid == IID_ISpecifyPropertyPages && hasPropertyPages) return static_cast<ISpecifyPropertyPages*>(this);
    if (riid == IID_IAMFilterMiscFlags) return static_cast<IAMFilterMiscFlags*>(this);
    return NULL;
}

FakePin* FakeFilter::AddPin(const std::wstring& pinName, PIN_DIRECTION pinDir, const std::vector<MediaType>& types) {
    CComPtr<FakePin> spPin;
    spPin.Attach(new FakePin(this, pinName, pinDir));
    spPin->mediaTypes = types;
    pins.push_back(spPin);
    return spPin;
}

FakePin* FakeFilter::PinNamed(const std::wstring& pinName) const {
    for (const auto& spPin : pins)
        if (spPin->name == pinName) return spPin;
    return NULL;
}

void FakeFilter::OnEndOfStream(FakePin*) {
    bool bOutputs = false;
    for (const auto& spPin : pins) {
        if (spPin->dir != PINDIR_OUTPUT) continue;
        bOutputs = true;
        if (spPin->peer) spPin->peer->EndOfStream();
    }
    if (!bOutputs && graph) {
        CComQIPtr<IMediaEventSink> spSink(graph);
        if (spSink) spSink->Notify(EC_COMPLETE, S_OK, (LONG_PTR) static_cast<IBaseFilter*>(this));
    }
}

STDMETHODIMP FakeFilter::GetClassID(CLSID* pClassID) {
    if (pClassID == NULL) return E_POINTER;
    if (FAILED(hrGetClassID)) return hrGetClassID;
    *pClassID = clsid;
    return S_OK;
}

STDMETHODIMP FakeFilter::Stop() {
    state = State_Stopped;
    return S_OK;
}

STDMETHODIMP FakeFilter::Pause() {
    state = State_Paused;
    return S_OK;
}

STDMETHODIMP FakeFilter::Run(REFERENCE_TIME) {
    state = State_Running;
    return S_OK;
}

STDMETHODIMP FakeFilter::GetState(DWORD, FILTER_STATE* State) {
    if (State == NULL) return E_POINTER;
    *State = state;
    return S_OK;
}

STDMETHODIMP FakeFilter::SetSyncSource(IReferenceClock* pClock) {
    m_spClock = pClock;
    return S_OK;
}

STDMETHODIMP FakeFilter::GetSyncSource(IReferenceClock** pClock) {
    if (pClock == NULL) return E_POINTER;
    *pClock = m_spClock;
    if (*pClock) (*pClock)->AddRef();
    return S_OK;
}

STDMETHODIMP FakeFilter::EnumPins(IEnumPins** ppEnum) {
    ::InterlockedIncrement(&cEnumPins);
    if (ppEnum == NULL) return E_POINTER;
    *ppEnum = NULL;
    if (FAILED(hrEnumPins)) return hrEnumPins;
    std::vector<CComPtr<IPin>> items;
    for (const auto& spPin : pins) items.push_back(CComPtr<IPin>(static_cast<IPin*>(spPin.p)));
    *ppEnum = FakeEnum<IEnumPins, IPin>::Create(items, pinsFailAt, hrPinsFail).Detach();
    return S_OK;
}

STDMETHODIMP FakeFilter::FindPin(LPCWSTR Id, IPin** ppPin) {
    if (Id == NULL || ppPin == NULL) return E_POINTER;
    *ppPin = NULL;
    for (const auto& spPin : pins) {
        if ((spPin->id.empty() ? spPin->name : spPin->id) == Id) {
            *ppPin = static_cast<IPin*>(spPin.p);
            (*ppPin)->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

STDMETHODIMP FakeFilter::QueryFilterInfo(FILTER_INFO* pInfo) {
    if (pInfo == NULL) return E_POINTER;
    if (FAILED(hrQueryFilterInfo)) return hrQueryFilterInfo;
    lstrcpynW(pInfo->achName, name.c_str(), MAX_FILTER_NAME);
    pInfo->pGraph = graph;
    if (graph) graph->AddRef();
    return S_OK;
}

STDMETHODIMP FakeFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) {
    graph = pGraph;
    if (pName) name = pName;
    return S_OK;
}

STDMETHODIMP FakeFilter::QueryVendorInfo(LPWSTR* pVendorInfo) {
    if (pVendorInfo) *pVendorInfo = NULL;
    return E_NOTIMPL;
}

STDMETHODIMP FakeFilter::GetPages(CAUUID* pPages) {
    ::InterlockedIncrement(&cGetPages);
    if (pPages == NULL) return E_POINTER;
    pPages->cElems = 0;
    pPages->pElems = NULL;
    if (FAILED(hrGetPages)) return hrGetPages;
    if (!pages.empty()) {
        pPages->pElems = (GUID*)::CoTaskMemAlloc(pages.size() * sizeof(GUID));
        if (pPages->pElems == NULL) return E_OUTOFMEMORY;
        for (size_t i = 0; i < pages.size(); ++i) pPages->pElems[i] = pages[i];
        pPages->cElems = (ULONG)pages.size();
    }
    return S_OK;
}

STDMETHODIMP_(ULONG) FakeFilter::GetMiscFlags() { return isRenderer ? AM_FILTER_MISC_FLAGS_IS_RENDERER : 0; }

// ---------------------------------------------------------------------------------------
// FakeEncoder.

FakeEncoder::FakeEncoder() : FakeFilter(L"", CLSID_VireonEncoder) {
    AddPin(L"In", PINDIR_INPUT)->acceptMajorType = MEDIATYPE_Video;
    AddPin(L"Out", PINDIR_OUTPUT, {H264Type()});
}

CComPtr<FakeEncoder> FakeEncoder::Create() {
    CComPtr<FakeEncoder> sp;
    sp.Attach(new FakeEncoder());
    return sp;
}

void* FakeEncoder::QueryInterfaceImpl(REFIID riid) {
    if (refused.IsRefused(riid)) return NULL;
    if (riid == __uuidof(IVireon)) return hasVireon ? static_cast<IVireon*>(this) : NULL;
    if (riid == __uuidof(IVireonVersion)) return hasVersion ? static_cast<IVireonVersion*>(this) : NULL;
    return FakeFilter::QueryInterfaceImpl(riid);
}

HRESULT FakeEncoder::Called(const std::string& call, const char* method) {
    calls.push_back(call);
    CallLog().Add(L"IVireon::" + Widen(call));
    auto it = results.find(method);
    return it == results.end() ? S_OK : it->second;
}

#define FAKE_OUT(p, v) \
    do {               \
        if (p) *(p) = (v); \
    } while (0)

STDMETHODIMP FakeEncoder::GetInputInfo(int* pnWidth, int* pnHeight, double* pdblFPS, int* peInterlacing) {
    HRESULT hr = Called("GetInputInfo", "GetInputInfo");
    if (SUCCEEDED(hr)) {
        FAKE_OUT(pnWidth, values.nWidth);
        FAKE_OUT(pnHeight, values.nHeight);
        FAKE_OUT(pdblFPS, values.dblFPS);
        FAKE_OUT(peInterlacing, values.eInterlacing);
    }
    return hr;
}

STDMETHODIMP FakeEncoder::SetPreset(int ePreset) {
    HRESULT hr = Called("SetPreset(" + std::to_string(ePreset) + ")", "SetPreset");
    if (SUCCEEDED(hr)) values.ePreset = ePreset;
    return hr;
}

STDMETHODIMP FakeEncoder::GetPreset(int* pePreset) {
    HRESULT hr = Called("GetPreset", "GetPreset");
    if (SUCCEEDED(hr)) FAKE_OUT(pePreset, values.ePreset);
    return hr;
}

STDMETHODIMP FakeEncoder::SetSpeedQuality(UINT n) {
    HRESULT hr = Called("SetSpeedQuality(" + std::to_string(n) + ")", "SetSpeedQuality");
    if (SUCCEEDED(hr)) values.nSpeedQuality = n;
    return hr;
}

STDMETHODIMP FakeEncoder::GetSpeedQuality(UINT* pn) {
    HRESULT hr = Called("GetSpeedQuality", "GetSpeedQuality");
    if (SUCCEEDED(hr)) FAKE_OUT(pn, values.nSpeedQuality);
    return hr;
}

STDMETHODIMP FakeEncoder::SetRateControl(int e) {
    HRESULT hr = Called("SetRateControl(" + std::to_string(e) + ")", "SetRateControl");
    if (SUCCEEDED(hr)) values.eRateControl = e;
    return hr;
}

STDMETHODIMP FakeEncoder::GetRateControl(int* pe) {
    HRESULT hr = Called("GetRateControl", "GetRateControl");
    if (SUCCEEDED(hr)) FAKE_OUT(pe, values.eRateControl);
    return hr;
}

STDMETHODIMP FakeEncoder::SetBitrate(UINT n) {
    HRESULT hr = Called("SetBitrate(" + std::to_string(n) + ")", "SetBitrate");
    if (SUCCEEDED(hr)) values.nBitrate = n;
    return hr;
}

STDMETHODIMP FakeEncoder::GetBitrate(UINT* pn, UINT* pnUsed) {
    HRESULT hr = Called("GetBitrate", "GetBitrate");
    if (SUCCEEDED(hr)) {
        FAKE_OUT(pn, values.nBitrate);
        FAKE_OUT(pnUsed, values.nBitrateUsed);
    }
    return hr;
}

STDMETHODIMP FakeEncoder::GetStatistics(UINT* pnAvg, UINT* pnFrames) {
    HRESULT hr = Called("GetStatistics", "GetStatistics");
    if (SUCCEEDED(hr)) {
        FAKE_OUT(pnAvg, values.nAvgBitrate);
        FAKE_OUT(pnFrames, values.nFrames);
    }
    return hr;
}

STDMETHODIMP FakeEncoder::SetProfileLevel(UINT nProfile, UINT nLevel) {
    HRESULT hr = Called("SetProfileLevel(" + std::to_string(nProfile) + "," + std::to_string(nLevel) + ")",
                        "SetProfileLevel");
    if (SUCCEEDED(hr)) values.nProfile = nProfile, values.nLevel = nLevel;
    return hr;
}

STDMETHODIMP FakeEncoder::GetProfileLevel(UINT* pnProfile, UINT* pnLevel, UINT* pnProfileUsed, UINT* pnLevelUsed) {
    HRESULT hr = Called("GetProfileLevel", "GetProfileLevel");
    if (SUCCEEDED(hr)) {
        FAKE_OUT(pnProfile, values.nProfile);
        FAKE_OUT(pnLevel, values.nLevel);
        FAKE_OUT(pnProfileUsed, values.nProfileUsed);
        FAKE_OUT(pnLevelUsed, values.nLevelUsed);
    }
    return hr;
}

STDMETHODIMP FakeEncoder::SetGop(UINT nGopSize, int bExactGop) {
    HRESULT hr = Called("SetGop(" + std::to_string(nGopSize) + "," + std::to_string(bExactGop) + ")", "SetGop");
    if (SUCCEEDED(hr)) values.nGopSize = nGopSize, values.bExactGop = bExactGop;
    return hr;
}

STDMETHODIMP FakeEncoder::GetGop(UINT* pnGopSize, int* pbExactGop, UINT* pnGopSizeUsed) {
    HRESULT hr = Called("GetGop", "GetGop");
    if (SUCCEEDED(hr)) {
        FAKE_OUT(pnGopSize, values.nGopSize);
        FAKE_OUT(pbExactGop, values.bExactGop);
        FAKE_OUT(pnGopSizeUsed, values.nGopSizeUsed);
    }
    return hr;
}

STDMETHODIMP FakeEncoder::SetIdrInterval(UINT n) {
    HRESULT hr = Called("SetIdrInterval(" + std::to_string(n) + ")", "SetIdrInterval");
    if (SUCCEEDED(hr)) values.nIdrInterval = n;
    return hr;
}

STDMETHODIMP FakeEncoder::GetIdrInterval(UINT* pn, UINT* pnUsed) {
    HRESULT hr = Called("GetIdrInterval", "GetIdrInterval");
    if (SUCCEEDED(hr)) {
        FAKE_OUT(pn, values.nIdrInterval);
        FAKE_OUT(pnUsed, values.nIdrIntervalUsed);
    }
    return hr;
}

STDMETHODIMP FakeEncoder::SetBFrames(UINT n) {
    HRESULT hr = Called("SetBFrames(" + std::to_string(n) + ")", "SetBFrames");
    if (SUCCEEDED(hr)) values.nBFrames = n;
    return hr;
}

STDMETHODIMP FakeEncoder::GetBFrames(UINT* pn, UINT* pnUsed) {
    HRESULT hr = Called("GetBFrames", "GetBFrames");
    if (SUCCEEDED(hr)) {
        FAKE_OUT(pn, values.nBFrames);
        FAKE_OUT(pnUsed, values.nBFramesUsed);
    }
    return hr;
}

STDMETHODIMP FakeEncoder::SetCavlc(int b) {
    HRESULT hr = Called("SetCavlc(" + std::to_string(b) + ")", "SetCavlc");
    if (SUCCEEDED(hr)) values.bCavlc = b;
    return hr;
}

STDMETHODIMP FakeEncoder::GetCavlc(int* pb) {
    HRESULT hr = Called("GetCavlc", "GetCavlc");
    if (SUCCEEDED(hr)) FAKE_OUT(pb, values.bCavlc);
    return hr;
}

STDMETHODIMP FakeEncoder::SetPassThroughTimeStamps(int b) {
    HRESULT hr = Called("SetPassThroughTimeStamps(" + std::to_string(b) + ")", "SetPassThroughTimeStamps");
    if (SUCCEEDED(hr)) values.bPassThrough = b;
    return hr;
}

STDMETHODIMP FakeEncoder::GetPassThroughTimeStamps(int* pb) {
    HRESULT hr = Called("GetPassThroughTimeStamps", "GetPassThroughTimeStamps");
    if (SUCCEEDED(hr)) FAKE_OUT(pb, values.bPassThrough);
    return hr;
}

STDMETHODIMP FakeEncoder::ForceKeyFrame() { return Called("ForceKeyFrame", "ForceKeyFrame"); }

STDMETHODIMP FakeEncoder::SetEncoderType(int e) {
    HRESULT hr = Called("SetEncoderType(" + std::to_string(e) + ")", "SetEncoderType");
    if (SUCCEEDED(hr)) values.eEncType = e;
    return hr;
}

STDMETHODIMP FakeEncoder::GetEncoderType(int* pe, int* peUsed) {
    HRESULT hr = Called("GetEncoderType", "GetEncoderType");
    if (SUCCEEDED(hr)) {
        FAKE_OUT(pe, values.eEncType);
        FAKE_OUT(peUsed, values.eEncUsed);
    }
    return hr;
}

STDMETHODIMP FakeEncoder::SetThreads(UINT n) {
    HRESULT hr = Called("SetThreads(" + std::to_string(n) + ")", "SetThreads");
    if (SUCCEEDED(hr)) values.nThreads = n;
    return hr;
}

STDMETHODIMP FakeEncoder::GetThreads(UINT* pn, UINT* pnUsed) {
    HRESULT hr = Called("GetThreads", "GetThreads");
    if (SUCCEEDED(hr)) {
        FAKE_OUT(pn, values.nThreads);
        FAKE_OUT(pnUsed, values.nThreadsUsed);
    }
    return hr;
}

STDMETHODIMP FakeEncoder::GetType(int* pe) {
    HRESULT hr = Called("GetType", "GetType");
    if (SUCCEEDED(hr)) FAKE_OUT(pe, values.eType);
    return hr;
}

STDMETHODIMP FakeEncoder::GetOS(int* pe) {
    HRESULT hr = Called("GetOS", "GetOS");
    if (SUCCEEDED(hr)) FAKE_OUT(pe, values.eOS);
    return hr;
}

STDMETHODIMP FakeEncoder::GetName(BSTR* pbstr) {
    HRESULT hr = Called("GetName", "GetName");
    if (SUCCEEDED(hr) && pbstr) *pbstr = ::SysAllocString(values.name.c_str());
    return hr;
}

STDMETHODIMP FakeEncoder::GetNumber(BSTR* pbstr) {
    HRESULT hr = Called("GetNumber", "GetNumber");
    if (SUCCEEDED(hr) && pbstr) *pbstr = ::SysAllocString(values.number.c_str());
    return hr;
}

STDMETHODIMP FakeEncoder::GetDateTime(BSTR* pbstr) {
    HRESULT hr = Called("GetDateTime", "GetDateTime");
    if (SUCCEEDED(hr) && pbstr) *pbstr = ::SysAllocString(values.dateTime.c_str());
    return hr;
}

// ---------------------------------------------------------------------------------------
// FakeWriter.

FakeWriter::FakeWriter() : FakeFilter(L"", CLSID_VireonMp4Writer) {
    AddPin(L"In", PINDIR_INPUT);
    isRenderer = true;
}

CComPtr<FakeWriter> FakeWriter::Create() {
    CComPtr<FakeWriter> sp;
    sp.Attach(new FakeWriter());
    return sp;
}

void* FakeWriter::QueryInterfaceImpl(REFIID riid) {
    if (refused.IsRefused(riid)) return NULL;
    if (riid == IID_IFileSinkFilter2 || riid == IID_IFileSinkFilter)
        return hasFileSink ? static_cast<IFileSinkFilter2*>(this) : NULL;
    return FakeFilter::QueryInterfaceImpl(riid);
}

STDMETHODIMP FakeWriter::SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) {
    CallLog().Add(std::wstring(L"SetFileName ") + (pszFileName ? pszFileName : L"(null)"));
    mediaTypeGiven = pmt != NULL;
    if (hrSetFileName != S_OK) return hrSetFileName;
    fileName = pszFileName ? pszFileName : L"";
    return S_OK;
}

STDMETHODIMP FakeWriter::GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) {
    if (ppszFileName == NULL) return E_POINTER;
    *ppszFileName = (LPOLESTR)::CoTaskMemAlloc((fileName.size() + 1) * sizeof(wchar_t));
    memcpy(*ppszFileName, fileName.c_str(), (fileName.size() + 1) * sizeof(wchar_t));
    if (pmt) ::ZeroMemory(pmt, sizeof(*pmt));
    return S_OK;
}

STDMETHODIMP FakeWriter::SetMode(DWORD) { return S_OK; }

STDMETHODIMP FakeWriter::GetMode(DWORD* pdwFlags) {
    if (pdwFlags) *pdwFlags = 0;
    return S_OK;
}

// ---------------------------------------------------------------------------------------
// Decoder and renderer.

CComPtr<FakeFilter> CreateFakeDecoder() {
    CComPtr<FakeFilter> sp = FakeFilter::Create(L"", CLSID_VireonDecoder);
    sp->AddPin(L"In", PINDIR_INPUT)->acceptMajorType = MEDIATYPE_Video;
    sp->AddPin(L"Out", PINDIR_OUTPUT, {VideoType(MEDIASUBTYPE_RGB32, 320, 240)});
    return sp;
}

CComPtr<FakeFilter> CreateFakeRenderer(const std::wstring& rendererName) {
    CComPtr<FakeFilter> sp = FakeFilter::Create(rendererName);
    sp->AddPin(L"Input", PINDIR_INPUT);
    sp->isRenderer = true;
    return sp;
}

// ---------------------------------------------------------------------------------------
// FakePropertyPage.

CComPtr<IUnknown> FakePropertyPage::Create(const std::wstring& pageTitle) {
    CComPtr<IUnknown> sp;
    sp.Attach(static_cast<IPropertyPage*>(new FakePropertyPage(pageTitle)));
    return sp;
}

void* FakePropertyPage::QueryInterfaceImpl(REFIID riid) {
    if (riid == IID_IUnknown || riid == IID_IPropertyPage) return static_cast<IPropertyPage*>(this);
    return NULL;
}

STDMETHODIMP FakePropertyPage::SetPageSite(IPropertyPageSite* pPageSite) {
    m_spSite = pPageSite;
    return S_OK;
}

STDMETHODIMP FakePropertyPage::Activate(HWND hWndParent, LPCRECT pRect, BOOL) {
    RECT rc = pRect ? *pRect : RECT{0, 0, 200, 100};
    hWnd = ::CreateWindowExW(0, L"STATIC", title.c_str(), WS_CHILD, rc.left, rc.top, rc.right - rc.left,
                             rc.bottom - rc.top, hWndParent, NULL, ::GetModuleHandleW(NULL), NULL);
    return hWnd ? S_OK : E_FAIL;
}

STDMETHODIMP FakePropertyPage::Deactivate() {
    if (hWnd) ::DestroyWindow(hWnd);
    hWnd = NULL;
    return S_OK;
}

STDMETHODIMP FakePropertyPage::GetPageInfo(PROPPAGEINFO* pPageInfo) {
    if (pPageInfo == NULL) return E_POINTER;
    pPageInfo->cb = sizeof(PROPPAGEINFO);
    pPageInfo->pszTitle = (LPOLESTR)::CoTaskMemAlloc((title.size() + 1) * sizeof(wchar_t));
    if (pPageInfo->pszTitle) memcpy(pPageInfo->pszTitle, title.c_str(), (title.size() + 1) * sizeof(wchar_t));
    pPageInfo->size.cx = 200;
    pPageInfo->size.cy = 100;
    pPageInfo->pszDocString = NULL;
    pPageInfo->pszHelpFile = NULL;
    pPageInfo->dwHelpContext = 0;
    return S_OK;
}

STDMETHODIMP FakePropertyPage::SetObjects(ULONG cObjects, IUnknown** ppUnk) {
    objects.clear();
    for (ULONG i = 0; i < cObjects && ppUnk; ++i) objects.push_back(ppUnk[i]);
    return S_OK;
}

STDMETHODIMP FakePropertyPage::Show(UINT nCmdShow) {
    if (hWnd) ::ShowWindow(hWnd, nCmdShow);
    return S_OK;
}

STDMETHODIMP FakePropertyPage::Move(LPCRECT pRect) {
    if (hWnd && pRect)
        ::MoveWindow(hWnd, pRect->left, pRect->top, pRect->right - pRect->left, pRect->bottom - pRect->top, TRUE);
    return S_OK;
}

STDMETHODIMP FakePropertyPage::IsPageDirty() { return S_FALSE; }
STDMETHODIMP FakePropertyPage::Apply() { return S_OK; }
STDMETHODIMP FakePropertyPage::Help(LPCOLESTR) { return E_NOTIMPL; }
STDMETHODIMP FakePropertyPage::TranslateAccelerator(MSG*) { return S_FALSE; }
