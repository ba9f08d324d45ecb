// ATL subset: smart pointers, BSTR and VARIANT wrappers, module objects.
#pragma once

#include "atldef.h"
#include <ole2.h>
#include <oleauto.h>

namespace ATL {

// ---------------------------------------------------------------------------------------
// Counted interface pointers.

template <class T>
class _NoAddRefReleaseOnCComPtr : public T {
private:
    STDMETHOD_(ULONG, AddRef)() = 0;
    STDMETHOD_(ULONG, Release)() = 0;
};

template <class T>
class CComPtrBase {
protected:
    CComPtrBase() throw() : p(NULL) {}
    CComPtrBase(T* lp) throw() : p(lp) { if (p != NULL) p->AddRef(); }

public:
    typedef T _PtrClass;
    ~CComPtrBase() throw() { if (p) p->Release(); }

    operator T*() const throw() { return p; }
    T& operator*() const { ATLASSERT(p != NULL); return *p; }
    T** operator&() throw() { ATLASSERT(p == NULL); return &p; }
    _NoAddRefReleaseOnCComPtr<T>* operator->() const throw() {
        ATLASSERT(p != NULL);
        return (_NoAddRefReleaseOnCComPtr<T>*)p;
    }
    bool operator!() const throw() { return p == NULL; }
    bool operator<(T* pT) const throw() { return p < pT; }
    bool operator!=(T* pT) const { return !operator==(pT); }
    bool operator==(T* pT) const throw() { return p == pT; }

    void Release() throw() {
        T* pTemp = p;
        if (pTemp) {
            p = NULL;
            pTemp->Release();
        }
    }
    bool IsEqualObject(IUnknown* pOther) throw() {
        if (p == NULL && pOther == NULL) return true;
        if (p == NULL || pOther == NULL) return false;
        IUnknown* punk1 = NULL;
        IUnknown* punk2 = NULL;
        p->QueryInterface(IID_IUnknown, (void**)&punk1);
        pOther->QueryInterface(IID_IUnknown, (void**)&punk2);
        bool bEqual = punk1 == punk2;
        if (punk1) punk1->Release();
        if (punk2) punk2->Release();
        return bEqual;
    }
    void Attach(T* p2) throw() {
        if (p) p->Release();
        p = p2;
    }
    T* Detach() throw() {
        T* pt = p;
        p = NULL;
        return pt;
    }
    HRESULT CopyTo(T** ppT) throw() {
        ATLASSERT(ppT != NULL);
        if (ppT == NULL) return E_POINTER;
        *ppT = p;
        if (p) p->AddRef();
        return S_OK;
    }
    HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter = NULL,
                             DWORD dwClsContext = CLSCTX_ALL) throw() {
        ATLASSERT(p == NULL);
        return ::CoCreateInstance(rclsid, pUnkOuter, dwClsContext, __uuidof(T), (void**)&p);
    }
    template <class Q>
    HRESULT QueryInterface(Q** pp) const throw() {
        ATLASSERT(pp != NULL);
        return p->QueryInterface(__uuidof(Q), (void**)pp);
    }

    T* p;
};

template <class T>
class CComPtr : public CComPtrBase<T> {
public:
    CComPtr() throw() {}
    CComPtr(T* lp) throw() : CComPtrBase<T>(lp) {}
    CComPtr(const CComPtr<T>& lp) throw() : CComPtrBase<T>(lp.p) {}
    T* operator=(T* lp) throw() {
        if (*this != lp) {
            if (lp) lp->AddRef();
            this->Attach(lp);
        }
        return *this;
    }
    T* operator=(const CComPtr<T>& lp) throw() { return *this = lp.p; }
};

// The interface identifier of T as a variable, so that its address can be a template
// argument with this compiler.
template <class T>
struct _AtlIIDOf {
    static const IID iid;
};
template <class T>
const IID _AtlIIDOf<T>::iid = __uuidof(T);

template <class T, const IID* piid = &_AtlIIDOf<T>::iid>
class CComQIPtr : public CComPtr<T> {
public:
    CComQIPtr() throw() {}
    CComQIPtr(T* lp) throw() : CComPtr<T>(lp) {}
    CComQIPtr(const CComQIPtr<T, piid>& lp) throw() : CComPtr<T>(lp.p) {}
    CComQIPtr(IUnknown* lp) throw() {
        if (lp != NULL) lp->QueryInterface(*piid, (void**)&this->p);
    }
    T* operator=(T* lp) throw() { return CComPtr<T>::operator=(lp); }
    T* operator=(const CComQIPtr<T, piid>& lp) throw() { return CComPtr<T>::operator=(lp.p); }
    T* operator=(IUnknown* lp) throw() {
        T* pNew = NULL;
        if (lp != NULL) lp->QueryInterface(*piid, (void**)&pNew);
        this->Attach(pNew);
        return *this;
    }
};

// ---------------------------------------------------------------------------------------
// BSTR and VARIANT holders.

class CComBSTR {
public:
    BSTR m_str;

    CComBSTR() throw() : m_str(NULL) {}
    CComBSTR(LPCOLESTR pSrc) : m_str(pSrc ? ::SysAllocString(pSrc) : NULL) {}
    CComBSTR(int nSize, LPCOLESTR sz) : m_str(::SysAllocStringLen(sz, nSize)) {}
    CComBSTR(const CComBSTR& src) : m_str(src.Copy()) {}
    ~CComBSTR() throw() { ::SysFreeString(m_str); }

