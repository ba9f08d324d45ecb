// A fake system device enumerator with device monikers and property bags (see FakeCom.h).
//
//   CComPtr<FakeDeviceEnum> spDevices = FakeDeviceEnum::Create();
//   FakeMoniker* pCam = spDevices->AddDevice(L"USB Camera", spCameraFilter);
//   pCam->hrBindToObject = E_ACCESSDENIED;               // failures on demand
//   spDevices->hrCreateClassEnumerator = S_FALSE;         // the empty category's answer
//   ClassRegistration reg(CLSID_SystemDeviceEnum, static_cast<ICreateDevEnum*>(spDevices));
//
// Only the video input category has devices; other categories answer S_FALSE. Logged:
// "CreateClassEnumerator", "BindToObject <friendly name>".
#pragma once

#include "tests/support/fakes/FakeFilters.h"

class FakeMoniker : public IMoniker, public IPropertyBag {
public:
    FakeMoniker(const std::wstring& friendlyName, IBaseFilter* pFilter);
    FAKE_COM_UNKNOWN()
    void* QueryInterfaceImpl(REFIID riid);

    std::wstring friendlyName;
    CComPtr<IBaseFilter> filter;  // what BindToObject hands out
    HRESULT hrBindToStorage = S_OK;
    HRESULT hrRead = S_OK;
    HRESULT hrBindToObject = S_OK;
    bool nameAsNumber = false;  // FriendlyName comes back as VT_I4 instead of a string

    // IPersist / IPersistStream
    STDMETHODIMP GetClassID(CLSID* pClassID) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(IStream* pStm) override;
    STDMETHODIMP Save(IStream* pStm, BOOL fClearDirty) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* pcbSize) override;
    // IMoniker
    STDMETHODIMP BindToObject(IBindCtx* pbc, IMoniker* pmkToLeft, REFIID riidResult, void** ppvResult) override;
    STDMETHODIMP BindToStorage(IBindCtx* pbc, IMoniker* pmkToLeft, REFIID riid, void** ppvObj) override;
    STDMETHODIMP Reduce(IBindCtx*, DWORD, IMoniker**, IMoniker**) override;
    STDMETHODIMP ComposeWith(IMoniker*, BOOL, IMoniker**) override;
    STDMETHODIMP Enum(BOOL, IEnumMoniker**) override;
    STDMETHODIMP IsEqual(IMoniker*) override;
    STDMETHODIMP Hash(DWORD*) override;
    STDMETHODIMP IsRunning(IBindCtx*, IMoniker*, IMoniker*) override;
    STDMETHODIMP GetTimeOfLastChange(IBindCtx*, IMoniker*, FILETIME*) override;
    STDMETHODIMP Inverse(IMoniker**) override;
    STDMETHODIMP CommonPrefixWith(IMoniker*, IMoniker**) override;
    STDMETHODIMP RelativePathTo(IMoniker*, IMoniker**) override;
    STDMETHODIMP GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR*) override;
    STDMETHODIMP ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG*, IMoniker**) override;
    STDMETHODIMP IsSystemMoniker(DWORD*) override;
    // IPropertyBag (handed out by BindToStorage)
    STDMETHODIMP Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) override;
    STDMETHODIMP Write(LPCOLESTR pszPropName, VARIANT* pVar) override;

protected:
    virtual ~FakeMoniker() {}
    LONG m_cRef;
};

class FakeDeviceEnum : public ICreateDevEnum {
public:
    static CComPtr<FakeDeviceEnum> Create();
    FAKE_COM_UNKNOWN()
    void* QueryInterfaceImpl(REFIID riid);

    // Adds a video capture device; returns its moniker (owned by the enumerator).
    FakeMoniker* AddDevice(const std::wstring& friendlyName, IBaseFilter* pFilter);
    std::vector<CComPtr<FakeMoniker>> devices;
    HRESULT hrCreateClassEnumerator = S_OK;  // anything but S_OK is returned as is
    int devicesFailAt = -1;                  // the moniker enumeration fails here with hrDevicesFail
    HRESULT hrDevicesFail = E_UNEXPECTED;

    STDMETHODIMP CreateClassEnumerator(REFCLSID clsidDeviceClass, IEnumMoniker** ppEnumMoniker,
                                       DWORD dwFlags) override;

protected:
    FakeDeviceEnum() : m_cRef(1) {}
    virtual ~FakeDeviceEnum() {}
    LONG m_cRef;
};

// A capture-device filter as drivers make them: output pins "Capture" and "Preview" (both
// RGB32 video), the capture pin also reporting PIN_CATEGORY_CAPTURE.
CComPtr<FakeFilter> CreateFakeCaptureFilter();
