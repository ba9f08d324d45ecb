// SSE2 kernels (the floor of every x86-64 processor).
#include <emmintrin.h>

#include <cstddef>
#include <cstring>

#include "Dsp.h"
#include "KernelFns.h"
#include "SimdCommon.h"

namespace vcore {
namespace {

// Sum of absolute Hadamard coefficients of the two 4x4 blocks in r (not halved).
inline int HadamardAbsSum(__m128i r[4]) {
    HadamardPass(r);
    Transpose2x4x4(r);
    HadamardPass(r);
    const __m128i z = _mm_setzero_si128();
    __m128i acc = z;
    for (int i = 0; i < 4; ++i) {
        const __m128i v = _mm_max_epi16(r[i], _mm_sub_epi16(z, r[i]));
        acc = _mm_add_epi32(acc, _mm_madd_epi16(v, _mm_set1_epi16(1)));
    }
    acc = _mm_add_epi32(acc, _mm_srli_si128(acc, 8));
    acc = _mm_add_epi32(acc, _mm_srli_si128(acc, 4));
    return _mm_cvtsi128_si32(acc);
}
inline int Satd8x4Raw(const uint8_t* a, int sa, const uint8_t* b, int sb) {
    __m128i r[4];
    LoadDiff8x4(r, a, sa, b, sb);
    return HadamardAbsSum(r);
}
template <int W, int H>
int SatdWxH(const uint8_t* a, int sa, const uint8_t* b, int sb) {
    int s = 0;
    for (int y = 0; y < H; y += 4)
        for (int x = 0; x < W; x += 8) s += Satd8x4Raw(a + y * sa + x, sa, b + y * sb + x, sb);
    return s >> 1;
}

template <int H>
int Sad16xH(const uint8_t* a, int sa, const uint8_t* b, int sb) {
    __m128i acc = _mm_setzero_si128();
    for (int y = 0; y < H; ++y) {
        acc = _mm_add_epi64(acc, _mm_sad_epu8(Load128(a), Load128(b)));
        a += sa; b += sb;
    }
    return HorizontalSum64(acc);
}
// Rows 2k and 2k + 1 of 8 bytes in one register.
inline __m128i Rows8x2(const uint8_t* p, std::ptrdiff_t s) {
    return _mm_castps_si128(_mm_loadh_pi(_mm_castsi128_ps(Load64(p)), reinterpret_cast<const __m64*>(p + s)));
}
// Four rows per step with the stride's multiples in the addressing (the loop
// of two rows a step spent a third of a call on its counter and pointers).
template <int H>
int Sad8xH(const uint8_t* a, int sa, const uint8_t* b, int sb) {
    const std::ptrdiff_t sa1 = sa, sb1 = sb;
    __m128i acc = _mm_setzero_si128();
#pragma GCC unroll 4
    for (int y = 0; y < H; y += 4) {
        const __m128i s0 = _mm_sad_epu8(Rows8x2(a, sa1), Rows8x2(b, sb1));
        const __m128i s1 = _mm_sad_epu8(Rows8x2(a + 2 * sa1, sa1), Rows8x2(b + 2 * sb1, sb1));
        acc = _mm_add_epi64(acc, _mm_add_epi64(s0, s1));
        a += 4 * sa1; b += 4 * sb1;
    }
    return HorizontalSum64(acc);
}
template <int H>
int Sad4xH(const uint8_t* a, int sa, const uint8_t* b, int sb) {
    __m128i acc = _mm_setzero_si128();
    for (int y = 0; y < H; y += 4) {
        const __m128i va = _mm_unpacklo_epi64(_mm_unpacklo_epi32(Load32(a), Load32(a + sa)),
                                              _mm_unpacklo_epi32(Load32(a + 2 * sa), Load32(a + 3 * sa)));
        const __m128i vb = _mm_unpacklo_epi64(_mm_unpacklo_epi32(Load32(b), Load32(b + sb)),
                                              _mm_unpacklo_epi32(Load32(b + 2 * sb), Load32(b + 3 * sb)));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(va, vb));
        a += 4 * sa; b += 4 * sb;
    }
    return HorizontalSum64(acc);
}

// Plane prediction rows: v(x, y) = (a + b (x - xc) + c (y - yc) + 16) >> 5, all in 16 bits.
inline void PlaneRows(uint8_t* dst, int size, int a, int b, int c) {
    const int centre = size / 2 - 1;
    const __m128i bv = _mm_set1_epi16(static_cast<int16_t>(b));
    const __m128i xlo = _mm_mullo_epi16(bv, _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7));
    const __m128i xhi = _mm_add_epi16(xlo, _mm_slli_epi16(bv, 3));
    const __m128i start = _mm_set1_epi16(static_cast<int16_t>(a - centre * b - centre * c + 16));
    __m128i lo = _mm_add_epi16(start, xlo), hi = _mm_add_epi16(start, xhi);
    const __m128i cv = _mm_set1_epi16(static_cast<int16_t>(c));
    for (int y = 0; y < size; ++y) {
        const __m128i l = _mm_srai_epi16(lo, 5);
        if (size == 16) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16 * y), _mm_packus_epi16(l, _mm_srai_epi16(hi, 5)));
        } else {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 8 * y), _mm_packus_epi16(l, l));
        }
        lo = _mm_add_epi16(lo, cv);
        hi = _mm_add_epi16(hi, cv);
    }
}

} // namespace

