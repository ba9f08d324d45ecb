// The filter kit in a real graph manager: connection negotiation, streaming to the end,
// pin information, stream control refusals, pin categories and registration in a category.
#include <gtest/gtest.h>

#include <atlbase.h>

#include <cstring>

#include "tests/support/KitTestFilters.h"

namespace {

CKitMediaType VideoType(const GUID& subtype, int width, int height, WORD bits) {
    CKitMediaType mt;
    mt.Set(MEDIATYPE_Video, subtype, FORMAT_VideoInfo);
    auto* vih = (VIDEOINFOHEADER*)mt.AllocFormat(sizeof(VIDEOINFOHEADER));
    vih->AvgTimePerFrame = 400000;
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = width;
    vih->bmiHeader.biHeight = height;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = bits;
    vih->bmiHeader.biSizeImage = width * height * bits / 8;
    mt.bFixedSizeSamples = TRUE;
    mt.lSampleSize = vih->bmiHeader.biSizeImage;
    return mt;
}

struct KitGraph : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        ASSERT_EQ(S_OK, spGraph.CoCreateInstance(CLSID_FilterGraph));
    }
    void TearDown() override {
        if (spGraph) {
            CComQIPtr<IMediaControl> spControl(spGraph);
            if (spControl) spControl->Stop();
        }
        spGraph.Release();
        ::CoUninitialize();
    }
    // A source offering RGB24 then RGB32 and a sink, both in the graph.
    void AddPair(int frames, CTestSource** ppSource, CTestSink** ppSink) {
        std::vector<CKitMediaType> types = {VideoType(MEDIASUBTYPE_RGB24, 32, 16, 24),
                                            VideoType(MEDIASUBTYPE_RGB32, 32, 16, 32)};
        auto* pSource = new CTestSource(types, frames, 400000);
        auto* pSink = new CTestSink();
        spSource = static_cast<IBaseFilter*>(pSource);
        spSink = static_cast<IBaseFilter*>(pSink);
        ASSERT_EQ(S_OK, spGraph->AddFilter(spSource, L"Source"));
        ASSERT_EQ(S_OK, spGraph->AddFilter(spSink, L"Sink"));
        *ppSource = pSource;
        *ppSink = pSink;
    }
    CComPtr<IGraphBuilder> spGraph;
    CComPtr<IBaseFilter> spSource, spSink;
};

