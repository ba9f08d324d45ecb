// AVX2 kernels: 16 pixels (two rows of 8, or a whole 16-wide row) per
// instruction. Only called when the processor and the system support AVX2.
#pragma GCC target("avx2")

#include <immintrin.h>

#include <cstddef>
#include <cstring>

#include "Dsp.h"
#include "KernelFns.h"
#include "SimdCommon.h"

namespace vcore {
namespace {

inline __m128i L128(const void* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline __m256i L256(const void* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
inline __m256i TwoRows(const uint8_t* p, std::ptrdiff_t s) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(L128(p)), L128(p + s), 1);
}
inline int Sum64x4(__m256i v) {
    const __m128i s = _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    return _mm_cvtsi128_si32(s) + _mm_cvtsi128_si32(_mm_srli_si128(s, 8));
}
inline int Sum32x8(__m256i v) {
    __m128i s = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    s = _mm_add_epi32(s, _mm_srli_si128(s, 8));
    s = _mm_add_epi32(s, _mm_srli_si128(s, 4));
    return _mm_cvtsi128_si32(s);
}

// Unrolled, the strides' multiples in the addressing.
template <int H>
int Sad16xH(const uint8_t* a, int sa_, const uint8_t* b, int sb_) {
    const std::ptrdiff_t sa = sa_, sb = sb_;
    __m256i acc0 = _mm256_setzero_si256(), acc1 = acc0;
#pragma GCC unroll 4
    for (int y = 0; y < H; y += 4) {
        acc0 = _mm256_add_epi64(acc0, _mm256_sad_epu8(TwoRows(a, sa), TwoRows(b, sb)));
        acc1 = _mm256_add_epi64(acc1, _mm256_sad_epu8(TwoRows(a + 2 * sa, sa), TwoRows(b + 2 * sb, sb)));
        a += 4 * sa; b += 4 * sb;
    }
    return Sum64x4(_mm256_add_epi64(acc0, acc1));
}

// Four 4x4 blocks side by side (16x4); each 128-bit half is laid out like the
// SSE2 8x4 code: [block | block].
inline void Transpose4x4x4(__m256i r[4]) {
    const __m256i a0 = _mm256_unpacklo_epi16(r[0], r[1]), a1 = _mm256_unpacklo_epi16(r[2], r[3]);
    const __m256i a2 = _mm256_unpackhi_epi16(r[0], r[1]), a3 = _mm256_unpackhi_epi16(r[2], r[3]);
    const __m256i b0 = _mm256_unpacklo_epi32(a0, a1), b1 = _mm256_unpackhi_epi32(a0, a1);
    const __m256i b2 = _mm256_unpacklo_epi32(a2, a3), b3 = _mm256_unpackhi_epi32(a2, a3);
    r[0] = _mm256_unpacklo_epi64(b0, b2);
    r[1] = _mm256_unpackhi_epi64(b0, b2);
    r[2] = _mm256_unpacklo_epi64(b1, b3);
    r[3] = _mm256_unpackhi_epi64(b1, b3);
}
inline void DctPass(__m256i r[4]) {
    const __m256i s03 = _mm256_add_epi16(r[0], r[3]), m03 = _mm256_sub_epi16(r[0], r[3]);
    const __m256i s12 = _mm256_add_epi16(r[1], r[2]), m12 = _mm256_sub_epi16(r[1], r[2]);
    r[0] = _mm256_add_epi16(s03, s12);
    r[1] = _mm256_add_epi16(_mm256_add_epi16(m03, m03), m12);
    r[2] = _mm256_sub_epi16(s03, s12);
    r[3] = _mm256_sub_epi16(m03, _mm256_add_epi16(m12, m12));
}
inline void HadamardPass(__m256i r[4]) {
    const __m256i s01 = _mm256_add_epi16(r[0], r[1]), d01 = _mm256_sub_epi16(r[0], r[1]);
    const __m256i s23 = _mm256_add_epi16(r[2], r[3]), d23 = _mm256_sub_epi16(r[2], r[3]);
    r[0] = _mm256_add_epi16(s01, s23);
    r[1] = _mm256_sub_epi16(s01, s23);
    r[2] = _mm256_sub_epi16(d01, d23);
    r[3] = _mm256_add_epi16(d01, d23);
}
// Absolute Hadamard coefficients of the four 4x4 blocks of r, summed in
// 32-bit lanes (not halved).
inline __m256i HadamardAbsAcc(__m256i r[4]) {
    HadamardPass(r);
    Transpose4x4x4(r);
    // the last pass only for its absolute sum: |a + b| + |a - b| = 2 max(|a|, |b|)
    const __m256i s01 = _mm256_add_epi16(r[0], r[1]), d01 = _mm256_sub_epi16(r[0], r[1]);
    const __m256i s23 = _mm256_add_epi16(r[2], r[3]), d23 = _mm256_sub_epi16(r[2], r[3]);
    const __m256i m = _mm256_add_epi16(_mm256_max_epi16(_mm256_abs_epi16(s01), _mm256_abs_epi16(s23)),
                                       _mm256_max_epi16(_mm256_abs_epi16(d01), _mm256_abs_epi16(d23)));
    return _mm256_madd_epi16(m, _mm256_set1_epi16(2));
}
inline __m256i Satd16x4Acc(const uint8_t* a, std::ptrdiff_t sa, const uint8_t* b, std::ptrdiff_t sb) {
    __m256i r[4];
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i)
        r[i] = _mm256_sub_epi16(_mm256_cvtepu8_epi16(L128(a + i * sa)), _mm256_cvtepu8_epi16(L128(b + i * sb)));
    return HadamardAbsAcc(r);
}
// An 8x8 block as a 16x4 one: rows 0-3 in the low halves, rows 4-7 in the high.
inline __m128i Rows8(const uint8_t* p, std::ptrdiff_t s) {
    return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 4 * s)));
}
// The forward transform of the four 4x4 blocks of an 8x8 block: c[b] holds
// block b's coefficients in raster order (blocks in raster order).
inline void Dct8x8(__m256i c[4], const uint8_t* src, std::ptrdiff_t ss, const uint8_t* pred, std::ptrdiff_t sp) {
    // rows 0-3 of the top blocks in the low halves, of the bottom blocks in the high
    __m256i r[4];
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i)
        r[i] = _mm256_sub_epi16(_mm256_cvtepu8_epi16(Rows8(src + i * ss, ss)), _mm256_cvtepu8_epi16(Rows8(pred + i * sp, sp)));
    DctPass(r);
    Transpose4x4x4(r);
    DctPass(r);
    Transpose4x4x4(r);
    // rows 0-1 and 2-3 of the left blocks (lo) and of the right ones (hi), top block in the low half
    const __m256i lo01 = _mm256_unpacklo_epi64(r[0], r[1]), lo23 = _mm256_unpacklo_epi64(r[2], r[3]);
    const __m256i hi01 = _mm256_unpackhi_epi64(r[0], r[1]), hi23 = _mm256_unpackhi_epi64(r[2], r[3]);
    c[0] = _mm256_permute2x128_si256(lo01, lo23, 0x20);
    c[1] = _mm256_permute2x128_si256(hi01, hi23, 0x20);
    c[2] = _mm256_permute2x128_si256(lo01, lo23, 0x31);
    c[3] = _mm256_permute2x128_si256(hi01, hi23, 0x31);
}
inline __m256i Satd8x8Acc(const uint8_t* a, std::ptrdiff_t sa, const uint8_t* b, std::ptrdiff_t sb) {
    __m256i r[4];
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i)
        r[i] = _mm256_sub_epi16(_mm256_cvtepu8_epi16(Rows8(a + i * sa, sa)), _mm256_cvtepu8_epi16(Rows8(b + i * sb, sb)));
    return HadamardAbsAcc(r);
}
template <int H>
int Satd16xH(const uint8_t* a, int sa_, const uint8_t* b, int sb_) {
    const std::ptrdiff_t sa = sa_, sb = sb_;
    __m256i acc = _mm256_setzero_si256();
#pragma GCC unroll 4
    for (int y = 0; y < H; y += 4) acc = _mm256_add_epi32(acc, Satd16x4Acc(a + y * sa, sa, b + y * sb, sb));
    return Sum32x8(acc) >> 1;
}

