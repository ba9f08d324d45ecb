#include "tests/support/KitTestFilters.h"

#include <cstring>

// --- CTestSource ---------------------------------------------------------------------------

class CTestSource::COutput : public CKitOutputPin {
public:
    explicit COutput(CTestSource* pOwner) : CKitOutputPin(pOwner, L"Output"), m_pOwner(pOwner) {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override {
        for (const CKitMediaType& mt : m_pOwner->m_types)
            if (mt.majortype == pmt->majortype && mt.subtype == pmt->subtype && mt.formattype == pmt->formattype)
                return S_OK;
        return S_FALSE;
    }
    HRESULT GetMediaType(int i, CKitMediaType* pmt) override {
        if (i < 0 || i >= (int)m_pOwner->m_types.size()) return VFW_S_NO_MORE_ITEMS;
        *pmt = m_pOwner->m_types[i];
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) override {
        long cb = m_pOwner->cbSample ? m_pOwner->cbSample : (long)m_mt.lSampleSize;
        if (cb <= 0) cb = 1 << 20;
        if (pProps->cBuffers < 2) pProps->cBuffers = 2;
        if (pProps->cbBuffer < cb) pProps->cbBuffer = cb;
        ALLOCATOR_PROPERTIES actual = {};
        HRESULT hr = pAlloc->SetProperties(pProps, &actual);
        if (FAILED(hr)) return hr;
        return actual.cbBuffer >= cb ? S_OK : E_FAIL;
    }

private:
    CTestSource* m_pOwner;
};

CTestSource::CTestSource(std::vector<CKitMediaType> types, int frames, REFERENCE_TIME duration)
    : CKitFilter(L"Test Source", nullptr, CLSID_QuorlinTestSource), m_pOutput(nullptr),
      m_types(std::move(types)), m_nFrames(frames), m_tDuration(duration), m_nDelivered(0) {
    m_pOutput = new COutput(this);
}

CTestSource::~CTestSource() {
    m_worker.Stop();
    delete m_pOutput;
}

CKitPin* CTestSource::GetPin(int n) { return n == 0 ? m_pOutput : nullptr; }
CKitOutputPin* CTestSource::Output() { return m_pOutput; }

HRESULT CTestSource::OnStart() {
    if (!m_pOutput->IsConnected()) return S_OK;
    m_nDelivered = 0;
    m_pOutput->DeliverNewSegment(0, MAXLONGLONG, 1.0);
    return m_worker.Start([this] { return DeliverNext(); });
}

HRESULT CTestSource::OnStop() {
    m_worker.Stop();
    return S_OK;
}

bool CTestSource::DeliverNext() {
    if (m_nDelivered >= m_nFrames) {
        m_pOutput->DeliverEndOfStream();
        return false;
    }
    IMediaSample* pSample = nullptr;
    if (FAILED(m_pOutput->GetDeliveryBuffer(&pSample)) || !pSample) return false;
    BYTE* pData = nullptr;
    pSample->GetPointer(&pData);
    long cb = cbSample ? cbSample : (long)m_pOutput->CurrentMediaType().lSampleSize;
    if (cb <= 0 || cb > pSample->GetSize()) cb = pSample->GetSize();
    memset(pData, 0, cb);
    if (fill) fill(m_nDelivered, pData, cb);
    pSample->SetActualDataLength(cb);
    REFERENCE_TIME tStart = m_nDelivered * m_tDuration, tStop = tStart + m_tDuration;
    pSample->SetTime(&tStart, &tStop);
    pSample->SetSyncPoint(setSyncPoints ? TRUE : FALSE);
    if (decorate) decorate(m_nDelivered, pSample);
    HRESULT hr = m_pOutput->Deliver(pSample);
    pSample->Release();
    if (hr != S_OK) return false;
    ++m_nDelivered;
    return true;
}

// --- CTestSink -----------------------------------------------------------------------------

class CTestSink::CInput : public CKitInputPin {
public:
    explicit CInput(CTestSink* pOwner) : CKitInputPin(pOwner, L"Input"), m_pOwner(pOwner) {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override {
        return !m_pOwner->accept || m_pOwner->accept(*pmt) ? S_OK : S_FALSE;
    }
    HRESULT OnReceive(IMediaSample* pSample) override {
        CollectedSample s;
        BYTE* p = nullptr;
        pSample->GetPointer(&p);
        s.data.assign((const char*)p, (size_t)pSample->GetActualDataLength());
        s.bSyncPoint = pSample->IsSyncPoint() == S_OK;
        s.bHasTime = SUCCEEDED(pSample->GetTime(&s.tStart, &s.tStop));
        AM_MEDIA_TYPE* pmt = nullptr;
        if (pSample->GetMediaType(&pmt) == S_OK && pmt) {
            s.bHasType = true;
            s.type = *pmt;
            media::DeleteMediaType(pmt);
        }
        CKitAutoLock lock(&m_pOwner->m_csData);
        m_pOwner->m_samples.push_back(std::move(s));
        return S_OK;
    }
    // Like any renderer, it signals the end only once running: the graph manager counts
    // EC_COMPLETE from the start of the run, and a short stream can end while paused.
    HRESULT OnEndOfStream() override {
        bool bNotify;
        {
            CKitAutoLock lock(&m_pOwner->m_csData);
            m_pOwner->m_bEos = true;
            bNotify = m_pOwner->m_bRunning;
            m_pOwner->m_bCompletePending = !bNotify;
        }
        if (bNotify) m_pOwner->NotifyEvent(EC_COMPLETE, S_OK, 0);
        return S_OK;
    }
    HRESULT OnBeginFlush() override {
        CKitAutoLock lock(&m_pOwner->m_csData);
        m_pOwner->m_bCompletePending = false;
        return S_OK;
    }

private:
    CTestSink* m_pOwner;
};

CTestSink::CTestSink()
    : CKitFilter(L"Test Sink", nullptr, CLSID_QuorlinTestSink), m_pInput(nullptr),
      m_seeking(static_cast<IBaseFilter*>(this), [this]() { return m_pInput->GetConnected(); }) {
    ::InitializeCriticalSection(&m_csData);
    m_pInput = new CInput(this);
    SetMiscFlags(AM_FILTER_MISC_FLAGS_IS_RENDERER);
}

CTestSink::~CTestSink() {
    delete m_pInput;
    ::DeleteCriticalSection(&m_csData);
}

HRESULT STDMETHODCALLTYPE CTestSink::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(&m_seeking), ppv);
    if (riid == IID_IMediaPosition) return GetInterface(static_cast<IMediaPosition*>(&m_seeking), ppv);
    return CKitFilter::NonDelegatingQueryInterface(riid, ppv);
}

