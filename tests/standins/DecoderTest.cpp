// The H.264 decoder filter in real graphs: what it decodes is compared with ffmpeg's decoding
// of the same stream; fed by the encoder, by Smart Tee's "Preview" pin, rendered by the graph
// manager, and created from either of its class identifiers.
#include "graph/Vireon.h"
#include "tests/standins/AnnexBSource.h"
#include "tests/standins/MediaTools.h"
#include "tests/support/HostTools.h"
#include "tests/support/KitTestFilters.h"

#include <gtest/gtest.h>

#include <atlbase.h>

#include <cstdlib>

namespace {

const int kW = 160, kH = 96, kFps = 25, kFrames = 40;
const REFERENCE_TIME kFrame = 10000000 / kFps;

const RefStream& Ref() {
    static RefStream ref = MakeRefStream(kW, kH, kFps, kFrames, "-profile:v baseline -g 10");
    return ref;
}

// ffmpeg's decoding of the reference stream as bottom-up BGRX pictures, like an RGB32 DIB.
const std::string& RefPictures() {
    static std::string rgb;
    if (rgb.empty()) {
        std::string out = UniqueTmpPath(".rgb");
        if (RunHost("ffmpeg -v error -y -i '" + Ref().h264Path +
                    "' -vf vflip -pix_fmt bgr0 -f rawvideo '" + out + "'") == 0)
            ReadHostFile(out, &rgb);
    }
    return rgb;
}

// Mean absolute difference of two pictures' colour bytes.
double MeanDiff(const std::string& a, const std::string& b) {
    if (a.size() != b.size() || a.empty()) return 1e9;
    double sum = 0;
    size_t n = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (i % 4 == 3) continue;
        sum += std::abs((int)(uint8_t)a[i] - (int)(uint8_t)b[i]);
        ++n;
    }
    return sum / (double)n;
}

// Bytes of the blocks in use in the process's heaps.
long long HeapBytesInUse() {
    HANDLE rghHeaps[256];
    const DWORD cHeaps = ::GetProcessHeaps(256, rghHeaps);
    long long cb = 0;
    for (DWORD i = 0; i < cHeaps && i < 256; ++i) {
        if (!::HeapLock(rghHeaps[i])) continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (::HeapWalk(rghHeaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) cb += entry.cbData;
        ::HeapUnlock(rghHeaps[i]);
    }
    return cb;
}

// Takes a class's registration away for the guard's life and puts it back with the
// server's own DllRegisterServer.
class CHiddenClass {
public:
    explicit CHiddenClass(REFCLSID clsid) {
        wchar_t szClsid[40];
        ::StringFromGUID2(clsid, szClsid, 40);
        m_key = std::wstring(L"CLSID\\") + szClsid;
        wchar_t szPath[MAX_PATH] = {};
        LONG cb = sizeof szPath;
        if (::RegQueryValueW(HKEY_CLASSES_ROOT, (m_key + L"\\InprocServer32").c_str(), szPath, &cb) ==
            ERROR_SUCCESS)
            m_server = szPath;
        m_bHidden = !m_server.empty() && ::RegDeleteTreeW(HKEY_CLASSES_ROOT, m_key.c_str()) == ERROR_SUCCESS;
    }
    ~CHiddenClass() {
        if (!m_bHidden) return;
        HMODULE hModule = ::LoadLibraryW(m_server.c_str());
        auto pfn = hModule ? (HRESULT(STDAPICALLTYPE*)())::GetProcAddress(hModule, "DllRegisterServer") : nullptr;
        HRESULT hr = pfn ? pfn() : E_FAIL;
        EXPECT_EQ(S_OK, hr) << "registration not restored";
    }
    bool Hidden() const { return m_bHidden; }

private:
    std::wstring m_key, m_server;
    bool m_bHidden = false;
};

struct DecoderGraph : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        ASSERT_FALSE(Ref().h264Path.empty()) << "ffmpeg could not make the reference stream";
        ASSERT_EQ(S_OK, spGraph.CoCreateInstance(CLSID_FilterGraph));
    }
    void TearDown() override {
        if (spGraph) {
            CComQIPtr<IMediaControl> spControl(spGraph);
            if (spControl) spControl->Stop();
        }
        filters.clear();
        spGraph.Release();
        ::CoUninitialize();
    }
    IBaseFilter* Add(IBaseFilter* pFilter, const wchar_t* pszName) {
        filters.push_back(pFilter);
        EXPECT_EQ(S_OK, spGraph->AddFilter(pFilter, pszName));
        return pFilter;
    }
    IBaseFilter* AddDecoder(REFCLSID clsid = CLSID_VireonDecoder) {
        CComPtr<IBaseFilter> spDecoder;
        HRESULT hr = spDecoder.CoCreateInstance(clsid);
        EXPECT_EQ(S_OK, hr);
        return spDecoder ? Add(spDecoder, L"Morvane H264 Decoder") : nullptr;
    }
    IBaseFilter* AddSource() {
        return Add(new CAnnexBSource(Ref().bytes, kW, kH, kFrame, Ref().pts, Ref().key), L"Source");
    }
    CTestSink* AddSink() {
        auto* pSink = new CTestSink();
        pSink->accept = [](const AM_MEDIA_TYPE& mt) { return mt.subtype == MEDIASUBTYPE_RGB32; };
        Add(pSink, L"Sink");
        return pSink;
    }
    HRESULT Connect(IBaseFilter* pFrom, IBaseFilter* pTo, const wchar_t* pszOut = nullptr) {
        CComPtr<IPin> spOut, spIn;
        if (pszOut) pFrom->FindPin(pszOut, &spOut);
        else spOut.p = FirstPin(pFrom, PINDIR_OUTPUT);
        spIn.p = FirstPin(pTo, PINDIR_INPUT);
        if (!spOut || !spIn) return E_FAIL;
        return spGraph->ConnectDirect(spOut, spIn, nullptr);
    }
    long RunToEnd() {
        CComQIPtr<IMediaControl> spControl(spGraph);
        if (FAILED(spControl->Run())) return -1;
        long ev = WaitForGraphEvent(spGraph, 30000);
        spControl->Stop();
        return ev;
    }
    // The sink got every picture, each as ffmpeg decodes it.
    void ExpectReferencePictures(CTestSink* pSink, bool bTimed) {
        std::vector<CollectedSample> samples = pSink->Samples();
        ASSERT_EQ((size_t)kFrames, samples.size());
        const std::string& ref = RefPictures();
        const size_t cb = (size_t)kW * kH * 4;
        ASSERT_EQ(cb * kFrames, ref.size());
        for (size_t i = 0; i < samples.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(bTimed, samples[i].bHasTime);
            if (bTimed) {
                EXPECT_EQ((REFERENCE_TIME)i * kFrame, samples[i].tStart);
            }
            ASSERT_EQ(cb, samples[i].data.size());
            EXPECT_LT(MeanDiff(samples[i].data, ref.substr(i * cb, cb)), 3.0);
        }
    }
    CComPtr<IGraphBuilder> spGraph;
    std::vector<CComPtr<IBaseFilter>> filters;
};

