// Filter, pins and enumerators of the filter kit.
#include "standins/kit/FilterKit.h"

#include <cwchar>

// --- CKitPin -------------------------------------------------------------------------------

CKitPin::CKitPin(CKitFilter* pFilter, PIN_DIRECTION eDir, const wchar_t* pszName)
    : m_pFilter(pFilter), m_eDir(eDir), m_name(pszName ? pszName : L""), m_pConnected(nullptr),
      m_bTryMyTypesFirst(false), m_category(GUID_NULL) {}

CKitPin::~CKitPin() {
    if (m_pConnected) m_pConnected->Release();
}

STDMETHODIMP CKitPin::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IPin)
        *ppv = static_cast<IPin*>(this);
    else if (riid == IID_IKsPropertySet && m_category != GUID_NULL)
        *ppv = static_cast<IKsPropertySet*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CKitPin::AddRef() { return m_pFilter->AddRef(); }
STDMETHODIMP_(ULONG) CKitPin::Release() { return m_pFilter->Release(); }

HRESULT CKitPin::GetMediaType(int, CKitMediaType*) { return VFW_S_NO_MORE_ITEMS; }
HRESULT CKitPin::CompleteConnect(IPin*) { return S_OK; }
void CKitPin::BreakConnect() {}

void CKitPin::ClearConnection() {
    if (m_pConnected) m_pConnected->Release();
    m_pConnected = nullptr;
    m_mt.Clear();
}

