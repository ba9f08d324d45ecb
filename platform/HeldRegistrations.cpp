#include "platform/HeldRegistrations.h"

#include "graph/DShow.h"

namespace {

// An enumerator with nothing in it, of any of the three kinds.
template <class IEnum, class Item, const IID* piid>
class CEmptyEnum final : public IEnum {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == *piid) {
            *ppv = static_cast<IEnum*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return (ULONG)::InterlockedIncrement(&m_cRef); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG cRef = ::InterlockedDecrement(&m_cRef);
        if (cRef == 0) delete this;
        return (ULONG)cRef;
    }
    STDMETHODIMP Next(ULONG cItems, Item* /*ppItems*/, ULONG* pcFetched) override {
        if (pcFetched) *pcFetched = 0;
        return cItems == 0 ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG cItems) override { return cItems == 0 ? S_OK : S_FALSE; }
    STDMETHODIMP Reset() override { return S_OK; }
    STDMETHODIMP Clone(IEnum** ppEnum) override {
        if (ppEnum == nullptr) return E_POINTER;
        *ppEnum = new CEmptyEnum;
        return S_OK;
    }

private:
    LONG m_cRef = 1;
};

IUnknown* MakeEmptyEnum(int i) {
    switch (i) {
    case 0: return new CEmptyEnum<IEnumFilters, IBaseFilter*, &IID_IEnumFilters>;
    case 1: return new CEmptyEnum<IEnumPins, IPin*, &IID_IEnumPins>;
    default: return new CEmptyEnum<IEnumMediaTypes, AM_MEDIA_TYPE*, &IID_IEnumMediaTypes>;
    }
}

}  // namespace

const IID& CHeldRegistrations::Interface(int i) {
    static const IID* const rgpIid[kInterfaces] = {&IID_IEnumFilters, &IID_IEnumPins, &IID_IEnumMediaTypes};
    return *rgpIid[i];
}

HRESULT CHeldRegistrations::Hold() {
    HRESULT hrFirst = S_OK;
    for (int i = 0; i < kInterfaces; ++i) {
        if (m_rgpStream[i] != nullptr) continue;
        IStream* pStream = nullptr;
        HRESULT hr = ::CreateStreamOnHGlobal(NULL, TRUE, &pStream);
        if (SUCCEEDED(hr)) {
            IUnknown* pEnum = MakeEmptyEnum(i);
            // A table marshaling: it keeps the enumerator and its registration until the
            // data is released, whoever else comes and goes.
            hr = ::CoMarshalInterface(pStream, Interface(i), pEnum, MSHCTX_LOCAL, NULL, MSHLFLAGS_TABLESTRONG);
            pEnum->Release();
            if (SUCCEEDED(hr)) {
                m_rgpStream[i] = pStream;
                continue;
            }
            pStream->Release();
        }
        if (SUCCEEDED(hrFirst)) hrFirst = hr;
    }
    return hrFirst;
}

void CHeldRegistrations::Release() {
    for (IStream*& pStream : m_rgpStream) {
        if (pStream == nullptr) continue;
        const LARGE_INTEGER zero = {};
        if (SUCCEEDED(pStream->Seek(zero, STREAM_SEEK_SET, NULL))) ::CoReleaseMarshalData(pStream);
        pStream->Release();
        pStream = nullptr;
    }
}

bool CHeldRegistrations::IsHeld() const {
    for (IStream* pStream : m_rgpStream)
        if (pStream == nullptr) return false;
    return true;
}
