#include "Dsp.h"

namespace vcore {

const uint8_t kZigzag4x4[16] = {0, 1, 4, 8, 5, 2, 3, 6, 9, 12, 13, 10, 7, 11, 14, 15};
const uint8_t kBlkX[16] = {0, 1, 0, 1, 2, 3, 2, 3, 0, 1, 0, 1, 2, 3, 2, 3};
const uint8_t kBlkY[16] = {0, 0, 1, 1, 0, 0, 1, 1, 2, 2, 3, 3, 2, 2, 3, 3};
const uint8_t kChromaQp[52] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17,
                               18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 29, 30, 31, 32, 32, 33,
                               34, 34, 35, 35, 36, 36, 37, 37, 37, 38, 38, 38, 39, 39, 39, 39};
const int kQuantMf[6][3] = {{13107, 5243, 8066}, {11916, 4660, 7490}, {10082, 4194, 6554},
                            {9362, 3647, 5825},  {8192, 3355, 5243},  {7282, 2893, 4559}};
const int kDequantV[6][3] = {{10, 16, 13}, {11, 18, 14}, {13, 20, 16}, {14, 23, 18}, {16, 25, 20}, {18, 29, 23}};
const uint8_t kPosClass[16] = {0, 2, 0, 2, 2, 1, 2, 1, 0, 2, 0, 2, 2, 1, 2, 1};

#ifdef VCORE_SSE2
namespace {
// Rows of two side-by-side 4x4 blocks as 16-bit lanes: [block 0 | block 1].
inline void LoadDiff8x4(__m128i r[4], const uint8_t* a, int sa, const uint8_t* b, int sb) {
    const __m128i z = _mm_setzero_si128();
    for (int i = 0; i < 4; ++i) {
        const __m128i va = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + i * sa)), z);
        const __m128i vb = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + i * sb)), z);
        r[i] = _mm_sub_epi16(va, vb);
    }
}
// Transposes both 4x4 halves.
inline void Transpose2x4x4(__m128i r[4]) {
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]);
    const __m128i a1 = _mm_unpacklo_epi16(r[2], r[3]);
    const __m128i a2 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a1);
    const __m128i b1 = _mm_unpackhi_epi32(a0, a1);
    const __m128i b2 = _mm_unpacklo_epi32(a2, a3);
    const __m128i b3 = _mm_unpackhi_epi32(a2, a3);
    r[0] = _mm_unpacklo_epi64(b0, b2);
    r[1] = _mm_unpackhi_epi64(b0, b2);
    r[2] = _mm_unpacklo_epi64(b1, b3);
    r[3] = _mm_unpackhi_epi64(b1, b3);
}
inline void DctPass(__m128i r[4]) {
    const __m128i s03 = _mm_add_epi16(r[0], r[3]), m03 = _mm_sub_epi16(r[0], r[3]);
    const __m128i s12 = _mm_add_epi16(r[1], r[2]), m12 = _mm_sub_epi16(r[1], r[2]);
    r[0] = _mm_add_epi16(s03, s12);
    r[1] = _mm_add_epi16(_mm_add_epi16(m03, m03), m12);
    r[2] = _mm_sub_epi16(s03, s12);
    r[3] = _mm_sub_epi16(m03, _mm_add_epi16(m12, m12));
}
inline void HadamardPass(__m128i r[4]) {
    const __m128i s01 = _mm_add_epi16(r[0], r[1]), d01 = _mm_sub_epi16(r[0], r[1]);
    const __m128i s23 = _mm_add_epi16(r[2], r[3]), d23 = _mm_sub_epi16(r[2], r[3]);
    r[0] = _mm_add_epi16(s01, s23);
    r[1] = _mm_sub_epi16(s01, s23);
    r[2] = _mm_sub_epi16(d01, d23);
    r[3] = _mm_add_epi16(d01, d23);
}
// Sum of absolute Hadamard coefficients of two 4x4 blocks (not halved).
inline int Satd8x4Raw(const uint8_t* a, int sa, const uint8_t* b, int sb) {
    __m128i r[4];
    LoadDiff8x4(r, a, sa, b, sb);
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
} // namespace
#endif

int Sad16x16(const uint8_t* a, int sa, const uint8_t* b, int sb) {
#ifdef VCORE_SSE2
    __m128i acc = _mm_setzero_si128();
    for (int y = 0; y < 16; ++y) {
        __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
        __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(va, vb));
        a += sa; b += sb;
    }
    return _mm_cvtsi128_si32(acc) + _mm_cvtsi128_si32(_mm_srli_si128(acc, 8));
