#include "VireonEncoder.h"

#include <dvdmedia.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#ifndef VIREON_ENCODER_VERSION
#define VIREON_ENCODER_VERSION L"1.0.0"
#endif

namespace {

const wchar_t kEncoderName[] = L"Morvane H264 Encoder";

// The parameter bundles of the presets Balanced, Best Quality, Fast and Low Latency.
struct PresetBundle {
    UINT nSpeedQuality;
    int eRateControl;
    UINT nGopSize;
    int bExactGop;
    UINT nIdrInterval;
    UINT nBFrames;
};
const PresetBundle kPresets[] = {
    {4, MRV264E_RC_Variable, 0, 0, 1, 2},  // Balanced
    {7, MRV264E_RC_Variable, 0, 0, 1, 2},  // Best Quality
    {1, MRV264E_RC_Variable, 0, 0, 1, 0},  // Fast
    {2, MRV264E_RC_Constant, 0, 0, 1, 0},  // Low Latency
};

const int kPresetCount = (int)(sizeof(kPresets) / sizeof(kPresets[0]));

// A preset other than Custom sets its bundle.
void ApplyPreset(VireonSettings& s, int ePreset) {
    s.ePreset = ePreset;
    if (ePreset < 0 || ePreset >= kPresetCount) return;
    const PresetBundle& b = kPresets[ePreset];
    s.nSpeedQuality = b.nSpeedQuality;
    s.eRateControl = b.eRateControl;
    s.nGopSize = b.nGopSize;
    s.bExactGop = b.bExactGop;
    s.nIdrInterval = b.nIdrInterval;
    s.nBFrames = b.nBFrames;
}

// After a bundled setting changed: Custom unless it still matches the preset.
void UpdatePresetMatch(VireonSettings& s) {
    if (s.ePreset < 0 || s.ePreset >= kPresetCount) return;
    const PresetBundle& b = kPresets[s.ePreset];
    if (s.nSpeedQuality != b.nSpeedQuality || s.eRateControl != b.eRateControl || s.nGopSize != b.nGopSize ||
        s.bExactGop != b.bExactGop || s.nIdrInterval != b.nIdrInterval || s.nBFrames != b.nBFrames)
        s.ePreset = MRV264E_Preset_Custom;
}

const UINT kLevels[] = {0, 9, 10, 11, 12, 13, 20, 21, 22, 30, 31, 32, 40, 41, 42, 50, 51, 52};
const UINT kMaxBitrate = 240000;  // Kbps, the highest level's limit
const UINT kMaxGop = 10000;
const UINT kMaxIdrInterval = 10000;
const UINT kMaxBFrames = 16;
const UINT kMaxThreads = 64;
const REFERENCE_TIME kDefaultFrameTime = 400000;  // 25 fps when the input does not say

HRESULT MakeBstr(const wchar_t* psz, BSTR* pbstr) {
    if (!pbstr) return E_POINTER;
    *pbstr = ::SysAllocString(psz);
    return *pbstr ? S_OK : E_OUTOFMEMORY;
}

void Trace(const wchar_t* pszText) {
    ::OutputDebugStringW(pszText);
}

void TraceRefusedLayout(const wchar_t* pszWhy) {
    wchar_t szText[300];
    swprintf(szText, 300, L"###Err### CVireonEncoder: input type refused: %ls\n", pszWhy ? pszWhy : L"");
    Trace(szText);
}

}  // namespace

// --- Connections ---------------------------------------------------------------------------

HRESULT CVireonEncoder::CheckInputType(const AM_MEDIA_TYPE* pmt) {
    VideoInput in;
    return ParseVideoInput(pmt, &in) == S_OK ? S_OK : S_FALSE;
}

// A video type of ours whose layout cannot be worked out is refused with its own code and a
// trace saying why, never taken with a guessed layout.
HRESULT CVireonEncoder::OnInputTypeRefused(const AM_MEDIA_TYPE* pmt) {
    VideoInput in;
    const wchar_t* pszWhy = nullptr;
    if (ParseVideoInput(pmt, &in, &pszWhy) != VFW_E_INVALIDMEDIATYPE) return VFW_E_TYPE_NOT_ACCEPTED;
    TraceRefusedLayout(pszWhy);
    return VFW_E_INVALIDMEDIATYPE;
}