inline __m256i Widen16(const uint8_t* p) { return _mm256_cvtepu8_epi16(L128(p)); }
inline __m256i Tap6(__m256i a, __m256i b, __m256i c, __m256i d, __m256i e, __m256i g) {
    // (a + g) - 5 (b + e) + 20 (c + d), in 16 bits
    const __m256i cd = _mm256_add_epi16(c, d);
    const __m256i be = _mm256_add_epi16(b, e);
    __m256i t = _mm256_add_epi16(a, g);
    t = _mm256_add_epi16(t, _mm256_add_epi16(_mm256_slli_epi16(cd, 4), _mm256_slli_epi16(cd, 2)));
    return _mm256_sub_epi16(t, _mm256_add_epi16(_mm256_slli_epi16(be, 2), be));
}
// 16 words -> 16 bytes with unsigned saturation, in order
inline void Store16(uint8_t* d, __m256i w) {
    const __m256i p = _mm256_permute4x64_epi64(_mm256_packus_epi16(w, w), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm256_castsi256_si128(p));
}

} // namespace

namespace avx2 {

int Sad16x16(const uint8_t* a, int sa, const uint8_t* b, int sb) { return Sad16xH<16>(a, sa, b, sb); }
int Sad16x8(const uint8_t* a, int sa, const uint8_t* b, int sb) { return Sad16xH<8>(a, sa, b, sb); }
int Satd16x16(const uint8_t* a, int sa, const uint8_t* b, int sb) { return Satd16xH<16>(a, sa, b, sb); }
int Satd16x8(const uint8_t* a, int sa, const uint8_t* b, int sb) { return Satd16xH<8>(a, sa, b, sb); }
int Satd8x16(const uint8_t* a, int sa, const uint8_t* b, int sb) {
    return Sum32x8(_mm256_add_epi32(Satd8x8Acc(a, sa, b, sb), Satd8x8Acc(a + 8 * sa, sa, b + 8 * sb, sb))) >> 1;
}
int Satd8x8(const uint8_t* a, int sa, const uint8_t* b, int sb) { return Sum32x8(Satd8x8Acc(a, sa, b, sb)) >> 1; }

void Fdct8x8(int16_t out[4][16], const uint8_t* src, int ss, const uint8_t* pred, int sp) {
    __m256i c[4];
    Dct8x8(c, src, ss, pred, sp);
#pragma GCC unroll 4
    for (int b = 0; b < 4; ++b) _mm256_storeu_si256(reinterpret_cast<__m256i*>(out[b]), c[b]);
}

void ChromaMc8x8(uint8_t* d, int ds, const uint8_t* s, int ss, int dx, int dy) {
    if (dx == 0 && dy == 0) {
        sse2::ChromaMc8x8(d, ds, s, ss, 0, 0); // a copy
        return;
    }
    const int wA = (8 - dx) * (8 - dy), wB = dx * (8 - dy), wC = (8 - dx) * dy, wD = dx * dy; // each <= 64
    // byte pairs (s[x], s[x + 1]) against weight pairs; a row's sum is at most 64 * 255
    const __m256i wAB = _mm256_set1_epi16(static_cast<int16_t>(wA | (wB << 8)));
    const __m256i wCD = _mm256_set1_epi16(static_cast<int16_t>(wC | (wD << 8)));
    const __m256i r32 = _mm256_set1_epi16(32);
    const auto pairs = [&](int y) {
        const uint8_t* p = s + y * ss;
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                                 _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 1)));
    };
    __m128i cur = pairs(0);
