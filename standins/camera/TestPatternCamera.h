// The test-pattern capture device: a live source in the video input device category
// ("Test Pattern Camera") with a "Capture" and a "Preview" pin delivering YUY2 frames of a
// moving pattern in real time, sized through IAMStreamConfig, with a property page.
#pragma once

#include "graph/DShow.h"

// {FE33BD80-01AD-425F-9910-2CCEC108D2DC}
constexpr CLSID CLSID_TestPatternCamera =
    {0xfe33bd80, 0x01ad, 0x425f, {0x99, 0x10, 0x2c, 0xce, 0xc1, 0x08, 0xd2, 0xdc}};
// The same device under a second class, registered as a class only. Tests add it to the
// category under the same friendly name (RegisterSecondTestCamera) to have two devices of
// one name that can be told apart.
// {446B08F3-DA3E-4A18-A865-95AF3FA4FA47}
constexpr CLSID CLSID_TestPatternCamera2 =
    {0x446b08f3, 0xda3e, 0x4a18, {0xa8, 0x65, 0x95, 0xaf, 0x3f, 0xa4, 0xfa, 0x47}};
// The property page.
// {D88C3794-78FF-43DC-9C35-A6608A7A1E59}
constexpr CLSID CLSID_TestPatternCameraPage =
    {0xd88c3794, 0x78ff, 0x43dc, {0x9c, 0x35, 0xa6, 0x60, 0x8a, 0x7a, 0x1e, 0x59}};

#define TEST_CAMERA_FRIENDLY_NAME L"Test Pattern Camera"

// The camera's own settings, used by its property page.
MIDL_INTERFACE("7429CB1D-B5FD-4834-92A7-60D64EBB80DA")
ITestPatternCamera : public IUnknown {
public:
    // Pattern: CAMERA_PATTERN_* (Pattern.h); changes at any time.
    virtual HRESULT STDMETHODCALLTYPE GetPattern(int* pePattern) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPattern(int ePattern) = 0;
    // Formats offered (IAMStreamConfig's capabilities) and the one in use; the format can
    // change only while no pin is connected (VFW_E_ALREADY_CONNECTED otherwise).
    virtual HRESULT STDMETHODCALLTYPE GetFormatCount(int* pnCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFormatText(int iFormat, LPWSTR pszText, int cch) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFormat(int* piFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFormat(int iFormat) = 0;
    // Frames delivered on the "Capture" pin since the graph started.
    virtual HRESULT STDMETHODCALLTYPE GetFramesDelivered(LONG* pnFrames) = 0;
};
__CRT_UUID_DECL(ITestPatternCamera, 0x7429cb1d, 0xb5fd, 0x4834, 0x92, 0xa7, 0x60, 0xd6, 0x4e, 0xbb, 0x80, 0xda)

// Adds (bRegister) or removes the second device of the same friendly name in the video
// input device category. For tests; COM must be initialised.
HRESULT RegisterSecondTestCamera(bool bRegister);
