// Seeking and position passed to the pin upstream.
#include "standins/kit/FilterKit.h"

CKitSeekingPassThru::CKitSeekingPassThru(IUnknown* pOwner, std::function<IPin*()> upstream)
    : m_pOwner(pOwner), m_upstream(std::move(upstream)) {}

STDMETHODIMP CKitSeekingPassThru::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMediaSeeking) {
        *ppv = static_cast<IMediaSeeking*>(this);
    } else if (riid == IID_IMediaPosition || riid == IID_IDispatch) {
        *ppv = static_cast<IMediaPosition*>(this);
    } else {
        return m_pOwner->QueryInterface(riid, ppv);
    }
    AddRef();
    return S_OK;
}

IMediaSeeking* CKitSeekingPassThru::Seeking(HRESULT* phr) {
    IPin* pPin = m_upstream ? m_upstream() : nullptr;
    if (!pPin) {
        *phr = VFW_E_NOT_CONNECTED;
        return nullptr;
    }
    IMediaSeeking* p = nullptr;
    if (FAILED(pPin->QueryInterface(IID_IMediaSeeking, (void**)&p)) || !p) {
        *phr = E_NOTIMPL;
        return nullptr;
    }
    *phr = S_OK;
    return p;
}

IMediaPosition* CKitSeekingPassThru::Position(HRESULT* phr) {
    IPin* pPin = m_upstream ? m_upstream() : nullptr;
    if (!pPin) {
        *phr = VFW_E_NOT_CONNECTED;
        return nullptr;
    }
    IMediaPosition* p = nullptr;
    if (FAILED(pPin->QueryInterface(IID_IMediaPosition, (void**)&p)) || !p) {
        *phr = E_NOTIMPL;
        return nullptr;
    }
    *phr = S_OK;
    return p;
}

#define KIT_FORWARD(getter, call)               \
    HRESULT hr = S_OK;                          \
    auto* pUp = getter(&hr);                    \
    if (!pUp) return hr;                        \
    hr = pUp->call;                             \
    pUp->Release();                             \
    return hr;

STDMETHODIMP CKitSeekingPassThru::GetCapabilities(DWORD* p) { KIT_FORWARD(Seeking, GetCapabilities(p)) }
STDMETHODIMP CKitSeekingPassThru::CheckCapabilities(DWORD* p) { KIT_FORWARD(Seeking, CheckCapabilities(p)) }
STDMETHODIMP CKitSeekingPassThru::IsFormatSupported(const GUID* p) { KIT_FORWARD(Seeking, IsFormatSupported(p)) }
STDMETHODIMP CKitSeekingPassThru::QueryPreferredFormat(GUID* p) { KIT_FORWARD(Seeking, QueryPreferredFormat(p)) }
STDMETHODIMP CKitSeekingPassThru::GetTimeFormat(GUID* p) { KIT_FORWARD(Seeking, GetTimeFormat(p)) }
STDMETHODIMP CKitSeekingPassThru::IsUsingTimeFormat(const GUID* p) { KIT_FORWARD(Seeking, IsUsingTimeFormat(p)) }
STDMETHODIMP CKitSeekingPassThru::SetTimeFormat(const GUID* p) { KIT_FORWARD(Seeking, SetTimeFormat(p)) }
STDMETHODIMP CKitSeekingPassThru::GetDuration(LONGLONG* p) { KIT_FORWARD(Seeking, GetDuration(p)) }
STDMETHODIMP CKitSeekingPassThru::GetStopPosition(LONGLONG* p) { KIT_FORWARD(Seeking, GetStopPosition(p)) }
STDMETHODIMP CKitSeekingPassThru::GetCurrentPosition(LONGLONG* p) { KIT_FORWARD(Seeking, GetCurrentPosition(p)) }
STDMETHODIMP CKitSeekingPassThru::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat,
                                                    LONGLONG Source, const GUID* pSourceFormat) {
    KIT_FORWARD(Seeking, ConvertTimeFormat(pTarget, pTargetFormat, Source, pSourceFormat))
}
STDMETHODIMP CKitSeekingPassThru::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                               DWORD dwStopFlags) {
    KIT_FORWARD(Seeking, SetPositions(pCurrent, dwCurrentFlags, pStop, dwStopFlags))
}
STDMETHODIMP CKitSeekingPassThru::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
    KIT_FORWARD(Seeking, GetPositions(pCurrent, pStop))
}
STDMETHODIMP CKitSeekingPassThru::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
    KIT_FORWARD(Seeking, GetAvailable(pEarliest, pLatest))
}
STDMETHODIMP CKitSeekingPassThru::SetRate(double d) { KIT_FORWARD(Seeking, SetRate(d)) }
STDMETHODIMP CKitSeekingPassThru::GetRate(double* p) { KIT_FORWARD(Seeking, GetRate(p)) }
STDMETHODIMP CKitSeekingPassThru::GetPreroll(LONGLONG* p) { KIT_FORWARD(Seeking, GetPreroll(p)) }

STDMETHODIMP CKitSeekingPassThru::GetTypeInfoCount(UINT* pctinfo) {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}
STDMETHODIMP CKitSeekingPassThru::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
    if (ppTInfo) *ppTInfo = nullptr;
    return E_NOTIMPL;
}
STDMETHODIMP CKitSeekingPassThru::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
STDMETHODIMP CKitSeekingPassThru::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

STDMETHODIMP CKitSeekingPassThru::get_Duration(REFTIME* p) { KIT_FORWARD(Position, get_Duration(p)) }
STDMETHODIMP CKitSeekingPassThru::put_CurrentPosition(REFTIME t) { KIT_FORWARD(Position, put_CurrentPosition(t)) }
STDMETHODIMP CKitSeekingPassThru::get_CurrentPosition(REFTIME* p) { KIT_FORWARD(Position, get_CurrentPosition(p)) }
STDMETHODIMP CKitSeekingPassThru::get_StopTime(REFTIME* p) { KIT_FORWARD(Position, get_StopTime(p)) }
STDMETHODIMP CKitSeekingPassThru::put_StopTime(REFTIME t) { KIT_FORWARD(Position, put_StopTime(t)) }
STDMETHODIMP CKitSeekingPassThru::get_PrerollTime(REFTIME* p) { KIT_FORWARD(Position, get_PrerollTime(p)) }
STDMETHODIMP CKitSeekingPassThru::put_PrerollTime(REFTIME t) { KIT_FORWARD(Position, put_PrerollTime(t)) }
STDMETHODIMP CKitSeekingPassThru::put_Rate(double d) { KIT_FORWARD(Position, put_Rate(d)) }
STDMETHODIMP CKitSeekingPassThru::get_Rate(double* p) { KIT_FORWARD(Position, get_Rate(p)) }
STDMETHODIMP CKitSeekingPassThru::CanSeekForward(LONG* p) { KIT_FORWARD(Position, CanSeekForward(p)) }
STDMETHODIMP CKitSeekingPassThru::CanSeekBackward(LONG* p) { KIT_FORWARD(Position, CanSeekBackward(p)) }