#pragma GCC unroll 4
    for (int y = 0; y < 8; y += 2) {
        const __m128i next = pairs(y + 1), after = pairs(y + 2);
        const __m256i top = _mm256_inserti128_si256(_mm256_castsi128_si256(cur), next, 1);
        const __m256i bot = _mm256_inserti128_si256(_mm256_castsi128_si256(next), after, 1);
        __m256i t = _mm256_add_epi16(_mm256_maddubs_epi16(top, wAB), _mm256_maddubs_epi16(bot, wCD));
        t = _mm256_srli_epi16(_mm256_add_epi16(t, r32), 6);
        const __m256i px = _mm256_packus_epi16(t, t);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d + y * ds), _mm256_castsi256_si128(px));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d + (y + 1) * ds), _mm256_extracti128_si256(px, 1));
        cur = after;
    }
}

void Sad4x4x16(const uint8_t* a, int sa, const uint8_t* b, int sb, int sad[16]) {
    const __m256i ones8 = _mm256_set1_epi8(1), ones16 = _mm256_set1_epi16(1);
    const std::ptrdiff_t sa1 = sa, sb1 = sb;
#pragma GCC unroll 4
    for (int by = 0; by < 4; ++by) {
        // two rows per vector; neighbouring absolute differences summed in 16 bits (a pair never
        // straddles two blocks), four rows of a block at most 8 * 255
        __m256i acc = _mm256_setzero_si256();
#pragma GCC unroll 2
        for (int y = 0; y < 4; y += 2) {
            const __m256i va = TwoRows(a + y * sa1, sa1), vb = TwoRows(b + y * sb1, sb1);
            const __m256i d = _mm256_sub_epi8(_mm256_max_epu8(va, vb), _mm256_min_epu8(va, vb));
            acc = _mm256_add_epi16(acc, _mm256_maddubs_epi16(d, ones8));
        }
        const __m256i s32 = _mm256_madd_epi16(acc, ones16); // 32-bit lane k: block k of one row pair
        const __m128i s4 = _mm_add_epi32(_mm256_castsi256_si128(s32), _mm256_extracti128_si256(s32, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sad + 4 * by), s4);
        a += 4 * sa1;
        b += 4 * sb1;
    }
}

