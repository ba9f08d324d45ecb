#include "standins/h264decoder/H264Decoder.h"

#include "graph/Vireon.h"
#include "standins/media/AnnexB.h"
#include "standins/media/MediaType.h"
#include "standins/media/VideoFormat.h"

#include <dvdmedia.h>
#include <mferror.h>

#include <algorithm>
#include <cstring>

namespace {

template <class T>
void SafeRelease(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

// Picture size and frame duration from the input's format block.
bool ReadPictureSize(const AM_MEDIA_TYPE* pmt, int* pnW, int* pnH, REFERENCE_TIME* ptFrame) {
    VideoHeader header;
    *ptFrame = 0;
    if (!ReadVideoHeader(*pmt, &header)) return false;
    *ptFrame = header.tAvgTimePerFrame;
    if (header.bmi.biWidth <= 0 || header.bmi.biHeight == 0) return false;
    *pnW = header.bmi.biWidth;
    *pnH = header.Rows();
    return true;
}

// Media Foundation is started once, by the first decoder, and left started for the life of
// the process: the platform keeps a few small blocks of every start and shutdown pair, so a
// pair per decoder left them behind at every graph build.
void StartMediaFoundation() {
    static const HRESULT hr = ::MFStartup(MF_VERSION, MFSTARTUP_LITE);
    (void)hr;
}

inline uint8_t Clamp(int v) { return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v); }

// BT.601 limited range YUV to 32-bit BGRX, written bottom-up (as RGB DIBs are).
void YuvToRgb32(const uint8_t* pY, LONG strideY, const uint8_t* pU, const uint8_t* pV,
                LONG strideUV, int stepUV, int w, int h, uint8_t* pDst) {
    for (int y = 0; y < h; ++y) {
        const uint8_t* rowY = pY + (size_t)y * strideY;
        const uint8_t* rowU = pU + (size_t)(y / 2) * strideUV;
        const uint8_t* rowV = pV + (size_t)(y / 2) * strideUV;
        uint8_t* out = pDst + (size_t)(h - 1 - y) * w * 4;
        for (int x = 0; x < w; ++x) {
            int c = 298 * (rowY[x] - 16);
            int d = rowU[(x / 2) * stepUV] - 128, e = rowV[(x / 2) * stepUV] - 128;
            out[x * 4 + 0] = Clamp((c + 516 * d + 128) >> 8);
            out[x * 4 + 1] = Clamp((c - 100 * d - 208 * e + 128) >> 8);
            out[x * 4 + 2] = Clamp((c + 409 * e + 128) >> 8);
            out[x * 4 + 3] = 0;
        }
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Filter

CKitUnknown* CH264Decoder::Create(IUnknown* pOuter, HRESULT* phr) {
    *phr = S_OK;
    return new CH264Decoder(pOuter, CLSID_VireonDecoder);
}

CKitUnknown* CH264Decoder::CreateAlt(IUnknown* pOuter, HRESULT* phr) {
    *phr = S_OK;
    return new CH264Decoder(pOuter, CLSID_VireonDecoderAlt);
}

CH264Decoder::CH264Decoder(IUnknown* pOuter, REFCLSID clsid)
    : CKitTransform(L"Morvane H264 Decoder", pOuter, clsid) {
    StartMediaFoundation();
}

CH264Decoder::~CH264Decoder() { ReleaseTransform(); }

HRESULT STDMETHODCALLTYPE CH264Decoder::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IQualProp) return GetInterface(static_cast<IQualProp*>(this), ppv);
    return CKitTransform::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CH264Decoder::get_FramesDroppedInRenderer(int* pcFrames) {
    if (!pcFrames) return E_POINTER;
    *pcFrames = 0;
    return S_OK;
}

STDMETHODIMP CH264Decoder::get_FramesDrawn(int* pcFramesDrawn) {
    if (!pcFramesDrawn) return E_POINTER;
    *pcFramesDrawn = (int)m_nDelivered;
    return S_OK;
}

STDMETHODIMP CH264Decoder::get_AvgFrameRate(int* piAvgFrameRate) {
    if (!piAvgFrameRate) return E_POINTER;
    // Frames per second times 100, from the input's format.
    *piAvgFrameRate = m_tFrame > 0 ? (int)(1000000000 / m_tFrame) : 0;
    return S_OK;
}

STDMETHODIMP CH264Decoder::get_Jitter(int*) { return E_NOTIMPL; }
STDMETHODIMP CH264Decoder::get_AvgSyncOffset(int*) { return E_NOTIMPL; }
STDMETHODIMP CH264Decoder::get_DevSyncOffset(int*) { return E_NOTIMPL; }

// ---------------------------------------------------------------------------------------
// Types and connection

HRESULT CH264Decoder::CheckInputType(const AM_MEDIA_TYPE* pmt) {
    int w, h;
    REFERENCE_TIME t;
    if (pmt->majortype != MEDIATYPE_Video || !media::IsH264ByteStreamSubtype(pmt->subtype)) return S_FALSE;
    return ReadPictureSize(pmt, &w, &h, &t) ? S_OK : S_FALSE;
}

HRESULT CH264Decoder::CheckOutputType(const AM_MEDIA_TYPE* pmt) {
    if (pmt->majortype != MEDIATYPE_Video || pmt->subtype != MEDIASUBTYPE_RGB32 ||
        pmt->formattype != FORMAT_VideoInfo || pmt->cbFormat < sizeof(VIDEOINFOHEADER))
        return S_FALSE;
    const BITMAPINFOHEADER& bmi = ((const VIDEOINFOHEADER*)pmt->pbFormat)->bmiHeader;
    return bmi.biWidth == m_nWidth && bmi.biHeight == m_nHeight && bmi.biBitCount == 32 ? S_OK : S_FALSE;
}

HRESULT CH264Decoder::GetOutputType(int iPosition, CKitMediaType* pmt) {
    if (iPosition != 0) return VFW_S_NO_MORE_ITEMS;
    const int w = m_nWidth, h = m_nHeight;
    pmt->Set(MEDIATYPE_Video, MEDIASUBTYPE_RGB32, FORMAT_VideoInfo);
    auto* pvi = (VIDEOINFOHEADER*)pmt->AllocFormat(sizeof(VIDEOINFOHEADER));
    pvi->AvgTimePerFrame = m_tFrame;
    pvi->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    pvi->bmiHeader.biWidth = w;
    pvi->bmiHeader.biHeight = h;
    pvi->bmiHeader.biPlanes = 1;
    pvi->bmiHeader.biBitCount = 32;
    pvi->bmiHeader.biCompression = BI_RGB;
    pvi->bmiHeader.biSizeImage = (DWORD)(w * h * 4);
    pmt->bFixedSizeSamples = TRUE;
    pmt->lSampleSize = (ULONG)(w * h * 4);
    return S_OK;
}

HRESULT CH264Decoder::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) {
    return CKitOutputPin::SetBufferProperties(pAlloc, pProps, 2, m_nWidth * m_nHeight * 4);
}

void CH264Decoder::ReleaseTransform() { SafeRelease(m_pTransform); }

void CH264Decoder::OnInputDisconnected() { ReleaseTransform(); }

HRESULT CH264Decoder::OnInputConnected(const AM_MEDIA_TYPE& mt) {
    ReleaseTransform();
    const AM_MEDIA_TYPE* pmt = &mt;
    if (!ReadPictureSize(pmt, &m_nWidth, &m_nHeight, &m_tFrame)) return VFW_E_TYPE_NOT_ACCEPTED;
    HRESULT hr = ::CoCreateInstance(CLSID_PlatformH264DecoderMFT, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IMFTransform, (void**)&m_pTransform);
    if (FAILED(hr)) return hr;
    IMFMediaType* pType = nullptr;
    hr = ::MFCreateMediaType(&pType);
    if (SUCCEEDED(hr)) hr = pType->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    if (SUCCEEDED(hr)) hr = pType->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264);
    if (SUCCEEDED(hr))
        hr = pType->SetUINT64(MF_MT_FRAME_SIZE, ((UINT64)m_nWidth << 32) | (UINT32)m_nHeight);
    if (SUCCEEDED(hr) && m_tFrame > 0)
        hr = pType->SetUINT64(MF_MT_FRAME_RATE, ((UINT64)10000000 << 32) | (UINT32)m_tFrame);
    if (SUCCEEDED(hr)) hr = m_pTransform->SetInputType(0, pType, 0);
    SafeRelease(pType);
    if (SUCCEEDED(hr)) hr = ChooseOutputType();
    if (FAILED(hr)) ReleaseTransform();
    return hr;
}