HRESULT CKitPin::AttemptConnection(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
    if (CheckMediaType(pmt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
    m_pConnected = pReceivePin;
    m_pConnected->AddRef();
    m_mt = *pmt;
    HRESULT hr = pReceivePin->ReceiveConnection(this, pmt);
    if (FAILED(hr)) {
        ClearConnection();
        return hr;
    }
    hr = CompleteConnect(pReceivePin);
    if (FAILED(hr)) {
        pReceivePin->Disconnect();
        BreakConnect();
        ClearConnection();
        return hr;
    }
    return S_OK;
}

HRESULT CKitPin::TryMediaTypes(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt, IEnumMediaTypes* pEnum) {
    HRESULT hrLast = VFW_E_NO_ACCEPTABLE_TYPES;
    AM_MEDIA_TYPE* pType = nullptr;
    ULONG cFetched = 0;
    while (pEnum->Next(1, &pType, &cFetched) == S_OK && cFetched == 1) {
        HRESULT hr = VFW_E_TYPE_NOT_ACCEPTED;
        if (media::MatchesPartial(pType, pmt)) hr = AttemptConnection(pReceivePin, pType);
        media::DeleteMediaType(pType);
        pType = nullptr;
        if (SUCCEEDED(hr)) return S_OK;
        if (hr != VFW_E_TYPE_NOT_ACCEPTED) hrLast = hr;
    }
    return hrLast;
}

STDMETHODIMP CKitPin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
    if (!pReceivePin) return E_POINTER;
    if (m_eDir != PINDIR_OUTPUT) return E_UNEXPECTED;
    CKitAutoLock lock(m_pFilter->FilterLock());
    if (m_pConnected) return VFW_E_ALREADY_CONNECTED;
    if (m_pFilter->State() != State_Stopped) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION eDir = PINDIR_OUTPUT;
    if (FAILED(pReceivePin->QueryDirection(&eDir)) || eDir != PINDIR_INPUT)
        return VFW_E_INVALID_DIRECTION;

    if (media::IsFullySpecified(pmt)) return AttemptConnection(pReceivePin, pmt);

    IEnumMediaTypes* pTheirs = nullptr;
    if (FAILED(pReceivePin->EnumMediaTypes(&pTheirs))) pTheirs = nullptr;
    IEnumMediaTypes* pOurs = new CKitEnumMediaTypes(this);
    IEnumMediaTypes* order[2] = {pTheirs, pOurs};
    if (m_bTryMyTypesFirst) std::swap(order[0], order[1]);
    HRESULT hr = VFW_E_NO_ACCEPTABLE_TYPES;
    for (IEnumMediaTypes* pEnum : order) {
        if (!pEnum) continue;
        HRESULT hrTry = TryMediaTypes(pReceivePin, pmt, pEnum);
        if (SUCCEEDED(hrTry)) {
            hr = S_OK;
            break;
        }
        if (hrTry != VFW_E_NO_ACCEPTABLE_TYPES) hr = hrTry;
    }
    if (pTheirs) pTheirs->Release();
    pOurs->Release();
    return hr;
}

STDMETHODIMP CKitPin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
    if (!pConnector || !pmt) return E_POINTER;
    if (m_eDir != PINDIR_INPUT) return E_UNEXPECTED;
    CKitAutoLock lock(m_pFilter->FilterLock());
    if (m_pConnected) return VFW_E_ALREADY_CONNECTED;
    if (m_pFilter->State() != State_Stopped) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION eDir = PINDIR_INPUT;
    if (FAILED(pConnector->QueryDirection(&eDir)) || eDir != PINDIR_OUTPUT)
        return VFW_E_INVALID_DIRECTION;
    if (CheckMediaType(pmt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
    m_pConnected = pConnector;
    m_pConnected->AddRef();
    m_mt = *pmt;
    HRESULT hr = CompleteConnect(pConnector);
    if (FAILED(hr)) {
        BreakConnect();
        ClearConnection();
        return hr;
    }
    return S_OK;
}

STDMETHODIMP CKitPin::Disconnect() {
    CKitAutoLock lock(m_pFilter->FilterLock());
    if (m_pFilter->State() != State_Stopped) return VFW_E_NOT_STOPPED;
    if (!m_pConnected) return S_FALSE;
    BreakConnect();
    ClearConnection();
    return S_OK;
}

STDMETHODIMP CKitPin::ConnectedTo(IPin** ppPin) {
    if (!ppPin) return E_POINTER;
    CKitAutoLock lock(m_pFilter->FilterLock());
    *ppPin = m_pConnected;
    if (!m_pConnected) return VFW_E_NOT_CONNECTED;
    m_pConnected->AddRef();
    return S_OK;
}

STDMETHODIMP CKitPin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
    if (!pmt) return E_POINTER;
    CKitAutoLock lock(m_pFilter->FilterLock());
    if (!m_pConnected) {
        *pmt = AM_MEDIA_TYPE();
        return VFW_E_NOT_CONNECTED;
    }
    return media::CopyMediaType(pmt, &m_mt);
}

STDMETHODIMP CKitPin::QueryPinInfo(PIN_INFO* pInfo) {
    if (!pInfo) return E_POINTER;
    pInfo->pFilter = m_pFilter;
    m_pFilter->AddRef();
    pInfo->dir = m_eDir;
    lstrcpynW(pInfo->achName, m_name.c_str(), MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP CKitPin::QueryDirection(PIN_DIRECTION* pPinDir) {
    if (!pPinDir) return E_POINTER;
    *pPinDir = m_eDir;
    return S_OK;
}

STDMETHODIMP CKitPin::QueryId(LPWSTR* pszId) {
    if (!pszId) return E_POINTER;
    size_t cb = (m_name.size() + 1) * sizeof(wchar_t);
    *pszId = (LPWSTR)::CoTaskMemAlloc(cb);
    if (!*pszId) return E_OUTOFMEMORY;
    memcpy(*pszId, m_name.c_str(), cb);
    return S_OK;
}

STDMETHODIMP CKitPin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
    if (!pmt) return E_POINTER;
    return CheckMediaType(pmt) == S_OK ? S_OK : S_FALSE;
}

STDMETHODIMP CKitPin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = new CKitEnumMediaTypes(this);
    return S_OK;
}

STDMETHODIMP CKitPin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

STDMETHODIMP CKitPin::Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) { return E_NOTIMPL; }

