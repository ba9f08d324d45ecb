// The stand-in for the maker's H.264 encoder filter ("Morvane H264 Encoder",
// CLSID_VireonEncoder): one input pin taking uncompressed video, one output pin carrying an
// H.264 Annex-B byte stream, controlled through IVireon and IVireonVersion.
//
// Settings (IVireon):
//   * Every setter checks its value (E_INVALIDARG when out of range) and works only while the
//     filter is stopped (VFW_E_WRONG_STATE otherwise): the settings are taken when streaming
//     starts (Stopped -> Paused). ForceKeyFrame works at any time.
//   * Encoder type: Any and Soft are accepted; Hard fails with
//     HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED) as no hardware encoder exists here. The encoder
//     used is MRV264E_Enc_Soft from the filter's creation on: the software encoder is the
//     filter itself.
//   * Presets are bundles of speed/quality, rate control, GOP size, exact GOP, IDR interval
//     and B-frames (see kPresets in VireonEncoder.cpp); choosing one other than Custom sets
//     them. A setter that moves one of them away from the current preset's value turns the
//     preset into Custom. The bitrate is not part of any preset.
//   * Bitrate 0 means automatic: about 0.12 bits per pixel at the input's frame rate.
//   * Only the Baseline profile is produced: profile used 66, B-frames used 0, and GetCavlc
//     reports the entropy coder in use, which is CAVLC (1) whatever was asked for. Profiles
//     66, 77 and 100 (and 0, automatic) are accepted as requests. Level 0 picks the lowest
//     level that fits resolution, frame rate and bitrate; a requested level that does not fit
//     is replaced the same way, and the used value says so.
//   * The "used" values come from the encoder as it is (or would be) set up for the connected
//     input; without an input, the requests themselves (0 where automatic, B-frames 0).
//   * Time stamps: with pass-through the input samples' times are copied; otherwise frame n
//     of a run gets n * frame duration (from the input's AvgTimePerFrame, or 25 fps when the
//     input does not say). Key frames (IDR) are sync points.
//   * GetStatistics counts the current (or last) run from its start.
//   * Threads: 0 (the default) codes a picture with one thread per processor; GetThreads
//     reports the threads the encoder uses (at most one per macroblock row, at most 16).
//   * Pipeline: I420 and YV12 samples are read by the encoder where they are (other formats
//     are converted once); the picture is coded straight into the output sample, whose size
//     is the most the encoder can write for a picture of the connected input.
//   * A sample that brings a new input type with another picture size restarts the encoder
//     (an IDR with new SPS and PPS); the first output sample of the new size carries the
//     matching output type when the downstream pin accepts it. Output buffers keep the size
//     agreed at connection.
#pragma once

#include "standins/kit/FilterKit.h"

#include <cstring>
#include <memory>
#include <type_traits>

#include "H264Encoder.h"
#include "VideoInput.h"
#include "graph/Vireon.h"

struct VireonSettings {
    int ePreset;
    UINT nSpeedQuality;
    int eRateControl;
    UINT nBitrate;
    UINT nProfile;
    UINT nLevel;
    UINT nGopSize;
    int bExactGop;
    UINT nIdrInterval;
    UINT nBFrames;
    int bCavlc;
    int bPassThroughTimeStamps;
    int eEncType;
    UINT nThreads;  // 0 = one per processor
};

class CVireonEncoder : public CKitTransform, public IVireon, public IVireonVersion {
public:
    static CKitUnknown* CreateInstance(IUnknown* pOuter, HRESULT* phr);
    explicit CVireonEncoder(IUnknown* pOuter);
    ~CVireonEncoder() override;

    KIT_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT OnStart() override;
    HRESULT OnStop() override;

