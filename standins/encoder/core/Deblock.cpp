#include "Deblock.h"

#include <cstdlib>
#include <cstring>

#include "Dsp.h"
#include "KernelFns.h"

namespace vcore {

const uint8_t kDeblockAlpha[52] = {0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,   0,   0,   0,   0,   4,   4,
                            5,  6,  7,  8,  9,  10, 12, 13, 15, 17, 20, 22,  25,  28,  32,  36,  40,  45,
                            50, 56, 63, 71, 80, 90, 101, 113, 127, 144, 162, 182, 203, 226, 255, 255};
const uint8_t kDeblockBeta[52] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0,  0,  0,  0,  0,  2,  2,  2,  3,  3,  3,  3,  4,  4,  4,
                           6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 17, 17, 18, 18};
const uint8_t kDeblockTc0[52][3] = {
    {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0},
    {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 1},
    {0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 1, 1}, {0, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1},
    {1, 1, 2}, {1, 1, 2}, {1, 1, 2}, {1, 1, 2}, {1, 2, 3}, {1, 2, 3}, {2, 2, 3}, {2, 2, 4}, {2, 3, 4},
    {2, 3, 4}, {3, 3, 5}, {3, 4, 6}, {3, 4, 6}, {4, 5, 7}, {4, 5, 8}, {4, 6, 9}, {5, 7, 10}, {6, 8, 11},
    {6, 8, 13}, {7, 10, 14}, {8, 11, 16}, {9, 12, 18}, {10, 13, 20}, {11, 15, 23}, {13, 17, 25}};

namespace {

// pix points at q0 of the first line; xs steps across the edge, ls along it.
void FilterLuma(uint8_t* pix, int xs, int ls, const uint8_t bS[4], int qp) {
    const int alpha = kDeblockAlpha[qp], beta = kDeblockBeta[qp];
    if (alpha == 0 || beta == 0) return;
    for (int i = 0; i < 16; ++i, pix += ls) {
        const int bs = bS[i >> 2];
        if (!bs) continue;
        const int p0 = pix[-xs], p1 = pix[-2 * xs], p2 = pix[-3 * xs];
        const int q0 = pix[0], q1 = pix[xs], q2 = pix[2 * xs];
        if (std::abs(p0 - q0) >= alpha || std::abs(p1 - p0) >= beta || std::abs(q1 - q0) >= beta) continue;
        const int ap = std::abs(p2 - p0), aq = std::abs(q2 - q0);
        if (bs < 4) {
            const int tc0 = kDeblockTc0[qp][bs - 1];
            const int tc = tc0 + (ap < beta) + (aq < beta);
            const int delta = Clip3(-tc, tc, (((q0 - p0) * 4) + (p1 - q1) + 4) >> 3);
            pix[-xs] = Clip255(p0 + delta);
            pix[0] = Clip255(q0 - delta);
            if (ap < beta) pix[-2 * xs] = static_cast<uint8_t>(p1 + Clip3(-tc0, tc0, (p2 + ((p0 + q0 + 1) >> 1) - 2 * p1) >> 1));
            if (aq < beta) pix[xs] = static_cast<uint8_t>(q1 + Clip3(-tc0, tc0, (q2 + ((p0 + q0 + 1) >> 1) - 2 * q1) >> 1));
        } else {
            const int p3 = pix[-4 * xs], q3 = pix[3 * xs];
            const bool strong = std::abs(p0 - q0) < ((alpha >> 2) + 2);
            if (ap < beta && strong) {
                pix[-xs] = static_cast<uint8_t>((p2 + 2 * p1 + 2 * p0 + 2 * q0 + q1 + 4) >> 3);
                pix[-2 * xs] = static_cast<uint8_t>((p2 + p1 + p0 + q0 + 2) >> 2);
                pix[-3 * xs] = static_cast<uint8_t>((2 * p3 + 3 * p2 + p1 + p0 + q0 + 4) >> 3);
            } else {
                pix[-xs] = static_cast<uint8_t>((2 * p1 + p0 + q1 + 2) >> 2);
            }
            if (aq < beta && strong) {
                pix[0] = static_cast<uint8_t>((p1 + 2 * p0 + 2 * q0 + 2 * q1 + q2 + 4) >> 3);
                pix[xs] = static_cast<uint8_t>((p0 + q0 + q1 + q2 + 2) >> 2);
                pix[2 * xs] = static_cast<uint8_t>((2 * q3 + 3 * q2 + q1 + q0 + p0 + 4) >> 3);
            } else {
                pix[0] = static_cast<uint8_t>((2 * q1 + q0 + p1 + 2) >> 2);
            }
        }
    }
}

void FilterChroma(uint8_t* pix, int xs, int ls, const uint8_t bS[4], int qp) {
    const int alpha = kDeblockAlpha[qp], beta = kDeblockBeta[qp];
    if (alpha == 0 || beta == 0) return;
    for (int i = 0; i < 8; ++i, pix += ls) {
        const int bs = bS[i >> 1];
        if (!bs) continue;
        const int p0 = pix[-xs], p1 = pix[-2 * xs];
        const int q0 = pix[0], q1 = pix[xs];
        if (std::abs(p0 - q0) >= alpha || std::abs(p1 - p0) >= beta || std::abs(q1 - q0) >= beta) continue;
        if (bs < 4) {
            const int tc = kDeblockTc0[qp][bs - 1] + 1;
            const int delta = Clip3(-tc, tc, (((q0 - p0) * 4) + (p1 - q1) + 4) >> 3);
            pix[-xs] = Clip255(p0 + delta);
            pix[0] = Clip255(q0 - delta);
        } else {
            pix[-xs] = static_cast<uint8_t>((2 * p1 + p0 + q1 + 2) >> 2);
            pix[0] = static_cast<uint8_t>((2 * q1 + q0 + p1 + 2) >> 2);
        }
    }
}

inline bool MvDiffers(const int16_t* a, const int16_t* b) {
    return std::abs(a[0] - b[0]) >= 4 || std::abs(a[1] - b[1]) >= 4;
}

// vector of 8x8 block blk (raster order) of macroblock mb
inline const int16_t* BlockMv(const int16_t* mv, int mb, int blk) { return mv + 8 * mb + 2 * blk; }

// One bit per 4x4 block of a row of four coefficient counts: bit c = column c
// has coefficients (counts are at most 16, so no byte carries into the next).
inline uint32_t ByteBits(uint32_t w) { return ((((w + 0x7F7F7F7Fu) & 0x80808080u) >> 7) * 0x10204080u) >> 28; }
inline uint32_t RowBits(const uint8_t* nz) {
    uint32_t w;
    std::memcpy(&w, nz, 4);
    return ByteBits(w);
}
// The same for a column of four counts (rows stride apart): bit r = row r.
inline uint32_t ColumnBits(const uint8_t* nz, int stride) {
    return ByteBits(nz[0] | (nz[stride] << 8) | (nz[2 * stride] << 16) | (static_cast<uint32_t>(nz[3 * stride]) << 24));
}

// 4x4 bit matrix (bit 4 * row + column) transposed.
inline uint32_t Transpose4x4Bits(uint32_t x) {
    uint32_t t = (x ^ (x >> 3)) & 0x0A0Au;
    x ^= t ^ (t << 3);
    t = (x ^ (x >> 6)) & 0x00CCu;
    return x ^ t ^ (t << 6);
}

// Four boundary strengths as the bytes of a word (byte k = bS[k]): 2 where
// nz has bit k, else 1 where mvd has it, else 0.
inline uint32_t StrengthWord(uint32_t nz, uint32_t mvd) {
    const auto spread = [](uint32_t x) { return (x * 0x204081u) & 0x01010101u; };
    return (spread(nz) << 1) | spread(mvd & ~nz);
}

} // namespace

