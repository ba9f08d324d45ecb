#include "tests/support/fakes/FakeCom.h"

#include <dvdmedia.h>
#include <uuids.h>

#include <memory>

// ---------------------------------------------------------------------------------------
// Call log.

FakeCallLog::FakeCallLog() { ::InitializeCriticalSection(&m_cs); }
FakeCallLog::~FakeCallLog() { ::DeleteCriticalSection(&m_cs); }

void FakeCallLog::Add(const std::wstring& entry) {
    ::EnterCriticalSection(&m_cs);
    m_entries.push_back(entry);
    ::LeaveCriticalSection(&m_cs);
}

void FakeCallLog::Clear() {
    ::EnterCriticalSection(&m_cs);
    m_entries.clear();
    ::LeaveCriticalSection(&m_cs);
}

std::vector<std::wstring> FakeCallLog::Entries() const {
    ::EnterCriticalSection(&m_cs);
    std::vector<std::wstring> copy = m_entries;
    ::LeaveCriticalSection(&m_cs);
    return copy;
}

std::vector<std::wstring> FakeCallLog::Starting(const std::wstring& prefix) const {
    std::vector<std::wstring> out;
    for (const std::wstring& e : Entries())
        if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
    return out;
}

int FakeCallLog::IndexOf(const std::wstring& entry) const {
    std::vector<std::wstring> entries = Entries();
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i] == entry) return (int)i;
    return -1;
}

std::string FakeCallLog::Dump() const {
    std::string s;
    for (const std::wstring& e : Entries()) {
        int n = ::WideCharToMultiByte(CP_UTF8, 0, e.c_str(), (int)e.size(), NULL, 0, NULL, NULL);
        std::string line(n, '\0');
        if (n) ::WideCharToMultiByte(CP_UTF8, 0, e.c_str(), (int)e.size(), &line[0], n, NULL, NULL);
        s += "  " + line + "\n";
    }
    return s;
}

FakeCallLog& CallLog() {
    static FakeCallLog s_log;
    return s_log;
}

// ---------------------------------------------------------------------------------------
// Media types.

void MediaType::Clear() {
    ::CoTaskMemFree(m_mt.pbFormat);
    if (m_mt.pUnk) m_mt.pUnk->Release();
    ::ZeroMemory(&m_mt, sizeof(m_mt));
}

void MediaType::Assign(const AM_MEDIA_TYPE& mt) {
    Clear();
    m_mt = mt;
    m_mt.pbFormat = NULL;
    m_mt.cbFormat = 0;
    if (mt.cbFormat && mt.pbFormat) {
        m_mt.pbFormat = (BYTE*)::CoTaskMemAlloc(mt.cbFormat);
        memcpy(m_mt.pbFormat, mt.pbFormat, mt.cbFormat);
        m_mt.cbFormat = mt.cbFormat;
    }
    if (m_mt.pUnk) m_mt.pUnk->AddRef();
}

HRESULT MediaType::CopyTo(AM_MEDIA_TYPE* pmt) const {
    if (pmt == NULL) return E_POINTER;
    *pmt = m_mt;
    pmt->pbFormat = NULL;
    pmt->cbFormat = 0;
    if (m_mt.cbFormat && m_mt.pbFormat) {
        pmt->pbFormat = (BYTE*)::CoTaskMemAlloc(m_mt.cbFormat);
        if (pmt->pbFormat == NULL) return E_OUTOFMEMORY;
        memcpy(pmt->pbFormat, m_mt.pbFormat, m_mt.cbFormat);
        pmt->cbFormat = m_mt.cbFormat;
    }
    if (pmt->pUnk) pmt->pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE* MediaType::NewCopy() const {
    AM_MEDIA_TYPE* pmt = (AM_MEDIA_TYPE*)::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE));
    if (pmt) CopyTo(pmt);
    return pmt;
}

