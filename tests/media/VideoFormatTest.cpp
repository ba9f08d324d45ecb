// The video-format reader on format blocks as upstream filters write them: the platform's
// padded planar rows, natural rows, rows wider than the picture, bottom-up DIBs, pictures
// placed inside the buffer, and types whose layout cannot be worked out.
#include "standins/media/VideoFormat.h"

#include <dvdmedia.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

GUID FourCC(const char* s) {
    GUID g = {MAKEFOURCC(s[0], s[1], s[2], s[3]), 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
    return g;
}

// A media type owning its format block.
struct Type {
    AM_MEDIA_TYPE mt = {};
    std::vector<BYTE> block;
    BITMAPINFOHEADER* bmi = nullptr;
    RECT* rcSource = nullptr;
    RECT* rcTarget = nullptr;
    VIDEOINFOHEADER2* vih2 = nullptr;
    const AM_MEDIA_TYPE* operator&() { return &mt; }
};

Type MakeType(const char* subtype, int biWidth, int biHeight, DWORD biSizeImage, bool bInfo2 = false) {
    Type t;
    t.mt.majortype = MEDIATYPE_Video;
    t.mt.subtype = std::string(subtype) == "RGB24"   ? MEDIASUBTYPE_RGB24
                   : std::string(subtype) == "RGB32" ? MEDIASUBTYPE_RGB32
                                                     : FourCC(subtype);
    const bool bRgb = subtype[0] == 'R';
    t.block.assign(bInfo2 ? sizeof(VIDEOINFOHEADER2) : sizeof(VIDEOINFOHEADER), 0);
    t.mt.formattype = bInfo2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo;
    t.mt.cbFormat = (ULONG)t.block.size();
    t.mt.pbFormat = t.block.data();
    if (bInfo2) {
        t.vih2 = (VIDEOINFOHEADER2*)t.block.data();
        t.vih2->AvgTimePerFrame = 400000;
        t.bmi = &t.vih2->bmiHeader;
        t.rcSource = &t.vih2->rcSource;
        t.rcTarget = &t.vih2->rcTarget;
    } else {
        auto* vih = (VIDEOINFOHEADER*)t.block.data();
        vih->AvgTimePerFrame = 400000;
        t.bmi = &vih->bmiHeader;
        t.rcSource = &vih->rcSource;
        t.rcTarget = &vih->rcTarget;
    }
    t.bmi->biSize = sizeof(BITMAPINFOHEADER);
    t.bmi->biWidth = biWidth;
    t.bmi->biHeight = biHeight;
    t.bmi->biPlanes = 1;
    t.bmi->biBitCount = std::string(subtype) == "RGB24" ? 24 : std::string(subtype) == "RGB32" ? 32
                        : std::string(subtype) == "YUY2" ? 16 : 12;
    t.bmi->biCompression = bRgb ? BI_RGB : t.mt.subtype.Data1;
    t.bmi->biSizeImage = biSizeImage;
    return t;
}

struct LayoutCase {
    const char* name;
    const char* subtype;
    int biWidth, biHeight;
    DWORD biSizeImage;
    RECT rcTarget;
    // expected
    int width, height;
    int nPlanes;
    long long stride[3], offset[3];
    size_t cbFrame;
};

TEST(VideoFormat, PlaneLayoutsAsTheBufferHasThem) {
    const LayoutCase cases[] = {
        // The platform's decoders pad planar rows to 4 bytes; chroma rows too.
        {"854x480 I420 padded", "I420", 854, 480, 616320, {}, 854, 480, 3,
         {856, 428, 428}, {0, 410880, 513600}, 513600 + 239 * 428 + 427},
        {"854x480 I420 natural rows", "I420", 854, 480, 614880, {}, 854, 480, 3,
         {854, 427, 427}, {0, 409920, 512400}, 614880},
        {"854x480 YV12 padded: V before U", "YV12", 854, 480, 616320, {}, 854, 480, 3,
         {856, 428, 428}, {0, 513600, 410880}, 513600 + 239 * 428 + 427},
        {"IYUV reads as I420", "IYUV", 854, 480, 616320, {}, 854, 480, 3,
         {856, 428, 428}, {0, 410880, 513600}, 513600 + 239 * 428 + 427},
        {"854x480 NV12 padded", "NV12", 854, 480, 856 * 720, {}, 854, 480, 2,
         {856, 856}, {0, 410880}, 410880 + 239 * 856 + 854},
        {"854x480 NV12 natural rows", "NV12", 854, 480, 854 * 720, {}, 854, 480, 2,
         {854, 854}, {0, 409920}, 614880},
        // 98 wide: luma 100; chroma 49 padded to 52, or half the luma row.
        {"98x62 I420 every row padded", "I420", 98, 62, 100 * 62 + 2 * 52 * 31, {}, 98, 62, 3,
         {100, 52, 52}, {0, 6200, 7812}, 7812 + 30 * 52 + 49},
        {"98x62 I420 chroma half the luma row", "I420", 98, 62, 100 * 62 + 2 * 50 * 31, {}, 98, 62, 3,
         {100, 50, 50}, {0, 6200, 7750}, 7750 + 30 * 50 + 49},
        {"99x61 I420 natural rows", "I420", 99, 61, 99 * 61 + 2 * 50 * 31, {}, 99, 61, 3,
         {99, 50, 50}, {0, 6039, 7589}, 9139},
        {"320x240 I420 without biSizeImage: one layout", "I420", 320, 240, 0, {}, 320, 240, 3,
         {320, 160, 160}, {0, 76800, 96000}, 115200},
        // Rows wider than the picture: said by biWidth and rcTarget, or by biSizeImage alone.
        {"1024-pixel rows, picture in rcTarget", "I420", 1024, 480, 1024 * 720, {0, 0, 854, 480}, 854, 480, 3,
         {1024, 512, 512}, {0, 491520, 614400}, 614400 + 239 * 512 + 427},
        {"1024-byte rows implied by biSizeImage", "I420", 854, 480, 1024 * 720, {}, 854, 480, 3,
         {1024, 512, 512}, {0, 491520, 614400}, 614400 + 239 * 512 + 427},
        {"picture inside the buffer", "I420", 320, 240, 115200, {16, 8, 304, 232}, 288, 224, 3,
         {320, 160, 160}, {8 * 320 + 16, 76800 + 4 * 160 + 8, 96000 + 4 * 160 + 8}, 96000 + 115 * 160 + 8 + 144},
        // DIB rows are DWORD aligned; positive height is bottom-up.
        {"99x61 RGB24 bottom-up", "RGB24", 99, 61, 300 * 61, {}, 99, 61, 1, {-300}, {60 * 300}, 60 * 300 + 297},
        {"99x61 RGB24 top-down", "RGB24", 99, -61, 0, {}, 99, 61, 1, {300}, {0}, 60 * 300 + 297},
        {"RGB24 picture inside a bottom-up buffer", "RGB24", 99, 61, 0, {2, 4, 50, 40}, 48, 36, 1,
         {-300}, {56 * 300 + 6}, 56 * 300 + 6 + 144},
        {"99x61 RGB32 bottom-up", "RGB32", 99, 61, 0, {}, 99, 61, 1, {-396}, {60 * 396}, 61 * 396},
        {"98x62 YUY2", "YUY2", 98, 62, 196 * 62, {}, 98, 62, 1, {196}, {0}, 196 * 62},
        {"99x61 YUY2 rows of whole pixel pairs", "YUY2", 99, 61, 0, {}, 99, 61, 1, {200}, {0}, 200 * 61},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool bInfo2 : {false, true}) {
            Type t = MakeType(c.subtype, c.biWidth, c.biHeight, c.biSizeImage, bInfo2);
            *t.rcTarget = c.rcTarget;
            VideoFormat f;
            const wchar_t* pszWhy = nullptr;
            ASSERT_EQ(S_OK, ReadVideoFormat(&t, &f, &pszWhy)) << (pszWhy ? pszWhy : L"");
            EXPECT_EQ(c.width, f.nWidth);
            EXPECT_EQ(c.height, f.nHeight);
            ASSERT_EQ(c.nPlanes, f.nPlanes);
            for (int i = 0; i < c.nPlanes; ++i) {
                EXPECT_EQ(c.stride[i], f.rgPlanes[i].cbStride) << "plane " << i;
                EXPECT_EQ(c.offset[i], f.rgPlanes[i].cbOffset) << "plane " << i;
            }
            EXPECT_EQ(c.cbFrame, f.cbFrame);
            EXPECT_TRUE(IsSampleLongEnough(f, (long)c.cbFrame));
            EXPECT_FALSE(IsSampleLongEnough(f, (long)c.cbFrame - 1));
        }
    }
}

