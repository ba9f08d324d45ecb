// SSSE3 kernels: absolute values, sign and byte shuffles (scan order in
// registers). Only called when the processor has SSSE3.
#pragma GCC target("ssse3")

#include <tmmintrin.h>

#include "Dsp.h"
#include "KernelFns.h"
#include "SimdCommon.h"

namespace vcore {
namespace {

// Sum of absolute Hadamard coefficients of the two 4x4 blocks in r (not halved).
inline int HadamardAbsSum(__m128i r[4]) {
    HadamardPass(r);
    Transpose2x4x4(r);
    // the last pass only for its absolute sum: |a + b| + |a - b| = 2 max(|a|, |b|)
    const __m128i s01 = _mm_add_epi16(r[0], r[1]), d01 = _mm_sub_epi16(r[0], r[1]);
    const __m128i s23 = _mm_add_epi16(r[2], r[3]), d23 = _mm_sub_epi16(r[2], r[3]);
    const __m128i m = _mm_add_epi16(_mm_max_epi16(_mm_abs_epi16(s01), _mm_abs_epi16(s23)),
                                    _mm_max_epi16(_mm_abs_epi16(d01), _mm_abs_epi16(d23))); // <= 2 * 2040 per lane
    __m128i acc = _mm_madd_epi16(m, _mm_set1_epi16(2));
    acc = _mm_add_epi32(acc, _mm_srli_si128(acc, 8));
    acc = _mm_add_epi32(acc, _mm_srli_si128(acc, 4));
    return _mm_cvtsi128_si32(acc);
}
template <int W, int H>
int SatdWxH(const uint8_t* a, int sa, const uint8_t* b, int sb) {
    int s = 0;
    for (int y = 0; y < H; y += 4)
        for (int x = 0; x < W; x += 8) {
            __m128i r[4];
            LoadDiff8x4(r, a + y * sa + x, sa, b + y * sb + x, sb);
            s += HadamardAbsSum(r);
        }
    return s >> 1;
}

// pshufb masks picking 16-bit words (-1 = zero)
#define W2B(w) static_cast<char>((w) < 0 ? -128 : 2 * (w)), static_cast<char>((w) < 0 ? -128 : 2 * (w) + 1)
#define WORDS(a, b, c, d, e, f, g, h) _mm_setr_epi8(W2B(a), W2B(b), W2B(c), W2B(d), W2B(e), W2B(f), W2B(g), W2B(h))

// Intra 4x4 prediction. Every directional mode is a selection from three
// rows of 16 bytes made from the neighbours
//   E[j] = e[j - 1] extended at both ends: L3 L3 L2 L1 L0 M T0 .. T7 T7 T7
//   F2[j] = (E[j] + E[j + 1] + 1) >> 1
//   F3[j] = (E[j - 1] + 2 E[j] + E[j + 1] + 2) >> 2
// (the ends of the extension give the modes' special corner values).
struct I4Shuffles {
    // per mode: byte indices into E, F2 and F3 for the 16 output bytes (raster
    // order); -128 where the byte comes from another row
    int8_t m[9][3][16];
};
constexpr I4Shuffles MakeI4Shuffles() {
    I4Shuffles t{};
    for (int mode = 0; mode < 9; ++mode)
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                int src = 0, j = 0; // 0 = E, 1 = F2, 2 = F3
                switch (mode) {
                case 0: j = 6 + x; break;             // vertical: T(x)
                case 1: j = 4 - y; break;             // horizontal: L(y)
                case 2: break;                        // DC: not shuffled
                case 3: src = 2; j = 7 + x + y; break; // diagonal down left
                case 4: src = 2; j = 5 + x - y; break; // diagonal down right
                case 5: {                             // vertical right
                    const int z = 2 * x - y, k = x - (y >> 1);
                    if (z >= 0 && !(z & 1)) { src = 1; j = 5 + k; }
                    else if (z >= 0) { src = 2; j = 5 + k; }
                    else if (z == -1) { src = 2; j = 5; }
                    else { src = 2; j = 6 - y; }
                    break;
                }
                case 6: {                             // horizontal down
                    const int z = 2 * y - x, k = y - (x >> 1);
                    if (z >= 0 && !(z & 1)) { src = 1; j = 4 - k; }
                    else if (z >= 0) { src = 2; j = 5 - k; }
                    else if (z == -1) { src = 2; j = 5; }
                    else { src = 2; j = 4 + x; }
                    break;
                }
                case 7: {                             // vertical left
                    const int i = x + (y >> 1);
                    if (y & 1) { src = 2; j = 7 + i; }
                    else { src = 1; j = 6 + i; }
                    break;
                }
                default: {                            // horizontal up
                    const int z = x + 2 * y, k = y + (x >> 1);
                    if (z > 5) { src = 0; j = 1; }
                    else if (z == 5) { src = 2; j = 1; }
                    else if (z & 1) { src = 2; j = 3 - k; }
                    else { src = 1; j = 3 - k; }
                    break;
                }
                }
                for (int r = 0; r < 3; ++r) t.m[mode][r][y * 4 + x] = static_cast<int8_t>(r == src ? j : -128);
            }
    return t;
}
constexpr I4Shuffles kI4Shuffles = MakeI4Shuffles();

} // namespace