HRESULT CH264Decoder::ChooseOutputType() {
    // Planar or semi-planar 4:2:0, in this order of preference.
    static const GUID* const kWanted[] = {&MFVideoFormat_NV12, &MFVideoFormat_I420,
                                          &MFVideoFormat_IYUV, &MFVideoFormat_YV12};
    for (const GUID* pWanted : kWanted) {
        IMFMediaType* pType = nullptr;
        for (DWORD i = 0; m_pTransform->GetOutputAvailableType(0, i, &pType) == S_OK; ++i) {
            GUID sub = GUID_NULL;
            pType->GetGUID(MF_MT_SUBTYPE, &sub);
            if (sub == *pWanted && SUCCEEDED(m_pTransform->SetOutputType(0, pType, 0))) {
                m_outSubtype = sub;
                UINT64 size = 0;
                pType->GetUINT64(MF_MT_FRAME_SIZE, &size);
                m_nOutWidth = (UINT32)(size >> 32);
                m_nOutHeight = (UINT32)size;
                UINT32 stride = 0;
                m_nOutStride = SUCCEEDED(pType->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride))
                                   ? (LONG)stride
                                   : (LONG)m_nOutWidth;
                if (m_nOutStride < 0) m_nOutStride = -m_nOutStride;
                pType->Release();
                MFT_OUTPUT_STREAM_INFO info = {};
                HRESULT hr = m_pTransform->GetOutputStreamInfo(0, &info);
                if (FAILED(hr)) return hr;
                m_bTransformAllocates = (info.dwFlags & (MFT_OUTPUT_STREAM_PROVIDES_SAMPLES |
                                                         MFT_OUTPUT_STREAM_CAN_PROVIDE_SAMPLES)) != 0;
                m_cbOutSample = info.cbSize;
                return S_OK;
            }
            pType->Release();
            pType = nullptr;
        }
    }
    return VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CH264Decoder::OnStart() {
    m_nDelivered = 0;
    m_nPicturesIn = m_nPicturesOut = 0;
    m_lastPicture.clear();
    if (!m_pTransform) return S_OK;
    m_pTransform->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
    m_pTransform->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);
    return S_OK;
}

