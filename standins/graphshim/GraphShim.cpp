// The filter graph manager of this platform, extended by the saved-graph stream.
//
// Registered in place of the platform's graph manager (CLSID_FilterGraph and
// CLSID_FilterGraphNoThread), it creates the platform's own graph manager from quartz.dll
// aggregated inside itself, so every interface and behaviour stays the platform's, and adds
// IPersistStream in the graph manager's saved-graph format (GrfFormat.h).
#include <windows.h>
#include <ole2.h>

#include "graph/DShow.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "GrfFormat.h"
#include "standins/media/MediaType.h"

namespace {

HMODULE g_hModule = NULL;
LONG g_cObjects = 0;
LONG g_cLocks = 0;

// Larger streams are refused rather than read.
const size_t kMaxStream = 256u << 20;

template <class T>
class Ref {
public:
    Ref() = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Reset(); }
    void Reset() {
        if (m_p) m_p->Release();
        m_p = nullptr;
    }
    T** operator&() {
        Reset();
        return &m_p;
    }
    T* operator->() const { return m_p; }
    operator T*() const { return m_p; }
    T* Get() const { return m_p; }

private:
    T* m_p = nullptr;
};

template <class T>
HRESULT QueryInto(IUnknown* pUnk, Ref<T>& ref) {
    return pUnk->QueryInterface(__uuidof(T), reinterpret_cast<void**>(&ref));
}

grf::Guid ToGuid(const GUID& g) {
    grf::Guid r;
    static_assert(sizeof(r) == sizeof(GUID), "layout");
    memcpy(static_cast<void*>(&r), &g, sizeof g);
    return r;
}
GUID FromGuid(const grf::Guid& g) {
    GUID r;
    memcpy(&r, &g, sizeof r);
    return r;
}
std::u16string ToU16(LPCWSTR psz) {
    return psz ? std::u16string(reinterpret_cast<const char16_t*>(psz)) : std::u16string();
}
std::wstring ToW(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

bool SameObject(IUnknown* a, IUnknown* b) {
    Ref<IUnknown> ua, ub;
    if (!a || !b || FAILED(a->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&ua))) ||
        FAILED(b->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&ub))))
        return false;
    return ua.Get() == ub.Get();
}

// Loads the platform's graph manager.
HRESULT GetPlatformFactory(REFCLSID clsid, IClassFactory** ppFactory) {
    static HMODULE hQuartz = NULL;
    if (!hQuartz) {
        WCHAR szPath[MAX_PATH];
        UINT n = GetSystemDirectoryW(szPath, MAX_PATH - 16);
        if (n == 0 || n >= MAX_PATH - 16) return E_UNEXPECTED;
        lstrcatW(szPath, L"\\quartz.dll");
        hQuartz = LoadLibraryW(szPath);
        if (!hQuartz) return HRESULT_FROM_WIN32(GetLastError());
    }
    typedef HRESULT(WINAPI * PFN)(REFCLSID, REFIID, void**);
    PFN pfn = reinterpret_cast<PFN>(reinterpret_cast<void*>(GetProcAddress(hQuartz, "DllGetClassObject")));
    if (!pfn) return HRESULT_FROM_WIN32(GetLastError());
    return pfn(clsid, IID_IClassFactory, reinterpret_cast<void**>(ppFactory));
}

class CShimGraph final : public IPersistStream {
public:
    static HRESULT Create(REFCLSID clsid, REFIID riid, void** ppv) {
        CShimGraph* p = new (std::nothrow) CShimGraph();
        if (!p) return E_OUTOFMEMORY;
        Ref<IClassFactory> spFactory;
        HRESULT hr = GetPlatformFactory(clsid, &spFactory);
        if (SUCCEEDED(hr))
            hr = spFactory->CreateInstance(static_cast<IPersistStream*>(p), IID_IUnknown,
                                           reinterpret_cast<void**>(&p->m_pInner));
        if (SUCCEEDED(hr)) hr = p->QueryInterface(riid, ppv);
        p->Release();
        return hr;
    }

