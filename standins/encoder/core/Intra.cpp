#include "Intra.h"

#include <cstring>

#include "Dsp.h"
#include "KernelFns.h"

namespace vcore {
namespace ref {

void PredIntra16(int mode, const uint8_t* rec, int stride, bool top, bool left, uint8_t* dst) {
    const uint8_t* t = rec - stride;
    switch (mode) {
    case 0:
        for (int y = 0; y < 16; ++y) std::memcpy(dst + 16 * y, t, 16);
        break;
    case 1:
        for (int y = 0; y < 16; ++y) std::memset(dst + 16 * y, rec[y * stride - 1], 16);
        break;
    case 2: {
        int s = 0, dc = 128;
        if (top && left) {
            for (int i = 0; i < 16; ++i) s += t[i] + rec[i * stride - 1];
            dc = (s + 16) >> 5;
        } else if (left) {
            for (int i = 0; i < 16; ++i) s += rec[i * stride - 1];
            dc = (s + 8) >> 4;
        } else if (top) {
            for (int i = 0; i < 16; ++i) s += t[i];
            dc = (s + 8) >> 4;
        }
        std::memset(dst, dc, 256);
        break;
    }
    default: {
        int H = 0, V = 0;
        for (int i = 0; i < 8; ++i) {
            H += (i + 1) * (t[8 + i] - t[6 - i]);
            V += (i + 1) * (rec[(8 + i) * stride - 1] - rec[(6 - i) * stride - 1]);
        }
        const int a = 16 * (rec[15 * stride - 1] + t[15]);
        const int b = (5 * H + 32) >> 6, c = (5 * V + 32) >> 6;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) dst[16 * y + x] = Clip255((a + b * (x - 7) + c * (y - 7) + 16) >> 5);
        break;
    }
    }
}

void PredChroma8(int mode, const uint8_t* rec, int stride, bool top, bool left, uint8_t* dst) {
    const uint8_t* t = rec - stride;
    switch (mode) {
    case 0: {
        for (int by = 0; by < 2; ++by) {
            for (int bx = 0; bx < 2; ++bx) {
                int st = 0, sl = 0;
                for (int i = 0; i < 4; ++i) {
                    st += t[4 * bx + i];
                    sl += rec[(4 * by + i) * stride - 1];
                }
                int dc = 128;
                const bool diag = bx == by;
                if (diag) {
                    if (top && left) dc = (st + sl + 4) >> 3;
                    else if (left) dc = (sl + 2) >> 2;
                    else if (top) dc = (st + 2) >> 2;
                } else if (bx == 1) { // upper right block prefers the top row
                    if (top) dc = (st + 2) >> 2;
                    else if (left) dc = (sl + 2) >> 2;
                } else { // lower left block prefers the left column
                    if (left) dc = (sl + 2) >> 2;
                    else if (top) dc = (st + 2) >> 2;
                }
                for (int y = 0; y < 4; ++y) std::memset(dst + (4 * by + y) * 8 + 4 * bx, dc, 4);
            }
        }
        break;
    }
    case 1:
        for (int y = 0; y < 8; ++y) std::memset(dst + 8 * y, rec[y * stride - 1], 8);
        break;
    case 2:
        for (int y = 0; y < 8; ++y) std::memcpy(dst + 8 * y, t, 8);
        break;
    default: {
        int H = 0, V = 0;
        for (int i = 0; i < 4; ++i) {
            H += (i + 1) * (t[4 + i] - t[2 - i]);
            V += (i + 1) * (rec[(4 + i) * stride - 1] - rec[(2 - i) * stride - 1]);
        }
        const int a = 16 * (rec[7 * stride - 1] + t[7]);
        const int b = (34 * H + 32) >> 6, c = (34 * V + 32) >> 6;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) dst[8 * y + x] = Clip255((a + b * (x - 3) + c * (y - 3) + 16) >> 5);
        break;
    }
    }
}

} // namespace ref

void BuildI4Edge(const uint8_t* rec, int stride, bool top, bool left, bool topRight, uint8_t e[13]) {
    if (left)
        for (int y = 0; y < 4; ++y) e[3 - y] = rec[y * stride - 1];
    if (top) {
        const uint8_t* t = rec - stride;
        for (int x = 0; x < 4; ++x) e[5 + x] = t[x];
        for (int x = 4; x < 8; ++x) e[5 + x] = topRight ? t[x] : t[3];
    }
    if (top && left) e[4] = rec[-stride - 1];
}

bool I4ModeAvailable(int mode, bool top, bool left) {
    switch (mode) {
    case 0: case 3: case 7: return top;
    case 1: case 8: return left;
    case 2: return true;
    default: return top && left;
    }
}

