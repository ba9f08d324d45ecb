// Every kernel set must give exactly what the plain C++ set gives, on random
// blocks and on blocks made of extreme values, with unaligned pointers and
// odd strides; and the encoder's output must not depend on the set in use.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "Dsp.h"
#include "Kernels.h"
#include "TestUtil.h"

namespace {

using vcore::CpuLevel;
using vcore::KernelSet;

const KernelSet& Ref() { return vcore::kKernelsReference; }

// The SIMD sets this processor can run.
std::vector<const KernelSet*> SimdSets() {
    std::vector<const KernelSet*> v;
    for (int l = 1; l < static_cast<int>(CpuLevel::Count); ++l)
        if (const KernelSet* k = vcore::KernelsFor(static_cast<CpuLevel>(l))) v.push_back(k);
    return v;
}

// Picture-like memory: random content of a few kinds.
enum class Fill { Random, Extremes, Flat, Smooth };
const Fill kFills[] = {Fill::Random, Fill::Extremes, Fill::Flat, Fill::Smooth};

struct Pixels {
    std::vector<uint8_t> mem;
    explicit Pixels(size_t n) : mem(n) {}
    void Fill(std::mt19937& rng, ::Fill f) {
        std::uniform_int_distribution<int> any(0, 255), bit(0, 1), small(-3, 3);
        const int base = any(rng);
        for (size_t i = 0; i < mem.size(); ++i) {
            switch (f) {
            case Fill::Random: mem[i] = static_cast<uint8_t>(any(rng)); break;
            case Fill::Extremes: mem[i] = bit(rng) ? 255 : 0; break;
            case Fill::Flat: mem[i] = static_cast<uint8_t>(base); break;
            case Fill::Smooth: mem[i] = static_cast<uint8_t>(std::min(255, std::max(0, base + small(rng)))); break;
            }
        }
    }
    uint8_t* At(size_t off) { return mem.data() + off; }
};

std::string Where(const KernelSet* k, Fill f, int i) {
    return std::string(k->name) + " fill " + std::to_string(static_cast<int>(f)) + " case " + std::to_string(i);
}

TEST(Kernels, ReferenceSetAlwaysAvailableAndSelectable) {
    ASSERT_NE(vcore::KernelsFor(CpuLevel::Reference), nullptr);
    const KernelSet* before = vcore::gKernels;
    EXPECT_TRUE(vcore::UseKernels(CpuLevel::Reference));
    EXPECT_EQ(vcore::gKernels, &Ref());
    EXPECT_FALSE(vcore::UseKernels(CpuLevel::Count));
    EXPECT_EQ(vcore::gKernels, &Ref()) << "a refused level must not change the set";
    vcore::gKernels = before;
    // every x86-64 processor has SSE2, so the floor is always there
    EXPECT_GE(vcore::DetectedCpuLevel(), CpuLevel::Sse2);
}

TEST(Kernels, PixelCostsMatchReference) {
    std::mt19937 rng(1);
    const int stride = 53; // odd, so rows are not aligned
    Pixels a(stride * 20 + 8), b(stride * 20 + 8);
    const int sizes[vcore::kBlockSizes][2] = {{16, 16}, {16, 8}, {8, 16}, {8, 8}, {8, 4}, {4, 8}, {4, 4}};
    for (const KernelSet* k : SimdSets())
        for (Fill f : kFills)
            for (int i = 0; i < 40; ++i) {
                a.Fill(rng, f);
                b.Fill(rng, i & 1 ? Fill::Random : f);
                const size_t oa = static_cast<size_t>(i % 7), ob = static_cast<size_t>(i % 5);
                for (int s = 0; s < vcore::kBlockSizes; ++s) {
                    const std::string w = Where(k, f, i) + " block " + std::to_string(sizes[s][0]) + "x" +
                                          std::to_string(sizes[s][1]);
                    ASSERT_EQ(k->sad[s](a.At(oa), stride, b.At(ob), stride - 2),
                              Ref().sad[s](a.At(oa), stride, b.At(ob), stride - 2)) << "SAD " << w;
                    ASSERT_EQ(k->satd[s](a.At(oa), stride, b.At(ob), stride - 2),
                              Ref().satd[s](a.At(oa), stride, b.At(ob), stride - 2)) << "SATD " << w;
                }
                int s1[16], s2[16];
                k->sad4x4x16(a.At(oa), stride, b.At(ob), stride - 2, s1);
                Ref().sad4x4x16(a.At(oa), stride, b.At(ob), stride - 2, s2);
                ASSERT_EQ(0, std::memcmp(s1, s2, sizeof s1)) << "SADs of the 4x4 blocks " << Where(k, f, i);
                for (int q = 0; q < 16; ++q)
                    ASSERT_EQ(s2[q], Ref().sad[vcore::kBlock4x4](a.At(oa) + (q / 4) * 4 * stride + (q % 4) * 4, stride,
                                                                b.At(ob) + (q / 4) * 4 * (stride - 2) + (q % 4) * 4, stride - 2))
                        << "4x4 block " << q << " " << Where(k, f, i);
                uint8_t d1[16 * 17] = {}, d2[16 * 17] = {};
                k->avg16x16(d1 + 1, 17, a.At(oa), b.At(ob), stride);
                Ref().avg16x16(d2 + 1, 17, a.At(oa), b.At(ob), stride);
                ASSERT_EQ(0, std::memcmp(d1 + 1, d2 + 1, sizeof d1 - 1)) << "average " << Where(k, f, i);
            }
}

TEST(Kernels, TransformsAndQuantisationMatchReference) {
    std::mt19937 rng(2);
    std::uniform_int_distribution<int> coef(-32768, 32767), smallCoef(-600, 600), pick(0, 3);
    Pixels src(64 * 9), pred(64 * 9); // up to eight rows
    for (const KernelSet* k : SimdSets())
        for (Fill f : kFills)
            for (int i = 0; i < 60; ++i) {
                const std::string w = Where(k, f, i);
                src.Fill(rng, f);
                pred.Fill(rng, i & 1 ? Fill::Random : f);
                int16_t o1[16], o2[16], p1[16], p2[16];
                k->fdct4x4(o1, src.At(3), 61, pred.At(1), 64);
                Ref().fdct4x4(o2, src.At(3), 61, pred.At(1), 64);
                ASSERT_EQ(0, std::memcmp(o1, o2, sizeof o1)) << "forward 4x4 " << w;
                k->fdct8x4(o1, p1, src.At(5), 63, pred.At(2), 64);
                Ref().fdct8x4(o2, p2, src.At(5), 63, pred.At(2), 64);
                ASSERT_EQ(0, std::memcmp(o1, o2, sizeof o1)) << "forward 8x4 left " << w;
                ASSERT_EQ(0, std::memcmp(p1, p2, sizeof p1)) << "forward 8x4 right " << w;
                int16_t q1[4][16], q2[4][16];
                k->fdct8x8(q1, src.At(5), 63, pred.At(2), 64);
                Ref().fdct8x8(q2, src.At(5), 63, pred.At(2), 64);
                ASSERT_EQ(0, std::memcmp(q1, q2, sizeof q1)) << "forward 8x8 " << w;
                for (int b = 0; b < 4; ++b) {
                    Ref().fdct4x4(o2, src.At(5 + (b >> 1) * 4 * 63 + (b & 1) * 4), 63, pred.At(2 + (b >> 1) * 4 * 64 + (b & 1) * 4), 64);
                    ASSERT_EQ(0, std::memcmp(q1[b], o2, sizeof o2)) << "forward 8x8, block " << b << " " << w;
                }
                for (int intra = 0; intra < 2; ++intra) {
                    // the fused pair against the reference transform and quantiser
                    const int qp = (i * 7 + intra * 13) % 52;
                    int16_t l[2][16], want[2][16];
                    const int n = k->fdctQuant8x4(l[0], l[1], src.At(5), 63, pred.At(2), 64, qp, intra != 0);
                    int16_t c0[16], c1[16];
                    Ref().fdct8x4(c0, c1, src.At(5), 63, pred.At(2), 64);
                    const int n0 = Ref().quant4x4(c0, want[0], qp, intra != 0, 0);
                    const int n1 = Ref().quant4x4(c1, want[1], qp, intra != 0, 0);
                    ASSERT_EQ(n0 | (n1 << 8), n) << "transform and quantiser counts qp " << qp << " " << w;
                    ASSERT_EQ(0, std::memcmp(l, want, sizeof l)) << "transform and quantiser levels qp " << qp << " " << w;

                    // the four blocks of an 8x8 block, AC levels and DC coefficients
                    int16_t l4[4][16], want4[4][16], dc4[4];
                    for (int b = 0; b < 4; ++b)
                        for (int j = 0; j < 16; ++j) l4[b][j] = static_cast<int16_t>(1000 + j);
                    const int n4 = k->fdctQuantAc8x8(l4, dc4, src.At(5), 63, pred.At(2), 64, qp, intra != 0);
                    int16_t c4[4][16];
                    Ref().fdct8x8(c4, src.At(5), 63, pred.At(2), 64);
                    for (int b = 0; b < 4; ++b) {
                        want4[b][0] = 0;
                        const int nb = Ref().quant4x4(c4[b], want4[b], qp, intra != 0, 1);
                        ASSERT_EQ(nb, (n4 >> (8 * b)) & 0xFF) << "8x8 AC count, block " << b << " qp " << qp << " " << w;
                        ASSERT_EQ(c4[b][0], dc4[b]) << "8x8 DC, block " << b << " " << w;
                    }
                    ASSERT_EQ(0, std::memcmp(l4, want4, sizeof l4)) << "8x8 AC levels qp " << qp << " " << w;
                }

                // coefficients: full range, small, mostly zero, saturated
                int16_t c[16];
                for (int j = 0; j < 16; ++j) {
                    switch (pick(rng)) {
                    case 0: c[j] = static_cast<int16_t>(coef(rng)); break;
                    case 1: c[j] = static_cast<int16_t>(smallCoef(rng)); break;
                    case 2: c[j] = 0; break;
                    default: c[j] = (j & 1) ? -32768 : 32767; break;
                    }
                }
                const int qp = i % 52;
                for (int first = 0; first < 2; ++first)
                    for (int intra = 0; intra < 2; ++intra) {
                        int16_t l1[16], l2[16];
                        for (int j = 0; j < 16; ++j) l1[j] = l2[j] = static_cast<int16_t>(1000 + j);
                        const int n1 = k->quant4x4(c, l1, qp, intra != 0, first);
                        const int n2 = Ref().quant4x4(c, l2, qp, intra != 0, first);
                        ASSERT_EQ(n1, n2) << "quantised count qp " << qp << " first " << first << " " << w;
                        ASSERT_EQ(0, std::memcmp(l1, l2, sizeof l1)) << "levels qp " << qp << " first " << first << " " << w;
                        int16_t d1[16], d2[16];
                        for (int j = 0; j < 16; ++j) d1[j] = d2[j] = static_cast<int16_t>(-7 - j);
                        k->dequant4x4(l1, d1, qp, first);
                        Ref().dequant4x4(l1, d2, qp, first);
                        ASSERT_EQ(0, std::memcmp(d1, d2, sizeof d1)) << "dequantised qp " << qp << " first " << first << " " << w;
                    }

                uint8_t r1[4 * 9] = {}, r2[4 * 9] = {};
                int16_t c1[16], c2[16];
                std::memcpy(c1, c, sizeof c);
                std::memcpy(c2, c, sizeof c);
                k->idct4x4Add(r1 + 1, 9, pred.At(7), 64, c1);
                Ref().idct4x4Add(r2 + 1, 9, pred.At(7), 64, c2);
                ASSERT_EQ(0, std::memcmp(r1, r2, sizeof r1)) << "inverse 4x4 " << w;
                // a pair side by side: the second block's coefficients from the
                // same kinds (a DC-only or an all-zero block among them)
                int16_t e[2][16], e1[2][16], e2[2][16];
                std::memcpy(e[0], c, sizeof c);
                for (int j = 0; j < 16; ++j) {
                    switch ((i >> 1) % 4) {
                    case 0: e[1][j] = static_cast<int16_t>(coef(rng)); break;
                    case 1: e[1][j] = static_cast<int16_t>(j ? 0 : smallCoef(rng)); break;
                    case 2: e[1][j] = 0; break;
                    default: e[1][j] = static_cast<int16_t>(pick(rng) == 3 ? ((j & 1) ? -32768 : 32767) : smallCoef(rng)); break;
                    }
                }
                if (i & 1) std::swap(e[0], e[1]);
                std::memcpy(e1, e, sizeof e);
                std::memcpy(e2, e, sizeof e);
                uint8_t s1[4 * 13] = {}, s2[4 * 13] = {};
                k->idct8x4Add(s1 + 3, 13, pred.At(7), 64, e1[0], e1[1]);
                Ref().idct4x4Add(s2 + 3, 13, pred.At(7), 64, e2[0]);
                Ref().idct4x4Add(s2 + 7, 13, pred.At(11), 64, e2[1]);
                ASSERT_EQ(0, std::memcmp(s1, s2, sizeof s1)) << "inverse 8x4 " << w;
                if ((i >> 1) % 4 == 1) {
                    // the encoder reconstructs a DC-only block beside one with AC levels this way
                    const int o = i & 1 ? 3 : 7;
                    Ref().idctDcAdd(s2 + o, 13, pred.At(o + 4), 64, e[(i & 1) ? 0 : 1][0]);
                    ASSERT_EQ(0, std::memcmp(s1, s2, sizeof s1)) << "inverse 8x4 of a DC-only block " << w;
                }
                const int dc = c[0] * (pick(rng) + 1);
                k->idctDcAdd(r1 + 2, 9, pred.At(9), 64, dc);
                Ref().idctDcAdd(r2 + 2, 9, pred.At(9), 64, dc);
                ASSERT_EQ(0, std::memcmp(r1, r2, sizeof r1)) << "inverse DC " << dc << " " << w;
            }
}

// The encoder leaves a block out of the transform when its SAD is at most
// ZeroBlockSad: every residual block of that SAD must quantise to nothing,
// the worst ones being those with all of it on one sample (the coefficients
// where the transform's factors are 2 and 4 get the most of it); one more
// than the limit may leave a level (the bound is tight enough to be of use).
TEST(Kernels, BlocksUnderTheZeroBlockSadQuantiseToNothing) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> pos(0, 15), parts(1, 4), sign(0, 1);
    for (int qp = 0; qp <= 51; ++qp)
        for (int intra = 0; intra < 2; ++intra) {
            const int limit = vcore::ZeroBlockSad(qp, intra != 0);
            ASSERT_GE(limit, 0);
            bool leftLevel = false;
            for (int i = 0; i < 400; ++i) {
                for (int extra = 0; extra < 2; ++extra) {
                    // the SAD spread over a few samples, each within what bytes allow
                    int rest = limit + extra;
                    int r[16] = {};
                    const int n = i < 32 ? 1 : parts(rng);
                    for (int k = 0; k < n && rest > 0; ++k) {
                        const int p = i < 32 ? i % 16 : pos(rng);
                        const int room = 255 - std::abs(r[p]);
                        const int v = std::min(rest, k == n - 1 ? room : std::min(room, rest / 2 + 1));
                        r[p] += (i < 32 ? (i / 16 ? -1 : 1) : (sign(rng) ? -1 : 1)) * v;
                        rest -= v;
                    }
                    if (rest > 0) continue; // more than 16 * 255: nothing to check at this qp
                    uint8_t src[16], pred[16];
                    for (int p = 0; p < 16; ++p) {
                        pred[p] = static_cast<uint8_t>(r[p] < 0 ? 255 : 0);
                        src[p] = static_cast<uint8_t>(pred[p] + r[p]);
                    }
                    int16_t c[16], l[16];
                    Ref().fdct4x4(c, src, 4, pred, 4);
                    const int nz = Ref().quant4x4(c, l, qp, intra != 0, 0);
                    if (!extra) {
                        ASSERT_EQ(0, nz) << "qp " << qp << " intra " << intra << " limit " << limit << " block " << i;
                    } else {
                        leftLevel = leftLevel || nz > 0;
                    }
                }
            }
            if (limit + 1 <= 255) {
                EXPECT_TRUE(leftLevel) << "qp " << qp << ": the limit is loose";
            }
        }
}