// rcSource places the picture when rcTarget is empty; rcTarget wins when both are set.
TEST(VideoFormat, PictureRectangle) {
    Type t = MakeType("I420", 320, 240, 115200);
    *t.rcSource = {0, 0, 300, 200};
    VideoFormat f;
    ASSERT_EQ(S_OK, ReadVideoFormat(&t, &f));
    EXPECT_EQ(300, f.nWidth);
    EXPECT_EQ(200, f.nHeight);
    *t.rcTarget = {0, 0, 310, 220};
    ASSERT_EQ(S_OK, ReadVideoFormat(&t, &f));
    EXPECT_EQ(310, f.nWidth);
    EXPECT_EQ(220, f.nHeight);
}

TEST(VideoFormat, FrameRateAndInterlacing) {
    struct {
        DWORD dwFlags;
        bool bInterlaced, bTopFirst, bFieldPerSample;
    } cases[] = {
        {0, false, false, false},
        {AMINTERLACE_IsInterlaced | AMINTERLACE_Field1First, true, true, false},
        {AMINTERLACE_IsInterlaced, true, false, false},
        {AMINTERLACE_IsInterlaced | AMINTERLACE_1FieldPerSample, true, false, true},
        {AMINTERLACE_Field1First, false, false, false},  // flags without IsInterlaced mean nothing
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dwFlags);
        Type t = MakeType("YUY2", 720, 576, 0, true);
        t.vih2->dwInterlaceFlags = c.dwFlags;
        t.vih2->AvgTimePerFrame = 333667;
        VideoFormat f;
        ASSERT_EQ(S_OK, ReadVideoFormat(&t, &f));
        EXPECT_EQ(333667, f.tAvgTimePerFrame);
        EXPECT_EQ(c.bInterlaced, f.bInterlaced);
        EXPECT_EQ(c.bTopFirst, f.bTopFieldFirst);
        EXPECT_EQ(c.bFieldPerSample, f.bFieldPerSample);
    }
    Type t = MakeType("YUY2", 720, 576, 0);
    ((VIDEOINFOHEADER*)t.block.data())->AvgTimePerFrame = -1;
    VideoFormat f;
    ASSERT_EQ(S_OK, ReadVideoFormat(&t, &f));
    EXPECT_EQ(0, f.tAvgTimePerFrame);
}