STDMETHODIMP CKitPin::Get(REFGUID guidPropSet, DWORD dwPropID, LPVOID, DWORD, LPVOID pPropData,
                          DWORD cbPropData, DWORD* pcbReturned) {
    if (guidPropSet != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
    if (dwPropID != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (!pPropData && !pcbReturned) return E_POINTER;
    if (pcbReturned) *pcbReturned = sizeof(GUID);
    if (!pPropData) return S_OK;
    if (cbPropData < sizeof(GUID)) return E_UNEXPECTED;
    *(GUID*)pPropData = m_category;
    return S_OK;
}

STDMETHODIMP CKitPin::QuerySupported(REFGUID guidPropSet, DWORD dwPropID, DWORD* pTypeSupport) {
    if (guidPropSet != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
    if (dwPropID != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (pTypeSupport) *pTypeSupport = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

// --- CKitInputPin --------------------------------------------------------------------------

CKitInputPin::CKitInputPin(CKitFilter* pFilter, const wchar_t* pszName)
    : CKitPin(pFilter, PINDIR_INPUT, pszName), m_pAllocator(nullptr), m_bReadOnly(false),
      m_bFlushing(false), m_bActive(false), m_bAtEndOfStream(false), m_tSegStart(0),
      m_tSegStop(MAXLONGLONG), m_dSegRate(1.0) {}

CKitInputPin::~CKitInputPin() {
    if (m_pAllocator) m_pAllocator->Release();
}

STDMETHODIMP CKitInputPin::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMemInputPin) {
        *ppv = static_cast<IMemInputPin*>(this);
        AddRef();
        return S_OK;
    }
    return CKitPin::QueryInterface(riid, ppv);
}

STDMETHODIMP CKitInputPin::GetAllocator(IMemAllocator** ppAllocator) {
    if (!ppAllocator) return E_POINTER;
    *ppAllocator = nullptr;
    CKitAutoLock lock(m_pFilter->FilterLock());
    if (!m_pAllocator) {
        HRESULT hr = ::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IMemAllocator, (void**)&m_pAllocator);
        if (FAILED(hr)) return hr;
    }
    *ppAllocator = m_pAllocator;
    m_pAllocator->AddRef();
    return S_OK;
}

STDMETHODIMP CKitInputPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) {
    if (!pAllocator) return E_POINTER;
    CKitAutoLock lock(m_pFilter->FilterLock());
    pAllocator->AddRef();
    if (m_pAllocator) m_pAllocator->Release();
    m_pAllocator = pAllocator;
    m_bReadOnly = bReadOnly != FALSE;
    return S_OK;
}

STDMETHODIMP CKitInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) {
    if (!pProps) return E_POINTER;
    return OnGetAllocatorRequirements(pProps);
}

STDMETHODIMP CKitInputPin::Receive(IMediaSample* pSample) {
    if (!pSample) return E_POINTER;
    // A new type on the sample is taken before the streaming lock: the filter lock is never
    // waited for while streaming is held (Stop takes them the other way round).
    AM_MEDIA_TYPE* pmt = nullptr;
    if (pSample->GetMediaType(&pmt) == S_OK && pmt) {
        HRESULT hr = CheckMediaType(pmt) == S_OK ? S_OK : VFW_E_INVALIDMEDIATYPE;
        if (hr == S_OK) {
            CKitAutoLock lockFilter(m_pFilter->FilterLock());
            m_mt = *pmt;
        }
        media::DeleteMediaType(pmt);
        if (hr != S_OK) return hr;
    }
    CKitAutoLock lock(m_pFilter->StreamLock());
    if (!m_bActive) return VFW_E_WRONG_STATE;
    if (m_bFlushing) return S_FALSE;
    if (m_bAtEndOfStream) return VFW_E_SAMPLE_REJECTED_EOS;
    return OnReceive(pSample);
}

STDMETHODIMP CKitInputPin::ReceiveMultiple(IMediaSample** pSamples, long nSamples, long* nProcessed) {
    if (!pSamples || !nProcessed) return E_POINTER;
    *nProcessed = 0;
    HRESULT hr = S_OK;
    while (*nProcessed < nSamples) {
        hr = Receive(pSamples[*nProcessed]);
        if (hr != S_OK) break;
        ++*nProcessed;
    }
    return hr;
}

STDMETHODIMP CKitInputPin::ReceiveCanBlock() {
    // A filter with outputs delivers from inside Receive, and delivery can block.
    for (int i = 0; i < m_pFilter->GetPinCount(); ++i) {
        CKitPin* pPin = m_pFilter->GetPin(i);
        if (pPin && pPin->Direction() == PINDIR_OUTPUT && pPin->IsConnected()) return S_OK;
    }
    return S_FALSE;
}

STDMETHODIMP CKitInputPin::EndOfStream() {
    CKitAutoLock lock(m_pFilter->StreamLock());
    if (!m_bActive) return VFW_E_WRONG_STATE;
    if (m_bFlushing) return S_FALSE;
    m_bAtEndOfStream = true;
    return OnEndOfStream();
}

