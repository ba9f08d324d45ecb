// Media types as plain records, shared by every stand-in: copying and freeing an
// AM_MEDIA_TYPE, matching a partial type, and the video subtypes made from four-character
// codes (the H.264 byte stream among them). Library `quorlin_media`, no COM objects.
#pragma once

#include "graph/DShow.h"

namespace media {

// Deep copy (the format block is duplicated, pUnk AddRef'd). *pDst is overwritten.
HRESULT CopyMediaType(AM_MEDIA_TYPE* pDst, const AM_MEDIA_TYPE* pSrc);
// Frees the format block and releases pUnk; the record itself stays.
void FreeMediaType(AM_MEDIA_TYPE& mt);
// A CoTaskMemAlloc'd copy, as IEnumMediaTypes::Next and IMediaSample::GetMediaType hand out.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* pSrc);
// Frees what CreateMediaType (or a DirectShow enumerator) handed out, record included.
void DeleteMediaType(AM_MEDIA_TYPE* pmt);
// True when pPartial matches pFull: GUID_NULL in a field of pPartial matches anything.
bool MatchesPartial(const AM_MEDIA_TYPE* pFull, const AM_MEDIA_TYPE* pPartial);
// True when every GUID field (major, sub, format type) is set.
bool IsFullySpecified(const AM_MEDIA_TYPE* pmt);

constexpr DWORD FourCC(char a, char b, char c, char d) {
    return (DWORD)(BYTE)a | ((DWORD)(BYTE)b << 8) | ((DWORD)(BYTE)c << 16) | ((DWORD)(BYTE)d << 24);
}
// A video subtype from its four-character code (XXXXXXXX-0000-0010-8000-00AA00389B71).
constexpr GUID FourCCSubtype(DWORD fourcc) {
    return GUID{fourcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
}
// True when the subtype is made from a four-character code (its Data1).
bool IsFourCCSubtype(REFGUID subtype);

// Types the compiler's headers lack: H.264 Annex-B byte stream ('H264'), planar I420, and
// the MPEG-2/H.264 format block (MPEG2VIDEOINFO).
constexpr GUID kSubtypeH264 = FourCCSubtype(FourCC('H', '2', '6', '4'));
constexpr GUID kSubtypeI420 = FourCCSubtype(FourCC('I', '4', '2', '0'));
constexpr GUID kFormatMpeg2Video = {0xe06d80e3, 0xdb46, 0x11cf, {0xb4, 0xd1, 0x00, 0x80, 0x5f, 0x6c, 0xbb, 0xea}};

// An H.264 byte stream under any of its spellings: 'H264', 'h264', 'X264', 'x264'.
bool IsH264ByteStreamSubtype(REFGUID subtype);

}  // namespace media