TEST_F(KitGraph, ConnectAgreesOnATypeBothPinsTake) {
    struct Case {
        const char* what;
        GUID accepted;  // GUID_NULL: the sink takes anything
        HRESULT hrConnect;
        GUID expected;
    } cases[] = {
        {"sink takes anything: our first type", GUID_NULL, S_OK, MEDIASUBTYPE_RGB24},
        {"sink takes only our second type", MEDIASUBTYPE_RGB32, S_OK, MEDIASUBTYPE_RGB32},
        {"sink takes none of ours", MEDIASUBTYPE_YUY2, VFW_E_NO_ACCEPTABLE_TYPES, GUID_NULL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        spGraph.Release();
        ASSERT_EQ(S_OK, spGraph.CoCreateInstance(CLSID_FilterGraph));
        CTestSource* pSource;
        CTestSink* pSink;
        AddPair(1, &pSource, &pSink);
        GUID accepted = c.accepted;
        if (accepted != GUID_NULL)
            pSink->accept = [accepted](const AM_MEDIA_TYPE& mt) { return mt.subtype == accepted; };
        CComPtr<IPin> spOut, spIn;
        spOut.Attach(FirstPin(spSource, PINDIR_OUTPUT));
        spIn.Attach(FirstPin(spSink, PINDIR_INPUT));
        HRESULT hr = spGraph->ConnectDirect(spOut, spIn, nullptr);
        EXPECT_EQ(c.hrConnect, hr);
        AM_MEDIA_TYPE mtOut = {}, mtIn = {};
        if (SUCCEEDED(hr)) {
            ASSERT_EQ(S_OK, spOut->ConnectionMediaType(&mtOut));
            ASSERT_EQ(S_OK, spIn->ConnectionMediaType(&mtIn));
            EXPECT_EQ(c.expected, mtOut.subtype);
            EXPECT_EQ(c.expected, mtIn.subtype);
            ASSERT_EQ(mtOut.cbFormat, mtIn.cbFormat);
            EXPECT_EQ(0, memcmp(mtOut.pbFormat, mtIn.pbFormat, mtIn.cbFormat));
            media::FreeMediaType(mtOut);
            media::FreeMediaType(mtIn);
            CComPtr<IPin> spPeer;
            EXPECT_EQ(S_OK, spIn->ConnectedTo(&spPeer));
            EXPECT_TRUE(spPeer.IsEqualObject(spOut));
        } else {
            CComPtr<IPin> spPeer;
            EXPECT_EQ(VFW_E_NOT_CONNECTED, spIn->ConnectedTo(&spPeer));
            EXPECT_EQ(nullptr, spPeer.p);
            EXPECT_EQ(VFW_E_NOT_CONNECTED, spOut->ConnectionMediaType(&mtOut));
        }
    }
}

TEST_F(KitGraph, StreamsEveryFrameToTheEndAndCompletes) {
    CTestSource* pSource;
    CTestSink* pSink;
    AddPair(12, &pSource, &pSink);
    pSource->fill = [](int n, BYTE* p, long cb) { memset(p, n + 1, cb); };
    CComPtr<IPin> spOut, spIn;
    spOut.Attach(FirstPin(spSource, PINDIR_OUTPUT));
    spIn.Attach(FirstPin(spSink, PINDIR_INPUT));
    ASSERT_EQ(S_OK, spGraph->ConnectDirect(spOut, spIn, nullptr));

    CComQIPtr<IMediaControl> spControl(spGraph);
    ASSERT_TRUE(SUCCEEDED(spControl->Run()));
    EXPECT_EQ(EC_COMPLETE, WaitForGraphEvent(spGraph, 10000));
    // While running, the connection can't be changed.
    EXPECT_EQ(VFW_E_NOT_STOPPED, spIn->Disconnect());
    EXPECT_EQ(S_OK, spControl->Stop());

    std::vector<CollectedSample> samples = pSink->Samples();
    ASSERT_EQ(12u, samples.size());
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(32u * 16 * 3, samples[i].data.size());
        EXPECT_EQ(std::string(samples[i].data.size(), (char)(i + 1)), samples[i].data);
        EXPECT_TRUE(samples[i].bHasTime);
        EXPECT_EQ(i * 400000LL, samples[i].tStart);
        EXPECT_EQ((i + 1) * 400000LL, samples[i].tStop);
    }
    EXPECT_TRUE(pSink->GotEndOfStream());

    // Stopped again: a second run starts from the first frame.
    ASSERT_TRUE(SUCCEEDED(spControl->Run()));
    EXPECT_EQ(EC_COMPLETE, WaitForGraphEvent(spGraph, 10000));
    spControl->Stop();
    EXPECT_EQ(24u, pSink->Samples().size());

    // And then it can be taken apart.
    EXPECT_EQ(S_OK, spIn->Disconnect());
    EXPECT_EQ(S_OK, spOut->Disconnect());
    EXPECT_EQ(S_FALSE, spOut->Disconnect());
}

TEST_F(KitGraph, PinAndFilterInformation) {
    CTestSource* pSource;
    CTestSink* pSink;
    AddPair(1, &pSource, &pSink);

    FILTER_INFO fi = {};
    ASSERT_EQ(S_OK, spSink->QueryFilterInfo(&fi));
    EXPECT_STREQ(L"Sink", fi.achName);
    EXPECT_TRUE(CComPtr<IFilterGraph>(fi.pGraph).IsEqualObject(spGraph));
    fi.pGraph->Release();
    CLSID clsid = GUID_NULL;
    EXPECT_EQ(S_OK, spSink->GetClassID(&clsid));
    EXPECT_EQ(CLSID_QuorlinTestSink, clsid);

    CComPtr<IPin> spIn;
    ASSERT_EQ(S_OK, spSink->FindPin(L"Input", &spIn));
    CComPtr<IPin> spOther;
    EXPECT_EQ(VFW_E_NOT_FOUND, spSink->FindPin(L"input", &spOther));  // ids are exact
    PIN_INFO pi = {};
    ASSERT_EQ(S_OK, spIn->QueryPinInfo(&pi));
    EXPECT_STREQ(L"Input", pi.achName);
    EXPECT_EQ(PINDIR_INPUT, pi.dir);
    EXPECT_TRUE(CComPtr<IBaseFilter>(pi.pFilter).IsEqualObject(spSink));
    pi.pFilter->Release();
    LPWSTR pszId = nullptr;
    ASSERT_EQ(S_OK, spIn->QueryId(&pszId));
    EXPECT_STREQ(L"Input", pszId);
    ::CoTaskMemFree(pszId);

    // Pins share their filter's life but have their own identity.
    CComPtr<IUnknown> spPinUnk, spFilterUnk;
    spIn->QueryInterface(IID_IUnknown, (void**)&spPinUnk);
    spSink->QueryInterface(IID_IUnknown, (void**)&spFilterUnk);
    EXPECT_NE(spPinUnk.p, spFilterUnk.p);
    CComQIPtr<IMemInputPin> spMem(spIn);
    EXPECT_TRUE(spMem != nullptr);

    // Stream control is for input pins only; an unconnected input refuses samples.
    CComPtr<IPin> spOut;
    spOut.Attach(FirstPin(spSource, PINDIR_OUTPUT));
    EXPECT_EQ(E_UNEXPECTED, spOut->EndOfStream());
    EXPECT_EQ(E_UNEXPECTED, spIn->Connect(spOut, nullptr));
    EXPECT_EQ(VFW_E_INVALID_DIRECTION, spOut->Connect(spOut, nullptr));
}