#else
    int s = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) s += std::abs(a[x] - b[x]);
        a += sa; b += sb;
    }
    return s;
#endif
}

int Sad8x8(const uint8_t* a, int sa, const uint8_t* b, int sb) {
#ifdef VCORE_SSE2
    __m128i acc = _mm_setzero_si128();
    for (int y = 0; y < 8; y += 2) {
        __m128i va = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)),
                                        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + sa)));
        __m128i vb = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(b)),
                                        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + sb)));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(va, vb));
        a += 2 * sa; b += 2 * sb;
    }
    return _mm_cvtsi128_si32(acc) + _mm_cvtsi128_si32(_mm_srli_si128(acc, 8));
#else
    int s = 0;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) s += std::abs(a[x] - b[x]);
        a += sa; b += sb;
    }
    return s;
#endif
}

int Satd4x4(const uint8_t* a, int sa, const uint8_t* b, int sb) {
    int d[16];
    for (int y = 0; y < 4; ++y) {
        int d0 = a[0] - b[0], d1 = a[1] - b[1], d2 = a[2] - b[2], d3 = a[3] - b[3];
        int s01 = d0 + d1, t01 = d0 - d1, s23 = d2 + d3, t23 = d2 - d3;
        d[y * 4 + 0] = s01 + s23;
        d[y * 4 + 1] = s01 - s23;
        d[y * 4 + 2] = t01 - t23;
        d[y * 4 + 3] = t01 + t23;
        a += sa; b += sb;
    }
    int sum = 0;
    for (int x = 0; x < 4; ++x) {
        int s01 = d[x] + d[4 + x], t01 = d[x] - d[4 + x], s23 = d[8 + x] + d[12 + x], t23 = d[8 + x] - d[12 + x];
        sum += std::abs(s01 + s23) + std::abs(s01 - s23) + std::abs(t01 - t23) + std::abs(t01 + t23);
    }
    return sum >> 1;
}

int Satd8x8(const uint8_t* a, int sa, const uint8_t* b, int sb) {
#ifdef VCORE_SSE2
    return (Satd8x4Raw(a, sa, b, sb) + Satd8x4Raw(a + 4 * sa, sa, b + 4 * sb, sb)) >> 1;
#else
    return Satd4x4(a, sa, b, sb) + Satd4x4(a + 4, sa, b + 4, sb) + Satd4x4(a + 4 * sa, sa, b + 4 * sb, sb) +
           Satd4x4(a + 4 * sa + 4, sa, b + 4 * sb + 4, sb);
#endif
}

int Satd16x16(const uint8_t* a, int sa, const uint8_t* b, int sb) {
    return Satd8x8(a, sa, b, sb) + Satd8x8(a + 8, sa, b + 8, sb) + Satd8x8(a + 8 * sa, sa, b + 8 * sb, sb) +
           Satd8x8(a + 8 * sa + 8, sa, b + 8 * sb + 8, sb);
}

void Avg16x16(uint8_t* dst, int sd, const uint8_t* a, const uint8_t* b, int s) {
    for (int y = 0; y < 16; ++y) {
#ifdef VCORE_SSE2
        __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
        __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_avg_epu8(va, vb));
#else
        for (int x = 0; x < 16; ++x) dst[x] = static_cast<uint8_t>((a[x] + b[x] + 1) >> 1);
#endif
        dst += sd; a += s; b += s;
    }
}

void Fdct4x4(int16_t out[16], const uint8_t* src, int ss, const uint8_t* pred, int sp) {
    int t[16];
    for (int y = 0; y < 4; ++y) {
        int d0 = src[0] - pred[0], d1 = src[1] - pred[1], d2 = src[2] - pred[2], d3 = src[3] - pred[3];
        int s03 = d0 + d3, m03 = d0 - d3, s12 = d1 + d2, m12 = d1 - d2;
        t[y * 4 + 0] = s03 + s12;
        t[y * 4 + 1] = 2 * m03 + m12;
        t[y * 4 + 2] = s03 - s12;
        t[y * 4 + 3] = m03 - 2 * m12;
        src += ss; pred += sp;
    }
    for (int x = 0; x < 4; ++x) {
        int d0 = t[x], d1 = t[4 + x], d2 = t[8 + x], d3 = t[12 + x];
        int s03 = d0 + d3, m03 = d0 - d3, s12 = d1 + d2, m12 = d1 - d2;
        out[x] = static_cast<int16_t>(s03 + s12);
        out[4 + x] = static_cast<int16_t>(2 * m03 + m12);
        out[8 + x] = static_cast<int16_t>(s03 - s12);
        out[12 + x] = static_cast<int16_t>(m03 - 2 * m12);
    }
}

