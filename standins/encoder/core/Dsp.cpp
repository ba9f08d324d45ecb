#include "Dsp.h"
#include "KernelFns.h"

namespace vcore {

const uint8_t kZigzag4x4[16] = {0, 1, 4, 8, 5, 2, 3, 6, 9, 12, 13, 10, 7, 11, 14, 15};
const uint8_t kBlkX[16] = {0, 1, 0, 1, 2, 3, 2, 3, 0, 1, 0, 1, 2, 3, 2, 3};
const uint8_t kBlkY[16] = {0, 0, 1, 1, 0, 0, 1, 1, 2, 2, 3, 3, 2, 2, 3, 3};
const uint8_t kChromaQp[52] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17,
                               18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 29, 30, 31, 32, 32, 33,
                               34, 34, 35, 35, 36, 36, 37, 37, 37, 38, 38, 38, 39, 39, 39, 39};
namespace {
constexpr QuantTables MakeQuantTables() {
    QuantTables t{};
    for (int qp = 0; qp < 52; ++qp)
        for (int i = 0; i < 16; ++i) {
            t.mf[qp][i] = static_cast<int16_t>(kQuantMf[qp % 6][kPosClass[i]]);
            t.dq[qp][i] = static_cast<int16_t>(kDequantV[qp % 6][kPosClass[i]]);
        }
    for (int qp = 0; qp < 52; ++qp) {
        t.bias[0][qp] = (1 << (15 + qp / 6)) / 6;
        t.bias[1][qp] = (1 << (15 + qp / 6)) / 3;
    }
    return t;
}
} // namespace
// built at compile time
extern const QuantTables kQuantTables = MakeQuantTables();

namespace {
template <int W, int H>
int SadWxH(const uint8_t* a, int sa, const uint8_t* b, int sb) {
    int s = 0;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) s += std::abs(a[x] - b[x]);
        a += sa; b += sb;
    }
    return s;
}

template <int W, int H>
int SatdWxH(const uint8_t* a, int sa, const uint8_t* b, int sb) {
    int s = 0;
    for (int y = 0; y < H; y += 4)
        for (int x = 0; x < W; x += 4) s += ref::Satd4x4(a + y * sa + x, sa, b + y * sb + x, sb);
    return s;
}
} // namespace

namespace ref {

int Sad16x16(const uint8_t* a, int sa, const uint8_t* b, int sb) { return SadWxH<16, 16>(a, sa, b, sb); }
int Sad16x8(const uint8_t* a, int sa, const uint8_t* b, int sb) { return SadWxH<16, 8>(a, sa, b, sb); }
int Sad8x16(const uint8_t* a, int sa, const uint8_t* b, int sb) { return SadWxH<8, 16>(a, sa, b, sb); }
int Sad8x8(const uint8_t* a, int sa, const uint8_t* b, int sb) { return SadWxH<8, 8>(a, sa, b, sb); }
int Sad8x4(const uint8_t* a, int sa, const uint8_t* b, int sb) { return SadWxH<8, 4>(a, sa, b, sb); }
int Sad4x8(const uint8_t* a, int sa, const uint8_t* b, int sb) { return SadWxH<4, 8>(a, sa, b, sb); }
int Sad4x4(const uint8_t* a, int sa, const uint8_t* b, int sb) { return SadWxH<4, 4>(a, sa, b, sb); }
void Sad4x4x16(const uint8_t* a, int sa, const uint8_t* b, int sb, int sad[16]) {
    for (int by = 0; by < 4; ++by)
        for (int bx = 0; bx < 4; ++bx)
            sad[by * 4 + bx] = SadWxH<4, 4>(a + by * 4 * sa + bx * 4, sa, b + by * 4 * sb + bx * 4, sb);
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
int Satd16x16(const uint8_t* a, int sa, const uint8_t* b, int sb) { return SatdWxH<16, 16>(a, sa, b, sb); }
int Satd16x8(const uint8_t* a, int sa, const uint8_t* b, int sb) { return SatdWxH<16, 8>(a, sa, b, sb); }
int Satd8x16(const uint8_t* a, int sa, const uint8_t* b, int sb) { return SatdWxH<8, 16>(a, sa, b, sb); }
int Satd8x8(const uint8_t* a, int sa, const uint8_t* b, int sb) { return SatdWxH<8, 8>(a, sa, b, sb); }
int Satd8x4(const uint8_t* a, int sa, const uint8_t* b, int sb) { return SatdWxH<8, 4>(a, sa, b, sb); }
int Satd4x8(const uint8_t* a, int sa, const uint8_t* b, int sb) { return SatdWxH<4, 8>(a, sa, b, sb); }

void Avg16x16(uint8_t* dst, int sd, const uint8_t* a, const uint8_t* b, int s) {
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) dst[x] = static_cast<uint8_t>((a[x] + b[x] + 1) >> 1);
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
    Fdct4x4(out0, src, ss, pred, sp);
    Fdct4x4(out1, src + 4, ss, pred + 4, sp);
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

int Quant4x4(const int16_t in[16], int16_t levels[16], int qp, bool intra, int first) {
    const int qbits = 15 + qp / 6;
    const int f = intra ? (1 << qbits) / 3 : (1 << qbits) / 6;
    const int16_t* mf = QuantMfRaster(qp);
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
}

void Dequant4x4(const int16_t levels[16], int16_t out[16], int qp, int first) {
    const int* v = kDequantV[qp % 6];
    const int sh = qp / 6;
    for (int i = first; i < 16; ++i) {
        int pos = kZigzag4x4[i];
        out[pos] = static_cast<int16_t>(static_cast<unsigned>(levels[i] * v[kPosClass[pos]]) << sh);
    }
}

void ChromaMc8x8(uint8_t* d, int ds, const uint8_t* s, int ss, int dx, int dy) {
    const int wA = (8 - dx) * (8 - dy), wB = dx * (8 - dy), wC = (8 - dx) * dy, wD = dx * dy;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x)
            d[x] = static_cast<uint8_t>((wA * s[x] + wB * s[x + 1] + wC * s[x + ss] + wD * s[x + ss + 1] + 32) >> 6);
        d += ds;
        s += ss;
    }
}

void SixTapRow(const uint8_t* s, int st, uint8_t* dh, uint8_t* dv, uint8_t* dj, int16_t* v1, int x0, int x1, int v0,
               int v1end) {
    for (int x = x0; x < x1; ++x) {
        int t = s[x - 2] - 5 * s[x - 1] + 20 * s[x] + 20 * s[x + 1] - 5 * s[x + 2] + s[x + 3];
        dh[x] = Clip255((t + 16) >> 5);
    }
    for (int x = v0; x < v1end; ++x)
        v1[x] = static_cast<int16_t>(s[x - 2 * st] - 5 * s[x - st] + 20 * s[x] + 20 * s[x + st] - 5 * s[x + 2 * st] +
                                     s[x + 3 * st]);
    for (int x = x0; x < x1; ++x) {
        dv[x] = Clip255((v1[x] + 16) >> 5);
        int t = v1[x - 2] - 5 * v1[x - 1] + 20 * v1[x] + 20 * v1[x + 1] - 5 * v1[x + 2] + v1[x + 3];
        dj[x] = Clip255((t + 512) >> 10);
    }
}

} // namespace ref
} // namespace vcore