HRESULT CVireonEncoder::OnInputConnected(const AM_MEDIA_TYPE& mt) {
    VideoInput in;
    if (ParseVideoInput(&mt, &in) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
    {
        CKitAutoLock lock(&m_csSettings);
        m_input = in;
        m_bInputKnown = true;
    }
    // An output connected for another picture size has to agree on a new type.
    CKitOutputPin* pOut = Output();
    if (pOut->IsConnected() && Graph() && pOut->CheckMediaType(&pOut->CurrentMediaType()) != S_OK)
        Graph()->Reconnect(pOut);
    return S_OK;
}

void CVireonEncoder::OnInputDisconnected() {
    CKitAutoLock lock(&m_csSettings);
    m_bInputKnown = false;
}

bool CVireonEncoder::CodedSize(int* pnWidth, int* pnHeight, REFERENCE_TIME* ptFrame) {
    CKitAutoLock lock(&m_csSettings);
    if (!m_bInputKnown) return false;
    *pnWidth = (m_input.nWidth + 1) & ~1;
    *pnHeight = (m_input.nHeight + 1) & ~1;
    *ptFrame = m_input.tAvgTimePerFrame;
    return true;
}

HRESULT CVireonEncoder::CheckOutputType(const AM_MEDIA_TYPE* pmt) {
    int w, h;
    REFERENCE_TIME t;
    if (!CodedSize(&w, &h, &t)) return S_FALSE;
    if (pmt->majortype != MEDIATYPE_Video || pmt->subtype != media::kSubtypeH264) return S_FALSE;
    // The three format block kinds offered below.
    VideoHeader header;
    if (!ReadVideoHeader(*pmt, &header) || header.formattype == FORMAT_MPEGVideo) return S_FALSE;
    return header.bmi.biWidth == w && header.Rows() == h ? S_OK : S_FALSE;
}

// VIDEOINFOHEADER2 first, then MPEG2VIDEOINFO (no sequence header: SPS and PPS travel in the
// stream before every IDR), then VIDEOINFOHEADER.
HRESULT CVireonEncoder::GetOutputType(int iPosition, CKitMediaType* pmt) {
    int w, h;
    REFERENCE_TIME tFrame;
    if (iPosition < 0 || iPosition > 2 || !CodedSize(&w, &h, &tFrame)) return VFW_S_NO_MORE_ITEMS;
    vcore::UsedSettings used = Used();
    pmt->Set(MEDIATYPE_Video, media::kSubtypeH264, GUID_NULL);
    pmt->bFixedSizeSamples = FALSE;
    pmt->bTemporalCompression = TRUE;
    pmt->lSampleSize = 0;
    BITMAPINFOHEADER bmi = {};
    bmi.biSize = sizeof(BITMAPINFOHEADER);
    bmi.biWidth = w;
    bmi.biHeight = h;
    bmi.biPlanes = 1;
    bmi.biBitCount = 24;
    bmi.biCompression = media::FourCC('H', '2', '6', '4');
    RECT rc = {0, 0, w, h};
    const DWORD dwBitRate = (DWORD)used.bitrateKbps * 1000;
    if (iPosition == 2) {
        pmt->formattype = FORMAT_VideoInfo;
        auto* vih = (VIDEOINFOHEADER*)pmt->AllocFormat(sizeof(VIDEOINFOHEADER));
        if (!vih) return E_OUTOFMEMORY;
        vih->rcSource = vih->rcTarget = rc;
        vih->dwBitRate = dwBitRate;
        vih->AvgTimePerFrame = tFrame;
        vih->bmiHeader = bmi;
        return S_OK;
    }
    VIDEOINFOHEADER2 vih2 = {};
    vih2.rcSource = vih2.rcTarget = rc;
    vih2.dwBitRate = dwBitRate;
    vih2.AvgTimePerFrame = tFrame;
    int g = w, r = h;
    while (r) {
        int t = g % r;
        g = r;
        r = t;
    }
    vih2.dwPictAspectRatioX = w / g;
    vih2.dwPictAspectRatioY = h / g;
    vih2.bmiHeader = bmi;
    if (iPosition == 0) {
        pmt->formattype = FORMAT_VideoInfo2;
        auto* p = (VIDEOINFOHEADER2*)pmt->AllocFormat(sizeof(VIDEOINFOHEADER2));
        if (!p) return E_OUTOFMEMORY;
        *p = vih2;
        return S_OK;
    }
    pmt->formattype = media::kFormatMpeg2Video;
    auto* mpg = (MPEG2VIDEOINFO*)pmt->AllocFormat(sizeof(MPEG2VIDEOINFO));
    if (!mpg) return E_OUTOFMEMORY;
    mpg->hdr = vih2;
    mpg->dwProfile = (DWORD)used.profile;
    mpg->dwLevel = (DWORD)used.level;
    mpg->dwFlags = 0;  // start codes, no length prefixes
    mpg->cbSequenceHeader = 0;
    return S_OK;
}

HRESULT CVireonEncoder::TypeLikeConnection(CKitMediaType* pmt) {
    const GUID formattype = Output()->CurrentMediaType().formattype;
    for (int i = 0; i < 3; ++i) {
        pmt->Clear();
        if (GetOutputType(i, pmt) != S_OK) break;
        if (pmt->formattype == formattype) return S_OK;
    }
    return S_FALSE;
}

HRESULT CVireonEncoder::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) {
    int w, h;
    REFERENCE_TIME t;
    if (!CodedSize(&w, &h, &t)) return VFW_E_NOT_CONNECTED;
    // The core writes a picture straight into the sample: room for the most it can write.
    vcore::EncoderSettings settings;
    {
        CKitAutoLock lock(&m_csSettings);
        settings = CoreSettings(m_input);
    }
    const size_t cbBound = vcore::H264Encoder::MaxFrameBytes(settings);
    if (cbBound > 0x7FFFFFFF) return E_OUTOFMEMORY;
    return CKitOutputPin::SetBufferProperties(pAlloc, pProps, 3, (long)cbBound);
}

