#include "standins/camera/CameraFilter.h"

#include "standins/camera/Pattern.h"
#include "standins/media/VideoFormat.h"

#include <dvdmedia.h>

#include <cstdio>
#include <cstring>

const CameraFormat g_rgCameraFormats[] = {
    {640, 480, 333333, false},
    {320, 240, 333333, false},
    {1280, 720, 400000, false},
    {720, 576, 400000, true},  // interlaced SD, 25 frames (50 fields) a second
};
const int g_cCameraFormats = sizeof(g_rgCameraFormats) / sizeof(g_rgCameraFormats[0]);

namespace {
// The slowest frame rate offered for any size: 5 frames a second.
const REFERENCE_TIME kMaxFrameInterval = 2000000;
}  // namespace

// ---------------------------------------------------------------------------------------
// Output pins

class CCameraFilter::COutput : public CKitOutputPin, public IAMStreamConfig {
public:
    COutput(CCameraFilter* pOwner, const wchar_t* pszName, const GUID& category)
        : CKitOutputPin(pOwner, pszName), m_pOwner(pOwner) {
        SetCategory(category);
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IAMStreamConfig) {
            *ppv = static_cast<IAMStreamConfig*>(this);
            AddRef();
            return S_OK;
        }
        return CKitOutputPin::QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return CKitPin::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return CKitPin::Release(); }

    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override {
        REFERENCE_TIME tFrame;
        int i = MatchFormat(pmt, &tFrame);
        if (i < 0) return S_FALSE;
        CKitAutoLock lock(m_pOwner->FilterLock());
        // Both pins carry the same format; a chosen format is the only one.
        bool bFixed = m_pOwner->m_bFormatSet || OtherConnected();
        return !bFixed || (i == m_pOwner->m_iFormat && tFrame == m_pOwner->m_tFrame) ? S_OK : S_FALSE;
    }
    HRESULT GetMediaType(int iPosition, CKitMediaType* pmt) override {
        CKitAutoLock lock(m_pOwner->FilterLock());
        bool bFixed = m_pOwner->m_bFormatSet || OtherConnected();
        int count = bFixed ? 1 : g_cCameraFormats;
        if (iPosition < 0 || iPosition >= count) return VFW_S_NO_MORE_ITEMS;
        int i = (m_pOwner->m_iFormat + iPosition) % g_cCameraFormats;
        MakeMediaType(i, iPosition == 0 ? m_pOwner->m_tFrame : 0, pmt);
        return S_OK;
    }
    HRESULT CompleteConnect(IPin* pPeer) override {
        HRESULT hr = CKitOutputPin::CompleteConnect(pPeer);
        if (FAILED(hr)) return hr;
        CKitAutoLock lock(m_pOwner->FilterLock());
        REFERENCE_TIME tFrame;
        int i = MatchFormat(&m_mt, &tFrame);
        if (i >= 0) m_pOwner->m_iFormat = i, m_pOwner->m_tFrame = tFrame;
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) override {
        const CameraFormat& f = g_rgCameraFormats[m_pOwner->m_iFormat];
        return SetBufferProperties(pAlloc, pProps, 3, f.nWidth * f.nHeight * 2);
    }

    // IAMStreamConfig
    STDMETHODIMP SetFormat(AM_MEDIA_TYPE* pmt) override {
        if (!pmt) return E_POINTER;
        REFERENCE_TIME tFrame;
        int i = MatchFormat(pmt, &tFrame);
        if (i < 0) return VFW_E_INVALIDMEDIATYPE;
        CKitAutoLock lock(m_pOwner->FilterLock());
        if (m_pOwner->State() != State_Stopped) return VFW_E_NOT_STOPPED;
        if (m_pOwner->AnyPinConnected() &&
            (i != m_pOwner->m_iFormat || tFrame != m_pOwner->m_tFrame))
            return VFW_E_ALREADY_CONNECTED;
        m_pOwner->m_iFormat = i;
        m_pOwner->m_tFrame = tFrame;
        m_pOwner->m_bFormatSet = true;
        return S_OK;
    }
    STDMETHODIMP GetFormat(AM_MEDIA_TYPE** ppmt) override {
        if (!ppmt) return E_POINTER;
        CKitAutoLock lock(m_pOwner->FilterLock());
        CKitMediaType mt;
        if (IsConnected()) mt = m_mt;
        else MakeMediaType(m_pOwner->m_iFormat, m_pOwner->m_tFrame, &mt);
        *ppmt = media::CreateMediaType(&mt);
        return *ppmt ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP GetNumberOfCapabilities(int* piCount, int* piSize) override {
        if (!piCount || !piSize) return E_POINTER;
        *piCount = g_cCameraFormats;
        *piSize = sizeof(VIDEO_STREAM_CONFIG_CAPS);
        return S_OK;
    }
    STDMETHODIMP GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC) override {
        if (!ppmt || !pSCC) return E_POINTER;
        if (iIndex < 0 || iIndex >= g_cCameraFormats) return S_FALSE;
        const CameraFormat& f = g_rgCameraFormats[iIndex];
        CKitMediaType mt;
        MakeMediaType(iIndex, 0, &mt);
        auto* pCaps = (VIDEO_STREAM_CONFIG_CAPS*)pSCC;
        ZeroMemory(pCaps, sizeof *pCaps);
        pCaps->guid = mt.formattype;
        pCaps->VideoStandard = f.bInterlaced ? AnalogVideo_PAL_B : AnalogVideo_None;
        pCaps->InputSize = pCaps->MinCroppingSize = pCaps->MaxCroppingSize = {f.nWidth, f.nHeight};
        pCaps->MinOutputSize = pCaps->MaxOutputSize = {f.nWidth, f.nHeight};
        pCaps->CropGranularityX = pCaps->CropGranularityY = 1;
        pCaps->OutputGranularityX = pCaps->OutputGranularityY = 1;
        pCaps->MinFrameInterval = f.tFrame;
        pCaps->MaxFrameInterval = kMaxFrameInterval;
        LONG bitsPerFrame = f.nWidth * f.nHeight * 16;
        pCaps->MinBitsPerSecond = (LONG)(bitsPerFrame * (10000000 / kMaxFrameInterval));
        pCaps->MaxBitsPerSecond = (LONG)((LONGLONG)bitsPerFrame * 10000000 / f.tFrame);
        *ppmt = media::CreateMediaType(&mt);
        return *ppmt ? S_OK : E_OUTOFMEMORY;
    }

    // Delivers one frame copied from pData; false when the downstream pin refused it.
    bool DeliverFrame(const BYTE* pData, long cb, REFERENCE_TIME tStart, REFERENCE_TIME tStop) {
        IMediaSample* pSample = nullptr;
        if (FAILED(GetDeliveryBuffer(&pSample)) || !pSample) return false;
        BYTE* p = nullptr;
        pSample->GetPointer(&p);
        if (pSample->GetSize() < cb) {
            pSample->Release();
            return false;
        }
        memcpy(p, pData, cb);
        pSample->SetActualDataLength(cb);
        pSample->SetTime(&tStart, &tStop);
        pSample->SetSyncPoint(TRUE);
        HRESULT hr = Deliver(pSample);
        pSample->Release();
        return hr == S_OK;
    }
    bool m_bFailed = false;  // the downstream pin refused a sample: nothing more this run

