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

HRESULT KitCopyMediaType(AM_MEDIA_TYPE* pDst, const AM_MEDIA_TYPE* pSrc) {
    if (!pDst || !pSrc) return E_POINTER;
    *pDst = *pSrc;
    if (pSrc->cbFormat && pSrc->pbFormat) {
        pDst->pbFormat = (BYTE*)::CoTaskMemAlloc(pSrc->cbFormat);
        if (!pDst->pbFormat) {
            pDst->cbFormat = 0;
            pDst->pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        memcpy(pDst->pbFormat, pSrc->pbFormat, pSrc->cbFormat);
    } else {
        pDst->pbFormat = nullptr;
        pDst->cbFormat = 0;
    }
    if (pDst->pUnk) pDst->pUnk->AddRef();
    return S_OK;
}

void KitFreeMediaType(AM_MEDIA_TYPE& mt) {
    if (mt.pbFormat) ::CoTaskMemFree(mt.pbFormat);
    mt.pbFormat = nullptr;
    mt.cbFormat = 0;
    if (mt.pUnk) mt.pUnk->Release();
    mt.pUnk = nullptr;
}

AM_MEDIA_TYPE* KitCreateMediaType(const AM_MEDIA_TYPE* pSrc) {
    auto* pmt = (AM_MEDIA_TYPE*)::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE));
    if (!pmt) return nullptr;
    if (FAILED(KitCopyMediaType(pmt, pSrc))) {
        ::CoTaskMemFree(pmt);
        return nullptr;
    }
    return pmt;
}

void KitDeleteMediaType(AM_MEDIA_TYPE* pmt) {
    if (!pmt) return;
    KitFreeMediaType(*pmt);
    ::CoTaskMemFree(pmt);
}

bool KitMediaTypeMatchesPartial(const AM_MEDIA_TYPE* pFull, const AM_MEDIA_TYPE* pPartial) {
    if (!pPartial) return true;
    if (pPartial->majortype != GUID_NULL && pPartial->majortype != pFull->majortype) return false;
    if (pPartial->subtype != GUID_NULL && pPartial->subtype != pFull->subtype) return false;
    if (pPartial->formattype != GUID_NULL) {
        if (pPartial->formattype != pFull->formattype) return false;
        if (pPartial->cbFormat && (pPartial->cbFormat != pFull->cbFormat ||
                                   memcmp(pPartial->pbFormat, pFull->pbFormat, pFull->cbFormat)))
            return false;
    }
    return true;
}

bool KitMediaTypeIsFullySpecified(const AM_MEDIA_TYPE* pmt) {
    return pmt && pmt->majortype != GUID_NULL && pmt->subtype != GUID_NULL &&
           pmt->formattype != GUID_NULL;
}

CKitMediaType::CKitMediaType() : AM_MEDIA_TYPE() {}
CKitMediaType::CKitMediaType(const AM_MEDIA_TYPE& mt) : AM_MEDIA_TYPE() { KitCopyMediaType(this, &mt); }
CKitMediaType::CKitMediaType(const CKitMediaType& mt) : AM_MEDIA_TYPE() { KitCopyMediaType(this, &mt); }
CKitMediaType& CKitMediaType::operator=(const AM_MEDIA_TYPE& mt) {
    if (&mt != this) {
        Clear();
        KitCopyMediaType(this, &mt);
    }
    return *this;
}
CKitMediaType& CKitMediaType::operator=(const CKitMediaType& mt) {
    return operator=(static_cast<const AM_MEDIA_TYPE&>(mt));
}
CKitMediaType::~CKitMediaType() { KitFreeMediaType(*this); }

void CKitMediaType::Clear() {
    KitFreeMediaType(*this);
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
