#include "standins/media/VideoFormat.h"

#include <dvdmedia.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

GUID FourCCSubtype(char a, char b, char c, char d) {
    GUID g = {MAKEFOURCC(a, b, c, d), 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
    return g;
}

struct PixelsInfo {
    GUID subtype;
    VideoPixels ePixels;
    int cbPixel;  // packed formats: bytes per pixel; planar: 0
};

const PixelsInfo* FindPixels(const GUID& subtype) {
    static const PixelsInfo kInfo[] = {
        {FourCCSubtype('I', '4', '2', '0'), VideoPixels::I420, 0},
        {FourCCSubtype('I', 'Y', 'U', 'V'), VideoPixels::I420, 0},
        {FourCCSubtype('Y', 'V', '1', '2'), VideoPixels::YV12, 0},
        {FourCCSubtype('N', 'V', '1', '2'), VideoPixels::NV12, 0},
        {FourCCSubtype('Y', 'U', 'Y', '2'), VideoPixels::YUY2, 2},
        {MEDIASUBTYPE_RGB24, VideoPixels::RGB24, 3},
        {MEDIASUBTYPE_RGB32, VideoPixels::RGB32, 4},
    };
    for (const PixelsInfo& info : kInfo)
        if (info.subtype == subtype) return &info;
    return nullptr;
}

int Align4(int n) { return (n + 3) & ~3; }

// Row strides of a planar buffer: luma, and chroma (NV12: the interleaved plane's).
struct PlanarRows {
    int cbLuma;
    int cbChroma;
    bool operator==(const PlanarRows& o) const { return cbLuma == o.cbLuma && cbChroma == o.cbChroma; }
};

size_t PlanarSize(VideoPixels e, const PlanarRows& r, int nRows) {
    const size_t nChromaRows = (size_t)(nRows + 1) / 2;
    const size_t cbLuma = (size_t)r.cbLuma * nRows;
    return e == VideoPixels::NV12 ? cbLuma + (size_t)r.cbChroma * nChromaRows
                                  : cbLuma + 2 * (size_t)r.cbChroma * nChromaRows;
}

// Settles the rows of a planar buffer of nWidth x nRows from biSizeImage; nullptr when it can,
// else the reason.
const wchar_t* SettlePlanarRows(VideoPixels e, int nWidth, int nRows, DWORD cbImage, PlanarRows* pRows) {
    const bool bNv12 = e == VideoPixels::NV12;
    const int cbChromaRow = bNv12 ? (nWidth + 1) & ~1 : (nWidth + 1) / 2;  // bytes of picture
    PlanarRows candidates[4];
    int cCandidates = 0;
    auto add = [&](PlanarRows r) {
        for (int i = 0; i < cCandidates; ++i)
            if (candidates[i] == r) return;
        candidates[cCandidates++] = r;
    };
    // As documented: rows of biWidth bytes.
    add(bNv12 ? PlanarRows{cbChromaRow, cbChromaRow} : PlanarRows{nWidth, cbChromaRow});
    // As the platform's splitters and decoders lay them out: every row padded to 4 bytes.
    add(bNv12 ? PlanarRows{Align4(nWidth), Align4(nWidth)} : PlanarRows{Align4(nWidth), Align4(cbChromaRow)});
    // Luma padded to 4 bytes, chroma rows half of it.
    if (!bNv12) add(PlanarRows{Align4(nWidth), Align4(nWidth) / 2});

    if (cbImage == 0) {
        if (cCandidates == 1) {
            *pRows = candidates[0];
            return nullptr;
        }
        return L"biSizeImage is 0 and the rows of this planar picture may be padded or not";
    }
    // A larger biSizeImage may imply wider rows of its own (luma, chroma half of it).
    const size_t nStrideRows = (size_t)nRows + (size_t)(nRows + 1) / 2;
    if (cbImage % nStrideRows == 0) {
        const size_t cbStride = cbImage / nStrideRows;
        if (cbStride % 2 == 0 && cbStride >= (size_t)std::max(nWidth, cbChromaRow) && cbStride <= 0x7fffffff)
            add(bNv12 ? PlanarRows{(int)cbStride, (int)cbStride} : PlanarRows{(int)cbStride, (int)cbStride / 2});
    }
    int cMatches = 0;
    for (int i = 0; i < cCandidates; ++i) {
        if (PlanarSize(e, candidates[i], nRows) != cbImage) continue;
        *pRows = candidates[i];
        ++cMatches;
    }
    if (cMatches == 1) return nullptr;
    return cMatches == 0 ? L"biSizeImage fits no row layout of this planar picture"
                         : L"biSizeImage fits more than one row layout of this planar picture";
}

HRESULT Refuse(HRESULT hr, const wchar_t* pszWhy, const wchar_t** ppszWhy) {
    if (ppszWhy) *ppszWhy = pszWhy;
    return hr;
}

}  // namespace