    // IUnknown: the controlling unknown of the aggregate.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IPersist || riid == IID_IPersistStream) {
            *ppv = static_cast<IPersistStream*>(this);
            AddRef();
            return S_OK;
        }
        if (!m_pInner) return E_NOINTERFACE;
        return m_pInner->QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_cRef); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG c = InterlockedDecrement(&m_cRef);
        if (c == 0) {
            m_cRef = 1;  // guards against re-entry while the inner object goes
            if (m_pInner) m_pInner->Release();
            m_pInner = nullptr;
            delete this;
        }
        return ULONG(c);
    }

    // IPersist
    STDMETHODIMP GetClassID(CLSID* pClassID) override {
        if (!pClassID) return E_POINTER;
        *pClassID = CLSID_FilterGraph;
        return S_OK;
    }

    // IPersistStream
    STDMETHODIMP IsDirty() override { return S_OK; }  // changes through the graph are not tracked
    STDMETHODIMP Load(IStream* pStm) override;
    STDMETHODIMP Save(IStream* pStm, BOOL fClearDirty) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* pcbSize) override {
        if (!pcbSize) return E_POINTER;
        std::vector<uint8_t> bytes;
        HRESULT hr = Serialize(&bytes);
        if (FAILED(hr)) return hr;
        pcbSize->QuadPart = bytes.size();
        return S_OK;
    }

private:
    CShimGraph() { InterlockedIncrement(&g_cObjects); }
    ~CShimGraph() { InterlockedDecrement(&g_cObjects); }

    HRESULT Serialize(std::vector<uint8_t>* pBytes);
    HRESULT Restore(const grf::Graph& g);

    LONG m_cRef = 1;
    IUnknown* m_pInner = nullptr;  // the platform's graph manager, non-delegating
};

HRESULT ReadAll(IStream* pStm, std::vector<uint8_t>* pBytes) {
    pBytes->clear();
    for (;;) {
        size_t n = pBytes->size();
        if (n >= kMaxStream) return VFW_E_INVALID_FILE_FORMAT;
        const ULONG cbChunk = 64 * 1024;
        pBytes->resize(n + cbChunk);
        ULONG cbRead = 0;
        HRESULT hr = pStm->Read(pBytes->data() + n, cbChunk, &cbRead);
        if (FAILED(hr)) return hr;
        if (cbRead > cbChunk) return E_UNEXPECTED;
        pBytes->resize(n + cbRead);
        if (cbRead == 0) return S_OK;
    }
}

STDMETHODIMP CShimGraph::Load(IStream* pStm) {
    if (!pStm) return E_POINTER;
    std::vector<uint8_t> bytes;
    HRESULT hr = ReadAll(pStm, &bytes);
    if (FAILED(hr)) return hr;
    grf::Graph g;
    size_t cbUsed = 0;
    if (!grf::Parse(bytes.data(), bytes.size(), &g, &cbUsed, nullptr)) return VFW_E_INVALID_FILE_FORMAT;
    // Leave the stream just behind the graph, as a reader of a larger stream expects.
    LARGE_INTEGER li;
    li.QuadPart = LONGLONG(cbUsed) - LONGLONG(bytes.size());
    pStm->Seek(li, STREAM_SEEK_CUR, nullptr);
    return Restore(g);
}

HRESULT MemoryStream(const std::vector<uint8_t>& data, IStream** ppStm) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, data.size() ? data.size() : 1);
    if (!h) return E_OUTOFMEMORY;
    if (!data.empty()) {
        void* p = GlobalLock(h);
        memcpy(p, data.data(), data.size());
        GlobalUnlock(h);
    }
    HRESULT hr = CreateStreamOnHGlobal(h, TRUE, ppStm);
    if (FAILED(hr)) {
        GlobalFree(h);
        return hr;
    }
    ULARGE_INTEGER size;
    size.QuadPart = data.size();
    return (*ppStm)->SetSize(size);
}

