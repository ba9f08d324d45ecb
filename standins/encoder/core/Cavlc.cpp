#include "Cavlc.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif


namespace vcore {
namespace {

// coeff_token: index [table][totalCoeff * 4 + trailingOnes]
const uint8_t kTokenLen[4][68] = {
    {1, 0, 0, 0, 6, 2, 0, 0, 8, 6, 3, 0, 9, 8, 7, 5, 10, 9, 8, 6, 11, 10, 9, 7, 13, 11, 10, 8, 13, 13, 11, 9,
     13, 13, 13, 10, 14, 14, 13, 11, 14, 14, 14, 13, 15, 15, 14, 14, 15, 15, 15, 14, 16, 15, 15, 15, 16, 16, 16, 15,
     16, 16, 16, 16, 16, 16, 16, 16},
    {2, 0, 0, 0, 6, 2, 0, 0, 6, 5, 3, 0, 7, 6, 6, 4, 8, 6, 6, 4, 8, 7, 7, 5, 9, 8, 8, 6, 11, 9, 9, 6,
     11, 11, 11, 7, 12, 11, 11, 9, 12, 12, 12, 11, 12, 12, 12, 11, 13, 13, 13, 12, 13, 13, 13, 13, 13, 14, 13, 13,
     14, 14, 14, 13, 14, 14, 14, 14},
    {4, 0, 0, 0, 6, 4, 0, 0, 6, 5, 4, 0, 6, 5, 5, 4, 7, 5, 5, 4, 7, 5, 5, 4, 7, 6, 6, 4, 7, 6, 6, 4,
     8, 7, 7, 5, 8, 8, 7, 6, 9, 8, 8, 7, 9, 9, 8, 8, 9, 9, 9, 8, 10, 9, 9, 9, 10, 10, 10, 10,
     10, 10, 10, 10, 10, 10, 10, 10},
    {6, 0, 0, 0, 6, 6, 0, 0, 6, 6, 6, 0, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6,
     6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6,
     6, 6, 6, 6, 6, 6, 6, 6},
};
const uint8_t kTokenCode[4][68] = {
    {1, 0, 0, 0, 5, 1, 0, 0, 7, 4, 1, 0, 7, 6, 5, 3, 7, 6, 5, 3, 7, 6, 5, 4, 15, 6, 5, 4, 11, 14, 5, 4,
     8, 10, 13, 4, 15, 14, 9, 4, 11, 10, 13, 12, 15, 14, 9, 12, 11, 10, 13, 8, 15, 1, 9, 12, 11, 14, 13, 8,
     7, 10, 9, 12, 4, 6, 5, 8},
    {3, 0, 0, 0, 11, 2, 0, 0, 7, 7, 3, 0, 7, 10, 9, 5, 7, 6, 5, 4, 4, 6, 5, 6, 7, 6, 5, 8, 15, 6, 5, 4,
     11, 14, 13, 4, 15, 10, 9, 4, 11, 14, 13, 12, 8, 10, 9, 8, 15, 14, 13, 12, 11, 10, 9, 12, 7, 11, 6, 8,
     9, 8, 10, 1, 7, 6, 5, 4},
    {15, 0, 0, 0, 15, 14, 0, 0, 11, 15, 13, 0, 8, 12, 14, 12, 15, 10, 11, 11, 11, 8, 9, 10, 9, 14, 13, 9, 8, 10, 9, 8,
     15, 14, 13, 13, 11, 14, 10, 12, 15, 10, 13, 12, 11, 14, 9, 12, 8, 10, 13, 8, 13, 7, 9, 12, 9, 12, 11, 10,
     5, 8, 7, 6, 1, 4, 3, 2},
    {3, 0, 0, 0, 0, 1, 0, 0, 4, 5, 6, 0, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27,
     28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55,
     56, 57, 58, 59, 60, 61, 62, 63},
};
const uint8_t kChromaDcTokenLen[20] = {2, 0, 0, 0, 6, 1, 0, 0, 6, 6, 3, 0, 6, 7, 7, 6, 6, 8, 8, 7};
const uint8_t kChromaDcTokenCode[20] = {1, 0, 0, 0, 7, 1, 0, 0, 4, 6, 1, 0, 3, 3, 2, 5, 2, 3, 2, 0};

// total_zeros for 4x4 blocks: [totalCoeff - 1][totalZeros]
const uint8_t kTotalZerosLen[15][16] = {
    {1, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 9},
    {3, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 6, 6, 6, 6},
    {4, 3, 3, 3, 4, 4, 3, 3, 4, 5, 5, 6, 5, 6},
    {5, 3, 4, 4, 3, 3, 3, 4, 3, 4, 5, 5, 5},
    {4, 4, 4, 3, 3, 3, 3, 3, 4, 5, 4, 5},
    {6, 5, 3, 3, 3, 3, 3, 3, 4, 3, 6},
    {6, 5, 3, 3, 3, 2, 3, 4, 3, 6},
    {6, 4, 5, 3, 2, 2, 3, 3, 6},
    {6, 6, 4, 2, 2, 3, 2, 5},
    {5, 5, 3, 2, 2, 2, 4},
    {4, 4, 3, 3, 1, 3},
    {4, 4, 2, 1, 3},
    {3, 3, 1, 2},
    {2, 2, 1},
    {1, 1},
};
const uint8_t kTotalZerosCode[15][16] = {
    {1, 3, 2, 3, 2, 3, 2, 3, 2, 3, 2, 3, 2, 3, 2, 1},
    {7, 6, 5, 4, 3, 5, 4, 3, 2, 3, 2, 3, 2, 1, 0},
    {5, 7, 6, 5, 4, 3, 4, 3, 2, 3, 2, 1, 1, 0},
    {3, 7, 5, 4, 6, 5, 4, 3, 3, 2, 2, 1, 0},
    {5, 4, 3, 7, 6, 5, 4, 3, 2, 1, 1, 0},
    {1, 1, 7, 6, 5, 4, 3, 2, 1, 1, 0},
    {1, 1, 5, 4, 3, 3, 2, 1, 1, 0},
    {1, 1, 1, 3, 3, 2, 2, 1, 0},
    {1, 0, 1, 3, 2, 1, 1, 1},
    {1, 0, 1, 3, 2, 1, 1},
    {0, 1, 1, 2, 1, 3},
    {0, 1, 1, 1, 1},
    {0, 1, 1, 1},
    {0, 1, 1},
    {0, 1},
};
const uint8_t kChromaDcTotalZerosLen[3][4] = {{1, 2, 3, 3}, {1, 2, 2, 0}, {1, 1, 0, 0}};
const uint8_t kChromaDcTotalZerosCode[3][4] = {{1, 1, 1, 0}, {1, 1, 0, 0}, {1, 0, 0, 0}};

// run_before: [min(zerosLeft, 7) - 1][run]
const uint8_t kRunLen[7][15] = {
    {1, 1}, {1, 2, 2}, {2, 2, 2, 2}, {2, 2, 2, 3, 3}, {2, 2, 3, 3, 3, 3}, {2, 3, 3, 3, 3, 3, 3},
    {3, 3, 3, 3, 3, 3, 3, 4, 5, 6, 7, 8, 9, 10, 11},
};
const uint8_t kRunCode[7][15] = {
    {1, 0}, {1, 1, 0}, {3, 2, 1, 0}, {3, 2, 1, 1, 0}, {3, 2, 3, 2, 1, 0}, {3, 0, 1, 3, 2, 5, 4},
    {7, 6, 5, 4, 3, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1},
};

// coded_block_pattern codeNum -> cbp
const uint8_t kIntraCbpOfCode[48] = {47, 31, 15, 0,  23, 27, 29, 30, 7,  11, 13, 14, 39, 43, 45, 46,
                                     16, 3,  5,  10, 12, 19, 21, 26, 28, 35, 37, 42, 44, 1,  2,  4,
                                     8,  17, 18, 20, 24, 6,  9,  22, 25, 32, 33, 34, 36, 40, 38, 41};
const uint8_t kInterCbpOfCode[48] = {0,  16, 1,  2,  4,  8,  32, 3,  5,  10, 12, 15, 47, 7,  11, 13,
                                     14, 6,  9,  31, 35, 37, 42, 44, 33, 34, 36, 40, 39, 43, 45, 46,
                                     17, 18, 20, 24, 19, 21, 26, 28, 23, 27, 29, 30, 22, 25, 38, 41};

struct CbpCodes {
    uint8_t intra[48];
    uint8_t inter[48];
    CbpCodes() {
        for (int i = 0; i < 48; ++i) {
            intra[kIntraCbpOfCode[i]] = static_cast<uint8_t>(i);
            inter[kInterCbpOfCode[i]] = static_cast<uint8_t>(i);
        }
    }
};
const CbpCodes kCbpCodes;

} // namespace

int CbpCodeNum(int cbp, bool intra) { return intra ? kCbpCodes.intra[cbp] : kCbpCodes.inter[cbp]; }

int DecimateScore(const int16_t* coef, int maxCoeff) {
    static const uint8_t kTab[16] = {3, 2, 2, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    uint32_t nonzero = 0;
#if defined(__SSE2__)
    {
        const int16_t* c = maxCoeff == 16 ? coef : coef - 1; // AC: the entry before is the block's DC
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 8));
        const __m128i z = _mm_setzero_si128(), one = _mm_set1_epi16(1), minusOne = _mm_set1_epi16(-1);
        nonzero = ~static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(a, z), _mm_cmpeq_epi16(b, z)))) &
                  0xFFFFu;
        const __m128i big = _mm_packs_epi16(_mm_or_si128(_mm_cmpgt_epi16(a, one), _mm_cmplt_epi16(a, minusOne)),
                                            _mm_or_si128(_mm_cmpgt_epi16(b, one), _mm_cmplt_epi16(b, minusOne)));
        uint32_t bigMask = static_cast<uint32_t>(_mm_movemask_epi8(big));
        if (maxCoeff == 15) {
            nonzero >>= 1;
            bigMask >>= 1;
        }
        if (bigMask) return 9;
    }