namespace sse2 {

int Sad16x16(const uint8_t* a, int sa, const uint8_t* b, int sb) { return Sad16xH<16>(a, sa, b, sb); }
int Sad16x8(const uint8_t* a, int sa, const uint8_t* b, int sb) { return Sad16xH<8>(a, sa, b, sb); }
int Sad8x16(const uint8_t* a, int sa, const uint8_t* b, int sb) { return Sad8xH<16>(a, sa, b, sb); }
int Sad8x8(const uint8_t* a, int sa, const uint8_t* b, int sb) { return Sad8xH<8>(a, sa, b, sb); }
int Sad8x4(const uint8_t* a, int sa, const uint8_t* b, int sb) { return Sad8xH<4>(a, sa, b, sb); }
int Sad4x8(const uint8_t* a, int sa, const uint8_t* b, int sb) { return Sad4xH<8>(a, sa, b, sb); }
int Sad4x4(const uint8_t* a, int sa, const uint8_t* b, int sb) { return Sad4xH<4>(a, sa, b, sb); }
// Four rows at a time: the absolute differences of a row, masked to the bytes
// of columns 0 and 2 (and of 1 and 3), summed by psadbw per half.
void Sad4x4x16(const uint8_t* a, int sa, const uint8_t* b, int sb, int sad[16]) {
    const __m128i even = _mm_setr_epi32(-1, 0, -1, 0);
    const __m128i z = _mm_setzero_si128();
    for (int by = 0; by < 4; ++by) {
        __m128i s02 = z, s13 = z;
        for (int y = 0; y < 4; ++y) {
            const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + (by * 4 + y) * sa));
            const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + (by * 4 + y) * sb));
            const __m128i d = _mm_or_si128(_mm_subs_epu8(va, vb), _mm_subs_epu8(vb, va));
            s02 = _mm_add_epi64(s02, _mm_sad_epu8(_mm_and_si128(d, even), z));
            s13 = _mm_add_epi64(s13, _mm_sad_epu8(_mm_andnot_si128(even, d), z));
        }
        sad[by * 4 + 0] = _mm_cvtsi128_si32(s02);
        sad[by * 4 + 1] = _mm_cvtsi128_si32(s13);
        sad[by * 4 + 2] = _mm_cvtsi128_si32(_mm_unpackhi_epi64(s02, s02));
        sad[by * 4 + 3] = _mm_cvtsi128_si32(_mm_unpackhi_epi64(s13, s13));
    }
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