HRESULT CShimGraph::Restore(const grf::Graph& g) {
    Ref<IGraphBuilder> spGraph;
    HRESULT hr = QueryInto(static_cast<IPersistStream*>(this), spGraph);
    if (FAILED(hr)) return hr;

    // Whatever this load added is taken out again when it fails.
    std::vector<IBaseFilter*> added;
    std::map<uint32_t, IBaseFilter*> byId;
    auto fail = [&](HRESULT hrFail) {
        for (IBaseFilter* pFilter : added) {
            spGraph->RemoveFilter(pFilter);
            pFilter->Release();
        }
        return hrFail;
    };

    for (const grf::Filter& f : g.filters) {
        IBaseFilter* pFilter = nullptr;
        GUID clsid = FromGuid(f.clsid);
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void**>(&pFilter));
        if (FAILED(hr)) return fail(hr);
        if (!f.data.empty()) {
            Ref<IPersistStream> spPersist;
            if (SUCCEEDED(QueryInto(pFilter, spPersist))) {
                Ref<IStream> spStm;
                hr = MemoryStream(f.data, &spStm);
                if (SUCCEEDED(hr)) hr = spPersist->Load(spStm);
                if (FAILED(hr)) {
                    pFilter->Release();
                    return fail(hr);
                }
            }
        }
        std::wstring file = ToW(f.file);
        if (f.fileKind == grf::FileKind::Source) {
            Ref<IFileSourceFilter> spSource;
            hr = QueryInto(pFilter, spSource);
            if (SUCCEEDED(hr)) hr = spSource->Load(file.c_str(), nullptr);
        } else if (f.fileKind == grf::FileKind::Sink) {
            Ref<IFileSinkFilter> spSink;
            hr = QueryInto(pFilter, spSink);
            if (SUCCEEDED(hr)) hr = spSink->SetFileName(file.c_str(), nullptr);
        }
        if (SUCCEEDED(hr)) {
            std::wstring name = ToW(f.name);
            hr = spGraph->AddFilter(pFilter, name.c_str());
        }
        if (FAILED(hr)) {
            pFilter->Release();
            return fail(hr);
        }
        added.push_back(pFilter);
        byId[f.id] = pFilter;
    }

    // A filter's output pins may only appear once its input is connected (a splitter), so a
    // connection whose pins are not there yet waits until the others are made.
    std::vector<const grf::Connection*> pending;
    for (const grf::Connection& c : g.connections) pending.push_back(&c);
    HRESULT hrMissing = VFW_E_NOT_FOUND;
    while (!pending.empty()) {
        bool bProgress = false;
        for (size_t i = 0; i < pending.size();) {
            const grf::Connection& c = *pending[i];
            Ref<IPin> spOut, spIn;
            std::wstring outPin = ToW(c.outPin), inPin = ToW(c.inPin);
            HRESULT hrOut = byId[c.outFilter]->FindPin(outPin.c_str(), &spOut);
            HRESULT hrIn = byId[c.inFilter]->FindPin(inPin.c_str(), &spIn);
            if (FAILED(hrOut) || FAILED(hrIn) || !spOut || !spIn) {
                hrMissing = FAILED(hrOut) ? hrOut : FAILED(hrIn) ? hrIn : VFW_E_NOT_FOUND;
                ++i;
                continue;
            }
            AM_MEDIA_TYPE mt = {};
            mt.majortype = FromGuid(c.mt.majortype);
            mt.subtype = FromGuid(c.mt.subtype);
            mt.bFixedSizeSamples = c.mt.fixedSizeSamples;
            mt.bTemporalCompression = c.mt.temporalCompression;
            mt.lSampleSize = c.mt.sampleSize;
            mt.formattype = FromGuid(c.mt.formattype);
            mt.cbFormat = ULONG(c.mt.format.size());
            mt.pbFormat = mt.cbFormat ? const_cast<BYTE*>(c.mt.format.data()) : nullptr;
            hr = spGraph->ConnectDirect(spOut, spIn, &mt);
            if (FAILED(hr)) return fail(hr);
            pending.erase(pending.begin() + i);
            bProgress = true;
        }
        if (!bProgress) return fail(hrMissing);
    }

    if (g.version == 3 && (g.clockFilter != 0 || g.hasClockClass)) {
        Ref<IReferenceClock> spClock;
        if (g.hasClockClass)
            hr = CoCreateInstance(FromGuid(g.clockClass), nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IReferenceClock, reinterpret_cast<void**>(&spClock));
        else
            hr = QueryInto(byId[g.clockFilter], spClock);
        if (SUCCEEDED(hr)) {
            Ref<IMediaFilter> spMediaFilter;
            hr = QueryInto(spGraph.Get(), spMediaFilter);
            if (SUCCEEDED(hr)) hr = spMediaFilter->SetSyncSource(spClock);
        }
        // A clock that is only preferred may be left to the graph manager's own choice.
        if (FAILED(hr) && g.clockRequired) return fail(hr);
    }

    for (IBaseFilter* pFilter : added) pFilter->Release();
    return S_OK;
}