void CVireonEncoder::OnFlush() { m_bDiscontinuity = true; }

// --- Filter --------------------------------------------------------------------------------

CKitUnknown* CVireonEncoder::CreateInstance(IUnknown* pOuter, HRESULT* phr) {
    auto* p = new CVireonEncoder(pOuter);
    *phr = S_OK;
    return p;
}

CVireonEncoder::CVireonEncoder(IUnknown* pOuter)
    : CKitTransform(kEncoderName, pOuter, CLSID_VireonEncoder), m_settings(), m_bInputKnown(false),
      m_bForceKeyFrame(0), m_nFramesIn(0), m_nStatFrames(0), m_nStatKbps(0), m_nStatSkipped(0),
      m_bDiscontinuity(true), m_bSendType(false), m_bUsedValid(false), m_usedFor() {
    ::InitializeCriticalSection(&m_csSettings);
    m_settings.eEncType = MRV264E_Enc_Any;
    ApplyPreset(m_settings, MRV264E_Preset_Balanced);
    // Our own H.264 types are offered before the peer's.
    Output()->SetTryMyTypesFirst(true);
}

CVireonEncoder::~CVireonEncoder() { ::DeleteCriticalSection(&m_csSettings); }

HRESULT STDMETHODCALLTYPE CVireonEncoder::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == __uuidof(IVireon)) return GetInterface(static_cast<IVireon*>(this), ppv);
    if (riid == __uuidof(IVireonVersion)) return GetInterface(static_cast<IVireonVersion*>(this), ppv);
    return CKitTransform::NonDelegatingQueryInterface(riid, ppv);
}

double CVireonEncoder::CodingFps(const VideoInput& in) const {
    REFERENCE_TIME t = in.tAvgTimePerFrame > 0 ? in.tAvgTimePerFrame : kDefaultFrameTime;
    return 10000000.0 / (double)t;
}

UINT CVireonEncoder::AutomaticBitrate(const VideoInput& in) const {
    double kbps = (double)in.nWidth * in.nHeight * CodingFps(in) * 0.12 / 1000.0;
    return (UINT)std::min<double>(kMaxBitrate, std::max(64.0, std::floor(kbps + 0.5)));
}