void Avg16x16(uint8_t* dst, int sd, const uint8_t* a, const uint8_t* b, int s) {
    for (int y = 0; y < 16; ++y) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_avg_epu8(Load128(a), Load128(b)));
        dst += sd; a += s; b += s;
    }
}

void Fdct4x4(int16_t out[16], const uint8_t* src, int ss, const uint8_t* pred, int sp) {
    __m128i r[4];
    LoadDiff4x4Pair(r, src, src, ss, pred, pred, sp);
    Dct2D(r);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi64(r[0], r[1]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpacklo_epi64(r[2], r[3]));
}

void Fdct8x4(int16_t out0[16], int16_t out1[16], const uint8_t* src, int ss, const uint8_t* pred, int sp) {
    __m128i r[4];
    LoadDiff8x4(r, src, ss, pred, sp);
    Dct2D(r);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out0), _mm_unpacklo_epi64(r[0], r[1]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out0 + 8), _mm_unpacklo_epi64(r[2], r[3]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out1), _mm_unpackhi_epi64(r[0], r[1]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out1 + 8), _mm_unpackhi_epi64(r[2], r[3]));
}

void Idct4x4Add(uint8_t* dst, int sd, const uint8_t* pred, int sp, int16_t coef[16]) {
    // 32-bit lanes: dequantised coefficients may use the whole 16-bit range
    const __m128i c01 = Load128(coef), c23 = Load128(coef + 8);
    __m128i r[4] = {_mm_srai_epi32(_mm_unpacklo_epi16(c01, c01), 16), _mm_srai_epi32(_mm_unpackhi_epi16(c01, c01), 16),
                    _mm_srai_epi32(_mm_unpacklo_epi16(c23, c23), 16), _mm_srai_epi32(_mm_unpackhi_epi16(c23, c23), 16)};
    // both loops unrolled (as loops they kept the rows on the stack)
#pragma GCC unroll 2
    for (int pass = 0; pass < 2; ++pass) {
        // transpose: lanes become the other index
        const __m128i t0 = _mm_unpacklo_epi32(r[0], r[1]), t1 = _mm_unpacklo_epi32(r[2], r[3]);
        const __m128i t2 = _mm_unpackhi_epi32(r[0], r[1]), t3 = _mm_unpackhi_epi32(r[2], r[3]);
        const __m128i d0 = _mm_unpacklo_epi64(t0, t1), d1 = _mm_unpackhi_epi64(t0, t1);
        const __m128i d2 = _mm_unpacklo_epi64(t2, t3), d3 = _mm_unpackhi_epi64(t2, t3);
        const __m128i e0 = _mm_add_epi32(d0, d2), e1 = _mm_sub_epi32(d0, d2);
        const __m128i e2 = _mm_sub_epi32(_mm_srai_epi32(d1, 1), d3), e3 = _mm_add_epi32(d1, _mm_srai_epi32(d3, 1));
        r[0] = _mm_add_epi32(e0, e3);
        r[1] = _mm_add_epi32(e1, e2);
        r[2] = _mm_sub_epi32(e1, e2);
        r[3] = _mm_sub_epi32(e0, e3);
    }
    // r[y] now holds row y of the result
    const __m128i z = _mm_setzero_si128(), r32 = _mm_set1_epi32(32);
#pragma GCC unroll 4
    for (int y = 0; y < 4; ++y) {
        const __m128i v = _mm_srai_epi32(_mm_add_epi32(r[y], r32), 6);
        __m128i s = _mm_add_epi16(_mm_packs_epi32(v, v), _mm_unpacklo_epi8(Load32(pred + y * sp), z));
        Store32(dst + y * sd, _mm_packus_epi16(s, s));
    }
}

