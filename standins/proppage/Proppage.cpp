// The property-page server: an in-process COM server with one property page that shows a
// filter's pins, their connections and media types.
#include <windows.h>
#include <olectl.h>

#include <new>
#include <string>

#include "standins/media/MediaType.h"
#include "standins/proppage/Proppage.h"

namespace {

HINSTANCE g_hInstance = NULL;
LONG g_cObjects = 0;
LONG g_cLocks = 0;

const wchar_t kClassKey[] = L"CLSID\\{29E07010-BD27-11CE-AB59-00AA00577DA1}";
const wchar_t kPageTitle[] = L"Pins";
const SIZE kPageSize = {360, 220};

std::wstring PinsText(IBaseFilter* pFilter) {
    if (pFilter == NULL) return L"No filter.";
    std::wstring s = pintext::FilterName(pFilter) + L"\r\n";
    IEnumPins* pEnum = NULL;
    if (FAILED(pFilter->EnumPins(&pEnum)) || pEnum == NULL) return s + L"The pins can't be listed.\r\n";
    IPin* pPin = NULL;
    // The count is asked for: a proxy does not accept a null one.
    ULONG cFetched = 0;
    while (pEnum->Next(1, &pPin, &cFetched) == S_OK && cFetched == 1) {
        std::wstring line;
        if (SUCCEEDED(pintext::PinText(pPin, &line))) s += L"  " + line + L"\r\n";
        // The types an unconnected pin offers.
        IPin* pPeer = NULL;
        if (pPin->ConnectedTo(&pPeer) == S_OK && pPeer != NULL) {
            pPeer->Release();
        } else {
            IEnumMediaTypes* pTypes = NULL;
            if (SUCCEEDED(pPin->EnumMediaTypes(&pTypes)) && pTypes != NULL) {
                AM_MEDIA_TYPE* pmt = NULL;
                ULONG cTypes = 0;
                while (pTypes->Next(1, &pmt, &cTypes) == S_OK && cTypes == 1) {
                    s += L"      offers " + pintext::MediaTypeText(*pmt) + L"\r\n";
                    media::DeleteMediaType(pmt);
                    pmt = NULL;
                }
                pTypes->Release();
            }
        }
        pPin->Release();
    }
    pEnum->Release();
    return s;
}

class CPinsPage : public IPropertyPage {
public:
    CPinsPage() : m_cRef(1), m_pSite(NULL), m_pFilter(NULL), m_hWnd(NULL) { ::InterlockedIncrement(&g_cObjects); }
    virtual ~CPinsPage() {
        if (m_hWnd != NULL) ::DestroyWindow(m_hWnd);
        if (m_pFilter != NULL) m_pFilter->Release();
        if (m_pSite != NULL) m_pSite->Release();
        ::InterlockedDecrement(&g_cObjects);
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == NULL) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPropertyPage)) {
            *ppv = static_cast<IPropertyPage*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = NULL;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ::InterlockedIncrement(&m_cRef); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = ::InterlockedDecrement(&m_cRef);
        if (n == 0) delete this;
        return n;
    }

    STDMETHODIMP SetPageSite(IPropertyPageSite* pSite) override {
        if (pSite != NULL && m_pSite != NULL) return E_UNEXPECTED;
        if (m_pSite != NULL) m_pSite->Release();
        m_pSite = pSite;
        if (m_pSite != NULL) m_pSite->AddRef();
        return S_OK;
    }
    STDMETHODIMP Activate(HWND hWndParent, LPCRECT pRect, BOOL /*bModal*/) override {
        if (pRect == NULL) return E_POINTER;
        if (m_hWnd != NULL) return E_UNEXPECTED;
        m_hWnd = ::CreateWindowExW(WS_EX_CLIENTEDGE, L"Edit", L"",
                                   WS_CHILD | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY |
                                       ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                                   pRect->left, pRect->top, pRect->right - pRect->left, pRect->bottom - pRect->top,
                                   hWndParent, (HMENU)(INT_PTR)IDC_PINS_TEXT, g_hInstance, NULL);
        if (m_hWnd == NULL) return HRESULT_FROM_WIN32(::GetLastError());
        ::SendMessageW(m_hWnd, WM_SETFONT, (WPARAM)::GetStockObject(DEFAULT_GUI_FONT), FALSE);
        ::SetWindowTextW(m_hWnd, PinsText(m_pFilter).c_str());
        return S_OK;
    }
    STDMETHODIMP Deactivate() override {
        if (m_hWnd == NULL) return E_UNEXPECTED;
        ::DestroyWindow(m_hWnd);
        m_hWnd = NULL;
        return S_OK;
    }
    STDMETHODIMP GetPageInfo(PROPPAGEINFO* pInfo) override {
        if (pInfo == NULL) return E_POINTER;
        LPOLESTR pszTitle = (LPOLESTR)::CoTaskMemAlloc(sizeof(kPageTitle));
        if (pszTitle == NULL) return E_OUTOFMEMORY;
        memcpy(pszTitle, kPageTitle, sizeof(kPageTitle));
        pInfo->cb = sizeof(PROPPAGEINFO);
        pInfo->pszTitle = pszTitle;
        pInfo->size = kPageSize;
        pInfo->pszDocString = NULL;
        pInfo->pszHelpFile = NULL;
        pInfo->dwHelpContext = 0;
        return S_OK;
    }
    STDMETHODIMP SetObjects(ULONG cObjects, IUnknown** ppUnk) override {
        if (m_pFilter != NULL) {
            m_pFilter->Release();
            m_pFilter = NULL;
        }
        if (cObjects == 0) return S_OK;
        if (ppUnk == NULL || ppUnk[0] == NULL) return E_POINTER;
        HRESULT hr = ppUnk[0]->QueryInterface(IID_IBaseFilter, (void**)&m_pFilter);
        if (FAILED(hr)) return hr;
        if (m_hWnd != NULL) ::SetWindowTextW(m_hWnd, PinsText(m_pFilter).c_str());
        return S_OK;
    }
    STDMETHODIMP Show(UINT nCmdShow) override {
        if (m_hWnd == NULL) return E_UNEXPECTED;
        ::ShowWindow(m_hWnd, nCmdShow);
        return S_OK;
    }
    STDMETHODIMP Move(LPCRECT pRect) override {
        if (pRect == NULL) return E_POINTER;
        if (m_hWnd == NULL) return E_UNEXPECTED;
        ::MoveWindow(m_hWnd, pRect->left, pRect->top, pRect->right - pRect->left, pRect->bottom - pRect->top, TRUE);
        return S_OK;
    }
    STDMETHODIMP IsPageDirty() override { return S_FALSE; }  // the page only shows
    STDMETHODIMP Apply() override { return S_OK; }
    STDMETHODIMP Help(LPCOLESTR) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(MSG*) override { return S_FALSE; }

