#include "standins/camera/TestPatternCamera.h"
#include "standins/kit/FilterKit.h"

HRESULT RegisterSecondTestCamera(bool bRegister) {
    static const wchar_t kInstance[] = L"Test Pattern Camera #2";
    if (!bRegister)
        return KitUnregisterFilter(CLSID_TestPatternCamera2, &CLSID_VideoInputDeviceCategory, kInstance);
    return KitRegisterFilter(CLSID_TestPatternCamera2, TEST_CAMERA_FRIENDLY_NAME,
                             &CLSID_VideoInputDeviceCategory, kInstance, nullptr);
}