bool ReadVideoHeader(const AM_MEDIA_TYPE& mt, VideoHeader* pHeader) {
    const bool bInfo = mt.formattype == FORMAT_VideoInfo || mt.formattype == FORMAT_MPEGVideo;
    const bool bInfo2 = mt.formattype == FORMAT_VideoInfo2 || mt.formattype == FORMAT_MPEG2Video;
    if (!pHeader || !mt.pbFormat || !(bInfo || bInfo2)) return false;
    VideoHeader h;
    h.formattype = mt.formattype;
    h.bInfo2 = bInfo2;
    if (bInfo2) {
        VIDEOINFOHEADER2 vih2;
        if (mt.cbFormat < sizeof vih2) return false;
        memcpy(&vih2, mt.pbFormat, sizeof vih2);
        h.rcSource = vih2.rcSource;
        h.rcTarget = vih2.rcTarget;
        h.tAvgTimePerFrame = vih2.AvgTimePerFrame;
        h.dwInterlaceFlags = vih2.dwInterlaceFlags;
        h.bmi = vih2.bmiHeader;
    } else {
        VIDEOINFOHEADER vih;
        if (mt.cbFormat < sizeof vih) return false;
        memcpy(&vih, mt.pbFormat, sizeof vih);
        h.rcSource = vih.rcSource;
        h.rcTarget = vih.rcTarget;
        h.tAvgTimePerFrame = vih.AvgTimePerFrame;
        h.bmi = vih.bmiHeader;
    }
    *pHeader = h;
    return true;
}