// A skip candidate's chroma DC coefficients are checked against
// ChromaDcZeroTop instead of being quantised: the inter quantiser of the
// chroma DC (the factor of position 0, one more bit) must take every
// magnitude up to it to 0 and the next one to a level.
TEST(Kernels, ChromaDcUpToTheZeroTopQuantisesToNothing) {
    for (int qpc = 0; qpc <= 51; ++qpc) {
        const int qbits = 16 + qpc / 6, f = (1 << qbits) / 6, mf = vcore::kQuantMf[qpc % 6][0];
        const int top = vcore::ChromaDcZeroTop(qpc);
        ASSERT_GE(top, 0);
        EXPECT_EQ(0, (top * mf + f) >> qbits) << "qpc " << qpc;
        EXPECT_NE(0, ((top + 1) * mf + f) >> qbits) << "qpc " << qpc;
    }
}

TEST(Kernels, IntraPredictionMatchesReference) {
    std::mt19937 rng(3);
    const int stride = 40;
    Pixels rec(stride * 20);
    for (const KernelSet* k : SimdSets())
        for (Fill f : kFills)
            for (int i = 0; i < 30; ++i) {
                rec.Fill(rng, f);
                const uint8_t* mb = rec.At(stride * 1 + 9); // a row above, columns to the left
                for (int avail = 0; avail < 4; ++avail) {
                    const bool top = avail & 1, left = (avail & 2) != 0;
                    for (int mode = 0; mode < 4; ++mode) {
                        uint8_t d1[256], d2[256];
                        k->predIntra16(mode, mb, stride, top, left, d1);
                        Ref().predIntra16(mode, mb, stride, top, left, d2);
                        ASSERT_EQ(0, std::memcmp(d1, d2, 256)) << "16x16 mode " << mode << " " << Where(k, f, i);
                        k->predChroma8(mode, mb, stride, top, left, d1);
                        Ref().predChroma8(mode, mb, stride, top, left, d2);
                        ASSERT_EQ(0, std::memcmp(d1, d2, 64)) << "chroma mode " << mode << " " << Where(k, f, i);
                    }
                    uint8_t edge[13];
                    for (uint8_t& e : edge)
                        e = static_cast<uint8_t>(f == Fill::Extremes ? (rng() & 1 ? 255 : 0) : rng());
                    for (int mode = 0; mode < 9; ++mode) {
                        uint8_t d1[4 * 7] = {}, d2[4 * 7] = {};
                        k->predIntra4(mode, edge, top, left, d1, 7);
                        Ref().predIntra4(mode, edge, top, left, d2, 7);
                        ASSERT_EQ(0, std::memcmp(d1, d2, sizeof d1)) << "4x4 mode " << mode << " " << Where(k, f, i);
                    }
                }
            }
}

