// The camera's COM server: the device (registered in the video input device category), its
// second class for tests, and the property page.
#include "standins/camera/CameraFilter.h"
#include "standins/camera/CameraPage.h"

static const CKitFilterTemplate g_templates[] = {
    {&CLSID_TestPatternCamera, TEST_CAMERA_FRIENDLY_NAME, CCameraFilter::Create,
     &CLSID_VideoInputDeviceCategory, nullptr, TEST_CAMERA_FRIENDLY_NAME, nullptr},
};
static const int g_cTemplates = sizeof(g_templates) / sizeof(g_templates[0]);

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    KitCreateFn pfnCreate = nullptr;
    if (rclsid == CLSID_TestPatternCamera2) pfnCreate = CCameraFilter::Create2;
    if (rclsid == CLSID_TestPatternCameraPage) pfnCreate = CCameraPage::Create;
    if (!pfnCreate) return KitDllGetClassObject(g_templates, g_cTemplates, rclsid, riid, ppv);
    IClassFactory* pFactory = new CKitClassFactory(rclsid, pfnCreate);
    HRESULT hr = pFactory->QueryInterface(riid, ppv);
    pFactory->Release();
    return hr;
}

STDAPI DllCanUnloadNow() { return KitDllCanUnloadNow(); }

STDAPI DllRegisterServer() {
    HRESULT hr = KitDllRegisterServer(g_templates, g_cTemplates);
    if (SUCCEEDED(hr)) hr = KitRegisterClass(CLSID_TestPatternCamera2, TEST_CAMERA_FRIENDLY_NAME);
    if (SUCCEEDED(hr)) hr = KitRegisterClass(CLSID_TestPatternCameraPage, L"Test Pattern Camera Property Page");
    return hr;
}

STDAPI DllUnregisterServer() {
    RegisterSecondTestCamera(false);
    KitUnregisterClass(CLSID_TestPatternCamera2);
    KitUnregisterClass(CLSID_TestPatternCameraPage);
    return KitDllUnregisterServer(g_templates, g_cTemplates);
}