private:
    bool OtherConnected() const {
        const COutput* pOther =
            this == m_pOwner->m_pCapture ? m_pOwner->m_pPreview : m_pOwner->m_pCapture;
        return pOther->IsConnected();
    }
    CCameraFilter* m_pOwner;
};

// ---------------------------------------------------------------------------------------
// Filter

CKitUnknown* CCameraFilter::Create(IUnknown* pOuter, HRESULT* phr) {
    *phr = S_OK;
    return new CCameraFilter(pOuter, CLSID_TestPatternCamera);
}

CKitUnknown* CCameraFilter::Create2(IUnknown* pOuter, HRESULT* phr) {
    *phr = S_OK;
    return new CCameraFilter(pOuter, CLSID_TestPatternCamera2);
}

CCameraFilter::CCameraFilter(IUnknown* pOuter, REFCLSID clsid)
    : CKitFilter(TEST_CAMERA_FRIENDLY_NAME, pOuter, clsid), m_pCapture(nullptr), m_pPreview(nullptr) {
    m_tFrame = g_rgCameraFormats[0].tFrame;
    m_pCapture = new COutput(this, L"Capture", PIN_CATEGORY_CAPTURE);
    m_pPreview = new COutput(this, L"Preview", PIN_CATEGORY_PREVIEW);
    SetMiscFlags(AM_FILTER_MISC_FLAGS_IS_SOURCE);
}

CCameraFilter::~CCameraFilter() {
    m_worker.Stop();
    delete m_pCapture;
    delete m_pPreview;
}

HRESULT STDMETHODCALLTYPE CCameraFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_ISpecifyPropertyPages)
        return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
    if (riid == __uuidof(ITestPatternCamera))
        return GetInterface(static_cast<ITestPatternCamera*>(this), ppv);
    return CKitFilter::NonDelegatingQueryInterface(riid, ppv);
}