// Unrolled, four rows a step from the strides' multiples in the addressing
// (the loop's counter and pointer steps were a third of a call).
void Avg16x16(uint8_t* dst, int sd, const uint8_t* a, const uint8_t* b, int s) {
    const std::ptrdiff_t s1 = s, sd1 = sd;
#pragma GCC unroll 4
    for (int y = 0; y < 16; y += 4) {
        const __m256i v0 = _mm256_avg_epu8(TwoRows(a, s1), TwoRows(b, s1));
        const __m256i v1 = _mm256_avg_epu8(TwoRows(a + 2 * s1, s1), TwoRows(b + 2 * s1, s1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm256_castsi256_si128(v0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + sd1), _mm256_extracti128_si256(v0, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * sd1), _mm256_castsi256_si128(v1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * sd1), _mm256_extracti128_si256(v1, 1));
        dst += 4 * sd1; a += 4 * s1; b += 4 * s1;
    }
}

void SixTapRow(const uint8_t* s, int st, uint8_t* dh, uint8_t* dv, uint8_t* dj, int16_t* v1, int x0, int x1, int v0,
               int v1end) {
    const __m256i c16 = _mm256_set1_epi16(16);
    int x = x0;
    for (; x + 16 <= x1; x += 16) {
        const __m256i t = Tap6(Widen16(s + x - 2), Widen16(s + x - 1), Widen16(s + x), Widen16(s + x + 1),
                               Widen16(s + x + 2), Widen16(s + x + 3));
        Store16(dh + x, _mm256_srai_epi16(_mm256_add_epi16(t, c16), 5));
    }
    for (; x < x1; ++x) {
        const int t = s[x - 2] - 5 * s[x - 1] + 20 * s[x] + 20 * s[x + 1] - 5 * s[x + 2] + s[x + 3];
        dh[x] = Clip255((t + 16) >> 5);
    }
    x = v0;
    for (; x + 16 <= v1end; x += 16) {
        const __m256i t = Tap6(Widen16(s + x - 2 * st), Widen16(s + x - st), Widen16(s + x), Widen16(s + x + st),
                               Widen16(s + x + 2 * st), Widen16(s + x + 3 * st));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(v1 + x), t);
    }
    for (; x < v1end; ++x)
        v1[x] = static_cast<int16_t>(s[x - 2 * st] - 5 * s[x - st] + 20 * s[x] + 20 * s[x + st] - 5 * s[x + 2 * st] +
                                     s[x + 3 * st]);
    const __m256i z = _mm256_setzero_si256();
    const __m256i k1_20 = _mm256_set_epi16(20, 1, 20, 1, 20, 1, 20, 1, 20, 1, 20, 1, 20, 1, 20, 1);
    const __m256i km5 = _mm256_set_epi16(0, -5, 0, -5, 0, -5, 0, -5, 0, -5, 0, -5, 0, -5, 0, -5);
    const __m256i c512 = _mm256_set1_epi32(512);
    x = x0;
    for (; x + 16 <= x1; x += 16) {
        const int16_t* w = v1 + x;
        const __m256i c0 = L256(w);
        Store16(dv + x, _mm256_srai_epi16(_mm256_add_epi16(c0, c16), 5));
        // centre: pair sums fit in 16 bits, the weighted sum needs 32
        const __m256i a = _mm256_add_epi16(L256(w - 2), L256(w + 3));
        const __m256i b = _mm256_add_epi16(L256(w - 1), L256(w + 2));
        const __m256i c = _mm256_add_epi16(c0, L256(w + 1));
        __m256i lo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(a, c), k1_20),
                                      _mm256_madd_epi16(_mm256_unpacklo_epi16(b, z), km5));
        __m256i hi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(a, c), k1_20),
                                      _mm256_madd_epi16(_mm256_unpackhi_epi16(b, z), km5));
        lo = _mm256_srai_epi32(_mm256_add_epi32(lo, c512), 10);
        hi = _mm256_srai_epi32(_mm256_add_epi32(hi, c512), 10);
        Store16(dj + x, _mm256_packs_epi32(lo, hi));
    }
    for (; x < x1; ++x) {
        dv[x] = Clip255((v1[x] + 16) >> 5);
        const int t = v1[x - 2] - 5 * v1[x - 1] + 20 * v1[x] + 20 * v1[x + 1] - 5 * v1[x + 2] + v1[x + 3];
        dj[x] = Clip255((t + 512) >> 10);
    }
}

} // namespace avx2