vcore::EncoderSettings CVireonEncoder::CoreSettings(const VideoInput& in) const {
    vcore::EncoderSettings s;
    s.width = in.nWidth;
    s.height = in.nHeight;
    s.fps = CodingFps(in);
    s.rateControl = m_settings.eRateControl == MRV264E_RC_Constant ? vcore::kRateCbr : vcore::kRateVbr;
    s.bitrateKbps = (int)(m_settings.nBitrate ? m_settings.nBitrate : AutomaticBitrate(in));
    s.profile = m_settings.nProfile ? (int)m_settings.nProfile : 66;
    s.level = (int)m_settings.nLevel;
    s.gopSize = (int)m_settings.nGopSize;
    s.exactGop = m_settings.bExactGop != 0;
    s.idrInterval = (int)m_settings.nIdrInterval;
    s.bFrames = (int)m_settings.nBFrames;
    s.cavlc = true;
    s.speedQuality = (int)m_settings.nSpeedQuality;
    s.threads = (int)m_settings.nThreads;
    return s;
}

vcore::UsedSettings CVireonEncoder::Used() {
    CKitAutoLock lock(&m_csSettings);
    if (m_spEncoder) return m_spEncoder->Used();
    if (!m_bInputKnown) {
        // The requests themselves, as far as they are not automatic.
        vcore::UsedSettings used;
        used.profile = 66;
        used.level = (int)m_settings.nLevel;
        used.gopSize = (int)m_settings.nGopSize;
        used.idrInterval = (int)m_settings.nIdrInterval;
        used.bFrames = 0;
        used.bitrateKbps = (int)m_settings.nBitrate;
        used.cavlc = true;
        used.speedQuality = (int)m_settings.nSpeedQuality;
        used.threads = (int)m_settings.nThreads;
        return used;
    }
    // An encoder set up for the input answers; what it said holds while the settings and the
    // input's picture stay as they were.
    const UsedFor key = {m_settings, m_input.nWidth, m_input.nHeight, m_input.tAvgTimePerFrame};
    if (!m_bUsedValid || !(key == m_usedFor)) {
        vcore::H264Encoder probe;
        m_used = probe.Open(CoreSettings(m_input)) ? probe.Used() : vcore::UsedSettings();
        m_usedFor = key;
        m_bUsedValid = true;
    }
    return m_used;
}

HRESULT CVireonEncoder::OpenEncoder() {
    CKitAutoLock lock(&m_csSettings);
    m_spEncoder.reset();
    if (!m_bInputKnown) return S_OK;
    auto spEncoder = std::make_unique<vcore::H264Encoder>();
    if (!spEncoder->Open(CoreSettings(m_input))) return E_FAIL;
    m_spEncoder = std::move(spEncoder);
    return S_OK;
}

HRESULT CVireonEncoder::OnStart() {
    HRESULT hr = OpenEncoder();
    if (FAILED(hr)) return hr;
    CKitAutoLock lock(&m_csSettings);
    m_nFramesIn = 0;
    m_nStatFrames = 0;
    m_nStatKbps = 0;
    m_nStatSkipped = 0;
    m_bDiscontinuity = true;
    m_bSendType = false;
    return S_OK;
}

HRESULT CVireonEncoder::OnStop() {
    CKitAutoLock lock(&m_csSettings);
    m_spEncoder.reset();
    return S_OK;
}

