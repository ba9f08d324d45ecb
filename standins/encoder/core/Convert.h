// Input conversion to planar I420 for the encoder.
//
// All converters take one contiguous source buffer:
//   * I420 / YV12: Y plane (stride bytes per row, height rows), then the two
//     chroma planes (I420: U then V; YV12: V then U), each (height+1)/2 rows
//     of (stride+1)/2 bytes.
//   * NV12: Y plane, then an interleaved UV plane of (height+1)/2 rows with
//     the same stride as Y.
//   * YUY2: packed Y0 U Y1 V, stride bytes per row.
//   * RGB24: packed B G R (Windows DIB order), RGB32: packed B G R X.
// stride 0 means the natural (unpadded) stride; RGB strides need not be
// multiples of 4. bottomUp = true means rows are stored last row first (as in
// a DIB with positive height); for planar formats every plane is flipped.
//
// RGB is converted with BT.601 limited-range coefficients; each chroma sample
// comes from the average of the (up to) four RGB pixels it covers. Chroma of
// packed 4:2:2 input (YUY2) is averaged over row pairs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vcore {

enum class PixelFormat { I420, YV12, NV12, YUY2, RGB24, RGB32 };

struct I420Picture {
    int width = 0, height = 0;
    int strideY = 0, strideC = 0; // strideC = (width + 1) / 2
    std::vector<uint8_t> y, u, v;
};

// Natural stride (bytes per luma/packed row) of a format.
int DefaultStride(PixelFormat fmt, int width);
// Size in bytes of a buffer in the layout described above.
std::size_t BufferSize(PixelFormat fmt, int width, int height, int stride);

// The planes of an I420 or YV12 buffer (layout above) read in place: Y, U, V
// with the top row first, negative strides for a bottom-up buffer. False for
// the other formats and for bad arguments.
bool PlanarView(PixelFormat fmt, const uint8_t* src, int width, int height, int stride, bool bottomUp,
                const uint8_t* planes[3], int strides[3]);

// A picture as planes in memory: Y, U, V for I420 and YV12 (whatever their order in the
// buffer); Y and interleaved UV for NV12; the rows of packed formats in plane 0. Row r of
// plane i starts at plane[i] + r * stride[i]; a negative stride walks a buffer stored last
// row first. Each row holds at least the picture's bytes of that plane.
struct SourcePlanes {
    const uint8_t* plane[3] = {};
    std::ptrdiff_t stride[3] = {};
};

// Returns false for bad arguments (null plane, size < 1).
bool ConvertPlanesToI420(PixelFormat fmt, const SourcePlanes& src, int width, int height, I420Picture& out);

// Returns false for bad arguments (null source, size < 1, stride too small).
bool ConvertToI420(PixelFormat fmt, const uint8_t* src, int width, int height, int stride, bool bottomUp,
                   I420Picture& out);

} // namespace vcore