TEST_F(KitGraph, PinCategoryThroughKsPropertySet) {
    CTestSource* pSource;
    CTestSink* pSink;
    AddPair(1, &pSource, &pSink);
    CComPtr<IPin> spOut;
    spOut.Attach(FirstPin(spSource, PINDIR_OUTPUT));
    CComPtr<IKsPropertySet> spProps;
    EXPECT_EQ(E_NOINTERFACE, spOut->QueryInterface(IID_IKsPropertySet, (void**)&spProps));

    pSource->Output()->SetCategory(PIN_CATEGORY_CAPTURE);
    ASSERT_EQ(S_OK, spOut->QueryInterface(IID_IKsPropertySet, (void**)&spProps));
    GUID category = GUID_NULL;
    DWORD cb = 0;
    EXPECT_EQ(S_OK, spProps->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                                 sizeof(category), &cb));
    EXPECT_EQ(PIN_CATEGORY_CAPTURE, category);
    EXPECT_EQ(sizeof(GUID), cb);
    EXPECT_EQ(E_PROP_SET_UNSUPPORTED,
              spProps->Get(GUID_NULL, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof(category), &cb));

    // The capture graph builder finds the pin by its category.
    CComPtr<ICaptureGraphBuilder2> spBuilder;
    ASSERT_EQ(S_OK, spBuilder.CoCreateInstance(CLSID_CaptureGraphBuilder2));
    CComPtr<IPin> spFound;
    EXPECT_EQ(S_OK, spBuilder->FindPin(spSource, PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr, FALSE, 0, &spFound));
    EXPECT_TRUE(spFound.IsEqualObject(spOut));
}

// Two device entries under one friendly name in the video input category, as a machine with
// two cameras of the same model has them; the system device enumerator lists both.
TEST(KitRegistration, SeveralInstancesUnderOneFriendlyName) {
    ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    const wchar_t* pszName = L"Quorlin Kit Test Camera";
    auto countNamed = [&]() {
        int n = 0;
        CComPtr<ICreateDevEnum> spDevEnum;
        if (FAILED(spDevEnum.CoCreateInstance(CLSID_SystemDeviceEnum))) return -1;
        CComPtr<IEnumMoniker> spEnum;
        if (spDevEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &spEnum, 0) != S_OK) return 0;
        CComPtr<IMoniker> spMoniker;
        while (spEnum->Next(1, &spMoniker, nullptr) == S_OK) {
            CComPtr<IPropertyBag> spBag;
            if (SUCCEEDED(spMoniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, (void**)&spBag))) {
                CComVariant var;
                if (SUCCEEDED(spBag->Read(L"FriendlyName", &var, nullptr)) && var.vt == VT_BSTR &&
                    lstrcmpW(var.bstrVal, pszName) == 0)
                    ++n;
            }
            spMoniker.Release();
        }
        return n;
    };
    EXPECT_EQ(0, countNamed());
    EXPECT_EQ(S_OK, KitRegisterFilter(CLSID_QuorlinTestSource, pszName, &CLSID_VideoInputDeviceCategory,
                                      L"Quorlin Kit Test Camera 1", nullptr));
    EXPECT_EQ(S_OK, KitRegisterFilter(CLSID_QuorlinTestSource, pszName, &CLSID_VideoInputDeviceCategory,
                                      L"Quorlin Kit Test Camera 2", nullptr));
    EXPECT_EQ(2, countNamed());
    EXPECT_EQ(S_OK, KitUnregisterFilter(CLSID_QuorlinTestSource, &CLSID_VideoInputDeviceCategory,
                                        L"Quorlin Kit Test Camera 1"));
    EXPECT_EQ(S_OK, KitUnregisterFilter(CLSID_QuorlinTestSource, &CLSID_VideoInputDeviceCategory,
                                        L"Quorlin Kit Test Camera 2"));
    EXPECT_EQ(0, countNamed());
    ::CoUninitialize();
}

}  // namespace