TEST(Kernels, InterpolationMatchesReference) {
    std::mt19937 rng(4);
    const int w = 77, pad = 8, stride = w + 2 * pad + 3; // width not a multiple of 8 or 16
    Pixels plane(static_cast<size_t>(stride) * 12);
    std::vector<uint8_t> out[2][3];
    std::vector<int16_t> v1[2];
    for (const KernelSet* k : SimdSets())
        for (Fill f : kFills)
            for (int i = 0; i < 10; ++i) {
                plane.Fill(rng, f);
                const uint8_t* row = plane.At(static_cast<size_t>(stride) * 5 + pad);
                const KernelSet* sets[2] = {k, &Ref()};
                for (int s = 0; s < 2; ++s) {
                    for (auto& o : out[s]) o.assign(static_cast<size_t>(w + 2 * pad), 0);
                    v1[s].assign(static_cast<size_t>(w + 2 * pad), 0);
                    sets[s]->sixTapRow(row, stride, out[s][0].data() + pad, out[s][1].data() + pad, out[s][2].data() + pad,
                                       v1[s].data() + pad, -pad + 2, w + pad - 4, -pad, w + pad);
                }
                ASSERT_EQ(v1[0], v1[1]) << "vertical intermediates " << Where(k, f, i);
                for (int p = 0; p < 3; ++p) ASSERT_EQ(out[0][p], out[1][p]) << "half-sample plane " << p << " " << Where(k, f, i);

                for (int dy = 0; dy < 8; ++dy)
                    for (int dx = 0; dx < 8; ++dx) {
                        uint8_t d1[8 * 9] = {}, d2[8 * 9] = {};
                        k->chromaMc8x8(d1, 9, plane.At(static_cast<size_t>(i)), stride, dx, dy);
                        Ref().chromaMc8x8(d2, 9, plane.At(static_cast<size_t>(i)), stride, dx, dy);
                        ASSERT_EQ(0, std::memcmp(d1, d2, sizeof d1)) << "chroma " << dx << "," << dy << " " << Where(k, f, i);
                    }
            }
}

