#include "standins/camera/Pattern.h"

#include <cstdio>
#include <cstring>

const wchar_t* const g_rgszPatternNames[CAMERA_PATTERN_COUNT] = {L"Colour bars", L"Checkerboard"};

namespace {

struct Yuv {
    uint8_t y, u, v;
};

// 75% colour bars: white, yellow, cyan, green, magenta, red, blue, black.
const Yuv kBars[8] = {{180, 128, 128}, {162, 44, 142}, {131, 156, 44}, {112, 72, 58},
                      {84, 184, 198},  {65, 100, 212}, {35, 212, 114}, {16, 128, 128}};

// 3x5 digits, one row of three bits per line.
const uint8_t kDigits[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};

inline void Put(uint8_t* line, int x, const Yuv& c) {
    uint8_t* px = line + (x & ~1) * 2;
    px[(x & 1) ? 2 : 0] = c.y;
    if (!(x & 1)) px[1] = c.u, px[3] = c.v;
}

}  // namespace

void DrawPatternYUY2(uint8_t* p, int nWidth, int nHeight, int nStride, int ePattern,
                     unsigned nFrame) {
    const int barW = nWidth / 8 > 0 ? nWidth / 8 : 1;
    const int shift = (int)((nFrame * 4) % (unsigned)(barW * 8));
    // The bouncing box.
    const int box = nHeight / 6 > 4 ? nHeight / 6 : 4;
    int spanX = nWidth - box > 1 ? nWidth - box : 1, spanY = nHeight - box > 1 ? nHeight - box : 1;
    int bx = (int)((nFrame * 7) % (unsigned)(2 * spanX)), by = (int)((nFrame * 5) % (unsigned)(2 * spanY));
    if (bx >= spanX) bx = 2 * spanX - bx;
    if (by >= spanY) by = 2 * spanY - by;
    const int cell = nHeight / 8 > 4 ? nHeight / 8 : 4;

    for (int y = 0; y < nHeight; ++y) {
        uint8_t* line = p + (size_t)y * nStride;
        for (int x = 0; x < nWidth; x += 2) {
            Yuv c;
            if (ePattern == CAMERA_PATTERN_CHECKER) {
                int cx = (x + (int)nFrame * 2) / cell, cy = (y + (int)nFrame * 2) / cell;
                c = ((cx + cy) & 1) ? Yuv{200, 128, 128} : Yuv{40, 128, 128};
            } else {
                c = kBars[((x + shift) / barW) % 8];
                if (x >= bx && x < bx + box && y >= by && y < by + box) c = {235, 128, 128};
            }
            line[x * 2] = c.y;
            line[x * 2 + 1] = c.u;
            if (x + 1 < nWidth) line[x * 2 + 2] = c.y;
            line[x * 2 + 3] = c.v;
        }
    }

    // The frame number, white on black, scaled to about a tenth of the height.
    char text[16];
    int n = std::snprintf(text, sizeof text, "%u", nFrame);
    int scale = nHeight / 40 > 1 ? nHeight / 40 : 1;
    int margin = scale * 2;
    int w = n * 4 * scale + margin, h = 5 * scale + 2 * margin;
    if (w + margin > nWidth || h > nHeight) return;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w + margin; ++x) Put(p + (size_t)y * nStride, x, {16, 128, 128});
    for (int i = 0; i < n; ++i) {
        const uint8_t* glyph = kDigits[text[i] - '0'];
        for (int row = 0; row < 5 * scale; ++row)
            for (int col = 0; col < 3 * scale; ++col)
                if (glyph[row / scale] & (4 >> (col / scale)))
                    Put(p + (size_t)(margin + row) * nStride, margin + i * 4 * scale + col,
                        {235, 128, 128});
    }
}