#else
    for (int i = 0; i < maxCoeff; ++i) {
        if (coef[i] > 1 || coef[i] < -1) return 9;
        nonzero |= static_cast<uint32_t>(coef[i] != 0) << i;
    }
#endif
    // every level is +-1: a weight for the zeros between it and the next lower one
    int score = 0;
    while (nonzero) {
        const int i = 31 - __builtin_clz(nonzero);
        nonzero &= ~(1u << i);
        const int next = nonzero ? 31 - __builtin_clz(nonzero) : -1;
        score += kTab[i - next - 1];
    }
    return score;
}

int WriteResidualBlock(BitWriter& bw, const int16_t* coef, int maxCoeff, int nC) {
    int level[16];
    int run[16]; // zeros between level[k] and the next lower-frequency level
    // one bit per nonzero coefficient, walked from the highest down
    uint32_t nonzero = 0;
#if defined(__SSE2__)
    {
        const __m128i z = _mm_setzero_si128();
        if (maxCoeff == 4) {
            const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(coef));
            nonzero = ~static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(a, z), z))) & 0xFu;
        } else {
            const int16_t* c = maxCoeff == 16 ? coef : coef - 1; // AC: the entry before is the block's DC
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 8));
            const __m128i zero = _mm_packs_epi16(_mm_cmpeq_epi16(a, z), _mm_cmpeq_epi16(b, z));
            nonzero = ~static_cast<uint32_t>(_mm_movemask_epi8(zero)) & 0xFFFFu;
            if (maxCoeff == 15) nonzero >>= 1;
        }
    }