namespace ref {
void DeblockLuma(uint8_t* pix, int stride, bool vertical, const uint8_t bS[4], int qp) {
    if (vertical) FilterLuma(pix, 1, stride, bS, qp);
    else FilterLuma(pix, stride, 1, bS, qp);
}
void DeblockChroma(uint8_t* u, uint8_t* v, int stride, bool vertical, const uint8_t bS[4], int qpc) {
    const int xs = vertical ? 1 : stride, ls = vertical ? stride : 1;
    FilterChroma(u, xs, ls, bS, qpc);
    FilterChroma(v, xs, ls, bS, qpc);
}
} // namespace ref

void DeblockPicture(const DeblockParams& p) {
    const int w4 = p.mbW * 4;
    const KernelSet& k = Kern();
    auto mbQp = [&](int mb) { return p.mbQp ? static_cast<int>(p.mbQp[mb]) : p.qp; };
    const int rowEnd = p.rowEnd < 0 ? p.mbH : p.rowEnd;
    const uint32_t kIntraEdge = 0x04040404u, kIntraInner = 0x03030303u;
    for (int mby = p.rowBegin; mby < rowEnd; ++mby) {
        for (int mbx = 0; mbx < p.mbW; ++mbx) {
            const int mb = mby * p.mbW + mbx;
            const bool intra = p.mbIntra[mb] != 0;
            const bool hasLeft = mbx > 0, hasTop = mby != p.sliceTop;
            uint8_t* y0 = p.y + mby * 16 * p.strideY + mbx * 16;
            uint8_t* u0 = p.u + mby * 8 * p.strideC + mbx * 8;
            uint8_t* v0 = p.v + mby * 8 * p.strideC + mbx * 8;
            const uint8_t* nz = p.nnzY + (mby * 4) * w4 + mbx * 4;
            // boundary strengths, bytes of a word per edge: [0] vertical, [1] horizontal
            uint32_t bs[2][4];
            if (intra) {
                bs[0][0] = hasLeft ? kIntraEdge : 0;
                bs[1][0] = hasTop ? kIntraEdge : 0;
                bs[0][1] = bs[0][2] = bs[0][3] = bs[1][1] = bs[1][2] = bs[1][3] = kIntraInner;
            } else {
                // rows[r]: bit c = 4x4 block (column c, row r) has coefficients
                uint32_t rows[4];
                for (int r = 0; r < 4; ++r) rows[r] = RowBits(nz + r * w4);
                const uint32_t all = rows[0] | (rows[1] << 4) | (rows[2] << 8) | (rows[3] << 12);
                const uint32_t cols = Transpose4x4Bits(all); // bit 4 * c + r
                // vectors differ only across 8x8 block edges; the masks cover the
                // two lines of 4x4 blocks each 8x8 block spans
                const int16_t* mv = BlockMv(p.mv, mb, 0);
                const bool mvInner = std::memcmp(mv, mv + 2, 4) != 0 || std::memcmp(mv, mv + 4, 4) != 0 ||
                                     std::memcmp(mv, mv + 6, 4) != 0;
                uint32_t mvdV2 = 0, mvdH2 = 0;
                if (mvInner) {
                    mvdV2 = (MvDiffers(mv, mv + 2) ? 3u : 0u) | (MvDiffers(mv + 4, mv + 6) ? 12u : 0u);
                    mvdH2 = (MvDiffers(mv, mv + 4) ? 3u : 0u) | (MvDiffers(mv + 2, mv + 6) ? 12u : 0u);
                }
                if (!hasLeft) {
                    bs[0][0] = 0;
                } else if (p.mbIntra[mb - 1]) {
                    bs[0][0] = kIntraEdge;
                } else {
                    const uint32_t left = ColumnBits(nz - 1, w4); // bit r: column 3 of the left macroblock, row r
                    const int16_t* lmv = BlockMv(p.mv, mb - 1, 0);
                    const uint32_t mvd = (MvDiffers(mv, lmv + 2) ? 3u : 0u) | (MvDiffers(mv + 4, lmv + 6) ? 12u : 0u);
                    bs[0][0] = StrengthWord((cols & 15u) | left, mvd);
                }
                if (!hasTop) {
                    bs[1][0] = 0;
                } else if (p.mbIntra[mb - p.mbW]) {
                    bs[1][0] = kIntraEdge;
                } else {
                    const uint32_t top = RowBits(nz - w4);
                    const int16_t* tmv = BlockMv(p.mv, mb - p.mbW, 0);
                    const uint32_t mvd = (MvDiffers(mv, tmv + 4) ? 3u : 0u) | (MvDiffers(mv + 2, tmv + 6) ? 12u : 0u);
                    bs[1][0] = StrengthWord(rows[0] | top, mvd);
                }
                for (int e = 1; e < 4; ++e) {
                    bs[0][e] = StrengthWord(((cols >> (4 * e)) | (cols >> (4 * e - 4))) & 15u, e == 2 ? mvdV2 : 0);
                    bs[1][e] = StrengthWord(rows[e] | rows[e - 1], e == 2 ? mvdH2 : 0);
                }
            }
            // an edge between two macroblocks is filtered with their average QP
            const int qpQ = mbQp(mb);
            const int qpcQ = kChromaQp[qpQ];
            for (int dir = 0; dir < 2; ++dir) {
                const bool vertical = dir == 0;
                for (int e = 0; e < 4; ++e) {
                    if (!bs[dir][e]) continue;
                    int qp = qpQ, qpc = qpcQ;
                    if (e == 0) {
                        const int qpP = mbQp(vertical ? mb - 1 : mb - p.mbW);
                        qp = (qpP + qpQ + 1) >> 1;
                        qpc = (kChromaQp[qpP] + qpcQ + 1) >> 1;
                    }
                    uint8_t bS[4];
                    std::memcpy(bS, &bs[dir][e], 4);
                    if (vertical) {
                        k.deblockLuma(y0 + 4 * e, p.strideY, true, bS, qp);
                        if (!(e & 1)) k.deblockChroma(u0 + 2 * e, v0 + 2 * e, p.strideC, true, bS, qpc);
                    } else {
                        k.deblockLuma(y0 + 4 * e * p.strideY, p.strideY, false, bS, qp);
                        if (!(e & 1)) k.deblockChroma(u0 + 2 * e * p.strideC, v0 + 2 * e * p.strideC, p.strideC, false, bS, qpc);
                    }
                }
            }
        }
    }
}

} // namespace vcore
