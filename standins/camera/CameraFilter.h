// The camera filter's implementation (see TestPatternCamera.h).
#pragma once

#include "standins/camera/TestPatternCamera.h"
#include "standins/kit/FilterKit.h"

#include <cstdint>
#include <vector>

struct CameraFormat {
    int nWidth, nHeight;
    REFERENCE_TIME tFrame;
    bool bInterlaced;  // top field first, both fields in each sample (VIDEOINFOHEADER2)
};
extern const CameraFormat g_rgCameraFormats[];
extern const int g_cCameraFormats;

class CCameraFilter : public CKitFilter, public ISpecifyPropertyPages, public ITestPatternCamera {
public:
    static CKitUnknown* Create(IUnknown* pOuter, HRESULT* phr);
    static CKitUnknown* Create2(IUnknown* pOuter, HRESULT* phr);
    CCameraFilter(IUnknown* pOuter, REFCLSID clsid);
    ~CCameraFilter() override;

    KIT_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // A live source cannot deliver data while paused.
    STDMETHODIMP GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* pState) override;

    // ISpecifyPropertyPages
    STDMETHODIMP GetPages(CAUUID* pPages) override;

    // ITestPatternCamera
    STDMETHODIMP GetPattern(int* pePattern) override;
    STDMETHODIMP SetPattern(int ePattern) override;
    STDMETHODIMP GetFormatCount(int* pnCount) override;
    STDMETHODIMP GetFormatText(int iFormat, LPWSTR pszText, int cch) override;
    STDMETHODIMP GetFormat(int* piFormat) override;
    STDMETHODIMP SetFormat(int iFormat) override;
    STDMETHODIMP GetFramesDelivered(LONG* pnFrames) override;

    int GetPinCount() override { return 2; }
    CKitPin* GetPin(int n) override;
    HRESULT OnStart() override;
    HRESULT OnStop() override;

    // For the pins.
    class COutput;
    // The media type of format iFormat with frame duration tFrame (0: the format's own).
    static void MakeMediaType(int iFormat, REFERENCE_TIME tFrame, CKitMediaType* pmt);
    // The format index a type describes (-1 when none), and its frame duration.
    static int MatchFormat(const AM_MEDIA_TYPE* pmt, REFERENCE_TIME* ptFrame);
    bool AnyPinConnected() const;
    // The current format and frame duration (under the filter lock).
    int m_iFormat = 0;
    REFERENCE_TIME m_tFrame = 0;
    bool m_bFormatSet = false;  // chosen through SetFormat: the only type offered

private:
    bool Tick();
    REFERENCE_TIME StreamTime();

    COutput* m_pCapture;
    COutput* m_pPreview;
    volatile LONG m_ePattern = 0;
    volatile LONG m_nDelivered = 0;
    unsigned m_nFrame = 0;
    std::vector<uint8_t> m_picture;
    DWORD m_dwRunTick = 0;
    CKitWorker m_worker;
};
