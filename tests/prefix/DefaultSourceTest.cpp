// The bench's default source on drive F: of the prefix: the SD sample video, the folder for
// the output, and the saved graph with the maker's encoder, which loads through the graph
// manager and plays to its end. Also the tool that makes that graph.
#include <gtest/gtest.h>

#include <windows.h>

#include "graph/DShow.h"
#include "graph/Graph.h"
#include "graph/Vireon.h"

#include <atlbase.h>

#include <string>
#include <vector>

#include "tests/support/DiagCapture.h"
#include "tests/support/HostTools.h"

namespace {

const wchar_t kDefaultGraph[] = L"F:\\Ref_movies\\Test graphs\\Belukha_SD.mp4.grf";
const wchar_t kDefaultVideo[] = L"F:\\Ref_movies\\Test graphs\\Belukha_SD.mp4";
const wchar_t kOutputFolder[] = L"F:\\Ref_movies\\TestMovies";
// Sample Grabbers: video filters of the platform that stand in for the maker's filters when
// the tool itself is tested.
const wchar_t kSampleGrabber[] = L"{C1F400A0-3F08-11D3-9F0B-006008039E37}";

// Loads a .grf file the way the bench does.
HRESULT LoadGraphFile(IGraphBuilder* pGraph, LPCWSTR pszFile) {
    CComQIPtr<IPersistStream> spPersist(pGraph);
    if (!spPersist) return E_NOINTERFACE;
    CComPtr<IStorage> spStorage;
    HRESULT hr = StgOpenStorage(pszFile, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &spStorage);
    if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
    CComPtr<IStream> spStm;
    hr = spStorage->OpenStream(L"ActiveMovieGraph", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &spStm);
    if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
    return spPersist->Load(spStm);
}

struct Node {
    std::wstring name;
    CLSID clsid;
    int nIn = 0, nOut = 0, nConnectedIn = 0, nConnectedOut = 0;
};

std::vector<Node> Nodes(IGraphBuilder* pGraph) {
    std::vector<Node> v;
    CComPtr<IEnumFilters> spEnum;
    pGraph->EnumFilters(&spEnum);
    CComPtr<IBaseFilter> spFilter;
    while (spEnum && spEnum->Next(1, &spFilter, nullptr) == S_OK) {
        Node n;
        FILTER_INFO info = {};
        spFilter->QueryFilterInfo(&info);
        if (info.pGraph) info.pGraph->Release();
        n.name = info.achName;
        spFilter->GetClassID(&n.clsid);
        CComPtr<IEnumPins> spPins;
        spFilter->EnumPins(&spPins);
        CComPtr<IPin> spPin;
        while (spPins && spPins->Next(1, &spPin, nullptr) == S_OK) {
            PIN_DIRECTION dir;
            spPin->QueryDirection(&dir);
            CComPtr<IPin> spPeer;
            bool bConnected = spPin->ConnectedTo(&spPeer) == S_OK;
            (dir == PINDIR_INPUT ? n.nIn : n.nOut)++;
            if (bConnected) (dir == PINDIR_INPUT ? n.nConnectedIn : n.nConnectedOut)++;
            spPin.Release();
        }
        v.push_back(n);
        spFilter.Release();
    }
    return v;
}
const Node* Find(const std::vector<Node>& v, const wchar_t* pszName) {
    for (const Node& n : v)
        if (n.name == pszName) return &n;
    return nullptr;
}

long RunToEnd(IGraphBuilder* pGraph, long timeoutMs) {
    CComQIPtr<IMediaControl> spControl(pGraph);
    CComQIPtr<IMediaEvent> spEvent(pGraph);
    if (FAILED(spControl->Run())) return -1;
    long code = 0;
    HRESULT hr = spEvent->WaitForCompletion(timeoutMs, &code);
    spControl->Stop();
    return hr == S_OK ? code : -2;
}

// Runs make-grf and returns its exit code.
DWORD RunMakeGrf(const std::wstring& args) {
    std::wstring cmd = L"\"" + ToWinPath(QUORLIN_MAKE_GRF) + L"\" " + args;
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 1000;
    WaitForSingleObject(pi.hProcess, 120000);
    DWORD rc = 1001;
    GetExitCodeProcess(pi.hProcess, &rc);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return rc;
}

class DefaultSource : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(DefaultSource, DriveFHoldsTheSampleVideoAndTheOutputFolder) {
    DWORD attrs = GetFileAttributesW(kOutputFolder);
    ASSERT_NE(attrs, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attrs & FILE_ATTRIBUTE_DIRECTORY);
    attrs = GetFileAttributesW(kDefaultVideo);
    ASSERT_NE(attrs, INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(attrs & FILE_ATTRIBUTE_DIRECTORY);

    // SD, 25 fps, 10 to 20 s, H.264, no audio.
    std::string out;
    ASSERT_EQ(RunHost("f=\"$(readlink -f \"$WINEPREFIX/dosdevices/f:\")/Ref_movies/Test graphs/Belukha_SD.mp4\"; "
                      "ffprobe -v error -show_entries stream=codec_type,codec_name,width,height,r_frame_rate "
                      "-show_entries format=duration -of default=nw=1 \"$f\"",
                      &out),
              0);
    EXPECT_NE(out.find("codec_name=h264"), std::string::npos) << out;
    EXPECT_NE(out.find("width=720\nheight=576"), std::string::npos) << out;
    EXPECT_NE(out.find("r_frame_rate=25/1"), std::string::npos) << out;
    EXPECT_EQ(out.find("codec_type=audio"), std::string::npos) << out;
    size_t at = out.find("duration=");
    ASSERT_NE(at, std::string::npos) << out;
    double dblDuration = atof(out.c_str() + at + 9);
    EXPECT_GE(dblDuration, 10.0);
    EXPECT_LE(dblDuration, 20.0);
}

// The tool with platform filters standing in for the maker's: the saved graph has the chain
// file -> ... -> encoder -> decoder -> renderer under the maker's names, loads and plays.
TEST_F(DefaultSource, MakeGrfSavesTheEncoderChain) {
    std::string video = TestTmpDir() + "/make-grf-sample.mp4";
    if (!HostFileExists(video)) {
        ASSERT_EQ(RunHost("ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -t 1 -c:v libx264 "
                          "-pix_fmt yuv420p '" + video + "'"),
                  0);
    }
    std::string grf = UniqueTmpPath(".grf");
    ASSERT_EQ(RunMakeGrf(L"\"" + ToWinPath(grf) + L"\" \"" + ToWinPath(video) + L"\" " + kSampleGrabber + L" " +
                         kSampleGrabber),
              0u);
    EXPECT_FALSE(HostFileExists(grf + ".tmp"));

    CComPtr<IGraphBuilder> spGraph;
    ASSERT_HRESULT_SUCCEEDED(spGraph.CoCreateInstance(CLSID_FilterGraph));
    ASSERT_EQ(LoadGraphFile(spGraph, ToWinPath(grf).c_str()), S_OK);
    std::vector<Node> v = Nodes(spGraph);
    const Node* enc = Find(v, L"Morvane H264 Encoder");
    const Node* dec = Find(v, L"Morvane H264 Decoder");
    ASSERT_TRUE(enc && dec);
    EXPECT_EQ(enc->nConnectedIn, 1);
    EXPECT_EQ(enc->nConnectedOut, 1);
    EXPECT_EQ(dec->nConnectedIn, 1);
    EXPECT_EQ(dec->nConnectedOut, 1);
    int nRenderers = 0;
    for (const Node& n : v)
        if (n.nOut == 0 && n.nConnectedIn == 1) ++nRenderers;
    EXPECT_EQ(nRenderers, 1);
    EXPECT_EQ(RunToEnd(spGraph, 30000), EC_COMPLETE);

    // Without the maker's filters the tool says so with its own code and writes nothing.
    std::string none = UniqueTmpPath(".grf");
    EXPECT_EQ(RunMakeGrf(L"\"" + ToWinPath(none) + L"\" \"" + ToWinPath(video) +
                         L"\" {01234567-89AB-CDEF-0123-456789ABCDEF} {01234567-89AB-CDEF-0123-456789ABCDEF}"),
              2u);
    EXPECT_FALSE(HostFileExists(none));
}

TEST_F(DefaultSource, DefaultGraphHoldsTheEncoderAndPlays) {
    if (GetFileAttributesW(kDefaultGraph) == INVALID_FILE_ATTRIBUTES) {
        CComPtr<IBaseFilter> spEncoder, spDecoder, spDecoderAlt;
        if (FAILED(spEncoder.CoCreateInstance(CLSID_VireonEncoder)) ||
            (FAILED(spDecoder.CoCreateInstance(CLSID_VireonDecoder)) &&
             FAILED(spDecoderAlt.CoCreateInstance(CLSID_VireonDecoderAlt))))
            GTEST_SKIP() << "the encoder and decoder stand-ins are not both registered, so the set-up made no "
                            "default graph";
        FAIL() << "the encoder and decoder are registered but the set-up made no default graph";
    }
    CComPtr<IGraphBuilder> spGraph;
    ASSERT_HRESULT_SUCCEEDED(spGraph.CoCreateInstance(CLSID_FilterGraph));
    ASSERT_EQ(LoadGraphFile(spGraph, kDefaultGraph), S_OK);
    std::vector<Node> v = Nodes(spGraph);
    const Node* enc = Find(v, L"Morvane H264 Encoder");
    const Node* dec = Find(v, L"Morvane H264 Decoder");
    ASSERT_TRUE(enc && dec);
    EXPECT_TRUE(enc->clsid == CLSID_VireonEncoder);
    EXPECT_TRUE(dec->clsid == CLSID_VireonDecoder || dec->clsid == CLSID_VireonDecoderAlt);
    EXPECT_EQ(enc->nIn, 1);
    EXPECT_EQ(enc->nOut, 1);
    EXPECT_EQ(enc->nConnectedIn, 1);
    EXPECT_EQ(enc->nConnectedOut, 1);
    EXPECT_EQ(dec->nConnectedOut, 1);
    EXPECT_EQ(RunToEnd(spGraph, 180000), EC_COMPLETE);
}

}  // namespace

// The bench's own path for saved graphs (CGraph) on the real graph manager of this prefix.
namespace {

class BenchGraphFile : public DefaultSource {
protected:
    void SetUp() override {
        DefaultSource::SetUp();
        m_hWnd = CreateWindowExW(0, L"STATIC", L"bench", WS_OVERLAPPEDWINDOW, 100, 300, 400, 300, NULL, NULL,
                                 NULL, NULL);
        ASSERT_TRUE(m_hWnd);
    }
    void TearDown() override {
        m_graph.Release();
        DestroyWindow(m_hWnd);
        DefaultSource::TearDown();
    }
    // A saved graph with the platform's Sample Grabbers in the maker's places.
    std::string GraphWithoutTheMakersFilters() {
        std::string video = TestTmpDir() + "/make-grf-sample.mp4";
        if (!HostFileExists(video) &&
            RunHost("ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -t 1 -c:v libx264 "
                    "-pix_fmt yuv420p '" + video + "'") != 0)
            return std::string();
        std::string grf = UniqueTmpPath(".grf");
        if (RunMakeGrf(L"\"" + ToWinPath(grf) + L"\" \"" + ToWinPath(video) + L"\" " + kSampleGrabber + L" " +
                       kSampleGrabber) != 0)
            return std::string();
        return grf;
    }
    HRESULT LoadInto(const std::wstring& file) {
        m_graph.Release();
        HRESULT hr = m_graph.m_spGraph.CoCreateInstance(CLSID_FilterGraph);
        return FAILED(hr) ? hr : m_graph.BuildFromGRFFile(file.c_str());
    }