namespace {
// One block in one register: the same arithmetic as the SSSE3 kernel on both
// halves at once, and the zigzag order across the halves by a lane swap.
struct QuantParams {
    __m256i mf, f;
    __m128i shift;
    QuantParams(int qp, bool intra) {
        mf = L256(QuantMfRaster(qp));
        f = _mm256_set1_epi32(kQuantTables.bias[intra ? 1 : 0][qp]);
        shift = _mm_cvtsi32_si128(15 + qp / 6);
    }
};
// raster coefficients -> levels in scan order
inline __m256i QuantScan(__m256i c, const QuantParams& qp) {
    const __m256i a = _mm256_abs_epi16(c); // -32768 stays 0x8000 = 32768 unsigned
    const __m256i plo = _mm256_mullo_epi16(a, qp.mf);
    const __m256i phi = _mm256_mulhi_epu16(a, qp.mf);
    // per half: words 0-3 in lo, 4-7 in hi; packing puts them back in order
    const __m256i lo = _mm256_srl_epi32(_mm256_add_epi32(_mm256_unpacklo_epi16(plo, phi), qp.f), qp.shift);
    const __m256i hi = _mm256_srl_epi32(_mm256_add_epi32(_mm256_unpackhi_epi16(plo, phi), qp.f), qp.shift);
    const __m256i q = _mm256_sign_epi16(_mm256_min_epi16(_mm256_packs_epi32(lo, hi), _mm256_set1_epi16(2047)), c);
    // raster -> scan order: 0 1 4 8 5 2 3 6 | 9 12 13 10 7 11 14 15 (8 and 7 cross the halves)
    const __m256i swapped = _mm256_permute4x64_epi64(q, 0x4E);
#define W2B(w) static_cast<char>((w) < 0 ? -1 : 2 * (w)), static_cast<char>((w) < 0 ? -1 : 2 * (w) + 1)
#define WORDS(a, b, c, d, e, f, g, h) _mm_setr_epi8(W2B(a), W2B(b), W2B(c), W2B(d), W2B(e), W2B(f), W2B(g), W2B(h))
    const __m256i own = _mm256_inserti128_si256(_mm256_castsi128_si256(WORDS(0, 1, 4, -1, 5, 2, 3, 6)),
                                                WORDS(1, 4, 5, 2, -1, 3, 6, 7), 1);
    const __m256i other = _mm256_inserti128_si256(_mm256_castsi128_si256(WORDS(-1, -1, -1, 0, -1, -1, -1, -1)),
                                                  WORDS(-1, -1, -1, -1, 7, -1, -1, -1), 1);
#undef WORDS
#undef W2B
    return _mm256_or_si256(_mm256_shuffle_epi8(q, own), _mm256_shuffle_epi8(swapped, other));
}
// two bits per level: set where it is zero
inline uint32_t ZeroLevels(__m256i scan) {
    return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi16(scan, _mm256_setzero_si256())));
}
} // namespace

namespace avx2 {
int Quant4x4(const int16_t in[16], int16_t levels[16], int qp, bool intra, int first) {
    const __m256i scan = QuantScan(L256(in), QuantParams(qp, intra));
    const int16_t keep = levels[0];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(levels), scan);
    // the first is not counted when skipped
    uint32_t zeros = ZeroLevels(scan);
    if (first) {
        levels[0] = keep;
        zeros |= 3u;
    }
    return 16 - __builtin_popcount(zeros) / 2;
}

int FdctQuant8x4(int16_t levels0[16], int16_t levels1[16], const uint8_t* src, int ss, const uint8_t* pred, int sp,
                 int qp, bool intra) {
    __m128i r[4];
    LoadDiff8x4(r, src, ss, pred, sp);
    Dct2D(r);
    // rows of the left block in the low halves, of the right one in the high
    const __m256i c0 = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi64(r[0], r[1])),
                                               _mm_unpacklo_epi64(r[2], r[3]), 1);
    const __m256i c1 = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpackhi_epi64(r[0], r[1])),
                                               _mm_unpackhi_epi64(r[2], r[3]), 1);
    const QuantParams q(qp, intra);
    const __m256i s0 = QuantScan(c0, q), s1 = QuantScan(c1, q);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(levels0), s0);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(levels1), s1);
    const int n0 = 16 - __builtin_popcount(ZeroLevels(s0)) / 2, n1 = 16 - __builtin_popcount(ZeroLevels(s1)) / 2;
    return n0 | (n1 << 8);
}

int FdctQuantAc8x8(int16_t levels[4][16], int16_t dc[4], const uint8_t* src, int ss, const uint8_t* pred, int sp, int qp,
                   bool intra) {
    __m256i c[4];
    Dct8x8(c, src, ss, pred, sp);
    const QuantParams q(qp, intra);
    const __m256i notDc = _mm256_setr_epi16(0, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    int counts = 0;
#pragma GCC unroll 4
    for (int b = 0; b < 4; ++b) {
        dc[b] = static_cast<int16_t>(_mm256_extract_epi16(c[b], 0));
        // (the DC is the first in scan order as in raster order)
        const __m256i scan = _mm256_and_si256(QuantScan(c[b], q), notDc);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(levels[b]), scan);
        counts |= (16 - __builtin_popcount(ZeroLevels(scan)) / 2) << (8 * b);
    }
    return counts;
}

