// Source chains on fakes: FindRenderer, CreateChainFromFile, FindCaptureOutput,
// FindVideoOutput, CreateLiveSource, InsertLiveSource, BuildFromGRFFile.
#include "tests/graph/GraphTestSupport.h"

#include <uuids.h>

#include "tests/support/HostTools.h"

namespace {

// A CGraph holding a fake graph manager whose filters the test puts in directly.
class ChainTest : public ::testing::Test {
public:
    ChainTest() : spGraph(FakeGraph::Create()) {
        CallLog().Clear();
        graph.m_spGraph = spGraph;
    }
    ~ChainTest() override { graph.m_spGraph.Release(); }

    FakeFilter* Add(const std::wstring& name) {
        CComPtr<FakeFilter> sp = FakeFilter::Create();
        spGraph->Insert(sp, name.c_str());
        return sp;
    }
    // An upstream filter whose output feeds pIn with the given type.
    void Feed(FakePin* pIn, const MediaType& mt, const std::wstring& upstream = L"Upstream") {
        FakeFilter* pUp = Add(upstream);
        FakePin::Link(pUp->AddPin(L"Output", PINDIR_OUTPUT), pIn, mt);
    }
    std::string Context() const { return "diagnostics:\n" + diag.Dump(); }

    ComApartment com;
    DiagCapture diag;
    CComPtr<FakeGraph> spGraph;
    CGraph graph;
};

MediaType Rgb32() { return VideoType(MEDIASUBTYPE_RGB32, 320, 240); }

MediaType VideoWithoutFormat() {
    MediaType mt = Rgb32();
    ::CoTaskMemFree(mt.Get().pbFormat);
    mt.Get().pbFormat = NULL;
    mt.Get().cbFormat = 0;
    return mt;
}

}  // namespace