CKitPin* CCameraFilter::GetPin(int n) {
    return n == 0 ? m_pCapture : n == 1 ? m_pPreview : nullptr;
}

bool CCameraFilter::AnyPinConnected() const {
    return m_pCapture->IsConnected() || m_pPreview->IsConnected();
}

void CCameraFilter::MakeMediaType(int iFormat, REFERENCE_TIME tFrame, CKitMediaType* pmt) {
    const CameraFormat& f = g_rgCameraFormats[iFormat];
    if (tFrame <= 0) tFrame = f.tFrame;
    const DWORD cbImage = (DWORD)(f.nWidth * f.nHeight * 2);
    BITMAPINFOHEADER* pbmi;
    RECT rc = {0, 0, f.nWidth, f.nHeight};
    if (f.bInterlaced) {
        pmt->Set(MEDIATYPE_Video, MEDIASUBTYPE_YUY2, FORMAT_VideoInfo2);
        auto* pvi = (VIDEOINFOHEADER2*)pmt->AllocFormat(sizeof(VIDEOINFOHEADER2));
        pvi->rcSource = pvi->rcTarget = rc;
        pvi->AvgTimePerFrame = tFrame;
        pvi->dwBitRate = (DWORD)((LONGLONG)cbImage * 8 * 10000000 / tFrame);
        pvi->dwInterlaceFlags = AMINTERLACE_IsInterlaced | AMINTERLACE_Field1First |
                                AMINTERLACE_DisplayModeBobOrWeave;
        pvi->dwPictAspectRatioX = 4;
        pvi->dwPictAspectRatioY = 3;
        pbmi = &pvi->bmiHeader;
    } else {
        pmt->Set(MEDIATYPE_Video, MEDIASUBTYPE_YUY2, FORMAT_VideoInfo);
        auto* pvi = (VIDEOINFOHEADER*)pmt->AllocFormat(sizeof(VIDEOINFOHEADER));
        pvi->rcSource = pvi->rcTarget = rc;
        pvi->AvgTimePerFrame = tFrame;
        pvi->dwBitRate = (DWORD)((LONGLONG)cbImage * 8 * 10000000 / tFrame);
        pbmi = &pvi->bmiHeader;
    }
    pbmi->biSize = sizeof(BITMAPINFOHEADER);
    pbmi->biWidth = f.nWidth;
    pbmi->biHeight = f.nHeight;
    pbmi->biPlanes = 1;
    pbmi->biBitCount = 16;
    pbmi->biCompression = MAKEFOURCC('Y', 'U', 'Y', '2');
    pbmi->biSizeImage = cbImage;
    pmt->bFixedSizeSamples = TRUE;
    pmt->bTemporalCompression = FALSE;
    pmt->lSampleSize = cbImage;
}

int CCameraFilter::MatchFormat(const AM_MEDIA_TYPE* pmt, REFERENCE_TIME* ptFrame) {
    if (!pmt || pmt->majortype != MEDIATYPE_Video || pmt->subtype != MEDIASUBTYPE_YUY2) return -1;
    VideoHeader header;
    if (!ReadVideoHeader(*pmt, &header) ||
        (header.formattype != FORMAT_VideoInfo && header.formattype != FORMAT_VideoInfo2))
        return -1;
    REFERENCE_TIME tFrame = header.tAvgTimePerFrame;
    const bool bVih2 = header.formattype == FORMAT_VideoInfo2;
    for (int i = 0; i < g_cCameraFormats; ++i) {
        const CameraFormat& f = g_rgCameraFormats[i];
        if (f.nWidth != header.bmi.biWidth || f.nHeight != header.bmi.biHeight || f.bInterlaced != bVih2)
            continue;
        if (tFrame == 0) tFrame = f.tFrame;
        if (tFrame < f.tFrame || tFrame > kMaxFrameInterval) return -1;
        *ptFrame = tFrame;
        return i;
    }
    return -1;
}

STDMETHODIMP CCameraFilter::GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* pState) {
    HRESULT hr = CKitFilter::GetState(dwMilliSecsTimeout, pState);
    if (hr == S_OK && *pState == State_Paused) return VFW_S_CANT_CUE;
    return hr;
}

STDMETHODIMP CCameraFilter::GetPages(CAUUID* pPages) {
    if (!pPages) return E_POINTER;
    pPages->pElems = (GUID*)::CoTaskMemAlloc(sizeof(GUID));
    if (!pPages->pElems) {
        pPages->cElems = 0;
        return E_OUTOFMEMORY;
    }
    pPages->cElems = 1;
    pPages->pElems[0] = CLSID_TestPatternCameraPage;
    return S_OK;
}