TEST(Kernels, DeblockingMatchesReference) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> bsPick(0, 4), qpPick(0, 51);
    const int stride = 24;
    for (const KernelSet* k : SimdSets())
        for (Fill f : kFills)
            for (int i = 0; i < 200; ++i) {
                // smooth sides with a step between them make every filter branch happen
                Pixels y(stride * 24), u(stride * 16), v(stride * 16);
                y.Fill(rng, f);
                u.Fill(rng, f);
                v.Fill(rng, f);
                const int step = static_cast<int>(rng() % 40) - 20;
                for (size_t j = 0; j < y.mem.size(); ++j)
                    if ((j % stride) >= 12) y.mem[j] = static_cast<uint8_t>(std::min(255, std::max(0, y.mem[j] + step)));
                uint8_t bS[4];
                const bool strongEdge = i % 5 == 0;
                for (uint8_t& b : bS) b = static_cast<uint8_t>(strongEdge ? 4 : bsPick(rng) % 4);
                const int qp = 16 + qpPick(rng) % 36;
                const bool vertical = i & 1;
                Pixels y2 = y, u2 = u, v2 = v;
                uint8_t* q0 = vertical ? y.At(stride * 4 + 12) : y.At(stride * 8 + 4);
                uint8_t* q0r = vertical ? y2.At(stride * 4 + 12) : y2.At(stride * 8 + 4);
                k->deblockLuma(q0, stride, vertical, bS, qp);
                Ref().deblockLuma(q0r, stride, vertical, bS, qp);
                ASSERT_EQ(y.mem, y2.mem) << "luma bS " << int(bS[0]) << int(bS[1]) << int(bS[2]) << int(bS[3]) << " qp " << qp
                                         << (vertical ? " vertical " : " horizontal ") << Where(k, f, i);
                const size_t co = vertical ? stride * 4 + 8 : stride * 8 + 4;
                k->deblockChroma(u.At(co), v.At(co), stride, vertical, bS, qp);
                Ref().deblockChroma(u2.At(co), v2.At(co), stride, vertical, bS, qp);
                ASSERT_EQ(u.mem, u2.mem) << "chroma U " << Where(k, f, i);
                ASSERT_EQ(v.mem, v2.mem) << "chroma V " << Where(k, f, i);
            }
}