STDMETHODIMP CKitInputPin::BeginFlush() {
    {
        CKitAutoLock lock(m_pFilter->FilterLock());
        m_bFlushing = true;
    }
    return OnBeginFlush();
}

STDMETHODIMP CKitInputPin::EndFlush() {
    HRESULT hr = OnEndFlush();
    CKitAutoLock lock(m_pFilter->StreamLock());
    m_bAtEndOfStream = false;
    m_bFlushing = false;
    return hr;
}

STDMETHODIMP CKitInputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    m_tSegStart = tStart;
    m_tSegStop = tStop;
    m_dSegRate = dRate;
    return OnNewSegment(tStart, tStop, dRate);
}

HRESULT CKitInputPin::Active() {
    m_bFlushing = false;
    m_bAtEndOfStream = false;
    m_bActive = true;
    return S_OK;
}

HRESULT CKitInputPin::Inactive() {
    m_bActive = false;
    return S_OK;
}

void CKitInputPin::BreakConnect() {
    if (m_pAllocator) m_pAllocator->Release();
    m_pAllocator = nullptr;
    m_bReadOnly = false;
}

// --- CKitOutputPin -------------------------------------------------------------------------

CKitOutputPin::CKitOutputPin(CKitFilter* pFilter, const wchar_t* pszName)
    : CKitPin(pFilter, PINDIR_OUTPUT, pszName), m_pAllocator(nullptr), m_pInputPin(nullptr),
      m_pSeeking(nullptr) {}

CKitOutputPin::~CKitOutputPin() {
    if (m_pAllocator) m_pAllocator->Release();
    if (m_pInputPin) m_pInputPin->Release();
    delete m_pSeeking;
}

void CKitOutputPin::SetSeekingUpstream(CKitInputPin* pUpstream) {
    delete m_pSeeking;
    m_pSeeking = nullptr;
    if (pUpstream)
        m_pSeeking = new CKitSeekingPassThru(static_cast<IPin*>(this),
                                             [pUpstream]() { return pUpstream->GetConnected(); });
}

STDMETHODIMP CKitOutputPin::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (m_pSeeking && riid == IID_IMediaSeeking) {
        *ppv = static_cast<IMediaSeeking*>(m_pSeeking);
        AddRef();
        return S_OK;
    }
    if (m_pSeeking && (riid == IID_IMediaPosition || riid == IID_IDispatch)) {
        *ppv = static_cast<IMediaPosition*>(m_pSeeking);
        AddRef();
        return S_OK;
    }
    return CKitPin::QueryInterface(riid, ppv);
}

HRESULT CKitOutputPin::SetBufferProperties(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps,
                                           long cBuffers, long cbBuffer) {
    if (pProps->cBuffers < cBuffers) pProps->cBuffers = cBuffers;
    if (pProps->cbBuffer < cbBuffer) pProps->cbBuffer = cbBuffer;
    if (pProps->cbAlign < 1) pProps->cbAlign = 1;
    ALLOCATOR_PROPERTIES actual = {};
    HRESULT hr = pAlloc->SetProperties(pProps, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer >= cbBuffer && actual.cBuffers >= 1 ? S_OK : E_FAIL;
}

HRESULT CKitOutputPin::DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) {
    *ppAlloc = nullptr;
    ALLOCATOR_PROPERTIES req = {};
    pPin->GetAllocatorRequirements(&req);
    if (req.cbAlign == 0) req.cbAlign = 1;

    IMemAllocator* pAlloc = nullptr;
    HRESULT hr = pPin->GetAllocator(&pAlloc);
    if (SUCCEEDED(hr) && pAlloc) {
        ALLOCATOR_PROPERTIES props = req;
        hr = DecideBufferSize(pAlloc, &props);
        if (SUCCEEDED(hr)) hr = pPin->NotifyAllocator(pAlloc, FALSE);
        if (SUCCEEDED(hr)) {
            *ppAlloc = pAlloc;
            return S_OK;
        }
        pAlloc->Release();
        pAlloc = nullptr;
    }
    hr = ::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                            (void**)&pAlloc);
    if (FAILED(hr)) return hr;
    ALLOCATOR_PROPERTIES props = req;
    hr = DecideBufferSize(pAlloc, &props);
    if (SUCCEEDED(hr)) hr = pPin->NotifyAllocator(pAlloc, FALSE);
    if (FAILED(hr)) {
        pAlloc->Release();
        return hr;
    }
    *ppAlloc = pAlloc;
    return S_OK;
}