HRESULT ReadVideoFormat(const AM_MEDIA_TYPE* pmt, VideoFormat* pFormat, const wchar_t** ppszWhy) {
    if (ppszWhy) *ppszWhy = nullptr;
    if (!pmt || !pFormat) return Refuse(E_POINTER, L"no media type", ppszWhy);
    if (pmt->majortype != MEDIATYPE_Video) return Refuse(VFW_E_TYPE_NOT_ACCEPTED, L"not video", ppszWhy);
    const PixelsInfo* pInfo = FindPixels(pmt->subtype);
    if (!pInfo) return Refuse(VFW_E_TYPE_NOT_ACCEPTED, L"a subtype that is not read", ppszWhy);

    VideoHeader header;
    if (!ReadVideoHeader(*pmt, &header) ||
        (header.formattype != FORMAT_VideoInfo && header.formattype != FORMAT_VideoInfo2))
        return Refuse(VFW_E_TYPE_NOT_ACCEPTED, L"no VIDEOINFOHEADER or VIDEOINFOHEADER2 format block", ppszWhy);
    VideoFormat fmt;
    const BITMAPINFOHEADER* pbmi = &header.bmi;
    const RECT rcSource = header.rcSource, rcTarget = header.rcTarget;
    fmt.tAvgTimePerFrame = header.tAvgTimePerFrame;
    if (header.bInfo2) {
        fmt.dwInterlaceFlags = header.dwInterlaceFlags;
        fmt.bInterlaced = (header.dwInterlaceFlags & AMINTERLACE_IsInterlaced) != 0;
        fmt.bTopFieldFirst = fmt.bInterlaced && (header.dwInterlaceFlags & AMINTERLACE_Field1First) != 0;
        fmt.bFieldPerSample = fmt.bInterlaced && (header.dwInterlaceFlags & AMINTERLACE_1FieldPerSample) != 0;
    }
    if (fmt.tAvgTimePerFrame < 0) fmt.tAvgTimePerFrame = 0;

    const bool bRgb = pInfo->ePixels == VideoPixels::RGB24 || pInfo->ePixels == VideoPixels::RGB32;
    if (bRgb && (pbmi->biCompression != BI_RGB || pbmi->biBitCount != pInfo->cbPixel * 8))
        return Refuse(VFW_E_INVALIDMEDIATYPE, L"an RGB type whose header is not BI_RGB of its bit count", ppszWhy);
    if (pbmi->biWidth <= 0 || pbmi->biHeight == 0 || pbmi->biWidth > 16384 || pbmi->biHeight > 16384 ||
        pbmi->biHeight < -16384)
        return Refuse(VFW_E_INVALIDMEDIATYPE, L"a buffer size out of range", ppszWhy);

    fmt.ePixels = pInfo->ePixels;
    fmt.bPlanar = pInfo->cbPixel == 0;
    fmt.nBufferWidth = pbmi->biWidth;
    fmt.nBufferRows = std::abs(pbmi->biHeight);
    fmt.bBottomUp = bRgb && pbmi->biHeight > 0;  // YUV is top-down whatever the sign

    // The picture inside the buffer.
    RECT rc = {0, 0, fmt.nBufferWidth, fmt.nBufferRows};
    if (!IsRectEmpty(&rcTarget))
        rc = rcTarget;
    else if (!IsRectEmpty(&rcSource))
        rc = rcSource;
    if (rc.left < 0 || rc.top < 0 || rc.right > fmt.nBufferWidth || rc.bottom > fmt.nBufferRows ||
        rc.left >= rc.right || rc.top >= rc.bottom)
        return Refuse(VFW_E_INVALIDMEDIATYPE, L"a picture rectangle outside the buffer", ppszWhy);
    const bool bChromaColumns = pInfo->ePixels != VideoPixels::RGB24 && pInfo->ePixels != VideoPixels::RGB32;
    if ((bChromaColumns && rc.left % 2) || (fmt.bPlanar && rc.top % 2))
        return Refuse(VFW_E_INVALIDMEDIATYPE, L"a picture rectangle that splits shared chroma samples", ppszWhy);
    fmt.nWidth = rc.right - rc.left;
    fmt.nHeight = rc.bottom - rc.top;

    const DWORD cbImage = pbmi->biSizeImage;
    if (fmt.bPlanar) {
        PlanarRows rows;
        if (const wchar_t* pszWhy = SettlePlanarRows(fmt.ePixels, fmt.nBufferWidth, fmt.nBufferRows, cbImage, &rows))
            return Refuse(VFW_E_INVALIDMEDIATYPE, pszWhy, ppszWhy);
        const int nChromaRows = (fmt.nBufferRows + 1) / 2;
        const std::ptrdiff_t cbLumaPlane = (std::ptrdiff_t)rows.cbLuma * fmt.nBufferRows;
        const std::ptrdiff_t cbChromaPlane = (std::ptrdiff_t)rows.cbChroma * nChromaRows;
        VideoPlane& y = fmt.rgPlanes[0];
        y.cbStride = rows.cbLuma;
        y.cbOffset = (std::ptrdiff_t)rc.top * rows.cbLuma + rc.left;
        y.nRows = fmt.nHeight;
        y.cbRow = fmt.nWidth;
        const std::ptrdiff_t cbChromaStart = (std::ptrdiff_t)(rc.top / 2) * rows.cbChroma;
        if (fmt.ePixels == VideoPixels::NV12) {
            fmt.nPlanes = 2;
            VideoPlane& uv = fmt.rgPlanes[1];
            uv.cbStride = rows.cbChroma;
            uv.cbOffset = cbLumaPlane + cbChromaStart + rc.left;
            uv.nRows = (fmt.nHeight + 1) / 2;
            uv.cbRow = 2 * ((fmt.nWidth + 1) / 2);
        } else {
            fmt.nPlanes = 3;
            const bool bYv12 = fmt.ePixels == VideoPixels::YV12;
            for (int i = 1; i <= 2; ++i) {
                VideoPlane& c = fmt.rgPlanes[i];
                const bool bSecond = (i == 2) != bYv12;  // I420: U, V; YV12: V, U
                c.cbStride = rows.cbChroma;
                c.cbOffset = cbLumaPlane + (bSecond ? cbChromaPlane : 0) + cbChromaStart + rc.left / 2;
                c.nRows = (fmt.nHeight + 1) / 2;
                c.cbRow = (fmt.nWidth + 1) / 2;
            }
        }
    } else {
        // Packed rows are DWORD aligned, as in any DIB (YUY2 rows of whole pixel pairs already are).
        const int cbStride = pInfo->ePixels == VideoPixels::YUY2 ? ((fmt.nBufferWidth + 1) / 2) * 4
                                                                 : Align4(fmt.nBufferWidth * pInfo->cbPixel);
        const size_t cbBuffer = (size_t)cbStride * fmt.nBufferRows;
        if (cbImage != 0 && cbImage < cbBuffer)
            return Refuse(VFW_E_INVALIDMEDIATYPE, L"biSizeImage is smaller than the rows of the buffer", ppszWhy);
        fmt.nPlanes = 1;
        VideoPlane& p = fmt.rgPlanes[0];
        const int nFirstRow = fmt.bBottomUp ? fmt.nBufferRows - 1 - rc.top : rc.top;
        p.cbStride = fmt.bBottomUp ? -cbStride : cbStride;
        p.cbOffset = (std::ptrdiff_t)nFirstRow * cbStride + (std::ptrdiff_t)rc.left * pInfo->cbPixel;
        p.nRows = fmt.nHeight;
        p.cbRow = fmt.ePixels == VideoPixels::YUY2 ? ((fmt.nWidth + 1) / 2) * 4 : fmt.nWidth * pInfo->cbPixel;
    }

    // The last byte any picture row reaches.
    size_t cbEnd = 0;
    for (int i = 0; i < fmt.nPlanes; ++i) {
        const VideoPlane& p = fmt.rgPlanes[i];
        const std::ptrdiff_t last = p.cbOffset + (std::ptrdiff_t)(p.nRows - 1) * p.cbStride;
        cbEnd = std::max(cbEnd, (size_t)(std::max(p.cbOffset, last) + p.cbRow));
    }
    fmt.cbFrame = cbEnd;
    *pFormat = fmt;
    return S_OK;
}