TEST_F(ChainTest, FindRendererPicksTheFirstSinkFedWithVideoInfo) {
    struct Case {
        const char* what;
        std::function<void(ChainTest*)> setUp;
        HRESULT hr;
        const wchar_t* renderer;  // expected renderer name
        const wchar_t* pin;       // expected pin label
        const wchar_t* diagnostic;
    };
    const Case cases[] = {
        {"playback chain with audio", [](ChainTest* t) { AddPlaybackChain(t->spGraph, true); }, S_OK, L"Video Renderer",
         L"Video Decoder.Output", NULL},
        {"audio only", [](ChainTest* t) { t->Feed(t->Add(L"Audio Renderer")->AddPin(L"In", PINDIR_INPUT), AudioType()); },
         E_FAIL, NULL, NULL, L"CGraph::FindRenderer(): Video Renderer not found"},
        {"VIDEOINFOHEADER2 counts", [](ChainTest* t) {
             t->Feed(t->Add(L"VMR")->AddPin(L"In", PINDIR_INPUT), VideoType(MEDIASUBTYPE_RGB32, 320, 240, FORMAT_VideoInfo2));
         }, S_OK, L"VMR", L"Upstream.Output", NULL},
        {"video without a format block", [](ChainTest* t) { t->Feed(t->Add(L"R")->AddPin(L"In", PINDIR_INPUT), VideoWithoutFormat()); },
         E_FAIL, NULL, NULL, L"CGraph::FindRenderer(): Video Renderer not found"},
        {"video with another format type", [](ChainTest* t) {
             MediaType mt = Rgb32();
             mt.Get().formattype = FORMAT_MPEG2Video;
             t->Feed(t->Add(L"R")->AddPin(L"In", PINDIR_INPUT), mt);
         }, E_FAIL, NULL, NULL, L"CGraph::FindRenderer(): Video Renderer not found"},
        {"video sink with an output pin is a transform", [](ChainTest* t) {
             FakeFilter* p = t->Add(L"Transform");
             t->Feed(p->AddPin(L"In", PINDIR_INPUT), Rgb32());
             p->AddPin(L"Out", PINDIR_OUTPUT);
         }, E_FAIL, NULL, NULL, L"CGraph::FindRenderer(): Video Renderer not found"},
        {"unconnected inputs are skipped", [](ChainTest* t) {
             FakeFilter* p = t->Add(L"Mixer");
             p->AddPin(L"In0", PINDIR_INPUT);
             t->Feed(p->AddPin(L"In1", PINDIR_INPUT), Rgb32(), L"First");
             t->Feed(p->AddPin(L"In2", PINDIR_INPUT), Rgb32(), L"Second");
         }, S_OK, L"Mixer", L"First.Output", NULL},
        {"first renderer in enumeration order", [](ChainTest* t) {
             t->Feed(t->Add(L"Renderer A")->AddPin(L"In", PINDIR_INPUT), Rgb32(), L"A");
             t->Feed(t->Add(L"Renderer B")->AddPin(L"In", PINDIR_INPUT), Rgb32(), L"B");
         }, S_OK, L"Renderer A", L"A.Output", NULL},
        {"a pin whose direction is unreadable counts as output", [](ChainTest* t) {
             FakeFilter* p = t->Add(L"R");
             t->Feed(p->AddPin(L"In", PINDIR_INPUT), Rgb32());
             p->AddPin(L"In2", PINDIR_INPUT)->hrQueryDirection = E_UNEXPECTED;
         }, E_FAIL, NULL, NULL, L"CGraph::FindRenderer(): spPin->QueryDirection() FAILED"},
        {"a filter whose pins cannot be listed is skipped", [](ChainTest* t) {
             t->Add(L"Broken")->hrEnumPins = E_OUTOFMEMORY;
             t->Feed(t->Add(L"R")->AddPin(L"In", PINDIR_INPUT), Rgb32());
         }, S_OK, L"R", L"Upstream.Output", L"CGraph::FindRenderer(): spFilter->EnumPins() FAILED"},
        {"unreadable connection type does not qualify", [](ChainTest* t) {
             FakePin* pIn = t->Add(L"R")->AddPin(L"In", PINDIR_INPUT);
             t->Feed(pIn, Rgb32());
             pIn->hrConnectionMediaType = E_UNEXPECTED;
         }, E_FAIL, NULL, NULL, L"CGraph::FindRenderer(): spPin->ConnectionMediaType() FAILED"},
        {"filter enumeration failing", [](ChainTest* t) {
             t->Feed(t->Add(L"R")->AddPin(L"In", PINDIR_INPUT), Rgb32());
             t->spGraph->filtersFailAt = 0;
         }, E_FAIL, NULL, NULL, L"CGraph::FindRenderer(): Video Renderer not found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        spGraph = FakeGraph::Create();
        graph.m_spGraph = spGraph;
        diag.Clear();
        c.setUp(this);
        CComPtr<IBaseFilter> spRenderer;
        CComPtr<IPin> spPin;
        EXPECT_EQ(graph.FindRenderer(&spRenderer, &spPin), c.hr) << Context();
        EXPECT_EQ(spRenderer ? FilterName(spRenderer) : L"", c.renderer ? c.renderer : L"");
        EXPECT_EQ(spPin ? PinLabel(spPin) : L"", c.pin ? c.pin : L"");
        if (c.diagnostic) {
            EXPECT_TRUE(diag.HasReport(c.diagnostic)) << Context();
        } else {
            EXPECT_TRUE(diag.Reports().empty()) << Context();
        }
    }
    CComPtr<IPin> spPin;
    EXPECT_EQ(graph.FindRenderer(NULL, &spPin), E_POINTER);
    CComPtr<IBaseFilter> spFilter;
    EXPECT_EQ(graph.FindRenderer(&spFilter, NULL), E_POINTER);
}

TEST_F(ChainTest, CreateChainFromFileHandsOutTheFreedVideoOutput) {
    spGraph->onRenderFile = [this](LPCWSTR) {
        AddPlaybackChain(spGraph, true);
        return S_OK;
    };
    CComPtr<IPin> spPin;
    ASSERT_EQ(graph.CreateChainFromFile(L"clip.mp4", &spPin), S_OK) << Context();
    EXPECT_EQ(PinLabel(spPin), L"Video Decoder.Output");
    CComPtr<IPin> spPeer;
    EXPECT_EQ(spPin->ConnectedTo(&spPeer), VFW_E_NOT_CONNECTED);
    // The audio stays rendered.
    EXPECT_EQ(spGraph->FilterNames(), (std::vector<std::wstring>{L"Source", L"Splitter", L"Video Decoder", L"Audio Renderer"}));
}

TEST_F(ChainTest, CreateChainFromFileFailures) {
    CComPtr<IPin> spPin;
    EXPECT_EQ(graph.CreateChainFromFile(NULL, &spPin), E_INVALIDARG);
    EXPECT_EQ(graph.CreateChainFromFile(L"", &spPin), E_INVALIDARG);
    EXPECT_EQ(graph.CreateChainFromFile(L"x.mp4", NULL), E_POINTER);
    EXPECT_TRUE(CallLog().Entries().empty());

    // An audio-only file: rendered, but no video renderer.
    spGraph->onRenderFile = [this](LPCWSTR) {
        Feed(Add(L"Audio Renderer")->AddPin(L"In", PINDIR_INPUT), AudioType());
        return S_OK;
    };
    EXPECT_EQ(graph.CreateChainFromFile(L"a.wav", &spPin), E_FAIL);
    EXPECT_TRUE(diag.HasReport(L"CGraph::FindRenderer(): Video Renderer not found"));
    EXPECT_EQ(spGraph->FilterNames().size(), 2u) << "the rendered graph stays";

    // A renderer that will not go: the freed pin is handed out all the same.
    spGraph = FakeGraph::Create();
    graph.m_spGraph = spGraph;
    spGraph->onRenderFile = [this](LPCWSTR) {
        AddPlaybackChain(spGraph, false);
        return S_OK;
    };
    spGraph->hrRemoveFilter = VFW_E_NOT_STOPPED;
    diag.Clear();
    spPin.Release();
    EXPECT_EQ(graph.CreateChainFromFile(L"v.mp4", &spPin), VFW_E_NOT_STOPPED);
    EXPECT_TRUE(diag.HasReport(L"CGraph::CreateChainFromFile(): m_spGraph->RemoveFilter() FAILED"));
    EXPECT_EQ(PinLabel(spPin), L"Video Decoder.Output");
}

TEST_F(ChainTest, FindCaptureOutputTakesTheFirstPinNamedOrCategorisedCapture) {
    struct PinSpec {
        const wchar_t* name;
        PIN_DIRECTION dir;
        GUID category;  // GUID_NULL: no IKsPropertySet
        HRESULT hrInfo;
        HRESULT hrKsGet;
    };
    const GUID none = GUID_NULL;
    struct Case {
        const char* what;
        std::vector<PinSpec> pins;
        int nFailAt;  // pin enumeration fails here
        HRESULT hr;
        int nPin;  // index of the expected pin, -1 none
        const wchar_t* diagnostic;
    };
    const Case cases[] = {
        {"named Capture and Preview", {{L"Capture", PINDIR_OUTPUT, none, S_OK, S_OK}, {L"Preview", PINDIR_OUTPUT, none, S_OK, S_OK}}, -1, S_OK, 0, NULL},
        {"name in capitals", {{L"Preview", PINDIR_OUTPUT, none, S_OK, S_OK}, {L"CAPTURE", PINDIR_OUTPUT, none, S_OK, S_OK}}, -1, S_OK, 1, NULL},
        {"category before name", {{L"Out", PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE, S_OK, S_OK}, {L"Capture", PINDIR_OUTPUT, none, S_OK, S_OK}}, -1, S_OK, 0, NULL},
        {"preview category does not count", {{L"Out", PINDIR_OUTPUT, PIN_CATEGORY_PREVIEW, S_OK, S_OK}}, -1, E_FAIL, -1, NULL},
        {"category read not exactly S_OK", {{L"Out", PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE, S_OK, S_FALSE}}, -1, E_FAIL, -1, NULL},
        {"part of the name is not the name", {{L"Capture Out", PINDIR_OUTPUT, none, S_OK, S_OK}}, -1, E_FAIL, -1, NULL},
        {"direction is not examined", {{L"Capture", PINDIR_INPUT, none, S_OK, S_OK}}, -1, S_OK, 0, NULL},
        {"unreadable pin is skipped", {{L"Capture", PINDIR_OUTPUT, none, E_UNEXPECTED, S_OK}, {L"capture", PINDIR_OUTPUT, none, S_OK, S_OK}},
         -1, S_OK, 1, L"CGraph::FindCaptureOutput(): spPin->QueryPinInfo() FAILED"},
        {"enumeration failing", {{L"Preview", PINDIR_OUTPUT, none, S_OK, S_OK}, {L"Capture", PINDIR_OUTPUT, none, S_OK, S_OK}},
         1, VFW_E_ENUM_OUT_OF_SYNC, -1, L"CGraph::FindCaptureOutput(): spEnum->Next() FAILED"},
        {"no pins", {}, -1, E_FAIL, -1, NULL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        diag.Clear();
        CComPtr<FakeFilter> spFilter = FakeFilter::Create(L"Camera");
        for (const PinSpec& p : c.pins) {
            FakePin* pPin = spFilter->AddPin(p.name, p.dir);
            pPin->hasKsPropertySet = p.category != GUID_NULL;
            pPin->category = p.category;
            pPin->hrQueryPinInfo = p.hrInfo;
            pPin->hrKsGet = p.hrKsGet;
        }
        spFilter->pinsFailAt = c.nFailAt;
        spFilter->hrPinsFail = VFW_E_ENUM_OUT_OF_SYNC;
        CComPtr<IPin> spPin;
        EXPECT_EQ(graph.FindCaptureOutput(spFilter, &spPin), c.hr) << Context();
        EXPECT_EQ((IPin*)spPin, c.nPin < 0 ? NULL : static_cast<IPin*>(spFilter->Pin(c.nPin)));
        if (c.diagnostic) {
            EXPECT_TRUE(diag.HasReport(c.diagnostic)) << Context();
        } else {
            EXPECT_TRUE(diag.Reports().empty()) << Context();
        }
    }
    CComPtr<IPin> spPin;
    EXPECT_EQ(graph.FindCaptureOutput(NULL, &spPin), E_INVALIDARG);
    EXPECT_EQ(graph.FindCaptureOutput(CreateFakeCaptureFilter(), NULL), E_POINTER);
}

TEST_F(ChainTest, FindVideoOutputTakesTheFirstOutputOfferingVideo) {
    struct PinSpec {
        const wchar_t* name;
        PIN_DIRECTION dir;
        std::vector<MediaType> types;
        HRESULT hrDir;
        HRESULT hrTypes;
        int nTypesFailAt;
    };
    struct Case {
        const char* what;
        std::vector<PinSpec> pins;
        HRESULT hr;
        int nPin;
        const wchar_t* diagnostic;
    };
    const Case cases[] = {
        {"input with video is skipped", {{L"In", PINDIR_INPUT, {Rgb32()}, S_OK, S_OK, -1}, {L"Audio", PINDIR_OUTPUT, {AudioType()}, S_OK, S_OK, -1},
                                         {L"Video", PINDIR_OUTPUT, {Rgb32()}, S_OK, S_OK, -1}}, S_OK, 2, NULL},
        {"video among the types", {{L"Out", PINDIR_OUTPUT, {AudioType(), BareType(MEDIATYPE_Video)}, S_OK, S_OK, -1}}, S_OK, 0, NULL},
        {"no video output", {{L"Out", PINDIR_OUTPUT, {AudioType()}, S_OK, S_OK, -1}}, E_FAIL, -1, NULL},
        {"type list breaking off goes on with the next pin", {{L"A", PINDIR_OUTPUT, {AudioType(), Rgb32()}, S_OK, S_OK, 1},
                                                             {L"B", PINDIR_OUTPUT, {Rgb32()}, S_OK, S_OK, -1}}, S_OK, 1, NULL},
        {"direction unreadable ends the search", {{L"A", PINDIR_OUTPUT, {AudioType()}, S_OK, S_OK, -1}, {L"B", PINDIR_OUTPUT, {Rgb32()}, E_UNEXPECTED, S_OK, -1},
                                                 {L"C", PINDIR_OUTPUT, {Rgb32()}, S_OK, S_OK, -1}},
         E_UNEXPECTED, -1, L"CGraph::FindVideoOutput(): spPin->QueryDirection() FAILED"},
        {"types unreadable ends the search", {{L"A", PINDIR_OUTPUT, {Rgb32()}, S_OK, E_OUTOFMEMORY, -1}, {L"B", PINDIR_OUTPUT, {Rgb32()}, S_OK, S_OK, -1}},
         E_OUTOFMEMORY, -1, L"CGraph::FindVideoOutput(): spPin->EnumMediaTypes() FAILED"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        diag.Clear();
        CComPtr<FakeFilter> spFilter = FakeFilter::Create(L"Camera");
        for (const PinSpec& p : c.pins) {
            FakePin* pPin = spFilter->AddPin(p.name, p.dir, p.types);
            pPin->hrQueryDirection = p.hrDir;
            pPin->hrEnumMediaTypes = p.hrTypes;
            pPin->mediaTypesFailAt = p.nTypesFailAt;
        }
        CComPtr<IPin> spPin;
        EXPECT_EQ(graph.FindVideoOutput(spFilter, &spPin), c.hr) << Context();
        EXPECT_EQ((IPin*)spPin, c.nPin < 0 ? NULL : static_cast<IPin*>(spFilter->Pin(c.nPin)));
        if (c.diagnostic) {
            EXPECT_TRUE(diag.HasReport(c.diagnostic)) << Context();
        } else {
            EXPECT_TRUE(diag.Reports().empty()) << Context();
        }
    }
    CComPtr<FakeFilter> spFilter = CreateFakeCaptureFilter();
    spFilter->pinsFailAt = 0;
    spFilter->hrPinsFail = E_UNEXPECTED;
    CComPtr<IPin> spPin;
    EXPECT_EQ(graph.FindVideoOutput(spFilter, &spPin), E_UNEXPECTED);
    EXPECT_TRUE(diag.HasReport(L"CGraph::FindVideoOutput(): spEnum->Next() FAILED"));
    EXPECT_EQ(graph.FindVideoOutput(NULL, &spPin), E_INVALIDARG);
    EXPECT_EQ(graph.FindVideoOutput(spFilter, NULL), E_POINTER);
}

// CreateLiveSource and InsertLiveSource with a fake device enumerator.
class LiveSourceTest : public ChainTest {
public:
    LiveSourceTest() : spDevices(FakeDeviceEnum::Create()) {
        reg.reset(new ClassRegistration(CLSID_SystemDeviceEnum, static_cast<ICreateDevEnum*>(spDevices.p)));
    }
    CComPtr<FakeDeviceEnum> spDevices;
    std::unique_ptr<ClassRegistration> reg;
};

TEST_F(LiveSourceTest, CreateLiveSourcePicksTheFirstExactName) {
    CComPtr<FakeFilter> spFirst = CreateFakeCaptureFilter();
    CComPtr<FakeFilter> spSecond = CreateFakeCaptureFilter();
    spDevices->AddDevice(L"Webcam", FakeFilter::Create())->hrBindToStorage = E_ACCESSDENIED;
    spDevices->AddDevice(L"Webcam", FakeFilter::Create())->hrRead = E_FAIL;
    spDevices->AddDevice(L"Webcam", FakeFilter::Create())->nameAsNumber = true;
    spDevices->AddDevice(L"webcam", FakeFilter::Create());
    spDevices->AddDevice(L"Webcam", spFirst);
    spDevices->AddDevice(L"Webcam", spSecond);

    CComPtr<IBaseFilter> spSource;
    EXPECT_EQ(graph.CreateLiveSource(L"Webcam", &spSource), S_OK) << Context();
    EXPECT_TRUE(spSource.IsEqualObject(static_cast<IBaseFilter*>(spFirst.p)));
    EXPECT_EQ(CallLog().Starting(L"BindToObject"), std::vector<std::wstring>{L"BindToObject Webcam"});
    EXPECT_TRUE(diag.HasReport(L"CGraph::CreateLiveSource(): spMoniker->BindToStorage() FAILED")) << Context();
    EXPECT_TRUE(diag.HasReport(L"CGraph::CreateLiveSource(): spPropBag->Read() FAILED")) << Context();
    EXPECT_TRUE(diag.HasReport(L"varName.vt == VT_BSTR")) << Context();
    EXPECT_TRUE(graph.m_spGraph == static_cast<IGraphBuilder*>(spGraph.p));
    EXPECT_TRUE(spGraph->filters.empty()) << "created, not added";
}

TEST_F(LiveSourceTest, CreateLiveSourceFailures) {
    struct Case {
        const char* what;
        std::function<void(FakeDeviceEnum*)> setUp;
        const wchar_t* name;
        HRESULT hr;
        const wchar_t* diagnostic;
    };
    const Case cases[] = {
        {"name differs in case", [](FakeDeviceEnum* p) { p->AddDevice(L"webcam", CreateFakeCaptureFilter()); }, L"Webcam", E_FAIL,
         L"CGraph::CreateLiveSource(): source filter not found"},
        {"no device installed", [](FakeDeviceEnum*) {}, L"Webcam", S_FALSE,
         L"CGraph::CreateLiveSource(): Can't create enumerator for video capture sources"},
        {"enumerator refused", [](FakeDeviceEnum* p) { p->hrCreateClassEnumerator = E_OUTOFMEMORY; }, L"Webcam", E_OUTOFMEMORY,
         L"CGraph::CreateLiveSource(): Can't create enumerator for video capture sources"},
        {"device list failing", [](FakeDeviceEnum* p) {
             p->AddDevice(L"Other", CreateFakeCaptureFilter());
             p->AddDevice(L"Webcam", CreateFakeCaptureFilter());
             p->devicesFailAt = 1;
             p->hrDevicesFail = E_UNEXPECTED;
         }, L"Webcam", E_UNEXPECTED, L"CGraph::CreateLiveSource(): spEnum->Next() FAILED"},
        {"matching device cannot be bound; the next is not tried", [](FakeDeviceEnum* p) {
             p->AddDevice(L"Webcam", CreateFakeCaptureFilter())->hrBindToObject = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
             p->AddDevice(L"Webcam", CreateFakeCaptureFilter());
         }, L"Webcam", HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED), L"CGraph::CreateLiveSource(): spMoniker->BindToObject() FAILED"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        spDevices->devices.clear();
        spDevices->hrCreateClassEnumerator = S_OK;
        spDevices->devicesFailAt = -1;
        c.setUp(spDevices);
        diag.Clear();
        CallLog().Clear();
        CComPtr<IBaseFilter> spSource;
        EXPECT_EQ(graph.CreateLiveSource(c.name, &spSource), c.hr) << Context();
        EXPECT_TRUE(spSource == NULL);
        EXPECT_TRUE(diag.HasReport(c.diagnostic)) << Context();
        EXPECT_LE(CallLog().Starting(L"BindToObject").size(), 1u);
    }
    CComPtr<IBaseFilter> spSource;
    EXPECT_EQ(graph.CreateLiveSource(NULL, &spSource), E_INVALIDARG);
    EXPECT_EQ(graph.CreateLiveSource(L"", &spSource), E_INVALIDARG);
    EXPECT_EQ(graph.CreateLiveSource(L"Webcam", NULL), E_POINTER);

    // No device enumerator at all: its creation's code.
    reg.reset();
    reg.reset(new ClassRegistration(CLSID_SystemDeviceEnum, REGDB_E_CLASSNOTREG));
    EXPECT_EQ(graph.CreateLiveSource(L"Webcam", &spSource), REGDB_E_CLASSNOTREG);
}

TEST_F(LiveSourceTest, InsertLiveSourceAddsTheDeviceUnderItsNameAndChoosesItsOutput) {
    struct Case {
        const char* what;
        std::function<CComPtr<FakeFilter>()> make;
        HRESULT hr;
        const wchar_t* pin;
    };
    const Case cases[] = {
        {"capture pin", [] { return CreateFakeCaptureFilter(); }, S_OK, L"Webcam.Capture"},
        {"no capture pin: first video output", [] {
             CComPtr<FakeFilter> sp = FakeFilter::Create();
             sp->AddPin(L"Audio", PINDIR_OUTPUT, {AudioType()});
             sp->AddPin(L"Video", PINDIR_OUTPUT, {Rgb32()});
             return sp;
         }, S_OK, L"Webcam.Video"},
        {"capture search failing falls back too", [] {
             CComPtr<FakeFilter> sp = FakeFilter::Create();
             sp->AddPin(L"Video", PINDIR_OUTPUT, {Rgb32()})->hrQueryPinInfo = E_UNEXPECTED;
             return sp;
         }, S_OK, L"?.?"},
        {"no video output at all", [] {
             CComPtr<FakeFilter> sp = FakeFilter::Create();
             sp->AddPin(L"Audio", PINDIR_OUTPUT, {AudioType()});
             return sp;
         }, E_FAIL, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        spGraph = FakeGraph::Create();
        graph.m_spGraph = spGraph;
        spDevices->devices.clear();
        CComPtr<FakeFilter> spCamera = c.make();
        spDevices->AddDevice(L"Webcam", spCamera);
        diag.Clear();
        CComPtr<IPin> spPin;
        EXPECT_EQ(graph.InsertLiveSource(L"Webcam", &spPin), c.hr) << Context();
        EXPECT_EQ(spPin ? PinLabel(spPin) : L"", c.pin);
        // The device stays in the graph under its friendly name, pin found or not.
        EXPECT_EQ(spGraph->FilterNames(), std::vector<std::wstring>{L"Webcam"});
        EXPECT_EQ(c.hr == S_OK, !diag.HasReport(L"CGraph::InsertLiveSource(): output video pin not found")) << Context();
    }

    spGraph->hrAddFilterFor[L"Webcam"] = VFW_E_DUPLICATE_NAME;
    CComPtr<IPin> spPin;
    EXPECT_EQ(graph.InsertLiveSource(L"Webcam", &spPin), VFW_E_DUPLICATE_NAME);
    EXPECT_TRUE(diag.HasReport(L"CGraph::InsertLiveSource(): Can't insert live source to graph"));
    EXPECT_EQ(graph.InsertLiveSource(L"", &spPin), E_INVALIDARG);
    EXPECT_EQ(graph.InsertLiveSource(L"Webcam", NULL), E_POINTER);
}

// BuildFromGRFFile against real structured-storage files.
TEST_F(ChainTest, BuildFromGRFFileOpensTheSavedGraphStream) {
    const std::string content("0003\r\nFILTERS\r\n\0\x01 binary\r\nEND", 26);
    std::wstring good = MakeCompoundFile({{L"ActiveMovieGraph", content}});
    ASSERT_EQ(graph.BuildFromGRFFile(good.c_str()), S_OK) << Context();
    EXPECT_EQ(spGraph->loaded, content);

    spGraph->hrLoad = S_FALSE;  // a success code still counts as loaded
    EXPECT_EQ(graph.BuildFromGRFFile(good.c_str()), S_OK);
    spGraph->hrLoad = VFW_E_INVALID_FILE_FORMAT;
    EXPECT_EQ(graph.BuildFromGRFFile(good.c_str()), VFW_E_INVALID_FILE_FORMAT);
    EXPECT_TRUE(diag.HasReport(L"CGraph::BuildFromGRFFile(): Can't load data from .grf file"));
}

TEST_F(ChainTest, BuildFromGRFFileRefusesWhatIsNotASavedGraph) {
    const std::string textPath = UniqueTmpPath(".grf");
    ASSERT_TRUE(WriteHostFile(textPath, "FILTERS\r\nEND\r\n"));
    const std::wstring noStream = MakeCompoundFile({{L"Other", "x"}});
    const std::wstring held = MakeCompoundFile({{L"ActiveMovieGraph", "x"}});
    CComPtr<IStorage> spHolder;  // another user holds the file open exclusively
    ASSERT_EQ(::StgOpenStorage(held.c_str(), NULL, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, NULL, 0, &spHolder), S_OK);

    struct Case {
        std::wstring path;
        const wchar_t* diagnostic;
    };
    const Case cases[] = {
        {ToWinPath(UniqueTmpPath(".grf")), L"CGraph::BuildFromGRFFile(): Can't open .grf file"},
        {ToWinPath(textPath), L"CGraph::BuildFromGRFFile(): Can't open .grf file"},
        {held, L"CGraph::BuildFromGRFFile(): Can't open .grf file"},
        {noStream, L"CGraph::BuildFromGRFFile(): Invalid .grf file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.path));
        diag.Clear();
        CallLog().Clear();
        HRESULT hr = graph.BuildFromGRFFile(c.path.c_str());
        EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
        EXPECT_EQ(diag.Reports(), std::vector<std::wstring>{c.diagnostic}) << Context();
        EXPECT_TRUE(CallLog().Starting(L"Load").empty());
    }
    // The storage's own codes come back unchanged.
    EXPECT_EQ(graph.BuildFromGRFFile(ToWinPath(UniqueTmpPath(".grf")).c_str()), STG_E_FILENOTFOUND);
    EXPECT_EQ(graph.BuildFromGRFFile(noStream.c_str()), STG_E_FILENOTFOUND);
}

TEST_F(ChainTest, BuildFromGRFFileWithoutPersistenceOnTheManagerFails) {
    std::wstring good = MakeCompoundFile({{L"ActiveMovieGraph", "x"}});
    spGraph->refused.Refuse(IID_IPersistStream);
    EXPECT_EQ(graph.BuildFromGRFFile(good.c_str()), E_NOINTERFACE);
    EXPECT_TRUE(diag.HasReport(L"spPersistStream != 0")) << Context();
}
