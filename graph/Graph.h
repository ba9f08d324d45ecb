// CGraph: the DirectShow filter graph of the test bench, built around the Vireon encoder.
#pragma once

#include <atlbase.h>
#include "graph/DShow.h"

#include "graph/Vireon.h"
#include "graphedit/Helpers.h"

// The private message through which the graph announces pending events.
const UINT WM_GRAPHNOTIFY = WM_APP + 123;

// The encoder settings sent to the encoder in one call.
struct EncodingProps {
    UINT nProfile;
    UINT nLevel;
    UINT nSpeedQuality;
    int eRateControl;
    UINT nBitrate;
    UINT nGopSize;
    int bExactGop;
    UINT nIdrInterval;
    UINT nBFrames;
    int bCavlc;
    int bPassThroughTimeStamps;
};

class CGraph {
public:
    CGraph();
    ~CGraph();

    // Build and release.
    HRESULT BuildGraph(LPCWSTR pszSource, bool bLive, LPCWSTR pszOutputFile, bool bShowPreview,
                       HWND hWnd, UINT uMsg);
    void Release();

    // Source chains.
    HRESULT BuildFromGRFFile(LPCWSTR pszFile);
    HRESULT CreateChainFromFile(LPCWSTR pszFileName, IPin** ppOutputPin);
    HRESULT FindRenderer(IBaseFilter** ppRenderer, IPin** ppOutputPin);
    HRESULT InsertLiveSource(LPCWSTR pszFriendlyName, IPin** ppOutputPin);
    HRESULT CreateLiveSource(LPCWSTR pszFriendlyName, IBaseFilter** ppSource);
    HRESULT FindCaptureOutput(IBaseFilter* pFilter, IPin** ppCaptureOutput);
    HRESULT FindVideoOutput(IBaseFilter* pFilter, IPin** ppVideoOutput);

    // Encoder and output chains.
    HRESULT InsertEncoder(IPin* pOutputPin, IBaseFilter** ppEncoder);
    HRESULT CreateTailChain(IPin* pEncoderOutput, LPCWSTR pszOutputFile, bool bShowPreview);
    HRESULT CreateRendererChain(IPin* pOutputPin);
    HRESULT CreatePreviewChain(IPin* pEncoderOutput, IPin** ppSmartTeeCaptureOutput);
    HRESULT GetPin(IBaseFilter* pFilter, PIN_DIRECTION eWantedDir, LPCWSTR pszName, IPin** ppPin);

    // Graph checks and lookup.
    HRESULT CheckFilter(REFCLSID clsidWanted, IBaseFilter** ppFilter);
    HRESULT FindSource(LPCWSTR pszSource, IBaseFilter** ppFilter);

    // Playback control, position and events.
    operator bool() const { return m_spGraph != NULL; }
    bool operator!() const { return m_spGraph == NULL; }
    HRESULT Run();
    HRESULT Pause();
    HRESULT Stop();
    int GetState();
    // The next queued event's code (0 when none) and, when asked, its first parameter.
    long GetEvent(LONG_PTR* plParam1 = NULL);
    HRESULT GetDuration(LONGLONG* pllDuration);
    HRESULT GetPosition(LONGLONG* pllPosition);
    HRESULT SetPosition(LONGLONG llPosition);
    HRESULT PlaceVideoWindow(HWND hWnd);
    HRESULT ShowPropertyPages(IBaseFilter* pFilter, HWND hWndOwner);
    HRESULT ShowSourcePropertyPages(LPCWSTR pszSource, HWND hWndOwner);

    // Encoder operations, forwarded to the encoder's control interface.
    HRESULT GetInputInfo(int* pnWidth, int* pnHeight, double* pdblFPS, int* peInterlacing);
    HRESULT SetPreset(int ePreset);
    HRESULT GetPreset(int* pePreset);
    HRESULT GetSpeedQuality(UINT* pnSpeedQuality);
    HRESULT GetRateControl(int* peRateControl);
    HRESULT GetBitrate(UINT* pnBitrate, UINT* pnBitrateUsed);
    HRESULT GetStatistics(UINT* pnAvgBitrate, UINT* pnFrames);
    HRESULT GetProfileLevel(UINT* pnProfile, UINT* pnLevel, UINT* pnProfileUsed, UINT* pnLevelUsed);
    HRESULT GetGop(UINT* pnGopSize, int* pbExactGop, UINT* pnGopSizeUsed);
    HRESULT GetIdrInterval(UINT* pnIdrInterval, UINT* pnIdrIntervalUsed);
    HRESULT GetBFrames(UINT* pnBFrames, UINT* pnBFramesUsed);
    HRESULT GetCavlc(int* pbCavlc);
    HRESULT ForceKeyFrame();
    HRESULT SetEncoderType(int eEncType);
    HRESULT GetEncoderType(int* peEncType, int* peEncUsed);

    // Encoder settings in one call, and the encoder's identity text.
    HRESULT SetEncodingProps(EncodingProps* pProps);
    HRESULT GetEncoderInfo(CComBSTR& text);

    // Opens the graph in GraphEdit.
    HRESULT ShowGraph();

    CComPtr<IGraphBuilder> m_spGraph;
    CComPtr<IVireon> m_spVireon;
    bool m_bLive;
    CGraphEdit m_graphEdit;

private:
    CGraph(const CGraph&) = delete;
    CGraph& operator=(const CGraph&) = delete;
};