void IdctDcAdd(uint8_t* dst, int sd, const uint8_t* pred, int sp, int dc) {
    int add = (dc + 32) >> 6;
    add = add < -512 ? -512 : (add > 512 ? 512 : add); // the same after clipping to 0..255
    const __m128i av = _mm_set1_epi16(static_cast<int16_t>(add)), z = _mm_setzero_si128();
#pragma GCC unroll 4
    for (int y = 0; y < 4; ++y) {
        const __m128i s = _mm_add_epi16(_mm_unpacklo_epi8(Load32(pred + y * sp), z), av);
        Store32(dst + y * sd, _mm_packus_epi16(s, s));
    }
}

int Quant4x4(const int16_t in[16], int16_t levels[16], int qp, bool intra, int first) {
    const int qbits = 15 + qp / 6;
    const int f = intra ? (1 << qbits) / 3 : (1 << qbits) / 6;
    const int16_t* mf = QuantMfRaster(qp);
    alignas(16) int16_t q[16];
    const __m128i fv = _mm_set1_epi32(f);
    const __m128i sh = _mm_cvtsi32_si128(qbits);
    const __m128i maxl = _mm_set1_epi16(2047);
    __m128i any = _mm_setzero_si128();
    for (int h = 0; h < 2; ++h) {
        const __m128i c = Load128(in + 8 * h);
        const __m128i m = Load128(mf + 8 * h);
        const __m128i sign = _mm_srai_epi16(c, 15);
        const __m128i a = _mm_sub_epi16(_mm_xor_si128(c, sign), sign); // |c| as unsigned
        const __m128i plo = _mm_mullo_epi16(a, m);
        const __m128i phi = _mm_mulhi_epu16(a, m);
        __m128i lo = _mm_add_epi32(_mm_unpacklo_epi16(plo, phi), fv);
        __m128i hi = _mm_add_epi32(_mm_unpackhi_epi16(plo, phi), fv);
        lo = _mm_srl_epi32(lo, sh);
        hi = _mm_srl_epi32(hi, sh);
        __m128i l = _mm_min_epi16(_mm_packs_epi32(lo, hi), maxl);
        l = _mm_sub_epi16(_mm_xor_si128(l, sign), sign);
        _mm_store_si128(reinterpret_cast<__m128i*>(q + 8 * h), l);
        any = _mm_or_si128(any, l);
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(any, _mm_setzero_si128())) == 0xFFFF) {
        for (int i = first; i < 16; ++i) levels[i] = 0;
        return 0;
    }
    int nz = 0;
    for (int i = first; i < 16; ++i) {
        const int16_t l = q[kZigzag4x4[i]];
        levels[i] = l;
        nz += l != 0;
    }
    return nz;
}

void PredIntra16(int mode, const uint8_t* rec, int stride, bool top, bool left, uint8_t* dst) {
    const uint8_t* t = rec - stride;
    if (mode == 0 || mode == 2) {
        __m128i row;
        if (mode == 0) { // vertical
            row = Load128(t);
        } else {
            int dc = 128;
            if (top || left) {
                int sl = 0;
                if (left)
#pragma GCC unroll 16
                    for (int i = 0; i < 16; ++i) sl += rec[i * stride - 1];
                const int st = top ? HorizontalSum64(_mm_sad_epu8(Load128(t), _mm_setzero_si128())) : 0;
                dc = top && left ? (st + sl + 16) >> 5 : (st + sl + 8) >> 4;
            }
            row = _mm_set1_epi8(static_cast<char>(dc));
        }
#pragma GCC unroll 16
        for (int y = 0; y < 16; ++y) _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16 * y), row);
        return;
    }
    if (mode == 1) { // horizontal
#pragma GCC unroll 16
        for (int y = 0; y < 16; ++y)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16 * y), _mm_set1_epi8(static_cast<char>(rec[y * stride - 1])));
        return;
    }
    int H = 0, V = 0;
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) {
        H += (i + 1) * (t[8 + i] - t[6 - i]);
        V += (i + 1) * (rec[(8 + i) * stride - 1] - rec[(6 - i) * stride - 1]);
    }
    PlaneRows(dst, 16, 16 * (rec[15 * stride - 1] + t[15]), (5 * H + 32) >> 6, (5 * V + 32) >> 6);
}

