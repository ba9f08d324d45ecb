// The uncompressed video the encoder takes: what a media type says about a frame's layout.
#pragma once

#include "standins/kit/FilterKit.h"

#include "Convert.h"

struct VideoInput {
    vcore::PixelFormat eFormat = vcore::PixelFormat::I420;
    int nWidth = 0;      // visible picture
    int nHeight = 0;
    int nBufferRows = 0;  // rows in the buffer (>= nHeight)
    int nStride = 0;     // bytes per row of the buffer (luma row for planar formats)
    bool bBottomUp = false;
    REFERENCE_TIME tAvgTimePerFrame = 0;  // 0 = unknown
    int eInterlacing = 1;                 // MRV264E_Progressive / TopFieldFirst / BottomFieldFirst
    size_t cbFrame = 0;                   // bytes a sample must hold
};

// The formats taken, in the order they are listed in the filter's registration.
extern const GUID* const g_rgInputSubtypes[];
extern const int g_cInputSubtypes;

// Reads a media type: S_OK and *pInput for uncompressed video in a format the encoder takes
// (FORMAT_VideoInfo or FORMAT_VideoInfo2, with a picture of at least 16 x 16), S_FALSE
// otherwise.
HRESULT ParseVideoInput(const AM_MEDIA_TYPE* pmt, VideoInput* pInput);