namespace {

// A transform on the kit's base: frame n comes out n % 3 times (none, once, twice), its
// type unchanged.
class CRepeater : public CKitTransform {
public:
    CRepeater() : CKitTransform(L"Repeater", nullptr, GUID_NULL) {}
    int flushes = 0;
    int ends = 0;

protected:
    HRESULT CheckInputType(const AM_MEDIA_TYPE* pmt) override {
        return pmt->majortype == MEDIATYPE_Video ? S_OK : S_FALSE;
    }
    HRESULT CheckOutputType(const AM_MEDIA_TYPE* pmt) override {
        return pmt->subtype == Input()->CurrentMediaType().subtype ? S_OK : S_FALSE;
    }
    HRESULT GetOutputType(int iPosition, CKitMediaType* pmt) override {
        if (iPosition != 0) return VFW_S_NO_MORE_ITEMS;
        *pmt = Input()->CurrentMediaType();
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) override {
        return CKitOutputPin::SetBufferProperties(pAlloc, pProps, 2, (long)Input()->CurrentMediaType().lSampleSize);
    }
    HRESULT Transform(IMediaSample* pIn) override {
        BYTE* pData = nullptr;
        pIn->GetPointer(&pData);
        const int n = pData[0];
        for (int i = 0; i < n % 3; ++i) {
            IMediaSample* pOut = nullptr;
            HRESULT hr = Output()->GetDeliveryBuffer(&pOut);
            if (FAILED(hr)) return hr;
            BYTE* pOutData = nullptr;
            pOut->GetPointer(&pOutData);
            memcpy(pOutData, pData, pIn->GetActualDataLength());
            pOut->SetActualDataLength(pIn->GetActualDataLength());
            hr = Output()->Deliver(pOut);
            pOut->Release();
            if (hr != S_OK) return hr;
        }
        return S_OK;
    }
    HRESULT OnEndOfStream() override {
        ++ends;
        return S_OK;
    }
    void OnFlush() override { ++flushes; }
};

}  // namespace

TEST_F(KitGraph, TransformTurnsEachSampleIntoNoneOrMoreAndPassesTheStreamEventsOn) {
    CTestSource* pSource;
    CTestSink* pSink;
    AddPair(6, &pSource, &pSink);
    pSource->fill = [](int n, BYTE* p, long) { p[0] = (BYTE)n; };
    auto* pRepeater = new CRepeater();
    CComPtr<IBaseFilter> spRepeater(static_cast<IBaseFilter*>(pRepeater));
    ASSERT_EQ(S_OK, spGraph->AddFilter(spRepeater, L"Repeater"));

    // The output has no type to offer before the input is connected.
    CComPtr<IPin> spOut, spIn;
    spOut.Attach(FirstPin(spSource, PINDIR_OUTPUT));
    spIn.Attach(FirstPin(spSink, PINDIR_INPUT));
    EXPECT_TRUE(FAILED(spGraph->ConnectDirect(pRepeater->Output(), spIn, nullptr)));
    EXPECT_FALSE(pRepeater->Output()->IsConnected());
    ASSERT_EQ(S_OK, spGraph->ConnectDirect(spOut, pRepeater->Input(), nullptr));
    ASSERT_EQ(S_OK, spGraph->ConnectDirect(pRepeater->Output(), spIn, nullptr));
    EXPECT_EQ(MEDIASUBTYPE_RGB24, pSink->Input()->CurrentMediaType().subtype);

    CComQIPtr<IMediaControl> spControl(spGraph);
    ASSERT_TRUE(SUCCEEDED(spControl->Run()));
    EXPECT_EQ(EC_COMPLETE, WaitForGraphEvent(spGraph, 10000));
    std::string firsts;
    for (const CollectedSample& s : pSink->Samples()) firsts += (char)('0' + s.data[0]);
    EXPECT_EQ("122455", firsts);
    EXPECT_EQ(1, pRepeater->ends);
    EXPECT_TRUE(pSink->GotEndOfStream());

    // Flushes and new segments reach the pin downstream; the filter forgets what it holds.
    EXPECT_EQ(S_OK, pRepeater->Input()->BeginFlush());
    EXPECT_TRUE(pSink->Input()->IsFlushing());
    EXPECT_EQ(S_OK, pRepeater->Input()->EndFlush());
    EXPECT_FALSE(pSink->Input()->IsFlushing());
    EXPECT_EQ(1, pRepeater->flushes);
    EXPECT_EQ(S_OK, pRepeater->Input()->NewSegment(5000000, 9000000, 2.0));
    EXPECT_EQ(5000000, pSink->Input()->SegmentStart());
    EXPECT_EQ(2.0, pSink->Input()->SegmentRate());
    spControl->Stop();
}

