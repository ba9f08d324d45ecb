// The uncompressed video the encoder takes: the layout of a media type's frames as the media
// layer reads it, and what the encoder makes of it.
#pragma once

#include "standins/kit/FilterKit.h"
#include "standins/media/VideoFormat.h"

#include "Convert.h"

struct VideoInput {
    VideoFormat layout;
    vcore::PixelFormat eFormat = vcore::PixelFormat::I420;
    int nWidth = 0;  // the picture
    int nHeight = 0;
    REFERENCE_TIME tAvgTimePerFrame = 0;  // 0 = unknown
    int eInterlacing = 1;                 // MRV264E_Progressive / TopFieldFirst / BottomFieldFirst
};

// The formats taken, in the order they are listed in the filter's registration.
extern const GUID* const g_rgInputSubtypes[];
extern const int g_cInputSubtypes;

// Reads a media type: S_OK and *pInput for uncompressed video the encoder takes (a format the
// media layer reads, with a picture of 16 x 16 to 8192 x 8192). VFW_E_TYPE_NOT_ACCEPTED for
// other types, VFW_E_INVALIDMEDIATYPE for video of ours whose layout cannot be worked out;
// *ppszWhy (optional) says why.
HRESULT ParseVideoInput(const AM_MEDIA_TYPE* pmt, VideoInput* pInput, const wchar_t** ppszWhy = nullptr);

// The planes of one sample's picture, for the converter.
vcore::SourcePlanes SamplePlanes(const VideoInput& in, const BYTE* pData);
