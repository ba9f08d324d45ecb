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
    switch (mode) {
    case 0:
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) d[y * ds + x] = T(x);
        break;
    case 1:
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) d[y * ds + x] = L(y);
        break;
    case 2: {
        int dc = 128;
        if (top && left) dc = (T(0) + T(1) + T(2) + T(3) + L(0) + L(1) + L(2) + L(3) + 4) >> 3;
        else if (left) dc = (L(0) + L(1) + L(2) + L(3) + 2) >> 2;
        else if (top) dc = (T(0) + T(1) + T(2) + T(3) + 2) >> 2;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) d[y * ds + x] = static_cast<uint8_t>(dc);
        break;
    }
    case 3: // diagonal down left
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                int v = (x == 3 && y == 3) ? (T(6) + 3 * T(7) + 2) >> 2
                                           : (T(x + y) + 2 * T(x + y + 1) + T(x + y + 2) + 2) >> 2;
                d[y * ds + x] = static_cast<uint8_t>(v);
            }
        break;
    case 4: // diagonal down right
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                int v;
                if (x > y) v = (T(x - y - 2) + 2 * T(x - y - 1) + T(x - y) + 2) >> 2;
                else if (x < y) v = (L(y - x - 2) + 2 * L(y - x - 1) + L(y - x) + 2) >> 2;
                else v = (T(0) + 2 * T(-1) + L(0) + 2) >> 2;
                d[y * ds + x] = static_cast<uint8_t>(v);
            }
        break;
    case 5: // vertical right
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                const int z = 2 * x - y;
                int v;
                if (z >= 0 && !(z & 1)) v = (T(x - (y >> 1) - 1) + T(x - (y >> 1)) + 1) >> 1;
                else if (z >= 0) v = (T(x - (y >> 1) - 2) + 2 * T(x - (y >> 1) - 1) + T(x - (y >> 1)) + 2) >> 2;
                else if (z == -1) v = (L(0) + 2 * L(-1) + T(0) + 2) >> 2;
                else v = (L(y - 1) + 2 * L(y - 2) + L(y - 3) + 2) >> 2;
                d[y * ds + x] = static_cast<uint8_t>(v);
            }
        break;
    case 6: // horizontal down
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                const int z = 2 * y - x;
                int v;
                if (z >= 0 && !(z & 1)) v = (L(y - (x >> 1) - 1) + L(y - (x >> 1)) + 1) >> 1;
                else if (z >= 0) v = (L(y - (x >> 1) - 2) + 2 * L(y - (x >> 1) - 1) + L(y - (x >> 1)) + 2) >> 2;
                else if (z == -1) v = (L(0) + 2 * L(-1) + T(0) + 2) >> 2;
                else v = (T(x - 1) + 2 * T(x - 2) + T(x - 3) + 2) >> 2;
                d[y * ds + x] = static_cast<uint8_t>(v);
            }
        break;
    case 7: // vertical left
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                const int i = x + (y >> 1);
                int v = (y & 1) ? (T(i) + 2 * T(i + 1) + T(i + 2) + 2) >> 2 : (T(i) + T(i + 1) + 1) >> 1;
                d[y * ds + x] = static_cast<uint8_t>(v);
            }
        break;
    default: // horizontal up
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                const int z = x + 2 * y;
                int v;
                if (z > 5) v = L(3);
                else if (z == 5) v = (L(2) + 3 * L(3) + 2) >> 2;
                else if (z & 1) v = (L(y + (x >> 1)) + 2 * L(y + (x >> 1) + 1) + L(y + (x >> 1) + 2) + 2) >> 2;
                else v = (L(y + (x >> 1)) + L(y + (x >> 1) + 1) + 1) >> 1;
                d[y * ds + x] = static_cast<uint8_t>(v);
            }
        break;
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
