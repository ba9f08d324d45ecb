// CMainDialog: the bench's one window.
#include "dialog/MainDialog.h"

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

}  // namespace

CMainDialog::CMainDialog() : m_bControlsReady(false) {
    m_szSource[0] = 0;
    m_szOutput[0] = 0;
    ResetSettings();
}

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

LRESULT CMainDialog::OnClose(WORD /*wNotifyCode*/, WORD wID, HWND /*hWndCtl*/, BOOL& /*bHandled*/) {
    KillTimer(1);
    KillTimer(2);
    m_graph.Release();
    EndDialog(wID);
    return 0;
}