namespace ssse3 {

void PredIntra4(int mode, const uint8_t e[13], bool top, bool left, uint8_t* d, int ds) {
    if (mode == 2) {
        ref::PredIntra4(mode, e, top, left, d, ds);
        return;
    }
    // e[0..7] and e[5..12] side by side, then E
    const __m128i v = _mm_unpacklo_epi64(Load64(e), Load64(e + 5));
    const __m128i E = _mm_shuffle_epi8(v, _mm_setr_epi8(0, 0, 1, 2, 3, 4, 5, 6, 7, 11, 12, 13, 14, 15, 15, 15));
    const auto* m = kI4Shuffles.m[mode];
    __m128i out;
    if (mode < 2) {
        out = _mm_shuffle_epi8(E, Load128(m[0]));
    } else {
        const __m128i prev = _mm_slli_si128(E, 1), next = _mm_srli_si128(E, 1);
        const __m128i f2 = _mm_avg_epu8(E, next);
        // (a + 2b + c + 2) >> 2 = avg(b, (a + c) >> 1), exactly
        const __m128i half = _mm_sub_epi8(_mm_avg_epu8(prev, next), _mm_and_si128(_mm_xor_si128(prev, next), _mm_set1_epi8(1)));
        const __m128i f3 = _mm_avg_epu8(E, half);
        out = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(E, Load128(m[0])), _mm_shuffle_epi8(f2, Load128(m[1]))),
                           _mm_shuffle_epi8(f3, Load128(m[2])));
    }
    Store32(d, out);
    Store32(d + ds, _mm_srli_si128(out, 4));
    Store32(d + 2 * ds, _mm_srli_si128(out, 8));
    Store32(d + 3 * ds, _mm_srli_si128(out, 12));
}

int Satd16x16(const uint8_t* a, int sa, const uint8_t* b, int sb) { return SatdWxH<16, 16>(a, sa, b, sb); }
int Satd16x8(const uint8_t* a, int sa, const uint8_t* b, int sb) { return SatdWxH<16, 8>(a, sa, b, sb); }
int Satd8x16(const uint8_t* a, int sa, const uint8_t* b, int sb) { return SatdWxH<8, 16>(a, sa, b, sb); }
int Satd8x8(const uint8_t* a, int sa, const uint8_t* b, int sb) { return SatdWxH<8, 8>(a, sa, b, sb); }
int Satd8x4(const uint8_t* a, int sa, const uint8_t* b, int sb) { return SatdWxH<8, 4>(a, sa, b, sb); }
int Satd4x8(const uint8_t* a, int sa, const uint8_t* b, int sb) {
    __m128i r[4];
    LoadDiff4x4Pair(r, a, a + 4 * sa, sa, b, b + 4 * sb, sb);
    return HadamardAbsSum(r) >> 1;
}
int Satd4x4(const uint8_t* a, int sa, const uint8_t* b, int sb) {
    __m128i r[4];
    LoadDiff4x4Pair(r, a, a, sa, b, b, sb); // the same block twice
    return HadamardAbsSum(r) >> 2;
}

