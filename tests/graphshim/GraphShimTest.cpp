// The graph manager of this prefix: the platform's own, aggregated by the graph shim, which
// adds the saved-graph stream. Real graphs, real files, real COM.
#include <gtest/gtest.h>

#include <windows.h>

#include "graph/DShow.h"

#include <atlbase.h>

#include <string>
#include <vector>

#include "tests/support/HostTools.h"

namespace {

class ComApartment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
    void TearDown() override { CoUninitialize(); }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new ComApartment);

// A small H.264 MP4 made once per run with ffmpeg.
std::string SampleMp4() {
    static std::string path;
    if (path.empty()) {
        std::string p = TestTmpDir() + "/graphshim-sample.mp4";
        if (!HostFileExists(p) &&
            RunHost("ffmpeg -v error -y -f lavfi -i testsrc2=size=160x120:rate=25 -t 1 -c:v libx264 "
                    "-pix_fmt yuv420p '" + p + "'") != 0)
            return std::string();
        path = p;
    }
    return path;
}

std::vector<uint8_t> W(const std::string& s) {
    std::vector<uint8_t> b;
    for (unsigned char c : s) {
        b.push_back(c);
        b.push_back(0);
    }
    return b;
}
std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
std::string ToUtf8(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += char(c);  // ASCII paths only
    return s;
}

// The null renderer (qedit).
const CLSID CLSID_NullRenderer = {0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

CComPtr<IStream> StreamOf(const std::vector<uint8_t>& bytes) {
    CComPtr<IStream> spStm;
    EXPECT_HRESULT_SUCCEEDED(CreateStreamOnHGlobal(NULL, TRUE, &spStm));
    ULONG cb = 0;
    if (!bytes.empty()) {
        EXPECT_HRESULT_SUCCEEDED(spStm->Write(bytes.data(), ULONG(bytes.size()), &cb));
    }
    LARGE_INTEGER zero = {};
    spStm->Seek(zero, STREAM_SEEK_SET, nullptr);
    return spStm;
}
ULONGLONG StreamPos(IStream* pStm) {
    LARGE_INTEGER zero = {};
    ULARGE_INTEGER pos = {};
    pStm->Seek(zero, STREAM_SEEK_CUR, &pos);
    return pos.QuadPart;
}

CComPtr<IGraphBuilder> NewGraph() {
    CComPtr<IGraphBuilder> spGraph;
    EXPECT_HRESULT_SUCCEEDED(
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void**)&spGraph));
    return spGraph;
}

struct FilterRecord {
    std::wstring name;
    CLSID clsid;
    std::wstring sourceFile;
    int nConnectedInputs = 0, nConnectedOutputs = 0;
};

std::vector<FilterRecord> Filters(IGraphBuilder* pGraph) {
    std::vector<FilterRecord> out;
    CComPtr<IEnumFilters> spEnum;
    if (FAILED(pGraph->EnumFilters(&spEnum))) return out;
    CComPtr<IBaseFilter> spFilter;
    while (spEnum->Next(1, &spFilter, nullptr) == S_OK) {
        FilterRecord r;
        FILTER_INFO info = {};
        spFilter->QueryFilterInfo(&info);
        if (info.pGraph) info.pGraph->Release();
        r.name = info.achName;
        spFilter->GetClassID(&r.clsid);
        CComQIPtr<IFileSourceFilter> spSource(spFilter);
        LPOLESTR psz = nullptr;
        if (spSource && SUCCEEDED(spSource->GetCurFile(&psz, nullptr)) && psz) {
            r.sourceFile = psz;
            CoTaskMemFree(psz);
        }
        CComPtr<IEnumPins> spPins;
        spFilter->EnumPins(&spPins);
        CComPtr<IPin> spPin;
        while (spPins && spPins->Next(1, &spPin, nullptr) == S_OK) {
            CComPtr<IPin> spPeer;
            PIN_DIRECTION dir;
            spPin->QueryDirection(&dir);
            if (spPin->ConnectedTo(&spPeer) == S_OK) (dir == PINDIR_INPUT ? r.nConnectedInputs : r.nConnectedOutputs)++;
            spPin.Release();
        }
        out.push_back(r);
        spFilter.Release();
    }
    return out;
}

