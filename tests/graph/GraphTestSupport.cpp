#include "tests/graph/GraphTestSupport.h"

#include <uuids.h>

#include "tests/support/HostTools.h"

TestWindow::TestWindow(int x, int y, int cx, int cy)
    : hWnd(::CreateWindowExW(0, L"STATIC", L"CGraph test", WS_OVERLAPPEDWINDOW, x, y, cx, cy, NULL, NULL,
                             ::GetModuleHandleW(NULL), NULL)) {}

TestWindow::~TestWindow() {
    if (hWnd) ::DestroyWindow(hWnd);
}

CComPtr<FakeFilter> CreateFakeSmartTee() {
    CComPtr<FakeFilter> sp = FakeFilter::Create(L"", CLSID_SmartTee);
    sp->AddPin(L"Input", PINDIR_INPUT);
    sp->AddPin(L"Capture", PINDIR_OUTPUT, {H264Type()});
    sp->AddPin(L"Preview", PINDIR_OUTPUT, {H264Type()});
    return sp;
}

GraphFixture::GraphFixture() {
    CallLog().Clear();
    spGraph = FakeGraph::Create();
    spGraph->videoWindowNeedsRenderer = true;
    spDevices = FakeDeviceEnum::Create();
    spCamera = CreateFakeCaptureFilter();
    spDevices->AddDevice(L"USB Camera", spCamera);
}

GraphFixture::~GraphFixture() {
    graph.Release();
    CallLog().Clear();
}

void GraphFixture::RegisterDecoder(REFCLSID clsid) {
    registrations.emplace_back(new ClassRegistration(clsid, [this, clsid]() {
        spDecoder = CreateFakeDecoder();
        spDecoder->clsid = clsid;
        if (setUpDecoder) setUpDecoder(spDecoder);
        return CComPtr<IUnknown>(static_cast<IBaseFilter*>(spDecoder.p));
    }));
}

void GraphFixture::RegisterAll() {
    auto add = [this](ClassRegistration* p) { registrations.emplace_back(p); };
    // Whatever spGraph holds at the time of creation.
    add(new ClassRegistration(CLSID_FilterGraph, [this]() {
        return CComPtr<IUnknown>(static_cast<IGraphBuilder*>(spGraph.p));
    }));
    add(new ClassRegistration(CLSID_SystemDeviceEnum, [this]() {
        return CComPtr<IUnknown>(static_cast<ICreateDevEnum*>(spDevices.p));
    }));
    if (noEncoder) {
        add(new ClassRegistration(CLSID_VireonEncoder, REGDB_E_CLASSNOTREG));
    } else {
        add(new ClassRegistration(CLSID_VireonEncoder, [this]() {
            spEncoder = FakeEncoder::Create();
            if (setUpEncoder) setUpEncoder(spEncoder);
            return CComPtr<IUnknown>(static_cast<IBaseFilter*>(spEncoder.p));
        }));
    }
    if (noWriter) {
        add(new ClassRegistration(CLSID_VireonMp4Writer, REGDB_E_CLASSNOTREG));
    } else {
        add(new ClassRegistration(CLSID_VireonMp4Writer, [this]() {
            spWriter = FakeWriter::Create();
            if (setUpWriter) setUpWriter(spWriter);
            return CComPtr<IUnknown>(static_cast<IBaseFilter*>(spWriter.p));
        }));
    }
    if (noDecoder)
        add(new ClassRegistration(CLSID_VireonDecoder, REGDB_E_CLASSNOTREG));
    else
        RegisterDecoder(CLSID_VireonDecoder);
    if (noDecoderAlt)
        add(new ClassRegistration(CLSID_VireonDecoderAlt, REGDB_E_CLASSNOTREG));
    else
        RegisterDecoder(CLSID_VireonDecoderAlt);
    if (noSmartTee) {
        add(new ClassRegistration(CLSID_SmartTee, REGDB_E_CLASSNOTREG));
    } else {
        add(new ClassRegistration(CLSID_SmartTee, [this]() {
            spSmartTee = CreateFakeSmartTee();
            if (setUpSmartTee) setUpSmartTee(spSmartTee);
            return CComPtr<IUnknown>(static_cast<IBaseFilter*>(spSmartTee.p));
        }));
    }
    for (const auto& reg : registrations) EXPECT_EQ(reg->Result(), S_OK);
}

std::vector<std::wstring> GraphFixture::BuildSteps() {
    static const wchar_t* const kPrefixes[] = {L"AddFilter ", L"RemoveFilter ", L"ConnectDirect ", L"SetFileName ",
                                               L"Render ",    L"RenderFile ",   L"Load ",          L"BindToObject ",
                                               L"SetNotifyWindow "};
    std::vector<std::wstring> steps;
    for (const std::wstring& e : CallLog().Entries()) {
        for (const wchar_t* prefix : kPrefixes) {
            if (e.compare(0, wcslen(prefix), prefix) == 0) {
                steps.push_back(e);
                break;
            }
        }
    }
    return steps;
}

void GraphFixture::RenderFilesAsPlayback(bool bAudio) {
    FakeGraph* pGraph = spGraph;
    spGraph->onRenderFile = [pGraph, bAudio](LPCWSTR) {
        AddPlaybackChain(pGraph, bAudio);
        return S_OK;
    };
}

std::wstring MakeCompoundFile(const std::vector<std::pair<std::wstring, std::string>>& streams) {
    std::wstring path = ToWinPath(UniqueTmpPath(".grf"));
    CComPtr<IStorage> spStorage;
    HRESULT hr = ::StgCreateDocfile(path.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &spStorage);
    EXPECT_EQ(hr, S_OK);
    if (FAILED(hr)) return path;
    for (const auto& s : streams) {
        CComPtr<IStream> spStream;
        hr = spStorage->CreateStream(s.first.c_str(), STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &spStream);
        EXPECT_EQ(hr, S_OK);
        if (spStream) spStream->Write(s.second.data(), (ULONG)s.second.size(), NULL);
    }
    spStorage->Commit(STGC_DEFAULT);
    return path;
}
