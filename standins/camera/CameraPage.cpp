#include "standins/camera/CameraPage.h"

#include "standins/camera/Pattern.h"

#include <vector>

namespace {

const SIZE kPageSize = {320, 110};  // pixels

// An in-memory dialog template: a child page with two labelled drop-down lists.
class CTemplate {
public:
    std::vector<WORD> w;
    void Word(WORD v) { w.push_back(v); }
    void Dword(DWORD v) { Word(LOWORD(v)), Word(HIWORD(v)); }
    void Text(const wchar_t* s) {
        do Word(*s); while (*s++);
    }
    void Align() {
        if (w.size() & 1) Word(0);
    }
    void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD cls,
              const wchar_t* text) {
        Align();
        Dword(style | WS_CHILD | WS_VISIBLE);
        Dword(0);
        Word(x), Word(y), Word(cx), Word(cy), Word(id);
        Word(0xFFFF), Word(cls);
        Text(text);
        Word(0);
    }
};

std::vector<WORD> PageTemplate() {
    CTemplate t;
    t.Dword(WS_CHILD | DS_CONTROL | DS_SETFONT);
    t.Dword(0);
    t.Word(4);  // items
    t.Word(0), t.Word(0), t.Word(200), t.Word(60);
    t.Word(0), t.Word(0);  // no menu, default class
    t.Text(L"");
    t.Word(8);
    t.Text(L"MS Shell Dlg");
    t.Item(SS_LEFT, 8, 10, 50, 10, 0xFFFF, 0x0082, L"Pattern:");
    t.Item(CBS_DROPDOWNLIST | WS_TABSTOP | WS_VSCROLL, 60, 8, 130, 80, IDC_CAMERA_PATTERN, 0x0085, L"");
    t.Item(SS_LEFT, 8, 30, 50, 10, 0xFFFF, 0x0082, L"Size:");
    t.Item(CBS_DROPDOWNLIST | WS_TABSTOP | WS_VSCROLL, 60, 28, 130, 80, IDC_CAMERA_FORMAT, 0x0085, L"");
    return t.w;
}

LPOLESTR CoString(const wchar_t* s) {
    size_t cb = (wcslen(s) + 1) * sizeof(wchar_t);
    auto* p = (LPOLESTR)::CoTaskMemAlloc(cb);
    if (p) memcpy(p, s, cb);
    return p;
}

}  // namespace

CKitUnknown* CCameraPage::Create(IUnknown* pOuter, HRESULT* phr) {
    if (pOuter) {
        *phr = CLASS_E_NOAGGREGATION;
        return nullptr;
    }
    *phr = S_OK;
    return new CCameraPage();
}

CCameraPage::CCameraPage() : CKitUnknown(nullptr) {}

CCameraPage::~CCameraPage() {
    if (m_hWnd) ::DestroyWindow(m_hWnd);
    if (m_pCamera) m_pCamera->Release();
    if (m_pSite) m_pSite->Release();
}

HRESULT STDMETHODCALLTYPE CCameraPage::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IPropertyPage) return GetInterface(static_cast<IPropertyPage*>(this), ppv);
    return CKitUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CCameraPage::SetPageSite(IPropertyPageSite* pPageSite) {
    if (pPageSite && m_pSite) return E_UNEXPECTED;
    if (m_pSite) m_pSite->Release();
    m_pSite = pPageSite;
    if (m_pSite) m_pSite->AddRef();
    return S_OK;
}

STDMETHODIMP CCameraPage::Activate(HWND hWndParent, LPCRECT pRect, BOOL) {
    if (!pRect) return E_POINTER;
    if (m_hWnd) return E_UNEXPECTED;
    std::vector<WORD> tmpl = PageTemplate();
    m_hWnd = ::CreateDialogIndirectParamW(KitModule(), (LPCDLGTEMPLATEW)tmpl.data(), hWndParent,
                                          DialogProc, (LPARAM)this);
    if (!m_hWnd) return HRESULT_FROM_WIN32(::GetLastError());
    Fill();
    Move(pRect);
    return S_OK;
}

STDMETHODIMP CCameraPage::Deactivate() {
    if (!m_hWnd) return E_UNEXPECTED;
    ::DestroyWindow(m_hWnd);
    m_hWnd = NULL;
    return S_OK;
}