HRESULT CKitOutputPin::CompleteConnect(IPin* pPeer) {
    IMemInputPin* pInput = nullptr;
    HRESULT hr = pPeer->QueryInterface(IID_IMemInputPin, (void**)&pInput);
    if (FAILED(hr)) return VFW_E_NO_TRANSPORT;
    IMemAllocator* pAlloc = nullptr;
    hr = DecideAllocator(pInput, &pAlloc);
    if (FAILED(hr)) {
        pInput->Release();
        return hr;
    }
    m_pInputPin = pInput;
    m_pAllocator = pAlloc;
    return S_OK;
}

void CKitOutputPin::BreakConnect() {
    if (m_pAllocator) {
        m_pAllocator->Decommit();
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    if (m_pInputPin) m_pInputPin->Release();
    m_pInputPin = nullptr;
}

HRESULT CKitOutputPin::Active() {
    if (!m_pConnected) return S_OK;
    if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Commit();
}

HRESULT CKitOutputPin::Inactive() {
    if (m_pAllocator) m_pAllocator->Decommit();
    return S_OK;
}

HRESULT CKitOutputPin::GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* ptStart,
                                         REFERENCE_TIME* ptStop, DWORD dwFlags) {
    if (!ppSample) return E_POINTER;
    *ppSample = nullptr;
    if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->GetBuffer(ppSample, ptStart, ptStop, dwFlags);
}

HRESULT CKitOutputPin::Deliver(IMediaSample* pSample) {
    if (!m_pInputPin) return VFW_E_NOT_CONNECTED;
    return m_pInputPin->Receive(pSample);
}

HRESULT CKitOutputPin::DeliverEndOfStream() {
    IPin* pPeer = m_pConnected;
    return pPeer ? pPeer->EndOfStream() : VFW_E_NOT_CONNECTED;
}

HRESULT CKitOutputPin::DeliverBeginFlush() {
    IPin* pPeer = m_pConnected;
    return pPeer ? pPeer->BeginFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT CKitOutputPin::DeliverEndFlush() {
    IPin* pPeer = m_pConnected;
    return pPeer ? pPeer->EndFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT CKitOutputPin::DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    IPin* pPeer = m_pConnected;
    return pPeer ? pPeer->NewSegment(tStart, tStop, dRate) : VFW_E_NOT_CONNECTED;
}

// --- CKitFilter ----------------------------------------------------------------------------

CKitFilter::CKitFilter(const wchar_t* pszName, IUnknown* pOuter, REFCLSID clsid)
    : CKitUnknown(pOuter), m_state(State_Stopped), m_tStart(0), m_pClock(nullptr),
      m_pGraph(nullptr), m_pSink(nullptr), m_name(pszName ? pszName : L""), m_clsid(clsid),
      m_ulMiscFlags(0) {
    ::InitializeCriticalSection(&m_csFilter);
    ::InitializeCriticalSection(&m_csStream);
}

CKitFilter::~CKitFilter() {
    if (m_pClock) m_pClock->Release();
    ::DeleteCriticalSection(&m_csStream);
    ::DeleteCriticalSection(&m_csFilter);
}

HRESULT STDMETHODCALLTYPE CKitFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist)
        return GetInterface(static_cast<IBaseFilter*>(this), ppv);
    if (riid == IID_IAMFilterMiscFlags) return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
    return CKitUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CKitFilter::GetClassID(CLSID* pClsID) {
    if (!pClsID) return E_POINTER;
    *pClsID = m_clsid;
    return S_OK;
}

STDMETHODIMP CKitFilter::Stop() {
    CKitAutoLock lock(&m_csFilter);
    if (m_state == State_Stopped) return S_OK;
    HRESULT hr = S_OK;
    for (int i = 0; i < GetPinCount(); ++i) {
        CKitPin* pPin = GetPin(i);
        if (pPin) {
            HRESULT hrPin = pPin->Inactive();
            if (FAILED(hrPin) && SUCCEEDED(hr)) hr = hrPin;
        }
    }
    {
        // Waits for a Receive in progress to end.
        CKitAutoLock stream(&m_csStream);
        HRESULT hrStop = OnStop();
        if (FAILED(hrStop) && SUCCEEDED(hr)) hr = hrStop;
    }
    m_state = State_Stopped;
    return hr;
}