STDMETHODIMP CCameraFilter::GetPattern(int* pePattern) {
    if (!pePattern) return E_POINTER;
    *pePattern = (int)m_ePattern;
    return S_OK;
}

STDMETHODIMP CCameraFilter::SetPattern(int ePattern) {
    if (ePattern < 0 || ePattern >= CAMERA_PATTERN_COUNT) return E_INVALIDARG;
    ::InterlockedExchange(&m_ePattern, ePattern);
    return S_OK;
}

STDMETHODIMP CCameraFilter::GetFormatCount(int* pnCount) {
    if (!pnCount) return E_POINTER;
    *pnCount = g_cCameraFormats;
    return S_OK;
}

STDMETHODIMP CCameraFilter::GetFormatText(int iFormat, LPWSTR pszText, int cch) {
    if (!pszText) return E_POINTER;
    if (iFormat < 0 || iFormat >= g_cCameraFormats || cch <= 0) return E_INVALIDARG;
    const CameraFormat& f = g_rgCameraFormats[iFormat];
    double fps = 10000000.0 / (double)f.tFrame;
    int n = _snwprintf(pszText, cch, L"%d x %d, %.4g fps%ls", f.nWidth, f.nHeight, fps,
                       f.bInterlaced ? L", interlaced" : L"");
    pszText[cch - 1] = 0;
    return n >= 0 && n < cch ? S_OK : STRSAFE_E_INSUFFICIENT_BUFFER;
}

STDMETHODIMP CCameraFilter::GetFormat(int* piFormat) {
    if (!piFormat) return E_POINTER;
    CKitAutoLock lock(FilterLock());
    *piFormat = m_iFormat;
    return S_OK;
}

STDMETHODIMP CCameraFilter::SetFormat(int iFormat) {
    if (iFormat < 0 || iFormat >= g_cCameraFormats) return E_INVALIDARG;
    CKitMediaType mt;
    MakeMediaType(iFormat, 0, &mt);
    return m_pCapture->SetFormat(&mt);
}

STDMETHODIMP CCameraFilter::GetFramesDelivered(LONG* pnFrames) {
    if (!pnFrames) return E_POINTER;
    *pnFrames = m_nDelivered;
    return S_OK;
}

HRESULT CCameraFilter::OnStart() {
    m_nFrame = 0;
    m_nDelivered = 0;
    m_dwRunTick = ::GetTickCount();
    m_pCapture->m_bFailed = m_pPreview->m_bFailed = false;
    if (!AnyPinConnected()) return S_OK;
    return m_worker.Start([this] { return Tick(); });
}

HRESULT CCameraFilter::OnStop() {
    m_worker.Stop();
    return S_OK;
}

REFERENCE_TIME CCameraFilter::StreamTime() {
    REFERENCE_TIME t = 0;
    IReferenceClock* pClock = Clock();
    if (pClock && SUCCEEDED(pClock->GetTime(&t))) return t - StartTime();
    return (REFERENCE_TIME)(::GetTickCount() - m_dwRunTick) * 10000;
}

bool CCameraFilter::Tick() {
    if (State() != State_Running) {
        // Live: nothing is captured while paused.
        m_dwRunTick = ::GetTickCount();
        return !m_worker.WaitForStop(5);
    }
    const REFERENCE_TIME tFrame = m_tFrame;
    REFERENCE_TIME now = StreamTime();
    REFERENCE_TIME due = (REFERENCE_TIME)m_nFrame * tFrame;
    if (now < due) {
        DWORD ms = (DWORD)((due - now) / 10000);
        return !m_worker.WaitForStop(ms > 0 ? ms : 1);
    }
    if (now - due >= tFrame) {
        // Fell behind (or the clock jumped): the frames missed are dropped.
        m_nFrame = (unsigned)(now / tFrame);
        due = (REFERENCE_TIME)m_nFrame * tFrame;
    }
    const CameraFormat& f = g_rgCameraFormats[m_iFormat];
    const long cb = f.nWidth * f.nHeight * 2;
    m_picture.resize((size_t)cb);
    DrawPatternYUY2(m_picture.data(), f.nWidth, f.nHeight, f.nWidth * 2, (int)m_ePattern, m_nFrame);
    for (COutput* pPin : {m_pCapture, m_pPreview}) {
        if (!pPin->IsConnected() || pPin->m_bFailed) continue;
        if (!pPin->DeliverFrame(m_picture.data(), cb, due, due + tFrame)) {
            pPin->m_bFailed = true;
            continue;
        }
        if (pPin == m_pCapture) ::InterlockedIncrement(&m_nDelivered);
    }
    ++m_nFrame;
    return !m_worker.StopRequested();
}
