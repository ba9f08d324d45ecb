// Fake COM kit: the common pieces (reference counting, enumerators with failures on demand,
// an ordered call log, media types, class registration under real class identifiers).
//
// Use:
//   ComApartment com;                                    // STA for the test's thread
//   CComPtr<FakeGraph> spGraph = FakeGraph::Create();    // FakeGraph.h
//   ClassRegistration regGraph(CLSID_FilterGraph, spGraph);   // CoCreateInstance now answers it
//   ClassRegistration regEnc(CLSID_VireonEncoder, [] { return FakeEncoder::Create(); });
//   ClassRegistration noDec(CLSID_VireonDecoder, REGDB_E_CLASSNOTREG);   // creation fails
//   ... run the code under test, then read CallLog().Entries() and the fakes' own fields ...
// Registrations are revoked when they go out of scope; declare them after the ComApartment.
// Every fake records what it is asked in the process-wide CallLog() ("AddFilter Smart Tee",
// "ConnectDirect Morvane H264 Encoder.Out -> Smart Tee.Input", "SetFileName Z:\\x.mp4", ...),
// so tests can check calls and their order across objects. Clear it with CallLog().Clear().
#pragma once

#include "graph/DShow.h"

#include <atlbase.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Initialises COM as a single-threaded apartment for the scope (as the program's thread is).
class ComApartment {
public:
    ComApartment() : m_hr(::CoInitializeEx(NULL, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(m_hr)) ::CoUninitialize();
    }
    HRESULT Result() const { return m_hr; }

private:
    HRESULT m_hr;
};

// The ordered record of calls made on fakes, shared by all of them (thread-safe: streaming
// threads of a real graph may log too).
class FakeCallLog {
public:
    FakeCallLog();
    ~FakeCallLog();
    void Add(const std::wstring& entry);
    void Clear();
    std::vector<std::wstring> Entries() const;
    // Entries that start with prefix, in order.
    std::vector<std::wstring> Starting(const std::wstring& prefix) const;
    // Position of the first entry equal to entry, or -1.
    int IndexOf(const std::wstring& entry) const;
    bool Has(const std::wstring& entry) const { return IndexOf(entry) >= 0; }
    std::string Dump() const;

private:
    mutable CRITICAL_SECTION m_cs;
    std::vector<std::wstring> m_entries;
};
FakeCallLog& CallLog();

// Reference counting for fakes derived from one or more COM interfaces. The most derived
// class puts FAKE_COM_UNKNOWN() in its body and implements QueryInterfaceImpl.
#define FAKE_COM_UNKNOWN()                                                                         \
    STDMETHODIMP_(ULONG) AddRef() override { return (ULONG)::InterlockedIncrement(&m_cRef); }     \
    STDMETHODIMP_(ULONG) Release() override {                                                      \
        LONG c = ::InterlockedDecrement(&m_cRef);                                                  \
        if (c == 0) delete this;                                                                   \
        return (ULONG)c;                                                                           \
    }                                                                                              \
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {                               \
        if (ppv == NULL) return E_POINTER;                                                         \
        *ppv = NULL;                                                                               \
        void* p = QueryInterfaceImpl(riid);                                                        \
        if (p == NULL) return E_NOINTERFACE;                                                       \
        AddRef();                                                                                  \
        *ppv = p;                                                                                  \
        return S_OK;                                                                               \
    }

// Where a fake is asked for an interface it was told to refuse.
class RefusedInterfaces {
public:
    void Refuse(REFIID riid) { m_iids.push_back(riid); }
    bool IsRefused(REFIID riid) const {
        for (const IID& iid : m_iids)
            if (iid == riid) return true;
        return false;
    }

private:
    std::vector<IID> m_iids;
};

// An owned copy of an AM_MEDIA_TYPE.
class MediaType {
public:
    MediaType() { ::ZeroMemory(&m_mt, sizeof(m_mt)); }
    explicit MediaType(const AM_MEDIA_TYPE& mt) : MediaType() { Assign(mt); }
    MediaType(const MediaType& other) : MediaType() { Assign(other.m_mt); }
    MediaType& operator=(const MediaType& other) {
        if (this != &other) Assign(other.m_mt);
        return *this;
    }
    ~MediaType() { Clear(); }

    void Assign(const AM_MEDIA_TYPE& mt);
    void Clear();
    const AM_MEDIA_TYPE& Get() const { return m_mt; }
    AM_MEDIA_TYPE& Get() { return m_mt; }
    // Copies into *pmt (format block allocated with CoTaskMemAlloc).
    HRESULT CopyTo(AM_MEDIA_TYPE* pmt) const;
    // A new CoTaskMemAlloc'ed copy, as IEnumMediaTypes hands out.
    AM_MEDIA_TYPE* NewCopy() const;

private:
    AM_MEDIA_TYPE m_mt;
};

// Media types for fakes: video with a VIDEOINFOHEADER (or VIDEOINFOHEADER2), H.264, audio.
MediaType VideoType(REFGUID subtype, int nWidth, int nHeight, REFGUID formattype = FORMAT_VideoInfo,
                    WORD nBitCount = 32, DWORD dwCompression = BI_RGB);
