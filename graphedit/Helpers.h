// CGraphEdit: publishes the filter graph in the running object table and drives GraphEdit
// so that it attaches to the graph.
#pragma once

#include <atlbase.h>
#include "graph/DShow.h"
#include "platform/HeldRegistrations.h"

// GraphEdit's "Connect to Remote Graph..." menu command.
const UINT ID_GRAPHEDIT_CONNECT = 0x8034;

class CGraphEdit {
public:
    CGraphEdit();
    ~CGraphEdit();

    // Registration of the graph in the running object table.
    static HRESULT AddToRot(IGraphBuilder* pGraph, DWORD* pdwCookie);
    static bool RemoveFromRot(DWORD dwCookie);
    static bool IsGraphItem(LPCWSTR pszCookieName, IGraphBuilder* pGraph);
    // The registration name "FilterGraph %08x pid %08x" of a graph (szCookieName holds 64).
    static void FormatCookieName(LPWSTR szCookieName, const void* pGraph, DWORD dwProcessId);

    // Starts GraphEdit and makes it attach to pGraph.
    HRESULT ShowGraph(IGraphBuilder* pGraph);
    // Revokes the registration and ends the GraphEdit instance started by this object.
    void Close();
    // Cuts off every other process's hold on the graph, its filters and their pins (the
    // proxies of an attached GraphEdit): their calls fail from then on, and none of these
    // objects outlives the graph's last reference in this process.
    static void DisconnectGraph(IFilterGraph* pGraph);

    bool IsProppageRegistered(LPWSTR pszProppage_dll);
    HRESULT LoadGraphEdit(LPCWSTR pszProppage_dll);
    bool FindMainWindow();
    bool WaitWhileHidden();
    void PostConnectCommand();
    void SelectGraph(IGraphBuilder* pGraph);
    int FindGraphItem(IGraphBuilder* pGraph);

    static BOOL CALLBACK EnumMainWindowProc(HWND hWnd, LPARAM lParam);
    static BOOL CALLBACK EnumDialogProc(HWND hWnd, LPARAM lParam);
    static BOOL CALLBACK EnumDialogChildProc(HWND hWnd, LPARAM lParam);
    BOOL OnEnumMainWindow(HWND hWnd);
    BOOL OnEnumDialog(HWND hWnd);
    BOOL OnEnumDialogChild(HWND hWnd);

    DWORD m_dwCookie;
    PROCESS_INFORMATION m_rgPI;
    HWND m_hWndMain;
    HWND m_hWndList;
    // The enumerator registrations GraphEdit's reads would otherwise end and start again,
    // held from ShowGraph until GraphEdit has ended.
    CHeldRegistrations m_registrations;

private:
    CGraphEdit(const CGraphEdit&) = delete;
    CGraphEdit& operator=(const CGraphEdit&) = delete;
};
