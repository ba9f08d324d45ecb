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
        return SetBufferProperties(pAlloc, pProps, 2, cb);
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

CTestSink::CTestSink() : CKitRenderer(L"Test Sink", nullptr, CLSID_QuorlinTestSink) {
    ::InitializeCriticalSection(&m_csData);
}

CTestSink::~CTestSink() { ::DeleteCriticalSection(&m_csData); }

HRESULT CTestSink::CheckMediaType(const AM_MEDIA_TYPE* pmt) { return !accept || accept(*pmt) ? S_OK : S_FALSE; }

HRESULT CTestSink::Render(IMediaSample* pSample) {
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
    CKitAutoLock lock(&m_csData);
    m_samples.push_back(std::move(s));
    return S_OK;
}

HRESULT CTestSink::OnEndOfStream() {
    CKitAutoLock lock(&m_csData);
    m_bEos = true;
    return S_OK;
}

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
