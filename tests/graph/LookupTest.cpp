// GetPin, CheckFilter, FindSource and the output chains' argument checks on fakes.
#include "tests/graph/GraphTestSupport.h"

#include <uuids.h>

namespace {

class LookupTest : public ::testing::Test {
public:
    LookupTest() : spGraph(FakeGraph::Create()) {
        CallLog().Clear();
        graph.m_spGraph = spGraph;
    }
    ~LookupTest() override { graph.m_spGraph.Release(); }
    std::string Context() const { return "diagnostics:\n" + diag.Dump(); }

    ComApartment com;
    DiagCapture diag;
    CComPtr<FakeGraph> spGraph;
    CGraph graph;
};

// A filter of class clsid whose pins follow spec: 'i' connected input, 'o' connected output,
// 'I'/'O' unconnected ones.
CComPtr<FakeFilter> Wired(FakeGraph* pGraph, const std::wstring& name, REFCLSID clsid, const char* spec) {
    CComPtr<FakeFilter> sp = FakeFilter::Create(L"", clsid);
    pGraph->Insert(sp, name.c_str());
    int n = 0;
    for (const char* p = spec; *p; ++p, ++n) {
        const bool bInput = *p == 'i' || *p == 'I';
        FakePin* pPin = sp->AddPin((bInput ? L"In" : L"Out") + std::to_wstring(n), bInput ? PINDIR_INPUT : PINDIR_OUTPUT);
        if (*p == 'i' || *p == 'o') {
            CComPtr<FakeFilter> spPeer = FakeFilter::Create(L"Peer");
            FakePin* pPeer = spPeer->AddPin(L"P", bInput ? PINDIR_OUTPUT : PINDIR_INPUT);
            pGraph->Insert(spPeer, (name + L" peer " + std::to_wstring(n)).c_str());
            if (bInput)
                FakePin::Link(pPeer, pPin, H264Type());
            else
                FakePin::Link(pPin, pPeer, H264Type());
        }
    }
    return sp;
}

}  // namespace

TEST_F(LookupTest, GetPinFindsTheFirstPinOfDirectionAndName) {
    CComPtr<FakeFilter> spTee = FakeFilter::Create(L"Smart Tee");
    spTee->AddPin(L"Input", PINDIR_INPUT);
    spTee->AddPin(L"Capture", PINDIR_OUTPUT);
    spTee->AddPin(L"Preview", PINDIR_OUTPUT);
    FakePin::Link(spTee->Pin(1), FakeFilter::Create()->AddPin(L"x", PINDIR_INPUT), H264Type());  // connected: not skipped
    struct Case {
        PIN_DIRECTION dir;
        const wchar_t* name;
        HRESULT hr;
        int nPin;
    };
    const Case cases[] = {
        {PINDIR_OUTPUT, L"Preview", S_OK, 2},  {PINDIR_OUTPUT, L"preview", S_OK, 2}, {PINDIR_OUTPUT, NULL, S_OK, 1},
        {PINDIR_INPUT, NULL, S_OK, 0},         {PINDIR_OUTPUT, L"Capture", S_OK, 1}, {PINDIR_INPUT, L"Preview", E_FAIL, -1},
        {PINDIR_OUTPUT, L"Prev", E_FAIL, -1},  {PINDIR_OUTPUT, L"", E_FAIL, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.dir << " " << (c.name ? Narrow(c.name) : "(null)"));
        diag.Clear();
        CComPtr<IPin> spPin;
        EXPECT_EQ(graph.GetPin(spTee, c.dir, c.name, &spPin), c.hr);
        EXPECT_EQ((IPin*)spPin, c.nPin < 0 ? NULL : static_cast<IPin*>(spTee->Pin(c.nPin)));
        EXPECT_EQ(diag.HasReport(L"CGraph::GetPin(): pin not found"), c.hr != S_OK);
    }
    CComPtr<IPin> spPin;
    EXPECT_EQ(graph.GetPin(NULL, PINDIR_INPUT, NULL, &spPin), E_INVALIDARG);
    EXPECT_EQ(graph.GetPin(spTee, PINDIR_INPUT, NULL, NULL), E_POINTER);
}