const FilterRecord* FindByName(const std::vector<FilterRecord>& v, const std::wstring& name) {
    for (const auto& r : v)
        if (r.name == name) return &r;
    return nullptr;
}

long RunToEnd(IGraphBuilder* pGraph, long timeoutMs) {
    CComQIPtr<IMediaControl> spControl(pGraph);
    CComQIPtr<IMediaEvent> spEvent(pGraph);
    if (!spControl || !spEvent) return -1;
    if (FAILED(spControl->Run())) return -2;
    long code = 0;
    HRESULT hr = spEvent->WaitForCompletion(timeoutMs, &code);
    spControl->Stop();
    return SUCCEEDED(hr) ? code : -3;
}

TEST(GraphShim, IsThePlatformsGraphManagerWithPersistence) {
    for (const CLSID* pclsid : {&CLSID_FilterGraph, &CLSID_FilterGraphNoThread}) {
        CComPtr<IUnknown> spUnk;
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(*pclsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, (void**)&spUnk));
        CComQIPtr<IPersistStream> spPersist(spUnk);
        ASSERT_TRUE(spPersist);
        CLSID clsid = GUID_NULL;
        EXPECT_EQ(spPersist->GetClassID(&clsid), S_OK);
        EXPECT_TRUE(clsid == CLSID_FilterGraph);
        // The platform's interfaces, all answering for one object.
        CComQIPtr<IGraphBuilder> spGraph(spUnk);
        CComQIPtr<IFilterGraph2> spGraph2(spUnk);
        CComQIPtr<IMediaControl> spControl(spUnk);
        CComQIPtr<IMediaEventEx> spEvent(spUnk);
        CComQIPtr<IMediaSeeking> spSeeking(spUnk);
        CComQIPtr<IVideoWindow> spWindow(spUnk);
        CComQIPtr<IMediaFilter> spMediaFilter(spUnk);
        ASSERT_TRUE(spGraph && spGraph2 && spControl && spEvent && spSeeking && spWindow && spMediaFilter);
        CComPtr<IUnknown> spFromControl, spFromPersist;
        spControl->QueryInterface(IID_IUnknown, (void**)&spFromControl);
        spPersist->QueryInterface(IID_IUnknown, (void**)&spFromPersist);
        EXPECT_EQ(spFromControl.p, spUnk.p);
        EXPECT_EQ(spFromPersist.p, spUnk.p);
        CComQIPtr<IPersistStream> spPersistFromGraph(spGraph);
        EXPECT_EQ(spPersistFromGraph.p, spPersist.p);
    }
}