void PredChroma8(int mode, const uint8_t* rec, int stride, bool top, bool left, uint8_t* dst) {
    const uint8_t* t = rec - stride;
    if (mode == 2) { // vertical
        const __m128i row = Load64(t);
#pragma GCC unroll 8
        for (int y = 0; y < 8; ++y) _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 8 * y), row);
        return;
    }
    if (mode == 1) { // horizontal
#pragma GCC unroll 8
        for (int y = 0; y < 8; ++y)
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 8 * y), _mm_set1_epi8(static_cast<char>(rec[y * stride - 1])));
        return;
    }
    if (mode == 0) { // DC of each 4x4 block, as the plain version chooses them
        const int st0 = t[0] + t[1] + t[2] + t[3], st1 = t[4] + t[5] + t[6] + t[7];
        int sl0 = 0, sl1 = 0;
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i) {
            sl0 += rec[i * stride - 1];
            sl1 += rec[(4 + i) * stride - 1];
        }
        const auto both = [&](int st, int sl) {
            return top && left ? (st + sl + 4) >> 3 : left ? (sl + 2) >> 2 : top ? (st + 2) >> 2 : 128;
        };
        const int dc00 = both(st0, sl0), dc11 = both(st1, sl1);
        const int dc01 = top ? (st1 + 2) >> 2 : left ? (sl0 + 2) >> 2 : 128; // upper right prefers the top row
        const int dc10 = left ? (sl1 + 2) >> 2 : top ? (st0 + 2) >> 2 : 128;  // lower left the left column
        const __m128i upper = _mm_unpacklo_epi32(_mm_set1_epi8(static_cast<char>(dc00)), _mm_set1_epi8(static_cast<char>(dc01)));
        const __m128i lower = _mm_unpacklo_epi32(_mm_set1_epi8(static_cast<char>(dc10)), _mm_set1_epi8(static_cast<char>(dc11)));
#pragma GCC unroll 4
        for (int y = 0; y < 4; ++y) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 8 * y), upper);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 8 * (y + 4)), lower);
        }
        return;
    }
    int H = 0, V = 0;
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
        H += (i + 1) * (t[4 + i] - t[2 - i]);
        V += (i + 1) * (rec[(4 + i) * stride - 1] - rec[(2 - i) * stride - 1]);
    }
    PlaneRows(dst, 8, 16 * (rec[7 * stride - 1] + t[7]), (34 * H + 32) >> 6, (34 * V + 32) >> 6);
}