TEST(VideoFormat, LayoutsThatCannotBeWorkedOutAreRefusedWithAReason) {
    struct Case {
        const char* name;
        const char* subtype;
        int biWidth, biHeight;
        DWORD biSizeImage;
        RECT rcTarget;
        HRESULT hr;
    } cases[] = {
        {"854 wide I420 without biSizeImage: padded or not", "I420", 854, 480, 0, {}, VFW_E_INVALIDMEDIATYPE},
        {"98 wide NV12 without biSizeImage", "NV12", 98, 62, 0, {}, VFW_E_INVALIDMEDIATYPE},
        {"biSizeImage of no layout", "I420", 854, 480, 600000, {}, VFW_E_INVALIDMEDIATYPE},
        {"biSizeImage short of natural rows", "I420", 320, 240, 115199, {}, VFW_E_INVALIDMEDIATYPE},
        {"RGB biSizeImage short of its rows", "RGB24", 99, 61, 99 * 3 * 61, {}, VFW_E_INVALIDMEDIATYPE},
        {"rcTarget outside the buffer", "I420", 320, 240, 115200, {0, 0, 321, 240}, VFW_E_INVALIDMEDIATYPE},
        {"rcTarget at an odd column splits chroma", "I420", 320, 240, 115200, {1, 0, 301, 240}, VFW_E_INVALIDMEDIATYPE},
        {"rcTarget at an odd row splits chroma", "NV12", 320, 240, 115200, {0, 1, 320, 239}, VFW_E_INVALIDMEDIATYPE},
        {"YUY2 rcTarget at an odd column", "YUY2", 320, 240, 0, {3, 0, 303, 240}, VFW_E_INVALIDMEDIATYPE},
        {"no width", "YUY2", 0, 240, 0, {}, VFW_E_INVALIDMEDIATYPE},
        {"no height", "RGB32", 320, 0, 0, {}, VFW_E_INVALIDMEDIATYPE},
        {"not a subtype that is read", "MJPG", 320, 240, 0, {}, VFW_E_TYPE_NOT_ACCEPTED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Type t = MakeType(c.subtype, c.biWidth, c.biHeight, c.biSizeImage);
        *t.rcTarget = c.rcTarget;
        VideoFormat f;
        const wchar_t* pszWhy = nullptr;
        EXPECT_EQ(c.hr, ReadVideoFormat(&t, &f, &pszWhy));
        ASSERT_NE(nullptr, pszWhy);
        EXPECT_NE(L'\0', pszWhy[0]);
    }
    // Headers that do not belong to their subtype or format type.
    Type rgb = MakeType("RGB24", 320, 240, 0);
    rgb.bmi->biBitCount = 32;
    VideoFormat f;
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, ReadVideoFormat(&rgb, &f));
    Type short_ = MakeType("I420", 320, 240, 115200);
    short_.mt.cbFormat = sizeof(VIDEOINFOHEADER) - 1;
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, ReadVideoFormat(&short_, &f));
    Type audio = MakeType("I420", 320, 240, 115200);
    audio.mt.majortype = MEDIATYPE_Audio;
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, ReadVideoFormat(&audio, &f));
    EXPECT_EQ(E_POINTER, ReadVideoFormat(nullptr, &f));
}

