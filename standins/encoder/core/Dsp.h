// Pixel and transform kernels used by the macroblock coder.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Kernels.h"

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
inline constexpr int kQuantMf[6][3] = {{13107, 5243, 8066}, {11916, 4660, 7490}, {10082, 4194, 6554},
                                       {9362, 3647, 5825},  {8192, 3355, 5243},  {7282, 2893, 4559}};
inline constexpr int kDequantV[6][3] = {{10, 16, 13}, {11, 18, 14}, {13, 20, 16}, {14, 23, 18}, {16, 25, 20}, {18, 29, 23}};
// position class for raster index 0..15: 0 = (even,even), 1 = (odd,odd), 2 = mixed
inline constexpr uint8_t kPosClass[16] = {0, 2, 0, 2, 2, 1, 2, 1, 0, 2, 0, 2, 2, 1, 2, 1};

// The largest SAD of a 4x4 residual block that quantises to nothing at qp:
// a coefficient is at most g * SAD (g = 1, 2 or 4 by its position, the
// transform's row sums of absolute values multiplied), and its level is 0
// while g * SAD * mf + f stays under 1 << qbits, mf the quantiser's factor
// for that position. The encoder leaves such blocks out of the transform;
// their levels are exactly the quantiser's.
constexpr int ZeroBlockSadOf(int qp, bool intra) {
    const int qbits = 15 + qp / 6;
    const int f = intra ? (1 << qbits) / 3 : (1 << qbits) / 6;
    const int* mf = kQuantMf[qp % 6];
    const int worst = mf[0] > 4 * mf[1] ? (mf[0] > 2 * mf[2] ? mf[0] : 2 * mf[2]) : (4 * mf[1] > 2 * mf[2] ? 4 * mf[1] : 2 * mf[2]);
    return ((1 << qbits) - f - 1) / worst;
}
struct ZeroBlockSads {
    int sad[2][52]; // [intra][qp]
    constexpr ZeroBlockSads() : sad() {
        for (int intra = 0; intra < 2; ++intra)
            for (int qp = 0; qp < 52; ++qp) sad[intra][qp] = ZeroBlockSadOf(qp, intra != 0);
    }
};
inline constexpr ZeroBlockSads kZeroBlockSads{};
// (from a table: the encoder asks for every macroblock)
inline int ZeroBlockSad(int qp, bool intra) { return kZeroBlockSads.sad[intra ? 1 : 0][qp]; }

// The largest magnitude of a chroma DC coefficient (after the 2x2
// transform) that an inter macroblock's quantiser takes to 0 at qpc:
// (a * mf + f) >> qbits is 0 while a * mf stays under (1 << qbits) - f.
struct ChromaDcZeroTops {
    int top[52];
    constexpr ChromaDcZeroTops() : top() {
        for (int qpc = 0; qpc < 52; ++qpc) {
            const int qbits = 16 + qpc / 6;
            top[qpc] = ((1 << qbits) - (1 << qbits) / 6 - 1) / kQuantMf[qpc % 6][0];
        }
    }
};
inline constexpr ChromaDcZeroTops kChromaDcZeroTops{};
inline int ChromaDcZeroTop(int qpc) { return kChromaDcZeroTops.top[qpc]; }

// The kernels below run the set chosen at start (Kernels.h); all sets give
// the same results.

// --- SAD / SATD ---
inline int Sad16x16(const uint8_t* a, int sa, const uint8_t* b, int sb) { return Kern().sad[kBlock16x16](a, sa, b, sb); }
inline int Sad8x8(const uint8_t* a, int sa, const uint8_t* b, int sb) { return Kern().sad[kBlock8x8](a, sa, b, sb); }
inline int Satd4x4(const uint8_t* a, int sa, const uint8_t* b, int sb) { return Kern().satd[kBlock4x4](a, sa, b, sb); }
inline int Satd16x16(const uint8_t* a, int sa, const uint8_t* b, int sb) { return Kern().satd[kBlock16x16](a, sa, b, sb); }
inline int Satd8x8(const uint8_t* a, int sa, const uint8_t* b, int sb) { return Kern().satd[kBlock8x8](a, sa, b, sb); }
inline void Avg16x16(uint8_t* dst, int sd, const uint8_t* a, const uint8_t* b, int s) { Kern().avg16x16(dst, sd, a, b, s); }
inline void Sad4x4x16(const uint8_t* a, int sa, const uint8_t* b, int sb, int sad[16]) { Kern().sad4x4x16(a, sa, b, sb, sad); }

