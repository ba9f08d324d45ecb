// The Vireon H.264 encoder's control interfaces and the class identifiers of the maker's
// filters. Shared by the bench and by the stand-in filters.
#pragma once

#include <objbase.h>

// Encoder kinds: what the tester asks for and what the encoder reports it uses.
enum {
    MRV264E_Enc_Unknown = 0,  // no encoder created yet
    MRV264E_Enc_Any = 1,
    MRV264E_Enc_Soft = 2,
    MRV264E_Enc_Hard = 3,
};

// Presets.
enum {
    MRV264E_Preset_Balanced = 0,
    MRV264E_Preset_BestQuality = 1,
    MRV264E_Preset_Fast = 2,
    MRV264E_Preset_LowLatency = 3,
    MRV264E_Preset_Custom = 4,
};

// Rate control.
enum {
    MRV264E_RC_Constant = 0,
    MRV264E_RC_Variable = 1,
};

// Interlacing of the input.
enum {
    MRV264E_Progressive = 1,
    MRV264E_TopFieldFirst = 2,
    MRV264E_BottomFieldFirst = 3,
};

// Build kinds reported by IVireonVersion.
enum {
    MRV264E_Type_Debug = 0,
    MRV264E_Type_Release = 1,
    MRV264E_OS_32 = 0,
    MRV264E_OS_64 = 1,
};

// Profiles and levels are H.264 profile_idc and level_idc; 0 is automatic, level 1b is 9.

MIDL_INTERFACE("D1C5BF32-F440-4EAB-B9BF-5EDB9A1F2777")
IVireon : public IUnknown {
public:
    // Resolution, frame rate and interlacing of the connected input; nWidth 0 without input.
    virtual HRESULT STDMETHODCALLTYPE GetInputInfo(int* pnWidth, int* pnHeight, double* pdblFPS,
                                                   int* peInterlacing) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPreset(int ePreset) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPreset(int* pePreset) = 0;
    // Speed/quality trade-off, 1 (fastest) to 7 (best quality).
    virtual HRESULT STDMETHODCALLTYPE SetSpeedQuality(UINT nSpeedQuality) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSpeedQuality(UINT* pnSpeedQuality) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRateControl(int eRateControl) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRateControl(int* peRateControl) = 0;
    // Bitrate in Kbps.
    virtual HRESULT STDMETHODCALLTYPE SetBitrate(UINT nBitrate) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBitrate(UINT* pnBitrate, UINT* pnBitrateUsed) = 0;
    // Average bitrate in Kbps and frames encoded so far.
    virtual HRESULT STDMETHODCALLTYPE GetStatistics(UINT* pnAvgBitrate, UINT* pnFrames) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProfileLevel(UINT nProfile, UINT nLevel) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProfileLevel(UINT* pnProfile, UINT* pnLevel,
                                                      UINT* pnProfileUsed, UINT* pnLevelUsed) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetGop(UINT nGopSize, int bExactGop) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetGop(UINT* pnGopSize, int* pbExactGop,
                                             UINT* pnGopSizeUsed) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIdrInterval(UINT nIdrInterval) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIdrInterval(UINT* pnIdrInterval,
                                                     UINT* pnIdrIntervalUsed) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBFrames(UINT nBFrames) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBFrames(UINT* pnBFrames, UINT* pnBFramesUsed) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCavlc(int bCavlc) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCavlc(int* pbCavlc) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPassThroughTimeStamps(int bPassThrough) = 0;
    // Not used by the bench.
    virtual HRESULT STDMETHODCALLTYPE GetPassThroughTimeStamps(int* pbPassThrough) = 0;
    // The next frame is encoded as an IDR frame.
    virtual HRESULT STDMETHODCALLTYPE ForceKeyFrame() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetEncoderType(int eEncType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetEncoderType(int* peEncType, int* peEncUsed) = 0;
    // Threads coding a picture, 0 = one per processor.
    virtual HRESULT STDMETHODCALLTYPE SetThreads(UINT nThreads) = 0;
    // The threads asked for and those the encoder uses.
    virtual HRESULT STDMETHODCALLTYPE GetThreads(UINT* pnThreads, UINT* pnThreadsUsed) = 0;
};
__CRT_UUID_DECL(IVireon, 0xD1C5BF32, 0xF440, 0x4EAB, 0xB9, 0xBF, 0x5E, 0xDB, 0x9A, 0x1F, 0x27, 0x77)

MIDL_INTERFACE("94698BB6-B1A3-4C42-95FB-25C4AEBDCDDC")
IVireonVersion : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE GetType(int* peType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOS(int* peOS) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetName(BSTR* pbstrName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNumber(BSTR* pbstrNumber) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDateTime(BSTR* pbstrDateTime) = 0;
};
__CRT_UUID_DECL(IVireonVersion, 0x94698BB6, 0xB1A3, 0x4C42, 0x95, 0xFB, 0x25, 0xC4, 0xAE, 0xBD, 0xCD, 0xDC)

// The maker's filters.
constexpr CLSID CLSID_VireonEncoder =
    {0x0659461D, 0x6DB3, 0x4449, {0xA2, 0x76, 0x0D, 0x67, 0x25, 0xF2, 0x26, 0x1B}};
constexpr CLSID CLSID_VireonMp4Writer =
    {0x5A0AE9AA, 0x2D1A, 0x48B7, {0x87, 0xE0, 0x14, 0x9D, 0x54, 0x1C, 0xAB, 0x03}};
constexpr CLSID CLSID_VireonDecoder =
    {0xC0A6DB7A, 0xC879, 0x4528, {0xBA, 0xD8, 0x47, 0xE6, 0xD3, 0x4F, 0xF7, 0x23}};
constexpr CLSID CLSID_VireonDecoderAlt =
    {0x5668A620, 0x92F9, 0x4D28, {0x87, 0x51, 0x28, 0x47, 0xDF, 0xAB, 0xE7, 0x20}};
