// Kernel functions of every set, for the tables in Kernels.cpp (internal).
#pragma once

#include <cstdint>

namespace vcore {

#define VCORE_PIXEL_COST(name) int name(const uint8_t* a, int sa, const uint8_t* b, int sb)
#define VCORE_PIXEL_COST_SIZES(prefix)                                                                                 \
    VCORE_PIXEL_COST(prefix##16x16);                                                                                   \
    VCORE_PIXEL_COST(prefix##16x8);                                                                                    \
    VCORE_PIXEL_COST(prefix##8x16);                                                                                    \
    VCORE_PIXEL_COST(prefix##8x8);                                                                                     \
    VCORE_PIXEL_COST(prefix##8x4);                                                                                     \
    VCORE_PIXEL_COST(prefix##4x8);                                                                                     \
    VCORE_PIXEL_COST(prefix##4x4)

// A set's fdctQuant8x4 made of its own transform and quantiser.
template <void (*Fdct)(int16_t*, int16_t*, const uint8_t*, int, const uint8_t*, int),
          int (*Quant)(const int16_t*, int16_t*, int, bool, int)>
int FdctQuant8x4Of(int16_t levels0[16], int16_t levels1[16], const uint8_t* src, int ss, const uint8_t* pred, int sp,
                   int qp, bool intra) {
    int16_t c[2][16];
    Fdct(c[0], c[1], src, ss, pred, sp);
    return Quant(c[0], levels0, qp, intra, 0) | (Quant(c[1], levels1, qp, intra, 0) << 8);
}

// A set's fdct8x8 made of its fdct8x4.
template <void (*Fdct)(int16_t*, int16_t*, const uint8_t*, int, const uint8_t*, int)>
void Fdct8x8Of(int16_t out[4][16], const uint8_t* src, int ss, const uint8_t* pred, int sp) {
    Fdct(out[0], out[1], src, ss, pred, sp);
    Fdct(out[2], out[3], src + 4 * ss, ss, pred + 4 * sp, sp);
}

// A set's fdctQuantAc8x8 made of its fdct8x8 and quantiser.
template <void (*Fdct)(int16_t (*)[16], const uint8_t*, int, const uint8_t*, int),
          int (*Quant)(const int16_t*, int16_t*, int, bool, int)>
int FdctQuantAc8x8Of(int16_t levels[4][16], int16_t dc[4], const uint8_t* src, int ss, const uint8_t* pred, int sp,
                     int qp, bool intra) {
    int16_t c[4][16];
    Fdct(c, src, ss, pred, sp);
    int counts = 0;
    for (int b = 0; b < 4; ++b) {
        dc[b] = c[b][0];
        levels[b][0] = 0;
        counts |= Quant(c[b], levels[b], qp, intra, 1) << (8 * b);
    }
    return counts;
}

// A set's idct8x4Add made of its idct4x4Add.
template <void (*Idct)(uint8_t*, int, const uint8_t*, int, int16_t*)>
void Idct8x4AddOf(uint8_t* dst, int sd, const uint8_t* pred, int sp, int16_t coef0[16], int16_t coef1[16]) {
    Idct(dst, sd, pred, sp, coef0);
    Idct(dst + 4, sd, pred + 4, sp, coef1);
}

// The plain C++ reference implementations.
namespace ref {
VCORE_PIXEL_COST_SIZES(Sad);
VCORE_PIXEL_COST_SIZES(Satd);
void Avg16x16(uint8_t* dst, int sd, const uint8_t* a, const uint8_t* b, int s);
void Sad4x4x16(const uint8_t* a, int sa, const uint8_t* b, int sb, int sad[16]);
void Fdct4x4(int16_t out[16], const uint8_t* src, int ss, const uint8_t* pred, int sp);
void Fdct8x4(int16_t out0[16], int16_t out1[16], const uint8_t* src, int ss, const uint8_t* pred, int sp);
void Idct4x4Add(uint8_t* dst, int sd, const uint8_t* pred, int sp, int16_t coef[16]);
void IdctDcAdd(uint8_t* dst, int sd, const uint8_t* pred, int sp, int dc);
int Quant4x4(const int16_t in[16], int16_t levels[16], int qp, bool intra, int first);
void Dequant4x4(const int16_t levels[16], int16_t out[16], int qp, int first);
void PredIntra16(int mode, const uint8_t* rec, int stride, bool top, bool left, uint8_t* dst);
void PredChroma8(int mode, const uint8_t* rec, int stride, bool top, bool left, uint8_t* dst);
void PredIntra4(int mode, const uint8_t edge[13], bool top, bool left, uint8_t* dst, int ds);
void SixTapRow(const uint8_t* s, int st, uint8_t* dh, uint8_t* dv, uint8_t* dj, int16_t* v1, int x0, int x1, int v0,
               int v1end);
void ChromaMc8x8(uint8_t* dst, int ds, const uint8_t* src, int ss, int dx, int dy);
void DeblockLuma(uint8_t* pix, int stride, bool vertical, const uint8_t bS[4], int qp);
void DeblockChroma(uint8_t* u, uint8_t* v, int stride, bool vertical, const uint8_t bS[4], int qpc);
void RgbToY(const uint8_t* s, int bpp, uint8_t* y, int width);
void RgbToUv(const uint8_t* s0, const uint8_t* s1, int bpp, int width, uint8_t* u, uint8_t* v);
void Yuy2ToY(const uint8_t* s, uint8_t* y, int width);
void Yuy2ToUv(const uint8_t* s0, const uint8_t* s1, uint8_t* u, uint8_t* v, int cw);
void SplitUv(const uint8_t* s, uint8_t* u, uint8_t* v, int cw);
} // namespace ref

namespace sse2 {
VCORE_PIXEL_COST_SIZES(Sad);
VCORE_PIXEL_COST_SIZES(Satd);
void Avg16x16(uint8_t* dst, int sd, const uint8_t* a, const uint8_t* b, int s);
void Sad4x4x16(const uint8_t* a, int sa, const uint8_t* b, int sb, int sad[16]);
void Fdct4x4(int16_t out[16], const uint8_t* src, int ss, const uint8_t* pred, int sp);
void Fdct8x4(int16_t out0[16], int16_t out1[16], const uint8_t* src, int ss, const uint8_t* pred, int sp);
void Idct4x4Add(uint8_t* dst, int sd, const uint8_t* pred, int sp, int16_t coef[16]);
void IdctDcAdd(uint8_t* dst, int sd, const uint8_t* pred, int sp, int dc);
int Quant4x4(const int16_t in[16], int16_t levels[16], int qp, bool intra, int first);
void PredIntra16(int mode, const uint8_t* rec, int stride, bool top, bool left, uint8_t* dst);
void PredChroma8(int mode, const uint8_t* rec, int stride, bool top, bool left, uint8_t* dst);
void SixTapRow(const uint8_t* s, int st, uint8_t* dh, uint8_t* dv, uint8_t* dj, int16_t* v1, int x0, int x1, int v0,
               int v1end);
void ChromaMc8x8(uint8_t* dst, int ds, const uint8_t* src, int ss, int dx, int dy);
void DeblockLuma(uint8_t* pix, int stride, bool vertical, const uint8_t bS[4], int qp);
void DeblockChroma(uint8_t* u, uint8_t* v, int stride, bool vertical, const uint8_t bS[4], int qpc);
void RgbToY(const uint8_t* s, int bpp, uint8_t* y, int width);
void Yuy2ToY(const uint8_t* s, uint8_t* y, int width);
void Yuy2ToUv(const uint8_t* s0, const uint8_t* s1, uint8_t* u, uint8_t* v, int cw);
void SplitUv(const uint8_t* s, uint8_t* u, uint8_t* v, int cw);
} // namespace sse2

namespace ssse3 {
VCORE_PIXEL_COST_SIZES(Satd);
int Quant4x4(const int16_t in[16], int16_t levels[16], int qp, bool intra, int first);
void Dequant4x4(const int16_t levels[16], int16_t out[16], int qp, int first);
void PredIntra4(int mode, const uint8_t edge[13], bool top, bool left, uint8_t* dst, int ds);
void RgbToY(const uint8_t* s, int bpp, uint8_t* y, int width);
} // namespace ssse3

namespace sse41 {
void DeblockLuma(uint8_t* pix, int stride, bool vertical, const uint8_t bS[4], int qp);
void DeblockChroma(uint8_t* u, uint8_t* v, int stride, bool vertical, const uint8_t bS[4], int qpc);
} // namespace sse41

namespace avx2 {
VCORE_PIXEL_COST(Sad16x16);
VCORE_PIXEL_COST(Sad16x8);
VCORE_PIXEL_COST(Satd16x16);
VCORE_PIXEL_COST(Satd16x8);
VCORE_PIXEL_COST(Satd8x16);
VCORE_PIXEL_COST(Satd8x8);
void Avg16x16(uint8_t* dst, int sd, const uint8_t* a, const uint8_t* b, int s);
void Sad4x4x16(const uint8_t* a, int sa, const uint8_t* b, int sb, int sad[16]);
void Fdct8x8(int16_t out[4][16], const uint8_t* src, int ss, const uint8_t* pred, int sp);
void ChromaMc8x8(uint8_t* dst, int ds, const uint8_t* src, int ss, int dx, int dy);
void SixTapRow(const uint8_t* s, int st, uint8_t* dh, uint8_t* dv, uint8_t* dj, int16_t* v1, int x0, int x1, int v0,
               int v1end);
int Quant4x4(const int16_t in[16], int16_t levels[16], int qp, bool intra, int first);
int FdctQuant8x4(int16_t levels0[16], int16_t levels1[16], const uint8_t* src, int ss, const uint8_t* pred, int sp,
                 int qp, bool intra);
void Idct8x4Add(uint8_t* dst, int sd, const uint8_t* pred, int sp, int16_t coef0[16], int16_t coef1[16]);
int FdctQuantAc8x8(int16_t levels[4][16], int16_t dc[4], const uint8_t* src, int ss, const uint8_t* pred, int sp, int qp,
                   bool intra);
void DeblockLuma(uint8_t* pix, int stride, bool vertical, const uint8_t bS[4], int qp);
void DeblockChroma(uint8_t* u, uint8_t* v, int stride, bool vertical, const uint8_t bS[4], int qpc);
} // namespace avx2

// Per-QP quantisation multipliers and dequantisation scales in raster order.
struct QuantTables {
    int16_t mf[52][16];
    int16_t dq[52][16];
    int32_t bias[2][52]; // [intra]: the quantiser's rounding, (1 << (15 + qp / 6)) / 6 or / 3
};
extern const QuantTables kQuantTables;
inline const int16_t* QuantMfRaster(int qp) { return kQuantTables.mf[qp]; }
inline const int16_t* DequantScaleRaster(int qp) { return kQuantTables.dq[qp]; }

} // namespace vcore
