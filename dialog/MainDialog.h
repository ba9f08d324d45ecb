// CMainDialog: the bench's one window.
#pragma once

#include <atlbase.h>
#include <atlwin.h>

#include "graph/Graph.h"
#include "res/resource.h"

class CMainDialog : public CDialogImpl<CMainDialog> {
public:
    enum { IDD = IDD_MAINDLG };

    CMainDialog();

    BEGIN_MSG_MAP(CMainDialog)
        COMMAND_ID_HANDLER(IDOK, OnClose)
        COMMAND_ID_HANDLER(IDCANCEL, OnClose)
    END_MSG_MAP()

    // Control groups switched together.
    void EnableGraphControls(bool bEnable);
    void EnableSettingsControls(bool bEnable);

    // The settings mirror.
    void ResetSettings();

    // Shows a message box captioned with the program's name; see ShowMessageBox.
    int ShowMessage(LPCWSTR pszText, HRESULT hr);

    LRESULT OnClose(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);

    WCHAR m_szSource[MAX_PATH];
    WCHAR m_szOutput[MAX_PATH];
    CGraph m_graph;
    bool m_bControlsReady;

    // Encoder settings mirror.
    int m_ePreset;
    UINT m_nProfile;
    UINT m_nLevel;
    UINT m_nProfileUsed;
    UINT m_nLevelUsed;
    UINT m_nSpeedQuality;
    int m_eRateControl;
    UINT m_nGopSize;
    int m_bExactGop;
    UINT m_nGopSizeUsed;
    UINT m_nIdrInterval;
    UINT m_nIdrIntervalUsed;
    UINT m_nBitrate;
    UINT m_nBitrateUsed;
    UINT m_nBFrames;
    UINT m_nBFramesUsed;
    int m_bCavlc;
    int m_bPassThroughTimeStamps;
    int m_eEncType;
    int m_eEncUsed;
};