MediaType VideoType(REFGUID subtype, int nWidth, int nHeight, REFGUID formattype, WORD nBitCount,
                    DWORD dwCompression) {
    AM_MEDIA_TYPE mt;
    ::ZeroMemory(&mt, sizeof(mt));
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = subtype;
    mt.bFixedSizeSamples = dwCompression == BI_RGB;
    mt.bTemporalCompression = dwCompression != BI_RGB;
    mt.lSampleSize = dwCompression == BI_RGB ? (ULONG)(nWidth * nHeight * nBitCount / 8) : 0;
    mt.formattype = formattype;

    BITMAPINFOHEADER bmi;
    ::ZeroMemory(&bmi, sizeof(bmi));
    bmi.biSize = sizeof(bmi);
    bmi.biWidth = nWidth;
    bmi.biHeight = nHeight;
    bmi.biPlanes = 1;
    bmi.biBitCount = nBitCount;
    bmi.biCompression = dwCompression;
    bmi.biSizeImage = mt.lSampleSize;

    MediaType out;
    if (formattype == FORMAT_VideoInfo2) {
        VIDEOINFOHEADER2 vih;
        ::ZeroMemory(&vih, sizeof(vih));
        vih.AvgTimePerFrame = 400000;
        vih.dwPictAspectRatioX = nWidth;
        vih.dwPictAspectRatioY = nHeight;
        vih.bmiHeader = bmi;
        mt.cbFormat = sizeof(vih);
        mt.pbFormat = (BYTE*)&vih;
        out.Assign(mt);
    } else {
        VIDEOINFOHEADER vih;
        ::ZeroMemory(&vih, sizeof(vih));
        vih.AvgTimePerFrame = 400000;
        vih.bmiHeader = bmi;
        mt.cbFormat = sizeof(vih);
        mt.pbFormat = (BYTE*)&vih;
        out.Assign(mt);
    }
    return out;
}

MediaType H264Type(int nWidth, int nHeight) {
    // FourCC 'H264'.
    static const GUID kSubtypeH264 = {0x34363248, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
    return VideoType(kSubtypeH264, nWidth, nHeight, FORMAT_VideoInfo, 24, MAKEFOURCC('H', '2', '6', '4'));
}

MediaType AudioType() {
    AM_MEDIA_TYPE mt;
    ::ZeroMemory(&mt, sizeof(mt));
    mt.majortype = MEDIATYPE_Audio;
    mt.subtype = MEDIASUBTYPE_PCM;
    mt.bFixedSizeSamples = TRUE;
    mt.lSampleSize = 4;
    mt.formattype = FORMAT_WaveFormatEx;
    WAVEFORMATEX wfx;
    ::ZeroMemory(&wfx, sizeof(wfx));
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = 2;
    wfx.nSamplesPerSec = 44100;
    wfx.wBitsPerSample = 16;
    wfx.nBlockAlign = 4;
    wfx.nAvgBytesPerSec = 44100 * 4;
    mt.cbFormat = sizeof(wfx);
    mt.pbFormat = (BYTE*)&wfx;
    return MediaType(mt);
}

MediaType BareType(REFGUID majortype, REFGUID subtype) {
    AM_MEDIA_TYPE mt;
    ::ZeroMemory(&mt, sizeof(mt));
    mt.majortype = majortype;
    mt.subtype = subtype;
    return MediaType(mt);
}

// ---------------------------------------------------------------------------------------
// Media type enumerator.

namespace {

class FakeEnumMediaTypes : public IEnumMediaTypes {
public:
    FakeEnumMediaTypes(const std::vector<MediaType>& types, int nFailAt, HRESULT hrFail)
        : m_cRef(1), m_types(types), m_nPos(0), m_nFailAt(nFailAt), m_hrFail(hrFail) {}
    FAKE_COM_UNKNOWN()
    void* QueryInterfaceImpl(REFIID riid) {
        if (riid == IID_IUnknown || riid == IID_IEnumMediaTypes) return static_cast<IEnumMediaTypes*>(this);
        return NULL;
    }
    STDMETHODIMP Next(ULONG cTypes, AM_MEDIA_TYPE** ppTypes, ULONG* pcFetched) override {
        if (ppTypes == NULL) return E_POINTER;
        ULONG n = 0;
        while (n < cTypes) {
            if ((int)m_nPos == m_nFailAt) {
                ++m_nPos;
                if (pcFetched) *pcFetched = n;
                return m_hrFail;
            }
            if (m_nPos >= m_types.size()) break;
            ppTypes[n++] = m_types[m_nPos++].NewCopy();
        }
        if (pcFetched) *pcFetched = n;
        return n == cTypes ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG c) override {
        m_nPos += c;
        return m_nPos <= m_types.size() ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        m_nPos = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumMediaTypes** ppEnum) override {
        if (ppEnum == NULL) return E_POINTER;
        FakeEnumMediaTypes* p = new FakeEnumMediaTypes(m_types, m_nFailAt, m_hrFail);
        p->m_nPos = m_nPos;
        *ppEnum = p;
        return S_OK;
    }

private:
    virtual ~FakeEnumMediaTypes() {}
    LONG m_cRef;
    std::vector<MediaType> m_types;
    size_t m_nPos;
    int m_nFailAt;
    HRESULT m_hrFail;
};

}  // namespace

CComPtr<IEnumMediaTypes> CreateMediaTypeEnum(const std::vector<MediaType>& types, int nFailAt, HRESULT hrFail) {
    CComPtr<IEnumMediaTypes> sp;
    sp.Attach(new FakeEnumMediaTypes(types, nFailAt, hrFail));
    return sp;
}

// ---------------------------------------------------------------------------------------
// Class factory and registration.

CComPtr<IClassFactory> FakeClassFactory::Create(Creator create, HRESULT hrFail) {
    CComPtr<IClassFactory> sp;
    sp.Attach(new FakeClassFactory(create, hrFail));
    return sp;
}

void* FakeClassFactory::QueryInterfaceImpl(REFIID riid) {
    if (riid == IID_IUnknown || riid == IID_IClassFactory) return static_cast<IClassFactory*>(this);
    return NULL;
}

STDMETHODIMP FakeClassFactory::CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) {
    if (ppv == NULL) return E_POINTER;
    *ppv = NULL;
    if (pOuter != NULL) return CLASS_E_NOAGGREGATION;
    if (FAILED(m_hrFail)) return m_hrFail;
    CComPtr<IUnknown> spObject = m_create ? m_create() : CComPtr<IUnknown>();
    if (!spObject) return E_OUTOFMEMORY;
    return spObject->QueryInterface(riid, ppv);
}

