// CGraph::BuildGraph and Release on fakes: the graph each kind of source and output gives,
// the failing steps with their codes and diagnostics, and the state left behind.
#include "tests/graph/GraphTestSupport.h"

#include <uuids.h>

#include <cstdio>

namespace {

const wchar_t kMedia[] = L"Z:\\media\\clip.mp4";
const wchar_t kOut[] = L"Z:\\out\\encoded.mp4";

typedef std::vector<std::wstring> Steps;

Steps operator+(Steps a, const Steps& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Steps MediaHead() {
    return {std::wstring(L"RenderFile ") + kMedia, L"RemoveFilter Video Renderer", L"AddFilter Morvane H264 Encoder",
            L"ConnectDirect Video Decoder.Output -> Morvane H264 Encoder.In"};
}

Steps LiveHead() {
    return {L"BindToObject USB Camera", L"AddFilter USB Camera", L"AddFilter Morvane H264 Encoder",
            L"ConnectDirect USB Camera.Capture -> Morvane H264 Encoder.In"};
}

Steps RendererTail(const std::wstring& from) {
    return {L"AddFilter Morvane H264 Decoder", L"ConnectDirect " + from + L" -> Morvane H264 Decoder.In",
            L"Render Morvane H264 Decoder.Out", L"AddFilter Video Renderer"};
}

Steps WriterTail(const std::wstring& from) {
    return {L"AddFilter Morvane MPEG-4 Writer", std::wstring(L"SetFileName ") + kOut,
            L"ConnectDirect " + from + L" -> Morvane MPEG-4 Writer.In"};
}

Steps PreviewTail() {
    return Steps{L"AddFilter Smart Tee", L"ConnectDirect Morvane H264 Encoder.Out -> Smart Tee.Input"} +
           RendererTail(L"Smart Tee.Preview") + WriterTail(L"Smart Tee.Capture");
}

std::wstring NotifyStep(HWND hWnd) {
    wchar_t sz[64];
    swprintf(sz, 64, L"SetNotifyWindow %llx %d 0", (unsigned long long)(ULONG_PTR)hWnd, (int)WM_GRAPHNOTIFY);
    return sz;
}

// A saved graph as the fake manager "loads" it: source -> encoder -> renderer, wired.
void LoadWiredEncoderGraph(FakeGraph* pGraph, bool bWithEncoder) {
    auto load = [pGraph](IBaseFilter* pFilter, LPCWSTR pszName) { pGraph->Insert(pFilter, pszName); };
    CComPtr<FakeFilter> spSource = FakeFilter::Create();
    FakePin* pOut = spSource->AddPin(L"Output", PINDIR_OUTPUT);
    load(spSource, L"Saved Source");
    CComPtr<FakeFilter> spRenderer = CreateFakeRenderer(L"Saved Renderer");
    load(spRenderer, L"Saved Renderer");
    MediaType video = VideoType(MEDIASUBTYPE_RGB32, 320, 240);
    if (bWithEncoder) {
        CComPtr<FakeEncoder> spEncoder = FakeEncoder::Create();
        load(spEncoder, L"Saved Encoder");
        FakePin::Link(pOut, spEncoder->Pin(0), video);
        FakePin::Link(spEncoder->Pin(1), spRenderer->Pin(0), H264Type());
    } else {
        FakePin::Link(pOut, spRenderer->Pin(0), video);
    }
}

}  // namespace

class BuildGraphTest : public GraphFixture {};

TEST_F(BuildGraphTest, EachSourceAndOutputGivesItsGraph) {
    struct Case {
        const char* what;
        const wchar_t* source;
        bool bLive;
        const wchar_t* output;
        bool bPreview;
        Steps steps;  // without the final SetNotifyWindow
        bool bVideoWindow;
    };
    const Case cases[] = {
        {"file, no output", kMedia, false, NULL, false,
         MediaHead() + RendererTail(L"Morvane H264 Encoder.Out"), true},
        {"file, no output, preview ignored", kMedia, false, NULL, true,
         MediaHead() + RendererTail(L"Morvane H264 Encoder.Out"), true},
        {"file, empty output is no output", kMedia, false, L"", true,
         MediaHead() + RendererTail(L"Morvane H264 Encoder.Out"), true},
        {"file, output", kMedia, false, kOut, false, MediaHead() + WriterTail(L"Morvane H264 Encoder.Out"), false},
        {"file, output and preview", kMedia, false, kOut, true, MediaHead() + PreviewTail(), true},
        {"live, no output", L"USB Camera", true, NULL, true, LiveHead() + RendererTail(L"Morvane H264 Encoder.Out"),
         true},
        {"live, output", L"USB Camera", true, kOut, false, LiveHead() + WriterTail(L"Morvane H264 Encoder.Out"), false},
        {"live, output and preview", L"USB Camera", true, kOut, true, LiveHead() + PreviewTail(), true},
    };
    RegisterAll();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        graph.Release();
        spGraph = FakeGraph::Create();  // a new manager and devices per case
        spGraph->videoWindowNeedsRenderer = true;
        RenderFilesAsPlayback();
        spDevices = FakeDeviceEnum::Create();
        spCamera = CreateFakeCaptureFilter();
        spDevices->AddDevice(L"USB Camera", spCamera);
        CallLog().Clear();
        diag.Clear();

        EXPECT_EQ(Build(c.source, c.bLive, c.output, c.bPreview), S_OK) << Context();
        EXPECT_EQ(BuildSteps(), c.steps + Steps{NotifyStep(window.hWnd)}) << Context();
        EXPECT_TRUE(diag.Reports().empty()) << Context();
        EXPECT_TRUE(graph.m_spGraph.IsEqualObject(static_cast<IGraphBuilder*>(spGraph.p)));
        EXPECT_TRUE(graph.m_spVireon.IsEqualObject(static_cast<IVireon*>(spEncoder.p)));
        EXPECT_EQ(graph.m_bLive, c.bLive);
        EXPECT_EQ(spGraph->nVisible, c.bVideoWindow ? OATRUE : 0);
        EXPECT_EQ(spGraph->lMsgNotify, (long)WM_GRAPHNOTIFY);
    }
}