HRESULT PinId(IPin* pPin, std::u16string* pId) {
    LPWSTR psz = nullptr;
    HRESULT hr = pPin->QueryId(&psz);
    if (FAILED(hr)) return hr;
    *pId = ToU16(psz);
    CoTaskMemFree(psz);
    return S_OK;
}

HRESULT CShimGraph::Serialize(std::vector<uint8_t>* pBytes) {
    Ref<IGraphBuilder> spGraph;
    HRESULT hr = QueryInto(static_cast<IPersistStream*>(this), spGraph);
    if (FAILED(hr)) return hr;

    // The graph's filters, upstream ones first so that the file reads from source to sink.
    std::vector<IBaseFilter*> filters;
    struct Holder {
        std::vector<IBaseFilter*>& v;
        ~Holder() {
            for (IBaseFilter* p : v) p->Release();
        }
    } holder{filters};
    {
        Ref<IEnumFilters> spEnum;
        hr = spGraph->EnumFilters(&spEnum);
        if (FAILED(hr)) return hr;
        IBaseFilter* pFilter = nullptr;
        while (spEnum->Next(1, &pFilter, nullptr) == S_OK) filters.push_back(pFilter);
    }
    auto indexOf = [&](IBaseFilter* p) -> int {
        for (size_t i = 0; i < filters.size(); ++i)
            if (filters[i] == p || SameObject(filters[i], p)) return int(i);
        return -1;
    };
    // Connections, by filter index, with their (output, input) pins.
    std::vector<std::pair<int, int>> edges;
    std::vector<std::pair<IPin*, IPin*>> pins;  // owned references
    struct PinHolder {
        std::vector<std::pair<IPin*, IPin*>>& v;
        ~PinHolder() {
            for (auto& p : v) {
                p.first->Release();
                p.second->Release();
            }
        }
    } pinHolder{pins};
    for (size_t i = 0; i < filters.size(); ++i) {
        Ref<IEnumPins> spPins;
        if (FAILED(filters[i]->EnumPins(&spPins))) continue;
        IPin* pPin = nullptr;
        while (spPins->Next(1, &pPin, nullptr) == S_OK) {
            PIN_DIRECTION dir;
            IPin* pPeer = nullptr;
            if (SUCCEEDED(pPin->QueryDirection(&dir)) && dir == PINDIR_OUTPUT &&
                pPin->ConnectedTo(&pPeer) == S_OK && pPeer) {
                PIN_INFO info = {};
                int to = -1;
                if (SUCCEEDED(pPeer->QueryPinInfo(&info)) && info.pFilter) {
                    to = indexOf(info.pFilter);
                    info.pFilter->Release();
                }
                if (to >= 0) {
                    edges.push_back({int(i), to});
                    pins.push_back({pPin, pPeer});
                    continue;
                }
                pPeer->Release();
            }
            pPin->Release();
        }
    }
    std::vector<int> order, indegree(filters.size(), 0);
    for (auto& e : edges) ++indegree[e.second];
    std::vector<bool> placed(filters.size(), false);
    while (order.size() < filters.size()) {
        int next = -1;
        for (size_t i = 0; i < filters.size() && next < 0; ++i)
            if (!placed[i] && indegree[i] == 0) next = int(i);
        for (size_t i = 0; i < filters.size() && next < 0; ++i)  // a loop: take any
            if (!placed[i]) next = int(i);
        placed[next] = true;
        order.push_back(next);
        for (auto& e : edges)
            if (e.first == next) --indegree[e.second];
    }
    std::vector<uint32_t> idOf(filters.size());
    for (size_t k = 0; k < order.size(); ++k) idOf[order[k]] = uint32_t(k + 1);

    grf::Graph g;
    g.version = 3;
    for (int i : order) {
        IBaseFilter* pFilter = filters[i];
        grf::Filter f;
        f.id = idOf[i];
        FILTER_INFO info = {};
        hr = pFilter->QueryFilterInfo(&info);
        if (FAILED(hr)) return hr;
        if (info.pGraph) info.pGraph->Release();
        f.name = ToU16(info.achName);
        for (char16_t& c : f.name)
            if (c == u'"') c = u'\'';  // a name is only a label; the format has no quote in it
        CLSID clsid;
        hr = pFilter->GetClassID(&clsid);
        if (FAILED(hr)) return hr;
        f.clsid = ToGuid(clsid);
        Ref<IFileSourceFilter> spSource;
        Ref<IFileSinkFilter> spSink;
        LPOLESTR pszFile = nullptr;
        if (SUCCEEDED(QueryInto(pFilter, spSource)) && spSource->GetCurFile(&pszFile, nullptr) == S_OK &&
            pszFile) {
            f.fileKind = grf::FileKind::Source;
        } else if (SUCCEEDED(QueryInto(pFilter, spSink)) &&
                   spSink->GetCurFile(&pszFile, nullptr) == S_OK && pszFile) {
            f.fileKind = grf::FileKind::Sink;
        }
        if (pszFile) {
            f.file = ToU16(pszFile);
            CoTaskMemFree(pszFile);
        }
        Ref<IPersistStream> spPersist;
        if (SUCCEEDED(QueryInto(pFilter, spPersist))) {
            Ref<IStream> spStm;
            hr = CreateStreamOnHGlobal(NULL, TRUE, &spStm);
            if (SUCCEEDED(hr)) hr = spPersist->Save(spStm, TRUE);
            if (FAILED(hr)) return hr;
            STATSTG st = {};
            HGLOBAL h = NULL;
            hr = spStm->Stat(&st, STATFLAG_NONAME);
            if (SUCCEEDED(hr)) hr = GetHGlobalFromStream(spStm, &h);
            if (FAILED(hr)) return hr;
            if (st.cbSize.QuadPart > kMaxStream) return E_OUTOFMEMORY;
            const uint8_t* p = static_cast<const uint8_t*>(GlobalLock(h));
            if (p) f.data.assign(p, p + size_t(st.cbSize.QuadPart));
            GlobalUnlock(h);
        }
        g.filters.push_back(std::move(f));
    }

    for (int i : order) {
        for (size_t k = 0; k < edges.size(); ++k) {
            if (edges[k].first != i) continue;
            grf::Connection c;
            c.outFilter = idOf[edges[k].first];
            c.inFilter = idOf[edges[k].second];
            hr = PinId(pins[k].first, &c.outPin);
            if (SUCCEEDED(hr)) hr = PinId(pins[k].second, &c.inPin);
            if (FAILED(hr)) return hr;
            AM_MEDIA_TYPE mt = {};
            hr = pins[k].first->ConnectionMediaType(&mt);
            if (FAILED(hr)) return hr;
            c.mt.majortype = ToGuid(mt.majortype);
            c.mt.subtype = ToGuid(mt.subtype);
            c.mt.fixedSizeSamples = mt.bFixedSizeSamples != FALSE;
            c.mt.temporalCompression = mt.bTemporalCompression != FALSE;
            c.mt.sampleSize = mt.lSampleSize;
            c.mt.formattype = ToGuid(mt.formattype);
            if (mt.cbFormat && mt.pbFormat) c.mt.format.assign(mt.pbFormat, mt.pbFormat + mt.cbFormat);
            media::FreeMediaType(mt);
            g.connections.push_back(std::move(c));
        }
    }

    // The clock: one of the graph's filters, or the graph manager's own choice.
    Ref<IMediaFilter> spMediaFilter;
    Ref<IReferenceClock> spClock;
    if (SUCCEEDED(QueryInto(spGraph.Get(), spMediaFilter)) &&
        SUCCEEDED(spMediaFilter->GetSyncSource(&spClock)) && spClock) {
        for (int i : order) {
            if (SameObject(filters[i], spClock)) {
                g.clockRequired = true;
                g.clockFilter = idOf[i];
                break;
            }
        }
    }

    std::string error;
    if (!grf::Write(g, pBytes, &error)) return E_FAIL;
    return S_OK;
}

