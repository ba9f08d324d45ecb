// vcore: a small H.264 (Baseline) encoder used by the
// stand-in encoder filter of the Quorlin test bench.
//
// Output: Annex-B byte stream (start code 00 00 00 01 before every NAL unit).
// Coding tools: I and P slices (one slice per picture), Intra16x16 (4 modes),
// Intra4x4 (9 modes), chroma intra (4 modes), P_L0_16x16, 16x8, 8x16 and
// P_8x8 (four 8x8 blocks) with quarter-pel motion vectors, P_Skip, CAVLC,
// in-loop deblocking, one reference frame.
//
// Usage:
//   vcore::H264Encoder enc;
//   vcore::EncoderSettings s; s.width = 720; s.height = 576; s.fps = 25; ...
//   if (!enc.Open(s)) { error }
//   vcore::UsedSettings used = enc.Used();   // what is actually applied
//   for each frame: enc.Encode(y, sy, u, su, v, sv, out, &isIdr);
//
// Frame structure:
//   * The frame is an I frame when its index since the last GOP start is a
//     multiple of the GOP size (gopSize; 0 = automatic = round(fps) frames).
//   * Every idrInterval-th I frame is an IDR (1 = every I frame is an IDR).
//     idrInterval 0 means: only the first frame (and forced key frames) are IDR,
//     all later I frames are non-IDR I frames.
//   * ForceKeyFrame(): the next encoded frame is an IDR. If exactGop is false
//     the GOP restarts at that frame; if exactGop is true the regular I-frame
//     grid (multiples of gopSize counted from the first frame) is kept.
//   * SPS and PPS are emitted in front of every IDR.
//
// Speed/quality (1 fastest .. 7 best):
//   1  full-pel hexagon search seeded with the neighbours' and the previous
//      picture's vectors, SAD-based decisions, Intra4x4 with 3 modes in I slices
//   2  + half-pel refinement, Intra4x4 with 5 modes
//   3  + quarter-pel, SATD-based decisions, all 9 Intra4x4 modes, 16x8,
//      8x16 and 8x8 partitions
//   4  + Intra4x4 (5 modes) for intra macroblocks in P slices
//   5  + SATD for sub-pel decisions
//   6  longer search, all 9 Intra4x4 modes in P slices
//   7  + full search of +-3 samples around the hexagon search result
//
// Rate control (one QP per picture): CBR steers towards bitrate/fps per frame
// and corrects the running error within about a second; when even QP 51 is
// too much, rows of macroblocks are coded coarser still (intra ones with
// their DC coefficients only, inter ones with their prediction alone), and
// only where the decoder's buffer cannot take even that is a picture coded
// as all-skip; when the content cannot use the rate (QP 10, or pictures
// that get cheaper faster than the QP can follow) it appends filler data
// NAL units so the rate holds. VBR corrects over a few seconds and lets the
// QP move slowly. Fixed QP uses `qp` for every picture.
//
// Odd widths/heights: chroma of an odd-sized I420 picture has (w+1)/2 columns;
// such pictures are coded and reported with the size rounded up to even (the
// last column/row is repeated), since 4:2:0 cropping works in 2-pixel units.
//
// Threads: each thread codes one slice of a picture, a band of whole
// macroblock rows of about the same work (bands follow the pictures'
// estimated cost, so their boundaries move from picture to picture). One
// thread gives one slice, the stream it always gave; n threads give n slices
// per picture (fewer rows than threads: one slice per row), and the same
// stream on every run. Each slice is loop-filtered on its own (not across
// slice edges), so no thread waits for another. Slices cost some compression
// (no prediction across them): the speed benchmark prints how much against
// one thread.
//
// One instance per stream; its calls come from one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vcore {

enum RateControlMode { kRateCbr = 0, kRateVbr = 1, kRateFixedQp = 2 };

