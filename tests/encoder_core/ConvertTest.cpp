// Input conversion to I420 from every supported layout, with padded strides
// and bottom-up storage.
#include <gtest/gtest.h>

#include "Convert.h"

namespace {

using vcore::ConvertToI420;
using vcore::I420Picture;
using vcore::PixelFormat;

// 3x3 picture: odd on purpose (chroma is 2x2, edge pixels stand alone).
// Expected output planes.
const std::vector<uint8_t> kY = {10, 11, 12, 20, 21, 22, 30, 31, 32};
const std::vector<uint8_t> kU = {100, 101, 110, 111};
const std::vector<uint8_t> kV = {200, 201, 210, 211};

// Builds a planar buffer: each plane's rows padded to its stride with 0xEE.
void AppendPlane(std::vector<uint8_t>& buf, const std::vector<uint8_t>& plane, int w, int h, int stride,
                 bool bottomUp) {
    for (int r = 0; r < h; ++r) {
        const int src = bottomUp ? h - 1 - r : r;
        for (int x = 0; x < stride; ++x) buf.push_back(x < w ? plane[static_cast<size_t>(src * w + x)] : 0xEE);
    }
}

void ExpectPicture(const I420Picture& p, const std::vector<uint8_t>& y, const std::vector<uint8_t>& u,
                   const std::vector<uint8_t>& v) {
    EXPECT_EQ(p.y, y);
    EXPECT_EQ(p.u, u);
    EXPECT_EQ(p.v, v);
}

struct PlanarCase {
    PixelFormat fmt;
    int stride; // 0 = natural
    bool bottomUp;
};

class Planar : public ::testing::TestWithParam<PlanarCase> {};

TEST_P(Planar, CopiesPlanesInOrder) {
    const PlanarCase c = GetParam();
    const int stride = c.stride ? c.stride : 3;
    const int cs = (stride + 1) / 2;
    std::vector<uint8_t> buf;
    AppendPlane(buf, kY, 3, 3, stride, c.bottomUp);
    if (c.fmt == PixelFormat::NV12) {
        std::vector<uint8_t> uv;
        for (size_t i = 0; i < kU.size(); ++i) {
            uv.push_back(kU[i]);
            uv.push_back(kV[i]);
        }
        AppendPlane(buf, uv, 4, 2, stride < 4 ? 4 : stride, c.bottomUp);
    } else {
        const bool yv12 = c.fmt == PixelFormat::YV12;
        AppendPlane(buf, yv12 ? kV : kU, 2, 2, cs, c.bottomUp);
        AppendPlane(buf, yv12 ? kU : kV, 2, 2, cs, c.bottomUp);
    }
    I420Picture out;
    ASSERT_TRUE(ConvertToI420(c.fmt, buf.data(), 3, 3, c.fmt == PixelFormat::NV12 && stride < 4 ? 4 : c.stride,
                              c.bottomUp, out));
    ExpectPicture(out, kY, kU, kV);

    // Read in place: the same planes through pointers and strides (I420 and YV12 only).
    const uint8_t* planes[3] = {};
    int strides[3] = {};
    const bool view = vcore::PlanarView(c.fmt, buf.data(), 3, 3, c.stride, c.bottomUp, planes, strides);
    ASSERT_EQ(c.fmt != PixelFormat::NV12, view);
    if (!view) return;
    const int size[3] = {3, 2, 2};
    const std::vector<uint8_t>* expected[3] = {&kY, &kU, &kV};
    for (int p = 0; p < 3; ++p) {
        std::vector<uint8_t> got;
        for (int r = 0; r < size[p]; ++r)
            got.insert(got.end(), planes[p] + r * strides[p], planes[p] + r * strides[p] + size[p]);
        EXPECT_EQ(*expected[p], got) << "plane " << p;
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, Planar,
                         ::testing::Values(PlanarCase{PixelFormat::I420, 0, false}, PlanarCase{PixelFormat::I420, 7, false},
                                           PlanarCase{PixelFormat::I420, 5, true}, PlanarCase{PixelFormat::YV12, 0, false},
                                           PlanarCase{PixelFormat::YV12, 9, true}, PlanarCase{PixelFormat::NV12, 4, false},
                                           PlanarCase{PixelFormat::NV12, 7, true}));

TEST(Yuy2, SplitsLumaAndAveragesChromaOverRowPairs) {
    // 4x3 picture; rows: Y0 U Y1 V Y2 U Y3 V, stride 10 (2 bytes padding)
    const uint8_t rows[3][8] = {
        {1, 100, 2, 200, 3, 120, 4, 220},
        {5, 102, 6, 203, 7, 121, 8, 221},
        {9, 50, 10, 60, 11, 70, 12, 80},
    };
    for (bool bottomUp : {false, true}) {
        std::vector<uint8_t> buf;
        for (int r = 0; r < 3; ++r) {
            const int src = bottomUp ? 2 - r : r;
            buf.insert(buf.end(), rows[src], rows[src] + 8);
            buf.push_back(0xEE);
            buf.push_back(0xEE);
        }
        I420Picture out;
        ASSERT_TRUE(ConvertToI420(PixelFormat::YUY2, buf.data(), 4, 3, 10, bottomUp, out));
        ExpectPicture(out, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
                      {101, 121, 50, 70},   // (100+102+1)/2, (120+121+1)/2, last row alone
                      {202, 221, 60, 80});  // (200+203+1)/2 = 202
    }
}

// BT.601 limited range: black 16/128/128, white 235/128/128, pure colours.
struct Rgb {
    uint8_t r, g, b;
    uint8_t y, u, v;
};
const Rgb kColours[] = {
    {0, 0, 0, 16, 128, 128},     {255, 255, 255, 235, 128, 128}, {255, 0, 0, 81, 90, 240},
    {0, 255, 0, 145, 54, 34},    {0, 0, 255, 41, 240, 110},      {128, 128, 128, 126, 128, 128},
};

class RgbInput : public ::testing::TestWithParam<PixelFormat> {};

TEST_P(RgbInput, SolidColoursMatchBt601) {
    const PixelFormat fmt = GetParam();
    const int bpp = fmt == PixelFormat::RGB24 ? 3 : 4;
    for (const Rgb& c : kColours) {
        // 2x2 solid picture, stride with 3 bytes of padding
        const int stride = 2 * bpp + 3;
        std::vector<uint8_t> buf(static_cast<size_t>(stride) * 2, 0xEE);
        for (int r = 0; r < 2; ++r)
            for (int x = 0; x < 2; ++x) {
                uint8_t* p = &buf[static_cast<size_t>(r * stride + x * bpp)];
                p[0] = c.b;
                p[1] = c.g;
                p[2] = c.r;
                if (bpp == 4) p[3] = 0x55;
            }
        I420Picture out;
        ASSERT_TRUE(ConvertToI420(fmt, buf.data(), 2, 2, stride, true, out));
        EXPECT_EQ(out.y, std::vector<uint8_t>(4, c.y)) << int(c.r) << "," << int(c.g) << "," << int(c.b);
        EXPECT_EQ(out.u[0], c.u) << int(c.r) << "," << int(c.g) << "," << int(c.b);
        EXPECT_EQ(out.v[0], c.v) << int(c.r) << "," << int(c.g) << "," << int(c.b);
    }
}

TEST_P(RgbInput, BottomUpRowsAreFlipped) {
    const PixelFormat fmt = GetParam();
    const int bpp = fmt == PixelFormat::RGB24 ? 3 : 4;
    // 3x3: stored bottom-up, the first stored row is the bottom (white) row,
    // the top row is black, the middle row red.
    const int stride = 3 * bpp + 1;
    std::vector<uint8_t> buf(static_cast<size_t>(stride) * 3, 0);
    const uint8_t colours[3][3] = {{255, 255, 255}, {0, 0, 255}, {0, 0, 0}}; // BGR, bottom row first
    for (int r = 0; r < 3; ++r)
        for (int x = 0; x < 3; ++x)
            for (int k = 0; k < 3; ++k) buf[static_cast<size_t>(r * stride + x * bpp + k)] = colours[r][k];
    I420Picture out;
    ASSERT_TRUE(ConvertToI420(fmt, buf.data(), 3, 3, stride, true, out));
    EXPECT_EQ(out.y, (std::vector<uint8_t>{16, 16, 16, 81, 81, 81, 235, 235, 235}));
    ASSERT_EQ(out.u.size(), 4u);
    // top chroma row averages black and red, the bottom one is white alone
    EXPECT_EQ(out.u[2], 128);
    EXPECT_EQ(out.v[2], 128);
    EXPECT_NE(out.v[0], 128);
    // the same bytes read top-down give the mirrored picture
    ASSERT_TRUE(ConvertToI420(fmt, buf.data(), 3, 3, stride, false, out));
    EXPECT_EQ(out.y, (std::vector<uint8_t>{235, 235, 235, 81, 81, 81, 16, 16, 16}));
}

INSTANTIATE_TEST_SUITE_P(Formats, RgbInput, ::testing::Values(PixelFormat::RGB24, PixelFormat::RGB32));

TEST(Convert, RejectsBadArguments) {
    I420Picture out;
    uint8_t px[64] = {};
    EXPECT_FALSE(ConvertToI420(PixelFormat::I420, nullptr, 4, 4, 0, false, out));
    EXPECT_FALSE(ConvertToI420(PixelFormat::I420, px, 0, 4, 0, false, out));
    EXPECT_FALSE(ConvertToI420(PixelFormat::RGB24, px, 4, 2, 11, false, out)); // stride < 12
    EXPECT_FALSE(ConvertToI420(PixelFormat::YUY2, px, 3, 2, 6, false, out));   // needs 8 for 3 pixels
}

TEST(Convert, BufferSizeMatchesLayout) {
    EXPECT_EQ(vcore::BufferSize(PixelFormat::I420, 4, 4, 0), 16u + 2 * 4u);
    EXPECT_EQ(vcore::BufferSize(PixelFormat::YV12, 3, 3, 5), 15u + 2 * 3u * 2u);
    EXPECT_EQ(vcore::BufferSize(PixelFormat::NV12, 4, 3, 8), 8u * 5u);
    EXPECT_EQ(vcore::BufferSize(PixelFormat::YUY2, 3, 2, 0), 16u);
    EXPECT_EQ(vcore::BufferSize(PixelFormat::RGB24, 3, 2, 0), 18u);
    EXPECT_EQ(vcore::BufferSize(PixelFormat::RGB32, 3, 2, 0), 24u);
}

} // namespace
