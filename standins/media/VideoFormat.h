// What an uncompressed video media type says about the frames in its samples: the picture's
// size and place, and for each plane where its first picture row starts and how far apart its
// rows are, as the buffer really has it.
//
// Use: ReadVideoFormat(pmt, &fmt, &pszWhy) when a connection is proposed; it answers S_OK, or
// an error code with a sentence saying why the type is not taken. Then, for every sample,
// IsSampleLongEnough(fmt, pSample->GetActualDataLength()) before reading, and
// PlaneStart(fmt, pData, i) + row * fmt.rgPlanes[i].cbStride for row `row` of plane i.
//
// The rules the reader applies:
// - The buffer is biWidth x |biHeight| pixels. RGB rows are DWORD aligned as in any DIB and
//   stored bottom-up when biHeight > 0; YUV is always top-down.
// - Planar rows (I420, IYUV, YV12, NV12) are not always biWidth bytes: the platform's
//   splitters and decoders pad them to 4 bytes (an 854 x 480 I420 picture has 856-byte luma
//   and 428-byte chroma rows, biSizeImage 616320). biSizeImage decides between the natural
//   rows, the 4-byte rows and, for larger values, a luma stride it alone implies; a planar
//   type whose rows it cannot settle (0 where the candidates differ, or a size that matches
//   none or more than one) is refused.
// - The picture is rcTarget when it is set, else rcSource when set, else the whole buffer.
//   It must lie inside the buffer, and start on even columns (and for 4:2:0 even rows) where
//   chroma is shared between pixels.
#pragma once

#include <windows.h>

#include <cstddef>

#include "graph/DShow.h"

enum class VideoPixels { I420, YV12, NV12, YUY2, RGB24, RGB32 };

// One plane of the picture in the buffer. For I420 and YV12 the planes are Y, U, V whatever
// their order in memory; NV12 has Y and interleaved UV; packed formats one plane.
struct VideoPlane {
    std::ptrdiff_t cbOffset = 0;  // buffer start to the picture's first sample of this plane
    std::ptrdiff_t cbStride = 0;  // one picture row to the next (negative when bottom-up)
    int nRows = 0;                // picture rows in the plane
    int cbRow = 0;                // bytes of one picture row in the plane
};

struct VideoFormat {
    VideoPixels ePixels = VideoPixels::I420;
    bool bPlanar = false;
    int nWidth = 0;               // the picture
    int nHeight = 0;
    int nBufferWidth = 0;         // biWidth
    int nBufferRows = 0;          // |biHeight|
    bool bBottomUp = false;
    int nPlanes = 0;
    VideoPlane rgPlanes[3];
    size_t cbFrame = 0;           // bytes a sample must hold for the picture to be read
    REFERENCE_TIME tAvgTimePerFrame = 0;  // 0 = unknown
    DWORD dwInterlaceFlags = 0;   // VIDEOINFOHEADER2 only
    bool bInterlaced = false;
    bool bTopFieldFirst = false;  // meaningful when bInterlaced
    bool bFieldPerSample = false;
};

// The header every video format block starts with, compressed video's too: FORMAT_VideoInfo
// and FORMAT_MPEGVideo begin with a VIDEOINFOHEADER, FORMAT_VideoInfo2 and FORMAT_MPEG2Video
// with a VIDEOINFOHEADER2. Read for the size of a coded picture, a camera's format or a text;
// the layout of uncompressed frames is ReadVideoFormat's.
struct VideoHeader {
    GUID formattype = GUID_NULL;
    bool bInfo2 = false;                  // a VIDEOINFOHEADER2 (dwInterlaceFlags is read)
    RECT rcSource = {};
    RECT rcTarget = {};
    REFERENCE_TIME tAvgTimePerFrame = 0;  // as the block says
    DWORD dwInterlaceFlags = 0;
    BITMAPINFOHEADER bmi = {};
    // Rows of the picture, whichever way up.
    int Rows() const { return bmi.biHeight < 0 ? (int)-(long long)bmi.biHeight : (int)bmi.biHeight; }
};

// True and *pHeader when the type has one of those four format blocks, holding at least its
// header. The block is copied out, so it need not be aligned.
bool ReadVideoHeader(const AM_MEDIA_TYPE& mt, VideoHeader* pHeader);

// S_OK and *pFormat for a video type of the formats above, in FORMAT_VideoInfo or
// FORMAT_VideoInfo2. VFW_E_TYPE_NOT_ACCEPTED for any other type; VFW_E_INVALIDMEDIATYPE for
// one of ours whose layout cannot be worked out. *ppszWhy (optional) gets a sentence on
// every failure.
HRESULT ReadVideoFormat(const AM_MEDIA_TYPE* pmt, VideoFormat* pFormat, const wchar_t** ppszWhy = nullptr);

// Whether a sample of cbActual bytes holds every byte of the picture.
inline bool IsSampleLongEnough(const VideoFormat& fmt, long cbActual) {
    return cbActual >= 0 && (size_t)cbActual >= fmt.cbFrame;
}

inline const BYTE* PlaneStart(const VideoFormat& fmt, const BYTE* pData, int iPlane) {
    return pData + fmt.rgPlanes[iPlane].cbOffset;
}