TEST_F(DecoderGraph, DecodesTheStreamFromEitherClassIdentifierAlone) {
    struct {
        const char* what;
        CLSID clsid;
        CLSID hidden;
    } cases[] = {
        {"first identifier, the alternative hidden", CLSID_VireonDecoder, CLSID_VireonDecoderAlt},
        {"alternative identifier, the first hidden", CLSID_VireonDecoderAlt, CLSID_VireonDecoder},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CHiddenClass hidden(c.hidden);
        ASSERT_TRUE(hidden.Hidden());
        CComPtr<IBaseFilter> spGone;
        EXPECT_EQ(REGDB_E_CLASSNOTREG, spGone.CoCreateInstance(c.hidden));

        IBaseFilter* pDecoder = AddDecoder(c.clsid);
        ASSERT_TRUE(pDecoder);
        CLSID clsid;
        pDecoder->GetClassID(&clsid);
        EXPECT_EQ(c.clsid, clsid);
        IBaseFilter* pSource = AddSource();
        CTestSink* pSink = AddSink();
        ASSERT_EQ(S_OK, Connect(pSource, pDecoder));
        ASSERT_EQ(S_OK, Connect(pDecoder, pSink));
        EXPECT_EQ(EC_COMPLETE, RunToEnd());
        ExpectReferencePictures(pSink, true);
        TearDown();
        SetUp();
    }
}

TEST_F(DecoderGraph, DecodersCreatedAndReleasedLeaveNoHeapBehind) {
    auto makeOne = [] {
        CComPtr<IBaseFilter> spDecoder;
        EXPECT_EQ(S_OK, spDecoder.CoCreateInstance(CLSID_VireonDecoder));
    };
    makeOne();  // first use: the server and what the platform keeps for the process
    makeOne();
    const long long cbBefore = HeapBytesInUse();
    const int kDecoders = 20;
    for (int i = 0; i < kDecoders; ++i) makeOne();
    // A start and shutdown of Media Foundation per decoder kept 160 bytes each time.
    EXPECT_LT(HeapBytesInUse() - cbBefore, kDecoders * 32);
}

