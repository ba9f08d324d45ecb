#include "tests/dialog/DialogKit.h"

#include "graph/DShow.h"

const int kGraphGroup[6] = {207, 246, 210, 211, 212, 213};
const int kSettingsGroup[17] = {245, 208, 222, 223, 209, 225, 226, 228, 230,
                                231, 234, 236, 237, 239, 240, 242, 243};

void Click(HWND hDlg, int nID) { ::SendMessageW(::GetDlgItem(hDlg, nID), BM_CLICK, 0, 0); }

void Type(HWND hDlg, int nID, const wchar_t* pszText) {
    ::SendMessageW(::GetDlgItem(hDlg, nID), WM_SETTEXT, 0, (LPARAM)pszText);
}

void Choose(HWND hDlg, int nID, int nItem) {
    HWND hCombo = ::GetDlgItem(hDlg, nID);
    ::SendMessageW(hCombo, CB_SETCURSEL, (WPARAM)nItem, 0);
    ::SendMessageW(hDlg, WM_COMMAND, MAKEWPARAM(nID, CBN_SELCHANGE), (LPARAM)hCombo);
}

void DragTrackbar(HWND hDlg, int nID, int nPos) {
    HWND hBar = ::GetDlgItem(hDlg, nID);
    ::SendMessageW(hDlg, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, nPos), (LPARAM)hBar);
    ::SendMessageW(hBar, TBM_SETPOS, TRUE, nPos);
    ::SendMessageW(hDlg, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), (LPARAM)hBar);
}

void SpinUp(HWND hDlg, int nSpinID) {
    // The arrow keys on the buddy edit move the spin control as its arrows do.
    HWND hSpin = ::GetDlgItem(hDlg, nSpinID);
    HWND hBuddy = (HWND)::SendMessageW(hSpin, UDM_GETBUDDY, 0, 0);
    ::SendMessageW(hBuddy, WM_KEYDOWN, VK_UP, 0);
    ::SendMessageW(hBuddy, WM_KEYUP, VK_UP, 0xC0000000);
}

bool Enabled(HWND hDlg, int nID) { return ::IsWindowEnabled(::GetDlgItem(hDlg, nID)) != FALSE; }
bool Checked(HWND hDlg, int nID) { return ::IsDlgButtonChecked(hDlg, nID) == BST_CHECKED; }
int Selection(HWND hDlg, int nID) { return (int)::SendDlgItemMessageW(hDlg, nID, CB_GETCURSEL, 0, 0); }

std::vector<std::wstring> Items(HWND hDlg, int nID) {
    std::vector<std::wstring> v;
    const int n = (int)::SendDlgItemMessageW(hDlg, nID, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < n; ++i) {
        const int cch = (int)::SendDlgItemMessageW(hDlg, nID, CB_GETLBTEXTLEN, i, 0);
        std::wstring s(cch + 1, L'\0');
        ::SendDlgItemMessageW(hDlg, nID, CB_GETLBTEXT, i, (LPARAM)&s[0]);
        s.resize(cch);
        v.push_back(s);
    }
    return v;
}

std::vector<UINT> ItemData(HWND hDlg, int nID) {
    std::vector<UINT> v;
    const int n = (int)::SendDlgItemMessageW(hDlg, nID, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < n; ++i) v.push_back((UINT)::SendDlgItemMessageW(hDlg, nID, CB_GETITEMDATA, i, 0));
    return v;
}

int ProgressPos(HWND hDlg) { return (int)::SendDlgItemMessageW(hDlg, 210, PBM_GETPOS, 0, 0); }

int GroupState(HWND hDlg, const int* pIDs, int cIDs) {
    int nOn = 0;
    for (int i = 0; i < cIDs; ++i) nOn += Enabled(hDlg, pIDs[i]) ? 1 : 0;
    return nOn == cIDs ? 1 : nOn == 0 ? 0 : -1;
}

void StandUpGraph(CMainDialog& dlg, FakeEncoder& encoder) {
    dlg.m_graph.Release();
    dlg.m_graph.m_spGraph.CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER);
    dlg.m_graph.m_spVireon = static_cast<IVireon*>(&encoder);
    dlg.ReadEncoderSettings();
    dlg.PutSettings();
    dlg.EnableGraphControls(true);
}

void QueueGraphEvent(CMainDialog& dlg, long lCode) {
    CComQIPtr<IMediaEvent> spEvent(dlg.m_graph.m_spGraph);
    CComQIPtr<IMediaEventSink> spSink(dlg.m_graph.m_spGraph);
    if (!spEvent || !spSink) return;
    // Otherwise the graph manager waits for every renderer before it reports the end.
    spEvent->CancelDefaultHandling(lCode);
    spSink->Notify(lCode, 0, 0);
    ::PostMessageW(dlg.m_hWnd, WM_GRAPHNOTIFY, 0, 0);
}

bool TimerRunning(HWND hWnd, UINT_PTR nID, UINT uPeriod) {
    if (!::KillTimer(hWnd, nID)) return false;
    ::SetTimer(hWnd, nID, uPeriod, NULL);
    return true;
}
