// Driving the main dialog as a tester would, and giving it a graph whose encoder answers
// as a test wants.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "dialog/MainDialog.h"
#include "tests/dialog/FakeEncoder.h"

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

// Gives the dialog a stopped graph (a real filter graph manager with nothing in it) and the
// fake encoder, then brings the panel up as after a build: read-back, panel filled,
// controls enabled.
void StandUpGraph(CMainDialog& dlg, FakeEncoder& encoder);

// Queues an event in the dialog's graph and posts the notification, as the graph does.
void QueueGraphEvent(CMainDialog& dlg, long lCode);

// Whether the window has a timer with the given ID running (it is killed to find out, and
// started again with the given period when it was there).
bool TimerRunning(HWND hWnd, UINT_PTR nID, UINT uPeriod);