    CGraph m_graph;
    HWND m_hWnd = NULL;
    DiagCapture m_diag;
};

TEST_F(BenchGraphFile, LoadsASavedGraphAndRefusesOneWithoutTheEncoder) {
    std::string grf = GraphWithoutTheMakersFilters();
    ASSERT_FALSE(grf.empty());
    ASSERT_EQ(LoadInto(ToWinPath(grf)), S_OK) << m_diag.Dump();
    std::vector<Node> v = Nodes(m_graph.m_spGraph);
    EXPECT_EQ(v.size(), 5u);
    EXPECT_TRUE(Find(v, L"Morvane H264 Encoder"));
    EXPECT_TRUE(m_diag.Reports().empty()) << m_diag.Dump();

    // The whole build: the graph loads, but what stands in the encoder's place is no encoder.
    m_graph.Release();
    EXPECT_EQ(m_graph.BuildGraph(ToWinPath(grf).c_str(), false, NULL, false, m_hWnd, WM_GRAPHNOTIFY), E_FAIL);
    EXPECT_TRUE(m_diag.HasReport(L"CGraph::BuildGraph(): Morvane H264 Encoder not found")) << m_diag.Dump();
}

TEST_F(BenchGraphFile, BadGraphFilesFailWithTheirDiagnostics) {
    // No file.
    HRESULT hr = LoadInto(ToWinPath(UniqueTmpPath(".grf")));
    EXPECT_TRUE(FAILED(hr));
    EXPECT_TRUE(m_diag.HasReport(L"CGraph::BuildFromGRFFile(): Can't open .grf file")) << m_diag.Dump();

    // A compound file without the graph's stream, and one whose stream holds no graph.
    auto makeFile = [](const std::wstring& path, const wchar_t* pszStream, const std::string& content) {
        CComPtr<IStorage> spStorage;
        ASSERT_HRESULT_SUCCEEDED(StgCreateDocfile(path.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &spStorage));
        CComPtr<IStream> spStm;
        ASSERT_HRESULT_SUCCEEDED(spStorage->CreateStream(pszStream, STGM_WRITE | STGM_CREATE | STGM_SHARE_EXCLUSIVE, 0, 0, &spStm));
        ULONG cb;
        spStm->Write(content.data(), ULONG(content.size()), &cb);
    };
    std::wstring noStream = ToWinPath(UniqueTmpPath(".grf"));
    makeFile(noStream, L"SomethingElse", "x");
    m_diag.Clear();
    EXPECT_TRUE(FAILED(LoadInto(noStream)));
    EXPECT_TRUE(m_diag.HasReport(L"CGraph::BuildFromGRFFile(): Invalid .grf file")) << m_diag.Dump();

    std::wstring garbage = ToWinPath(UniqueTmpPath(".grf"));
    makeFile(garbage, L"ActiveMovieGraph", std::string("0\0\0\0F\0I\0L\0", 10));
    m_diag.Clear();
    EXPECT_EQ(LoadInto(garbage), VFW_E_INVALID_FILE_FORMAT);
    EXPECT_TRUE(m_diag.HasReport(L"CGraph::BuildFromGRFFile(): Can't load data from .grf file")) << m_diag.Dump();
    EXPECT_TRUE(Nodes(m_graph.m_spGraph).empty());
}

// The bench's default source, built the way "Build graph" builds it.
TEST_F(BenchGraphFile, DefaultSourceBuildsAndPlays) {
    if (GetFileAttributesW(kDefaultGraph) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no default graph yet (the encoder and decoder stand-ins are not both registered)";
    ASSERT_EQ(m_graph.BuildGraph(kDefaultGraph, false, NULL, false, m_hWnd, WM_GRAPHNOTIFY), S_OK) << m_diag.Dump();
    EXPECT_TRUE(m_graph.m_spVireon);
    EXPECT_EQ(RunToEnd(m_graph.m_spGraph, 180000), EC_COMPLETE);
}

}  // namespace
