#include "VideoInput.h"

#include "graph/Vireon.h"

namespace {

const GUID kIYUV = MEDIASUBTYPE_IYUV;
const GUID kI420 = media::kSubtypeI420;

vcore::PixelFormat CoreFormat(VideoPixels e) {
    switch (e) {
    case VideoPixels::I420: return vcore::PixelFormat::I420;
    case VideoPixels::YV12: return vcore::PixelFormat::YV12;
    case VideoPixels::NV12: return vcore::PixelFormat::NV12;
    case VideoPixels::YUY2: return vcore::PixelFormat::YUY2;
    case VideoPixels::RGB24: return vcore::PixelFormat::RGB24;
    case VideoPixels::RGB32: return vcore::PixelFormat::RGB32;
    }
    return vcore::PixelFormat::I420;
}

}  // namespace

const GUID* const g_rgInputSubtypes[] = {&kI420, &kIYUV, &MEDIASUBTYPE_YV12, &MEDIASUBTYPE_NV12,
                                         &MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32};
const int g_cInputSubtypes = sizeof(g_rgInputSubtypes) / sizeof(g_rgInputSubtypes[0]);

HRESULT ParseVideoInput(const AM_MEDIA_TYPE* pmt, VideoInput* pInput, const wchar_t** ppszWhy) {
    if (!pInput) return E_POINTER;
    VideoInput in;
    HRESULT hr = ReadVideoFormat(pmt, &in.layout, ppszWhy);
    if (hr != S_OK) return hr;
    if (in.layout.nWidth < 16 || in.layout.nHeight < 16 || in.layout.nWidth > 8192 || in.layout.nHeight > 8192) {
        if (ppszWhy) *ppszWhy = L"a picture smaller than 16 x 16 or larger than 8192 x 8192";
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    in.eFormat = CoreFormat(in.layout.ePixels);
    in.nWidth = in.layout.nWidth;
    in.nHeight = in.layout.nHeight;
    in.tAvgTimePerFrame = in.layout.tAvgTimePerFrame;
    if (in.layout.bInterlaced)
        in.eInterlacing = in.layout.bTopFieldFirst ? MRV264E_TopFieldFirst : MRV264E_BottomFieldFirst;
    *pInput = in;
    return S_OK;
}

vcore::SourcePlanes SamplePlanes(const VideoInput& in, const BYTE* pData) {
    vcore::SourcePlanes planes;
    for (int i = 0; i < in.layout.nPlanes; ++i) {
        planes.plane[i] = PlaneStart(in.layout, pData, i);
        planes.stride[i] = in.layout.rgPlanes[i].cbStride;
    }
    return planes;
}
