// The texts GraphEdit and the pins page show for media types, from format blocks as
// fixtures: sizes from both video headers, audio, blocks too short to read, and names of
// subtypes made from four-character codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "standins/media/MediaType.h"
#include "standins/media/PinText.h"

#include <dvdmedia.h>

namespace {

// A media type over a format block the fixture keeps.
struct Fixture {
    std::vector<BYTE> block;
    AM_MEDIA_TYPE mt = {};
    Fixture(const GUID& major, const GUID& sub, const GUID& format, const void* pBlock, size_t cb) {
        block.assign((const BYTE*)pBlock, (const BYTE*)pBlock + cb);
        mt.majortype = major;
        mt.subtype = sub;
        mt.formattype = format;
        mt.cbFormat = (ULONG)cb;
        mt.pbFormat = cb ? block.data() : nullptr;
    }
};

VIDEOINFOHEADER Vih(LONG w, LONG h) {
    VIDEOINFOHEADER vih = {};
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = w;
    vih.bmiHeader.biHeight = h;
    return vih;
}

VIDEOINFOHEADER2 Vih2(LONG w, LONG h) {
    VIDEOINFOHEADER2 vih = {};
    vih.dwPictAspectRatioX = 16;  // fields before the bitmap header must not be read as it
    vih.dwPictAspectRatioY = 9;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = w;
    vih.bmiHeader.biHeight = h;
    return vih;
}

TEST(MediaTypeText, FormatBlocksGiveSizesRatesAndTheirLength) {
    VIDEOINFOHEADER vih = Vih(320, 240);
    VIDEOINFOHEADER2 vih2 = Vih2(1920, -1080);
    WAVEFORMATEX wfx = {};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = 2;
    wfx.nSamplesPerSec = 48000;
    wfx.wBitsPerSample = 16;
    const GUID kYuy2 = media::FourCCSubtype(media::FourCC('Y', 'U', 'Y', '2'));

    struct Case {
        Fixture fixture;
        bool fixedSize;
        ULONG sampleSize;
        const wchar_t* text;
    } cases[] = {
        {Fixture(MEDIATYPE_Video, kYuy2, FORMAT_VideoInfo, &vih, sizeof vih), true, 153600,
         L"Video / YUY2, 320 x 240, sample size 153600, format 88 bytes"},
        // A size that is not fixed is not shown.
        {Fixture(MEDIATYPE_Video, media::kSubtypeH264, FORMAT_VideoInfo, &vih, sizeof vih), false, 4096,
         L"Video / H264, 320 x 240, format 88 bytes"},
        {Fixture(MEDIATYPE_Video, media::kSubtypeH264, FORMAT_VideoInfo2, &vih2, sizeof vih2), false, 0,
         L"Video / H264, 1920 x -1080, format 112 bytes"},
        // Blocks one byte short of their header: the size is not read past the end.
        {Fixture(MEDIATYPE_Video, kYuy2, FORMAT_VideoInfo, &vih, sizeof vih - 1), false, 0,
         L"Video / YUY2, format 87 bytes"},
        {Fixture(MEDIATYPE_Video, kYuy2, FORMAT_VideoInfo2, &vih2, sizeof vih2 - 1), false, 0,
         L"Video / YUY2, format 111 bytes"},
        // A WAVEFORMATEX without its cbSize field is complete for PCM.
        {Fixture(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, &wfx, sizeof wfx - 2), true, 4,
         L"Audio / PCM, 48000 Hz, 2 ch, 16 bit, sample size 4, format 16 bytes"},
        {Fixture(MEDIATYPE_Video, MEDIASUBTYPE_RGB32, GUID_NULL, nullptr, 0), false, 0, L"Video / RGB32"},
        {Fixture(GUID_NULL, GUID_NULL, GUID_NULL, nullptr, 0), false, 0, L"(any) / (any)"},
    };
    for (Case& c : cases) {
        c.fixture.mt.bFixedSizeSamples = c.fixedSize;
        c.fixture.mt.lSampleSize = c.sampleSize;
        EXPECT_EQ(std::wstring(c.text), pintext::MediaTypeText(c.fixture.mt));
    }
}

TEST(MediaTypeText, SubtypesAreNamedByTheirCodeOrElseByTheirGuid) {
    EXPECT_EQ(L"x264", pintext::SubTypeName(media::FourCCSubtype(media::FourCC('x', '2', '6', '4'))));
    // Characters that cannot be shown become '?'.
    EXPECT_EQ(L"A?B?", pintext::SubTypeName(media::FourCCSubtype(media::FourCC('A', '\x01', 'B', '\x7F'))));
    const GUID kOther = {0x12345678, 0x9abc, 0xdef0, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_EQ(L"{12345678-9ABC-DEF0-0102-030405060708}", pintext::SubTypeName(kOther));
    EXPECT_EQ(L"{12345678-9ABC-DEF0-0102-030405060708}", pintext::MajorTypeName(kOther));
    EXPECT_EQ(L"Interleaved", pintext::MajorTypeName(MEDIATYPE_Interleaved));
}

}  // namespace
