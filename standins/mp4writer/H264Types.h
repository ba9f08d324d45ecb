// Media type GUIDs of the H.264 byte stream (Annex-B) exchanged by the encoder, the writer
// and the decoder: the FOURCC subtypes 'H264' and its spellings.
#pragma once

#include "graph/DShow.h"

inline GUID H264FourCCSubtype(DWORD fcc) {
    return {fcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}
// MEDIASUBTYPE_H264.
static const GUID kSubtypeH264 = H264FourCCSubtype(MAKEFOURCC('H', '2', '6', '4'));

inline bool IsH264ByteStreamSubtype(const GUID& sub) {
    static const DWORD kFourCCs[] = {MAKEFOURCC('H', '2', '6', '4'), MAKEFOURCC('h', '2', '6', '4'),
                                     MAKEFOURCC('X', '2', '6', '4'), MAKEFOURCC('x', '2', '6', '4')};
    for (DWORD fcc : kFourCCs)
        if (sub == H264FourCCSubtype(fcc)) return true;
    return false;
}