void Fdct8x4(int16_t out0[16], int16_t out1[16], const uint8_t* src, int ss, const uint8_t* pred, int sp) {
#ifdef VCORE_SSE2
    __m128i r[4];
    LoadDiff8x4(r, src, ss, pred, sp);
    DctPass(r);
    Transpose2x4x4(r);
    DctPass(r);
    Transpose2x4x4(r);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out0), _mm_unpacklo_epi64(r[0], r[1]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out0 + 8), _mm_unpacklo_epi64(r[2], r[3]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out1), _mm_unpackhi_epi64(r[0], r[1]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out1 + 8), _mm_unpackhi_epi64(r[2], r[3]));
#else
    Fdct4x4(out0, src, ss, pred, sp);
    Fdct4x4(out1, src + 4, ss, pred + 4, sp);
#endif
}

void Idct4x4Add(uint8_t* dst, int sd, const uint8_t* pred, int sp, int16_t coef[16]) {
    int t[16];
    for (int y = 0; y < 4; ++y) {
        const int16_t* d = coef + 4 * y;
        int e0 = d[0] + d[2], e1 = d[0] - d[2];
        int e2 = (d[1] >> 1) - d[3], e3 = d[1] + (d[3] >> 1);
        t[4 * y + 0] = e0 + e3;
        t[4 * y + 1] = e1 + e2;
        t[4 * y + 2] = e1 - e2;
        t[4 * y + 3] = e0 - e3;
    }
    int r[16];
    for (int x = 0; x < 4; ++x) {
        int d0 = t[x], d1 = t[4 + x], d2 = t[8 + x], d3 = t[12 + x];
        int e0 = d0 + d2, e1 = d0 - d2;
        int e2 = (d1 >> 1) - d3, e3 = d1 + (d3 >> 1);
        r[x] = e0 + e3;
        r[4 + x] = e1 + e2;
        r[8 + x] = e1 - e2;
        r[12 + x] = e0 - e3;
    }
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) dst[x] = Clip255(pred[x] + ((r[4 * y + x] + 32) >> 6));
        dst += sd; pred += sp;
    }
}

void IdctDcAdd(uint8_t* dst, int sd, const uint8_t* pred, int sp, int dc) {
    int add = (dc + 32) >> 6;
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) dst[x] = Clip255(pred[x] + add);
        dst += sd; pred += sp;
    }
}

namespace {
// Per-QP multipliers in raster order, built once.
struct QuantTables {
    int16_t mf[52][16];
    QuantTables() {
        for (int qp = 0; qp < 52; ++qp)
            for (int i = 0; i < 16; ++i) mf[qp][i] = static_cast<int16_t>(kQuantMf[qp % 6][kPosClass[i]]);
    }
};
const QuantTables& Tables() {
    static const QuantTables t;
    return t;
}
} // namespace

int Quant4x4(const int16_t in[16], int16_t levels[16], int qp, bool intra, int first) {
    const int qbits = 15 + qp / 6;
    const int f = intra ? (1 << qbits) / 3 : (1 << qbits) / 6;
    const int16_t* mf = Tables().mf[qp];
#ifdef VCORE_SSE2
    alignas(16) int16_t q[16];
    const __m128i fv = _mm_set1_epi32(f);
    const __m128i sh = _mm_cvtsi32_si128(qbits);
    const __m128i maxl = _mm_set1_epi16(2047);
    __m128i any = _mm_setzero_si128();
    for (int h = 0; h < 2; ++h) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8 * h));
        const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mf + 8 * h));
        const __m128i sign = _mm_srai_epi16(c, 15);
        const __m128i a = _mm_sub_epi16(_mm_xor_si128(c, sign), sign); // |c|
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
#else
    int nz = 0;
    for (int i = first; i < 16; ++i) {
        const int pos = kZigzag4x4[i];
        const int c = in[pos];
        const int a = c < 0 ? -c : c;
        int l = (a * mf[pos] + f) >> qbits;
        if (l > 2047) l = 2047;
        levels[i] = static_cast<int16_t>(c < 0 ? -l : l);
        nz += l != 0;
    }
    return nz;
#endif
}

void Dequant4x4(const int16_t levels[16], int16_t out[16], int qp, int first) {
    const int* v = kDequantV[qp % 6];
    const int sh = qp / 6;
    for (int i = first; i < 16; ++i) {
        int pos = kZigzag4x4[i];
        out[pos] = static_cast<int16_t>((levels[i] * v[kPosClass[pos]]) << sh);
    }
}

} // namespace vcore
