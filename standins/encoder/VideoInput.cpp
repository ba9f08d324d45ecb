#include "VideoInput.h"

#include <cstdlib>
#include <dvdmedia.h>

#include "graph/Vireon.h"

namespace {

struct FormatInfo {
    const GUID* pSubtype;
    vcore::PixelFormat eFormat;
    WORD wBits;
    bool bRgb;
};

const GUID kIYUV = MEDIASUBTYPE_IYUV;
const GUID kI420 = KIT_MEDIASUBTYPE_I420;

const FormatInfo kFormats[] = {
    {&kI420, vcore::PixelFormat::I420, 12, false},
    {&kIYUV, vcore::PixelFormat::I420, 12, false},
    {&MEDIASUBTYPE_YV12, vcore::PixelFormat::YV12, 12, false},
    {&MEDIASUBTYPE_NV12, vcore::PixelFormat::NV12, 12, false},
    {&MEDIASUBTYPE_YUY2, vcore::PixelFormat::YUY2, 16, false},
    {&MEDIASUBTYPE_RGB24, vcore::PixelFormat::RGB24, 24, true},
    {&MEDIASUBTYPE_RGB32, vcore::PixelFormat::RGB32, 32, true},
};

}  // namespace

const GUID* const g_rgInputSubtypes[] = {&kI420, &kIYUV, &MEDIASUBTYPE_YV12, &MEDIASUBTYPE_NV12,
                                         &MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32};
const int g_cInputSubtypes = sizeof(g_rgInputSubtypes) / sizeof(g_rgInputSubtypes[0]);

HRESULT ParseVideoInput(const AM_MEDIA_TYPE* pmt, VideoInput* pInput) {
    if (!pmt || !pInput) return E_POINTER;
    if (pmt->majortype != MEDIATYPE_Video || !pmt->pbFormat) return S_FALSE;
    const FormatInfo* pInfo = nullptr;
    for (const FormatInfo& f : kFormats)
        if (*f.pSubtype == pmt->subtype) pInfo = &f;
    if (!pInfo) return S_FALSE;

    const BITMAPINFOHEADER* pbmi = nullptr;
    RECT rcTarget = {};
    VideoInput in;
    if (pmt->formattype == FORMAT_VideoInfo && pmt->cbFormat >= sizeof(VIDEOINFOHEADER)) {
        auto* vih = (const VIDEOINFOHEADER*)pmt->pbFormat;
        pbmi = &vih->bmiHeader;
        rcTarget = vih->rcTarget;
        in.tAvgTimePerFrame = vih->AvgTimePerFrame;
    } else if (pmt->formattype == FORMAT_VideoInfo2 && pmt->cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        auto* vih2 = (const VIDEOINFOHEADER2*)pmt->pbFormat;
        pbmi = &vih2->bmiHeader;
        rcTarget = vih2->rcTarget;
        in.tAvgTimePerFrame = vih2->AvgTimePerFrame;
        if (vih2->dwInterlaceFlags & AMINTERLACE_IsInterlaced)
            in.eInterlacing = (vih2->dwInterlaceFlags & AMINTERLACE_Field1First) ? MRV264E_TopFieldFirst
                                                                                 : MRV264E_BottomFieldFirst;
    } else {
        return S_FALSE;
    }
    if (pbmi->biWidth <= 0 || pbmi->biHeight == 0 || pbmi->biWidth > 8192 || std::abs(pbmi->biHeight) > 8192)
        return S_FALSE;
    if (pInfo->bRgb && (pbmi->biCompression != BI_RGB || pbmi->biBitCount != pInfo->wBits)) return S_FALSE;
    if (in.tAvgTimePerFrame < 0) in.tAvgTimePerFrame = 0;

    const int nBufferWidth = pbmi->biWidth;
    in.nBufferRows = std::abs(pbmi->biHeight);
    in.nWidth = nBufferWidth;
    in.nHeight = in.nBufferRows;
    // A target rectangle narrower than the buffer means padded rows; only pictures that
    // start at the buffer's corner are taken.
    if (!IsRectEmpty(&rcTarget)) {
        if (rcTarget.left != 0 || rcTarget.top != 0 || rcTarget.right > nBufferWidth ||
            rcTarget.bottom > in.nBufferRows)
            return S_FALSE;
        in.nWidth = rcTarget.right;
        in.nHeight = rcTarget.bottom;
    }
    if (in.nWidth < 16 || in.nHeight < 16) return S_FALSE;

    in.eFormat = pInfo->eFormat;
    switch (pInfo->eFormat) {
    case vcore::PixelFormat::RGB24:
    case vcore::PixelFormat::RGB32:
        in.nStride = ((nBufferWidth * pInfo->wBits / 8) + 3) & ~3;  // DIB rows are DWORD aligned
        in.bBottomUp = pbmi->biHeight > 0;
        break;
    case vcore::PixelFormat::YUY2:
        in.nStride = nBufferWidth * 2;
        break;
    default:
        in.nStride = nBufferWidth;
        break;
    }
    in.cbFrame = vcore::BufferSize(in.eFormat, nBufferWidth, in.nBufferRows, in.nStride);
    *pInput = in;
    return S_OK;
}
