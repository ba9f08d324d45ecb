// Shared helpers for the encoder core tests: synthetic moving pictures,
// encoding loops, Annex-B parsing and ffmpeg round trips.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "H264Encoder.h"

namespace vtest {

struct Frame {
    int w = 0, h = 0;
    std::vector<uint8_t> y, u, v; // tightly packed, chroma (w+1)/2 x (h+1)/2
};

// Deterministic content with motion: a panning textured background moving by
// fractional amounts, a sliding block with sharp edges and shifting colour.
Frame MakeFrame(int w, int h, int t);

struct Encoded {
    std::vector<uint8_t> stream;
    std::vector<uint8_t> recon; // cropped I420 frames back to back
    std::vector<bool> idr;
    std::vector<size_t> frameBytes;
};

// Encodes `frames` pictures of MakeFrame content; forceAt lists frame
// indices before which ForceKeyFrame() is called.
Encoded EncodeClip(vcore::H264Encoder& enc, const vcore::EncoderSettings& s, int frames,
                   const std::vector<int>& forceAt = {});

struct Nal {
    int type = 0;
    int refIdc = 0;
    std::vector<uint8_t> rbsp; // payload after the header, emulation bytes removed
};
std::vector<Nal> SplitNals(const std::vector<uint8_t>& stream);

// Reads unsigned Exp-Golomb / fixed bits from an RBSP.
class BitReader {
public:
    explicit BitReader(const std::vector<uint8_t>& d) : d_(d) {}
    uint32_t Bits(int n);
    uint32_t Ue();
private:
    const std::vector<uint8_t>& d_;
    size_t pos_ = 0;
};

bool WriteFile(const std::string& path, const std::vector<uint8_t>& data);
std::vector<uint8_t> ReadFile(const std::string& path);

// Decodes an H.264 file with ffmpeg into raw I420. Returns ffmpeg's messages
// (errors only) in *log; false when ffmpeg failed.
bool DecodeWithFfmpeg(const std::string& in264, const std::string& outYuv, std::string* log);

} // namespace vtest