TEST_F(BuildGraphTest, WriterGetsItsFileNameBeforeItsInputIsConnected) {
    RenderFilesAsPlayback();
    RegisterAll();
    ASSERT_EQ(Build(kMedia, false, kOut, true), S_OK) << Context();
    EXPECT_EQ(spWriter->fileName, kOut);
    EXPECT_FALSE(spWriter->mediaTypeGiven);
    int nSetName = CallLog().IndexOf(std::wstring(L"SetFileName ") + kOut);
    int nConnect = CallLog().IndexOf(L"ConnectDirect Smart Tee.Capture -> Morvane MPEG-4 Writer.In");
    ASSERT_GE(nSetName, 0);
    EXPECT_GT(nConnect, nSetName);
    // The preview branch is complete before the writer exists.
    EXPECT_LT(CallLog().IndexOf(L"Render Morvane H264 Decoder.Out"),
              CallLog().IndexOf(L"AddFilter Morvane MPEG-4 Writer"));
    // Connections are made without a media type.
    EXPECT_TRUE(CallLog().Starting(L"ConnectDirect").size() == 4u) << Context();
    for (const std::wstring& e : CallLog().Starting(L"ConnectDirect")) EXPECT_EQ(e.find(L"(typed)"), std::wstring::npos);
}

TEST_F(BuildGraphTest, GraphFileIsLoadedAsSavedWhateverTheOutputs) {
    RegisterAll();
    spGraph->onLoad = [this](IStream*) {
        LoadWiredEncoderGraph(spGraph, true);
        return S_OK;
    };
    const std::string content = "0003\r\nFILTERS\r\nEND";
    for (const wchar_t* ext : {L".grf", L".GRF", L".gRf"}) {
        std::wstring path = MakeCompoundFile({{L"ActiveMovieGraph", content}});
        path = path.substr(0, path.size() - 4) + ext;
        // Rename to the case under test.
        ASSERT_TRUE(::MoveFileW((path.substr(0, path.size() - 4) + L".grf").c_str(), path.c_str()) ||
                    lstrcmpW(ext, L".grf") == 0);
        graph.Release();
        spGraph->filters.clear();
        CallLog().Clear();
        EXPECT_EQ(Build(path.c_str(), false, kOut, true), S_OK) << Context();
        EXPECT_EQ(spGraph->loaded, content);
        EXPECT_EQ(BuildSteps(), (Steps{L"Load " + std::to_wstring(content.size()), NotifyStep(window.hWnd)}))
            << Context();
        EXPECT_TRUE(graph.m_spVireon != NULL);
        EXPECT_EQ(spGraph->FilterNames(), (Steps{L"Saved Source", L"Saved Renderer", L"Saved Encoder"}));
    }
}

