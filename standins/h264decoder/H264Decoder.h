// The H.264 decoder filter: an H.264 byte stream in, RGB32 pictures out, decoded by the
// platform's H.264 decoder (a Media Foundation transform). Serves both of the maker's class
// identifiers.
#pragma once

#include "standins/kit/FilterKit.h"

#include <mfapi.h>
#include <mftransform.h>

#include <cstdint>
#include <vector>

// The platform's H.264 decoder transform.
// {62CE7E72-4C71-4D20-B15D-452831A87D9D}
constexpr CLSID CLSID_PlatformH264DecoderMFT =
    {0x62ce7e72, 0x4c71, 0x4d20, {0xb1, 0x5d, 0x45, 0x28, 0x31, 0xa8, 0x7d, 0x9d}};

class CH264Decoder : public CKitTransform, public IQualProp {
public:
    static CKitUnknown* Create(IUnknown* pOuter, HRESULT* phr);
    static CKitUnknown* CreateAlt(IUnknown* pOuter, HRESULT* phr);
    CH264Decoder(IUnknown* pOuter, REFCLSID clsid);
    ~CH264Decoder() override;

    KIT_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IQualProp: the pictures delivered since the graph started count as drawn.
    STDMETHODIMP get_FramesDroppedInRenderer(int* pcFrames) override;
    STDMETHODIMP get_FramesDrawn(int* pcFramesDrawn) override;
    STDMETHODIMP get_AvgFrameRate(int* piAvgFrameRate) override;
    STDMETHODIMP get_Jitter(int* iJitter) override;
    STDMETHODIMP get_AvgSyncOffset(int* piAvg) override;
    STDMETHODIMP get_DevSyncOffset(int* piDev) override;

    HRESULT OnStart() override;
    HRESULT OnStop() override;

    // Pictures decoded and delivered since the graph started.
    LONG FramesDelivered() const { return m_nDelivered; }

protected:
    HRESULT CheckInputType(const AM_MEDIA_TYPE* pmt) override;
    HRESULT CheckOutputType(const AM_MEDIA_TYPE* pmt) override;
    HRESULT GetOutputType(int iPosition, CKitMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) override;
    HRESULT Transform(IMediaSample* pSample) override;
    // Connection of the input: the picture size, and the transform made and typed.
    HRESULT OnInputConnected(const AM_MEDIA_TYPE& mt) override;
    void OnInputDisconnected() override;
    HRESULT OnEndOfStream() override;
    void OnFlush() override;

private:
    void ReleaseTransform();
    HRESULT ChooseOutputType();
    HRESULT Feed(const BYTE* pData, DWORD cb, bool bTimed, REFERENCE_TIME tStart,
                 REFERENCE_TIME tDuration);
    // Takes every picture the transform has ready and delivers it.
    HRESULT DrainOutput();
    HRESULT DeliverPicture(IMFSample* pPicture);

    IMFTransform* m_pTransform = nullptr;
    int m_nWidth = 0, m_nHeight = 0;      // the pictures delivered
    REFERENCE_TIME m_tFrame = 0;
    // The transform's output: layout of its pictures.
    GUID m_outSubtype = GUID_NULL;
    UINT32 m_nOutWidth = 0, m_nOutHeight = 0;
    LONG m_nOutStride = 0;
    DWORD m_cbOutSample = 0;
    bool m_bTransformAllocates = false;
    bool m_bTimed = true;  // the input samples carry time stamps
    volatile LONG m_nDelivered = 0;
    // Pictures given to the transform and taken out of it, the last one given, and whether
    // the end of the stream is being pushed through.
    LONG m_nPicturesIn = 0, m_nPicturesOut = 0;
    std::vector<uint8_t> m_lastPicture;
    REFERENCE_TIME m_tLast = 0, m_tLastDuration = 0;
    bool m_bFlushingTail = false;
};
