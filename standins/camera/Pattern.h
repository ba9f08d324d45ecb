// The test camera's pictures: a moving pattern with the frame number on it, drawn as YUY2.
#pragma once

#include <cstdint>

enum {
    CAMERA_PATTERN_BARS = 0,     // colour bars scrolling sideways, a bouncing white box
    CAMERA_PATTERN_CHECKER = 1,  // a checkerboard moving diagonally
    CAMERA_PATTERN_COUNT = 2,
};

// Names shown by the property page, by pattern.
extern const wchar_t* const g_rgszPatternNames[CAMERA_PATTERN_COUNT];

// Draws frame nFrame of ePattern into a YUY2 picture (top line first, nStride bytes a line),
// with the frame number as large digits in the top left corner.
void DrawPatternYUY2(uint8_t* p, int nWidth, int nHeight, int nStride, int ePattern,
                     unsigned nFrame);
