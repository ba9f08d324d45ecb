#include "standins/media/MediaType.h"

#include <cstring>

namespace media {

HRESULT CopyMediaType(AM_MEDIA_TYPE* pDst, const AM_MEDIA_TYPE* pSrc) {
    if (!pDst || !pSrc) return E_POINTER;
    *pDst = *pSrc;
    if (pSrc->cbFormat && pSrc->pbFormat) {
        pDst->pbFormat = (BYTE*)::CoTaskMemAlloc(pSrc->cbFormat);
        if (!pDst->pbFormat) {
            pDst->cbFormat = 0;
            pDst->pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        memcpy(pDst->pbFormat, pSrc->pbFormat, pSrc->cbFormat);
    } else {
        pDst->pbFormat = nullptr;
        pDst->cbFormat = 0;
    }
    if (pDst->pUnk) pDst->pUnk->AddRef();
    return S_OK;
}

void FreeMediaType(AM_MEDIA_TYPE& mt) {
    if (mt.pbFormat) ::CoTaskMemFree(mt.pbFormat);
    mt.pbFormat = nullptr;
    mt.cbFormat = 0;
    if (mt.pUnk) mt.pUnk->Release();
    mt.pUnk = nullptr;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* pSrc) {
    auto* pmt = (AM_MEDIA_TYPE*)::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE));
    if (!pmt) return nullptr;
    if (FAILED(CopyMediaType(pmt, pSrc))) {
        ::CoTaskMemFree(pmt);
        return nullptr;
    }
    return pmt;
}

void DeleteMediaType(AM_MEDIA_TYPE* pmt) {
    if (!pmt) return;
    FreeMediaType(*pmt);
    ::CoTaskMemFree(pmt);
}

bool MatchesPartial(const AM_MEDIA_TYPE* pFull, const AM_MEDIA_TYPE* pPartial) {
    if (!pPartial) return true;
    if (pPartial->majortype != GUID_NULL && pPartial->majortype != pFull->majortype) return false;
    if (pPartial->subtype != GUID_NULL && pPartial->subtype != pFull->subtype) return false;
    if (pPartial->formattype != GUID_NULL) {
        if (pPartial->formattype != pFull->formattype) return false;
        if (pPartial->cbFormat && (pPartial->cbFormat != pFull->cbFormat ||
                                   memcmp(pPartial->pbFormat, pFull->pbFormat, pFull->cbFormat)))
            return false;
    }
    return true;
}

bool IsFullySpecified(const AM_MEDIA_TYPE* pmt) {
    return pmt && pmt->majortype != GUID_NULL && pmt->subtype != GUID_NULL &&
           pmt->formattype != GUID_NULL;
}

bool IsFourCCSubtype(REFGUID subtype) {
    GUID base = subtype;
    base.Data1 = 0;
    return base == FourCCSubtype(0);
}

bool IsH264ByteStreamSubtype(REFGUID subtype) {
    static const DWORD kFourCCs[] = {FourCC('H', '2', '6', '4'), FourCC('h', '2', '6', '4'),
                                     FourCC('X', '2', '6', '4'), FourCC('x', '2', '6', '4')};
    for (DWORD fcc : kFourCCs)
        if (subtype == FourCCSubtype(fcc)) return true;
    return false;
}

}  // namespace media