TEST_F(LookupTest, GetPinStopsAtTheFirstFailingQuery) {
    struct Case {
        const char* what;
        PIN_DIRECTION dir;
        const wchar_t* name;
        HRESULT hr;
        int nPin;
        const wchar_t* diagnostic;
    };
    // Pins: 0 "In" input, 1 "Bad" output whose queries fail, 2 "Out" output.
    const Case cases[] = {
        // The failed direction keeps its starting value, output: an output is wanted, so it matches.
        {"direction fails, output wanted", PINDIR_OUTPUT, NULL, S_OK, 1, L"CGraph::GetPin(): spPin->QueryDirection() FAILED"},
        {"input found before the failing pin", PINDIR_INPUT, NULL, S_OK, 0, NULL},
        // A zero-filled record is an input with an empty name: no match, and the search ends.
        {"info fails, later pin never reached", PINDIR_OUTPUT, L"Out", VFW_E_NOT_FOUND, -1, L"CGraph::GetPin(): spPin->QueryPinInfo() FAILED"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CComPtr<FakeFilter> sp = FakeFilter::Create(L"F");
        sp->AddPin(L"In", PINDIR_INPUT);
        FakePin* pBad = sp->AddPin(L"Bad", PINDIR_OUTPUT);
        pBad->hrQueryDirection = VFW_E_NOT_FOUND;
        pBad->hrQueryPinInfo = VFW_E_NOT_FOUND;
        sp->AddPin(L"Out", PINDIR_OUTPUT);
        diag.Clear();
        CComPtr<IPin> spPin;
        EXPECT_EQ(graph.GetPin(sp, c.dir, c.name, &spPin), c.hr) << Context();
        EXPECT_EQ((IPin*)spPin, c.nPin < 0 ? NULL : static_cast<IPin*>(sp->Pin(c.nPin)));
        if (c.diagnostic) {
            EXPECT_TRUE(diag.HasReport(c.diagnostic)) << Context();
        }
        EXPECT_EQ(diag.HasReport(L"CGraph::GetPin(): pin not found"), c.hr != S_OK) << Context();
    }

    // Enumeration failures end the search with their codes.
    CComPtr<FakeFilter> sp = FakeFilter::Create(L"F");
    sp->AddPin(L"In", PINDIR_INPUT);
    sp->hrEnumPins = E_OUTOFMEMORY;
    CComPtr<IPin> spPin;
    EXPECT_EQ(graph.GetPin(sp, PINDIR_INPUT, NULL, &spPin), E_OUTOFMEMORY);
    sp->hrEnumPins = S_OK;
    sp->pinsFailAt = 0;
    sp->hrPinsFail = VFW_E_ENUM_OUT_OF_SYNC;
    EXPECT_EQ(graph.GetPin(sp, PINDIR_INPUT, NULL, &spPin), VFW_E_ENUM_OUT_OF_SYNC);
}

TEST_F(LookupTest, CheckFilterAcceptsOnlyTheFirstEncoderWiredInLine) {
    struct Case {
        const char* what;
        std::vector<const char*> encoders;  // pin specs of the encoders, in enumeration order
        HRESULT hr;
        const wchar_t* diagnostic;
    };
    const Case cases[] = {
        {"wired in line", {"io"}, S_OK, NULL},
        {"output first", {"oi"}, S_OK, NULL},
        {"no encoder", {}, E_FAIL, L"CGraph::CheckFilter(): Wanted filter not found"},
        {"one connected input", {"i"}, E_FAIL, L"CGraph::CheckFilter(): number of pins < 2"},
        {"no pins", {""}, E_FAIL, L"CGraph::CheckFilter(): number of pins < 2"},
        {"two inputs then output", {"iio"}, E_FAIL, L"CGraph::CheckFilter(): Second input pin found"},
        {"input, output, input", {"ioi"}, E_FAIL, L"CGraph::CheckFilter(): number of pins > 2"},
        {"two outputs", {"oo"}, E_FAIL, L"CGraph::CheckFilter(): Second output pin found"},
        {"output not connected", {"iO"}, E_FAIL, L"CGraph::CheckFilter(): Pin of wanted filter not connected"},
        {"input not connected", {"Io"}, E_FAIL, L"CGraph::CheckFilter(): Pin of wanted filter not connected"},
        {"first badly wired, second right", {"iO", "io"}, E_FAIL, L"CGraph::CheckFilter(): Pin of wanted filter not connected"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        spGraph = FakeGraph::Create();
        graph.m_spGraph = spGraph;
        Wired(spGraph, L"Source", CLSID_SmartTee, "o");  // another class first
        std::vector<CComPtr<FakeFilter>> encoders;
        for (const char* spec : c.encoders)
            encoders.push_back(Wired(spGraph, L"Encoder " + std::to_wstring(encoders.size()), CLSID_VireonEncoder, spec));
        diag.Clear();
        CComPtr<IBaseFilter> spFilter;
        EXPECT_EQ(graph.CheckFilter(CLSID_VireonEncoder, &spFilter), c.hr) << Context();
        EXPECT_EQ((IBaseFilter*)spFilter, c.hr == S_OK ? static_cast<IBaseFilter*>(encoders[0].p) : NULL);
        if (c.diagnostic) {
            EXPECT_EQ(diag.Reports(), std::vector<std::wstring>{c.diagnostic}) << Context();
        } else {
            EXPECT_TRUE(diag.Reports().empty()) << Context();
        }
        for (size_t i = 1; i < encoders.size(); ++i) EXPECT_EQ(encoders[i]->cEnumPins, 0) << "later encoders unexamined";
        EXPECT_EQ(graph.CheckFilter(CLSID_VireonEncoder, NULL), c.hr) << "the check without out-parameter";
    }
}

TEST_F(LookupTest, CheckFilterFailures) {
    CComPtr<FakeFilter> spEncoder = Wired(spGraph, L"Encoder", CLSID_VireonEncoder, "io");
    spEncoder->Pin(1)->hrQueryDirection = E_UNEXPECTED;
    CComPtr<IBaseFilter> spFilter;
    EXPECT_EQ(graph.CheckFilter(CLSID_VireonEncoder, &spFilter), E_UNEXPECTED);
    EXPECT_TRUE(diag.HasReport(L"CGraph::CheckFilter(): spPin->QueryDirection() FAILED"));

    // A class identifier that cannot be read does not match.
    spEncoder->Pin(1)->hrQueryDirection = S_OK;
    spEncoder->hrGetClassID = E_NOTIMPL;
    diag.Clear();
    EXPECT_EQ(graph.CheckFilter(CLSID_VireonEncoder, &spFilter), E_FAIL);
    EXPECT_TRUE(diag.HasReport(L"CGraph::CheckFilter(): Wanted filter not found")) << Context();
    EXPECT_TRUE(diag.HasReport(L"SUCCEEDED(hrId)")) << Context();

    // Enumerations that break off end the check with their codes.
    spEncoder->hrGetClassID = S_OK;
    spEncoder->pinsFailAt = 1;
    spEncoder->hrPinsFail = VFW_E_ENUM_OUT_OF_SYNC;
    EXPECT_EQ(graph.CheckFilter(CLSID_VireonEncoder, &spFilter), VFW_E_ENUM_OUT_OF_SYNC);
    spGraph->filtersFailAt = 0;
    spGraph->hrFiltersFail = VFW_E_ENUM_OUT_OF_SYNC;
    EXPECT_EQ(graph.CheckFilter(CLSID_VireonEncoder, &spFilter), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_TRUE(spFilter == NULL);

    graph.m_spGraph.Release();
    EXPECT_EQ(graph.CheckFilter(CLSID_VireonEncoder, &spFilter), E_FAIL);
}

TEST_F(LookupTest, FindSourceMatchesTheExactName) {
    CComPtr<FakeFilter> spUnreadable = FakeFilter::Create();
    spGraph->Insert(spUnreadable, L"USB Camera");
    spUnreadable->hrQueryFilterInfo = E_FAIL;
    CComPtr<FakeFilter> spCamera = FakeFilter::Create();
    spGraph->Insert(spCamera, L"USB Camera");
    spGraph->Insert(FakeFilter::Create(), L"USB Camera");

    CComPtr<IBaseFilter> spFilter;
    EXPECT_EQ(graph.FindSource(L"USB Camera", &spFilter), S_OK);
    EXPECT_EQ((IBaseFilter*)spFilter, static_cast<IBaseFilter*>(spCamera.p));
    EXPECT_TRUE(diag.Reports().empty()) << Context();

    for (const wchar_t* name : {L"usb camera", L"USB Camera ", L"USB"}) {
        diag.Clear();
        spFilter.Release();
        EXPECT_EQ(graph.FindSource(name, &spFilter), E_FAIL);
        EXPECT_TRUE(spFilter == NULL);
        EXPECT_EQ(diag.Reports(), std::vector<std::wstring>{L"CGraph::FindSource(): Filter not found"});
    }
    EXPECT_EQ(graph.FindSource(NULL, &spFilter), E_INVALIDARG);
    EXPECT_EQ(graph.FindSource(L"", &spFilter), E_INVALIDARG);
    EXPECT_EQ(graph.FindSource(L"USB Camera", NULL), E_POINTER);
    graph.m_spGraph.Release();
    EXPECT_EQ(graph.FindSource(L"USB Camera", &spFilter), E_FAIL);
}

TEST_F(LookupTest, ChainOperationsCheckTheirArguments) {
    CComPtr<FakeFilter> sp = FakeFilter::Create(L"F");
    FakePin* pOut = sp->AddPin(L"Out", PINDIR_OUTPUT);
    CComPtr<IBaseFilter> spFilter;
    CComPtr<IPin> spPin;
    EXPECT_EQ(graph.InsertEncoder(NULL, &spFilter), E_INVALIDARG);
    EXPECT_EQ(graph.InsertEncoder(pOut, NULL), E_POINTER);
    EXPECT_EQ(graph.CreateTailChain(NULL, L"x.mp4", true), E_INVALIDARG);
    EXPECT_EQ(graph.CreateRendererChain(NULL), E_INVALIDARG);
    EXPECT_EQ(graph.CreatePreviewChain(NULL, &spPin), E_INVALIDARG);
    EXPECT_EQ(graph.CreatePreviewChain(pOut, NULL), E_POINTER);
    EXPECT_TRUE(CallLog().Entries().empty()) << CallLog().Dump();
}
