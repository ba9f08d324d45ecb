// COM objects, class factory, module counts and media-type helpers of the filter kit.
#include "standins/kit/FilterKit.h"

#include <cstring>

namespace {
volatile LONG g_cObjects = 0;
volatile LONG g_cLocks = 0;
}  // namespace

LONG KitObjectCount() { return g_cObjects + g_cLocks; }

void KitLockServer(bool bLock) {
    if (bLock)
        ::InterlockedIncrement(&g_cLocks);
    else
        ::InterlockedDecrement(&g_cLocks);
}

// --- Media types -------------------------------------------------------------------------

CKitMediaType::CKitMediaType() : AM_MEDIA_TYPE() {}
CKitMediaType::CKitMediaType(const AM_MEDIA_TYPE& mt) : AM_MEDIA_TYPE() { media::CopyMediaType(this, &mt); }
CKitMediaType::CKitMediaType(const CKitMediaType& mt) : AM_MEDIA_TYPE() { media::CopyMediaType(this, &mt); }
CKitMediaType& CKitMediaType::operator=(const AM_MEDIA_TYPE& mt) {
    if (&mt != this) {
        Clear();
        media::CopyMediaType(this, &mt);
    }
    return *this;
}
CKitMediaType& CKitMediaType::operator=(const CKitMediaType& mt) {
    return operator=(static_cast<const AM_MEDIA_TYPE&>(mt));
}
CKitMediaType::~CKitMediaType() { media::FreeMediaType(*this); }

void CKitMediaType::Clear() {
    media::FreeMediaType(*this);
    AM_MEDIA_TYPE& self = *this;
    self = AM_MEDIA_TYPE();
}

BYTE* CKitMediaType::AllocFormat(ULONG cb) {
    if (pbFormat) ::CoTaskMemFree(pbFormat);
    pbFormat = (BYTE*)::CoTaskMemAlloc(cb);
    cbFormat = pbFormat ? cb : 0;
    if (pbFormat) memset(pbFormat, 0, cb);
    return pbFormat;
}

void CKitMediaType::Set(const GUID& major, const GUID& sub, const GUID& format) {
    majortype = major;
    subtype = sub;
    formattype = format;
}

// --- CKitUnknown ---------------------------------------------------------------------------

CKitUnknown::CKitUnknown(IUnknown* pOuter)
    : m_pOuter(pOuter ? pOuter : reinterpret_cast<IUnknown*>(static_cast<INonDelegatingUnknown*>(this))),
      m_cRef(0) {
    ::InterlockedIncrement(&g_cObjects);
}

CKitUnknown::~CKitUnknown() { ::InterlockedDecrement(&g_cObjects); }

HRESULT CKitUnknown::GetInterface(IUnknown* pInterface, void** ppv) {
    *ppv = pInterface;
    pInterface->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CKitUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown) {
        *ppv = static_cast<INonDelegatingUnknown*>(this);
        NonDelegatingAddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CKitUnknown::NonDelegatingAddRef() { return ::InterlockedIncrement(&m_cRef); }

ULONG STDMETHODCALLTYPE CKitUnknown::NonDelegatingRelease() {
    LONG c = ::InterlockedDecrement(&m_cRef);
    if (c == 0) {
        m_cRef = 1;  // guards against re-entry from the destructor
        delete this;
    }
    return c;
}

// --- Class factory -------------------------------------------------------------------------

CKitClassFactory::CKitClassFactory(REFCLSID clsid, KitCreateFn pfnCreate)
    : m_clsid(clsid), m_pfnCreate(pfnCreate), m_cRef(1) {}

STDMETHODIMP CKitClassFactory::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CKitClassFactory::AddRef() { return ::InterlockedIncrement(&m_cRef); }

STDMETHODIMP_(ULONG) CKitClassFactory::Release() {
    LONG c = ::InterlockedDecrement(&m_cRef);
    if (c == 0) delete this;
    return c;
}

STDMETHODIMP CKitClassFactory::CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    // An aggregated object hands out its non-delegating unknown only.
    if (pOuter && riid != IID_IUnknown) return E_NOINTERFACE;
    HRESULT hr = S_OK;
    CKitUnknown* pObj = m_pfnCreate(pOuter, &hr);
    if (!pObj) return FAILED(hr) ? hr : E_OUTOFMEMORY;
    if (FAILED(hr)) {
        delete pObj;
        return hr;
    }
    pObj->NonDelegatingAddRef();
    hr = pObj->NonDelegatingQueryInterface(riid, ppv);
    pObj->NonDelegatingRelease();
    return hr;
}

STDMETHODIMP CKitClassFactory::LockServer(BOOL bLock) {
    KitLockServer(bLock != FALSE);
    return S_OK;
}