// Two horizontally adjacent blocks: each 128-bit half runs the SSE2 inverse
// transform in 32-bit lanes, the left block in the low halves, the right one
// in the high.
void Idct8x4Add(uint8_t* dst, int sd_, const uint8_t* pred, int sp_, int16_t coef0[16], int16_t coef1[16]) {
    const std::ptrdiff_t sd = sd_, sp = sp_;
    const __m128i a01 = L128(coef0), a23 = L128(coef0 + 8), b01 = L128(coef1), b23 = L128(coef1 + 8);
    __m256i r[4] = {_mm256_cvtepi16_epi32(_mm_unpacklo_epi64(a01, b01)), _mm256_cvtepi16_epi32(_mm_unpackhi_epi64(a01, b01)),
                    _mm256_cvtepi16_epi32(_mm_unpacklo_epi64(a23, b23)), _mm256_cvtepi16_epi32(_mm_unpackhi_epi64(a23, b23))};
#pragma GCC unroll 2
    for (int pass = 0; pass < 2; ++pass) {
        const __m256i t0 = _mm256_unpacklo_epi32(r[0], r[1]), t1 = _mm256_unpacklo_epi32(r[2], r[3]);
        const __m256i t2 = _mm256_unpackhi_epi32(r[0], r[1]), t3 = _mm256_unpackhi_epi32(r[2], r[3]);
        const __m256i d0 = _mm256_unpacklo_epi64(t0, t1), d1 = _mm256_unpackhi_epi64(t0, t1);
        const __m256i d2 = _mm256_unpacklo_epi64(t2, t3), d3 = _mm256_unpackhi_epi64(t2, t3);
        const __m256i e0 = _mm256_add_epi32(d0, d2), e1 = _mm256_sub_epi32(d0, d2);
        const __m256i e2 = _mm256_sub_epi32(_mm256_srai_epi32(d1, 1), d3), e3 = _mm256_add_epi32(d1, _mm256_srai_epi32(d3, 1));
        r[0] = _mm256_add_epi32(e0, e3);
        r[1] = _mm256_add_epi32(e1, e2);
        r[2] = _mm256_sub_epi32(e1, e2);
        r[3] = _mm256_sub_epi32(e0, e3);
    }
    // r[y]: row y, [left | right]; rows 0-1 and 2-3 packed: [left 0 1 | right 0 1] as words
    const __m256i r32 = _mm256_set1_epi32(32);
    const __m256i w01 = _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(r[0], r32), 6),
                                           _mm256_srai_epi32(_mm256_add_epi32(r[1], r32), 6));
    const __m256i w23 = _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(r[2], r32), 6),
                                           _mm256_srai_epi32(_mm256_add_epi32(r[3], r32), 6));
    // prediction in the same order: bytes left 0 1 right 0 1 from the rows' eight bytes
    const __m256i p01 = _mm256_cvtepu8_epi16(_mm_unpacklo_epi32(Load64(pred), Load64(pred + sp)));
    const __m256i p23 = _mm256_cvtepu8_epi16(_mm_unpacklo_epi32(Load64(pred + 2 * sp), Load64(pred + 3 * sp)));
    // [left rows 0-3 | right rows 0-3] as bytes
    const __m256i px = _mm256_packus_epi16(_mm256_adds_epi16(w01, p01), _mm256_adds_epi16(w23, p23));
    const __m128i lo = _mm256_castsi256_si128(px), hi = _mm256_extracti128_si256(px, 1);
    const __m128i rows01 = _mm_unpacklo_epi32(lo, hi), rows23 = _mm_unpackhi_epi32(lo, hi);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), rows01);
    _mm_storeh_pd(reinterpret_cast<double*>(dst + sd), _mm_castsi128_pd(rows01));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 2 * sd), rows23);
    _mm_storeh_pd(reinterpret_cast<double*>(dst + 3 * sd), _mm_castsi128_pd(rows23));
}

// Deblocking: the 16 lanes of an edge in one vector of 16-bit lanes (the
// 128-bit sets filter them as two halves). Same rules as the plain filter.
namespace deblock {
inline __m256i Abs16(__m256i a, __m256i b) { return _mm256_abs_epi16(_mm256_sub_epi16(a, b)); }
inline __m256i Sel(__m256i m, __m256i a, __m256i b) { return _mm256_blendv_epi8(b, a, m); }
inline __m256i Clip(__m256i v, __m256i lo, __m256i hi) { return _mm256_max_epi16(_mm256_min_epi16(v, hi), lo); }
inline __m256i Sra(__m256i v, int n) { return _mm256_srai_epi16(v, n); }
inline __m256i Add(__m256i a, __m256i b) { return _mm256_add_epi16(a, b); }
inline __m256i Sub(__m256i a, __m256i b) { return _mm256_sub_epi16(a, b); }
inline __m256i Twice(__m256i a) { return _mm256_add_epi16(a, a); }
} // namespace deblock

} // namespace avx2