HRESULT CVireonEncoder::EncodeSample(IMediaSample* pSample) {
    if (!Output()->IsConnected() || !m_spEncoder) return S_OK;

    // A new type on the sample (another stride or size) is taken from here on.
    AM_MEDIA_TYPE* pmt = nullptr;
    if (pSample->GetMediaType(&pmt) == S_OK && pmt) {
        VideoInput in;
        const wchar_t* pszWhy = nullptr;
        HRESULT hr = ParseVideoInput(pmt, &in, &pszWhy);
        media::DeleteMediaType(pmt);
        if (hr != S_OK) {
            TraceRefusedLayout(pszWhy);
            return VFW_E_INVALIDMEDIATYPE;
        }
        CKitAutoLock lock(&m_csSettings);
        bool bResize = in.nWidth != m_input.nWidth || in.nHeight != m_input.nHeight;
        m_input = in;
        if (bResize) {
            auto spEncoder = std::make_unique<vcore::H264Encoder>();
            if (!spEncoder->Open(CoreSettings(m_input))) return E_FAIL;
            m_spEncoder = std::move(spEncoder);
            m_nStatSkipped = 0;
            m_bSendType = true;
        }
    }
    const VideoInput in = m_input;

    BYTE* pData = nullptr;
    if (FAILED(pSample->GetPointer(&pData)) || !pData) return E_POINTER;
    const long cbData = pSample->GetActualDataLength();
    if (!IsSampleLongEnough(in.layout, cbData)) {
        // Never read past what the sample holds; the frame is left out.
        wchar_t szText[200];
        swprintf(szText, 200,
                 L"###Err### CVireonEncoder::EncodeSample(): sample of %ld bytes, the picture needs %zu; left out\n",
                 cbData, in.layout.cbFrame);
        Trace(szText);
        return S_OK;
    }
    // Planar input is read where it is; the other formats become I420 first.
    const vcore::SourcePlanes planes = SamplePlanes(in, pData);
    const uint8_t* rgpPlane[3];
    int rgnStride[3];
    if (in.eFormat == vcore::PixelFormat::I420 || in.eFormat == vcore::PixelFormat::YV12) {
        for (int i = 0; i < 3; ++i) {
            rgpPlane[i] = planes.plane[i];
            rgnStride[i] = (int)planes.stride[i];
        }
    } else {
        if (!vcore::ConvertPlanesToI420(in.eFormat, planes, in.nWidth, in.nHeight, m_picture)) return E_FAIL;
        rgpPlane[0] = m_picture.y.data();
        rgpPlane[1] = m_picture.u.data();
        rgpPlane[2] = m_picture.v.data();
        rgnStride[0] = m_picture.strideY;
        rgnStride[1] = rgnStride[2] = m_picture.strideC;
    }

    // The picture is coded straight into the output sample.
    IMediaSample* pOut = nullptr;
    HRESULT hr = Output()->GetDeliveryBuffer(&pOut);
    if (FAILED(hr)) return hr;
    BYTE* pOutData = nullptr;
    if (FAILED(pOut->GetPointer(&pOutData)) || !pOutData) {
        pOut->Release();
        return E_POINTER;
    }
    if (::InterlockedExchange(&m_bForceKeyFrame, 0)) m_spEncoder->ForceKeyFrame();
    bool bIdr = false;
    size_t cbCoded = 0;
    const long cbRoom = pOut->GetSize();
    if (!m_spEncoder->Encode(rgpPlane[0], rgnStride[0], rgpPlane[1], rgnStride[1], rgpPlane[2], rgnStride[2],
                             pOutData, cbRoom > 0 ? (size_t)cbRoom : 0, &cbCoded, &bIdr)) {
        pOut->Release();
        // The picture needed more room than the sample has (a buffer agreed for a smaller size).
        return cbRoom > 0 && cbCoded >= (size_t)cbRoom ? VFW_E_BUFFER_OVERFLOW : E_FAIL;
    }
    {
        CKitAutoLock lock(&m_csSettings);
        m_nStatFrames = (UINT)m_spEncoder->FramesEncoded();
        m_nStatKbps = m_spEncoder->AverageBitrateKbps();
        const UINT nSkipped = (UINT)m_spEncoder->SkippedPictures();
        if (nSkipped > m_nStatSkipped) {
            wchar_t szText[200];
            swprintf(szText, 200,
                     L"CVireonEncoder::EncodeSample(): picture %u coded all-skip, the decoder buffer is full "
                     L"(%u such pictures)\n",
                     m_nStatFrames, nSkipped);
            Trace(szText);
        }
        m_nStatSkipped = nSkipped;
    }

    const REFERENCE_TIME tFrame = in.tAvgTimePerFrame > 0 ? in.tAvgTimePerFrame : kDefaultFrameTime;
    REFERENCE_TIME tStart = m_nFramesIn * tFrame, tStop = tStart + tFrame;
    ++m_nFramesIn;
    if (m_settings.bPassThroughTimeStamps) {
        REFERENCE_TIME tIn = 0, tInStop = 0;
        HRESULT hrTime = pSample->GetTime(&tIn, &tInStop);
        if (hrTime == S_OK) {
            tStart = tIn;
            tStop = tInStop;
        } else if (hrTime == VFW_S_NO_STOP_TIME) {
            tStart = tIn;
            tStop = tIn + tFrame;
        }
    }

    pOut->SetActualDataLength((long)cbCoded);
    pOut->SetTime(&tStart, &tStop);
    pOut->SetMediaTime(nullptr, nullptr);
    pOut->SetSyncPoint(bIdr ? TRUE : FALSE);
    pOut->SetDiscontinuity(m_bDiscontinuity ? TRUE : FALSE);
    pOut->SetPreroll(FALSE);
    m_bDiscontinuity = false;
    if (m_bSendType) {
        // The picture size changed: the first sample of the new size says so, in the format
        // block kind agreed at connection, when the downstream pin takes it.
        m_bSendType = false;
        CKitMediaType mt;
        if (TypeLikeConnection(&mt) == S_OK && Output()->GetConnected()->QueryAccept(&mt) == S_OK)
            pOut->SetMediaType(&mt);
    }
    hr = Output()->Deliver(pOut);
    pOut->Release();
    return hr;
}