TEST(Kernels, ConversionsMatchReference) {
    std::mt19937 rng(6);
    for (const KernelSet* k : SimdSets())
        for (Fill f : kFills)
            for (int width : {1, 2, 7, 16, 33, 70}) {
                const std::string w = Where(k, f, width);
                // exactly the row's bytes, so a kernel reading past the end is caught by tools that watch memory
                for (int bpp : {3, 4}) {
                    Pixels s0(static_cast<size_t>(width * bpp)), s1(static_cast<size_t>(width * bpp));
                    s0.Fill(rng, f);
                    s1.Fill(rng, f);
                    std::vector<uint8_t> y1(width), y2(width), u1((width + 1) / 2), u2(u1), v1(u1), v2(u1);
                    k->rgbToY(s0.At(0), bpp, y1.data(), width);
                    Ref().rgbToY(s0.At(0), bpp, y2.data(), width);
                    ASSERT_EQ(y1, y2) << "RGB luma bpp " << bpp << " " << w;
                    k->rgbToUv(s0.At(0), s1.At(0), bpp, width, u1.data(), v1.data());
                    Ref().rgbToUv(s0.At(0), s1.At(0), bpp, width, u2.data(), v2.data());
                    ASSERT_EQ(u1, u2) << "RGB U bpp " << bpp << " " << w;
                    ASSERT_EQ(v1, v2) << "RGB V bpp " << bpp << " " << w;
                }
                const int cw = (width + 1) / 2;
                Pixels p0(static_cast<size_t>(cw * 4)), p1(static_cast<size_t>(cw * 4));
                p0.Fill(rng, f);
                p1.Fill(rng, f);
                std::vector<uint8_t> y1(width), y2(width), u1(cw), u2(cw), v1(cw), v2(cw);
                k->yuy2ToY(p0.At(0), y1.data(), width);
                Ref().yuy2ToY(p0.At(0), y2.data(), width);
                ASSERT_EQ(y1, y2) << "YUY2 luma " << w;
                k->yuy2ToUv(p0.At(0), p1.At(0), u1.data(), v1.data(), cw);
                Ref().yuy2ToUv(p0.At(0), p1.At(0), u2.data(), v2.data(), cw);
                ASSERT_EQ(u1, u2) << "YUY2 U " << w;
                ASSERT_EQ(v1, v2) << "YUY2 V " << w;
                k->splitUv(p0.At(0), u1.data(), v1.data(), cw);
                Ref().splitUv(p0.At(0), u2.data(), v2.data(), cw);
                ASSERT_EQ(u1, u2) << "NV12 U " << w;
                ASSERT_EQ(v1, v2) << "NV12 V " << w;
            }
}

