// quorlin-soak: repeats graph builds in one process and prints the process's handles and
// private memory after each cycle, so that what a build leaves behind shows as growth.
//
//   quorlin-soak.exe <way> <source> <cycles>
//
// <way> says who does the graph operations:
//   dialog    the real main dialog: "Build graph", "Play" to "The end", "Stop", and the
//             hidden "Test" button, which drops the graph
//   standins  the same graph as the dialog builds (the source's playback chain with its
//             video renderer cut off, the encoder, the decoder and the renderer the graph
//             manager chooses), made with plain DirectShow calls, without Quorlin's code
//   platform  the platform alone: RenderFile of the source, nothing of ours in the graph
// Each way runs <cycles> build/release cycles, then <cycles> build/play/stop/release cycles,
// and prints one line per cycle: "<build|play> <cycle> <handles> <private bytes>".
// A saved graph (.grf) source is loaded by the graph manager in every way.
// Exit status 0 when every cycle built and played.
#include <windows.h>

#include <atlbase.h>
#include <cstdio>
#include <functional>
#include <string>

#include "dialog/MainDialog.h"
#include "graph/DShow.h"
#include "graph/Vireon.h"
#include "tests/support/WindowTools.h"

namespace {

// Committed memory private to the process, as the address space shows it.
SIZE_T PrivateBytes() {
    SIZE_T cb = 0;
    MEMORY_BASIC_INFORMATION mbi;
    for (BYTE* p = NULL; ::VirtualQuery(p, &mbi, sizeof mbi) == sizeof mbi; p = (BYTE*)mbi.BaseAddress + mbi.RegionSize) {
        if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE) cb += mbi.RegionSize;
        if ((BYTE*)mbi.BaseAddress + mbi.RegionSize <= p) break;
    }
    return cb;
}

void Report(const char* pszPhase, int nCycle) {
    DWORD cHandles = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &cHandles);
    std::printf("%s %d %lu %llu\n", pszPhase, nCycle, (unsigned long)cHandles, (unsigned long long)PrivateBytes());
    std::fflush(stdout);
}

bool IsGraphFile(const std::wstring& source) {
    return source.size() >= 4 && ::lstrcmpiW(source.c_str() + source.size() - 4, L".grf") == 0;
}

// ---------------------------------------------------------------------------------------
// The plain program: DirectShow calls only.

HRESULT LoadGraphFile(IGraphBuilder* pGraph, const std::wstring& file) {
    CComPtr<IStorage> spStorage;
    HRESULT hr = ::StgOpenStorage(file.c_str(), NULL, STGM_READ | STGM_SHARE_EXCLUSIVE, NULL, 0, &spStorage);
    if (FAILED(hr)) return hr;
    CComPtr<IStream> spStream;
    hr = spStorage->OpenStream(L"ActiveMovieGraph", NULL, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &spStream);
    if (FAILED(hr)) return hr;
    CComQIPtr<IPersistStream> spPersist(pGraph);
    return spPersist ? spPersist->Load(spStream) : E_NOINTERFACE;
}

CComPtr<IPin> FirstPin(IBaseFilter* pFilter, PIN_DIRECTION eDir) {
    CComPtr<IEnumPins> spPins;
    if (FAILED(pFilter->EnumPins(&spPins))) return NULL;
    for (CComPtr<IPin> spPin; spPins->Next(1, &spPin, NULL) == S_OK; spPin.Release()) {
        PIN_DIRECTION e;
        if (SUCCEEDED(spPin->QueryDirection(&e)) && e == eDir) return spPin;
    }
    return NULL;
}

// The renderer of the video stream (a filter without outputs whose input carries video) and
// the pin that feeds it.
HRESULT CutOffVideoRenderer(IGraphBuilder* pGraph, IPin** ppFeeding) {
    CComPtr<IEnumFilters> spEnum;
    HRESULT hr = pGraph->EnumFilters(&spEnum);
    if (FAILED(hr)) return hr;
    for (CComPtr<IBaseFilter> spFilter; spEnum->Next(1, &spFilter, NULL) == S_OK; spFilter.Release()) {
        if (FirstPin(spFilter, PINDIR_OUTPUT)) continue;
        CComPtr<IPin> spIn = FirstPin(spFilter, PINDIR_INPUT), spFeeding;
        AM_MEDIA_TYPE mt = {};
        if (!spIn || spIn->ConnectedTo(&spFeeding) != S_OK || FAILED(spIn->ConnectionMediaType(&mt))) continue;
        const bool bVideo = mt.majortype == MEDIATYPE_Video;
        ::CoTaskMemFree(mt.pbFormat);
        if (mt.pUnk) mt.pUnk->Release();
        if (!bVideo) continue;
        hr = pGraph->RemoveFilter(spFilter);
        if (FAILED(hr)) return hr;
        *ppFeeding = spFeeding.Detach();
        return S_OK;
    }
    return VFW_E_NOT_FOUND;
}

