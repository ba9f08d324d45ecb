// Fixture for CGraph tests on fakes: a fake graph manager, device enumerator, encoder,
// writer, decoder and Smart Tee registered under the real class identifiers, a window for
// notifications, and the diagnostics captured.
#pragma once

#include <gtest/gtest.h>

#include "graph/Graph.h"
#include "tests/support/DiagCapture.h"
#include "tests/support/fakes/FakeDevices.h"
#include "tests/support/fakes/FakeGraph.h"

#include <memory>

// A top-level window for the tests (notification target and placement reference).
class TestWindow {
public:
    TestWindow(int x = 100, int y = 300, int cx = 400, int cy = 300);
    ~TestWindow();
    HWND hWnd;
};

// The Smart Tee as the platform's: pins "Input", "Capture", "Preview".
CComPtr<FakeFilter> CreateFakeSmartTee();

class GraphFixture : public ::testing::Test {
public:
    GraphFixture();
    ~GraphFixture() override;

    // Registers every fake; call in each test after adjusting what should fail.
    void RegisterAll();
    void RegisterDecoder(REFCLSID clsid);

    // The log entries that describe the graph's construction, in order.
    static std::vector<std::wstring> BuildSteps();
    // A file-rendering graph: RenderFile adds the fake playback chain.
    void RenderFilesAsPlayback(bool bAudio = false);

    HRESULT Build(LPCWSTR pszSource, bool bLive = false, LPCWSTR pszOutput = NULL, bool bPreview = false) {
        return graph.BuildGraph(pszSource, bLive, pszOutput, bPreview, window.hWnd, WM_GRAPHNOTIFY);
    }
    std::string Context() const { return "diagnostics:\n" + diag.Dump() + "calls:\n" + CallLog().Dump(); }

    ComApartment com;
    DiagCapture diag;
    TestWindow window;

    // The graph manager that the next creation of CLSID_FilterGraph hands out.
    CComPtr<FakeGraph> spGraph;
    CComPtr<FakeDeviceEnum> spDevices;  // handed out at creation time, like spGraph
    CComPtr<FakeFilter> spCamera;
    // The last filters handed out by the registrations.
    CComPtr<FakeEncoder> spEncoder;
    CComPtr<FakeWriter> spWriter;
    CComPtr<FakeFilter> spDecoder;
    CComPtr<FakeFilter> spSmartTee;
    // Adjust before RegisterAll(): set up each new fake.
    std::function<void(FakeEncoder*)> setUpEncoder;
    std::function<void(FakeWriter*)> setUpWriter;
    std::function<void(FakeFilter*)> setUpDecoder;
    std::function<void(FakeFilter*)> setUpSmartTee;
    // Registrations that fail instead (REGDB_E_CLASSNOTREG) when set.
    bool noEncoder = false, noWriter = false, noDecoder = false, noDecoderAlt = true, noSmartTee = false;

    std::vector<std::unique_ptr<ClassRegistration>> registrations;
    CGraph graph;
};

// A compound file with the given streams (name -> content); returns its Windows path.
std::wstring MakeCompoundFile(const std::vector<std::pair<std::wstring, std::string>>& streams);