// A played file saved and restored: same filters under the same names, same source file,
// same connections, and the restored graph plays to its end.
TEST(GraphShim, SavedGraphLoadsAndPlays) {
    std::string mp4 = SampleMp4();
    ASSERT_FALSE(mp4.empty()) << "ffmpeg could not make the sample";
    std::wstring file = ToWinPath(mp4);

    CComPtr<IGraphBuilder> spGraph = NewGraph();
    ASSERT_EQ(spGraph->RenderFile(file.c_str(), nullptr), S_OK);
    std::vector<FilterRecord> before = Filters(spGraph);
    ASSERT_GE(before.size(), 3u);

    // Into a .grf file the way a saved graph is kept, and back the way the bench reads it.
    std::wstring grf = ToWinPath(UniqueTmpPath(".grf"));
    {
        CComPtr<IStorage> spStorage;
        ASSERT_HRESULT_SUCCEEDED(StgCreateDocfile(grf.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED, 0, &spStorage));
        CComPtr<IStream> spStm;
        ASSERT_HRESULT_SUCCEEDED(spStorage->CreateStream(L"ActiveMovieGraph", STGM_WRITE | STGM_CREATE | STGM_SHARE_EXCLUSIVE, 0, 0, &spStm));
        CComQIPtr<IPersistStream> spPersist(spGraph);
        ULARGE_INTEGER cbMax = {};
        ASSERT_EQ(spPersist->GetSizeMax(&cbMax), S_OK);
        ASSERT_EQ(spPersist->Save(spStm, TRUE), S_OK);
        EXPECT_EQ(StreamPos(spStm), cbMax.QuadPart);
        ASSERT_HRESULT_SUCCEEDED(spStorage->Commit(STGC_DEFAULT));
    }
    CComPtr<IGraphBuilder> spLoaded = NewGraph();
    {
        CComPtr<IStorage> spStorage;
        ASSERT_EQ(StgOpenStorage(grf.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &spStorage), S_OK);
        CComPtr<IStream> spStm;
        ASSERT_EQ(spStorage->OpenStream(L"ActiveMovieGraph", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &spStm), S_OK);
        CComQIPtr<IPersistStream> spPersist(spLoaded);
        ASSERT_EQ(spPersist->Load(spStm), S_OK);
    }
    std::vector<FilterRecord> after = Filters(spLoaded);
    ASSERT_EQ(after.size(), before.size());
    int nSources = 0;
    for (const FilterRecord& b : before) {
        const FilterRecord* a = FindByName(after, b.name);
        ASSERT_TRUE(a) << ToUtf8(b.name);
        EXPECT_TRUE(a->clsid == b.clsid) << ToUtf8(b.name);
        EXPECT_EQ(a->sourceFile, b.sourceFile) << ToUtf8(b.name);
        EXPECT_EQ(a->nConnectedInputs, b.nConnectedInputs) << ToUtf8(b.name);
        EXPECT_EQ(a->nConnectedOutputs, b.nConnectedOutputs) << ToUtf8(b.name);
        if (!b.sourceFile.empty()) ++nSources;
    }
    EXPECT_EQ(nSources, 1);
    EXPECT_EQ(RunToEnd(spLoaded, 20000), EC_COMPLETE);
}

// Streams as other writers lay them out: line breaks, a media type with its own length,
// data that follows the graph.
TEST(GraphShim, LoadsAHandWrittenStream) {
    std::string mp4 = SampleMp4();
    ASSERT_FALSE(mp4.empty());
    std::string file = ToUtf8(ToWinPath(mp4));
    // The async reader with its file, and a null renderer beside it.
    std::vector<uint8_t> bytes =
        W("0003\r\nFILTERS\r\n0001 \"Reader\" {E436EBB5-524F-11CE-9F53-0020AF0BA770} SOURCE \"" + file +
          "\" 0000000000 \r\n0002 \"Nothing\" {C1F400A4-3F08-11D3-9F0B-006008039E37} 0000000000 \r\n"
          "CONNECTIONS\r\nCLOCK 0 0000\r\nEND") +
        W("\r\nmore");
    CComPtr<IStream> spStm = StreamOf(bytes);
    CComPtr<IGraphBuilder> spGraph = NewGraph();
    CComQIPtr<IPersistStream> spPersist(spGraph);
    ASSERT_EQ(spPersist->Load(spStm), S_OK);
    EXPECT_EQ(StreamPos(spStm), bytes.size() - 12);  // just behind END
    std::vector<FilterRecord> v = Filters(spGraph);
    ASSERT_EQ(v.size(), 2u);
    const FilterRecord* reader = FindByName(v, L"Reader");
    ASSERT_TRUE(reader);
    EXPECT_EQ(ToUtf8(reader->sourceFile), file);
    EXPECT_TRUE(FindByName(v, L"Nothing"));
}