STDMETHODIMP CKitFilter::Pause() {
    CKitAutoLock lock(&m_csFilter);
    if (m_state == State_Stopped) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CKitPin* pPin = GetPin(i);
            if (!pPin) continue;
            HRESULT hr = pPin->Active();
            if (FAILED(hr)) {
                for (int j = 0; j < i; ++j)
                    if (GetPin(j)) GetPin(j)->Inactive();
                return hr;
            }
        }
        HRESULT hr = OnStart();
        if (FAILED(hr)) {
            for (int i = 0; i < GetPinCount(); ++i)
                if (GetPin(i)) GetPin(i)->Inactive();
            return hr;
        }
    }
    m_state = State_Paused;
    return S_OK;
}

STDMETHODIMP CKitFilter::Run(REFERENCE_TIME tStart) {
    CKitAutoLock lock(&m_csFilter);
    if (m_state == State_Stopped) {
        HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    m_tStart = tStart;
    for (int i = 0; i < GetPinCount(); ++i)
        if (GetPin(i)) GetPin(i)->Run(tStart);
    HRESULT hr = OnRun(tStart);
    if (FAILED(hr)) return hr;
    m_state = State_Running;
    return S_OK;
}

STDMETHODIMP CKitFilter::GetState(DWORD, FILTER_STATE* pState) {
    if (!pState) return E_POINTER;
    *pState = m_state;
    return S_OK;
}

STDMETHODIMP CKitFilter::SetSyncSource(IReferenceClock* pClock) {
    CKitAutoLock lock(&m_csFilter);
    if (pClock) pClock->AddRef();
    if (m_pClock) m_pClock->Release();
    m_pClock = pClock;
    return S_OK;
}

STDMETHODIMP CKitFilter::GetSyncSource(IReferenceClock** ppClock) {
    if (!ppClock) return E_POINTER;
    CKitAutoLock lock(&m_csFilter);
    *ppClock = m_pClock;
    if (m_pClock) m_pClock->AddRef();
    return S_OK;
}

STDMETHODIMP CKitFilter::EnumPins(IEnumPins** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = new CKitEnumPins(this);
    return S_OK;
}

STDMETHODIMP CKitFilter::FindPin(LPCWSTR Id, IPin** ppPin) {
    if (!Id || !ppPin) return E_POINTER;
    *ppPin = nullptr;
    for (int i = 0; i < GetPinCount(); ++i) {
        CKitPin* pPin = GetPin(i);
        if (pPin && pPin->Name() == Id) {
            *ppPin = static_cast<IPin*>(pPin);
            pPin->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

STDMETHODIMP CKitFilter::QueryFilterInfo(FILTER_INFO* pInfo) {
    if (!pInfo) return E_POINTER;
    CKitAutoLock lock(&m_csFilter);
    lstrcpynW(pInfo->achName, m_name.c_str(), MAX_FILTER_NAME);
    pInfo->pGraph = m_pGraph;
    if (m_pGraph) m_pGraph->AddRef();
    return S_OK;
}

STDMETHODIMP CKitFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) {
    CKitAutoLock lock(&m_csFilter);
    // Weak references: the graph holds the filter, not the other way round.
    m_pGraph = pGraph;
    m_pSink = nullptr;
    if (pGraph) {
        IMediaEventSink* pSink = nullptr;
        if (SUCCEEDED(pGraph->QueryInterface(IID_IMediaEventSink, (void**)&pSink)) && pSink) {
            m_pSink = pSink;
            pSink->Release();
        }
        m_name = pName ? pName : L"";
    }
    return S_OK;
}

STDMETHODIMP CKitFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

HRESULT CKitFilter::NotifyEvent(long lEventCode, LONG_PTR lParam1, LONG_PTR lParam2) {
    IMediaEventSink* pSink = m_pSink;
    if (!pSink) return E_NOTIMPL;
    if (lEventCode == EC_COMPLETE && lParam2 == 0) lParam2 = (LONG_PTR) static_cast<IBaseFilter*>(this);
    return pSink->Notify(lEventCode, lParam1, lParam2);
}

// --- Enumerators ---------------------------------------------------------------------------

CKitEnumMediaTypes::CKitEnumMediaTypes(CKitPin* pPin, ULONG iPos) : m_pPin(pPin), m_iPos(iPos), m_cRef(1) {
    m_pPin->AddRef();
}
CKitEnumMediaTypes::~CKitEnumMediaTypes() { m_pPin->Release(); }

STDMETHODIMP CKitEnumMediaTypes::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IEnumMediaTypes) {
        *ppv = static_cast<IEnumMediaTypes*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}
STDMETHODIMP_(ULONG) CKitEnumMediaTypes::AddRef() { return ::InterlockedIncrement(&m_cRef); }
STDMETHODIMP_(ULONG) CKitEnumMediaTypes::Release() {
    LONG c = ::InterlockedDecrement(&m_cRef);
    if (c == 0) delete this;
    return c;
}

STDMETHODIMP CKitEnumMediaTypes::Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) {
    if (!ppMediaTypes) return E_POINTER;
    if (cMediaTypes != 1 && !pcFetched) return E_INVALIDARG;
    ULONG cFetched = 0;
    while (cFetched < cMediaTypes) {
        CKitMediaType mt;
        if (m_pPin->GetMediaType((int)m_iPos, &mt) != S_OK) break;
        AM_MEDIA_TYPE* pmt = media::CreateMediaType(&mt);
        if (!pmt) break;
        ppMediaTypes[cFetched++] = pmt;
        ++m_iPos;
    }
    if (pcFetched) *pcFetched = cFetched;
    return cFetched == cMediaTypes ? S_OK : S_FALSE;
}

STDMETHODIMP CKitEnumMediaTypes::Skip(ULONG cMediaTypes) {
    CKitMediaType mt;
    for (ULONG i = 0; i < cMediaTypes; ++i) {
        mt.Clear();
        if (m_pPin->GetMediaType((int)m_iPos, &mt) != S_OK) return S_FALSE;
        ++m_iPos;
    }
    return S_OK;
}

STDMETHODIMP CKitEnumMediaTypes::Reset() {
    m_iPos = 0;
    return S_OK;
}

STDMETHODIMP CKitEnumMediaTypes::Clone(IEnumMediaTypes** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = new CKitEnumMediaTypes(m_pPin, m_iPos);
    return S_OK;
}

CKitEnumPins::CKitEnumPins(CKitFilter* pFilter, ULONG iPos) : m_pFilter(pFilter), m_iPos(iPos), m_cRef(1) {
    m_pFilter->AddRef();
    for (int i = 0; i < pFilter->GetPinCount(); ++i) {
        CKitPin* pPin = pFilter->GetPin(i);
        if (!pPin) continue;
        m_pins.push_back(static_cast<IPin*>(pPin));
        pPin->AddRef();
    }
}

CKitEnumPins::~CKitEnumPins() {
    for (IPin* p : m_pins) p->Release();
    m_pFilter->Release();
}

STDMETHODIMP CKitEnumPins::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IEnumPins) {
        *ppv = static_cast<IEnumPins*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}