    // IVireon
    STDMETHODIMP GetInputInfo(int* pnWidth, int* pnHeight, double* pdblFPS, int* peInterlacing) override;
    STDMETHODIMP SetPreset(int ePreset) override;
    STDMETHODIMP GetPreset(int* pePreset) override;
    STDMETHODIMP SetSpeedQuality(UINT nSpeedQuality) override;
    STDMETHODIMP GetSpeedQuality(UINT* pnSpeedQuality) override;
    STDMETHODIMP SetRateControl(int eRateControl) override;
    STDMETHODIMP GetRateControl(int* peRateControl) override;
    STDMETHODIMP SetBitrate(UINT nBitrate) override;
    STDMETHODIMP GetBitrate(UINT* pnBitrate, UINT* pnBitrateUsed) override;
    STDMETHODIMP GetStatistics(UINT* pnAvgBitrate, UINT* pnFrames) override;
    STDMETHODIMP SetProfileLevel(UINT nProfile, UINT nLevel) override;
    STDMETHODIMP GetProfileLevel(UINT* pnProfile, UINT* pnLevel, UINT* pnProfileUsed, UINT* pnLevelUsed) override;
    STDMETHODIMP SetGop(UINT nGopSize, int bExactGop) override;
    STDMETHODIMP GetGop(UINT* pnGopSize, int* pbExactGop, UINT* pnGopSizeUsed) override;
    STDMETHODIMP SetIdrInterval(UINT nIdrInterval) override;
    STDMETHODIMP GetIdrInterval(UINT* pnIdrInterval, UINT* pnIdrIntervalUsed) override;
    STDMETHODIMP SetBFrames(UINT nBFrames) override;
    STDMETHODIMP GetBFrames(UINT* pnBFrames, UINT* pnBFramesUsed) override;
    STDMETHODIMP SetCavlc(int bCavlc) override;
    STDMETHODIMP GetCavlc(int* pbCavlc) override;
    STDMETHODIMP SetPassThroughTimeStamps(int bPassThrough) override;
    STDMETHODIMP GetPassThroughTimeStamps(int* pbPassThrough) override;
    STDMETHODIMP ForceKeyFrame() override;
    STDMETHODIMP SetEncoderType(int eEncType) override;
    STDMETHODIMP GetEncoderType(int* peEncType, int* peEncUsed) override;
    STDMETHODIMP SetThreads(UINT nThreads) override;
    STDMETHODIMP GetThreads(UINT* pnThreads, UINT* pnThreadsUsed) override;

    // IVireonVersion
    STDMETHODIMP GetType(int* peType) override;
    STDMETHODIMP GetOS(int* peOS) override;
    STDMETHODIMP GetName(BSTR* pbstrName) override;
    STDMETHODIMP GetNumber(BSTR* pbstrNumber) override;
    STDMETHODIMP GetDateTime(BSTR* pbstrDateTime) override;

protected:
    // The input: uncompressed video of a layout VideoInput reads. The output: H.264 of the
    // input's picture size (odd sizes coded at the next even size).
    HRESULT CheckInputType(const AM_MEDIA_TYPE* pmt) override;
    HRESULT OnInputTypeRefused(const AM_MEDIA_TYPE* pmt) override;
    HRESULT OnInputConnected(const AM_MEDIA_TYPE& mt) override;
    void OnInputDisconnected() override;
    HRESULT CheckOutputType(const AM_MEDIA_TYPE* pmt) override;
    HRESULT GetOutputType(int iPosition, CKitMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) override;
    HRESULT Transform(IMediaSample* pSample) override { return EncodeSample(pSample); }
    void OnFlush() override;

private:
    // The coded picture size of the connected input, and its frame duration; false without one.
    bool CodedSize(int* pnWidth, int* pnHeight, REFERENCE_TIME* ptFrame);
    // The output type for the current input in the format block kind of the connection.
    HRESULT TypeLikeConnection(CKitMediaType* pmt);
    // The core's settings for the current requests and input.
    vcore::EncoderSettings CoreSettings(const VideoInput& in) const;
    // What the encoder uses, worked out here and nowhere else (under the settings lock): the
    // running encoder's own account; else that of an encoder set up for the connected input,
    // kept while the settings and the input's picture stay the same; without an input, the
    // requests themselves.
    vcore::UsedSettings Used();
    UINT AutomaticBitrate(const VideoInput& in) const;
    double CodingFps(const VideoInput& in) const;
    // A setter's change, made while the filter is stopped (VFW_E_WRONG_STATE otherwise):
    // change(settings) under the filter and settings locks.
    template <class Change>
    HRESULT ChangeSettings(Change change);

    HRESULT EncodeSample(IMediaSample* pSample);
    HRESULT OpenEncoder();

    CRITICAL_SECTION m_csSettings;  // settings, encoder state for readers, statistics
    VireonSettings m_settings;
    VideoInput m_input;            // valid when the input pin is connected
    bool m_bInputKnown;
    std::unique_ptr<vcore::H264Encoder> m_spEncoder;  // while streaming
    vcore::I420Picture m_picture;
    volatile LONG m_bForceKeyFrame;
    LONGLONG m_nFramesIn;        // input frames of this run
    UINT m_nStatFrames;          // frames encoded in this (or the last) run
    UINT m_nStatKbps;
    UINT m_nStatSkipped;         // pictures the core coded all-skip to keep the decoder buffer
    bool m_bDiscontinuity;
    bool m_bSendType;  // the next output sample carries the new picture size

    // What Used() last worked out for a connected input, and for which settings and picture.
    struct UsedFor {
        VireonSettings settings;
        int nWidth, nHeight;
        REFERENCE_TIME tAvgTimePerFrame;
        // Compared as bytes: the record has no padding, so a setting added later is compared too.
        bool operator==(const UsedFor& o) const { return std::memcmp(this, &o, sizeof o) == 0; }
    };
    static_assert(std::has_unique_object_representations_v<UsedFor>, "UsedFor is compared as bytes");
    bool m_bUsedValid;
    UsedFor m_usedFor;
    vcore::UsedSettings m_used;
};