HRESULT CH264Decoder::OnStop() {
    if (!m_pTransform) return S_OK;
    m_pTransform->ProcessMessage(MFT_MESSAGE_COMMAND_FLUSH, 0);
    m_pTransform->ProcessMessage(MFT_MESSAGE_NOTIFY_END_STREAMING, 0);
    return S_OK;
}

// ---------------------------------------------------------------------------------------
// Streaming

HRESULT CH264Decoder::Transform(IMediaSample* pSample) {
    if (!m_pTransform) return E_UNEXPECTED;
    BYTE* pData = nullptr;
    HRESULT hr = pSample->GetPointer(&pData);
    if (FAILED(hr)) return hr;
    long cb = pSample->GetActualDataLength();
    if (cb <= 0) return S_OK;
    REFERENCE_TIME tStart = 0, tStop = 0;
    HRESULT hrTime = pSample->GetTime(&tStart, &tStop);
    m_bTimed = SUCCEEDED(hrTime);
    REFERENCE_TIME tDuration = hrTime == S_OK && tStop > tStart ? tStop - tStart : m_tFrame;

    // Pictures in, for the end of the stream (parameter sets alone make none).
    bool bPicture = false;
    for (const annexb::Nal& nal : annexb::SplitNals(pData, (size_t)cb))
        bPicture |= nal.Type() == annexb::NAL_SLICE || nal.Type() == annexb::NAL_IDR;
    if (bPicture) {
        ++m_nPicturesIn;
        m_lastPicture.assign(pData, pData + cb);
        m_tLast = tStart;
        m_tLastDuration = tDuration;
    }
    hr = Feed(pData, (DWORD)cb, m_bTimed, tStart, tDuration);
    return FAILED(hr) ? hr : DrainOutput();
}