int Quant4x4(const int16_t in[16], int16_t levels[16], int qp, bool intra, int first) {
    const int qbits = 15 + qp / 6;
    const int f = intra ? (1 << qbits) / 3 : (1 << qbits) / 6;
    const int16_t* mf = QuantMfRaster(qp);
    const __m128i fv = _mm_set1_epi32(f);
    const __m128i sh = _mm_cvtsi32_si128(qbits);
    const __m128i maxl = _mm_set1_epi16(2047);
    __m128i q[2];
    for (int h = 0; h < 2; ++h) {
        const __m128i c = Load128(in + 8 * h);
        const __m128i m = Load128(mf + 8 * h);
        const __m128i a = _mm_abs_epi16(c); // -32768 stays 0x8000 = 32768 unsigned
        const __m128i plo = _mm_mullo_epi16(a, m);
        const __m128i phi = _mm_mulhi_epu16(a, m);
        const __m128i lo = _mm_srl_epi32(_mm_add_epi32(_mm_unpacklo_epi16(plo, phi), fv), sh);
        const __m128i hi = _mm_srl_epi32(_mm_add_epi32(_mm_unpackhi_epi16(plo, phi), fv), sh);
        q[h] = _mm_sign_epi16(_mm_min_epi16(_mm_packs_epi32(lo, hi), maxl), c);
    }
    // raster -> scan order: 0 1 4 8 5 2 3 6 | 9 12 13 10 7 11 14 15
    const __m128i s0 = _mm_or_si128(_mm_shuffle_epi8(q[0], WORDS(0, 1, 4, -1, 5, 2, 3, 6)),
                                    _mm_shuffle_epi8(q[1], WORDS(-1, -1, -1, 0, -1, -1, -1, -1)));
    const __m128i s1 = _mm_or_si128(_mm_shuffle_epi8(q[1], WORDS(1, 4, 5, 2, -1, 3, 6, 7)),
                                    _mm_shuffle_epi8(q[0], WORDS(-1, -1, -1, -1, 7, -1, -1, -1)));
    const int16_t keep = levels[0];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(levels), s0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(levels + 8), s1);
    const __m128i z = _mm_setzero_si128();
    // one byte per level: 1 where it is zero; the first is not counted when skipped
    __m128i zeros = _mm_and_si128(_mm_packs_epi16(_mm_cmpeq_epi16(s0, z), _mm_cmpeq_epi16(s1, z)), _mm_set1_epi8(1));
    if (first) {
        levels[0] = keep;
        zeros = _mm_or_si128(zeros, _mm_cvtsi32_si128(1));
    }
    const __m128i sum = _mm_sad_epu8(zeros, z);
    return 16 - (_mm_cvtsi128_si32(sum) + _mm_cvtsi128_si32(_mm_srli_si128(sum, 8)));
}

void Dequant4x4(const int16_t levels[16], int16_t out[16], int qp, int first) {
    const int16_t* scale = DequantScaleRaster(qp);
    const __m128i sh = _mm_cvtsi32_si128(qp / 6);
    const __m128i l0 = Load128(levels), l1 = Load128(levels + 8);
    // scan -> raster: raster p takes scan 0 1 5 6 2 4 7 12 | 3 8 11 13 9 10 14 15
    const __m128i r0 = _mm_or_si128(_mm_shuffle_epi8(l0, WORDS(0, 1, 5, 6, 2, 4, 7, -1)),
                                    _mm_shuffle_epi8(l1, WORDS(-1, -1, -1, -1, -1, -1, -1, 4)));
    const __m128i r1 = _mm_or_si128(_mm_shuffle_epi8(l1, WORDS(-1, 0, 3, 5, 1, 2, 6, 7)),
                                    _mm_shuffle_epi8(l0, WORDS(3, -1, -1, -1, -1, -1, -1, -1)));
    const int16_t keep = out[0];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_sll_epi16(_mm_mullo_epi16(r0, Load128(scale)), sh));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_sll_epi16(_mm_mullo_epi16(r1, Load128(scale + 8)), sh));
    if (first) out[0] = keep;
}

void RgbToY(const uint8_t* s, int bpp, uint8_t* y, int width) {
    if (bpp != 3) {
        sse2::RgbToY(s, bpp, y, width);
        return;
    }
    const __m128i toBgrx = _mm_setr_epi8(0, 1, 2, -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10, 11, -128);
    int x = 0;
    for (; 3 * x + 16 <= 3 * width; x += 4) Store32(y + x, LumaOf4Bgrx(_mm_shuffle_epi8(Load128(s + 3 * x), toBgrx)));
    if (x < width) ref::RgbToY(s + 3 * x, 3, y + x, width - x);
}

} // namespace ssse3
} // namespace vcore
