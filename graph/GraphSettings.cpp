// CGraph: the encoder's settings in one call, and the encoder's identity text.
#include "graph/Graph.h"

#include "app/Diagnostics.h"

HRESULT CGraph::SetEncodingProps(EncodingProps* pProps) {
    if (pProps == NULL) {
        DIAG("pProps != 0");
        return E_INVALIDARG;
    }
    if (!m_spVireon) return E_FAIL;

    // Baseline has no B-frames and no CABAC, and the encoder picks its level itself.
    if (pProps->nProfile == 66) {
        pProps->nLevel = 0;
        pProps->nBFrames = 0;
        pProps->bCavlc = 1;
    }

    HRESULT hr = m_spVireon->SetProfileLevel(pProps->nProfile, pProps->nLevel);
    if (hr != S_OK) return hr;
    hr = m_spVireon->SetSpeedQuality(pProps->nSpeedQuality);
    if (hr != S_OK) return hr;
    hr = m_spVireon->SetRateControl(pProps->eRateControl);
    if (hr != S_OK) return hr;
    hr = m_spVireon->SetBitrate(pProps->nBitrate);
    if (hr != S_OK) return hr;
    hr = m_spVireon->SetGop(pProps->nGopSize, pProps->bExactGop);
    if (hr != S_OK) return hr;
    hr = m_spVireon->SetIdrInterval(pProps->nIdrInterval);
    if (hr != S_OK) return hr;
    hr = m_spVireon->SetBFrames(pProps->nBFrames);
    if (hr != S_OK) return hr;
    hr = m_spVireon->SetCavlc(pProps->bCavlc);
    if (hr != S_OK) return hr;
    return m_spVireon->SetPassThroughTimeStamps(pProps->bPassThroughTimeStamps);
}

// "<name> [R64 v.<number> <date and time>]": R or D for a release or debug build, 64 or 32
// for the platform. The text is not limited in length; the title that shows it is.
HRESULT CGraph::GetEncoderInfo(CComBSTR& text) {
    text.Empty();
    if (!m_spVireon) return S_FALSE;

    CComQIPtr<IVireonVersion> spVersion(m_spVireon);
    if (!spVersion) {
        DIAG("spVersion != 0");
        return E_NOINTERFACE;
    }

    int eType = 0, eOS = 0;
    CComBSTR cbsName, cbsNumber, cbsDateTime;
    if (spVersion->GetType(&eType) != S_OK) DIAG("CGraph::GetEncoderInfo(): GetType() FAILED");
    if (spVersion->GetOS(&eOS) != S_OK) DIAG("CGraph::GetEncoderInfo(): GetOS() FAILED");
    if (spVersion->GetName(&cbsName) != S_OK) DIAG("CGraph::GetEncoderInfo(): GetName() FAILED");
    if (spVersion->GetNumber(&cbsNumber) != S_OK)
        DIAG("CGraph::GetEncoderInfo(): GetNumber() FAILED");
    if (spVersion->GetDateTime(&cbsDateTime) != S_OK)
        DIAG("CGraph::GetEncoderInfo(): GetDateTime() FAILED");

    CComBSTR cbsText(L"");
    cbsText.Append(cbsName);
    cbsText.Append(eType != 0 ? L" [R" : L" [D");
    cbsText.Append(eOS != 0 ? L"64" : L"32");
    cbsText.Append(L" v.");
    cbsText.Append(cbsNumber);
    cbsText.Append(L" ");
    cbsText.Append(cbsDateTime);
    cbsText.Append(L"]");
    text.Attach(cbsText.Detach());
    return S_OK;
}