namespace {

// Records the events a filter sends to its graph; answers nothing else.
class EventRecorder : public IFilterGraph, public IMediaEventSink {
public:
    std::vector<long> events;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IFilterGraph) *ppv = static_cast<IFilterGraph*>(this);
        if (riid == IID_IMediaEventSink) *ppv = static_cast<IMediaEventSink*>(this);
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
    STDMETHODIMP FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    STDMETHODIMP ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP Reconnect(IPin*) override { return E_NOTIMPL; }
    STDMETHODIMP Disconnect(IPin*) override { return E_NOTIMPL; }
    STDMETHODIMP SetDefaultSyncSource() override { return E_NOTIMPL; }
    STDMETHODIMP Notify(long lEventCode, LONG_PTR, LONG_PTR) override {
        events.push_back(lEventCode);
        return S_OK;
    }
};

// A sink whose end of stream fails, as the writer's does when its file can't be finished.
class CFailingSink : public CTestSink {
protected:
    HRESULT OnEndOfStream() override { return E_FAIL; }
};

}  // namespace

TEST(KitRenderer, CompletesOnceForEachEndOfStreamAndOnlyWhileRunning) {
    // A script of what happens to the renderer: P pause, R run, S stop, E end of stream,
    // F flush; and the EC_COMPLETE events it sent by then.
    struct Case {
        const char* script;
        size_t completes;
    } cases[] = {
        {"RE", 1},     // the end while running
        {"PE", 0},     // while paused it waits
        {"PER", 1},    // ... until the filter runs
        {"REE", 1},    // one end, one event
        {"REPRE", 1},  // pausing and running again does not repeat it
        {"REFE", 2},   // a flush starts a new stream with an end of its own
        {"PEFR", 0},   // an end flushed away before the run is forgotten
        {"PESR", 0},   // so is one before a stop
        {"RPER", 1},   // leaving the running state holds it back again
        {"RESRE", 2},  // every run from the stopped state completes anew
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        EventRecorder graph;
        auto* pSink = new CTestSink();
        CComPtr<IBaseFilter> spSink(static_cast<IBaseFilter*>(pSink));
        ASSERT_EQ(S_OK, spSink->JoinFilterGraph(&graph, L"Sink"));
        for (const char* p = c.script; *p; ++p) {
            switch (*p) {
            case 'P': ASSERT_EQ(S_OK, spSink->Pause()); break;
            case 'R': ASSERT_EQ(S_OK, spSink->Run(0)); break;
            case 'S': ASSERT_EQ(S_OK, spSink->Stop()); break;
            case 'E': ASSERT_EQ(S_OK, pSink->Input()->EndOfStream()); break;
            case 'F':
                pSink->Input()->BeginFlush();
                pSink->Input()->EndFlush();
                break;
            }
        }
        EXPECT_EQ(std::vector<long>(c.completes, EC_COMPLETE), graph.events);
        spSink->Stop();
        spSink->JoinFilterGraph(nullptr, nullptr);
    }

    // An end of stream the renderer could not handle is answered upstream and never completes.
    EventRecorder graph;
    auto* pFailing = new CFailingSink();
    CComPtr<IBaseFilter> spFailing(static_cast<IBaseFilter*>(pFailing));
    ASSERT_EQ(S_OK, spFailing->JoinFilterGraph(&graph, L"Sink"));
    ASSERT_EQ(S_OK, spFailing->Pause());
    EXPECT_EQ(E_FAIL, pFailing->Input()->EndOfStream());
    ASSERT_EQ(S_OK, spFailing->Run(0));
    EXPECT_EQ(E_FAIL, pFailing->Input()->EndOfStream());
    EXPECT_TRUE(graph.events.empty());
    spFailing->Stop();
    spFailing->JoinFilterGraph(nullptr, nullptr);
}