TEST(GraphShim, BadStreamsFailAndLeaveTheGraphAsItWas) {
    std::string mp4 = SampleMp4();
    ASSERT_FALSE(mp4.empty());
    std::string file = ToUtf8(ToWinPath(mp4));
    const std::string reader =
        "0001 \"Reader\" {E436EBB5-524F-11CE-9F53-0020AF0BA770} SOURCE \"" + file + "\" 0000000000 \r\n";
    const std::string nullRenderer = "0002 \"Nothing\" {C1F400A4-3F08-11D3-9F0B-006008039E37} 0000000000 \r\n";
    const std::string mt =
        " 0000000288 {E436EB83-524F-11CE-9F53-0020AF0BA770} {E436EB84-524F-11CE-9F53-0020AF0BA770} 1 0 "
        "0000000001 {00000000-0000-0000-0000-000000000000} 0000000000 \r\n";
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        HRESULT hr;
    } cases[] = {
        {"empty stream", {}, VFW_E_INVALID_FILE_FORMAT},
        {"garbage", {0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0xde}, VFW_E_INVALID_FILE_FORMAT},
        {"cut short", W("0003\r\nFILTERS\r\n" + reader.substr(0, 40)), VFW_E_INVALID_FILE_FORMAT},
        {"huge data length", W("0003\r\nFILTERS\r\n0001 \"Reader\" {E436EBB5-524F-11CE-9F53-0020AF0BA770} 4294967295 "
                               "\r\nCONNECTIONS\r\nCLOCK 0 0000\r\nEND"),
         VFW_E_INVALID_FILE_FORMAT},
        {"unknown class identifier",
         W("0003\r\nFILTERS\r\n" + reader +
           "0002 \"Who\" {01234567-89AB-CDEF-0123-456789ABCDEF} 0000000000 \r\nCONNECTIONS\r\nCLOCK 0 0000\r\nEND"),
         REGDB_E_CLASSNOTREG},
        {"pin that does not exist",
         W("0003\r\nFILTERS\r\n" + reader + nullRenderer + "CONNECTIONS\r\n0001 \"Nope\" 0002 \"In\"" + mt +
           "CLOCK 0 0000\r\nEND"),
         VFW_E_NOT_FOUND},
        {"connection that cannot be made (two outputs)",
         W("0003\r\nFILTERS\r\n" + reader +
           "0002 \"Reader 2\" {E436EBB5-524F-11CE-9F53-0020AF0BA770} SOURCE \"" + file +
           "\" 0000000000 \r\nCONNECTIONS\r\n0001 \"Output\" 0002 \"Output\"" + mt + "CLOCK 0 0000\r\nEND"),
         S_OK /* any failure */},
        {"missing source file",
         W("0003\r\nFILTERS\r\n0001 \"Reader\" {E436EBB5-524F-11CE-9F53-0020AF0BA770} SOURCE \"Z:\\no\\such\\file.mp4\" "
           "0000000000 \r\nCONNECTIONS\r\nCLOCK 0 0000\r\nEND"),
         S_OK /* any failure */},
    };
    for (const Case& c : cases) {
        CComPtr<IGraphBuilder> spGraph = NewGraph();
        // Something already in the graph stays; nothing of the failed load does.
        CComPtr<IBaseFilter> spKeep;
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, (void**)&spKeep));
        ASSERT_HRESULT_SUCCEEDED(spGraph->AddFilter(spKeep, L"Kept"));
        CComQIPtr<IPersistStream> spPersist(spGraph);
        HRESULT hr = spPersist->Load(StreamOf(c.bytes));
        if (c.hr != S_OK) EXPECT_EQ(hr, c.hr) << c.what;
        else EXPECT_TRUE(FAILED(hr)) << c.what << " " << std::hex << hr;
        std::vector<FilterRecord> v = Filters(spGraph);
        ASSERT_EQ(v.size(), 1u) << c.what;
        EXPECT_EQ(v[0].name, L"Kept") << c.what;
    }
    CComPtr<IGraphBuilder> spGraph = NewGraph();
    CComQIPtr<IPersistStream> spPersist(spGraph);
    EXPECT_EQ(spPersist->Load(nullptr), E_POINTER);
    EXPECT_EQ(spPersist->Save(nullptr, TRUE), E_POINTER);
    EXPECT_EQ(spPersist->GetSizeMax(nullptr), E_POINTER);
}