// --- transforms ---
// residual (src - pred) -> forward core transform (coefficients in raster order)
inline void Fdct4x4(int16_t out[16], const uint8_t* src, int ss, const uint8_t* pred, int sp) {
    Kern().fdct4x4(out, src, ss, pred, sp);
}
// the same for two horizontally adjacent blocks (src/pred point at the left one)
inline void Fdct8x4(int16_t out0[16], int16_t out1[16], const uint8_t* src, int ss, const uint8_t* pred, int sp) {
    Kern().fdct8x4(out0, out1, src, ss, pred, sp);
}
// the same for the four blocks of an 8x8 block (raster order)
inline void Fdct8x8(int16_t out[4][16], const uint8_t* src, int ss, const uint8_t* pred, int sp) {
    Kern().fdct8x8(out, src, ss, pred, sp);
}
// inverse transform of dequantised coefficients, adds to pred and writes dst
inline void Idct4x4Add(uint8_t* dst, int sd, const uint8_t* pred, int sp, int16_t coef[16]) {
    Kern().idct4x4Add(dst, sd, pred, sp, coef);
}
// the same for two horizontally adjacent blocks (dst/pred point at the left one)
inline void Idct8x4Add(uint8_t* dst, int sd, const uint8_t* pred, int sp, int16_t coef0[16], int16_t coef1[16]) {
    Kern().idct8x4Add(dst, sd, pred, sp, coef0, coef1);
}
// DC-only shortcut of the above (coef[0] = dc, others zero)
inline void IdctDcAdd(uint8_t* dst, int sd, const uint8_t* pred, int sp, int dc) { Kern().idctDcAdd(dst, sd, pred, sp, dc); }

// Quantises 16 raster-order coefficients (starting at `first`), writes scan
// order levels to `levels` (16 entries, entry 0 untouched when first == 1),
// and returns the number of non-zero levels.
inline int Quant4x4(const int16_t in[16], int16_t levels[16], int qp, bool intra, int first) {
    return Kern().quant4x4(in, levels, qp, intra, first);
}
// Fdct8x4 and Quant4x4 (from 0) of both blocks: the levels' counts, of the
// left block in bits 0-7, of the right one in bits 8-15.
inline int FdctQuant8x4(int16_t levels0[16], int16_t levels1[16], const uint8_t* src, int ss, const uint8_t* pred, int sp,
                        int qp, bool intra) {
    return Kern().fdctQuant8x4(levels0, levels1, src, ss, pred, sp, qp, intra);
}
// Fdct8x8 and Quant4x4 (from 1) of the four blocks of an 8x8 block (raster
// order): levels[b][0] = 0, dc[b] the blocks' DC coefficients; the AC
// levels' counts, block b's in bits 8b to 8b + 7.
inline int FdctQuantAc8x8(int16_t levels[4][16], int16_t dc[4], const uint8_t* src, int ss, const uint8_t* pred, int sp,
                          int qp, bool intra) {
    return Kern().fdctQuantAc8x8(levels, dc, src, ss, pred, sp, qp, intra);
}
// Dequantises scan-order levels into raster-order coefficients (from `first`).
inline void Dequant4x4(const int16_t levels[16], int16_t out[16], int qp, int first) {
    Kern().dequant4x4(levels, out, qp, first);
}

// Block copies (unrolled: a row is one load and one store)
static inline void Copy16x16(uint8_t* d, int sd, const uint8_t* s, int ss) {
#pragma GCC unroll 16
    for (int y = 0; y < 16; ++y) {
        std::memcpy(d, s, 16);
        d += sd; s += ss;
    }
}
static inline void Copy8x8(uint8_t* d, int sd, const uint8_t* s, int ss) {
#pragma GCC unroll 8
    for (int y = 0; y < 8; ++y) {
        std::memcpy(d, s, 8);
        d += sd; s += ss;
    }
}
static inline void Copy8x4(uint8_t* d, int sd, const uint8_t* s, int ss) {
#pragma GCC unroll 4
    for (int y = 0; y < 4; ++y) {
        std::memcpy(d, s, 8);
        d += sd; s += ss;
    }
}
static inline void Copy4x4(uint8_t* d, int sd, const uint8_t* s, int ss) {
#pragma GCC unroll 4
    for (int y = 0; y < 4; ++y) {
        std::memcpy(d, s, 4);
        d += sd; s += ss;
    }
}

} // namespace vcore