// --- IVireon -------------------------------------------------------------------------------

template <class Change>
HRESULT CVireonEncoder::ChangeSettings(Change change) {
    CKitAutoLock lockFilter(&m_csFilter);
    if (m_state != State_Stopped) return VFW_E_WRONG_STATE;
    CKitAutoLock lock(&m_csSettings);
    change(m_settings);
    return S_OK;
}

STDMETHODIMP CVireonEncoder::GetInputInfo(int* pnWidth, int* pnHeight, double* pdblFPS, int* peInterlacing) {
    if (!pnWidth || !pnHeight || !pdblFPS || !peInterlacing) return E_POINTER;
    CKitAutoLock lock(&m_csSettings);
    if (!m_bInputKnown) {
        *pnWidth = *pnHeight = 0;
        *pdblFPS = 0.0;
        *peInterlacing = 0;
        return S_OK;
    }
    *pnWidth = m_input.nWidth;
    *pnHeight = m_input.nHeight;
    *pdblFPS = m_input.tAvgTimePerFrame > 0 ? 10000000.0 / (double)m_input.tAvgTimePerFrame : 0.0;
    *peInterlacing = m_input.eInterlacing;
    return S_OK;
}

STDMETHODIMP CVireonEncoder::SetPreset(int ePreset) {
    if (ePreset < MRV264E_Preset_Balanced || ePreset > MRV264E_Preset_Custom) return E_INVALIDARG;
    return ChangeSettings([&](VireonSettings& s) { ApplyPreset(s, ePreset); });
}

STDMETHODIMP CVireonEncoder::GetPreset(int* pePreset) {
    if (!pePreset) return E_POINTER;
    CKitAutoLock lock(&m_csSettings);
    *pePreset = m_settings.ePreset;
    return S_OK;
}

STDMETHODIMP CVireonEncoder::SetSpeedQuality(UINT nSpeedQuality) {
    if (nSpeedQuality < 1 || nSpeedQuality > 7) return E_INVALIDARG;
    return ChangeSettings([&](VireonSettings& s) {
        s.nSpeedQuality = nSpeedQuality;
        UpdatePresetMatch(s);
    });
}

STDMETHODIMP CVireonEncoder::GetSpeedQuality(UINT* pnSpeedQuality) {
    if (!pnSpeedQuality) return E_POINTER;
    CKitAutoLock lock(&m_csSettings);
    *pnSpeedQuality = m_settings.nSpeedQuality;
    return S_OK;
}

STDMETHODIMP CVireonEncoder::SetRateControl(int eRateControl) {
    if (eRateControl != MRV264E_RC_Constant && eRateControl != MRV264E_RC_Variable) return E_INVALIDARG;
    return ChangeSettings([&](VireonSettings& s) {
        s.eRateControl = eRateControl;
        UpdatePresetMatch(s);
    });
}

STDMETHODIMP CVireonEncoder::GetRateControl(int* peRateControl) {
    if (!peRateControl) return E_POINTER;
    CKitAutoLock lock(&m_csSettings);
    *peRateControl = m_settings.eRateControl;
    return S_OK;
}

STDMETHODIMP CVireonEncoder::SetBitrate(UINT nBitrate) {
    if (nBitrate > kMaxBitrate) return E_INVALIDARG;
    return ChangeSettings([&](VireonSettings& s) { s.nBitrate = nBitrate; });
}