HRESULT AddAndConnect(IGraphBuilder* pGraph, REFCLSID clsid, LPCWSTR pszName, IPin* pFrom, IPin** ppOut) {
    CComPtr<IBaseFilter> spFilter;
    HRESULT hr = spFilter.CoCreateInstance(clsid, NULL, CLSCTX_INPROC_SERVER);
    if (FAILED(hr)) return hr;
    hr = pGraph->AddFilter(spFilter, pszName);
    if (FAILED(hr)) return hr;
    hr = pGraph->ConnectDirect(pFrom, FirstPin(spFilter, PINDIR_INPUT), NULL);
    if (FAILED(hr)) return hr;
    CComPtr<IPin> spOut = FirstPin(spFilter, PINDIR_OUTPUT);
    *ppOut = spOut.Detach();
    return *ppOut ? S_OK : VFW_E_NOT_FOUND;
}

HRESULT PlainBuild(const std::wstring& source, bool bStandIns, CComPtr<IGraphBuilder>& spGraph) {
    HRESULT hr = spGraph.CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER);
    if (FAILED(hr)) return hr;
    if (IsGraphFile(source)) return LoadGraphFile(spGraph, source);
    hr = spGraph->RenderFile(source.c_str(), NULL);
    if (FAILED(hr) || !bStandIns) return hr;
    CComPtr<IPin> spFeeding, spEncoded, spDecoded;
    hr = CutOffVideoRenderer(spGraph, &spFeeding);
    if (SUCCEEDED(hr)) hr = AddAndConnect(spGraph, CLSID_VireonEncoder, L"Morvane H264 Encoder", spFeeding, &spEncoded);
    if (SUCCEEDED(hr)) hr = AddAndConnect(spGraph, CLSID_VireonDecoder, L"Morvane H264 Decoder", spEncoded, &spDecoded);
    if (SUCCEEDED(hr)) hr = spGraph->Render(spDecoded);
    return hr;
}

HRESULT PlainPlay(IGraphBuilder* pGraph) {
    CComQIPtr<IMediaControl> spControl(pGraph);
    CComQIPtr<IMediaEvent> spEvent(pGraph);
    if (!spControl || !spEvent) return E_NOINTERFACE;
    HRESULT hr = spControl->Run();
    if (FAILED(hr)) return hr;
    long lCode = 0;
    hr = spEvent->WaitForCompletion(120000, &lCode);
    spControl->Stop();
    if (FAILED(hr)) return hr;
    return lCode == EC_COMPLETE ? S_OK : E_FAIL;
}

int RunPlain(const std::wstring& source, bool bStandIns, int cCycles) {
    for (int bPlay = 0; bPlay < 2; ++bPlay) {
        for (int i = 1; i <= cCycles; ++i) {
            HRESULT hr;
            {
                CComPtr<IGraphBuilder> spGraph;
                hr = PlainBuild(source, bStandIns, spGraph);
                if (SUCCEEDED(hr) && bPlay) hr = PlainPlay(spGraph);
            }
            if (FAILED(hr)) {
                std::fprintf(stderr, "cycle %d failed: 0x%08lX\n", i, (unsigned long)hr);
                return 1;
            }
            PumpMessages(50);
            Report(bPlay ? "play" : "build", i);
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------
// The bench's own dialog, worked as a tester works it.

// The command a click on the button sends (the "Test" button is hidden, so it cannot be clicked).
void Press(HWND hDlg, int nID) {
    ::SendMessageW(hDlg, WM_COMMAND, MAKEWPARAM(nID, BN_CLICKED), (LPARAM)::GetDlgItem(hDlg, nID));
}

int RunDialog(const std::wstring& source, int cCycles) {
    int nResult = 0;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        MessageBoxCatcher boxes;
        ::SendDlgItemMessageW(hDlg, IDC_SOURCE_PATH, WM_SETTEXT, 0, (LPARAM)source.c_str());
        ::CheckDlgButton(hDlg, IDC_OUTPUT_CHECK, BST_UNCHECKED);
        for (int bPlay = 0; bPlay < 2 && nResult == 0; ++bPlay) {
            for (int i = 1; i <= cCycles && nResult == 0; ++i) {
                boxes.Clear();
                Press(hDlg, IDC_BUILD_GRAPH);
                bool bOk = boxes.Boxes().empty();
                if (bOk && bPlay) {
                    Press(hDlg, IDC_PLAY);
                    bOk = PumpUntil([&] { return !boxes.Boxes().empty(); }, 120000) &&
                          boxes.Boxes()[0].text == L"The end";
                    Press(hDlg, IDC_STOP);
                }
                Press(hDlg, IDC_TEST);
                if (!bOk) {
                    std::fprintf(stderr, "cycle %d failed: %ls\n", i,
                                 boxes.Boxes().empty() ? L"no end" : boxes.Boxes()[0].text.c_str());
                    nResult = 1;
                    break;
                }
                PumpMessages(50);
                Report(bPlay ? "play" : "build", i);
            }
        }
    });
    return nResult;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: quorlin-soak.exe dialog|standins|platform <source> <cycles>\n");
        return 2;
    }
    const std::wstring way = argv[1], source = argv[2];
    const int cCycles = _wtoi(argv[3]);
    if (FAILED(::CoInitialize(NULL))) return 1;
    int nResult = 2;
    if (way == L"dialog") nResult = RunDialog(source, cCycles);
    else if (way == L"standins") nResult = RunPlain(source, true, cCycles);
    else if (way == L"platform") nResult = RunPlain(source, false, cCycles);
    ::CoUninitialize();
    return nResult;
}