#else
    for (int i = 0; i < maxCoeff; ++i) nonzero |= static_cast<uint32_t>(coef[i] != 0) << i;
#endif
    int total = 0;
    int totalZeros = 0;
    if (nonzero) {
        int i = 31 - __builtin_clz(nonzero);
        const int highest = i;
        for (;;) {
            level[total] = coef[i];
            nonzero &= ~(1u << i);
            const int next = nonzero ? 31 - __builtin_clz(nonzero) : -1;
            run[total++] = i - next - 1;
            if (next < 0) break;
            i = next;
        }
        totalZeros = highest + 1 - total;
    }
    // totalZeros counts every zero below the highest level, including those
    // below the lowest one (run[total - 1], which is never written)
    int t1 = 0;
    uint32_t signs = 0; // of the trailing ones, the highest first
    while (t1 < total && t1 < 3 && static_cast<unsigned>(level[t1] + 1) <= 2u) {
        signs = (signs << 1) | (level[t1] < 0 ? 1u : 0u);
        ++t1;
    }

    // coeff_token, then the trailing ones' signs
    int code, len;
    if (nC < 0) {
        code = kChromaDcTokenCode[total * 4 + t1];
        len = kChromaDcTokenLen[total * 4 + t1];
    } else {
        const int tab = nC < 2 ? 0 : nC < 4 ? 1 : nC < 8 ? 2 : 3;
        code = kTokenCode[tab][total * 4 + t1];
        len = kTokenLen[tab][total * 4 + t1];
    }
    bw.Put((static_cast<uint32_t>(code) << t1) | signs, len + t1);
    if (!total) return 0;

    // levels: prefix (zeros and a one) and suffix in one write each
    int suffixLen = (total > 10 && t1 < 3) ? 1 : 0;
    for (int i = t1; i < total; ++i) {
        const int lv = level[i];
        const int mag = lv < 0 ? -lv : lv;
        int c = 2 * mag - 2 + (lv < 0);
        if (i == t1 && t1 < 3) c -= 2;
        if (suffixLen == 0) {
            if (c < 14)
                bw.Put(1, c + 1);
            else if (c < 30)
                bw.Put((1u << 4) | static_cast<uint32_t>(c - 14), 19);
            else
                bw.Put((1u << 12) | (static_cast<uint32_t>(c - 30) & 0xFFFu), 28);
            suffixLen = 1;
        } else {
            const int prefix = c >> suffixLen;
            if (prefix < 15)
                bw.Put(static_cast<uint32_t>((1 << suffixLen) | (c & ((1 << suffixLen) - 1))), prefix + 1 + suffixLen);
            else
                bw.Put((1u << 12) | (static_cast<uint32_t>(c - (15 << suffixLen)) & 0xFFFu), 28);
        }
        if (mag > (3 << (suffixLen - 1)) && suffixLen < 6) ++suffixLen;
    }

    if (total < maxCoeff) {
        if (maxCoeff == 4)
            bw.Put(kChromaDcTotalZerosCode[total - 1][totalZeros], kChromaDcTotalZerosLen[total - 1][totalZeros]);
        else
            bw.Put(kTotalZerosCode[total - 1][totalZeros], kTotalZerosLen[total - 1][totalZeros]);
    }
    // run_before, gathered into writes of up to 32 bits
    int zerosLeft = totalZeros;
    uint32_t runBits = 0;
    int runLen = 0;
    for (int i = 0; i < total - 1 && zerosLeft > 0; ++i) {
        const int r = run[i];
        const int t = (zerosLeft > 7 ? 7 : zerosLeft) - 1;
        const int l = kRunLen[t][r];
        if (runLen + l > 32) {
            bw.Put(runBits, runLen);
            runBits = 0;
            runLen = 0;
        }
        runBits = (runBits << l) | kRunCode[t][r];
        runLen += l;
        zerosLeft -= r;
    }
    if (runLen) bw.Put(runBits, runLen);
    return total;
}

} // namespace vcore