HRESULT CH264Decoder::Feed(const BYTE* pData, DWORD cb, bool bTimed, REFERENCE_TIME tStart,
                           REFERENCE_TIME tDuration) {
    IMFMediaBuffer* pBuffer = nullptr;
    IMFSample* pIn = nullptr;
    HRESULT hr = ::MFCreateMemoryBuffer(cb, &pBuffer);
    if (SUCCEEDED(hr)) {
        BYTE* p = nullptr;
        hr = pBuffer->Lock(&p, nullptr, nullptr);
        if (SUCCEEDED(hr)) {
            memcpy(p, pData, cb);
            pBuffer->Unlock();
            hr = pBuffer->SetCurrentLength(cb);
        }
    }
    if (SUCCEEDED(hr)) hr = ::MFCreateSample(&pIn);
    if (SUCCEEDED(hr)) hr = pIn->AddBuffer(pBuffer);
    if (SUCCEEDED(hr) && bTimed) {
        pIn->SetSampleTime(tStart);
        if (tDuration > 0) pIn->SetSampleDuration(tDuration);
    }
    if (SUCCEEDED(hr)) {
        hr = m_pTransform->ProcessInput(0, pIn, 0);
        if (hr == MF_E_NOTACCEPTING) {
            hr = DrainOutput();
            if (SUCCEEDED(hr)) hr = m_pTransform->ProcessInput(0, pIn, 0);
        }
    }
    SafeRelease(pIn);
    SafeRelease(pBuffer);
    return hr;
}

HRESULT CH264Decoder::DrainOutput() {
    for (;;) {
        MFT_OUTPUT_DATA_BUFFER out = {};
        IMFSample* pOwn = nullptr;
        if (!m_bTransformAllocates) {
            IMFMediaBuffer* pBuffer = nullptr;
            DWORD cb = m_cbOutSample ? m_cbOutSample : m_nOutStride * m_nOutHeight * 3 / 2;
            HRESULT hr = ::MFCreateMemoryBuffer(cb, &pBuffer);
            if (SUCCEEDED(hr)) hr = ::MFCreateSample(&pOwn);
            if (SUCCEEDED(hr)) hr = pOwn->AddBuffer(pBuffer);
            SafeRelease(pBuffer);
            if (FAILED(hr)) {
                SafeRelease(pOwn);
                return hr;
            }
            out.pSample = pOwn;
        }
        DWORD dwStatus = 0;
        HRESULT hr = m_pTransform->ProcessOutput(0, 1, &out, &dwStatus);
        SafeRelease(out.pEvents);
        if (hr == MF_E_TRANSFORM_NEED_MORE_INPUT) {
            if (out.pSample != pOwn) SafeRelease(out.pSample);
            SafeRelease(pOwn);
            return S_OK;
        }
        if (hr == MF_E_TRANSFORM_STREAM_CHANGE) {
            if (out.pSample != pOwn) SafeRelease(out.pSample);
            SafeRelease(pOwn);
            hr = ChooseOutputType();
            if (FAILED(hr)) return hr;
            continue;
        }
        if (FAILED(hr)) {
            if (out.pSample != pOwn) SafeRelease(out.pSample);
            SafeRelease(pOwn);
            return hr;
        }
        hr = DeliverPicture(out.pSample);
        if (out.pSample != pOwn) SafeRelease(out.pSample);
        SafeRelease(pOwn);
        if (hr != S_OK) return hr;
    }
}

