// CMainDialog: the bench's one window.
#include "dialog/MainDialog.h"

#include <commctrl.h>
#include <commdlg.h>

#include <initializer_list>

#include "app/Diagnostics.h"
#include "dialog/ShowMessage.h"

namespace {

// The settings group, in the order it is switched.
const int kSettingsControls[] = {
    IDC_PASS_THROUGH, IDC_PRESET,       IDC_SPEED_QUALITY,     IDC_RATE_CONTROL,
    IDC_ENCODER_TYPE, IDC_BITRATE,      IDC_BITRATE_SPIN,      IDC_PROFILE,
    IDC_IDR_INTERVAL, IDC_IDR_INTERVAL_SPIN, IDC_LEVEL,        IDC_BFRAMES,
    IDC_BFRAMES_SPIN, IDC_GOP_SIZE,     IDC_GOP_SIZE_SPIN,     IDC_CAVLC,
    IDC_EXACT_GOP,
};

// The transport and status controls of the graph group, switched after the settings.
const int kGraphTailControls[] = {IDC_FORCE_KEY_FRAME, IDC_PROGRESS, IDC_PLAY, IDC_PAUSE,
                                  IDC_STOP};

const WCHAR kCaption[] = L"Quorlin";
const WCHAR kDefaultTitle[] = L"Vireon Test";

const WCHAR kDefaultSource[] = L"F:\\Ref_movies\\Test graphs\\Belukha_SD.mp4.grf";
const WCHAR kDefaultOutput[] = L"F:\\Ref_movies\\TestMovies\\Quorlin.mp4";

const WCHAR kSourceFilter[] =
    L"Graph Edit files (.grf)\0*.grf\0"
    L"Media files (.avi;.mp4;.mov,...)\0*.avi;*.mp4;*.mov;*.mpg;*.mxf\0"
    L"All files\0*.*\0";
const WCHAR kOutputFilter[] =
    L"MPEG-4 file (.mp4)\0*.mp4\0"
    L"QT file (.mov)\0*.mov;\0"
    L"All files\0*.*\0";

// Encoder kinds offered in the encoder type list; item index = kind - 1.
const LPCWSTR kEncoderTypes[] = {L"Any", L"Soft", L"Hard"};
// Presets and rate control; the value is the item index.
const LPCWSTR kPresets[] = {L"Balanced", L"Best Quality", L"Fast", L"Low Latency", L"Custom"};
const LPCWSTR kRateControls[] = {L"Constant bitrate", L"Variable bitrate"};

// Profiles and levels: H.264 profile_idc and level_idc, 0 automatic, level 1b as 9.
const NamedValue kProfiles[] = {
    {0, L"Auto"}, {66, L"Baseline"}, {77, L"Main"}, {100, L"High"},
};
const NamedValue kLevels[] = {
    {0, L"Auto"}, {10, L"1"},   {9, L"1b"},  {11, L"1.1"}, {12, L"1.2"}, {13, L"1.3"},
    {20, L"2"},   {21, L"2.1"}, {22, L"2.2"}, {30, L"3"},  {31, L"3.1"}, {32, L"3.2"},
    {40, L"4"},   {41, L"4.1"}, {42, L"4.2"}, {50, L"5"},  {51, L"5.1"},
};

const WCHAR kUnknownName[] = L"???";

// Events by which the graph says that it stopped, or must stop, on a failure.
bool IsAbortEvent(long lCode) {
    switch (lCode) {
    case EC_USERABORT:
    case EC_ERRORABORT:
    case EC_ERRORABORTEX:
    case EC_STREAM_ERROR_STOPPED:
    case EC_FILE_CLOSED:
        return true;
    }
    return false;
}

// Whether an edit control's text fits a path buffer of MAX_PATH characters.
bool PathFits(HWND hEdit) { return ::GetWindowTextLengthW(hEdit) < MAX_PATH; }

// Whether two paths name the same file: the same full path, or (when both exist) the same
// file reached by two names.
bool SameFile(LPCWSTR pszA, LPCWSTR pszB) {
    WCHAR szA[MAX_PATH * 2], szB[MAX_PATH * 2];
    const DWORD cchA = ::GetFullPathNameW(pszA, ARRAYSIZE(szA), szA, NULL);
    const DWORD cchB = ::GetFullPathNameW(pszB, ARRAYSIZE(szB), szB, NULL);
    if (cchA == 0 || cchA >= ARRAYSIZE(szA) || cchB == 0 || cchB >= ARRAYSIZE(szB)) return false;
    if (::lstrcmpiW(szA, szB) == 0) return true;

    BY_HANDLE_FILE_INFORMATION info[2] = {};
    LPCWSTR rgPaths[2] = {szA, szB};
    for (int i = 0; i < 2; ++i) {
        HANDLE h = ::CreateFileW(rgPaths[i], 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
        if (h == INVALID_HANDLE_VALUE) return false;
        const BOOL bInfo = ::GetFileInformationByHandle(h, &info[i]);
        ::CloseHandle(h);
        if (!bInfo) return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

// Number of a fixed array's elements.
template <class T, size_t N>
constexpr int Count(const T (&)[N]) { return (int)N; }

}  // namespace

CMainDialog::CMainDialog() : m_bControlsReady(false) {
    m_szSource[0] = 0;
    m_szOutput[0] = 0;
    ResetSettings();
}

// ---------------------------------------------------------------------------------------
// Settings mirror.

void CMainDialog::ResetSettings() {
    m_ePreset = 0;
    m_nProfile = 0;
    m_nLevel = 0;
    m_nProfileUsed = 0;
    m_nLevelUsed = 0;
    m_nSpeedQuality = 4;
    m_eRateControl = 0;
    m_nGopSize = 0;
    m_bExactGop = 0;
    m_nGopSizeUsed = 0;
    m_nIdrInterval = 0;
    m_nIdrIntervalUsed = 0;
    m_nBitrate = 0;
    m_nBitrateUsed = 0;
    m_nBFrames = 2;
    m_nBFramesUsed = 2;
    m_bCavlc = 0;
    m_bPassThroughTimeStamps = 0;
    m_eEncType = 0;
    m_eEncUsed = 0;
}

void CMainDialog::ReadEncoderSettings() {
    if (!m_graph) DIAG("m_graph != 0");

    // The encoder cannot report the time-stamp pass-through; it keeps the tester's choice.
    const int bPassThroughTimeStamps = m_bPassThroughTimeStamps;
    ResetSettings();
    m_bPassThroughTimeStamps = bPassThroughTimeStamps;

    if (m_graph.GetEncoderType(&m_eEncType, &m_eEncUsed) != S_OK)
        DIAG("CMainDialog::ReadEncoderSettings(): GetEncoderType() FAILED");
    if (m_graph.GetPreset(&m_ePreset) != S_OK)
        DIAG("CMainDialog::ReadEncoderSettings(): GetPreset() FAILED");
    if (m_graph.GetProfileLevel(&m_nProfile, &m_nLevel, &m_nProfileUsed, &m_nLevelUsed) != S_OK)
        DIAG("CMainDialog::ReadEncoderSettings(): GetProfileLevel() FAILED");
    if (m_graph.GetSpeedQuality(&m_nSpeedQuality) != S_OK)
        DIAG("CMainDialog::ReadEncoderSettings(): GetSpeedQuality() FAILED");
    if (m_graph.GetRateControl(&m_eRateControl) != S_OK)
        DIAG("CMainDialog::ReadEncoderSettings(): GetRateControl() FAILED");
    if (m_graph.GetBitrate(&m_nBitrate, &m_nBitrateUsed) != S_OK)
        DIAG("CMainDialog::ReadEncoderSettings(): GetBitrate() FAILED");
    if (m_graph.GetGop(&m_nGopSize, &m_bExactGop, &m_nGopSizeUsed) != S_OK)
        DIAG("CMainDialog::ReadEncoderSettings(): GetGop() FAILED");
    if (m_graph.GetIdrInterval(&m_nIdrInterval, &m_nIdrIntervalUsed) != S_OK)
        DIAG("CMainDialog::ReadEncoderSettings(): GetIdrInterval() FAILED");
    if (m_graph.GetBFrames(&m_nBFrames, &m_nBFramesUsed) != S_OK)
        DIAG("CMainDialog::ReadEncoderSettings(): GetBFrames() FAILED");
    if (m_graph.GetCavlc(&m_bCavlc) != S_OK)
        DIAG("CMainDialog::ReadEncoderSettings(): GetCavlc() FAILED");
}

// ---------------------------------------------------------------------------------------
// Control groups and messages.

void CMainDialog::EnableSettingsControls(bool bEnable) {
    for (int nID : kSettingsControls) ::EnableWindow(GetDlgItem(nID), bEnable);
}

void CMainDialog::EnableGraphControls(bool bEnable) {
    ::EnableWindow(GetDlgItem(IDC_SHOW_GRAPH), bEnable);
    EnableSettingsControls(bEnable);
    for (int nID : kGraphTailControls) ::EnableWindow(GetDlgItem(nID), bEnable);
}

int CMainDialog::ShowMessage(LPCWSTR pszText, HRESULT hr) {
    return ShowMessageBox(m_hWnd, pszText, kCaption, hr, MB_OK);
}

void CMainDialog::GetSelectedText(int nID, LPWSTR pszText, int cchMax) {
    pszText[0] = 0;
    const int nItem = (int)SendDlgItemMessage(nID, CB_GETCURSEL);
    ATLASSERT(nItem >= 0);
    if (nItem < 0) return;
    const int cch = (int)SendDlgItemMessage(nID, CB_GETLBTEXTLEN, nItem);
    if (cch < 0 || cch >= cchMax) {
        DIAG("CMainDialog::GetSelectedText(): item text too long");
        return;
    }
    if (SendDlgItemMessage(nID, CB_GETLBTEXT, nItem, (LPARAM)pszText) < 0) pszText[0] = 0;
}

// ---------------------------------------------------------------------------------------
// Initialisation, source and output selection.

LRESULT CMainDialog::OnInitDialog(UINT /*uMsg*/, WPARAM /*wParam*/, LPARAM /*lParam*/,
                                  BOOL& /*bHandled*/) {
    HICON hIcon = ::LoadIconW(_AtlBaseModule.GetResourceInstance(), MAKEINTRESOURCEW(IDI_QUORLIN));
    SetClassLongPtr(GCLP_HICON, (LONG_PTR)hIcon);

    INITCOMMONCONTROLSEX icc = {sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    BOOL bRet = ::InitCommonControlsEx(&icc);
    ATLASSERT(bRet);

    m_bControlsReady = false;

    SendDlgItemMessage(IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 1000));
    SendDlgItemMessage(IDC_PROGRESS, PBM_SETSTEP, 1);

    // Centred horizontally over the work area, just above its bottom.
    RECT rcWindow = {}, rcWork = {};
    GetWindowRect(&rcWindow);
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0);
    const int x = ((rcWork.right - rcWork.left) - (rcWindow.right - rcWindow.left)) / 2;
    const int y = rcWork.bottom - (rcWindow.bottom - rcWindow.top) - 50;
    SetWindowPos(NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    CheckRadioButton(IDC_SOURCE_FILE, IDC_SOURCE_LIVE, IDC_SOURCE_FILE);
    ::EnableWindow(GetDlgItem(IDC_LIVE_SOURCES), FALSE);
    ::EnableWindow(GetDlgItem(IDC_PROPERTIES), FALSE);
    lstrcpynW(m_szSource, kDefaultSource, MAX_PATH);
    SetDlgItemText(IDC_SOURCE_PATH, m_szSource);

    PutLiveSources();

    CheckDlgButton(IDC_OUTPUT_CHECK, BST_UNCHECKED);
    ::EnableWindow(GetDlgItem(IDC_SAVE), FALSE);
    ::EnableWindow(GetDlgItem(IDC_OUTPUT_PATH), FALSE);
    ::EnableWindow(GetDlgItem(IDC_SHOW_PREVIEW), FALSE);
    lstrcpynW(m_szOutput, kDefaultOutput, MAX_PATH);
    SetDlgItemText(IDC_OUTPUT_PATH, m_szOutput);

    EnableGraphControls(false);

    m_bControlsReady = true;
    return TRUE;
}

HRESULT CMainDialog::PutLiveSources() {
    CWindow wndCombo(GetDlgItem(IDC_LIVE_SOURCES));
    ATLASSERT(wndCombo.IsWindow());
    wndCombo.SendMessage(CB_RESETCONTENT);

    CComPtr<ICreateDevEnum> spDevEnum;
    HRESULT hr = spDevEnum.CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER);
    ATLASSERT(SUCCEEDED(hr));
    ATLASSERT(spDevEnum != 0);
    if (!spDevEnum) return FAILED(hr) ? hr : E_FAIL;

    CComPtr<IEnumMoniker> spEnum;
    hr = spDevEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &spEnum, 0);
    if (hr != S_OK) {
        DIAG("CMainDialog::PutLiveSources(): Can't create enumerator for video capture sources");
        return hr;
    }

    int nCount = 0;
    for (;;) {
        CComPtr<IMoniker> spMoniker;
        hr = spEnum->Next(1, &spMoniker, NULL);
        if (hr == S_FALSE) break;
        if (hr != S_OK) {
            DIAG("CMainDialog::PutLiveSources(): spEnum->Next() FAILED");
            return hr;
        }
        CComPtr<IPropertyBag> spBag;
        hr = spMoniker->BindToStorage(NULL, NULL, IID_IPropertyBag, (void**)&spBag);
        if (FAILED(hr) || !spBag) {
            DIAG("CMainDialog::PutLiveSources(): spMoniker->BindToStorage() FAILED");
            continue;
        }
        CComVariant varName;
        if (spBag->Read(L"FriendlyName", &varName, NULL) == S_OK) {
            const bool bName = varName.vt == VT_BSTR && varName.bstrVal != NULL;
            ATLASSERT(bName);
            if (!bName) continue;
            wndCombo.SendMessage(CB_ADDSTRING, 0, (LPARAM)varName.bstrVal);
            ++nCount;
        }
    }

    if (nCount > 0) {
        wndCombo.SendMessage(CB_SETCURSEL, 0);
        return S_OK;
    }
    return S_FALSE;
}

LRESULT CMainDialog::OnSourceType(WORD /*wNotifyCode*/, WORD wID, HWND /*hWndCtl*/,
                                  BOOL& /*bHandled*/) {
    const bool bLive = wID == IDC_SOURCE_LIVE;
    ::EnableWindow(GetDlgItem(IDC_LOAD), !bLive);
    ::EnableWindow(GetDlgItem(IDC_SOURCE_PATH), !bLive);
    ::EnableWindow(GetDlgItem(IDC_LIVE_SOURCES), bLive);
    ::EnableWindow(GetDlgItem(IDC_PROPERTIES), bLive);
    return 0;
}

bool CMainDialog::ChooseSourceFile(LPWSTR pszFile) {
    ATLASSERT(pszFile != 0);
    if (pszFile == 0) return false;
    OPENFILENAMEW rgOFN = {};
    rgOFN.lStructSize = sizeof(rgOFN);
    rgOFN.hwndOwner = m_hWnd;
    rgOFN.lpstrFilter = kSourceFilter;
    rgOFN.lpstrFile = pszFile;
    rgOFN.nMaxFile = MAX_PATH;
    rgOFN.lpstrTitle = L"Select .grf file or media file for create test graph";
    rgOFN.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
    rgOFN.lpstrDefExt = L"grf";
    return ::GetOpenFileNameW(&rgOFN) == 1;
}

bool CMainDialog::ChooseOutputFile(LPWSTR pszFile) {
    ATLASSERT(pszFile != 0);
    if (pszFile == 0) return false;
    OPENFILENAMEW rgOFN = {};
    rgOFN.lStructSize = sizeof(rgOFN);
    rgOFN.hwndOwner = m_hWnd;
    rgOFN.lpstrFilter = kOutputFilter;
    rgOFN.lpstrFile = pszFile;
    rgOFN.nMaxFile = MAX_PATH;
    rgOFN.lpstrTitle = L"Select name of MPEG-4 capture file";
    rgOFN.Flags = OFN_EXPLORER | OFN_NOREADONLYRETURN | OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT;
    rgOFN.lpstrDefExt = L"mp4";
    return ::GetSaveFileNameW(&rgOFN) == 1;
}

LRESULT CMainDialog::OnLoad(WORD /*wNotifyCode*/, WORD /*wID*/, HWND /*hWndCtl*/,
                            BOOL& /*bHandled*/) {
    WCHAR szFile[MAX_PATH];
    lstrcpynW(szFile, m_szSource, MAX_PATH);
    if (ChooseSourceFile(szFile)) {
        lstrcpynW(m_szSource, szFile, MAX_PATH);
        SetDlgItemText(IDC_SOURCE_PATH, m_szSource);
    }
    return 0;
}

LRESULT CMainDialog::OnSave(WORD /*wNotifyCode*/, WORD /*wID*/, HWND /*hWndCtl*/,
                            BOOL& /*bHandled*/) {
    WCHAR szFile[MAX_PATH];
    lstrcpynW(szFile, m_szOutput, MAX_PATH);
    if (ChooseOutputFile(szFile)) {
        lstrcpynW(m_szOutput, szFile, MAX_PATH);
        SetDlgItemText(IDC_OUTPUT_PATH, m_szOutput);
    }
    return 0;
}

LRESULT CMainDialog::OnSourceChange(WORD /*wNotifyCode*/, WORD /*wID*/, HWND /*hWndCtl*/,
                                    BOOL& /*bHandled*/) {
    GetDlgItemText(IDC_SOURCE_PATH, m_szSource, MAX_PATH);
    return 0;
}

LRESULT CMainDialog::OnOutputChange(WORD /*wNotifyCode*/, WORD /*wID*/, HWND /*hWndCtl*/,
                                    BOOL& /*bHandled*/) {
    GetDlgItemText(IDC_OUTPUT_PATH, m_szOutput, MAX_PATH);
    return 0;
}

LRESULT CMainDialog::OnOutputCheck(WORD /*wNotifyCode*/, WORD /*wID*/, HWND /*hWndCtl*/,
                                   BOOL& /*bHandled*/) {
    const bool bOn = IsDlgButtonChecked(IDC_OUTPUT_CHECK) == BST_CHECKED;
    ::EnableWindow(GetDlgItem(IDC_SAVE), bOn);
    ::EnableWindow(GetDlgItem(IDC_OUTPUT_PATH), bOn);
    ::EnableWindow(GetDlgItem(IDC_SHOW_PREVIEW), bOn);
    return 0;
}

LRESULT CMainDialog::OnProperties(WORD /*wNotifyCode*/, WORD /*wID*/, HWND /*hWndCtl*/,
                                  BOOL& /*bHandled*/) {
    if (!m_graph) {
        ShowMessage(L"Graph not exist", E_FAIL);
        return 0;
    }
    if (IsDlgButtonChecked(IDC_SOURCE_LIVE) != BST_CHECKED) {
        ShowMessage(L"Filter not in graph", E_FAIL);
        return 0;
    }
    WCHAR szName[256];
    GetSelectedText(IDC_LIVE_SOURCES, szName, Count(szName));
    HRESULT hr = m_graph.ShowSourcePropertyPages(szName, m_hWnd);
    if (hr != S_OK) ShowMessage(L"Can't show filter's property page", hr);
    return 0;
}

// ---------------------------------------------------------------------------------------
// Graph build and transport.

void CMainDialog::ResetGraph() {
    m_bControlsReady = false;
    KillTimer(TIMER_PROGRESS);
    KillTimer(TIMER_STATUS);
    m_graph.Release();

    for (int nID : {IDC_RESOLUTION, IDC_FPS, IDC_INTERLACING, IDC_FRAMES, IDC_AVG_BITRATE})
        SetDlgItemText(nID, L"");

    for (const NumericSetting& row : kNumericSettings) {
        SetDlgItemInt(row.nEditID, 0, FALSE);
        SetDlgItemText(row.nUsedID, L"");
    }
    SetDlgItemText(IDC_PROFILE_USED, L"");
    SetDlgItemText(IDC_LEVEL_USED, L"");
    CheckDlgButton(IDC_EXACT_GOP, BST_UNCHECKED);
    CheckDlgButton(IDC_CAVLC, BST_UNCHECKED);

    EnableGraphControls(false);
    m_bControlsReady = true;
}

LRESULT CMainDialog::OnBuildGraph(WORD /*wNotifyCode*/, WORD /*wID*/, HWND /*hWndCtl*/,
                                  BOOL& /*bHandled*/) {
    ResetGraph();

    const bool bLive = IsDlgButtonChecked(IDC_SOURCE_LIVE) == BST_CHECKED;
    const bool bOutput = IsDlgButtonChecked(IDC_OUTPUT_CHECK) == BST_CHECKED && m_szOutput[0] != 0;
    const bool bPreview = bOutput && IsDlgButtonChecked(IDC_SHOW_PREVIEW) == BST_CHECKED;

    WCHAR szName[1024];
    LPCWSTR pszSource = m_szSource;
    if (bLive) {
        GetSelectedText(IDC_LIVE_SOURCES, szName, Count(szName));
        pszSource = szName;
    } else if (m_szSource[0] == 0) {
        ShowMessage(L"Source not selected", E_INVALIDARG);
        return 0;
    }

    // A path longer than its buffer was cut when it was read: refused, never used cut.
    if ((!bLive && !PathFits(GetDlgItem(IDC_SOURCE_PATH))) || (bOutput && !PathFits(GetDlgItem(IDC_OUTPUT_PATH)))) {
        ShowMessage(L"Can't build graph", HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
        return 0;
    }
    // Recording over the source would destroy it while it is read.
    if (!bLive && bOutput && SameFile(m_szSource, m_szOutput)) {
        ShowMessage(L"Can't build graph: the output file is the source file", E_INVALIDARG);
        return 0;
    }

    HRESULT hr = m_graph.BuildGraph(pszSource, bLive, bOutput ? m_szOutput : NULL, bPreview,
                                    m_hWnd, WM_GRAPHNOTIFY);
    if (hr != S_OK) {
        ShowMessage(L"Can't build graph", hr);
        return 0;
    }

    ReadEncoderSettings();
    PutSettings();

    CComBSTR cbsFilter;
    m_graph.GetEncoderInfo(cbsFilter);
    if (cbsFilter.m_str != NULL) {
        WCHAR sz[512];
        lstrcpynW(sz, L"Test for ", Count(sz));
        const int n = lstrlenW(sz);
        lstrcpynW(sz + n, cbsFilter.m_str, Count(sz) - n);
        SetWindowText(sz);
    } else {
        SetWindowText(kDefaultTitle);
    }

    EnableGraphControls(true);

    if (!bLive) SetTimer(TIMER_PROGRESS, PROGRESS_PERIOD);
    SetTimer(TIMER_STATUS, STATUS_PERIOD);

    BringWindowToTop();
    return 0;
}

LRESULT CMainDialog::OnShowGraph(WORD /*wNotifyCode*/, WORD /*wID*/, HWND /*hWndCtl*/,
                                 BOOL& /*bHandled*/) {
    HRESULT hr = m_graph.ShowGraph();
    if (hr != S_OK) ShowMessage(L"Can't show graph", hr);
    return 0;
}

LRESULT CMainDialog::OnPlay(WORD /*wNotifyCode*/, WORD /*wID*/, HWND /*hWndCtl*/,
                            BOOL& /*bHandled*/) {
    if (!m_graph) {
        ShowMessage(L"Graph not exist", E_FAIL);
        return 0;
    }
    const int nState = m_graph.GetState();
    if (nState == State_Running) return 0;

    if (nState == State_Stopped) {
        // What is sent follows what the tester sees in the pass-through box.
        m_bPassThroughTimeStamps = IsDlgButtonChecked(IDC_PASS_THROUGH) == BST_CHECKED ? 1 : 0;

        EncodingProps props;
        ZeroMemory(&props, sizeof(props));
        props.nProfile = m_nProfile;
        props.nLevel = m_nLevel;
        props.nSpeedQuality = m_nSpeedQuality;
        props.eRateControl = m_eRateControl;
        props.nBitrate = m_nBitrate;
        props.nGopSize = m_nGopSize;
        props.bExactGop = m_bExactGop;
        props.nIdrInterval = m_nIdrInterval;
        props.nBFrames = m_nBFrames;
        props.bCavlc = m_bCavlc;
        props.bPassThroughTimeStamps = m_bPassThroughTimeStamps;

        HRESULT hr = m_graph.SetEncodingProps(&props);
        if (FAILED(hr)) {
            ShowMessage(L"Can't change encoding properties", hr);
            return 0;
        }
        ReadEncoderSettings();
        PutSettings();
        EnableSettingsControls(false);
        ::EnableWindow(GetDlgItem(IDC_FORCE_KEY_FRAME), TRUE);
    }

    HRESULT hr = m_graph.Run();
    if (FAILED(hr)) {
        ShowMessage(L"Can't play file", hr);
        EnableSettingsControls(true);
        ::EnableWindow(GetDlgItem(IDC_FORCE_KEY_FRAME), FALSE);
    }
    return 0;
}

LRESULT CMainDialog::OnPause(WORD /*wNotifyCode*/, WORD /*wID*/, HWND /*hWndCtl*/,
                             BOOL& /*bHandled*/) {
    if (!m_graph) {
        ShowMessage(L"Graph not exist", E_FAIL);
        return 0;
    }
    HRESULT hr = m_graph.Pause();
    ATLASSERT(SUCCEEDED(hr));
    return 0;
}

void CMainDialog::EndRun() {
    HRESULT hr = m_graph.Stop();
    ATLASSERT(hr == S_OK);
    hr = m_graph.SetPosition(0);
    ATLASSERT(hr == S_OK);
    EnableSettingsControls(true);
    ::EnableWindow(GetDlgItem(IDC_FORCE_KEY_FRAME), FALSE);
}

LRESULT CMainDialog::OnStop(WORD /*wNotifyCode*/, WORD /*wID*/, HWND /*hWndCtl*/,
                            BOOL& /*bHandled*/) {
    if (!m_graph) return 0;
    HRESULT hr = m_graph.Stop();
    ATLASSERT(hr == S_OK);
    if (IsDlgButtonChecked(IDC_SOURCE_LIVE) != BST_CHECKED) {
        hr = m_graph.SetPosition(0);
        ATLASSERT(hr == S_OK);
    }
    EnableSettingsControls(true);
    ::EnableWindow(GetDlgItem(IDC_FORCE_KEY_FRAME), FALSE);
    return 0;
}

LRESULT CMainDialog::OnTest(WORD /*wNotifyCode*/, WORD /*wID*/, HWND /*hWndCtl*/,
                            BOOL& /*bHandled*/) {
    ResetGraph();
    return 0;
}

LRESULT CMainDialog::OnClose(WORD /*wNotifyCode*/, WORD wID, HWND /*hWndCtl*/, BOOL& /*bHandled*/) {
    KillTimer(TIMER_PROGRESS);
    KillTimer(TIMER_STATUS);
    m_graph.Release();
    EndDialog(wID);
    return 0;
}

// ---------------------------------------------------------------------------------------
// Status display.

LRESULT CMainDialog::OnTimer(UINT /*uMsg*/, WPARAM wParam, LPARAM /*lParam*/, BOOL& /*bHandled*/) {
    if (!m_graph) {
        KillTimer(TIMER_PROGRESS);
        KillTimer(TIMER_STATUS);
        SetDlgItemInt(IDC_AVG_BITRATE, 0, FALSE);
        return 0;
    }

    if (wParam == TIMER_PROGRESS) {
        LONGLONG tDuration = 0;
        if (m_graph.GetDuration(&tDuration) != S_OK || tDuration == 0) {
            KillTimer(TIMER_PROGRESS);
            return 0;
        }
        LONGLONG tPosition = 0;
        if (m_graph.GetPosition(&tPosition) != S_OK) {
            KillTimer(TIMER_PROGRESS);
            return 0;
        }
        const int nPos = (int)(tPosition * 1000 / tDuration);
        SendDlgItemMessage(IDC_PROGRESS, PBM_SETPOS, (WPARAM)nPos);
        return 0;
    }

    WCHAR sz[64];
    int nWidth = 0, nHeight = 0, eInterlacing = 0;
    double dblFPS = 0.0;
    HRESULT hr = m_graph.GetInputInfo(&nWidth, &nHeight, &dblFPS, &eInterlacing);
    ATLASSERT(hr == S_OK);
    if (nWidth != 0) {
        wsprintfW(sz, L" %i x %i", nWidth, nHeight);
        SetDlgItemText(IDC_RESOLUTION, sz);

        // Rounded to the nearest ten-thousandth.
        int nWhole = (int)dblFPS;
        UINT nDigits = (UINT)(10000.0 * (dblFPS - nWhole) + 0.5);
        if (nDigits == 10000) {
            ++nWhole;
            nDigits = 0;
        }
        wsprintfW(sz, L" %i.%04u", nWhole, nDigits);
        SetDlgItemText(IDC_FPS, sz);

        LPCWSTR pszInterlacing = L"";
        switch (eInterlacing) {
        case MRV264E_Progressive: pszInterlacing = L" Progressive"; break;
        case MRV264E_TopFieldFirst: pszInterlacing = L" Top first"; break;
        case MRV264E_BottomFieldFirst: pszInterlacing = L" Bottom first"; break;
        }
        SetDlgItemText(IDC_INTERLACING, pszInterlacing);
    } else {
        SetDlgItemText(IDC_RESOLUTION, L"");
        SetDlgItemText(IDC_FPS, L"");
        SetDlgItemText(IDC_INTERLACING, L"");
    }

    UINT nAvgBitrate = 0, nFrames = 0;
    hr = m_graph.GetStatistics(&nAvgBitrate, &nFrames);
    ATLASSERT(hr == S_OK);
    wsprintfW(sz, L" %u", nFrames);
    SetDlgItemText(IDC_FRAMES, sz);
    wsprintfW(sz, L" %u", nAvgBitrate);
    SetDlgItemText(IDC_AVG_BITRATE, sz);
    return 0;
}

LRESULT CMainDialog::OnGraphNotify(UINT /*uMsg*/, WPARAM /*wParam*/, LPARAM /*lParam*/,
                                   BOOL& /*bHandled*/) {
    // The "The end" box runs a message loop, so this may run nested inside itself; each
    // call drains what is queued and the outer one then finds the queue empty.
    for (;;) {
        LONG_PTR lParam1 = 0;
        const long lCode = m_graph.GetEvent(&lParam1);
        if (lCode == 0) return 0;
        if (lCode == EC_COMPLETE) {
            EndRun();
            ShowMessage(L"The end", 0);
        } else if (IsAbortEvent(lCode)) {
            // A graph that stopped on a failure ends the run as the end of the stream does,
            // and says why; a second abort of the same run (another filter's) is only traced.
            ATLTRACE2(atlTraceGeneral, 2, L"CMainDialog::OnGraphNotify(): event 0x%X\n", lCode);
            if (m_graph.GetState() == State_Stopped) continue;
            EndRun();
            if (lCode == EC_USERABORT) {
                ShowMessage(L"The graph stopped: its video window was closed", E_ABORT);
            } else {
                const HRESULT hrEvent = (HRESULT)lParam1;
                ShowMessage(L"The graph stopped on an error", FAILED(hrEvent) ? hrEvent : E_FAIL);
            }
        } else {
            ATLTRACE2(atlTraceGeneral, 2, L"CMainDialog::OnGraphNotify(): event 0x%X\n", lCode);
        }
    }
}

// ---------------------------------------------------------------------------------------
// Encoder settings panel.

const CMainDialog::NumericSetting CMainDialog::kNumericSettings[4] = {
    {IDC_BITRATE, IDC_BITRATE_SPIN, IDC_BITRATE_USED, &CMainDialog::m_nBitrate, &CMainDialog::m_nBitrateUsed, 1, 288000, FALSE},
    {IDC_GOP_SIZE, IDC_GOP_SIZE_SPIN, IDC_GOP_SIZE_USED, &CMainDialog::m_nGopSize, &CMainDialog::m_nGopSizeUsed, 0, 32767, TRUE},
    {IDC_IDR_INTERVAL, IDC_IDR_INTERVAL_SPIN, IDC_IDR_INTERVAL_USED, &CMainDialog::m_nIdrInterval,
     &CMainDialog::m_nIdrIntervalUsed, 0, 2147483647, TRUE},
    {IDC_BFRAMES, IDC_BFRAMES_SPIN, IDC_BFRAMES_USED, &CMainDialog::m_nBFrames, &CMainDialog::m_nBFramesUsed, 0, 31, TRUE},
};

void CMainDialog::PutSettings() {
    m_bControlsReady = false;

    PutEncoderType();
    PutPreset();
    PutProfile();
    PutLevel();
    PutSpeedQuality();
    PutRateControl();

    for (const NumericSetting& row : kNumericSettings) {
        SendDlgItemMessage(row.nSpinID, UDM_SETRANGE32, (WPARAM)row.nMin, (LPARAM)row.nMax);
        SetDlgItemInt(row.nEditID, this->*row.pnValue, FALSE);
        WCHAR sz[32];
        wsprintfW(sz, L" %u", this->*row.pnUsed);
        SetDlgItemText(row.nUsedID, sz);
    }
    CheckDlgButton(IDC_EXACT_GOP, m_bExactGop != 0 ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(IDC_CAVLC, m_bCavlc != 0 ? BST_CHECKED : BST_UNCHECKED);

    SetDlgItemText(IDC_FRAMES, L" 0");
    SetDlgItemText(IDC_AVG_BITRATE, L" 0");

    m_bControlsReady = true;
}

void CMainDialog::PutEncoderType() {
    SendDlgItemMessage(IDC_ENCODER_TYPE, CB_RESETCONTENT);
    for (LPCWSTR pszName : kEncoderTypes)
        SendDlgItemMessage(IDC_ENCODER_TYPE, CB_ADDSTRING, 0, (LPARAM)pszName);
    SendDlgItemMessage(IDC_ENCODER_TYPE, CB_SETCURSEL, (WPARAM)(m_eEncType - 1));

    LPCWSTR pszUsed;
    switch (m_eEncUsed) {
    case MRV264E_Enc_Soft: pszUsed = L"Software encoder is used"; break;
    case MRV264E_Enc_Hard: pszUsed = L"Hardware encoder is used"; break;
    default:
        if (m_eEncUsed != MRV264E_Enc_Unknown) DIAG("m_eEncUsed == MRV264E_Enc_Unknown");
        pszUsed = L"Encoder is not created";
        break;
    }
    SetDlgItemText(IDC_ENCODER_USED, pszUsed);
}

void CMainDialog::PutPreset() {
    SendDlgItemMessage(IDC_PRESET, CB_RESETCONTENT);
    for (LPCWSTR pszName : kPresets) SendDlgItemMessage(IDC_PRESET, CB_ADDSTRING, 0, (LPARAM)pszName);
    SendDlgItemMessage(IDC_PRESET, CB_SETCURSEL, (WPARAM)m_ePreset);
}

void CMainDialog::PutNamedValues(int nComboID, int nLabelID, const NamedValue* pRows, int cRows,
                                 UINT nValue, UINT nUsed) {
    SendDlgItemMessage(nComboID, CB_RESETCONTENT);
    int nSelected = -1;
    const NamedValue* pUsed = NULL;
    for (int i = 0; i < cRows; ++i) {
        const int nItem = (int)SendDlgItemMessage(nComboID, CB_ADDSTRING, 0, (LPARAM)pRows[i].pszName);
        SendDlgItemMessage(nComboID, CB_SETITEMDATA, (WPARAM)nItem, (LPARAM)pRows[i].nValue);
        if (pRows[i].nValue == nValue) nSelected = nItem;
        if (pRows[i].nValue == nUsed) pUsed = &pRows[i];
    }
    SendDlgItemMessage(nComboID, CB_SETCURSEL, (WPARAM)nSelected);

    WCHAR sz[16] = L" ";
    lstrcpynW(sz + 1, pUsed ? pUsed->pszName : kUnknownName, Count(sz) - 1);
    SetDlgItemText(nLabelID, sz);
}

void CMainDialog::PutProfile() {
    PutNamedValues(IDC_PROFILE, IDC_PROFILE_USED, kProfiles, Count(kProfiles), m_nProfile,
                   m_nProfileUsed);
}

void CMainDialog::PutLevel() {
    PutNamedValues(IDC_LEVEL, IDC_LEVEL_USED, kLevels, Count(kLevels), m_nLevel, m_nLevelUsed);
}

void CMainDialog::PutSpeedQualityLabels() {
    WCHAR sz[32];
    wsprintfW(sz, L" %i", 8 - (int)m_nSpeedQuality);
    SetDlgItemText(IDC_SPEED_VALUE, sz);
    wsprintfW(sz, L" %i", (int)m_nSpeedQuality);
    SetDlgItemText(IDC_QUALITY_VALUE, sz);
}

void CMainDialog::PutSpeedQuality() {
    SendDlgItemMessage(IDC_SPEED_QUALITY, TBM_SETRANGE, FALSE, MAKELPARAM(1, 7));
    SendDlgItemMessage(IDC_SPEED_QUALITY, TBM_SETPAGESIZE, 0, 1);
    SendDlgItemMessage(IDC_SPEED_QUALITY, TBM_SETPOS, TRUE, (LPARAM)m_nSpeedQuality);
    PutSpeedQualityLabels();
}

void CMainDialog::PutRateControl() {
    SendDlgItemMessage(IDC_RATE_CONTROL, CB_RESETCONTENT);
    for (LPCWSTR pszName : kRateControls)
        SendDlgItemMessage(IDC_RATE_CONTROL, CB_ADDSTRING, 0, (LPARAM)pszName);
    SendDlgItemMessage(IDC_RATE_CONTROL, CB_SETCURSEL, (WPARAM)m_eRateControl);
}

LRESULT CMainDialog::OnForceKeyFrame(WORD /*wNotifyCode*/, WORD /*wID*/, HWND /*hWndCtl*/,
                                     BOOL& /*bHandled*/) {
    if (!m_graph) return 0;
    HRESULT hr = m_graph.ForceKeyFrame();
    if (hr != S_OK) ShowMessage(L"Can't insert key frame", hr);
    return 0;
}

LRESULT CMainDialog::OnHScroll(UINT /*uMsg*/, WPARAM wParam, LPARAM /*lParam*/, BOOL& /*bHandled*/) {
    if (!m_bControlsReady) return 0;
    UINT nPos;
    if (LOWORD(wParam) == TB_THUMBTRACK)
        nPos = HIWORD(wParam);
    else
        nPos = (UINT)SendDlgItemMessage(IDC_SPEED_QUALITY, TBM_GETPOS);
    if (nPos != m_nSpeedQuality) {
        m_nSpeedQuality = nPos;
        PutSpeedQualityLabels();
    }
    return 0;
}

LRESULT CMainDialog::OnEncoderType(WORD /*wNotifyCode*/, WORD /*wID*/, HWND /*hWndCtl*/,
                                   BOOL& /*bHandled*/) {
    if (!m_bControlsReady || !m_graph) return 0;
    const int nItem = (int)SendDlgItemMessage(IDC_ENCODER_TYPE, CB_GETCURSEL);
    HRESULT hr = m_graph.SetEncoderType(nItem + 1);
    if (hr != S_OK) {
        ShowMessage(L"Can't change encoder type", hr);
        SendDlgItemMessage(IDC_ENCODER_TYPE, CB_SETCURSEL, (WPARAM)(m_eEncType - 1));
    } else {
        ReadEncoderSettings();
        PutSettings();
    }
    BringWindowToTop();
    return 0;
}

LRESULT CMainDialog::OnPreset(WORD /*wNotifyCode*/, WORD /*wID*/, HWND /*hWndCtl*/,
                              BOOL& /*bHandled*/) {
    if (!m_bControlsReady || !m_graph) return 0;
    m_ePreset = (int)SendDlgItemMessage(IDC_PRESET, CB_GETCURSEL);
    HRESULT hr = m_graph.SetPreset(m_ePreset);
    if (hr != S_OK) {
        ShowMessage(L"Can't change settings", hr);
    } else {
        ReadEncoderSettings();
        PutSettings();
    }
    BringWindowToTop();
    return 0;
}

LRESULT CMainDialog::OnProfile(WORD /*wNotifyCode*/, WORD /*wID*/, HWND /*hWndCtl*/,
                               BOOL& /*bHandled*/) {
    if (!m_bControlsReady) return 0;
    const int nItem = (int)SendDlgItemMessage(IDC_PROFILE, CB_GETCURSEL);
    if (nItem >= 0) m_nProfile = (UINT)SendDlgItemMessage(IDC_PROFILE, CB_GETITEMDATA, nItem);
    return 0;
}

LRESULT CMainDialog::OnLevel(WORD /*wNotifyCode*/, WORD /*wID*/, HWND /*hWndCtl*/,
                             BOOL& /*bHandled*/) {
    if (!m_bControlsReady) return 0;
    const int nItem = (int)SendDlgItemMessage(IDC_LEVEL, CB_GETCURSEL);
    if (nItem >= 0) m_nLevel = (UINT)SendDlgItemMessage(IDC_LEVEL, CB_GETITEMDATA, nItem);
    return 0;
}

LRESULT CMainDialog::OnRateControl(WORD /*wNotifyCode*/, WORD /*wID*/, HWND /*hWndCtl*/,
                                   BOOL& /*bHandled*/) {
    if (!m_bControlsReady) return 0;
    m_eRateControl = (int)SendDlgItemMessage(IDC_RATE_CONTROL, CB_GETCURSEL);
    return 0;
}

LRESULT CMainDialog::OnNumericChange(WORD /*wNotifyCode*/, WORD wID, HWND /*hWndCtl*/,
                                     BOOL& /*bHandled*/) {
    if (!m_bControlsReady) return 0;
    for (const NumericSetting& row : kNumericSettings) {
        if (row.nEditID != wID) continue;
        // Text that is no number (an emptied box) leaves the setting as it was.
        BOOL bTranslated = FALSE;
        const UINT nValue = GetDlgItemInt(row.nEditID, &bTranslated, row.bSigned);
        if (bTranslated) this->*row.pnValue = nValue;
    }
    return 0;
}

LRESULT CMainDialog::OnExactGop(WORD /*wNotifyCode*/, WORD /*wID*/, HWND /*hWndCtl*/,
                                BOOL& /*bHandled*/) {
    if (m_bControlsReady) m_bExactGop = IsDlgButtonChecked(IDC_EXACT_GOP) == BST_CHECKED ? 1 : 0;
    return 0;
}

LRESULT CMainDialog::OnCavlc(WORD /*wNotifyCode*/, WORD /*wID*/, HWND /*hWndCtl*/,
                             BOOL& /*bHandled*/) {
    if (m_bControlsReady) m_bCavlc = IsDlgButtonChecked(IDC_CAVLC) == BST_CHECKED ? 1 : 0;
    return 0;
}

LRESULT CMainDialog::OnPassThroughTimeStamps(WORD /*wNotifyCode*/, WORD /*wID*/, HWND /*hWndCtl*/,
                                             BOOL& /*bHandled*/) {
    if (m_bControlsReady)
        m_bPassThroughTimeStamps = IsDlgButtonChecked(IDC_PASS_THROUGH) == BST_CHECKED ? 1 : 0;
    return 0;
}