TEST_F(BuildGraphTest, GraphFileNameAsLiveSourceIsADeviceName) {
    RegisterAll();
    EXPECT_EQ(Build(L"Camera.GRF", true), E_FAIL);
    EXPECT_TRUE(diag.HasReport(L"CGraph::CreateLiveSource(): source filter not found")) << Context();
    EXPECT_TRUE(CallLog().Starting(L"Load").empty());
}

TEST_F(BuildGraphTest, ShortSourceIsRenderedAsMediaFile) {
    RenderFilesAsPlayback();
    RegisterAll();
    EXPECT_EQ(Build(L"grf"), S_OK) << Context();
    EXPECT_TRUE(CallLog().Has(L"RenderFile grf"));
}

TEST_F(BuildGraphTest, BadArgumentsLeaveThePreviousGraphRunning) {
    RenderFilesAsPlayback();
    RegisterAll();
    ASSERT_EQ(Build(kMedia), S_OK);
    ASSERT_EQ(graph.Run(), S_OK);
    CComPtr<IGraphBuilder> spBefore = graph.m_spGraph;
    CallLog().Clear();

    EXPECT_EQ(graph.BuildGraph(NULL, false, NULL, false, window.hWnd, WM_GRAPHNOTIFY), E_INVALIDARG);
    HWND hWndGone = ::CreateWindowW(L"STATIC", L"", 0, 0, 0, 1, 1, NULL, NULL, NULL, NULL);
    ::DestroyWindow(hWndGone);
    EXPECT_EQ(graph.BuildGraph(kMedia, false, NULL, false, hWndGone, WM_GRAPHNOTIFY), E_INVALIDARG);
    EXPECT_EQ(graph.BuildGraph(kMedia, false, NULL, false, NULL, WM_GRAPHNOTIFY), E_INVALIDARG);

    EXPECT_TRUE(CallLog().Entries().empty()) << Context();  // not even notifications detached
    EXPECT_EQ(graph.m_spGraph, spBefore);
    EXPECT_TRUE(graph.m_spVireon != NULL);
    EXPECT_EQ(graph.GetState(), 2);
}

TEST_F(BuildGraphTest, EmptySourceDropsThePreviousGraphAndHoldsANewEmptyOne) {
    RenderFilesAsPlayback();
    RegisterAll();
    ASSERT_EQ(Build(kMedia), S_OK) << Context();
    CComPtr<FakeGraph> spFirst = spGraph;
    spGraph = FakeGraph::Create();
    EXPECT_EQ(Build(L""), E_INVALIDARG);
    EXPECT_TRUE(graph.m_spGraph.IsEqualObject(static_cast<IGraphBuilder*>(spGraph.p)));
    EXPECT_TRUE(spGraph->filters.empty());
    EXPECT_TRUE(graph.m_spVireon == NULL);
    // The first graph was told to stop notifying before it was let go.
    EXPECT_EQ(spFirst->hWndNotify, 0);
}

TEST_F(BuildGraphTest, SecondBuildDropsTheFirstGraphFirst) {
    RenderFilesAsPlayback();
    RegisterAll();
    ASSERT_EQ(Build(kMedia), S_OK) << Context();
    CComPtr<FakeGraph> spFirst = spGraph;
    spGraph = FakeGraph::Create();
    CallLog().Clear();
    ASSERT_EQ(Build(L"USB Camera", true), S_OK) << Context();
    // Detached from the window before anything of the second build happened.
    EXPECT_EQ(CallLog().Entries().front(), L"SetNotifyWindow 0 0 0");
    EXPECT_EQ(spFirst->hWndNotify, 0);
    EXPECT_TRUE(graph.m_spGraph.IsEqualObject(static_cast<IGraphBuilder*>(spGraph.p)));
    EXPECT_TRUE(graph.m_bLive);
}

TEST_F(BuildGraphTest, ReleaseDetachesAndEmptiesButKeepsTheLiveFlag) {
    RegisterAll();
    ASSERT_EQ(Build(L"USB Camera", true), S_OK) << Context();
    CallLog().Clear();
    graph.Release();
    EXPECT_EQ(CallLog().Entries(), Steps{L"SetNotifyWindow 0 0 0"});
    EXPECT_FALSE(graph);
    EXPECT_TRUE(!graph);
    EXPECT_TRUE(graph.m_spVireon == NULL);
    EXPECT_TRUE(graph.m_bLive);
    graph.Release();  // twice is harmless
    EXPECT_EQ(CallLog().Entries().size(), 1u);
}