struct EncoderSettings {
    int width = 0;              // luma width in pixels, >= 16
    int height = 0;             // luma height in pixels, >= 16
    double fps = 25.0;          // frame rate (> 0)
    int rateControl = kRateCbr; // RateControlMode
    int bitrateKbps = 2000;     // target for CBR/VBR
    int qp = 26;                // fixed-QP mode: 0..51; CBR/VBR: ignored
    int profile = 66;           // requested profile_idc (only 66 is produced)
    int level = 0;              // requested level_idc (10..52), 0 = automatic
    int gopSize = 0;            // I-frame period in frames, 0 = automatic
    bool exactGop = false;      // keep the I-frame grid across forced key frames
    int idrInterval = 1;        // every Nth I frame is an IDR; 0 = first only
    int bFrames = 0;            // requested B frames (Baseline: always 0)
    bool cavlc = true;          // requested entropy coder (Baseline: CAVLC)
    int speedQuality = 4;       // 1 = fastest ... 7 = best quality
    int threads = 1;            // threads coding a picture, 0 = one per processor with slices of 8 rows at least
};

struct UsedSettings {
    int profile = 66;
    int level = 0;
    int gopSize = 0;
    int idrInterval = 0;
    int bFrames = 0;
    int bitrateKbps = 0; // target in CBR/VBR, 0 in fixed-QP mode
    bool cavlc = true;
    int speedQuality = 0;
    int codedWidth = 0;  // size after rounding odd sizes up to even
    int codedHeight = 0;
    int threads = 1;     // threads coding a picture
};

// Level limits used for automatic level selection (exposed for tests/reporting).
// Returns the lowest level_idc whose frame size, macroblock rate and bitrate
// limits hold for the given picture, or 0 if none does.
int ChooseLevel(int width, int height, double fps, int bitrateKbps);
// True when the level_idc is known and its limits hold for the given stream.
bool LevelFits(int levelIdc, int width, int height, double fps, int bitrateKbps);
// The level's maximum video bitrate (kbit/s) and decoder buffer size (kbit),
// in the units of the level table (the byte stream's buffer is 1.2 times
// these); false for an unknown level_idc.
bool LevelBuffer(int levelIdc, long* maxBrKbps, long* maxCpbKbits);

class EncoderImpl;

class H264Encoder {
public:
    H264Encoder();
    ~H264Encoder();
    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

    // Validates the settings and prepares the encoder; resets all state.
    // Returns false for unusable settings (size < 16, fps <= 0, bitrate <= 0
    // in CBR/VBR, qp outside 0..51 in fixed-QP mode, unknown rate control).
    bool Open(const EncoderSettings& settings);
    bool IsOpen() const;
    UsedSettings Used() const;

    // The next encoded frame is an IDR.
    void ForceKeyFrame();

    // Encodes one I420 picture (width x height luma, (width+1)/2 x (height+1)/2
    // chroma). Appends the Annex-B bytes of the frame (SPS+PPS first for IDRs)
    // to out. *isIdr (optional) tells whether the frame is an IDR.
    bool Encode(const uint8_t* y, int strideY, const uint8_t* u, int strideU,
                const uint8_t* v, int strideV, std::vector<uint8_t>& out,
                bool* isIdr);

    // The same, writing the frame's bytes to dst; *size says how many. False
    // also when they do not fit in capacity, which MaxFrameBytes() always does.
    bool Encode(const uint8_t* y, int strideY, const uint8_t* u, int strideU, const uint8_t* v, int strideV,
                uint8_t* dst, size_t capacity, size_t* size, bool* isIdr);
    // The most bytes one Encode() can produce with these settings (for an
    // opened encoder: its own).
    static size_t MaxFrameBytes(const EncoderSettings& settings);
    size_t MaxFrameBytes() const;

    // The encoder's reconstruction of the last encoded picture (after the loop
    // filter), cropped to the coded size; plane 0 = Y, 1 = U, 2 = V.
    // Returns nullptr before the first frame.
    const uint8_t* ReconPlane(int plane, int* stride) const;

    uint64_t FramesEncoded() const;
    uint64_t BytesProduced() const;
    // Pictures coded as all-skip because the decoder's buffer could not take
    // more bits (CBR/VBR).
    uint64_t SkippedPictures() const;
    // 8 * bytes produced / (frames / fps) / 1000, rounded.
    uint32_t AverageBitrateKbps() const;
    // QP used for the last frame (for diagnostics).
    int LastQp() const;

private:
    std::unique_ptr<EncoderImpl> impl_;
};

} // namespace vcore
