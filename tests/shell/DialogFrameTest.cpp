// The main dialog as created from its template: every control, the tab order, the two
// control groups, closing, and the message map.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <set>

#include "dialog/MainDialog.h"
#include "tests/support/DiagCapture.h"
#include "tests/support/WindowTools.h"

namespace {

struct ControlRow {
    int id;
    const wchar_t* cls;
    const wchar_t* caption;
    int x, y, cx, cy;
    DWORD style;      // bits that must be set
    DWORD typeMask;   // mask of the type bits that must equal the type in style
};

const DWORD kGroupBox = BS_GROUPBOX;
const DWORD kPush = BS_PUSHBUTTON | WS_TABSTOP;
const DWORD kCheck = BS_AUTOCHECKBOX | WS_TABSTOP;
const DWORD kEdit = ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
const DWORD kLabel = SS_LEFT | WS_GROUP;
const DWORD kValue = SS_LEFT | SS_SUNKEN | WS_GROUP;
const DWORD kList = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
const DWORD kSpin = UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_AUTOBUDDY | UDS_ARROWKEYS | UDS_NOTHOUSANDS;
const DWORD kBtnMask = 0x0F;
const DWORD kStaticMask = SS_TYPEMASK;
const DWORD kComboMask = 0x03;

// The template, row by row, in template (and tab) order.
const ControlRow kRows[] = {
    {-1, L"Button", L"Graph creation", 7, 7, 280, 92, kGroupBox, kBtnMask},
    {203, L"Button", L"Load...", 31, 18, 50, 14, kPush, kBtnMask},
    {204, L"Edit", L"", 84, 19, 196, 12, kEdit, 0},
    {206, L"Button", L"Build graph", 124, 79, 50, 14, kPush, kBtnMask},
    {207, L"Button", L"Show graph", 230, 79, 50, 14, kPush, kBtnMask},
    {210, L"msctls_progress32", L"", 7, 178, 550, 8, WS_BORDER, 0},
    {211, L"Button", L"Play", 176, 191, 50, 14, kPush, kBtnMask},
    {212, L"Button", L"Pause", 256, 191, 50, 14, kPush, kBtnMask},
    {213, L"Button", L"Stop", 336, 191, 50, 14, kPush, kBtnMask},
    {-1, L"Button", L"Input properties", 7, 102, 280, 47, kGroupBox, kBtnMask},
    {-1, L"Static", L"Resolution", 15, 115, 34, 8, kLabel, kStaticMask},
    {-1, L"Static", L"FPS", 125, 115, 13, 8, kLabel, kStaticMask},
    {-1, L"Static", L"Interlacing", 195, 115, 35, 8, kLabel, kStaticMask},
    {-1, L"Button", L"Settings", 293, 7, 264, 78, kGroupBox, kBtnMask},
    {-1, L"Static", L"Speed", 420, 35, 21, 8, kLabel, kStaticMask},
    {-1, L"Static", L"Quality", 513, 35, 24, 8, kLabel, kStaticMask},
    {222, L"msctls_trackbar32", L"", 422, 44, 126, 17, TBS_AUTOTICKS | WS_TABSTOP, 0},
    {-1, L"Static", L"Rate control", 299, 69, 40, 8, kLabel, kStaticMask},
    {223, L"ComboBox", L"", 343, 66, 71, 40, kList, kComboMask},
    {-1, L"Static", L"Bitrate (Kbps)", 423, 70, 45, 8, kLabel, kStaticMask},
    {225, L"Edit", L"", 469, 68, 44, 12, kEdit | ES_NUMBER, 0},
    {226, L"msctls_updown32", L"", 505, 64, 11, 14, kSpin, 0},
    {-1, L"Static", L"Avg bitrate", 200, 159, 37, 8, kLabel, kStaticMask},
    {-1, L"Button", L"Encoding properties", 293, 87, 264, 83, kGroupBox, kBtnMask},
    {-1, L"Static", L"Profile", 299, 103, 21, 8, kLabel, kStaticMask},
    {228, L"ComboBox", L"", 334, 101, 44, 71, kList, kComboMask},
    {-1, L"Static", L"IDR interval", 435, 103, 39, 8, kLabel, kStaticMask},
    {230, L"Edit", L"", 477, 101, 37, 12, kEdit, 0},
    {231, L"msctls_updown32", L"", 506, 96, 11, 14, kSpin, 0},
    {232, L"Static", L"", 519, 102, 29, 10, kValue, kStaticMask},
    {229, L"Static", L"", 382, 102, 37, 10, kValue, kStaticMask},
    {214, L"Static", L"", 53, 115, 50, 10, SS_LEFTNOWORDWRAP | SS_SUNKEN | WS_GROUP, kStaticMask},
    {215, L"Static", L"", 140, 115, 37, 10, kValue, kStaticMask},
    {233, L"Static", L"", 233, 115, 45, 10, kValue, kStaticMask},
    {220, L"Static", L"", 445, 33, 11, 10, kValue, kStaticMask},
    {221, L"Static", L"", 538, 33, 11, 10, kValue, kStaticMask},
    {224, L"Static", L"", 147, 158, 48, 10, kValue, kStaticMask},
    {227, L"Static", L"", 239, 158, 48, 10, kValue, kStaticMask},
    {-1, L"Static", L"Level", 299, 120, 18, 8, kLabel, kStaticMask},
    {234, L"ComboBox", L"", 334, 118, 44, 166, kList, kComboMask},
    {235, L"Static", L"", 382, 119, 37, 10, kValue, kStaticMask},
    {-1, L"Static", L"B-frames", 435, 120, 30, 8, kLabel, kStaticMask},
    {236, L"Edit", L"", 477, 118, 37, 12, kEdit, 0},
    {237, L"msctls_updown32", L"", 506, 121, 11, 14, kSpin, 0},
    {238, L"Static", L"", 519, 119, 29, 10, kValue, kStaticMask},
    {-1, L"Static", L"GOP size", 299, 137, 29, 8, kLabel, kStaticMask},
    {239, L"Edit", L"", 334, 135, 44, 12, kEdit, 0},
    {240, L"msctls_updown32", L"", 368, 139, 11, 14, kSpin, 0},
    {241, L"Static", L"", 382, 136, 37, 10, kValue, kStaticMask},
    {242, L"Button", L"Use CAVLC", 435, 137, 51, 10, kCheck, kBtnMask},
    {243, L"Button", L"Exact GOP size", 299, 153, 64, 10, kCheck, kBtnMask},
    {244, L"Static", L"", 517, 69, 31, 10, kValue, kStaticMask},
    {205, L"ComboBox", L"", 31, 38, 195, 115, kList | CBS_SORT, kComboMask},
    {201, L"Button", L"", 15, 21, 10, 10, BS_AUTORADIOBUTTON | WS_TABSTOP, kBtnMask},
    {202, L"Button", L"", 15, 40, 10, 10, BS_AUTORADIOBUTTON, kBtnMask},
    {245, L"Button", L"Pass through input time stamps", 15, 132, 113, 10, kCheck, kBtnMask},
    {208, L"ComboBox", L"", 343, 42, 71, 86, kList, kComboMask},
    {-1, L"Static", L"Preset", 299, 45, 22, 8, kLabel, kStaticMask},
    {246, L"Button", L"Force key frame", 15, 156, 68, 14, kPush, kBtnMask},
    {209, L"ComboBox", L"", 343, 17, 71, 86, kList, kComboMask},
    {-1, L"Static", L"Encoder type", 299, 21, 44, 8, kLabel, kStaticMask},
    {247, L"Static", L"", 423, 19, 126, 8, kLabel, kStaticMask},
    {248, L"Button", L"", 15, 60, 9, 10, kCheck, kBtnMask},
    {249, L"Button", L"Save...", 31, 57, 50, 14, kPush, kBtnMask},
    {216, L"Edit", L"", 84, 58, 196, 12, kEdit, 0},
    {250, L"Button", L"Show Preview", 15, 80, 61, 10, kCheck, kBtnMask},
    {251, L"Button", L"Test", 507, 191, 50, 14, kPush, kBtnMask},
    {252, L"Button", L"Properties...", 230, 38, 50, 14, kPush, kBtnMask},
    {-1, L"Static", L"Encoded frames", 93, 159, 52, 8, kLabel, kStaticMask},
};

const int kSettingsGroup[] = {245, 208, 222, 223, 209, 225, 226, 228, 230, 231, 234, 236, 237, 239, 240, 242, 243};
const int kGraphOnly[] = {207, 246, 210, 211, 212, 213};

std::vector<HWND> Children(HWND hDlg) {
    std::vector<HWND> v;
    for (HWND h = ::GetWindow(hDlg, GW_CHILD); h; h = ::GetWindow(h, GW_HWNDNEXT)) v.push_back(h);
    return v;
}

RECT ChildRect(HWND hDlg, HWND hChild) {
    RECT rc;
    ::GetWindowRect(hChild, &rc);
    ::MapWindowPoints(NULL, hDlg, (POINT*)&rc, 2);
    return rc;
}

}  // namespace