// Every failing step returns its code with its diagnostic; what was built stays in the graph.
TEST_F(BuildGraphTest, FailingStepReturnsItsCodeAndKeepsThePartialGraph) {
    struct Case {
        const char* what;
        std::function<void(BuildGraphTest*)> setUp;
        const wchar_t* source;
        bool bLive;
        const wchar_t* output;
        bool bPreview;
        HRESULT hr;
        const wchar_t* diagnostic;
        Steps filters;  // the graph's filters afterwards
    };
    const HRESULT kCode = (HRESULT)0x80040217;  // VFW_E_CANNOT_CONNECT
    const Steps playback = {L"Source", L"Splitter", L"Video Decoder"};
    const Case cases[] = {
        {"file cannot be rendered completely", [](BuildGraphTest* t) { t->spGraph->onRenderFile = [](LPCWSTR) { return VFW_S_PARTIAL_RENDER; }; },
         kMedia, false, NULL, false, VFW_S_PARTIAL_RENDER, L"CGraph::CreateChainFromFile(): can't create graph from file", {}},
        {"no encoder installed", [](BuildGraphTest* t) { t->noEncoder = true; }, kMedia, false, NULL, false,
         REGDB_E_CLASSNOTREG, L"CGraph::InsertEncoder(): Can't create Morvane H264 Encoder", playback},
        {"encoder not accepted by the graph", [](BuildGraphTest* t) { t->spGraph->hrAddFilterFor[L"Morvane H264 Encoder"] = VFW_E_DUPLICATE_NAME; },
         kMedia, false, NULL, false, VFW_E_DUPLICATE_NAME, L"CGraph::InsertEncoder(): Can't insert Morvane H264 Encoder to graph", playback},
        {"encoder input refuses the source", [kCode](BuildGraphTest* t) { t->setUpEncoder = [kCode](FakeEncoder* p) { p->Pin(0)->hrConnect = kCode; }; },
         kMedia, false, NULL, false, VFW_E_NO_ACCEPTABLE_TYPES, L"CGraph::InsertEncoder(): m_spGraph->ConnectDirect() FAILED",
         playback + Steps{L"Morvane H264 Encoder"}},
        {"encoder without output pin", [](BuildGraphTest* t) { t->setUpEncoder = [](FakeEncoder* p) { p->pins.pop_back(); }; },
         kMedia, false, NULL, false, E_FAIL, L"CGraph::GetPin(): pin not found", playback + Steps{L"Morvane H264 Encoder"}},
        {"no writer installed", [](BuildGraphTest* t) { t->noWriter = true; }, kMedia, false, kOut, false,
         REGDB_E_CLASSNOTREG, L"CGraph::CreateTailChain(): Can't create Morvane MPEG-4 Writer", playback + Steps{L"Morvane H264 Encoder"}},
        {"writer not accepted", [](BuildGraphTest* t) { t->spGraph->hrAddFilterFor[L"Morvane MPEG-4 Writer"] = E_OUTOFMEMORY; },
         kMedia, false, kOut, false, E_OUTOFMEMORY, L"CGraph::CreateTailChain(): Can't insert Morvane MPEG-4 Writer into graph",
         playback + Steps{L"Morvane H264 Encoder"}},
        {"writer refuses the file name", [](BuildGraphTest* t) { t->setUpWriter = [](FakeWriter* p) { p->hrSetFileName = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND); }; },
         kMedia, false, kOut, false, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), L"CGraph::CreateTailChain(): spFileSink->SetFileName() FAILED",
         playback + Steps{L"Morvane H264 Encoder", L"Morvane MPEG-4 Writer"}},
        {"writer answers S_FALSE to the file name", [](BuildGraphTest* t) { t->setUpWriter = [](FakeWriter* p) { p->hrSetFileName = S_FALSE; }; },
         kMedia, false, kOut, false, S_FALSE, L"CGraph::CreateTailChain(): spFileSink->SetFileName() FAILED",
         playback + Steps{L"Morvane H264 Encoder", L"Morvane MPEG-4 Writer"}},
        {"writer input refuses", [kCode](BuildGraphTest* t) { t->setUpWriter = [kCode](FakeWriter* p) { p->Pin(0)->hrConnect = kCode; }; },
         kMedia, false, kOut, false, VFW_E_NO_ACCEPTABLE_TYPES, L"CGraph::CreateTailChain(): m_spGraph->ConnectDirect() FAILED",
         playback + Steps{L"Morvane H264 Encoder", L"Morvane MPEG-4 Writer"}},
        {"no Smart Tee", [](BuildGraphTest* t) { t->noSmartTee = true; }, kMedia, false, kOut, true,
         REGDB_E_CLASSNOTREG, L"CGraph::CreatePreviewChain(): Can't create Smart Tee filter", playback + Steps{L"Morvane H264 Encoder"}},
        {"Smart Tee not accepted", [](BuildGraphTest* t) { t->spGraph->hrAddFilterFor[L"Smart Tee"] = E_FAIL; }, kMedia, false, kOut, true,
         E_FAIL, L"CGraph::CreatePreviewChain(): Can't insert Smart Tee filter to graph", playback + Steps{L"Morvane H264 Encoder"}},
        {"Smart Tee input refuses", [kCode](BuildGraphTest* t) { t->setUpSmartTee = [kCode](FakeFilter* p) { p->Pin(0)->hrConnect = kCode; }; },
         kMedia, false, kOut, true, VFW_E_NO_ACCEPTABLE_TYPES, L"CGraph::CreatePreviewChain(): m_spGraph->ConnectDirect() FAILED",
         playback + Steps{L"Morvane H264 Encoder", L"Smart Tee"}},
        {"Smart Tee without preview pin", [](BuildGraphTest* t) { t->setUpSmartTee = [](FakeFilter* p) { p->pins.pop_back(); }; },
         kMedia, false, kOut, true, E_FAIL, L"CGraph::GetPin(): pin not found", playback + Steps{L"Morvane H264 Encoder", L"Smart Tee"}},
        {"decoder not accepted", [](BuildGraphTest* t) { t->spGraph->hrAddFilterFor[L"Morvane H264 Decoder"] = E_FAIL; }, kMedia, false, NULL, false,
         E_FAIL, L"CGraph::CreateRendererChain(): Can't insert Morvane H264 Decoder to graph", playback + Steps{L"Morvane H264 Encoder"}},
        {"decoder input refuses", [kCode](BuildGraphTest* t) { t->setUpDecoder = [kCode](FakeFilter* p) { p->Pin(0)->hrConnect = kCode; }; },
         kMedia, false, NULL, false, VFW_E_NO_ACCEPTABLE_TYPES, L"CGraph::CreateRendererChain(): input connection of decoder failed",
         playback + Steps{L"Morvane H264 Encoder", L"Morvane H264 Decoder"}},
        {"rendering only partly done", [](BuildGraphTest* t) { t->spGraph->hrRender = VFW_S_PARTIAL_RENDER; }, kMedia, false, NULL, false,
         VFW_S_PARTIAL_RENDER, L"CGraph::CreateRendererChain(): rendering failed",
         playback + Steps{L"Morvane H264 Encoder", L"Morvane H264 Decoder", L"Video Renderer"}},
        {"device not found", [](BuildGraphTest* t) { t->spDevices->devices.clear(); t->spDevices->AddDevice(L"usb camera", t->spCamera); },
         L"USB Camera", true, NULL, false, E_FAIL, L"CGraph::CreateLiveSource(): source filter not found", {}},
        {"device without video output", [](BuildGraphTest* t) { t->spCamera->pins.clear(); t->spCamera->AddPin(L"Audio", PINDIR_OUTPUT, {AudioType()}); },
         L"USB Camera", true, NULL, false, E_FAIL, L"CGraph::InsertLiveSource(): output video pin not found", {L"USB Camera"}},
        {"encoder check fails", [](BuildGraphTest* t) { t->setUpEncoder = [](FakeEncoder* p) { p->AddPin(L"Out2", PINDIR_OUTPUT); }; },
         kMedia, false, NULL, false, E_FAIL, L"CGraph::BuildGraph(): Morvane H264 Encoder not found",
         playback + Steps{L"Morvane H264 Encoder", L"Morvane H264 Decoder", L"Video Renderer"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        graph.Release();
        registrations.clear();
        setUpEncoder = nullptr;
        setUpWriter = nullptr;
        setUpDecoder = nullptr;
        setUpSmartTee = nullptr;
        noEncoder = noWriter = noDecoder = noSmartTee = false;
        spGraph = FakeGraph::Create();
        spGraph->videoWindowNeedsRenderer = true;
        spDevices = FakeDeviceEnum::Create();
        spCamera = CreateFakeCaptureFilter();
        spDevices->AddDevice(L"USB Camera", spCamera);
        RenderFilesAsPlayback();
        c.setUp(this);
        RegisterAll();
        graph.m_bLive = true;  // from an earlier successful build
        CallLog().Clear();
        diag.Clear();

        EXPECT_EQ(Build(c.source, c.bLive, c.output, c.bPreview), c.hr) << Context();
        EXPECT_TRUE(diag.HasReport(c.diagnostic)) << Context();
        EXPECT_TRUE(graph) << "the partial graph is held";
        EXPECT_TRUE(graph.m_spVireon == NULL);
        EXPECT_TRUE(graph.m_bLive) << "the live flag keeps the last successful build's value";
        EXPECT_EQ(graph.GetPreset(NULL), E_FAIL);
        EXPECT_EQ(spGraph->hWndNotify, 0) << "no events routed";
        EXPECT_EQ(spGraph->FilterNames(), c.filters) << Context();
        if (wcscmp(c.diagnostic, L"CGraph::BuildGraph(): Morvane H264 Encoder not found") == 0) {
            EXPECT_TRUE(diag.HasReport(L"CGraph::CheckFilter(): number of pins > 2")) << Context();
        }
    }
}