    CComBSTR& operator=(const CComBSTR& src) {
        if (m_str != src.m_str) {
            ::SysFreeString(m_str);
            m_str = src.Copy();
        }
        return *this;
    }
    CComBSTR& operator=(LPCOLESTR pSrc) {
        if (pSrc != m_str) {
            ::SysFreeString(m_str);
            m_str = pSrc ? ::SysAllocString(pSrc) : NULL;
        }
        return *this;
    }

    unsigned int Length() const throw() { return ::SysStringLen(m_str); }
    operator BSTR() const throw() { return m_str; }
    BSTR* operator&() throw() { ATLASSERT(m_str == NULL); return &m_str; }
    bool operator!() const throw() { return m_str == NULL; }

    BSTR Copy() const throw() {
        if (m_str == NULL) return NULL;
        return ::SysAllocStringByteLen((char*)m_str, ::SysStringByteLen(m_str));
    }
    void Attach(BSTR src) throw() {
        if (m_str != src) {
            ::SysFreeString(m_str);
            m_str = src;
        }
    }
    BSTR Detach() throw() {
        BSTR s = m_str;
        m_str = NULL;
        return s;
    }
    void Empty() throw() {
        ::SysFreeString(m_str);
        m_str = NULL;
    }
    HRESULT Append(LPCOLESTR lpsz, int nLen) throw() {
        if (lpsz == NULL || (m_str != NULL && nLen == 0)) return S_OK;
        int n1 = Length();
        BSTR b = ::SysAllocStringLen(NULL, n1 + nLen);
        if (b == NULL) return E_OUTOFMEMORY;
        if (n1) memcpy(b, m_str, n1 * sizeof(OLECHAR));
        if (nLen) memcpy(b + n1, lpsz, nLen * sizeof(OLECHAR));
        b[n1 + nLen] = 0;
        ::SysFreeString(m_str);
        m_str = b;
        return S_OK;
    }
    HRESULT Append(LPCOLESTR lpsz) throw() { return lpsz ? Append(lpsz, lstrlenW(lpsz)) : S_OK; }
    HRESULT Append(const CComBSTR& bstrSrc) throw() { return Append(bstrSrc.m_str, bstrSrc.Length()); }
    CComBSTR& operator+=(LPCOLESTR pszSrc) { Append(pszSrc); return *this; }
};

class CComVariant : public tagVARIANT {
public:
    CComVariant() throw() { ::VariantInit(this); }
    CComVariant(LPCOLESTR lpszSrc) {
        ::VariantInit(this);
        vt = VT_BSTR;
        bstrVal = ::SysAllocString(lpszSrc);
        if (bstrVal == NULL && lpszSrc != NULL) vt = VT_ERROR, scode = E_OUTOFMEMORY;
    }
    CComVariant(const CComVariant&) = delete;
    CComVariant& operator=(const CComVariant&) = delete;
    ~CComVariant() throw() { Clear(); }
    HRESULT Clear() { return ::VariantClear(this); }
};

// ---------------------------------------------------------------------------------------
// Module objects.

class CAtlBaseModule {
public:
    CAtlBaseModule() throw();
    HINSTANCE GetModuleInstance() const throw() { return m_hInst; }
    HINSTANCE GetResourceInstance() const throw() { return m_hInstResource; }
    HINSTANCE SetResourceInstance(HINSTANCE hInst) throw() {
        HINSTANCE h = m_hInstResource;
        m_hInstResource = hInst;
        return h;
    }
    HINSTANCE m_hInst;
    HINSTANCE m_hInstResource;
};

extern CAtlBaseModule _AtlBaseModule;

// Data handed from the window creator to the first message of the new window.
struct _AtlCreateWndData {
    void* m_pThis;
    DWORD m_dwThreadID;
    _AtlCreateWndData* m_pNext;
};

class CAtlWinModule {
public:
    CAtlWinModule() throw();
    ~CAtlWinModule() throw();
    void AddCreateWndData(_AtlCreateWndData* pData, void* pObject) throw();
    void* ExtractCreateWndData() throw();
    // Records a window class registered for this module, to be unregistered by Term.
    void AddWindowClass(ATOM atom) throw();
    // Unregisters the module's window classes and deletes the creation lock.
    void Term() throw();

    CRITICAL_SECTION m_csWindowCreate;
    bool m_bInitialized;
    _AtlCreateWndData* m_pCreateWndList;
    ATOM m_rgAtoms[32];
    int m_nAtoms;
};

extern CAtlWinModule _AtlWinModule;

class CAtlModule {
public:
    CAtlModule() throw() : m_nLockCnt(0) {}
    virtual ~CAtlModule() throw() {}
    virtual LONG Lock() throw() { return ::InterlockedIncrement(&m_nLockCnt); }
    virtual LONG Unlock() throw() { return ::InterlockedDecrement(&m_nLockCnt); }
    virtual LONG GetLockCount() throw() { return m_nLockCnt; }
    LONG m_nLockCnt;
};

template <class T>
class CAtlModuleT : public CAtlModule {};

template <class T>
class CAtlExeModuleT : public CAtlModuleT<T> {
public:
    static HRESULT InitializeCom() throw() { return ::CoInitialize(NULL); }
    static void UninitializeCom() throw() { ::CoUninitialize(); }
};

}  // namespace ATL

using namespace ATL;