TEST(MainDialogTemplate, EveryControlAsTheTemplateSays) {
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        EXPECT_EQ(WindowText(hDlg), L"Vireon Test");
        const LONG dlgStyle = ::GetWindowLongW(hDlg, GWL_STYLE);
        EXPECT_EQ(dlgStyle & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME),
                  (LONG)(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME));
        EXPECT_EQ(dlgStyle & WS_THICKFRAME, 0);
        RECT rcDlg = {0, 0, 564, 212};
        ::MapDialogRect(hDlg, &rcDlg);
        RECT rcClient;
        ::GetClientRect(hDlg, &rcClient);
        EXPECT_EQ(rcClient.right, rcDlg.right);
        EXPECT_EQ(rcClient.bottom, rcDlg.bottom);

        std::vector<HWND> children = Children(hDlg);
        ASSERT_EQ(children.size(), sizeof(kRows) / sizeof(kRows[0]));
        for (size_t i = 0; i < children.size(); ++i) {
            const ControlRow& row = kRows[i];
            HWND h = children[i];
            SCOPED_TRACE(testing::Message() << "row " << i + 1 << " id " << row.id);
            EXPECT_EQ(::GetDlgCtrlID(h), row.id);
            EXPECT_EQ(ClassName(h), row.cls);
            // The source and output edits are filled at initialisation with the default paths.
            if (row.cls != std::wstring(L"ComboBox") && row.cls != std::wstring(L"msctls_trackbar32") &&
                row.id != 204 && row.id != 216) {
                EXPECT_EQ(WindowText(h), row.caption);
            }
            const DWORD style = (DWORD)::GetWindowLongW(h, GWL_STYLE);
            EXPECT_EQ(style & WS_CHILD, (DWORD)WS_CHILD);
            DWORD wanted = row.style & ~row.typeMask;
            if (row.style & WS_BORDER) {
                // Edits draw their border as an edge; the progress bar draws its own frame.
                const DWORD exStyle = (DWORD)::GetWindowLongW(h, GWL_EXSTYLE);
                if (row.id != 210) {
                    EXPECT_TRUE((style & WS_BORDER) || (exStyle & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE)));
                }
                wanted &= ~WS_BORDER;
            }
            if (row.cls == std::wstring(L"ComboBox")) wanted &= ~WS_VSCROLL;  // kept by its list
            EXPECT_EQ(style & wanted, wanted);
            if (row.typeMask) {
                EXPECT_EQ(style & row.typeMask, row.style & row.typeMask);
            }
            if (row.cls == std::wstring(L"Edit")) {
                EXPECT_EQ(style & ES_NUMBER, row.style & ES_NUMBER);
            }
            if (row.cls == std::wstring(L"ComboBox")) {
                EXPECT_EQ(style & CBS_SORT, row.style & CBS_SORT);
            }
            EXPECT_EQ(style & WS_TABSTOP, row.style & WS_TABSTOP);
            // Only "Test" is hidden and disabled at creation.
            EXPECT_EQ(::IsWindowVisible(h) != 0, row.id != 251);
            if (row.id == 251) {
                EXPECT_FALSE(::IsWindowEnabled(h));
            }

            auto templateRect = [&](const ControlRow& r) {
                // Position and size are converted separately, as the dialog manager does.
                RECT rcT = {r.x, r.y, r.cx, r.cy};
                ::MapDialogRect(hDlg, &rcT);
                rcT.right += rcT.left;
                rcT.bottom += rcT.top;
                return rcT;
            };
            if (row.cls == std::wstring(L"msctls_updown32")) {
                // Each spin control is attached to the control just before it, and sits
                // inside that control's right edge.
                EXPECT_EQ((HWND)::SendMessageW(h, UDM_GETBUDDY, 0, 0), children[i - 1]);
                RECT rc = ChildRect(hDlg, h), rcBuddy = ChildRect(hDlg, children[i - 1]);
                EXPECT_NEAR(rc.right, templateRect(kRows[i - 1]).right, 2);
                EXPECT_NEAR(rcBuddy.right, rc.left, 2);
                continue;
            }
            const bool bHasSpin = i + 1 < children.size() && kRows[i + 1].cls == std::wstring(L"msctls_updown32");
            RECT rcWant = templateRect(row);
            RECT rc = ChildRect(hDlg, h);
            EXPECT_EQ(rc.left, rcWant.left);
            EXPECT_EQ(rc.top, rcWant.top);
            if (!bHasSpin) {
                EXPECT_EQ(rc.right, rcWant.right);
            }
            // A drop-down list's height in the template includes its dropped list.
            if (row.cls != std::wstring(L"ComboBox")) {
                EXPECT_EQ(rc.bottom, rcWant.bottom);
            }
        }
    });
}