// The whole encoder: the same stream and reconstruction with every set, over
// sizes that are not multiples of 16, intra and inter pictures, all speeds
// and a range of quantisers.
TEST(Kernels, EncoderOutputIndependentOfKernelSet) {
    struct Case {
        int w, h, rc, qpOrKbps, speed, frames;
    };
    const Case cases[] = {
        {176, 144, vcore::kRateFixedQp, 20, 1, 6},  {176, 144, vcore::kRateFixedQp, 38, 4, 6},
        {100, 60, vcore::kRateFixedQp, 30, 7, 5},   {98, 46, vcore::kRateCbr, 300, 2, 6},
        {320, 240, vcore::kRateCbr, 800, 4, 4},     {64, 48, vcore::kRateFixedQp, 4, 5, 4},
    };
    const KernelSet* before = vcore::gKernels;
    for (const Case& c : cases) {
        vcore::EncoderSettings s;
        s.width = c.w;
        s.height = c.h;
        s.rateControl = c.rc;
        s.qp = c.qpOrKbps;
        s.bitrateKbps = c.qpOrKbps;
        s.speedQuality = c.speed;
        s.gopSize = 4;
        vcore::gKernels = &Ref();
        vcore::H264Encoder refEnc;
        const vtest::Encoded want = vtest::EncodeClip(refEnc, s, c.frames);
        ASSERT_FALSE(want.stream.empty());
        for (const KernelSet* k : SimdSets()) {
            vcore::gKernels = k;
            vcore::H264Encoder enc;
            const vtest::Encoded got = vtest::EncodeClip(enc, s, c.frames);
            EXPECT_TRUE(got.stream == want.stream) << k->name << " stream differs, " << c.w << "x" << c.h << " speed " << c.speed;
            EXPECT_TRUE(got.recon == want.recon) << k->name << " reconstruction differs, " << c.w << "x" << c.h;
        }
    }
    vcore::gKernels = before;
}

} // namespace
