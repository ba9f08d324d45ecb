#include "tests/dialog/FakeEncoder.h"

#include <oleauto.h>

std::vector<std::string> FakeEncoder::Setters() const {
    std::vector<std::string> v;
    for (const auto& c : calls)
        if (c.compare(0, 3, "Set") == 0) v.push_back(c);
    return v;
}

HRESULT FakeEncoder::Call(const std::string& name) {
    calls.push_back(name);
    auto it = results.find(name);
    return it == results.end() ? S_OK : it->second;
}

HRESULT FakeEncoder::Call(const std::string& name, long long a) {
    calls.push_back(name + "(" + std::to_string(a) + ")");
    auto it = results.find(name);
    return it == results.end() ? S_OK : it->second;
}

HRESULT FakeEncoder::Call(const std::string& name, long long a, long long b) {
    calls.push_back(name + "(" + std::to_string(a) + "," + std::to_string(b) + ")");
    auto it = results.find(name);
    return it == results.end() ? S_OK : it->second;
}

STDMETHODIMP FakeEncoder::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = NULL;
    if (riid == IID_IUnknown || riid == __uuidof(IVireon))
        *ppv = static_cast<IVireon*>(this);
    else if (riid == __uuidof(IVireonVersion) && bHasVersion)
        *ppv = static_cast<IVireonVersion*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) FakeEncoder::Release() {
    // Owned by the test; never deleted through COM.
    return --m_cRef;
}

#define FAKE_GET(name, ...)             \
    HRESULT hr = Call(name);            \
    if (hr != S_OK) return hr;          \
    __VA_ARGS__;                        \
    return S_OK