MediaType H264Type(int nWidth = 320, int nHeight = 240);
MediaType AudioType();
// A type with only the major type set and no format block.
MediaType BareType(REFGUID majortype, REFGUID subtype = GUID_NULL);

// An enumerator over a fixed list. Next can fail on demand: at position nFailAt (0-based)
// it answers hrFail without handing anything out.
template <class TEnum, class TItem>
class FakeEnum : public TEnum {
public:
    static CComPtr<TEnum> Create(const std::vector<CComPtr<TItem>>& items, int nFailAt = -1,
                                 HRESULT hrFail = E_UNEXPECTED) {
        FakeEnum* p = new FakeEnum(items, nFailAt, hrFail);
        CComPtr<TEnum> sp;
        sp.Attach(p);
        return sp;
    }
    FAKE_COM_UNKNOWN()
    void* QueryInterfaceImpl(REFIID riid) {
        if (riid == IID_IUnknown || riid == __uuidof(TEnum)) return static_cast<TEnum*>(this);
        return NULL;
    }
    STDMETHODIMP Next(ULONG cItems, TItem** ppItems, ULONG* pcFetched) override {
        if (ppItems == NULL) return E_POINTER;
        ULONG n = 0;
        while (n < cItems) {
            if ((int)m_nPos == m_nFailAt) {
                if (pcFetched) *pcFetched = n;
                ++m_nPos;
                return m_hrFail;
            }
            if (m_nPos >= m_items.size()) break;
            ppItems[n] = m_items[m_nPos++];
            if (ppItems[n]) ppItems[n]->AddRef();
            ++n;
        }
        if (pcFetched) *pcFetched = n;
        return n == cItems ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG cItems) override {
        m_nPos += cItems;
        return m_nPos <= m_items.size() ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        m_nPos = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(TEnum** ppEnum) override {
        if (ppEnum == NULL) return E_POINTER;
        FakeEnum* p = new FakeEnum(m_items, m_nFailAt, m_hrFail);
        p->m_nPos = m_nPos;
        *ppEnum = p;
        return S_OK;
    }

private:
    FakeEnum(const std::vector<CComPtr<TItem>>& items, int nFailAt, HRESULT hrFail)
        : m_cRef(1), m_items(items), m_nPos(0), m_nFailAt(nFailAt), m_hrFail(hrFail) {}
    virtual ~FakeEnum() {}
    LONG m_cRef;
    std::vector<CComPtr<TItem>> m_items;
    size_t m_nPos;
    int m_nFailAt;
    HRESULT m_hrFail;
};

// An IEnumMediaTypes over copies of the given types; Next can fail at nFailAt like FakeEnum.
CComPtr<IEnumMediaTypes> CreateMediaTypeEnum(const std::vector<MediaType>& types, int nFailAt = -1,
                                             HRESULT hrFail = E_UNEXPECTED);

// A class factory that hands out what create() returns, or fails every creation with hrFail.
class FakeClassFactory : public IClassFactory {
public:
    typedef std::function<CComPtr<IUnknown>()> Creator;
    static CComPtr<IClassFactory> Create(Creator create, HRESULT hrFail = S_OK);
    FAKE_COM_UNKNOWN()
    void* QueryInterfaceImpl(REFIID riid);
    STDMETHODIMP CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    FakeClassFactory(Creator create, HRESULT hrFail) : m_cRef(1), m_create(create), m_hrFail(hrFail) {}
    virtual ~FakeClassFactory() {}
    LONG m_cRef;
    Creator m_create;
    HRESULT m_hrFail;
};

// Registers a class object under a real class identifier for this thread's apartment
// (CoRegisterClassObject, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE) and revokes it at the
// end of the scope. While it lives, CoCreateInstance(clsid, CLSCTX_INPROC_SERVER) answers
// with the fake instead of the installed component.
class ClassRegistration {
public:
    // Every creation returns a new object from create().
    ClassRegistration(REFCLSID clsid, FakeClassFactory::Creator create);
    // Every creation returns this one object (a graph the test keeps a hold of).
    ClassRegistration(REFCLSID clsid, IUnknown* pSingleton);
    // Every creation fails with hrFail (a component that is not installed or broken).
    ClassRegistration(REFCLSID clsid, HRESULT hrFail);
    ~ClassRegistration();
    HRESULT Result() const { return m_hr; }
    // How many objects were handed out.
    int Created() const { return *m_pnCreated; }

private:
    ClassRegistration(const ClassRegistration&) = delete;
    ClassRegistration& operator=(const ClassRegistration&) = delete;
    void Register(REFCLSID clsid, FakeClassFactory::Creator create, HRESULT hrFail);
    DWORD m_dwCookie;
    HRESULT m_hr;
    std::shared_ptr<int> m_pnCreated;
};

// "Filter.Pin" for a pin of any filter (fake or real), as the call log writes it.
std::wstring PinLabel(IPin* pPin);
// The name of a filter in its graph.
std::wstring FilterName(IBaseFilter* pFilter);