void SixTapRow(const uint8_t* s, int st, uint8_t* dh, uint8_t* dv, uint8_t* dj, int16_t* v1, int x0, int x1, int v0,
               int v1end) {
    const __m128i z = _mm_setzero_si128();
    const __m128i c16 = _mm_set1_epi16(16);
    auto ld = [&](const uint8_t* p) { return _mm_unpacklo_epi8(Load64(p), z); };
    auto tap6 = [](__m128i a, __m128i b, __m128i c, __m128i d, __m128i e, __m128i g) {
        // (a + g) - 5 (b + e) + 20 (c + d), in 16 bits
        const __m128i cd = _mm_add_epi16(c, d);
        const __m128i be = _mm_add_epi16(b, e);
        __m128i t = _mm_add_epi16(a, g);
        t = _mm_add_epi16(t, _mm_add_epi16(_mm_slli_epi16(cd, 4), _mm_slli_epi16(cd, 2)));
        return _mm_sub_epi16(t, _mm_add_epi16(_mm_slli_epi16(be, 2), be));
    };
    int x = x0;
    for (; x + 8 <= x1; x += 8) {
        __m128i t = tap6(ld(s + x - 2), ld(s + x - 1), ld(s + x), ld(s + x + 1), ld(s + x + 2), ld(s + x + 3));
        t = _mm_srai_epi16(_mm_add_epi16(t, c16), 5);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dh + x), _mm_packus_epi16(t, t));
    }
    for (; x < x1; ++x) {
        const int t = s[x - 2] - 5 * s[x - 1] + 20 * s[x] + 20 * s[x + 1] - 5 * s[x + 2] + s[x + 3];
        dh[x] = Clip255((t + 16) >> 5);
    }
    x = v0;
    for (; x + 8 <= v1end; x += 8) {
        const __m128i t = tap6(ld(s + x - 2 * st), ld(s + x - st), ld(s + x), ld(s + x + st), ld(s + x + 2 * st),
                               ld(s + x + 3 * st));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(v1 + x), t);
    }
    for (; x < v1end; ++x)
        v1[x] = static_cast<int16_t>(s[x - 2 * st] - 5 * s[x - st] + 20 * s[x] + 20 * s[x + st] - 5 * s[x + 2 * st] +
                                     s[x + 3 * st]);
    x = x0;
    const __m128i k1_20 = _mm_set_epi16(20, 1, 20, 1, 20, 1, 20, 1);
    const __m128i km5 = _mm_set_epi16(0, -5, 0, -5, 0, -5, 0, -5);
    const __m128i c512 = _mm_set1_epi32(512);
    for (; x + 8 <= x1; x += 8) {
        auto lv = [&](int o) { return Load128(v1 + x + o); };
        const __m128i c0 = lv(0);
        const __m128i tv = _mm_srai_epi16(_mm_add_epi16(c0, c16), 5);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dv + x), _mm_packus_epi16(tv, tv));
        // centre: pair sums fit in 16 bits, the weighted sum needs 32
        const __m128i a = _mm_add_epi16(lv(-2), lv(3));
        const __m128i b = _mm_add_epi16(lv(-1), lv(2));
        const __m128i c = _mm_add_epi16(c0, lv(1));
        __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, c), k1_20), _mm_madd_epi16(_mm_unpacklo_epi16(b, z), km5));
        __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, c), k1_20), _mm_madd_epi16(_mm_unpackhi_epi16(b, z), km5));
        lo = _mm_srai_epi32(_mm_add_epi32(lo, c512), 10);
        hi = _mm_srai_epi32(_mm_add_epi32(hi, c512), 10);
        const __m128i j16 = _mm_packs_epi32(lo, hi);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dj + x), _mm_packus_epi16(j16, j16));
    }
    for (; x < x1; ++x) {
        dv[x] = Clip255((v1[x] + 16) >> 5);
        const int t = v1[x - 2] - 5 * v1[x - 1] + 20 * v1[x] + 20 * v1[x + 1] - 5 * v1[x + 2] + v1[x + 3];
        dj[x] = Clip255((t + 512) >> 10);
    }
}

void ChromaMc8x8(uint8_t* d, int ds, const uint8_t* s, int ss, int dx, int dy) {
    if (dx == 0 && dy == 0) {
        Copy8x8(d, ds, s, ss);
        return;
    }
    const int wA = (8 - dx) * (8 - dy), wB = dx * (8 - dy), wC = (8 - dx) * dy, wD = dx * dy;
    const __m128i z = _mm_setzero_si128();
    const __m128i a = _mm_set1_epi16(static_cast<int16_t>(wA)), b = _mm_set1_epi16(static_cast<int16_t>(wB));
    const __m128i c = _mm_set1_epi16(static_cast<int16_t>(wC)), e = _mm_set1_epi16(static_cast<int16_t>(wD));
    const __m128i r32 = _mm_set1_epi16(32);
    auto row = [&](const uint8_t* p) { return _mm_unpacklo_epi8(Load64(p), z); };
    __m128i p0 = row(s), p1 = row(s + 1);
#pragma GCC unroll 8
    for (int y = 0; y < 8; ++y) {
        const __m128i q0 = row(s + ss), q1 = row(s + ss + 1);
        __m128i t = _mm_add_epi16(_mm_mullo_epi16(p0, a), _mm_mullo_epi16(p1, b));
        t = _mm_add_epi16(t, _mm_add_epi16(_mm_mullo_epi16(q0, c), _mm_mullo_epi16(q1, e)));
        t = _mm_srli_epi16(_mm_add_epi16(t, r32), 6);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(t, t));
        p0 = q0;
        p1 = q1;
        d += ds;
        s += ss;
    }
}