CKitPin* CTestSink::GetPin(int n) { return n == 0 ? m_pInput : nullptr; }

HRESULT CTestSink::OnRun(REFERENCE_TIME) {
    bool bNotify;
    {
        CKitAutoLock lock(&m_csData);
        m_bRunning = true;
        bNotify = m_bCompletePending;
        m_bCompletePending = false;
    }
    if (bNotify) NotifyEvent(EC_COMPLETE, S_OK, 0);
    return S_OK;
}

HRESULT CTestSink::OnStop() {
    CKitAutoLock lock(&m_csData);
    m_bRunning = false;
    m_bCompletePending = false;
    return S_OK;
}
CKitInputPin* CTestSink::Input() { return m_pInput; }

std::vector<CollectedSample> CTestSink::Samples() {
    CKitAutoLock lock(&m_csData);
    return m_samples;
}

std::string CTestSink::AllData() {
    CKitAutoLock lock(&m_csData);
    std::string all;
    for (const auto& s : m_samples) all += s.data;
    return all;
}

bool CTestSink::GotEndOfStream() {
    CKitAutoLock lock(&m_csData);
    return m_bEos;
}

// --- Helpers -------------------------------------------------------------------------------

IPin* FirstPin(IBaseFilter* pFilter, PIN_DIRECTION eDir) {
    IEnumPins* pEnum = nullptr;
    if (!pFilter || FAILED(pFilter->EnumPins(&pEnum))) return nullptr;
    IPin* pPin = nullptr;
    IPin* pFound = nullptr;
    while (!pFound && pEnum->Next(1, &pPin, nullptr) == S_OK) {
        PIN_DIRECTION d;
        if (SUCCEEDED(pPin->QueryDirection(&d)) && d == eDir)
            pFound = pPin;
        else
            pPin->Release();
    }
    pEnum->Release();
    return pFound;
}

long WaitForGraphEvent(IGraphBuilder* pGraph, DWORD ms) {
    IMediaEvent* pEvent = nullptr;
    if (FAILED(pGraph->QueryInterface(IID_IMediaEvent, (void**)&pEvent))) return 0;
    long lCode = 0;
    DWORD tEnd = ::GetTickCount() + ms;
    for (;;) {
        LONG_PTR p1 = 0, p2 = 0;
        long ev = 0;
        if (pEvent->GetEvent(&ev, &p1, &p2, 50) == S_OK) {
            pEvent->FreeEventParams(ev, p1, p2);
            if (ev == EC_COMPLETE || ev == EC_ERRORABORT || ev == EC_USERABORT || ev == EC_ERROR_STILLPLAYING) {
                lCode = ev;
                break;
            }
        }
        if ((LONG)(::GetTickCount() - tEnd) > 0) break;
    }
    pEvent->Release();
    return lCode;
}
