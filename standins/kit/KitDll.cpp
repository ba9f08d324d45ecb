// Filter DLL exports, registration and the worker thread of the filter kit.
#include "standins/kit/FilterKit.h"

#include <cwchar>

namespace {

std::wstring GuidText(REFGUID guid) {
    wchar_t sz[64] = {};
    ::StringFromGUID2(guid, sz, 64);
    return sz;
}

LONG SetString(HKEY hKey, const wchar_t* pszName, const std::wstring& value) {
    return ::RegSetValueExW(hKey, pszName, 0, REG_SZ, (const BYTE*)value.c_str(),
                            (DWORD)((value.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

HMODULE KitModule() {
    HMODULE hModule = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         (LPCWSTR)&KitModule, &hModule);
    return hModule;
}

HRESULT KitRegisterClass(REFCLSID clsid, const wchar_t* pszName) {
    wchar_t szPath[MAX_PATH] = {};
    if (!::GetModuleFileNameW(KitModule(), szPath, MAX_PATH)) return HRESULT_FROM_WIN32(::GetLastError());
    std::wstring key = L"CLSID\\" + GuidText(clsid);
    HKEY hClass = nullptr, hServer = nullptr;
    LONG lr = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &hClass, nullptr);
    if (lr != ERROR_SUCCESS) return HRESULT_FROM_WIN32(lr);
    lr = SetString(hClass, nullptr, pszName ? pszName : L"");
    if (lr == ERROR_SUCCESS)
        lr = ::RegCreateKeyExW(hClass, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &hServer, nullptr);
    if (lr == ERROR_SUCCESS) {
        lr = SetString(hServer, nullptr, szPath);
        if (lr == ERROR_SUCCESS) lr = SetString(hServer, L"ThreadingModel", L"Both");
        ::RegCloseKey(hServer);
    }
    ::RegCloseKey(hClass);
    return HRESULT_FROM_WIN32(lr);
}

HRESULT KitUnregisterClass(REFCLSID clsid) {
    std::wstring key = L"CLSID\\" + GuidText(clsid);
    LONG lr = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    if (lr == ERROR_FILE_NOT_FOUND) return S_FALSE;
    return HRESULT_FROM_WIN32(lr);
}

HRESULT KitRegisterFilter(REFCLSID clsid, const wchar_t* pszFriendlyName, const GUID* pCategory,
                          const wchar_t* pszInstance, const REGFILTER2* pRegFilter) {
    IFilterMapper2* pMapper = nullptr;
    HRESULT hr = ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                    (void**)&pMapper);
    if (FAILED(hr)) return hr;
    REGFILTER2 rfDefault = {};
    rfDefault.dwVersion = 1;
    rfDefault.dwMerit = MERIT_DO_NOT_USE;
    hr = pMapper->RegisterFilter(clsid, pszFriendlyName, nullptr,
                                 pCategory ? pCategory : &CLSID_LegacyAmFilterCategory, pszInstance,
                                 pRegFilter ? pRegFilter : &rfDefault);
    pMapper->Release();
    return hr;
}

HRESULT KitUnregisterFilter(REFCLSID clsid, const GUID* pCategory, const wchar_t* pszInstance) {
    IFilterMapper2* pMapper = nullptr;
    HRESULT hr = ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                    (void**)&pMapper);
    if (FAILED(hr)) return hr;
    hr = pMapper->UnregisterFilter(pCategory ? pCategory : &CLSID_LegacyAmFilterCategory, pszInstance, clsid);
    pMapper->Release();
    return hr;
}

HRESULT KitDllGetClassObject(const CKitFilterTemplate* pTemplates, int cTemplates, REFCLSID rclsid,
                             REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    for (int i = 0; i < cTemplates; ++i) {
        if (*pTemplates[i].pClsid == rclsid && pTemplates[i].pfnCreate) {
            auto* pFactory = new CKitClassFactory(rclsid, pTemplates[i].pfnCreate);
            *ppv = static_cast<IClassFactory*>(pFactory);
            return S_OK;
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT KitDllCanUnloadNow() { return KitObjectCount() == 0 ? S_OK : S_FALSE; }

HRESULT KitDllRegisterServer(const CKitFilterTemplate* pTemplates, int cTemplates) {
    HRESULT hrInit = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HRESULT hr = S_OK;
    for (int i = 0; i < cTemplates && SUCCEEDED(hr); ++i) {
        const CKitFilterTemplate& t = pTemplates[i];
        hr = KitRegisterClass(*t.pClsid, t.pszName);
        if (SUCCEEDED(hr))
            hr = KitRegisterFilter(*t.pClsid, t.pszFriendlyName ? t.pszFriendlyName : t.pszName, t.pCategory,
                                   t.pszInstance, t.pRegFilter);
    }
    if (SUCCEEDED(hrInit)) ::CoUninitialize();
    return SUCCEEDED(hr) ? S_OK : hr;
}

HRESULT KitDllUnregisterServer(const CKitFilterTemplate* pTemplates, int cTemplates) {
    HRESULT hrInit = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    for (int i = 0; i < cTemplates; ++i) {
        const CKitFilterTemplate& t = pTemplates[i];
        KitUnregisterFilter(*t.pClsid, t.pCategory, t.pszInstance);
        KitUnregisterClass(*t.pClsid);
    }
    if (SUCCEEDED(hrInit)) ::CoUninitialize();
    return S_OK;
}

// --- CKitWorker ----------------------------------------------------------------------------

CKitWorker::CKitWorker() : m_hThread(NULL), m_hStop(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CKitWorker::~CKitWorker() {
    Stop();
    ::CloseHandle(m_hStop);
}

HRESULT CKitWorker::Start(std::function<bool()> body) {
    if (m_hThread) return E_UNEXPECTED;
    ::ResetEvent(m_hStop);
    m_body = std::move(body);
    m_hThread = ::CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
    return m_hThread ? S_OK : HRESULT_FROM_WIN32(::GetLastError());
}

void CKitWorker::Stop() {
    if (!m_hThread) return;
    ::SetEvent(m_hStop);
    ::WaitForSingleObject(m_hThread, INFINITE);
    ::CloseHandle(m_hThread);
    m_hThread = NULL;
}

bool CKitWorker::StopRequested() const { return ::WaitForSingleObject(m_hStop, 0) == WAIT_OBJECT_0; }

bool CKitWorker::WaitForStop(DWORD ms) const { return ::WaitForSingleObject(m_hStop, ms) == WAIT_OBJECT_0; }

DWORD WINAPI CKitWorker::ThreadProc(LPVOID pv) {
    auto* self = static_cast<CKitWorker*>(pv);
    HRESULT hrInit = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    while (!self->StopRequested() && self->m_body()) {
    }
    if (SUCCEEDED(hrInit)) ::CoUninitialize();
    return 0;
}
