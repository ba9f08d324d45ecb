// A reader of the graph in another apartment, reading it over and over as GraphEdit does while
// it shows the graph, served by this thread: which interface registrations its reads end.
#include "tests/graphedit/GraphEditFixture.h"

#include <rpc.h>
#include <rpcdcep.h>

#include <vector>

#include "tests/support/ImportHook.h"

namespace {

// The interfaces the platform unregisters, in order.
std::vector<IID> g_unregistered;
ImportHook* g_pUnregisterHook = nullptr;

RPC_STATUS RPC_ENTRY RecordUnregister(RPC_IF_HANDLE hIf, UUID* pMgrType, unsigned int bWait) {
    if (hIf != NULL) g_unregistered.push_back(((RPC_SERVER_INTERFACE*)hIf)->InterfaceId.SyntaxGUID);
    return g_pUnregisterHook->Original<RPC_STATUS(RPC_ENTRY*)(RPC_IF_HANDLE, UUID*, unsigned int)>()(hIf, pMgrType,
                                                                                                     bWait);
}

// Records the interfaces the platform's COM unregisters while it lives.
class UnregisterRecorder {
public:
    UnregisterRecorder()
        : m_hook("rpcrt4.dll", "RpcServerUnregisterIf", (void*)&RecordUnregister, ::GetModuleHandleW(L"combase.dll")) {
        g_unregistered.clear();
        g_pUnregisterHook = &m_hook;
    }
    ~UnregisterRecorder() { g_pUnregisterHook = nullptr; }
    bool Installed() const { return m_hook.Installed(); }
    int Count(REFIID iid) const {
        int n = 0;
        for (const IID& i : g_unregistered) n += i == iid;
        return n;
    }

private:
    ImportHook m_hook;
};

struct Reader {
    IStream* pStream = nullptr;  // the graph, marshaled for the reader's apartment
    int nReads = 0;
    int nDone = 0;
    HRESULT hr = S_OK;
};

DWORD WINAPI ReadGraph(LPVOID pv) {
    Reader* r = (Reader*)pv;
    ::CoInitializeEx(NULL, COINIT_MULTITHREADED);
    IFilterGraph* pGraph = nullptr;
    r->hr = ::CoGetInterfaceAndReleaseStream(r->pStream, IID_IFilterGraph, (void**)&pGraph);
    for (int i = 0; SUCCEEDED(r->hr) && i < r->nReads; ++i) {
        IEnumFilters* pFilters = nullptr;
        r->hr = pGraph->EnumFilters(&pFilters);
        if (FAILED(r->hr)) break;
        IBaseFilter* pFilter = nullptr;
        while (pFilters->Next(1, &pFilter, NULL) == S_OK) {
            IEnumPins* pPins = nullptr;
            if (SUCCEEDED(pFilter->EnumPins(&pPins))) {
                IPin* pPin = nullptr;
                while (pPins->Next(1, &pPin, NULL) == S_OK) pPin->Release();
                pPins->Release();
            }
            pFilter->Release();
        }
        pFilters->Release();
        r->nDone = i + 1;
    }
    if (pGraph) pGraph->Release();
    ::CoUninitialize();
    return 0;
}

// Reads the graph nReads times from a thread of the process's other apartment, serving its
// calls meanwhile.
void ReadFromAnotherApartment(IGraphBuilder* pGraph, int nReads) {
    Reader reader;
    reader.nReads = nReads;
    ASSERT_EQ(::CoMarshalInterThreadInterfaceInStream(IID_IFilterGraph, pGraph, &reader.pStream), S_OK);
    HANDLE hThread = ::CreateThread(NULL, 0, ReadGraph, &reader, 0, NULL);
    ASSERT_NE(hThread, (HANDLE)NULL);
    DWORD dwIndex = 0;
    EXPECT_EQ(::CoWaitForMultipleHandles(0, 30000, 1, &hThread, &dwIndex), S_OK);
    ::CloseHandle(hThread);
    EXPECT_EQ(reader.hr, S_OK);
    EXPECT_EQ(reader.nDone, nReads);
}

}  // namespace

// Every read makes an enumerator of the graph's filters and of each filter's pins in this
// process and lets it go. With nothing else holding their registrations, the platform ends and
// makes them again on every read; held, none of them is ended until they are let go.
TEST(ServedReads, HeldEnumeratorRegistrationsOutliveEveryRead) {
    CComPtr<IGraphBuilder> spGraph = MakeTeeGraph(L"Tee 1");
    ASSERT_TRUE(spGraph);
    CComPtr<IBaseFilter> spTee;
    ASSERT_EQ(spTee.CoCreateInstance(CLSID_SmartTee, NULL, CLSCTX_INPROC_SERVER), S_OK);
    ASSERT_EQ(spGraph->AddFilter(spTee, L"Tee 2"), S_OK);

    {
        UnregisterRecorder recorder;
        ASSERT_TRUE(recorder.Installed());
        ReadFromAnotherApartment(spGraph, 5);
        EXPECT_GE(recorder.Count(IID_IEnumFilters), 5);
    }

    CHeldRegistrations held;
    ASSERT_EQ(held.Hold(), S_OK);
    EXPECT_TRUE(held.IsHeld());
    EXPECT_EQ(held.Hold(), S_OK);  // held once
    {
        UnregisterRecorder recorder;
        ReadFromAnotherApartment(spGraph, 5);
        for (int i = 0; i < CHeldRegistrations::kInterfaces; ++i)
            EXPECT_EQ(recorder.Count(CHeldRegistrations::Interface(i)), 0) << i;
        held.Release();
        EXPECT_FALSE(held.IsHeld());
        EXPECT_EQ(recorder.Count(IID_IEnumFilters), 1);
    }
}