STDMETHODIMP CShimGraph::Save(IStream* pStm, BOOL) {
    if (!pStm) return E_POINTER;
    std::vector<uint8_t> bytes;
    HRESULT hr = Serialize(&bytes);
    if (FAILED(hr)) return hr;
    ULONG cbWritten = 0;
    hr = pStm->Write(bytes.data(), ULONG(bytes.size()), &cbWritten);
    if (FAILED(hr)) return hr;
    return cbWritten == bytes.size() ? S_OK : STG_E_MEDIUMFULL;
}

class CFactory final : public IClassFactory {
public:
    explicit CFactory(REFCLSID clsid) : m_clsid(clsid) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_cRef); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG c = InterlockedDecrement(&m_cRef);
        if (c == 0) delete this;
        return ULONG(c);
    }
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (pUnkOuter) return CLASS_E_NOAGGREGATION;
        return CShimGraph::Create(m_clsid, riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL fLock) override {
        if (fLock) InterlockedIncrement(&g_cLocks);
        else InterlockedDecrement(&g_cLocks);
        return S_OK;
    }

private:
    LONG m_cRef = 1;
    CLSID m_clsid;
};

// Registration: our server replaces the platform's for both class identifiers. What was
// registered before is kept beside ours and put back when we are unregistered.
struct ShimClass {
    const CLSID* pclsid;
    const wchar_t* pszName;
};
const ShimClass kClasses[] = {
    {&CLSID_FilterGraph, L"Filter Graph"},
    {&CLSID_FilterGraphNoThread, L"Filter Graph no thread"},
};
const wchar_t kSavedServer[] = L"QuorlinSavedServer";
const wchar_t kSavedThreading[] = L"QuorlinSavedThreadingModel";
const wchar_t kCreatedKey[] = L"QuorlinCreatedKey";