TEST_F(BuildGraphTest, GraphManagerThatCannotBeCreatedLeavesNoGraph) {
    registrations.emplace_back(new ClassRegistration(CLSID_FilterGraph, REGDB_E_CLASSNOTREG));
    EXPECT_EQ(Build(kMedia), REGDB_E_CLASSNOTREG);
    EXPECT_TRUE(diag.HasReport(L"CGraph::BuildGraph(): m_spGraph.CoCreateInstance() FAILED")) << Context();
    EXPECT_FALSE(graph);
}

TEST_F(BuildGraphTest, DecoderFallsBackToItsSecondIdentifierThenToDirectRendering) {
    RenderFilesAsPlayback();
    noDecoder = true;
    noDecoderAlt = false;
    RegisterAll();
    ASSERT_EQ(Build(kMedia), S_OK) << Context();
    EXPECT_EQ(spDecoder->clsid, CLSID_VireonDecoderAlt);
    EXPECT_TRUE(CallLog().Has(L"Render Morvane H264 Decoder.Out")) << Context();
    EXPECT_TRUE(diag.Reports().empty()) << Context();

    // Neither identifier: the encoded stream itself is rendered, silently.
    registrations.clear();
    spDecoder.Release();
    noDecoderAlt = true;
    RegisterAll();
    CallLog().Clear();
    diag.Clear();
    ASSERT_EQ(Build(kMedia, false, kOut, true), S_OK) << Context();
    EXPECT_TRUE(CallLog().Has(L"Render Smart Tee.Preview")) << Context();
    EXPECT_TRUE(CallLog().Starting(L"AddFilter Morvane H264 Decoder").empty());
    EXPECT_TRUE(diag.Reports().empty()) << Context();
}

