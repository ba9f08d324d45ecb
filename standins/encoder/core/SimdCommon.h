// 128-bit helpers shared by the SSE2 and later kernel files. Everything is
// in an anonymous namespace so that each file keeps its own copy, compiled
// for its own instructions.
#pragma once

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

namespace vcore {
namespace {

inline __m128i Load32(const uint8_t* p) {
    int v;
    std::memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
}
inline void Store32(uint8_t* p, __m128i v) {
    const int x = _mm_cvtsi128_si32(v);
    std::memcpy(p, &x, 4);
}
inline __m128i Load64(const void* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }
inline __m128i Load128(const void* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline int HorizontalSum64(__m128i v) { return _mm_cvtsi128_si32(v) + _mm_cvtsi128_si32(_mm_srli_si128(v, 8)); }

// Rows of two side-by-side 4x4 blocks as 16-bit lanes: [block 0 | block 1].
// (The row loops here are unrolled: left alone, the compiler kept them as
// loops through the stack.)
inline void LoadDiff8x4(__m128i r[4], const uint8_t* a, int sa, const uint8_t* b, int sb) {
    const __m128i z = _mm_setzero_si128();
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i)
        r[i] = _mm_sub_epi16(_mm_unpacklo_epi8(Load64(a + i * sa), z), _mm_unpacklo_epi8(Load64(b + i * sb), z));
}
// Two 4x4 blocks anywhere (a0/b0 to the low lanes, a1/b1 to the high lanes).
inline void LoadDiff4x4Pair(__m128i r[4], const uint8_t* a0, const uint8_t* a1, int sa, const uint8_t* b0,
                            const uint8_t* b1, int sb) {
    const __m128i z = _mm_setzero_si128();
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
        const __m128i va = _mm_unpacklo_epi32(Load32(a0 + i * sa), Load32(a1 + i * sa));
        const __m128i vb = _mm_unpacklo_epi32(Load32(b0 + i * sb), Load32(b1 + i * sb));
        r[i] = _mm_sub_epi16(_mm_unpacklo_epi8(va, z), _mm_unpacklo_epi8(vb, z));
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
// The 4x4 forward transform of the blocks held as rows in r, both passes;
// the coefficients come out as rows again.
inline void Dct2D(__m128i r[4]) {
    DctPass(r);
    Transpose2x4x4(r);
    DctPass(r);
    Transpose2x4x4(r);
}
inline void HadamardPass(__m128i r[4]) {
    const __m128i s01 = _mm_add_epi16(r[0], r[1]), d01 = _mm_sub_epi16(r[0], r[1]);
    const __m128i s23 = _mm_add_epi16(r[2], r[3]), d23 = _mm_sub_epi16(r[2], r[3]);
    r[0] = _mm_add_epi16(s01, s23);
    r[1] = _mm_sub_epi16(s01, s23);
    r[2] = _mm_sub_epi16(d01, d23);
    r[3] = _mm_add_epi16(d01, d23);
}
// Four B G R X pixels -> four luma values in the low 32-bit lanes' low bytes.
inline __m128i LumaOf4Bgrx(__m128i px) {
    const __m128i z = _mm_setzero_si128();
    // 16829 R + 33039 G + 6416 B, G split in two so every factor fits 16 bits
    const __m128i k1 = _mm_setr_epi16(6416, 16520, 16829, 0, 6416, 16520, 16829, 0);
    const __m128i k2 = _mm_setr_epi16(0, 16519, 0, 0, 0, 16519, 0, 0);
    const __m128i bias = _mm_set1_epi32((16 << 16) + 32768);
    __m128i out[2];
    for (int h = 0; h < 2; ++h) {
        const __m128i w = h ? _mm_unpackhi_epi8(px, z) : _mm_unpacklo_epi8(px, z);
        __m128i m = _mm_add_epi32(_mm_madd_epi16(w, k1), _mm_madd_epi16(w, k2));
        m = _mm_add_epi32(m, _mm_srli_epi64(m, 32)); // lanes 0 and 2 hold the sums
        m = _mm_srli_epi32(_mm_add_epi32(m, bias), 16);
        out[h] = _mm_shuffle_epi32(m, _MM_SHUFFLE(3, 1, 2, 0)); // lanes 0, 1
    }
    const __m128i y = _mm_unpacklo_epi64(out[0], out[1]);
    const __m128i y16 = _mm_packs_epi32(y, y);
    return _mm_packus_epi16(y16, y16);
}

} // namespace
} // namespace vcore