STDMETHODIMP CCameraPage::GetPageInfo(PROPPAGEINFO* pPageInfo) {
    if (!pPageInfo) return E_POINTER;
    pPageInfo->cb = sizeof *pPageInfo;
    pPageInfo->pszTitle = CoString(L"Test Pattern");
    pPageInfo->size = kPageSize;
    pPageInfo->pszDocString = nullptr;
    pPageInfo->pszHelpFile = nullptr;
    pPageInfo->dwHelpContext = 0;
    return pPageInfo->pszTitle ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CCameraPage::SetObjects(ULONG cObjects, IUnknown** ppUnk) {
    if (cObjects && !ppUnk) return E_POINTER;
    if (m_pCamera) m_pCamera->Release();
    m_pCamera = nullptr;
    for (ULONG i = 0; i < cObjects && !m_pCamera; ++i)
        if (ppUnk[i]) ppUnk[i]->QueryInterface(__uuidof(ITestPatternCamera), (void**)&m_pCamera);
    if (cObjects && !m_pCamera) return E_NOINTERFACE;
    if (m_hWnd) Fill();
    return S_OK;
}

STDMETHODIMP CCameraPage::Show(UINT nCmdShow) {
    if (!m_hWnd) return E_UNEXPECTED;
    ::ShowWindow(m_hWnd, nCmdShow);
    return S_OK;
}

STDMETHODIMP CCameraPage::Move(LPCRECT pRect) {
    if (!pRect) return E_POINTER;
    if (!m_hWnd) return E_UNEXPECTED;
    ::MoveWindow(m_hWnd, pRect->left, pRect->top, pRect->right - pRect->left,
                 pRect->bottom - pRect->top, TRUE);
    return S_OK;
}

STDMETHODIMP CCameraPage::IsPageDirty() { return m_bDirty ? S_OK : S_FALSE; }

STDMETHODIMP CCameraPage::Apply() {
    if (!m_bDirty) return S_OK;
    if (!m_pCamera || !m_hWnd) return E_UNEXPECTED;
    int ePattern = (int)::SendDlgItemMessageW(m_hWnd, IDC_CAMERA_PATTERN, CB_GETCURSEL, 0, 0);
    int iFormat = (int)::SendDlgItemMessageW(m_hWnd, IDC_CAMERA_FORMAT, CB_GETCURSEL, 0, 0);
    HRESULT hr = ePattern >= 0 ? m_pCamera->SetPattern(ePattern) : S_OK;
    int iCurrent = -1;
    if (SUCCEEDED(hr) && iFormat >= 0 && SUCCEEDED(m_pCamera->GetFormat(&iCurrent)) &&
        iFormat != iCurrent)
        hr = m_pCamera->SetFormat(iFormat);
    // Show what the camera really uses (a format change is refused while connected).
    Fill();
    return hr;
}

STDMETHODIMP CCameraPage::Help(LPCOLESTR) { return E_NOTIMPL; }

STDMETHODIMP CCameraPage::TranslateAccelerator(MSG* pMsg) {
    if (!pMsg) return E_POINTER;
    return m_hWnd && ::IsDialogMessageW(m_hWnd, pMsg) ? S_OK : S_FALSE;
}

void CCameraPage::Fill() {
    HWND hPattern = ::GetDlgItem(m_hWnd, IDC_CAMERA_PATTERN);
    HWND hFormat = ::GetDlgItem(m_hWnd, IDC_CAMERA_FORMAT);
    ::SendMessageW(hPattern, CB_RESETCONTENT, 0, 0);
    ::SendMessageW(hFormat, CB_RESETCONTENT, 0, 0);
    for (const wchar_t* psz : g_rgszPatternNames) ::SendMessageW(hPattern, CB_ADDSTRING, 0, (LPARAM)psz);
    int ePattern = 0, iFormat = 0, cFormats = 0;
    if (m_pCamera) {
        m_pCamera->GetPattern(&ePattern);
        m_pCamera->GetFormat(&iFormat);
        m_pCamera->GetFormatCount(&cFormats);
    }
    for (int i = 0; i < cFormats; ++i) {
        wchar_t sz[64];
        if (SUCCEEDED(m_pCamera->GetFormatText(i, sz, 64)))
            ::SendMessageW(hFormat, CB_ADDSTRING, 0, (LPARAM)sz);
    }
    ::SendMessageW(hPattern, CB_SETCURSEL, ePattern, 0);
    ::SendMessageW(hFormat, CB_SETCURSEL, iFormat, 0);
    m_bDirty = false;
}

void CCameraPage::Changed() {
    // A change takes effect at once, as with a camera's own controls; the platform's
    // property frame here never calls Apply.
    m_bDirty = true;
    Apply();
    if (m_pSite) m_pSite->OnStatusChange(PROPPAGESTATUS_VALIDATE);
}

INT_PTR CALLBACK CCameraPage::DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg == WM_INITDIALOG) {
        ::SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        return TRUE;
    }
    auto* pThis = (CCameraPage*)::GetWindowLongPtrW(hWnd, DWLP_USER);
    if (pThis && uMsg == WM_COMMAND && HIWORD(wParam) == CBN_SELCHANGE) {
        pThis->Changed();
        return TRUE;
    }
    return FALSE;
}