STDMETHODIMP_(ULONG) CKitEnumPins::AddRef() { return ::InterlockedIncrement(&m_cRef); }
STDMETHODIMP_(ULONG) CKitEnumPins::Release() {
    LONG c = ::InterlockedDecrement(&m_cRef);
    if (c == 0) delete this;
    return c;
}

STDMETHODIMP CKitEnumPins::Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) {
    if (!ppPins) return E_POINTER;
    if (cPins != 1 && !pcFetched) return E_INVALIDARG;
    ULONG cFetched = 0;
    while (cFetched < cPins && m_iPos < m_pins.size()) {
        ppPins[cFetched] = m_pins[m_iPos++];
        ppPins[cFetched++]->AddRef();
    }
    if (pcFetched) *pcFetched = cFetched;
    return cFetched == cPins ? S_OK : S_FALSE;
}

STDMETHODIMP CKitEnumPins::Skip(ULONG cPins) {
    if (m_iPos + cPins > m_pins.size()) {
        m_iPos = (ULONG)m_pins.size();
        return S_FALSE;
    }
    m_iPos += cPins;
    return S_OK;
}

STDMETHODIMP CKitEnumPins::Reset() {
    m_iPos = 0;
    return S_OK;
}

STDMETHODIMP CKitEnumPins::Clone(IEnumPins** ppEnum) {
    if (!ppEnum) return E_POINTER;
    auto* p = new CKitEnumPins(m_pFilter, m_iPos);
    *ppEnum = p;
    return S_OK;
}
