// Shared pieces of the encoder tests: media types and test pictures, graphs around the
// registered encoder, and reading the H.264 stream it produces.
#pragma once

#include <atlbase.h>

#include <string>
#include <vector>

#include "graph/Vireon.h"
#include "tests/support/KitTestFilters.h"

// An uncompressed video type. bTopDownRgb: negative biHeight for RGB. dwInterlace goes into
// VIDEOINFOHEADER2 (formattype FORMAT_VideoInfo2 when bInfo2).
CKitMediaType MakeRawType(const GUID& subtype, int width, int height, bool bInfo2 = false,
                          REFERENCE_TIME tFrame = 400000, DWORD dwInterlace = 0, bool bTopDownRgb = false);

// Four coloured quadrants (top-left red, top-right green, bottom-left blue, bottom-right
// white) in the layout of the type; RGB as the picture should look, YUV with the BT.601
// values of those colours.
void FillQuadrants(const AM_MEDIA_TYPE& mt, BYTE* pData, long cb);
struct Yuv {
    int y, u, v;
};
extern const Yuv kQuadrantColours[4];  // TL, TR, BL, BR

// One coded picture of the stream: its NAL type (5 IDR, 1 other) and slice type (0..9).
struct CodedFrame {
    int nalType = 0;
    int sliceType = -1;
    bool isIntra() const { return sliceType % 5 == 2; }
};
// The coded pictures of an Annex-B sample (normally one).
std::vector<CodedFrame> ParseAnnexB(const std::string& data);

// Writes the stream to a scratch .264 file; returns its Linux path.
std::string SaveStream(const std::string& data);
// ffprobe facts about a .264 file.
struct StreamFacts {
    int width = 0, height = 0, frames = 0;
    std::string errors;      // what ffmpeg complained about while decoding it all
    std::string keyFrames;   // key_frame flag of every frame, e.g. "100001000"
    std::string profile;
};
StreamFacts ProbeStream(const std::string& unixPath);
// Decodes the stream to planar yuv420p frames.
bool DecodeToYuv(const std::string& unixPath, std::string* yuv);

// Makes (once per run) a media file with ffmpeg: testsrc2 of the given size and frame count
// at 25 fps, with the given ffmpeg output options; returns its Linux path or "".
std::string MakeMediaFile(const std::string& name, const std::string& outputOptions, int width, int height,
                          int frames);

// The registered encoder, created through COM as the bench creates it.
HRESULT CreateEncoder(IBaseFilter** ppEncoder);

// Builds the playback graph of a media file, takes its video renderer out and hands out the
// pin that fed it.
HRESULT RenderFileWithoutVideoRenderer(IGraphBuilder* pGraph, const std::wstring& file, IPin** ppVideoOut);
// Pins of the filter by direction: counts and whether all are connected.
void CountPins(IBaseFilter* pFilter, int* pnIn, int* pnOut, bool* pbAllConnected);
