#include "tests/support/fakes/FakeDevices.h"

#include <uuids.h>

FakeMoniker::FakeMoniker(const std::wstring& name, IBaseFilter* pFilter)
    : friendlyName(name), filter(pFilter), m_cRef(1) {}

void* FakeMoniker::QueryInterfaceImpl(REFIID riid) {
    if (riid == IID_IUnknown || riid == IID_IMoniker || riid == IID_IPersistStream || riid == IID_IPersist)
        return static_cast<IMoniker*>(this);
    return NULL;
}

STDMETHODIMP FakeMoniker::GetClassID(CLSID* p) {
    if (p) *p = GUID_NULL;
    return E_NOTIMPL;
}
STDMETHODIMP FakeMoniker::IsDirty() { return S_FALSE; }
STDMETHODIMP FakeMoniker::Load(IStream*) { return E_NOTIMPL; }
STDMETHODIMP FakeMoniker::Save(IStream*, BOOL) { return E_NOTIMPL; }
STDMETHODIMP FakeMoniker::GetSizeMax(ULARGE_INTEGER*) { return E_NOTIMPL; }

STDMETHODIMP FakeMoniker::BindToObject(IBindCtx*, IMoniker*, REFIID riidResult, void** ppvResult) {
    CallLog().Add(L"BindToObject " + friendlyName);
    if (ppvResult == NULL) return E_POINTER;
    *ppvResult = NULL;
    if (FAILED(hrBindToObject)) return hrBindToObject;
    if (!filter) return E_NOINTERFACE;
    return filter->QueryInterface(riidResult, ppvResult);
}

STDMETHODIMP FakeMoniker::BindToStorage(IBindCtx*, IMoniker*, REFIID riid, void** ppvObj) {
    if (ppvObj == NULL) return E_POINTER;
    *ppvObj = NULL;
    if (FAILED(hrBindToStorage)) return hrBindToStorage;
    if (riid != IID_IPropertyBag) return E_NOINTERFACE;
    *ppvObj = static_cast<IPropertyBag*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP FakeMoniker::Reduce(IBindCtx*, DWORD, IMoniker**, IMoniker**) { return E_NOTIMPL; }
STDMETHODIMP FakeMoniker::ComposeWith(IMoniker*, BOOL, IMoniker**) { return E_NOTIMPL; }
STDMETHODIMP FakeMoniker::Enum(BOOL, IEnumMoniker** pp) {
    if (pp) *pp = NULL;
    return S_OK;
}
STDMETHODIMP FakeMoniker::IsEqual(IMoniker* p) { return p == static_cast<IMoniker*>(this) ? S_OK : S_FALSE; }
STDMETHODIMP FakeMoniker::Hash(DWORD* p) {
    if (p) *p = 0;
    return S_OK;
}
STDMETHODIMP FakeMoniker::IsRunning(IBindCtx*, IMoniker*, IMoniker*) { return S_FALSE; }
STDMETHODIMP FakeMoniker::GetTimeOfLastChange(IBindCtx*, IMoniker*, FILETIME*) { return E_NOTIMPL; }
STDMETHODIMP FakeMoniker::Inverse(IMoniker**) { return E_NOTIMPL; }
STDMETHODIMP FakeMoniker::CommonPrefixWith(IMoniker*, IMoniker**) { return E_NOTIMPL; }
STDMETHODIMP FakeMoniker::RelativePathTo(IMoniker*, IMoniker**) { return E_NOTIMPL; }
STDMETHODIMP FakeMoniker::GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR*) { return E_NOTIMPL; }
STDMETHODIMP FakeMoniker::ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG*, IMoniker**) { return E_NOTIMPL; }
STDMETHODIMP FakeMoniker::IsSystemMoniker(DWORD* p) {
    if (p) *p = MKSYS_NONE;
    return S_FALSE;
}

STDMETHODIMP FakeMoniker::Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog*) {
    if (pszPropName == NULL || pVar == NULL) return E_POINTER;
    if (FAILED(hrRead)) return hrRead;
    if (lstrcmpW(pszPropName, L"FriendlyName") != 0) return E_INVALIDARG;
    ::VariantClear(pVar);
    if (nameAsNumber) {
        pVar->vt = VT_I4;
        pVar->lVal = 7;
    } else {
        pVar->vt = VT_BSTR;
        pVar->bstrVal = ::SysAllocString(friendlyName.c_str());
    }
    return S_OK;
}

STDMETHODIMP FakeMoniker::Write(LPCOLESTR, VARIANT*) { return E_NOTIMPL; }

// ---------------------------------------------------------------------------------------

CComPtr<FakeDeviceEnum> FakeDeviceEnum::Create() {
    CComPtr<FakeDeviceEnum> sp;
    sp.Attach(new FakeDeviceEnum());
    return sp;
}

void* FakeDeviceEnum::QueryInterfaceImpl(REFIID riid) {
    if (riid == IID_IUnknown || riid == IID_ICreateDevEnum) return static_cast<ICreateDevEnum*>(this);
    return NULL;
}

FakeMoniker* FakeDeviceEnum::AddDevice(const std::wstring& friendlyName, IBaseFilter* pFilter) {
    CComPtr<FakeMoniker> sp;
    sp.Attach(new FakeMoniker(friendlyName, pFilter));
    devices.push_back(sp);
    return sp;
}

STDMETHODIMP FakeDeviceEnum::CreateClassEnumerator(REFCLSID clsidDeviceClass, IEnumMoniker** ppEnumMoniker,
                                                   DWORD) {
    CallLog().Add(L"CreateClassEnumerator");
    if (ppEnumMoniker == NULL) return E_POINTER;
    *ppEnumMoniker = NULL;
    if (hrCreateClassEnumerator != S_OK) return hrCreateClassEnumerator;
    if (clsidDeviceClass != CLSID_VideoInputDeviceCategory || devices.empty()) return S_FALSE;
    std::vector<CComPtr<IMoniker>> items;
    for (const auto& sp : devices) items.push_back(CComPtr<IMoniker>(static_cast<IMoniker*>(sp.p)));
    *ppEnumMoniker = FakeEnum<IEnumMoniker, IMoniker>::Create(items, devicesFailAt, hrDevicesFail).Detach();
    return S_OK;
}

CComPtr<FakeFilter> CreateFakeCaptureFilter() {
    CComPtr<FakeFilter> sp = FakeFilter::Create();
    MediaType video = VideoType(MEDIASUBTYPE_RGB32, 320, 240);
    FakePin* pCapture = sp->AddPin(L"Capture", PINDIR_OUTPUT, {video});
    pCapture->hasKsPropertySet = true;
    pCapture->category = PIN_CATEGORY_CAPTURE;
    FakePin* pPreview = sp->AddPin(L"Preview", PINDIR_OUTPUT, {video});
    pPreview->hasKsPropertySet = true;
    pPreview->category = PIN_CATEGORY_PREVIEW;
    return sp;
}