namespace {
// w: 16 lanes in 16 bits (index 0 = p3 ... 7 = q3); bs, tc0 per lane. The new
// p2 .. q2 go to w[1..6] (p0 and q0 not yet clipped to 0..255); false when
// no lane is filtered (w unchanged).
__attribute__((always_inline)) inline bool FilterWords(__m256i w[8], __m256i bs, __m256i tc0, int alpha, int beta, bool chroma) {
    using namespace avx2::deblock;
    const __m256i z = _mm256_setzero_si256();
    const __m256i one = _mm256_set1_epi16(1), two = _mm256_set1_epi16(2), four = _mm256_set1_epi16(4);
    const __m256i va = _mm256_set1_epi16(static_cast<int16_t>(alpha)), vb = _mm256_set1_epi16(static_cast<int16_t>(beta));
    const __m256i p1 = w[2], p0 = w[3], q0 = w[4], q1 = w[5];
    const __m256i d0 = Abs16(p0, q0);
    __m256i m = _mm256_and_si256(_mm256_cmpgt_epi16(va, d0), _mm256_cmpgt_epi16(vb, Abs16(p1, p0)));
    m = _mm256_and_si256(m, _mm256_cmpgt_epi16(vb, Abs16(q1, q0)));
    m = _mm256_and_si256(m, _mm256_cmpgt_epi16(bs, z));
    if (_mm256_testz_si256(m, m)) return false;
    const __m256i strong = _mm256_cmpeq_epi16(bs, four);
    const __m256i ms = _mm256_and_si256(m, strong), mn = _mm256_andnot_si256(strong, m);
    // normal filter
    __m256i delta = Add(_mm256_slli_epi16(Sub(q0, p0), 2), Sub(p1, q1));
    const __m256i weakP0 = Sra(Add(Add(Twice(p1), p0), Add(q1, two)), 2);
    const __m256i weakQ0 = Sra(Add(Add(Twice(q1), q0), Add(p1, two)), 2);
    if (chroma) {
        const __m256i tc = Add(tc0, one);
        delta = Clip(Sra(Add(delta, four), 3), Sub(z, tc), tc);
        w[3] = Sel(ms, weakP0, Sel(mn, Add(p0, delta), p0));
        w[4] = Sel(ms, weakQ0, Sel(mn, Sub(q0, delta), q0));
        return true;
    }
    const __m256i p2 = w[1], q2 = w[6];
    const __m256i ap = _mm256_cmpgt_epi16(vb, Abs16(p2, p0)), aq = _mm256_cmpgt_epi16(vb, Abs16(q2, q0));
    const __m256i tc = Sub(Sub(tc0, ap), aq); // masks are -1
    delta = Clip(Sra(Add(delta, four), 3), Sub(z, tc), tc);
    const __m256i np0 = Add(p0, delta), nq0 = Sub(q0, delta);
    const __m256i avg = Sra(Add(Add(p0, q0), one), 1);
    const __m256i ntc0 = Sub(z, tc0);
    const __m256i np1 = Sel(ap, Add(p1, Clip(Sra(Sub(Add(p2, avg), Twice(p1)), 1), ntc0, tc0)), p1);
    const __m256i nq1 = Sel(aq, Add(q1, Clip(Sra(Sub(Add(q2, avg), Twice(q1)), 1), ntc0, tc0)), q1);
    // strong filter (bS 4)
    const __m256i p3 = w[0], q3 = w[7];
    const __m256i small = _mm256_cmpgt_epi16(_mm256_set1_epi16(static_cast<int16_t>((alpha >> 2) + 2)), d0);
    const __m256i sP = _mm256_and_si256(ap, small), sQ = _mm256_and_si256(aq, small);
    const __m256i pq = Add(p0, q0);
    const __m256i sp0 = Sel(sP, Sra(Add(Add(p2, Twice(Add(p1, pq))), Add(q1, four)), 3), weakP0);
    const __m256i sp1 = Sel(sP, Sra(Add(Add(p2, p1), Add(pq, two)), 2), p1);
    const __m256i sp2 = Sel(sP, Sra(Add(Add(Twice(p3), Add(Twice(p2), p2)), Add(Add(p1, pq), four)), 3), p2);
    const __m256i sq0 = Sel(sQ, Sra(Add(Add(q2, Twice(Add(q1, pq))), Add(p1, four)), 3), weakQ0);
    const __m256i sq1 = Sel(sQ, Sra(Add(Add(q2, q1), Add(pq, two)), 2), q1);
    const __m256i sq2 = Sel(sQ, Sra(Add(Add(Twice(q3), Add(Twice(q2), q2)), Add(Add(q1, pq), four)), 3), q2);
    w[1] = Sel(ms, sp2, p2);
    w[2] = Sel(ms, sp1, Sel(mn, np1, p1));
    w[3] = Sel(ms, sp0, Sel(mn, np0, p0));
    w[4] = Sel(ms, sq0, Sel(mn, nq0, q0));
    w[5] = Sel(ms, sq1, Sel(mn, nq1, q1));
    w[6] = Sel(ms, sq2, q2);
    return true;
}

// v: 16 lanes as 8 byte vectors (index 0 = p3 ... 7 = q3); bs, tc0: a byte per lane.
__attribute__((always_inline)) inline void Filter16(__m128i v[8], __m128i bsBytes, __m128i tcBytes, int alpha, int beta, bool chroma) {
    __m256i w[8];
    for (int k = 0; k < 8; ++k) w[k] = _mm256_cvtepu8_epi16(v[k]);
    if (!FilterWords(w, _mm256_cvtepu8_epi16(bsBytes), _mm256_cvtepu8_epi16(tcBytes), alpha, beta, chroma)) return;
    for (int k = 1; k < 7; ++k) // packus clips p0 and q0
        v[k] = _mm_packus_epi16(_mm256_castsi256_si128(w[k]), _mm256_extracti128_si256(w[k], 1));
}
#define VCORE_DEBLOCK_OWN_FILTER
#include "DeblockSimd.h"
#undef VCORE_DEBLOCK_OWN_FILTER

// An edge between columns: 8 lines from top (low halves) and 8 from bottom
// (high halves), top and bottom at p3 of their first line. The 8x8 bytes of
// each half are transposed in place, widened to 16 bits, filtered and put back.
__attribute__((always_inline)) inline void DeblockVertical(uint8_t* top, uint8_t* bottom, int stride, const uint8_t bS[4], int qp, bool chroma) {
    const int alpha = kDeblockAlpha[qp], beta = kDeblockBeta[qp];
    if (alpha == 0 || beta == 0) return;
    __m128i bsBytes, tcBytes;
    LaneParams(bS, qp, chroma, &bsBytes, &tcBytes);
    __m256i a[8];
    for (int i = 0; i < 8; ++i)
        a[i] = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(top + i * stride))),
                                       _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bottom + i * stride)), 1);
    // rows -> columns: d[k] holds columns 2k and 2k + 1 (8 lines each)
    const __m256i b0 = _mm256_unpacklo_epi8(a[0], a[1]), b1 = _mm256_unpacklo_epi8(a[2], a[3]);
    const __m256i b2 = _mm256_unpacklo_epi8(a[4], a[5]), b3 = _mm256_unpacklo_epi8(a[6], a[7]);
    const __m256i c0 = _mm256_unpacklo_epi16(b0, b1), c1 = _mm256_unpackhi_epi16(b0, b1);
    const __m256i c2 = _mm256_unpacklo_epi16(b2, b3), c3 = _mm256_unpackhi_epi16(b2, b3);
    __m256i d[4] = {_mm256_unpacklo_epi32(c0, c2), _mm256_unpackhi_epi32(c0, c2), _mm256_unpacklo_epi32(c1, c3),
                    _mm256_unpackhi_epi32(c1, c3)};
    const __m256i z = _mm256_setzero_si256();
    __m256i w[8];
    for (int k = 0; k < 4; ++k) {
        w[2 * k] = _mm256_unpacklo_epi8(d[k], z);
        w[2 * k + 1] = _mm256_unpackhi_epi8(d[k], z);
    }
    if (!FilterWords(w, _mm256_cvtepu8_epi16(bsBytes), _mm256_cvtepu8_epi16(tcBytes), alpha, beta, chroma)) return;
    for (int k = 0; k < 4; ++k) d[k] = _mm256_packus_epi16(w[2 * k], w[2 * k + 1]); // clips p0 and q0
    // columns -> rows: e[k] holds lines 2k and 2k + 1
    const __m256i t0 = _mm256_unpacklo_epi8(d[0], d[1]), t1 = _mm256_unpackhi_epi8(d[0], d[1]);
    const __m256i t2 = _mm256_unpacklo_epi8(d[2], d[3]), t3 = _mm256_unpackhi_epi8(d[2], d[3]);
    const __m256i u0 = _mm256_unpacklo_epi8(t0, t1), u1 = _mm256_unpackhi_epi8(t0, t1); // columns 0-3
    const __m256i u2 = _mm256_unpacklo_epi8(t2, t3), u3 = _mm256_unpackhi_epi8(t2, t3); // columns 4-7
    const __m256i e[4] = {_mm256_unpacklo_epi32(u0, u2), _mm256_unpackhi_epi32(u0, u2), _mm256_unpacklo_epi32(u1, u3),
                          _mm256_unpackhi_epi32(u1, u3)};
    for (int k = 0; k < 4; ++k) {
        const __m128i lo = _mm256_castsi256_si128(e[k]), hi = _mm256_extracti128_si256(e[k], 1);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(top + 2 * k * stride), lo);
        _mm_storeh_pd(reinterpret_cast<double*>(top + (2 * k + 1) * stride), _mm_castsi128_pd(lo));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(bottom + 2 * k * stride), hi);
        _mm_storeh_pd(reinterpret_cast<double*>(bottom + (2 * k + 1) * stride), _mm_castsi128_pd(hi));
    }
}
} // namespace

namespace avx2 {
void DeblockLuma(uint8_t* pix, int stride, bool vertical, const uint8_t bS[4], int qp) {
    if (vertical)
        DeblockVertical(pix - 4, pix + 8 * stride - 4, stride, bS, qp, false);
    else
        DeblockLumaEdge(pix, stride, false, bS, qp);
}
void DeblockChroma(uint8_t* u, uint8_t* v, int stride, bool vertical, const uint8_t bS[4], int qpc) {
    if (vertical)
        DeblockVertical(u - 4, v - 4, stride, bS, qpc, true);
    else
        DeblockChromaEdge(u, v, stride, false, bS, qpc);
}
} // namespace avx2
} // namespace vcore
