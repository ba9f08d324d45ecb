// Shared pieces of the GraphEdit bridge tests: COM on the test thread, small graphs, the
// running object table, processes and windows of GraphEdit, and guards that put the
// registry, the environment and the current directory back.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "graph/Graph.h"
#include "tests/support/WindowTools.h"

// The program keeps one apartment on its test thread from start to end, as the bench does
// (ComEnvironment). An apartment ended after each test would be torn down by the first call
// that reaches it afterwards from an earlier test's GraphEdit, and under Wine that teardown
// can deadlock with a call the next test's apartment is serving.
// A GraphEdit that a test leaves running (one that did not accept input in time, or a test
// that stopped early) is ended after the test: it would go on calling into this process and
// hold its output open after it ends.
class GraphEditTest : public ::testing::Test {
protected:
    void TearDown() override;
};

// A graph manager holding one Smart Tee with the given name.
CComPtr<IGraphBuilder> MakeTeeGraph(LPCWSTR pszTeeName);
// The registration name of a graph of a process: "FilterGraph %08x pid %08x".
std::wstring CookieName(const void* pGraph, DWORD dwProcessId = ::GetCurrentProcessId());
// Display names of everything in the running object table.
std::vector<std::wstring> RotNames();
bool RotHas(const std::wstring& displayName);

// Waits for a process to end (true) or ms to pass (false).
bool WaitProcessEnd(DWORD dwProcessId, DWORD ms);
// The first top-level window of a process owned by hWndOwner.
HWND OwnedWindow(HWND hWndOwner, DWORD dwProcessId);
// The lines of a list box, also of another process.
std::vector<std::wstring> ListLines(HWND hList);
// A window's text asked with WM_GETTEXT (also of another process), and split into lines.
std::wstring SentText(HWND hWnd);
std::vector<std::wstring> TextLines(HWND hWnd);
// GraphEdit's picture of the graph, whose text describes the graph line by line, and the pane
// below it that tells what is selected.
HWND GraphEditView(HWND hWndMain);
HWND GraphEditInfo(HWND hWndMain);
// Clicks (or double-clicks) the centre of a filter box (nIndex in the graph's order) or of an
// arrow in GraphEdit's picture; false when the picture has no such item.
bool ClickGraphItem(HWND hView, int nIndex, bool bArrow, bool bDouble = false);
// Waits, serving this thread's messages (and so the COM calls of GraphEdit into this
// process), until the window's text equals the expected one; returns the last text seen.
std::wstring WaitForTitle(HWND hWnd, const std::wstring& expected, DWORD ms = 8000);

// Windows paths of the built programs and their folder.
std::wstring GraphEdtPath();
std::wstring ProppagePath();
std::wstring BinDir();

// GraphEdit's "Path" value under HKLM\Software\Microsoft\Shared Tools\Graphedit.
class GraphEditPathGuard {
public:
    GraphEditPathGuard();
    ~GraphEditPathGuard();
    void Remove();
    void Set(const std::wstring& value);

private:
    bool m_bHad;
    std::wstring m_value;
};

// The property-page server's registration; put back by registering the server again.
class ProppageRegistrationGuard {
public:
    ProppageRegistrationGuard();
    ~ProppageRegistrationGuard();
    HRESULT Unregister();
    // Replaces the InprocServer32 default value (type and raw bytes).
    void SetServerValue(DWORD dwType, const void* pData, DWORD cb);

private:
    HMODULE m_hModule;
};

class EnvGuard {
public:
    EnvGuard(LPCWSTR pszName, LPCWSTR pszValue);
    ~EnvGuard();

private:
    std::wstring m_name;
    bool m_bHad;
    std::wstring m_value;
};

class CurrentDirectoryGuard {
public:
    explicit CurrentDirectoryGuard(const std::wstring& dir);
    ~CurrentDirectoryGuard();

private:
    std::wstring m_saved;
};
