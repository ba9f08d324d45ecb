// make-grf: saves the default test graph of the bench.
//
//   make-grf.exe <graph file> <media file> [<encoder CLSID> <decoder CLSID>]
//
// Renders the media file with the graph manager, puts the maker's encoder and decoder in front
// of its video renderer (file -> splitter -> decoder -> "Morvane H264 Encoder" ->
// "Morvane H264 Decoder" -> renderer) and saves the graph as a .grf file (a compound file
// with the stream "ActiveMovieGraph", written by the graph manager's IPersistStream).
// Other class identifiers can stand for the maker's filters (for tests of the tool itself).
// Exit codes: 0 saved; 2 the maker's filters are not installed; 1 anything else.
#include <windows.h>

#include "graph/DShow.h"
#include "graph/Vireon.h"

#include <atlbase.h>

#include <cstdio>
#include <string>

namespace {

int Fail(const char* pszWhat, HRESULT hr) {
    std::fprintf(stderr, "make-grf: %s (0x%08lx)\n", pszWhat, (unsigned long)hr);
    return 1;
}

HRESULT FindPin(IBaseFilter* pFilter, PIN_DIRECTION eDir, bool bConnected, IPin** ppPin) {
    *ppPin = nullptr;
    CComPtr<IEnumPins> spEnum;
    HRESULT hr = pFilter->EnumPins(&spEnum);
    if (FAILED(hr)) return hr;
    CComPtr<IPin> spPin;
    while (spEnum->Next(1, &spPin, nullptr) == S_OK) {
        PIN_DIRECTION dir;
        CComPtr<IPin> spPeer;
        if (SUCCEEDED(spPin->QueryDirection(&dir)) && dir == eDir &&
            (spPin->ConnectedTo(&spPeer) == S_OK) == bConnected) {
            *ppPin = spPin.Detach();
            return S_OK;
        }
        spPin.Release();
    }
    return VFW_E_NOT_FOUND;
}

// The video renderer: a filter without output pins whose connected input carries video.
HRESULT FindVideoRenderer(IGraphBuilder* pGraph, IBaseFilter** ppRenderer, IPin** ppUpstream) {
    CComPtr<IEnumFilters> spEnum;
    HRESULT hr = pGraph->EnumFilters(&spEnum);
    if (FAILED(hr)) return hr;
    CComPtr<IBaseFilter> spFilter;
    while (spEnum->Next(1, &spFilter, nullptr) == S_OK) {
        CComPtr<IPin> spOut, spIn, spUpstream;
        AM_MEDIA_TYPE mt = {};
        if (FindPin(spFilter, PINDIR_OUTPUT, false, &spOut) != S_OK &&
            FindPin(spFilter, PINDIR_OUTPUT, true, &spOut) != S_OK &&
            FindPin(spFilter, PINDIR_INPUT, true, &spIn) == S_OK && spIn->ConnectedTo(&spUpstream) == S_OK &&
            SUCCEEDED(spIn->ConnectionMediaType(&mt))) {
            bool bVideo = mt.majortype == MEDIATYPE_Video;
            if (mt.cbFormat) CoTaskMemFree(mt.pbFormat);
            if (mt.pUnk) mt.pUnk->Release();
            if (bVideo) {
                *ppRenderer = spFilter.Detach();
                *ppUpstream = spUpstream.Detach();
                return S_OK;
            }
        }
        spFilter.Release();
    }
    return VFW_E_NOT_FOUND;
}

int MakeGraph(LPCWSTR pszGrf, LPCWSTR pszMedia, REFCLSID clsidEncoder, REFCLSID clsidDecoder,
              REFCLSID clsidDecoderAlt) {
    CComPtr<IGraphBuilder> spGraph;
    HRESULT hr = spGraph.CoCreateInstance(CLSID_FilterGraph);
    if (FAILED(hr)) return Fail("no graph manager", hr);
    CComQIPtr<IPersistStream> spPersist(spGraph);
    if (!spPersist) return Fail("the graph manager cannot save graphs (graph shim not registered)", E_NOINTERFACE);

    CComPtr<IBaseFilter> spEncoder, spDecoder;
    hr = spEncoder.CoCreateInstance(clsidEncoder);
    if (FAILED(hr)) {
        std::fprintf(stderr, "make-grf: Morvane H264 Encoder is not installed (0x%08lx)\n", (unsigned long)hr);
        return 2;
    }
    hr = spDecoder.CoCreateInstance(clsidDecoder);
    if (FAILED(hr)) hr = spDecoder.CoCreateInstance(clsidDecoderAlt);
    if (FAILED(hr)) {
        std::fprintf(stderr, "make-grf: Morvane H264 Decoder is not installed (0x%08lx)\n", (unsigned long)hr);
        return 2;
    }

    hr = spGraph->RenderFile(pszMedia, nullptr);
    if (FAILED(hr)) return Fail("cannot render the media file", hr);
    CComPtr<IBaseFilter> spRenderer;
    CComPtr<IPin> spUpstream;
    hr = FindVideoRenderer(spGraph, &spRenderer, &spUpstream);
    if (FAILED(hr)) return Fail("no video renderer in the rendered graph", hr);
    hr = spGraph->RemoveFilter(spRenderer);
    if (FAILED(hr)) return Fail("cannot remove the video renderer", hr);

    CComPtr<IPin> spEncoderIn, spEncoderOut, spDecoderIn, spDecoderOut;
    hr = spGraph->AddFilter(spEncoder, L"Morvane H264 Encoder");
    if (SUCCEEDED(hr)) hr = FindPin(spEncoder, PINDIR_INPUT, false, &spEncoderIn);
    if (SUCCEEDED(hr)) hr = spGraph->Connect(spUpstream, spEncoderIn);
    if (FAILED(hr)) return Fail("cannot connect Morvane H264 Encoder", hr);
    hr = spGraph->AddFilter(spDecoder, L"Morvane H264 Decoder");
    if (SUCCEEDED(hr)) hr = FindPin(spEncoder, PINDIR_OUTPUT, false, &spEncoderOut);
    if (SUCCEEDED(hr)) hr = FindPin(spDecoder, PINDIR_INPUT, false, &spDecoderIn);
    if (SUCCEEDED(hr)) hr = spGraph->Connect(spEncoderOut, spDecoderIn);
    if (FAILED(hr)) return Fail("cannot connect Morvane H264 Decoder", hr);
    hr = FindPin(spDecoder, PINDIR_OUTPUT, false, &spDecoderOut);
    if (SUCCEEDED(hr)) hr = spGraph->Render(spDecoderOut);
    if (FAILED(hr)) return Fail("cannot render the decoder's output", hr);

    // Written under a temporary name and moved into place, so a cut run leaves no half file.
    std::wstring tmp = std::wstring(pszGrf) + L".tmp";
    {
        CComPtr<IStorage> spStorage;
        hr = StgCreateDocfile(tmp.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED, 0,
                              &spStorage);
        if (FAILED(hr)) return Fail("cannot create the graph file", hr);
        CComPtr<IStream> spStm;
        hr = spStorage->CreateStream(L"ActiveMovieGraph", STGM_WRITE | STGM_CREATE | STGM_SHARE_EXCLUSIVE, 0, 0, &spStm);
        if (SUCCEEDED(hr)) hr = spPersist->Save(spStm, TRUE);
        if (SUCCEEDED(hr)) hr = spStorage->Commit(STGC_DEFAULT);
        if (FAILED(hr)) return Fail("cannot save the graph", hr);
    }
    if (!MoveFileExW(tmp.c_str(), pszGrf, MOVEFILE_REPLACE_EXISTING))
        return Fail("cannot move the graph file into place", HRESULT_FROM_WIN32(GetLastError()));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    CLSID clsidEncoder = CLSID_VireonEncoder, clsidDecoder = CLSID_VireonDecoder;
    CLSID clsidDecoderAlt = CLSID_VireonDecoderAlt;
    if (argc == 5) {
        if (FAILED(CLSIDFromString(argv[3], &clsidEncoder)) || FAILED(CLSIDFromString(argv[4], &clsidDecoder))) {
            std::fprintf(stderr, "make-grf: bad class identifier\n");
            return 1;
        }
        clsidDecoderAlt = clsidDecoder;
    } else if (argc != 3) {
        std::fprintf(stderr, "usage: make-grf <graph file> <media file> [<encoder CLSID> <decoder CLSID>]\n");
        return 1;
    }
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) return Fail("COM", hr);
    int rc = MakeGraph(argv[1], argv[2], clsidEncoder, clsidDecoder, clsidDecoderAlt);
    CoUninitialize();
    return rc;
}