TEST(MainDialogTemplate, EnableGroupsSwitchExactlyTheirControls) {
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        std::set<int> settings(std::begin(kSettingsGroup), std::end(kSettingsGroup));
        std::set<int> graph(settings);
        graph.insert(std::begin(kGraphOnly), std::end(kGraphOnly));
        auto setAll = [&](BOOL b) {
            for (HWND h : Children(hDlg)) ::EnableWindow(h, b);
        };
        auto check = [&](const std::set<int>& group, bool groupEnabled, bool othersEnabled) {
            for (HWND h : Children(hDlg)) {
                const int id = ::GetDlgCtrlID(h);
                const bool inGroup = group.count(id) != 0;
                EXPECT_EQ(::IsWindowEnabled(h) != 0, inGroup ? groupEnabled : othersEnabled) << "id " << id;
            }
        };
        setAll(TRUE);
        dlg.EnableSettingsControls(false);
        check(settings, false, true);
        setAll(TRUE);
        dlg.EnableGraphControls(false);
        check(graph, false, true);
        setAll(FALSE);
        dlg.EnableGraphControls(true);
        check(graph, true, false);
        setAll(FALSE);
        dlg.EnableSettingsControls(true);
        check(settings, true, false);
    });
}

TEST(MainDialogTemplate, OkAndCancelEndTheDialogWithTheirId) {
    for (int id : {IDOK, IDCANCEL}) {
        CMainDialog dlg;
        INT_PTR nRet = RunModal(dlg, [&](HWND hDlg) { ::SendMessageW(hDlg, WM_COMMAND, id, 0); });
        EXPECT_EQ(nRet, id);
        EXPECT_EQ(dlg.m_hWnd, (HWND)NULL);
    }
    // Escape reaches the dialog manager's IDCANCEL.
    CMainDialog dlg;
    INT_PTR nRet = RunModal(dlg, [&](HWND hDlg) {
        ::PostMessageW(::GetDlgItem(hDlg, 204), WM_KEYDOWN, VK_ESCAPE, 0);
        PumpMessages(200);
    });
    EXPECT_EQ(nRet, IDCANCEL);
}

TEST(MainDialogTemplate, UnknownMessageMapIdIsTracedAndLeftUnhandled) {
    CMainDialog dlg;
    DiagCapture diag;
    LRESULT lResult = 0;
    EXPECT_FALSE(dlg.ProcessWindowMessage(NULL, WM_COMMAND, IDOK, 0, lResult, 3));
    EXPECT_TRUE(diag.HasTrace(L"Invalid message map ID (3)\n")) << diag.Dump();
    EXPECT_EQ(diag.Reports().size(), 1u);
}