TEST_F(DecoderGraph, DecodesSmartTeePreviewSamplesWithoutTimeStamps) {
    IBaseFilter* pSource = AddSource();
    CComPtr<IBaseFilter> spTee;
    ASSERT_EQ(S_OK, spTee.CoCreateInstance(CLSID_SmartTee));
    Add(spTee, L"Smart Tee");
    IBaseFilter* pDecoder = AddDecoder();
    CTestSink* pSink = AddSink();
    ASSERT_EQ(S_OK, Connect(pSource, spTee));
    ASSERT_EQ(S_OK, Connect(spTee, pDecoder, L"Preview"));
    ASSERT_EQ(S_OK, Connect(pDecoder, pSink));
    EXPECT_EQ(EC_COMPLETE, RunToEnd());
    ExpectReferencePictures(pSink, false);
}

TEST_F(DecoderGraph, DecodesWhatTheEncoderMakes) {
    // 64 x 48 RGB32 frames of four coloured quadrants.
    CKitMediaType mt;
    mt.Set(MEDIATYPE_Video, MEDIASUBTYPE_RGB32, FORMAT_VideoInfo);
    auto* pvi = (VIDEOINFOHEADER*)mt.AllocFormat(sizeof(VIDEOINFOHEADER));
    pvi->AvgTimePerFrame = kFrame;
    pvi->bmiHeader = {sizeof(BITMAPINFOHEADER), 64, 48, 1, 32, BI_RGB, 64 * 48 * 4};
    mt.bFixedSizeSamples = TRUE;
    mt.lSampleSize = 64 * 48 * 4;
    auto* pRaw = new CTestSource({mt}, 30, kFrame);
    pRaw->fill = [](int, BYTE* p, long cb) {
        for (long i = 0; i + 3 < cb; i += 4) {
            int x = (i / 4) % 64, y = (i / 4) / 64;  // bottom-up
            p[i + 2] = x < 32 ? 230 : 20;
            p[i + 1] = y < 24 ? 200 : 40;
            p[i + 0] = 90;
        }
    };
    Add(pRaw, L"Raw");
    CComPtr<IBaseFilter> spEncoder;
    ASSERT_EQ(S_OK, spEncoder.CoCreateInstance(CLSID_VireonEncoder));
    Add(spEncoder, L"Morvane H264 Encoder");
    IBaseFilter* pDecoder = AddDecoder();
    CTestSink* pSink = AddSink();
    ASSERT_EQ(S_OK, Connect(pRaw, spEncoder));
    ASSERT_EQ(S_OK, Connect(spEncoder, pDecoder));
    ASSERT_EQ(S_OK, Connect(pDecoder, pSink));
    EXPECT_EQ(EC_COMPLETE, RunToEnd());
    std::vector<CollectedSample> samples = pSink->Samples();
    EXPECT_EQ(30u, samples.size());
    const std::string& first = samples.empty() ? std::string() : samples[0].data;
    ASSERT_EQ(64u * 48 * 4, first.size());
    // The bottom-left quadrant stays red-ish, the top-right green-ish.
    const uint8_t* p = (const uint8_t*)first.data();
    const uint8_t* pBL = p + (8 * 64 + 8) * 4;
    const uint8_t* pTR = p + (40 * 64 + 56) * 4;
    EXPECT_NEAR(230, pBL[2], 16);
    EXPECT_NEAR(200, pBL[1], 16);
    EXPECT_NEAR(20, pTR[2], 16);
    EXPECT_NEAR(40, pTR[1], 16);
}

TEST_F(DecoderGraph, RenderingItsOutputAddsAVideoRenderer) {
    IBaseFilter* pSource = AddSource();
    IBaseFilter* pDecoder = AddDecoder();
    ASSERT_EQ(S_OK, Connect(pSource, pDecoder));
    CComPtr<IPin> spOut;
    spOut.p = FirstPin(pDecoder, PINDIR_OUTPUT);
    ASSERT_EQ(S_OK, spGraph->Render(spOut));
    CComPtr<IPin> spPeer;
    ASSERT_EQ(S_OK, spOut->ConnectedTo(&spPeer));
    PIN_INFO info;
    ASSERT_EQ(S_OK, spPeer->QueryPinInfo(&info));
    CComPtr<IBaseFilter> spRenderer;
    spRenderer.Attach(info.pFilter);
    CComQIPtr<IAMFilterMiscFlags> spFlags(spRenderer);
    ASSERT_TRUE(spFlags);
    EXPECT_TRUE(spFlags->GetMiscFlags() & AM_FILTER_MISC_FLAGS_IS_RENDERER);
    CComQIPtr<IVideoWindow> spWindow(spGraph);
    long lVisible = 0;
    EXPECT_EQ(S_OK, spWindow->get_Visible(&lVisible));
    EXPECT_EQ(EC_COMPLETE, RunToEnd());
}

}  // namespace