// Registering puts the shim in place of quartz.dll; unregistering puts quartz.dll back. Run
// against a private copy of the classes root so the prefix's registration is not touched.
TEST(GraphShim, UnregisteringRestoresThePlatformsGraphManager) {
    const wchar_t kRoot[] = L"Software\\QuorlinTest\\GraphShimClasses";
    RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
    HKEY hRoot = NULL;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kRoot, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hRoot, nullptr), ERROR_SUCCESS);
    const wchar_t kGraph[] = L"CLSID\\{E436EBB3-524F-11CE-9F53-0020AF0BA770}";
    const wchar_t kNoThread[] = L"CLSID\\{E436EBB8-524F-11CE-9F53-0020AF0BA770}";
    const wchar_t kQuartz[] = L"C:\\windows\\system32\\quartz.dll";
    auto setServer = [&](const wchar_t* pszClass, const wchar_t* pszServer) {
        HKEY h;
        ASSERT_EQ(RegCreateKeyExW(hRoot, (std::wstring(pszClass) + L"\\InprocServer32").c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &h, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(h, nullptr, 0, REG_SZ, (const BYTE*)pszServer, DWORD((wcslen(pszServer) + 1) * 2));
        RegSetValueExW(h, L"ThreadingModel", 0, REG_SZ, (const BYTE*)L"Both", 10);
        RegCloseKey(h);
    };
    auto server = [&](const wchar_t* pszClass) {
        wchar_t sz[MAX_PATH] = L"";
        LONG cb = sizeof sz;
        if (RegQueryValueW(hRoot, (std::wstring(pszClass) + L"\\InprocServer32").c_str(), sz, &cb) != ERROR_SUCCESS)
            return std::wstring(L"<none>");
        return std::wstring(sz);
    };
    setServer(kGraph, kQuartz);

    HMODULE hShim = LoadLibraryW(ToWinPath(QUORLIN_GRAPHSHIM).c_str());
    ASSERT_TRUE(hShim);
    typedef HRESULT(WINAPI * PFN)();
    PFN pfnRegister = (PFN)(void*)GetProcAddress(hShim, "DllRegisterServer");
    PFN pfnUnregister = (PFN)(void*)GetProcAddress(hShim, "DllUnregisterServer");
    ASSERT_TRUE(pfnRegister && pfnUnregister);
    wchar_t szShim[MAX_PATH];
    GetModuleFileNameW(hShim, szShim, MAX_PATH);

    ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, hRoot), ERROR_SUCCESS);
    HRESULT hrRegister = pfnRegister();
    HRESULT hrRegisterAgain = pfnRegister();  // twice must not lose what was there first
    std::wstring graphRegistered = server(kGraph), noThreadRegistered = server(kNoThread);
    HRESULT hrUnregister = pfnUnregister();
    RegOverridePredefKey(HKEY_CLASSES_ROOT, NULL);

    EXPECT_EQ(hrRegister, S_OK);
    EXPECT_EQ(hrRegisterAgain, S_OK);
    EXPECT_EQ(hrUnregister, S_OK);
    EXPECT_EQ(graphRegistered, szShim);
    EXPECT_EQ(noThreadRegistered, szShim);
    EXPECT_EQ(server(kGraph), kQuartz);
    EXPECT_EQ(server(kNoThread), L"<none>");  // it was not registered before
    HKEY h;
    EXPECT_NE(RegOpenKeyExW(hRoot, kNoThread, 0, KEY_READ, &h), ERROR_SUCCESS);
    RegCloseKey(hRoot);
    RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
    FreeLibrary(hShim);
}

}  // namespace