std::wstring ClassKey(REFCLSID clsid) {
    wchar_t sz[64];
    StringFromGUID2(clsid, sz, 64);
    return std::wstring(L"CLSID\\") + sz;
}

std::wstring ModulePath() {
    wchar_t sz[MAX_PATH];
    DWORD n = GetModuleFileNameW(g_hModule, sz, MAX_PATH);
    return (n && n < MAX_PATH) ? std::wstring(sz, n) : std::wstring();
}

bool ReadString(HKEY hKey, const wchar_t* pszValue, std::wstring* pText) {
    wchar_t sz[1024];
    DWORD cb = sizeof sz - sizeof(wchar_t), type = 0;
    if (RegQueryValueExW(hKey, pszValue, nullptr, &type, reinterpret_cast<BYTE*>(sz), &cb) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    sz[cb / sizeof(wchar_t)] = 0;
    *pText = sz;
    return true;
}

LONG WriteString(HKEY hKey, const wchar_t* pszValue, const std::wstring& text) {
    return RegSetValueExW(hKey, pszValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          DWORD((text.size() + 1) * sizeof(wchar_t)));
}

HRESULT RegisterShimClass(const ShimClass& c, const std::wstring& module) {
    std::wstring key = ClassKey(*c.pclsid);
    HKEY hClass = NULL, hServer = NULL;
    DWORD disp = 0;
    LONG r = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                             &hClass, &disp);
    if (r != ERROR_SUCCESS) return HRESULT_FROM_WIN32(r);
    std::wstring oldServer, oldThreading;
    bool bHadServer = false;
    if (RegOpenKeyExW(hClass, L"InprocServer32", 0, KEY_READ, &hServer) == ERROR_SUCCESS) {
        bHadServer = ReadString(hServer, nullptr, &oldServer);
        ReadString(hServer, L"ThreadingModel", &oldThreading);
        RegCloseKey(hServer);
        hServer = NULL;
    }
    std::wstring dummy;
    bool bAlreadySaved = ReadString(hClass, kSavedServer, &dummy) ||
                         RegQueryValueExW(hClass, kCreatedKey, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    if (!bAlreadySaved) {
        if (bHadServer && lstrcmpiW(oldServer.c_str(), module.c_str()) != 0) {
            WriteString(hClass, kSavedServer, oldServer);
            WriteString(hClass, kSavedThreading, oldThreading);
        } else if (disp == REG_CREATED_NEW_KEY) {
            WriteString(hClass, kCreatedKey, L"1");
        }
    }
    std::wstring name;
    if (!ReadString(hClass, nullptr, &name)) WriteString(hClass, nullptr, c.pszName);
    r = RegCreateKeyExW(hClass, L"InprocServer32", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hServer, nullptr);
    if (r == ERROR_SUCCESS) {
        r = WriteString(hServer, nullptr, module);
        if (r == ERROR_SUCCESS) r = WriteString(hServer, L"ThreadingModel", L"Both");
        RegCloseKey(hServer);
    }
    RegCloseKey(hClass);
    return HRESULT_FROM_WIN32(r);
}

HRESULT UnregisterShimClass(const ShimClass& c, const std::wstring& module) {
    std::wstring key = ClassKey(*c.pclsid);
    HKEY hClass = NULL;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_ALL_ACCESS, &hClass) != ERROR_SUCCESS)
        return S_OK;
    std::wstring server, savedServer, savedThreading;
    HKEY hServer = NULL;
    if (RegOpenKeyExW(hClass, L"InprocServer32", 0, KEY_READ, &hServer) == ERROR_SUCCESS) {
        ReadString(hServer, nullptr, &server);
        RegCloseKey(hServer);
    }
    bool bOurs = lstrcmpiW(server.c_str(), module.c_str()) == 0;
    bool bCreated = RegQueryValueExW(hClass, kCreatedKey, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    bool bSaved = ReadString(hClass, kSavedServer, &savedServer);
    ReadString(hClass, kSavedThreading, &savedThreading);
    LONG r = ERROR_SUCCESS;
    if (bOurs && bCreated) {
        RegCloseKey(hClass);
        return HRESULT_FROM_WIN32(RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str()));
    }
    if (bOurs) {
        if (!bSaved) {
            // Nothing recorded: the platform's graph manager lives in quartz.dll.
            wchar_t sz[MAX_PATH];
            UINT n = GetSystemDirectoryW(sz, MAX_PATH - 16);
            savedServer = std::wstring(sz, n) + L"\\quartz.dll";
            savedThreading = L"Both";
        }
        r = RegCreateKeyExW(hClass, L"InprocServer32", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hServer, nullptr);
        if (r == ERROR_SUCCESS) {
            r = WriteString(hServer, nullptr, savedServer);
            if (r == ERROR_SUCCESS && !savedThreading.empty())
                r = WriteString(hServer, L"ThreadingModel", savedThreading);
            RegCloseKey(hServer);
        }
    }
    RegDeleteValueW(hClass, kSavedServer);
    RegDeleteValueW(hClass, kSavedThreading);
    RegDeleteValueW(hClass, kCreatedKey);
    RegCloseKey(hClass);
    return HRESULT_FROM_WIN32(r);
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE hInst, DWORD dwReason, LPVOID) {
    if (dwReason == DLL_PROCESS_ATTACH) {
        g_hModule = hInst;
        DisableThreadLibraryCalls(hInst);
    }
    return TRUE;
}

HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (rclsid != CLSID_FilterGraph && rclsid != CLSID_FilterGraphNoThread) return CLASS_E_CLASSNOTAVAILABLE;
    CFactory* pFactory = new (std::nothrow) CFactory(rclsid);
    if (!pFactory) return E_OUTOFMEMORY;
    HRESULT hr = pFactory->QueryInterface(riid, ppv);
    pFactory->Release();
    return hr;
}

HRESULT WINAPI DllCanUnloadNow() { return (g_cObjects == 0 && g_cLocks == 0) ? S_OK : S_FALSE; }

HRESULT WINAPI DllRegisterServer() {
    std::wstring module = ModulePath();
    if (module.empty()) return E_UNEXPECTED;
    for (const ShimClass& c : kClasses) {
        HRESULT hr = RegisterShimClass(c, module);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT WINAPI DllUnregisterServer() {
    std::wstring module = ModulePath();
    HRESULT hrResult = S_OK;
    for (const ShimClass& c : kClasses) {
        HRESULT hr = UnregisterShimClass(c, module);
        if (FAILED(hr)) hrResult = hr;
    }
    return hrResult;
}

}  // extern "C"
