// CMainDialog: the bench's one window.
#pragma once

#include <atlbase.h>
#include <atlwin.h>

#include "graph/Graph.h"
#include "res/resource.h"

// A row of the profile and level tables: the H.264 value and the name shown for it.
struct NamedValue {
    UINT nValue;
    LPCWSTR pszName;
};

class CMainDialog : public CDialogImpl<CMainDialog> {
public:
    enum { IDD = IDD_MAINDLG };

    // Status timers: progress of a file source, and input properties with statistics.
    enum { TIMER_PROGRESS = 1, TIMER_STATUS = 2 };
    enum { PROGRESS_PERIOD = 300, STATUS_PERIOD = 500 };

    CMainDialog();

    BEGIN_MSG_MAP(CMainDialog)
        MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
        MESSAGE_HANDLER(WM_GRAPHNOTIFY, OnGraphNotify)
        MESSAGE_HANDLER(WM_TIMER, OnTimer)
        COMMAND_ID_HANDLER(IDC_LOAD, OnLoad)
        COMMAND_HANDLER(IDC_SOURCE_PATH, EN_CHANGE, OnSourceChange)
        COMMAND_RANGE_HANDLER(IDC_SOURCE_FILE, IDC_SOURCE_LIVE, OnSourceType)
        COMMAND_ID_HANDLER(IDC_PROPERTIES, OnProperties)
        COMMAND_ID_HANDLER(IDC_OUTPUT_CHECK, OnOutputCheck)
        COMMAND_ID_HANDLER(IDC_SAVE, OnSave)
        COMMAND_HANDLER(IDC_OUTPUT_PATH, EN_CHANGE, OnOutputChange)
        COMMAND_ID_HANDLER(IDC_BUILD_GRAPH, OnBuildGraph)
        COMMAND_ID_HANDLER(IDC_SHOW_GRAPH, OnShowGraph)
        COMMAND_ID_HANDLER(IDC_PASS_THROUGH, OnPassThroughTimeStamps)
        MESSAGE_HANDLER(WM_HSCROLL, OnHScroll)
        COMMAND_HANDLER(IDC_ENCODER_TYPE, CBN_SELCHANGE, OnEncoderType)
        COMMAND_ID_HANDLER(IDC_FORCE_KEY_FRAME, OnForceKeyFrame)
        COMMAND_HANDLER(IDC_PRESET, CBN_SELCHANGE, OnPreset)
        COMMAND_HANDLER(IDC_PROFILE, CBN_SELCHANGE, OnProfile)
        COMMAND_HANDLER(IDC_LEVEL, CBN_SELCHANGE, OnLevel)
        COMMAND_HANDLER(IDC_RATE_CONTROL, CBN_SELCHANGE, OnRateControl)
        COMMAND_HANDLER(IDC_BITRATE, EN_CHANGE, OnNumericChange)
        COMMAND_HANDLER(IDC_GOP_SIZE, EN_CHANGE, OnNumericChange)
        COMMAND_ID_HANDLER(IDC_EXACT_GOP, OnExactGop)
        COMMAND_HANDLER(IDC_IDR_INTERVAL, EN_CHANGE, OnNumericChange)
        COMMAND_HANDLER(IDC_BFRAMES, EN_CHANGE, OnNumericChange)
        COMMAND_ID_HANDLER(IDC_CAVLC, OnCavlc)
        COMMAND_ID_HANDLER(IDC_PLAY, OnPlay)
        COMMAND_ID_HANDLER(IDC_PAUSE, OnPause)
        COMMAND_ID_HANDLER(IDC_STOP, OnStop)
        COMMAND_ID_HANDLER(IDC_TEST, OnTest)
        COMMAND_ID_HANDLER(IDOK, OnClose)
        COMMAND_ID_HANDLER(IDCANCEL, OnClose)
    END_MSG_MAP()

    // Control groups switched together.
    void EnableGraphControls(bool bEnable);
    void EnableSettingsControls(bool bEnable);

    // The settings mirror.
    void ResetSettings();
    void ReadEncoderSettings();

    // Filling the controls.
    HRESULT PutLiveSources();
    void PutSettings();
    void PutEncoderType();
    void PutPreset();
    void PutProfile();
    void PutLevel();
    void PutSpeedQuality();
    void PutRateControl();

    // The common file dialogs on a caller's buffer of MAX_PATH characters.
    bool ChooseSourceFile(LPWSTR pszFile);
    bool ChooseOutputFile(LPWSTR pszFile);

    // Drops the graph and clears everything that showed it.
    void ResetGraph();
    // After a run ended by itself (end of stream or an abort): stops and rewinds the graph
    // and makes the settings usable again, as the Stop button does.
    void EndRun();

    // Shows a message box captioned with the program's name; see ShowMessageBox.
    int ShowMessage(LPCWSTR pszText, HRESULT hr);

    // Message handlers.
    LRESULT OnInitDialog(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnGraphNotify(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnTimer(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    LRESULT OnHScroll(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);

    // Source and output selection.
    LRESULT OnLoad(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnSourceChange(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnSourceType(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnProperties(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnOutputCheck(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnSave(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnOutputChange(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);

    // Graph build and transport.
    LRESULT OnBuildGraph(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnShowGraph(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnPlay(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnPause(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnStop(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnTest(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnClose(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);

    // Encoder settings panel.
    LRESULT OnPassThroughTimeStamps(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnEncoderType(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnForceKeyFrame(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnPreset(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnProfile(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnLevel(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnRateControl(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    // The edit box of a numeric setting (kNumericSettings) changed.
    LRESULT OnNumericChange(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnExactGop(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);
    LRESULT OnCavlc(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled);

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

private:
    // The text of the selected item of a drop-down list, bounded by cchMax (terminator
    // included); empty when nothing is selected or the text does not fit.
    void GetSelectedText(int nID, LPWSTR pszText, int cchMax);
    // Puts a value-and-name table into a drop-down list and its "in use" label.
    void PutNamedValues(int nComboID, int nLabelID, const NamedValue* pRows, int cRows,
                        UINT nValue, UINT nUsed);
    void PutSpeedQualityLabels();

    // A numeric setting of the panel: its edit box, up-down and "used" label, the members
    // they show, the up-down's range, and whether the edit box's text is read as signed.
    struct NumericSetting {
        int nEditID;
        int nSpinID;
        int nUsedID;
        UINT CMainDialog::*pnValue;
        UINT CMainDialog::*pnUsed;
        int nMin;
        int nMax;
        BOOL bSigned;
    };
    static const NumericSetting kNumericSettings[4];
};
