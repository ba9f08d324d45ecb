// Small DirectShow filters for tests, built on the filter kit (standins/kit/FilterKit.h):
// a push source that delivers generated frames and a renderer that collects what it gets.
// Both are made with `new` and added to a graph directly (no registration needed).
#pragma once

#include "standins/kit/FilterKit.h"

#include <functional>
#include <string>
#include <vector>

// {0E1F6B0A-4C59-4A5E-9B0C-5A7D1C2B3E41}
constexpr CLSID CLSID_QuorlinTestSource = {0x0e1f6b0a, 0x4c59, 0x4a5e, {0x9b, 0x0c, 0x5a, 0x7d, 0x1c, 0x2b, 0x3e, 0x41}};
// {0E1F6B0A-4C59-4A5E-9B0C-5A7D1C2B3E42}
constexpr CLSID CLSID_QuorlinTestSink = {0x0e1f6b0a, 0x4c59, 0x4a5e, {0x9b, 0x0c, 0x5a, 0x7d, 0x1c, 0x2b, 0x3e, 0x42}};

// A source with one output pin "Output" that offers `types` (in that order) and, once paused,
// delivers `frames` samples of the connected type's lSampleSize bytes (or cbSample when set),
// filled by fill(frame index, data, size), time-stamped frame * duration, then end of stream.
class CTestSource : public CKitFilter {
public:
    CTestSource(std::vector<CKitMediaType> types, int frames, REFERENCE_TIME duration);
    ~CTestSource() override;

    int GetPinCount() override { return 1; }
    CKitPin* GetPin(int n) override;
    HRESULT OnStart() override;
    HRESULT OnStop() override;

    std::function<void(int, BYTE*, long)> fill;
    // Called with each sample just before it is delivered (to attach a media type, change
    // its length, ...).
    std::function<void(int, IMediaSample*)> decorate;
    long cbSample = 0;
    bool setSyncPoints = true;
    int Delivered() const { return m_nDelivered; }
    CKitOutputPin* Output();

private:
    class COutput;
    bool DeliverNext();
    COutput* m_pOutput;
    std::vector<CKitMediaType> m_types;
    int m_nFrames;
    REFERENCE_TIME m_tDuration;
    volatile int m_nDelivered;
    CKitWorker m_worker;
};

// What CTestSink received.
struct CollectedSample {
    std::string data;
    bool bSyncPoint = false;
    bool bHasTime = false;
    REFERENCE_TIME tStart = 0, tStop = 0;
    bool bHasType = false;  // the sample brought a new media type
    CKitMediaType type;
};

// A renderer (the kit's, so its seeking goes upstream and EC_COMPLETE follows the end of
// the stream once running) that accepts the types for which accept() is true (all when
// unset) and records every sample.
class CTestSink : public CKitRenderer {
public:
    CTestSink();
    ~CTestSink() override;

    std::function<bool(const AM_MEDIA_TYPE&)> accept;
    // Copies, safe to call while the graph runs.
    std::vector<CollectedSample> Samples();
    std::string AllData();
    bool GotEndOfStream();

protected:
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override;
    HRESULT Render(IMediaSample* pSample) override;
    HRESULT OnEndOfStream() override;

private:
    CRITICAL_SECTION m_csData;
    std::vector<CollectedSample> m_samples;
    bool m_bEos = false;
};

// The first pin of a filter with the given direction (AddRef'd), or null.
IPin* FirstPin(IBaseFilter* pFilter, PIN_DIRECTION eDir);
// Waits for the graph's EC_COMPLETE (or an error event) up to ms; returns the event code
// that ended the wait, or 0 on timeout.
long WaitForGraphEvent(IGraphBuilder* pGraph, DWORD ms);
