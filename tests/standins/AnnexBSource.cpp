#include "tests/standins/AnnexBSource.h"

#include "standins/media/AnnexB.h"
#include "standins/media/MediaType.h"

#include <cstring>

class CAnnexBSource::COutput : public CKitOutputPin {
public:
    explicit COutput(CAnnexBSource* pOwner) : CKitOutputPin(pOwner, L"Output"), m_pOwner(pOwner) {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override {
        return pmt->majortype == MEDIATYPE_Video && pmt->subtype == media::kSubtypeH264 ? S_OK : S_FALSE;
    }
    HRESULT GetMediaType(int i, CKitMediaType* pmt) override {
        if (i != 0) return VFW_S_NO_MORE_ITEMS;
        pmt->Set(MEDIATYPE_Video, media::kSubtypeH264, FORMAT_VideoInfo);
        auto* pvi = (VIDEOINFOHEADER*)pmt->AllocFormat(sizeof(VIDEOINFOHEADER));
        pvi->AvgTimePerFrame = m_pOwner->m_tFrame;
        pvi->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        pvi->bmiHeader.biWidth = m_pOwner->m_nWidth;
        pvi->bmiHeader.biHeight = m_pOwner->m_nHeight;
        pvi->bmiHeader.biPlanes = 1;
        pvi->bmiHeader.biCompression = MAKEFOURCC('H', '2', '6', '4');
        SetRect(&pvi->rcSource, 0, 0, m_pOwner->m_nWidth, m_pOwner->m_nHeight);
        pvi->rcTarget = pvi->rcSource;
        pmt->bTemporalCompression = TRUE;
        pmt->bFixedSizeSamples = FALSE;
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) override {
        long cb = 0;
        for (auto& u : m_pOwner->m_units) cb = std::max(cb, (long)u.second);
        return SetBufferProperties(pAlloc, pProps, 4, cb);
    }

private:
    CAnnexBSource* m_pOwner;
};

CAnnexBSource::CAnnexBSource(std::string stream, int nWidth, int nHeight, REFERENCE_TIME tFrame,
                             std::vector<REFERENCE_TIME> times, std::vector<bool> sync,
                             int nPaceMs)
    : CKitFilter(L"Annex-B Source", nullptr, GUID_NULL), m_pOutput(nullptr),
      m_stream(std::move(stream)), m_nWidth(nWidth), m_nHeight(nHeight), m_tFrame(tFrame),
      m_times(std::move(times)), m_sync(std::move(sync)), m_nPaceMs(nPaceMs) {
    for (const annexb::Range& r :
         annexb::SplitAccessUnits((const uint8_t*)m_stream.data(), m_stream.size()))
        m_units.push_back({r.offset, r.cb});
    m_pOutput = new COutput(this);
}

CAnnexBSource::~CAnnexBSource() {
    m_worker.Stop();
    delete m_pOutput;
}

CKitPin* CAnnexBSource::GetPin(int n) { return n == 0 ? m_pOutput : nullptr; }

HRESULT CAnnexBSource::OnStart() {
    if (!m_pOutput->IsConnected()) return S_OK;
    m_nDelivered = 0;
    m_pOutput->DeliverNewSegment(0, MAXLONGLONG, 1.0);
    return m_worker.Start([this] { return DeliverNext(); });
}

HRESULT CAnnexBSource::OnStop() {
    m_worker.Stop();
    return S_OK;
}

bool CAnnexBSource::DeliverNext() {
    if (m_nDelivered >= (int)m_units.size()) {
        m_pOutput->DeliverEndOfStream();
        return false;
    }
    if (m_nPaceMs > 0 && m_nDelivered > 0 && m_worker.WaitForStop(m_nPaceMs)) return false;
    IMediaSample* pSample = nullptr;
    if (FAILED(m_pOutput->GetDeliveryBuffer(&pSample)) || !pSample) return false;
    const auto& unit = m_units[m_nDelivered];
    BYTE* pData = nullptr;
    pSample->GetPointer(&pData);
    memcpy(pData, m_stream.data() + unit.first, unit.second);
    pSample->SetActualDataLength((long)unit.second);
    if (m_nDelivered < (int)m_times.size()) {
        REFERENCE_TIME tStart = m_times[m_nDelivered], tStop = tStart + m_tFrame;
        pSample->SetTime(&tStart, &tStop);
    }
    pSample->SetSyncPoint(m_nDelivered < (int)m_sync.size() && m_sync[m_nDelivered]);
    HRESULT hr = m_pOutput->Deliver(pSample);
    pSample->Release();
    if (hr != S_OK) return false;
    ++m_nDelivered;
    return true;
}