STDMETHODIMP CVireonEncoder::GetBitrate(UINT* pnBitrate, UINT* pnBitrateUsed) {
    if (!pnBitrate || !pnBitrateUsed) return E_POINTER;
    CKitAutoLock lock(&m_csSettings);
    *pnBitrate = m_settings.nBitrate;
    *pnBitrateUsed = (UINT)Used().bitrateKbps;
    return S_OK;
}

STDMETHODIMP CVireonEncoder::GetStatistics(UINT* pnAvgBitrate, UINT* pnFrames) {
    if (!pnAvgBitrate || !pnFrames) return E_POINTER;
    CKitAutoLock lock(&m_csSettings);
    *pnAvgBitrate = m_nStatKbps;
    *pnFrames = m_nStatFrames;
    return S_OK;
}

STDMETHODIMP CVireonEncoder::SetProfileLevel(UINT nProfile, UINT nLevel) {
    if (nProfile != 0 && nProfile != 66 && nProfile != 77 && nProfile != 100) return E_INVALIDARG;
    if (std::find(std::begin(kLevels), std::end(kLevels), nLevel) == std::end(kLevels)) return E_INVALIDARG;
    return ChangeSettings([&](VireonSettings& s) {
        s.nProfile = nProfile;
        s.nLevel = nLevel;
    });
}

STDMETHODIMP CVireonEncoder::GetProfileLevel(UINT* pnProfile, UINT* pnLevel, UINT* pnProfileUsed, UINT* pnLevelUsed) {
    if (!pnProfile || !pnLevel || !pnProfileUsed || !pnLevelUsed) return E_POINTER;
    CKitAutoLock lock(&m_csSettings);
    const vcore::UsedSettings used = Used();
    *pnProfile = m_settings.nProfile;
    *pnLevel = m_settings.nLevel;
    *pnProfileUsed = (UINT)used.profile;
    *pnLevelUsed = (UINT)used.level;
    return S_OK;
}

STDMETHODIMP CVireonEncoder::SetGop(UINT nGopSize, int bExactGop) {
    if (nGopSize > kMaxGop || (bExactGop != 0 && bExactGop != 1)) return E_INVALIDARG;
    return ChangeSettings([&](VireonSettings& s) {
        s.nGopSize = nGopSize;
        s.bExactGop = bExactGop;
        UpdatePresetMatch(s);
    });
}

STDMETHODIMP CVireonEncoder::GetGop(UINT* pnGopSize, int* pbExactGop, UINT* pnGopSizeUsed) {
    if (!pnGopSize || !pbExactGop || !pnGopSizeUsed) return E_POINTER;
    CKitAutoLock lock(&m_csSettings);
    *pnGopSize = m_settings.nGopSize;
    *pbExactGop = m_settings.bExactGop;
    *pnGopSizeUsed = (UINT)Used().gopSize;
    return S_OK;
}

STDMETHODIMP CVireonEncoder::SetIdrInterval(UINT nIdrInterval) {
    if (nIdrInterval > kMaxIdrInterval) return E_INVALIDARG;
    return ChangeSettings([&](VireonSettings& s) {
        s.nIdrInterval = nIdrInterval;
        UpdatePresetMatch(s);
    });
}

STDMETHODIMP CVireonEncoder::GetIdrInterval(UINT* pnIdrInterval, UINT* pnIdrIntervalUsed) {
    if (!pnIdrInterval || !pnIdrIntervalUsed) return E_POINTER;
    CKitAutoLock lock(&m_csSettings);
    *pnIdrInterval = m_settings.nIdrInterval;
    *pnIdrIntervalUsed = (UINT)Used().idrInterval;
    return S_OK;
}

STDMETHODIMP CVireonEncoder::SetBFrames(UINT nBFrames) {
    if (nBFrames > kMaxBFrames) return E_INVALIDARG;
    return ChangeSettings([&](VireonSettings& s) {
        s.nBFrames = nBFrames;
        UpdatePresetMatch(s);
    });
}

STDMETHODIMP CVireonEncoder::GetBFrames(UINT* pnBFrames, UINT* pnBFramesUsed) {
    if (!pnBFrames || !pnBFramesUsed) return E_POINTER;
    CKitAutoLock lock(&m_csSettings);
    *pnBFrames = m_settings.nBFrames;
    *pnBFramesUsed = (UINT)Used().bFrames;
    return S_OK;
}

