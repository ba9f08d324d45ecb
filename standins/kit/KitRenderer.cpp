// The renderer base of the kit: one input pin, seeking upstream, and the rule for
// EC_COMPLETE.
#include "standins/kit/FilterKit.h"

class CKitRenderer::CInput : public CKitInputPin {
public:
    explicit CInput(CKitRenderer* pOwner) : CKitInputPin(pOwner, L"Input"), m_pOwner(pOwner) {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override { return m_pOwner->CheckMediaType(pmt); }
    HRESULT GetMediaType(int iPosition, CKitMediaType* pmt) override {
        return m_pOwner->GetMediaType(iPosition, pmt);
    }
    HRESULT OnReceive(IMediaSample* pSample) override { return m_pOwner->Render(pSample); }
    HRESULT OnEndOfStream() override { return m_pOwner->EndOfStream(); }
    HRESULT OnBeginFlush() override {
        m_pOwner->BeginFlush();
        return S_OK;
    }

private:
    CKitRenderer* m_pOwner;
};

CKitRenderer::CKitRenderer(const wchar_t* pszName, IUnknown* pOuter, REFCLSID clsid)
    : CKitFilter(pszName, pOuter, clsid), m_pInput(nullptr),
      m_seeking(GetOwner(), [this]() { return m_pInput->GetConnected(); }) {
    ::InitializeCriticalSection(&m_csComplete);
    m_pInput = new CInput(this);
    SetMiscFlags(AM_FILTER_MISC_FLAGS_IS_RENDERER);
}

CKitRenderer::~CKitRenderer() {
    delete m_pInput;
    ::DeleteCriticalSection(&m_csComplete);
}

HRESULT STDMETHODCALLTYPE CKitRenderer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(&m_seeking), ppv);
    if (riid == IID_IMediaPosition) return GetInterface(static_cast<IMediaPosition*>(&m_seeking), ppv);
    return CKitFilter::NonDelegatingQueryInterface(riid, ppv);
}

CKitPin* CKitRenderer::GetPin(int n) { return n == 0 ? m_pInput : nullptr; }
CKitInputPin* CKitRenderer::Input() const { return m_pInput; }

HRESULT CKitRenderer::GetMediaType(int, CKitMediaType*) { return VFW_S_NO_MORE_ITEMS; }

HRESULT CKitRenderer::OnStart() {
    {
        CKitAutoLock lock(&m_csComplete);
        m_bRunning = m_bEnded = m_bCompleteSent = false;
    }
    return OnStartStreaming();
}

HRESULT CKitRenderer::OnStop() {
    {
        CKitAutoLock lock(&m_csComplete);
        m_bRunning = m_bEnded = false;
    }
    return OnStopStreaming();
}

STDMETHODIMP CKitRenderer::Pause() {
    {
        CKitAutoLock lock(&m_csComplete);
        m_bRunning = false;
    }
    return CKitFilter::Pause();
}

HRESULT CKitRenderer::OnRun(REFERENCE_TIME) {
    {
        CKitAutoLock lock(&m_csComplete);
        m_bRunning = true;
    }
    CompleteIfDue();
    return S_OK;
}

HRESULT CKitRenderer::EndOfStream() {
    HRESULT hr = OnEndOfStream();
    if (FAILED(hr)) return hr;
    {
        CKitAutoLock lock(&m_csComplete);
        m_bEnded = true;
    }
    CompleteIfDue();
    return hr;
}

void CKitRenderer::BeginFlush() {
    CKitAutoLock lock(&m_csComplete);
    m_bEnded = m_bCompleteSent = false;
}

void CKitRenderer::CompleteIfDue() {
    {
        CKitAutoLock lock(&m_csComplete);
        if (!m_bRunning || !m_bEnded || m_bCompleteSent) return;
        m_bCompleteSent = true;
    }
    NotifyEvent(EC_COMPLETE, S_OK, 0);
}