namespace ref {
void PredIntra4(int mode, const uint8_t e[13], bool top, bool left, uint8_t* d, int ds) {
    // T(x) = p[x,-1] (x = -1 is the corner), L(y) = p[-1,y] (y = -1 is the corner)
#define T(x) (e[5 + (x)])
#define L(y) (e[3 - (y)])
    // The diagonal modes read the edge filtered along its length: f3[i] the
    // three-tap filter centred on e[i], f2[i] the mean of e[i] and e[i + 1]
    // (e runs from L3 up to the corner and on along the top). Only the part
    // of the edge that the mode reads is filtered: the rest may not exist.
    uint8_t f3[14], f2[13];
    auto F3 = [&](int lo, int hi) { // e[lo - 1 .. hi + 1] exist; past T7 it repeats
        for (int i = lo; i <= hi; ++i)
            f3[i] = static_cast<uint8_t>((e[i - 1] + 2 * e[i] + e[i < 12 ? i + 1 : 12] + 2) >> 2);
    };
    auto F2 = [&](int lo, int hi) {
        for (int i = lo; i <= hi; ++i) f2[i] = static_cast<uint8_t>((e[i] + e[i + 1] + 1) >> 1);
    };
    switch (mode) {
    case 0:
        for (int y = 0; y < 4; ++y) std::memcpy(d + y * ds, e + 5, 4);
        break;
    case 1:
        for (int y = 0; y < 4; ++y) std::memset(d + y * ds, L(y), 4);
        break;
    case 2: {
        int dc = 128;
        if (top && left) dc = (T(0) + T(1) + T(2) + T(3) + L(0) + L(1) + L(2) + L(3) + 4) >> 3;
        else if (left) dc = (L(0) + L(1) + L(2) + L(3) + 2) >> 2;
        else if (top) dc = (T(0) + T(1) + T(2) + T(3) + 2) >> 2;
        for (int y = 0; y < 4; ++y) std::memset(d + y * ds, dc, 4);
        break;
    }
    case 3: // diagonal down left: along the top, the last sample repeated
        F3(6, 12);
        for (int y = 0; y < 4; ++y) std::memcpy(d + y * ds, f3 + 6 + y, 4);
        break;
    case 4: // diagonal down right: along the left edge, the corner and the top
        F3(1, 7);
        for (int y = 0; y < 4; ++y) std::memcpy(d + y * ds, f3 + 4 - y, 4);
        break;
    case 5: // vertical right
        F3(1, 7);
        F2(4, 7);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                const int z = 2 * x - y, i = 4 + x - (y >> 1);
                d[y * ds + x] = z >= 0 ? ((z & 1) ? f3[i] : f2[i]) : (z == -1 ? f3[4] : f3[5 - y]);
            }
        break;
    case 6: // horizontal down
        F3(1, 7);
        F2(0, 3);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                const int z = 2 * y - x, k = y - (x >> 1);
                d[y * ds + x] = z >= 0 ? ((z & 1) ? f3[4 - k] : f2[3 - k]) : (z == -1 ? f3[4] : f3[3 + x]);
            }
        break;
    case 7: // vertical left
        F3(6, 10);
        F2(5, 9);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                const int i = x + (y >> 1);
                d[y * ds + x] = (y & 1) ? f3[6 + i] : f2[5 + i];
            }
        break;
    default: { // horizontal up: along the left edge upwards, L3 repeated past it
        F3(1, 2);
        F2(0, 2);
        const uint8_t last = static_cast<uint8_t>((L(2) + 3 * L(3) + 2) >> 2);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                const int z = x + 2 * y, k = y + (x >> 1);
                d[y * ds + x] = z > 5 ? L(3) : (z == 5 ? last : ((z & 1) ? f3[2 - k] : f2[2 - k]));
            }
        break;
    }
    }
#undef T
#undef L
}
} // namespace ref

void Hadamard4x4(const int in[16], int out[16]) {
    int t[16];
    for (int i = 0; i < 4; ++i) {
        const int* d = in + 4 * i;
        const int s01 = d[0] + d[1], d01 = d[0] - d[1], s23 = d[2] + d[3], d23 = d[2] - d[3];
        t[4 * i + 0] = s01 + s23;
        t[4 * i + 1] = s01 - s23;
        t[4 * i + 2] = d01 - d23;
        t[4 * i + 3] = d01 + d23;
    }
    for (int i = 0; i < 4; ++i) {
        const int s01 = t[i] + t[4 + i], d01 = t[i] - t[4 + i], s23 = t[8 + i] + t[12 + i], d23 = t[8 + i] - t[12 + i];
        out[i] = s01 + s23;
        out[4 + i] = s01 - s23;
        out[8 + i] = d01 - d23;
        out[12 + i] = d01 + d23;
    }
}

} // namespace vcore