ClassRegistration::ClassRegistration(REFCLSID clsid, FakeClassFactory::Creator create)
    : m_dwCookie(0), m_hr(E_FAIL), m_pnCreated(std::make_shared<int>(0)) {
    Register(clsid, create, S_OK);
}

ClassRegistration::ClassRegistration(REFCLSID clsid, IUnknown* pSingleton)
    : m_dwCookie(0), m_hr(E_FAIL), m_pnCreated(std::make_shared<int>(0)) {
    CComPtr<IUnknown> spKeep(pSingleton);
    Register(clsid, [spKeep] { return spKeep; }, S_OK);
}

ClassRegistration::ClassRegistration(REFCLSID clsid, HRESULT hrFail)
    : m_dwCookie(0), m_hr(E_FAIL), m_pnCreated(std::make_shared<int>(0)) {
    Register(clsid, FakeClassFactory::Creator(), hrFail);
}

void ClassRegistration::Register(REFCLSID clsid, FakeClassFactory::Creator create, HRESULT hrFail) {
    std::shared_ptr<int> pnCreated = m_pnCreated;
    FakeClassFactory::Creator counted = [create, pnCreated]() {
        CComPtr<IUnknown> sp = create ? create() : CComPtr<IUnknown>();
        if (sp) ++*pnCreated;
        return sp;
    };
    CComPtr<IClassFactory> spFactory = FakeClassFactory::Create(counted, hrFail);
    m_hr = ::CoRegisterClassObject(clsid, spFactory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &m_dwCookie);
}

ClassRegistration::~ClassRegistration() {
    if (SUCCEEDED(m_hr)) ::CoRevokeClassObject(m_dwCookie);
}

// ---------------------------------------------------------------------------------------
// Labels.

std::wstring FilterName(IBaseFilter* pFilter) {
    if (pFilter == NULL) return L"(null)";
    FILTER_INFO info;
    ::ZeroMemory(&info, sizeof(info));
    if (FAILED(pFilter->QueryFilterInfo(&info))) return L"?";
    if (info.pGraph) info.pGraph->Release();
    info.achName[MAX_FILTER_NAME - 1] = 0;
    return info.achName;
}

std::wstring PinLabel(IPin* pPin) {
    if (pPin == NULL) return L"(null)";
    PIN_INFO info;
    ::ZeroMemory(&info, sizeof(info));
    if (FAILED(pPin->QueryPinInfo(&info))) return L"?.?";
    info.achName[MAX_PIN_NAME - 1] = 0;
    std::wstring s = FilterName(info.pFilter) + L"." + info.achName;
    if (info.pFilter) info.pFilter->Release();
    return s;
}
