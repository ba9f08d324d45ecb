// A source filter for tests that plays an H.264 elementary stream one access unit per
// sample, as the encoder delivers it: MEDIATYPE_Video / 'H264' with a VIDEOINFOHEADER.
#pragma once

#include "standins/kit/FilterKit.h"

#include <string>
#include <vector>

class CAnnexBSource : public CKitFilter {
public:
    // times: start time of each access unit (100 ns), or empty for samples without times;
    // sync: sync-point flag of each unit. nPaceMs > 0 waits that long between samples.
    CAnnexBSource(std::string stream, int nWidth, int nHeight, REFERENCE_TIME tFrame,
                  std::vector<REFERENCE_TIME> times, std::vector<bool> sync, int nPaceMs = 0);
    ~CAnnexBSource() override;

    int GetPinCount() override { return 1; }
    CKitPin* GetPin(int n) override;
    HRESULT OnStart() override;
    HRESULT OnStop() override;

    // Samples the downstream pin accepted so far.
    int Delivered() const { return m_nDelivered; }
    size_t Units() const { return m_units.size(); }

private:
    class COutput;
    bool DeliverNext();

    COutput* m_pOutput;
    std::string m_stream;
    std::vector<std::pair<size_t, size_t>> m_units;
    int m_nWidth, m_nHeight;
    REFERENCE_TIME m_tFrame;
    std::vector<REFERENCE_TIME> m_times;
    std::vector<bool> m_sync;
    int m_nPaceMs;
    volatile int m_nDelivered = 0;
    CKitWorker m_worker;
};
