// The transform filter base of the kit: an input and an output pin around Transform.
#include "standins/kit/FilterKit.h"

class CKitTransform::CInput : public CKitInputPin {
public:
    explicit CInput(CKitTransform* pOwner) : CKitInputPin(pOwner, L"Input"), m_pOwner(pOwner) {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override { return m_pOwner->CheckInputType(pmt); }
    STDMETHODIMP ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override {
        HRESULT hr = CKitInputPin::ReceiveConnection(pConnector, pmt);
        return hr == VFW_E_TYPE_NOT_ACCEPTED && pmt ? m_pOwner->OnInputTypeRefused(pmt) : hr;
    }
    HRESULT CompleteConnect(IPin* pPeer) override {
        HRESULT hr = CKitInputPin::CompleteConnect(pPeer);
        return FAILED(hr) ? hr : m_pOwner->OnInputConnected(m_mt);
    }
    void BreakConnect() override {
        CKitInputPin::BreakConnect();
        m_pOwner->OnInputDisconnected();
    }
    HRESULT OnReceive(IMediaSample* pSample) override { return m_pOwner->Transform(pSample); }
    HRESULT OnEndOfStream() override {
        m_pOwner->OnEndOfStream();
        return m_pOwner->Output()->DeliverEndOfStream();
    }
    HRESULT OnBeginFlush() override { return m_pOwner->Output()->DeliverBeginFlush(); }
    HRESULT OnEndFlush() override {
        m_pOwner->OnFlush();
        return m_pOwner->Output()->DeliverEndFlush();
    }
    HRESULT OnNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override {
        return m_pOwner->Output()->DeliverNewSegment(tStart, tStop, dRate);
    }
    HRESULT OnGetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override {
        return m_pOwner->OnGetAllocatorRequirements(pProps);
    }

private:
    CKitTransform* m_pOwner;
};

class CKitTransform::COutput : public CKitOutputPin {
public:
    explicit COutput(CKitTransform* pOwner) : CKitOutputPin(pOwner, L"Output"), m_pOwner(pOwner) {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override {
        if (!m_pOwner->m_pInput->IsConnected()) return VFW_E_NOT_CONNECTED;
        return m_pOwner->CheckOutputType(pmt);
    }
    HRESULT GetMediaType(int iPosition, CKitMediaType* pmt) override {
        if (!m_pOwner->m_pInput->IsConnected()) return VFW_E_NOT_CONNECTED;
        return m_pOwner->GetOutputType(iPosition, pmt);
    }
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) override {
        return m_pOwner->DecideBufferSize(pAlloc, pProps);
    }

private:
    CKitTransform* m_pOwner;
};

CKitTransform::CKitTransform(const wchar_t* pszName, IUnknown* pOuter, REFCLSID clsid)
    : CKitFilter(pszName, pOuter, clsid), m_pInput(new CInput(this)), m_pOutput(new COutput(this)) {
    m_pOutput->SetSeekingUpstream(m_pInput);
}

CKitTransform::~CKitTransform() {
    delete m_pOutput;
    delete m_pInput;
}

CKitPin* CKitTransform::GetPin(int n) {
    return n == 0 ? static_cast<CKitPin*>(m_pInput) : n == 1 ? static_cast<CKitPin*>(m_pOutput) : nullptr;
}

CKitInputPin* CKitTransform::Input() const { return m_pInput; }
CKitOutputPin* CKitTransform::Output() const { return m_pOutput; }

HRESULT CKitTransform::OnInputConnected(const AM_MEDIA_TYPE&) { return S_OK; }
