// Media-type records: deep copies that own their format block and interface, freeing,
// matching against partial types, and the subtypes made from four-character codes.
#include <gtest/gtest.h>

#include <cstring>

#include "standins/media/MediaType.h"

namespace {

// An IUnknown that counts its references, to see copies AddRef and frees Release.
struct CountedUnknown : IUnknown {
    LONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

AM_MEDIA_TYPE TypeWithFormat(BYTE* pbFormat, ULONG cbFormat, IUnknown* pUnk) {
    AM_MEDIA_TYPE mt = {};
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = media::kSubtypeH264;
    mt.formattype = FORMAT_VideoInfo;
    mt.cbFormat = cbFormat;
    mt.pbFormat = pbFormat;
    mt.pUnk = pUnk;
    return mt;
}

TEST(MediaTypeRecord, CopyOwnsItsFormatBlockAndInterfaceAndFreeGivesThemBack) {
    BYTE format[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    CountedUnknown unk;
    AM_MEDIA_TYPE src = TypeWithFormat(format, sizeof format, &unk);

    AM_MEDIA_TYPE copy;
    memset(&copy, 0xCD, sizeof copy);  // overwritten whatever it held
    ASSERT_EQ(S_OK, media::CopyMediaType(&copy, &src));
    EXPECT_NE(format, copy.pbFormat);
    ASSERT_EQ(sizeof format, copy.cbFormat);
    EXPECT_EQ(0, memcmp(format, copy.pbFormat, sizeof format));
    EXPECT_EQ(src.subtype, copy.subtype);
    EXPECT_EQ(2, unk.refs);

    copy.pbFormat[0] = 99;  // the source's block is not shared
    EXPECT_EQ(1, format[0]);

    media::FreeMediaType(copy);
    EXPECT_EQ(nullptr, copy.pbFormat);
    EXPECT_EQ(0u, copy.cbFormat);
    EXPECT_EQ(nullptr, copy.pUnk);
    EXPECT_EQ(1, unk.refs);
    media::FreeMediaType(copy);  // a second free finds nothing to give back
    EXPECT_EQ(1, unk.refs);
}

TEST(MediaTypeRecord, ACopyOfAnEmptyBlockHasNoBlockEvenWhenThePointerWasStale) {
    BYTE stale[4] = {};
    AM_MEDIA_TYPE src = TypeWithFormat(stale, 0, nullptr);
    AM_MEDIA_TYPE copy = {};
    ASSERT_EQ(S_OK, media::CopyMediaType(&copy, &src));
    EXPECT_EQ(nullptr, copy.pbFormat);
    EXPECT_EQ(0u, copy.cbFormat);
    EXPECT_EQ(E_POINTER, media::CopyMediaType(nullptr, &src));
    EXPECT_EQ(E_POINTER, media::CopyMediaType(&copy, nullptr));
}

TEST(MediaTypeRecord, CreatedTypesAreDeletedWithTheirContents) {
    BYTE format[8] = {7};
    CountedUnknown unk;
    AM_MEDIA_TYPE src = TypeWithFormat(format, sizeof format, &unk);
    AM_MEDIA_TYPE* pmt = media::CreateMediaType(&src);
    ASSERT_NE(nullptr, pmt);
    EXPECT_EQ(7, pmt->pbFormat[0]);
    EXPECT_EQ(2, unk.refs);
    media::DeleteMediaType(pmt);
    EXPECT_EQ(1, unk.refs);
    media::DeleteMediaType(nullptr);
}

TEST(MediaTypeRecord, PartialTypesMatchOnTheFieldsTheySet) {
    BYTE full[4] = {1, 2, 3, 4}, same[4] = {1, 2, 3, 4}, other[4] = {1, 2, 3, 5};
    AM_MEDIA_TYPE fullType = TypeWithFormat(full, sizeof full, nullptr);
    struct Case {
        const char* name;
        GUID major, sub, format;
        BYTE* pbFormat;
        ULONG cbFormat;
        bool matches;
    } cases[] = {
        {"all open", GUID_NULL, GUID_NULL, GUID_NULL, nullptr, 0, true},
        {"major only", MEDIATYPE_Video, GUID_NULL, GUID_NULL, nullptr, 0, true},
        {"other major", MEDIATYPE_Audio, GUID_NULL, GUID_NULL, nullptr, 0, false},
        {"other subtype", GUID_NULL, media::kSubtypeI420, GUID_NULL, nullptr, 0, false},
        {"format type without block", MEDIATYPE_Video, media::kSubtypeH264, FORMAT_VideoInfo, nullptr, 0, true},
        {"other format type", GUID_NULL, GUID_NULL, FORMAT_VideoInfo2, nullptr, 0, false},
        {"same block", GUID_NULL, GUID_NULL, FORMAT_VideoInfo, same, sizeof same, true},
        {"other block", GUID_NULL, GUID_NULL, FORMAT_VideoInfo, other, sizeof other, false},
        {"shorter block", GUID_NULL, GUID_NULL, FORMAT_VideoInfo, same, 3, false},
        // A block without its format type says nothing.
        {"block without format type", GUID_NULL, GUID_NULL, GUID_NULL, other, sizeof other, true},
    };
    for (const Case& c : cases) {
        AM_MEDIA_TYPE partial = {};
        partial.majortype = c.major;
        partial.subtype = c.sub;
        partial.formattype = c.format;
        partial.pbFormat = c.pbFormat;
        partial.cbFormat = c.cbFormat;
        EXPECT_EQ(c.matches, media::MatchesPartial(&fullType, &partial)) << c.name;
    }
    EXPECT_TRUE(media::MatchesPartial(&fullType, nullptr));
    EXPECT_TRUE(media::IsFullySpecified(&fullType));
    fullType.formattype = GUID_NULL;
    EXPECT_FALSE(media::IsFullySpecified(&fullType));
    EXPECT_FALSE(media::IsFullySpecified(nullptr));
}

TEST(FourCCSubtypes, CodesMakeTheSubtypesTheFormatBlocksName) {
    // The code sits in Data1 in the order of its characters in memory, as biCompression has it.
    EXPECT_EQ((DWORD)MAKEFOURCC('Y', 'U', 'Y', '2'), media::FourCC('Y', 'U', 'Y', '2'));
    EXPECT_EQ(MEDIASUBTYPE_YUY2, media::FourCCSubtype(media::FourCC('Y', 'U', 'Y', '2')));
    EXPECT_EQ(MEDIASUBTYPE_IYUV, media::FourCCSubtype(media::FourCC('I', 'Y', 'U', 'V')));
    EXPECT_EQ(0x34363248u, media::kSubtypeH264.Data1);

    struct Case {
        const char* name;
        GUID subtype;
        bool fourcc, h264;
    } cases[] = {
        {"H264", media::kSubtypeH264, true, true},
        {"h264", media::FourCCSubtype(media::FourCC('h', '2', '6', '4')), true, true},
        {"X264", media::FourCCSubtype(media::FourCC('X', '2', '6', '4')), true, true},
        {"x264", media::FourCCSubtype(media::FourCC('x', '2', '6', '4')), true, true},
        {"AVC1 (length-prefixed, not a byte stream)", media::FourCCSubtype(media::FourCC('A', 'V', 'C', '1')), true, false},
        {"I420", media::kSubtypeI420, true, false},
        {"RGB32", MEDIASUBTYPE_RGB32, false, false},
        {"null", GUID_NULL, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.fourcc, media::IsFourCCSubtype(c.subtype)) << c.name;
        EXPECT_EQ(c.h264, media::IsH264ByteStreamSubtype(c.subtype)) << c.name;
    }
}

}  // namespace
