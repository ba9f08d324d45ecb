// Pixel and transform kernels used by the macroblock coder.
#pragma once

#include <cstdint>
#include <cstdlib>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define VCORE_SSE2 1
#endif

namespace vcore {

static inline uint8_t Clip255(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }
static inline int Clip3(int lo, int hi, int v) { return v < lo ? lo : (v > hi ? hi : v); }

// raster index (x + 4y) of scan position i in a 4x4 block
extern const uint8_t kZigzag4x4[16];
// x/y (in 4x4 units) of luma block blkIdx in coding order
extern const uint8_t kBlkX[16];
extern const uint8_t kBlkY[16];
extern const uint8_t kChromaQp[52];

// Quantisation multipliers / dequantisation scales per (qp % 6, position class)
extern const int kQuantMf[6][3];
extern const int kDequantV[6][3];
// position class for raster index 0..15: 0 = (even,even), 1 = (odd,odd), 2 = mixed
extern const uint8_t kPosClass[16];

// --- SAD / SATD ---
int Sad16x16(const uint8_t* a, int sa, const uint8_t* b, int sb);
int Sad8x8(const uint8_t* a, int sa, const uint8_t* b, int sb);
int Satd4x4(const uint8_t* a, int sa, const uint8_t* b, int sb);
int Satd16x16(const uint8_t* a, int sa, const uint8_t* b, int sb);
int Satd8x8(const uint8_t* a, int sa, const uint8_t* b, int sb);
void Avg16x16(uint8_t* dst, int sd, const uint8_t* a, const uint8_t* b, int s);

// --- transforms ---
// residual (src - pred) -> forward core transform (coefficients in raster order)
void Fdct4x4(int16_t out[16], const uint8_t* src, int ss, const uint8_t* pred, int sp);
// the same for two horizontally adjacent blocks (src/pred point at the left one)
void Fdct8x4(int16_t out0[16], int16_t out1[16], const uint8_t* src, int ss, const uint8_t* pred, int sp);
// inverse transform of dequantised coefficients, adds to pred and writes dst
void Idct4x4Add(uint8_t* dst, int sd, const uint8_t* pred, int sp, int16_t coef[16]);
// DC-only shortcut of the above (coef[0] = dc, others zero)
void IdctDcAdd(uint8_t* dst, int sd, const uint8_t* pred, int sp, int dc);

// Quantises 16 raster-order coefficients (starting at `first`), writes scan
// order levels to `levels` (16 entries, entry 0 untouched when first == 1),
// and returns the number of non-zero levels.
int Quant4x4(const int16_t in[16], int16_t levels[16], int qp, bool intra, int first);
// Dequantises scan-order levels into raster-order coefficients (from `first`).
void Dequant4x4(const int16_t levels[16], int16_t out[16], int qp, int first);

// Block copies
static inline void Copy16x16(uint8_t* d, int sd, const uint8_t* s, int ss) {
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) d[x] = s[x];
        d += sd; s += ss;
    }
}
static inline void Copy8x8(uint8_t* d, int sd, const uint8_t* s, int ss) {
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) d[x] = s[x];
        d += sd; s += ss;
    }
}
static inline void Copy4x4(uint8_t* d, int sd, const uint8_t* s, int ss) {
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) d[x] = s[x];
        d += sd; s += ss;
    }
}

} // namespace vcore