void RgbToY(const uint8_t* s, int bpp, uint8_t* y, int width) {
    if (bpp != 4) {
        ref::RgbToY(s, bpp, y, width);
        return;
    }
    int x = 0;
    for (; x + 4 <= width; x += 4) Store32(y + x, LumaOf4Bgrx(Load128(s + 4 * x)));
    if (x < width) ref::RgbToY(s + 4 * x, 4, y + x, width - x);
}

void Yuy2ToY(const uint8_t* s, uint8_t* y, int width) {
    const __m128i mask = _mm_set1_epi16(0x00FF);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i a = _mm_and_si128(Load128(s + 2 * x), mask);
        const __m128i b = _mm_and_si128(Load128(s + 2 * x + 16), mask);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(y + x), _mm_packus_epi16(a, b));
    }
    if (x < width) ref::Yuy2ToY(s + 2 * x, y + x, width - x);
}

void Yuy2ToUv(const uint8_t* s0, const uint8_t* s1, uint8_t* u, uint8_t* v, int cw) {
    const __m128i lo16 = _mm_set1_epi32(0xFFFF);
    int x = 0;
    for (; x + 8 <= cw; x += 8) {
        __m128i c[2];
        for (int h = 0; h < 2; ++h) {
            const __m128i avg = _mm_avg_epu8(Load128(s0 + 4 * x + 16 * h), Load128(s1 + 4 * x + 16 * h));
            c[h] = _mm_srli_epi16(avg, 8); // U V U V ... as 16-bit lanes
        }
        const __m128i uu = _mm_packs_epi32(_mm_and_si128(c[0], lo16), _mm_and_si128(c[1], lo16));
        const __m128i vv = _mm_packs_epi32(_mm_srli_epi32(c[0], 16), _mm_srli_epi32(c[1], 16));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(u + x), _mm_packus_epi16(uu, uu));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(v + x), _mm_packus_epi16(vv, vv));
    }
    if (x < cw) ref::Yuy2ToUv(s0 + 4 * x, s1 + 4 * x, u + x, v + x, cw - x);
}

void SplitUv(const uint8_t* s, uint8_t* u, uint8_t* v, int cw) {
    const __m128i mask = _mm_set1_epi16(0x00FF);
    int x = 0;
    for (; x + 16 <= cw; x += 16) {
        const __m128i a = Load128(s + 2 * x), b = Load128(s + 2 * x + 16);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(u + x), _mm_packus_epi16(_mm_and_si128(a, mask), _mm_and_si128(b, mask)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(v + x), _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8)));
    }
    if (x < cw) ref::SplitUv(s + 2 * x, u + x, v + x, cw - x);
}

} // namespace sse2

namespace {
#define VCORE_DEBLOCK_SELECT(m, a, b) _mm_or_si128(_mm_and_si128(m, a), _mm_andnot_si128(m, b))
#include "DeblockSimd.h"
#undef VCORE_DEBLOCK_SELECT
} // namespace

namespace sse2 {
void DeblockLuma(uint8_t* pix, int stride, bool vertical, const uint8_t bS[4], int qp) {
    DeblockLumaEdge(pix, stride, vertical, bS, qp);
}
void DeblockChroma(uint8_t* u, uint8_t* v, int stride, bool vertical, const uint8_t bS[4], int qpc) {
    DeblockChromaEdge(u, v, stride, vertical, bS, qpc);
}
} // namespace sse2

} // namespace vcore