STDMETHODIMP CVireonEncoder::SetThreads(UINT nThreads) {
    if (nThreads > kMaxThreads) return E_INVALIDARG;
    return ChangeSettings([&](VireonSettings& s) { s.nThreads = nThreads; });
}

STDMETHODIMP CVireonEncoder::GetThreads(UINT* pnThreads, UINT* pnThreadsUsed) {
    if (!pnThreads || !pnThreadsUsed) return E_POINTER;
    CKitAutoLock lock(&m_csSettings);
    *pnThreads = m_settings.nThreads;
    *pnThreadsUsed = (UINT)Used().threads;
    return S_OK;
}

STDMETHODIMP CVireonEncoder::SetCavlc(int bCavlc) {
    if (bCavlc != 0 && bCavlc != 1) return E_INVALIDARG;
    return ChangeSettings([&](VireonSettings& s) { s.bCavlc = bCavlc; });
}

STDMETHODIMP CVireonEncoder::GetCavlc(int* pbCavlc) {
    if (!pbCavlc) return E_POINTER;
    // The entropy coder in use: Baseline streams are always CAVLC.
    *pbCavlc = Used().cavlc ? 1 : 0;
    return S_OK;
}

STDMETHODIMP CVireonEncoder::SetPassThroughTimeStamps(int bPassThrough) {
    if (bPassThrough != 0 && bPassThrough != 1) return E_INVALIDARG;
    return ChangeSettings([&](VireonSettings& s) { s.bPassThroughTimeStamps = bPassThrough; });
}

STDMETHODIMP CVireonEncoder::GetPassThroughTimeStamps(int* pbPassThrough) {
    if (!pbPassThrough) return E_POINTER;
    CKitAutoLock lock(&m_csSettings);
    *pbPassThrough = m_settings.bPassThroughTimeStamps;
    return S_OK;
}

STDMETHODIMP CVireonEncoder::ForceKeyFrame() {
    ::InterlockedExchange(&m_bForceKeyFrame, 1);
    return S_OK;
}

STDMETHODIMP CVireonEncoder::SetEncoderType(int eEncType) {
    if (eEncType == MRV264E_Enc_Hard) return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
    if (eEncType != MRV264E_Enc_Any && eEncType != MRV264E_Enc_Soft) return E_INVALIDARG;
    return ChangeSettings([&](VireonSettings& s) { s.eEncType = eEncType; });
}

STDMETHODIMP CVireonEncoder::GetEncoderType(int* peEncType, int* peEncUsed) {
    if (!peEncType || !peEncUsed) return E_POINTER;
    CKitAutoLock lock(&m_csSettings);
    *peEncType = m_settings.eEncType;
    *peEncUsed = MRV264E_Enc_Soft;
    return S_OK;
}

// --- IVireonVersion ------------------------------------------------------------------------

STDMETHODIMP CVireonEncoder::GetType(int* peType) {
    if (!peType) return E_POINTER;
#ifdef NDEBUG
    *peType = MRV264E_Type_Release;
#else
    *peType = MRV264E_Type_Debug;
#endif
    return S_OK;
}

STDMETHODIMP CVireonEncoder::GetOS(int* peOS) {
    if (!peOS) return E_POINTER;
    *peOS = sizeof(void*) == 8 ? MRV264E_OS_64 : MRV264E_OS_32;
    return S_OK;
}

STDMETHODIMP CVireonEncoder::GetName(BSTR* pbstrName) { return MakeBstr(kEncoderName, pbstrName); }

STDMETHODIMP CVireonEncoder::GetNumber(BSTR* pbstrNumber) { return MakeBstr(VIREON_ENCODER_VERSION, pbstrNumber); }

// The build's date and time as "YYYY-MM-DD hh:mm:ss".
STDMETHODIMP CVireonEncoder::GetDateTime(BSTR* pbstrDateTime) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char* pszDate = __DATE__;  // "Mmm dd yyyy"
    int nMonth = 0;
    for (int i = 0; i < 12; ++i)
        if (strncmp(pszDate, kMonths[i], 3) == 0) nMonth = i + 1;
    wchar_t sz[32];
    swprintf(sz, 32, L"%.4hs-%02d-%02d %hs", pszDate + 7, nMonth, atoi(pszDate + 4), __TIME__);
    return MakeBstr(sz, pbstrDateTime);
}
