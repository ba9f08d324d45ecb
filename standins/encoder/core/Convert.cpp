#include "Convert.h"

#include <cstddef>
#include <cstring>

#include "KernelFns.h"
#include "Kernels.h"

namespace vcore {
namespace {

// BT.601 limited range in 16-bit fixed point (coefficients * 219/255 or
// 224/255 * 65536), rounded to nearest.
inline uint8_t Y601(int r, int g, int b) {
    return static_cast<uint8_t>((16829 * r + 33039 * g + 6416 * b + (16 << 16) + 32768) >> 16);
}
inline uint8_t U601(int r, int g, int b) {
    return static_cast<uint8_t>((-9714 * r - 19070 * g + 28784 * b + (128 << 16) + 32768) >> 16);
}
inline uint8_t V601(int r, int g, int b) {
    return static_cast<uint8_t>((28784 * r - 24103 * g - 4681 * b + (128 << 16) + 32768) >> 16);
}

// Row r of a plane of `rows` rows starting at base.
inline const uint8_t* Row(const uint8_t* base, int stride, int rows, int r, bool bottomUp) {
    return base + static_cast<std::ptrdiff_t>(bottomUp ? rows - 1 - r : r) * stride;
}

int ChromaStride(int stride) { return (stride + 1) / 2; }

} // namespace

namespace ref {

void RgbToY(const uint8_t* s, int bpp, uint8_t* y, int width) {
    for (int x = 0; x < width; ++x, s += bpp) y[x] = Y601(s[2], s[1], s[0]);
}

void RgbToUv(const uint8_t* s0, const uint8_t* s1, int bpp, int width, uint8_t* u, uint8_t* v) {
    const int cw = (width + 1) / 2;
    for (int x = 0; x < cw; ++x) {
        const int x0 = 2 * x, x1 = 2 * x + 1 < width ? 2 * x + 1 : 2 * x;
        const uint8_t* a = s0 + x0 * bpp;
        const uint8_t* b = s0 + x1 * bpp;
        const uint8_t* c = s1 + x0 * bpp;
        const uint8_t* d = s1 + x1 * bpp;
        const int B = (a[0] + b[0] + c[0] + d[0] + 2) >> 2;
        const int G = (a[1] + b[1] + c[1] + d[1] + 2) >> 2;
        const int R = (a[2] + b[2] + c[2] + d[2] + 2) >> 2;
        u[x] = U601(R, G, B);
        v[x] = V601(R, G, B);
    }
}

void Yuy2ToY(const uint8_t* s, uint8_t* y, int width) {
    for (int x = 0; x < width; ++x) y[x] = s[(x / 2) * 4 + (x & 1) * 2];
}

void Yuy2ToUv(const uint8_t* s0, const uint8_t* s1, uint8_t* u, uint8_t* v, int cw) {
    for (int x = 0; x < cw; ++x) {
        u[x] = static_cast<uint8_t>((s0[4 * x + 1] + s1[4 * x + 1] + 1) >> 1);
        v[x] = static_cast<uint8_t>((s0[4 * x + 3] + s1[4 * x + 3] + 1) >> 1);
    }
}

void SplitUv(const uint8_t* s, uint8_t* u, uint8_t* v, int cw) {
    for (int x = 0; x < cw; ++x) {
        u[x] = s[2 * x];
        v[x] = s[2 * x + 1];
    }
}

} // namespace ref

int DefaultStride(PixelFormat fmt, int width) {
    switch (fmt) {
    case PixelFormat::YUY2: return ((width + 1) / 2) * 4;
    case PixelFormat::RGB24: return width * 3;
    case PixelFormat::RGB32: return width * 4;
    default: return width;
    }
}

std::size_t BufferSize(PixelFormat fmt, int width, int height, int stride) {
    if (stride <= 0) stride = DefaultStride(fmt, width);
    const std::size_t rows = static_cast<std::size_t>(height);
    const std::size_t crow = static_cast<std::size_t>((height + 1) / 2);
    switch (fmt) {
    case PixelFormat::I420:
    case PixelFormat::YV12: return static_cast<std::size_t>(stride) * rows + 2 * static_cast<std::size_t>(ChromaStride(stride)) * crow;
    case PixelFormat::NV12: return static_cast<std::size_t>(stride) * (rows + crow);
    default: return static_cast<std::size_t>(stride) * rows;
    }
}

bool PlanarView(PixelFormat fmt, const uint8_t* src, int width, int height, int stride, bool bottomUp,
                const uint8_t* planes[3], int strides[3]) {
    if (!src || width < 1 || height < 1 || (fmt != PixelFormat::I420 && fmt != PixelFormat::YV12)) return false;
    if (stride <= 0) stride = DefaultStride(fmt, width);
    if (stride < width) return false;
    const int cs = ChromaStride(stride), ch = (height + 1) / 2;
    const uint8_t* p1 = src + static_cast<std::size_t>(stride) * height;
    const uint8_t* p2 = p1 + static_cast<std::size_t>(cs) * ch;
    const uint8_t* pu = fmt == PixelFormat::I420 ? p1 : p2;
    const uint8_t* pv = fmt == PixelFormat::I420 ? p2 : p1;
    planes[0] = Row(src, stride, height, 0, bottomUp);
    planes[1] = Row(pu, cs, ch, 0, bottomUp);
    planes[2] = Row(pv, cs, ch, 0, bottomUp);
    strides[0] = bottomUp ? -stride : stride;
    strides[1] = strides[2] = bottomUp ? -cs : cs;
    return true;
}

bool ConvertPlanesToI420(PixelFormat fmt, const SourcePlanes& src, int width, int height, I420Picture& out) {
    if (width < 1 || height < 1 || !src.plane[0]) return false;
    const bool planar = fmt == PixelFormat::I420 || fmt == PixelFormat::YV12 || fmt == PixelFormat::NV12;
    if (planar && (!src.plane[1] || (fmt != PixelFormat::NV12 && !src.plane[2]))) return false;
    const int cw = (width + 1) / 2, ch = (height + 1) / 2;
    out.width = width;
    out.height = height;
    out.strideY = width;
    out.strideC = cw;
    out.y.resize(static_cast<std::size_t>(width) * height); // every byte is written below
    out.u.resize(static_cast<std::size_t>(cw) * ch);
    out.v.resize(static_cast<std::size_t>(cw) * ch);

    const KernelSet& k = Kern();
    uint8_t* const oy = out.y.data();
    uint8_t* const ou = out.u.data();
    uint8_t* const ov = out.v.data();
    auto yRow = [&](int r) { return oy + static_cast<std::size_t>(r) * width; };
    auto cRow = [&](uint8_t* base, int r) { return base + static_cast<std::size_t>(r) * cw; };
    auto in = [&](int i, int r) { return src.plane[i] + static_cast<std::ptrdiff_t>(r) * src.stride[i]; };
    switch (fmt) {
    case PixelFormat::I420:
    case PixelFormat::YV12: {
        for (int r = 0; r < height; ++r) std::memcpy(yRow(r), in(0, r), static_cast<std::size_t>(width));
        for (int r = 0; r < ch; ++r) {
            std::memcpy(cRow(ou, r), in(1, r), static_cast<std::size_t>(cw));
            std::memcpy(cRow(ov, r), in(2, r), static_cast<std::size_t>(cw));
        }
        return true;
    }
    case PixelFormat::NV12: {
        for (int r = 0; r < height; ++r) std::memcpy(yRow(r), in(0, r), static_cast<std::size_t>(width));
        for (int r = 0; r < ch; ++r) k.splitUv(in(1, r), cRow(ou, r), cRow(ov, r), cw);
        return true;
    }
    case PixelFormat::YUY2: {
        for (int r = 0; r < height; ++r) k.yuy2ToY(in(0, r), yRow(r), width);
        for (int r = 0; r < ch; ++r) k.yuy2ToUv(in(0, 2 * r), in(0, 2 * r + 1 < height ? 2 * r + 1 : 2 * r), cRow(ou, r), cRow(ov, r), cw);
        return true;
    }
    case PixelFormat::RGB24:
    case PixelFormat::RGB32: {
        const int bpp = fmt == PixelFormat::RGB24 ? 3 : 4;
        for (int r = 0; r < height; ++r) k.rgbToY(in(0, r), bpp, yRow(r), width);
        for (int r = 0; r < ch; ++r)
            k.rgbToUv(in(0, 2 * r), in(0, 2 * r + 1 < height ? 2 * r + 1 : 2 * r), bpp, width, cRow(ou, r), cRow(ov, r));
        return true;
    }
    }
    return false;
}

bool ConvertToI420(PixelFormat fmt, const uint8_t* src, int width, int height, int stride, bool bottomUp,
                   I420Picture& out) {
    if (!src || width < 1 || height < 1) return false;
    if (stride <= 0) stride = DefaultStride(fmt, width);
    if (stride < DefaultStride(fmt, width)) return false;
    // Each plane of `rows` rows starting at base, walked top row first.
    SourcePlanes planes;
    auto set = [&](int i, const uint8_t* base, int planeStride, int rows) {
        planes.plane[i] = bottomUp ? base + static_cast<std::ptrdiff_t>(rows - 1) * planeStride : base;
        planes.stride[i] = bottomUp ? -planeStride : planeStride;
    };
    const int ch = (height + 1) / 2;
    const uint8_t* p1 = src + static_cast<std::size_t>(stride) * height;
    set(0, src, stride, height);
    if (fmt == PixelFormat::I420 || fmt == PixelFormat::YV12) {
        const int cs = ChromaStride(stride);
        const uint8_t* p2 = p1 + static_cast<std::size_t>(cs) * ch;
        set(1, fmt == PixelFormat::I420 ? p1 : p2, cs, ch);
        set(2, fmt == PixelFormat::I420 ? p2 : p1, cs, ch);
    } else if (fmt == PixelFormat::NV12) {
        set(1, p1, stride, ch);
    }
    return ConvertPlanesToI420(fmt, planes, width, height, out);
}

} // namespace vcore
