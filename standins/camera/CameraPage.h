// The camera's property page: pattern and picture format.
#pragma once

#include "standins/camera/TestPatternCamera.h"
#include "standins/kit/FilterKit.h"

#include <olectl.h>

enum {
    IDC_CAMERA_PATTERN = 1001,
    IDC_CAMERA_FORMAT = 1002,
};

class CCameraPage : public CKitUnknown, public IPropertyPage {
public:
    static CKitUnknown* Create(IUnknown* pOuter, HRESULT* phr);
    CCameraPage();
    ~CCameraPage() override;

    KIT_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    STDMETHODIMP SetPageSite(IPropertyPageSite* pPageSite) override;
    STDMETHODIMP Activate(HWND hWndParent, LPCRECT pRect, BOOL bModal) override;
    STDMETHODIMP Deactivate() override;
    STDMETHODIMP GetPageInfo(PROPPAGEINFO* pPageInfo) override;
    STDMETHODIMP SetObjects(ULONG cObjects, IUnknown** ppUnk) override;
    STDMETHODIMP Show(UINT nCmdShow) override;
    STDMETHODIMP Move(LPCRECT pRect) override;
    STDMETHODIMP IsPageDirty() override;
    STDMETHODIMP Apply() override;
    STDMETHODIMP Help(LPCOLESTR pszHelpDir) override;
    STDMETHODIMP TranslateAccelerator(MSG* pMsg) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    void Fill();
    void Changed();

    IPropertyPageSite* m_pSite = nullptr;
    ITestPatternCamera* m_pCamera = nullptr;
    HWND m_hWnd = NULL;
    bool m_bDirty = false;
};