// Every kind of video format block gives its header, compressed video's too; a block too
// short for its header, or of another kind, gives none.
TEST(VideoHeader, EveryVideoFormatBlockKindGivesItsHeader) {
    struct Kind {
        const char* name;
        GUID formattype;
        size_t cbBlock;   // the whole block as filters write it
        size_t cbHeader;  // the header it starts with
        bool bInfo2;
    } kinds[] = {
        {"VideoInfo", FORMAT_VideoInfo, sizeof(VIDEOINFOHEADER), sizeof(VIDEOINFOHEADER), false},
        {"MPEGVideo", FORMAT_MPEGVideo, sizeof(MPEG1VIDEOINFO), sizeof(VIDEOINFOHEADER), false},
        {"VideoInfo2", FORMAT_VideoInfo2, sizeof(VIDEOINFOHEADER2), sizeof(VIDEOINFOHEADER2), true},
        {"MPEG2Video", FORMAT_MPEG2Video, sizeof(MPEG2VIDEOINFO), sizeof(VIDEOINFOHEADER2), true},
    };
    const DWORD dwFlags = AMINTERLACE_IsInterlaced | AMINTERLACE_Field1First;
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.name);
        std::vector<BYTE> block(k.cbBlock, 0);
        RECT* rcTarget;
        REFERENCE_TIME* ptFrame;
        BITMAPINFOHEADER* bmi;
        if (k.bInfo2) {
            auto* vih2 = (VIDEOINFOHEADER2*)block.data();
            vih2->dwInterlaceFlags = dwFlags;
            rcTarget = &vih2->rcTarget;
            ptFrame = &vih2->AvgTimePerFrame;
            bmi = &vih2->bmiHeader;
        } else {
            auto* vih = (VIDEOINFOHEADER*)block.data();
            rcTarget = &vih->rcTarget;
            ptFrame = &vih->AvgTimePerFrame;
            bmi = &vih->bmiHeader;
        }
        *rcTarget = {0, 0, 1280, 720};
        *ptFrame = 333667;
        bmi->biSize = sizeof(BITMAPINFOHEADER);
        bmi->biWidth = 1280;
        bmi->biHeight = -720;
        bmi->biCompression = MAKEFOURCC('H', '2', '6', '4');
        AM_MEDIA_TYPE mt = {};
        mt.majortype = MEDIATYPE_Video;
        mt.subtype = FourCC("H264");
        mt.formattype = k.formattype;
        mt.cbFormat = (ULONG)block.size();
        mt.pbFormat = block.data();

        VideoHeader h;
        ASSERT_TRUE(ReadVideoHeader(mt, &h));
        EXPECT_EQ(k.formattype, h.formattype);
        EXPECT_EQ(k.bInfo2, h.bInfo2);
        EXPECT_EQ(1280, h.bmi.biWidth);
        EXPECT_EQ(-720, h.bmi.biHeight);
        EXPECT_EQ(720, h.Rows());
        EXPECT_EQ((DWORD)MAKEFOURCC('H', '2', '6', '4'), h.bmi.biCompression);
        EXPECT_EQ(333667, h.tAvgTimePerFrame);
        EXPECT_EQ(1280, h.rcTarget.right);
        EXPECT_EQ(k.bInfo2 ? dwFlags : 0u, h.dwInterlaceFlags);

        mt.cbFormat = (ULONG)k.cbHeader;
        EXPECT_TRUE(ReadVideoHeader(mt, &h));
        mt.cbFormat = (ULONG)k.cbHeader - 1;
        EXPECT_FALSE(ReadVideoHeader(mt, &h));
        mt.cbFormat = (ULONG)block.size();
        mt.pbFormat = nullptr;
        EXPECT_FALSE(ReadVideoHeader(mt, &h));
    }
    std::vector<BYTE> block(sizeof(VIDEOINFOHEADER2), 0);
    AM_MEDIA_TYPE audio = {};
    audio.majortype = MEDIATYPE_Audio;
    audio.formattype = FORMAT_WaveFormatEx;
    audio.cbFormat = (ULONG)block.size();
    audio.pbFormat = block.data();
    VideoHeader h;
    EXPECT_FALSE(ReadVideoHeader(audio, &h));
}

}  // namespace
