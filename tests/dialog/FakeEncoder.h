// A scriptable stand-in for the encoder's control interfaces, for provoking answers the
// real encoder never gives: failing or S_FALSE setters and getters, odd used values,
// chosen input information and statistics. Every call is logged.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "graph/Vireon.h"

class FakeEncoder : public IVireon, public IVireonVersion {
public:
    // What the getters report (and the setters change).
    struct Settings {
        int eEncType = MRV264E_Enc_Any, eEncUsed = MRV264E_Enc_Soft;
        int ePreset = 0;
        UINT nSpeedQuality = 4;
        int eRateControl = 0;
        UINT nBitrate = 4000, nBitrateUsed = 4000;
        UINT nProfile = 0, nLevel = 0, nProfileUsed = 100, nLevelUsed = 40;
        UINT nGopSize = 0, nGopSizeUsed = 25;
        int bExactGop = 0;
        UINT nIdrInterval = 0, nIdrIntervalUsed = 1;
        UINT nBFrames = 2, nBFramesUsed = 2;
        int bCavlc = 0;
        int bPassThrough = 0;
    } s;

    // Input information and statistics.
    int nWidth = 0, nHeight = 0, eInterlacing = 0;
    double dblFPS = 0.0;
    UINT nAvgBitrate = 0, nFrames = 0;

    // Identity.
    int eType = MRV264E_Type_Release, eOS = MRV264E_OS_64;
    std::wstring name = L"Vireon H.264 Encoder", number = L"2.4.1", dateTime = L"Mar 3 2026 10:20:30";
    bool bHasVersion = true;

    // Result of each operation by name ("SetBitrate"); S_OK when not given. An operation
    // whose result is not S_OK changes and writes nothing.
    std::map<std::string, HRESULT> results;
    // "Name(arg, ...)" per call, in order; getters are logged by name only.
    std::vector<std::string> calls;
    // Setter calls only.
    std::vector<std::string> Setters() const;
    void ClearCalls() { calls.clear(); }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override;
    LONG RefCount() const { return m_cRef; }

    // IVireon
    STDMETHODIMP GetInputInfo(int* pnWidth, int* pnHeight, double* pdblFPS, int* peInterlacing) override;
    STDMETHODIMP SetPreset(int ePreset) override;
    STDMETHODIMP GetPreset(int* pePreset) override;
    STDMETHODIMP SetSpeedQuality(UINT n) override;
    STDMETHODIMP GetSpeedQuality(UINT* pn) override;
    STDMETHODIMP SetRateControl(int e) override;
    STDMETHODIMP GetRateControl(int* pe) override;
    STDMETHODIMP SetBitrate(UINT n) override;
    STDMETHODIMP GetBitrate(UINT* pn, UINT* pnUsed) override;
    STDMETHODIMP GetStatistics(UINT* pnAvgBitrate, UINT* pnFrames) override;
    STDMETHODIMP SetProfileLevel(UINT nProfile, UINT nLevel) override;
    STDMETHODIMP GetProfileLevel(UINT* pnProfile, UINT* pnLevel, UINT* pnProfileUsed, UINT* pnLevelUsed) override;
    STDMETHODIMP SetGop(UINT nGopSize, int bExactGop) override;
    STDMETHODIMP GetGop(UINT* pnGopSize, int* pbExactGop, UINT* pnGopSizeUsed) override;
    STDMETHODIMP SetIdrInterval(UINT n) override;
    STDMETHODIMP GetIdrInterval(UINT* pn, UINT* pnUsed) override;
    STDMETHODIMP SetBFrames(UINT n) override;
    STDMETHODIMP GetBFrames(UINT* pn, UINT* pnUsed) override;
    STDMETHODIMP SetCavlc(int b) override;
    STDMETHODIMP GetCavlc(int* pb) override;
    STDMETHODIMP SetPassThroughTimeStamps(int b) override;
    STDMETHODIMP GetPassThroughTimeStamps(int* pb) override;
    STDMETHODIMP ForceKeyFrame() override;
    STDMETHODIMP SetEncoderType(int e) override;
    STDMETHODIMP GetEncoderType(int* pe, int* peUsed) override;

    // IVireonVersion
    STDMETHODIMP GetType(int* pe) override;
    STDMETHODIMP GetOS(int* pe) override;
    STDMETHODIMP GetName(BSTR* p) override;
    STDMETHODIMP GetNumber(BSTR* p) override;
    STDMETHODIMP GetDateTime(BSTR* p) override;

private:
    HRESULT Call(const std::string& name);
    HRESULT Call(const std::string& name, long long a);
    HRESULT Call(const std::string& name, long long a, long long b);
    LONG m_cRef = 1;
};