HRESULT CH264Decoder::DeliverPicture(IMFSample* pPicture) {
    if (!pPicture) return S_OK;
    if (m_bFlushingTail && m_nPicturesOut >= m_nPicturesIn) return S_OK;  // a repeat
    ++m_nPicturesOut;
    IMFMediaBuffer* pBuffer = nullptr;
    HRESULT hr = pPicture->ConvertToContiguousBuffer(&pBuffer);
    if (FAILED(hr)) return hr;
    BYTE* pSrc = nullptr;
    DWORD cbSrc = 0;
    hr = pBuffer->Lock(&pSrc, nullptr, &cbSrc);
    if (FAILED(hr)) {
        pBuffer->Release();
        return hr;
    }
    IMediaSample* pOut = nullptr;
    hr = Output()->IsConnected() ? Output()->GetDeliveryBuffer(&pOut) : S_FALSE;
    const int w = std::min<int>(m_nWidth, (int)m_nOutWidth), h = std::min<int>(m_nHeight, (int)m_nOutHeight);
    const size_t cbLuma = (size_t)m_nOutStride * m_nOutHeight;
    if (hr == S_OK && pOut && cbSrc >= cbLuma * 3 / 2 && w == m_nWidth && h == m_nHeight) {
        BYTE* pDst = nullptr;
        pOut->GetPointer(&pDst);
        const uint8_t* pY = pSrc;
        if (m_outSubtype == MFVideoFormat_NV12) {
            YuvToRgb32(pY, m_nOutStride, pSrc + cbLuma, pSrc + cbLuma + 1, m_nOutStride, 2, w, h, pDst);
        } else {
            const size_t cbChroma = cbLuma / 4;
            const uint8_t* pU = pSrc + cbLuma;
            const uint8_t* pV = pU + cbChroma;
            if (m_outSubtype == MFVideoFormat_YV12) std::swap(pU, pV);
            YuvToRgb32(pY, m_nOutStride, pU, pV, m_nOutStride / 2, 1, w, h, pDst);
        }
        pOut->SetActualDataLength(w * h * 4);
        LONGLONG t = 0, d = 0;
        if (m_bTimed && SUCCEEDED(pPicture->GetSampleTime(&t))) {
            REFERENCE_TIME tStart = t, tStop = t + (SUCCEEDED(pPicture->GetSampleDuration(&d)) && d > 0 ? d : m_tFrame);
            pOut->SetTime(&tStart, &tStop);
        } else {
            pOut->SetTime(nullptr, nullptr);
        }
        pOut->SetSyncPoint(TRUE);
        hr = Output()->Deliver(pOut);
        if (hr == S_OK) ::InterlockedIncrement(&m_nDelivered);
    } else if (hr == S_OK) {
        hr = E_UNEXPECTED;  // a picture of another size than the connection's
    }
    if (pOut) pOut->Release();
    pBuffer->Unlock();
    pBuffer->Release();
    return hr;
}

void CH264Decoder::OnFlush() {
    if (m_pTransform) m_pTransform->ProcessMessage(MFT_MESSAGE_COMMAND_FLUSH, 0);
}

HRESULT CH264Decoder::OnEndOfStream() {
    if (m_pTransform) {
        m_pTransform->ProcessMessage(MFT_MESSAGE_NOTIFY_END_OF_STREAM, 0);
        m_pTransform->ProcessMessage(MFT_MESSAGE_COMMAND_DRAIN, 0);
        DrainOutput();
        // The platform's transform here ignores the drain and keeps the last pictures until
        // more input comes: push the last picture again until every picture received is
        // out; the repeats themselves are not delivered.
        m_bFlushingTail = true;
        for (int i = 1; i <= 16 && m_nPicturesOut < m_nPicturesIn && !m_lastPicture.empty(); ++i) {
            if (FAILED(Feed(m_lastPicture.data(), (DWORD)m_lastPicture.size(), m_bTimed,
                            m_tLast + i * m_tLastDuration, m_tLastDuration)) ||
                FAILED(DrainOutput()))
                break;
        }
        m_bFlushingTail = false;
        m_pTransform->ProcessMessage(MFT_MESSAGE_COMMAND_FLUSH, 0);
    }
    return S_OK;
}
