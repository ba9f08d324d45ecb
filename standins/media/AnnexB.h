// H.264 Annex-B byte streams: NAL unit scanning, access units and the SPS fields the
// MPEG-4 writer needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace annexb {

struct Nal {
    const uint8_t* p;  // first byte of the NAL header
    size_t cb;         // without start code and trailing zero bytes
    int Type() const { return p[0] & 0x1F; }
};

enum {
    NAL_SLICE = 1,
    NAL_IDR = 5,
    NAL_SEI = 6,
    NAL_SPS = 7,
    NAL_PPS = 8,
    NAL_AUD = 9,
};

// Every NAL unit of a byte stream in order. Bytes before the first start code are ignored.
std::vector<Nal> SplitNals(const uint8_t* p, size_t cb);

// Splits a whole elementary stream into access units (byte ranges, start codes included).
struct Range {
    size_t offset, cb;
};
std::vector<Range> SplitAccessUnits(const uint8_t* p, size_t cb);

struct SpsInfo {
    int profile = 0, constraints = 0, level = 0;
    int chromaFormat = 1, bitDepthLuma = 8, bitDepthChroma = 8;
    int width = 0, height = 0;  // displayed size, cropping applied
    bool frameMbsOnly = true;
};
// Reads the fields of an SPS NAL (header included). False when it is malformed.
bool ParseSps(const uint8_t* p, size_t cb, SpsInfo* pInfo);

}  // namespace annexb