TEST_F(BuildGraphTest, EncoderWithoutControlInterfaceStillBuilds) {
    RenderFilesAsPlayback();
    setUpEncoder = [](FakeEncoder* p) { p->hasVireon = false; };
    RegisterAll();
    EXPECT_EQ(Build(kMedia), S_OK) << Context();
    EXPECT_TRUE(graph.m_spVireon == NULL);
    EXPECT_TRUE(diag.HasReport(L"m_spVireon != 0")) << Context();
    EXPECT_EQ(graph.ForceKeyFrame(), E_FAIL);
    EXPECT_EQ(spGraph->hWndNotify, (OAHWND)window.hWnd);
}

TEST_F(BuildGraphTest, VideoWindowFailureFailsTheBuildWithoutEncoderInterface) {
    RenderFilesAsPlayback();
    RegisterAll();
    spGraph->refused.Refuse(IID_IVideoWindow);
    EXPECT_EQ(Build(kMedia), E_FAIL) << Context();
    EXPECT_TRUE(graph);
    EXPECT_TRUE(graph.m_spVireon == NULL);
    EXPECT_EQ(graph.ForceKeyFrame(), E_FAIL);
    EXPECT_EQ(spGraph->hWndNotify, 0);
    EXPECT_FALSE(graph.m_bLive);
}
