// Driving the main dialog as a tester would, and giving it a graph whose encoder answers
// as a test wants.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "dialog/MainDialog.h"
#include "tests/support/fakes/FakeDevices.h"
#include "tests/support/fakes/FakeGraph.h"

#include <initializer_list>
#include <memory>

// A tester's actions.
void Click(HWND hDlg, int nID);                              // BM_CLICK
void Type(HWND hDlg, int nID, const wchar_t* pszText);        // WM_SETTEXT, raising EN_CHANGE
void Choose(HWND hDlg, int nID, int nItem);                  // CB_SETCURSEL + CBN_SELCHANGE
void DragTrackbar(HWND hDlg, int nID, int nPos);             // WM_HSCROLL TB_THUMBTRACK, then TB_ENDTRACK
void SpinUp(HWND hDlg, int nSpinID);                         // one click on the up arrow

// What the controls show.
bool Enabled(HWND hDlg, int nID);
bool Checked(HWND hDlg, int nID);
int Selection(HWND hDlg, int nID);                           // CB_GETCURSEL
std::vector<std::wstring> Items(HWND hDlg, int nID);         // a list's item texts
std::vector<UINT> ItemData(HWND hDlg, int nID);
int ProgressPos(HWND hDlg);

// The graph group and the settings group of the dialog.
extern const int kGraphGroup[6];
extern const int kSettingsGroup[17];
// Whether every control of the group is enabled (1), every one disabled (0), or mixed (-1).
int GroupState(HWND hDlg, const int* pIDs, int cIDs);
template <size_t N>
int GroupState(HWND hDlg, const int (&ids)[N]) { return GroupState(hDlg, ids, (int)N); }
inline int GroupState(HWND hDlg, std::initializer_list<int> ids) { return GroupState(hDlg, ids.begin(), (int)ids.size()); }

// The maker's filters, the graph manager, the device enumerator and the Smart Tee as fakes
// under their real class identifiers, for as long as it lives. A media file is "rendered"
// as a fake playback chain; "USB Camera" is the one capture device.
class Bench {
public:
    Bench();
    ~Bench();

    // Builds from the source edit as it stands (the tester's "Build graph").
    void Build(HWND hDlg);
    // Types a media file as the source and builds; expects success.
    void BuildFromFile(HWND hDlg);

    // Each build gets a new graph manager and a new encoder; these are the last ones handed
    // out. A new encoder starts with the values and results of the one before it, so
    // whatever a test sets before a build reaches the encoder of that build.
    CComPtr<FakeGraph> spGraph;
    CComPtr<FakeEncoder> spEncoder;
    CComPtr<FakeWriter> spWriter;
    CComPtr<FakeDeviceEnum> spDevices;
    // Run on each new graph manager before it is handed out.
    std::function<void(FakeGraph*)> setUpGraph;
    int cGraphs = 0;

private:
    std::vector<std::unique_ptr<ClassRegistration>> m_registrations;
};

// The encoder's setter calls, in order.
std::vector<std::string> Setters(const FakeEncoder& encoder);
// The graph's state as the dialog sees it.
int GraphState(CMainDialog& dlg);

// Whether the window has a timer with the given ID running (it is killed to find out, and
// started again with the given period when it was there).
bool TimerRunning(HWND hWnd, UINT_PTR nID, UINT uPeriod);