private:
    LONG m_cRef;
    IPropertyPageSite* m_pSite;
    IBaseFilter* m_pFilter;
    HWND m_hWnd;
};

class CFactory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == NULL) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = NULL;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override {
        if (ppv == NULL) return E_POINTER;
        *ppv = NULL;
        if (pOuter != NULL) return CLASS_E_NOAGGREGATION;
        CPinsPage* pPage = new (std::nothrow) CPinsPage;
        if (pPage == NULL) return E_OUTOFMEMORY;
        HRESULT hr = pPage->QueryInterface(riid, ppv);
        pPage->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL bLock) override {
        if (bLock)
            ::InterlockedIncrement(&g_cLocks);
        else
            ::InterlockedDecrement(&g_cLocks);
        return S_OK;
    }
};

CFactory g_factory;

LONG SetString(HKEY hKey, LPCWSTR pszName, LPCWSTR pszValue) {
    return ::RegSetValueExW(hKey, pszName, 0, REG_SZ, (const BYTE*)pszValue,
                            (DWORD)((lstrlenW(pszValue) + 1) * sizeof(WCHAR)));
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID) {
    if (dwReason == DLL_PROCESS_ATTACH) {
        g_hInstance = hInstance;
        ::DisableThreadLibraryCalls(hInstance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (ppv == NULL) return E_POINTER;
    *ppv = NULL;
    if (!IsEqualCLSID(rclsid, CLSID_PinsPropertyPage)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() { return (g_cObjects == 0 && g_cLocks == 0) ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
    wchar_t szPath[MAX_PATH];
    DWORD n = ::GetModuleFileNameW(g_hInstance, szPath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return SELFREG_E_CLASS;
    HKEY hClass = NULL;
    HKEY hServer = NULL;
    LONG l = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, kClassKey, 0, NULL, 0, KEY_WRITE, NULL, &hClass, NULL);
    if (l == ERROR_SUCCESS) l = SetString(hClass, NULL, L"Pins Property Page");
    if (l == ERROR_SUCCESS)
        l = ::RegCreateKeyExW(hClass, L"InprocServer32", 0, NULL, 0, KEY_WRITE, NULL, &hServer, NULL);
    if (l == ERROR_SUCCESS) l = SetString(hServer, NULL, szPath);
    if (l == ERROR_SUCCESS) l = SetString(hServer, L"ThreadingModel", L"Both");
    if (hServer != NULL) ::RegCloseKey(hServer);
    if (hClass != NULL) ::RegCloseKey(hClass);
    return l == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer() {
    LONG l = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey);
    return (l == ERROR_SUCCESS || l == ERROR_FILE_NOT_FOUND) ? S_OK : SELFREG_E_CLASS;
}