STDMETHODIMP FakeEncoder::GetInputInfo(int* pnWidth, int* pnHeight, double* pdblFPS, int* peInterlacing) {
    FAKE_GET("GetInputInfo", *pnWidth = nWidth, *pnHeight = nHeight, *pdblFPS = dblFPS, *peInterlacing = eInterlacing);
}
STDMETHODIMP FakeEncoder::SetPreset(int e) { HRESULT hr = Call("SetPreset", e); if (hr == S_OK) s.ePreset = e; return hr; }
STDMETHODIMP FakeEncoder::GetPreset(int* pe) { FAKE_GET("GetPreset", *pe = s.ePreset); }
STDMETHODIMP FakeEncoder::SetSpeedQuality(UINT n) { HRESULT hr = Call("SetSpeedQuality", n); if (hr == S_OK) s.nSpeedQuality = n; return hr; }
STDMETHODIMP FakeEncoder::GetSpeedQuality(UINT* pn) { FAKE_GET("GetSpeedQuality", *pn = s.nSpeedQuality); }
STDMETHODIMP FakeEncoder::SetRateControl(int e) { HRESULT hr = Call("SetRateControl", e); if (hr == S_OK) s.eRateControl = e; return hr; }
STDMETHODIMP FakeEncoder::GetRateControl(int* pe) { FAKE_GET("GetRateControl", *pe = s.eRateControl); }
STDMETHODIMP FakeEncoder::SetBitrate(UINT n) {
    HRESULT hr = Call("SetBitrate", n);
    if (hr == S_OK) s.nBitrate = s.nBitrateUsed = n;
    return hr;
}
STDMETHODIMP FakeEncoder::GetBitrate(UINT* pn, UINT* pnUsed) { FAKE_GET("GetBitrate", *pn = s.nBitrate, *pnUsed = s.nBitrateUsed); }
STDMETHODIMP FakeEncoder::GetStatistics(UINT* pnAvgBitrate, UINT* pnFrames) {
    FAKE_GET("GetStatistics", *pnAvgBitrate = nAvgBitrate, *pnFrames = nFrames);
}
STDMETHODIMP FakeEncoder::SetProfileLevel(UINT nProfile, UINT nLevel) {
    HRESULT hr = Call("SetProfileLevel", nProfile, nLevel);
    if (hr == S_OK) {
        s.nProfile = nProfile;
        s.nLevel = nLevel;
    }
    return hr;
}
STDMETHODIMP FakeEncoder::GetProfileLevel(UINT* pnProfile, UINT* pnLevel, UINT* pnProfileUsed, UINT* pnLevelUsed) {
    FAKE_GET("GetProfileLevel", *pnProfile = s.nProfile, *pnLevel = s.nLevel, *pnProfileUsed = s.nProfileUsed,
             *pnLevelUsed = s.nLevelUsed);
}
STDMETHODIMP FakeEncoder::SetGop(UINT nGopSize, int bExactGop) {
    HRESULT hr = Call("SetGop", nGopSize, bExactGop);
    if (hr == S_OK) {
        s.nGopSize = nGopSize;
        s.bExactGop = bExactGop;
    }
    return hr;
}
STDMETHODIMP FakeEncoder::GetGop(UINT* pnGopSize, int* pbExactGop, UINT* pnGopSizeUsed) {
    FAKE_GET("GetGop", *pnGopSize = s.nGopSize, *pbExactGop = s.bExactGop, *pnGopSizeUsed = s.nGopSizeUsed);
}
STDMETHODIMP FakeEncoder::SetIdrInterval(UINT n) { HRESULT hr = Call("SetIdrInterval", n); if (hr == S_OK) s.nIdrInterval = n; return hr; }
STDMETHODIMP FakeEncoder::GetIdrInterval(UINT* pn, UINT* pnUsed) {
    FAKE_GET("GetIdrInterval", *pn = s.nIdrInterval, *pnUsed = s.nIdrIntervalUsed);
}
STDMETHODIMP FakeEncoder::SetBFrames(UINT n) { HRESULT hr = Call("SetBFrames", n); if (hr == S_OK) s.nBFrames = n; return hr; }
STDMETHODIMP FakeEncoder::GetBFrames(UINT* pn, UINT* pnUsed) { FAKE_GET("GetBFrames", *pn = s.nBFrames, *pnUsed = s.nBFramesUsed); }
STDMETHODIMP FakeEncoder::SetCavlc(int b) { HRESULT hr = Call("SetCavlc", b); if (hr == S_OK) s.bCavlc = b; return hr; }
STDMETHODIMP FakeEncoder::GetCavlc(int* pb) { FAKE_GET("GetCavlc", *pb = s.bCavlc); }
STDMETHODIMP FakeEncoder::SetPassThroughTimeStamps(int b) {
    HRESULT hr = Call("SetPassThroughTimeStamps", b);
    if (hr == S_OK) s.bPassThrough = b;
    return hr;
}
STDMETHODIMP FakeEncoder::GetPassThroughTimeStamps(int* pb) { FAKE_GET("GetPassThroughTimeStamps", *pb = s.bPassThrough); }
STDMETHODIMP FakeEncoder::ForceKeyFrame() { return Call("ForceKeyFrame"); }
STDMETHODIMP FakeEncoder::SetEncoderType(int e) {
    HRESULT hr = Call("SetEncoderType", e);
    if (hr == S_OK) s.eEncType = e;
    return hr;
}
STDMETHODIMP FakeEncoder::GetEncoderType(int* pe, int* peUsed) { FAKE_GET("GetEncoderType", *pe = s.eEncType, *peUsed = s.eEncUsed); }

STDMETHODIMP FakeEncoder::GetType(int* pe) { FAKE_GET("GetType", *pe = eType); }
STDMETHODIMP FakeEncoder::GetOS(int* pe) { FAKE_GET("GetOS", *pe = eOS); }
STDMETHODIMP FakeEncoder::GetName(BSTR* p) { FAKE_GET("GetName", *p = ::SysAllocString(name.c_str())); }
STDMETHODIMP FakeEncoder::GetNumber(BSTR* p) { FAKE_GET("GetNumber", *p = ::SysAllocString(number.c_str())); }
STDMETHODIMP FakeEncoder::GetDateTime(BSTR* p) { FAKE_GET("GetDateTime", *p = ::SysAllocString(dateTime.c_str())); }
