// The dialog after start, and the source and output choices.
#include <gtest/gtest.h>

#include "tests/dialog/DialogKit.h"
#include "tests/support/DiagCapture.h"
#include "tests/support/FileDialogCatcher.h"
#include "tests/support/HostTools.h"
#include "tests/support/ImportHook.h"
#include "tests/support/WindowTools.h"

namespace {
const wchar_t kDefaultSource[] = L"F:\\Ref_movies\\Test graphs\\Belukha_SD.mp4.grf";
const wchar_t kDefaultOutput[] = L"F:\\Ref_movies\\TestMovies\\Quorlin.mp4";
}  // namespace

TEST(DialogStart, StateAfterStart) {
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        EXPECT_TRUE(dlg.m_bControlsReady);
        EXPECT_TRUE(Checked(hDlg, 201));
        EXPECT_FALSE(Checked(hDlg, 202));
        EXPECT_TRUE(Enabled(hDlg, 203));
        EXPECT_TRUE(Enabled(hDlg, 204));
        EXPECT_FALSE(Enabled(hDlg, 205));
        EXPECT_FALSE(Enabled(hDlg, 252));
        EXPECT_EQ(ItemText(hDlg, 204), kDefaultSource);
        EXPECT_STREQ(dlg.m_szSource, kDefaultSource);
        EXPECT_FALSE(Checked(hDlg, 248));
        EXPECT_FALSE(Enabled(hDlg, 249));
        EXPECT_FALSE(Enabled(hDlg, 216));
        EXPECT_FALSE(Enabled(hDlg, 250));
        EXPECT_EQ(ItemText(hDlg, 216), kDefaultOutput);
        EXPECT_STREQ(dlg.m_szOutput, kDefaultOutput);
        EXPECT_EQ(GroupState(hDlg, kGraphGroup), 0);
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 0);
        EXPECT_TRUE(Enabled(hDlg, 206));
        EXPECT_EQ(WindowText(hDlg), L"Vireon Test");
        EXPECT_FALSE(TimerRunning(hDlg, 1, 300));
        EXPECT_FALSE(TimerRunning(hDlg, 2, 500));

        // Progress bar 0 to 1000.
        PBRANGE range = {};
        ::SendDlgItemMessageW(hDlg, 210, PBM_GETRANGE, FALSE, (LPARAM)&range);
        EXPECT_EQ(range.iLow, 0);
        EXPECT_EQ(range.iHigh, 1000);

        // The program's icon is the class icon.
        HICON hIcon = (HICON)::GetClassLongPtrW(hDlg, GCLP_HICON);
        EXPECT_NE(hIcon, (HICON)NULL);
        EXPECT_EQ(hIcon, ::LoadIconW(::GetModuleHandleW(NULL), MAKEINTRESOURCEW(200)));

        // Centred over the work area's width, 50 pixels above its bottom.
        RECT rc, rcWork;
        ::GetWindowRect(hDlg, &rc);
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0);
        EXPECT_EQ(rc.left, ((rcWork.right - rcWork.left) - (rc.right - rc.left)) / 2);
        EXPECT_EQ(rc.bottom, rcWork.bottom - 50);

        // The device list holds what the system's enumerator lists (this prefix has none);
        // with no device nothing is selected.
        const int nDevices = (int)::SendDlgItemMessageW(hDlg, 205, CB_GETCOUNT, 0, 0);
        EXPECT_EQ(Selection(hDlg, 205), nDevices > 0 ? 0 : CB_ERR);
    });
}

TEST(DialogStart, NoCaptureDeviceGivesAnEmptyListAndNoMessage) {
    // The system enumerator's answer for a category without devices.
    CComPtr<FakeDeviceEnum> spDevices = FakeDeviceEnum::Create();
    spDevices->hrCreateClassEnumerator = S_FALSE;
    ClassRegistration reg(CLSID_SystemDeviceEnum, static_cast<ICreateDevEnum*>(spDevices));
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        // As the dialog started: nothing listed, nothing selected.
        EXPECT_EQ(::SendDlgItemMessageW(hDlg, 205, CB_GETCOUNT, 0, 0), 0);
        EXPECT_EQ(Selection(hDlg, 205), CB_ERR);
        MessageBoxCatcher boxes;
        DiagCapture diag;
        const HRESULT hr = dlg.PutLiveSources();
        EXPECT_EQ(hr, S_FALSE);
        EXPECT_EQ(::SendDlgItemMessageW(hDlg, 205, CB_GETCOUNT, 0, 0), 0);
        EXPECT_EQ(Selection(hDlg, 205), CB_ERR);
        EXPECT_TRUE(diag.HasReport(L"CMainDialog::PutLiveSources(): Can't create enumerator for video capture sources"))
            << diag.Dump();
        EXPECT_TRUE(boxes.Boxes().empty());
    });
}

TEST(SourceSelection, RadioButtonsSwitchTheSourceControls) {
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        Click(hDlg, 202);
        EXPECT_TRUE(Checked(hDlg, 202));
        EXPECT_FALSE(Enabled(hDlg, 203));
        EXPECT_FALSE(Enabled(hDlg, 204));
        EXPECT_TRUE(Enabled(hDlg, 205));
        EXPECT_TRUE(Enabled(hDlg, 252));
        Click(hDlg, 201);
        EXPECT_TRUE(Enabled(hDlg, 203));
        EXPECT_TRUE(Enabled(hDlg, 204));
        EXPECT_FALSE(Enabled(hDlg, 205));
        EXPECT_FALSE(Enabled(hDlg, 252));
        // By the sender, whatever the check state.
        ::SendMessageW(hDlg, WM_COMMAND, MAKEWPARAM(202, BN_CLICKED), 0);
        EXPECT_TRUE(Checked(hDlg, 201));
        EXPECT_FALSE(Enabled(hDlg, 204));
    });
}

TEST(SourceSelection, OutputCheckSwitchesTheOutputControls) {
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        Click(hDlg, 248);
        EXPECT_TRUE(Enabled(hDlg, 249));
        EXPECT_TRUE(Enabled(hDlg, 216));
        EXPECT_TRUE(Enabled(hDlg, 250));
        Click(hDlg, 248);
        EXPECT_FALSE(Enabled(hDlg, 249));
        EXPECT_FALSE(Enabled(hDlg, 216));
        EXPECT_FALSE(Enabled(hDlg, 250));
    });
}

TEST(SourceSelection, EditsAreFollowedWhateverTheGuard) {
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        Type(hDlg, 204, L"C:\\clips\\a.avi");
        EXPECT_STREQ(dlg.m_szSource, L"C:\\clips\\a.avi");
        dlg.m_bControlsReady = false;
        Type(hDlg, 216, L"C:\\out\\b.mp4");
        dlg.m_bControlsReady = true;
        EXPECT_STREQ(dlg.m_szOutput, L"C:\\out\\b.mp4");
        Type(hDlg, 204, L"");
        EXPECT_STREQ(dlg.m_szSource, L"");
        // Longer than the member: the first 259 characters.
        const std::wstring longPath(400, L'x');
        Type(hDlg, 216, longPath.c_str());
        EXPECT_EQ(std::wstring(dlg.m_szOutput), longPath.substr(0, 259));
    });
}

TEST(SourceSelection, LoadShowsTheOpenDialog) {
    const std::string unixPath = UniqueTmpPath(".grf");
    ASSERT_TRUE(WriteHostFile(unixPath, "x"));
    const std::wstring winPath = ToWinPath(unixPath);
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        {
            FileDialogCatcher cancel;
            Click(hDlg, 203);
            ASSERT_EQ(cancel.Dialogs().size(), 1u);
            const CaughtFileDialog& fd = cancel.Dialogs()[0];
            EXPECT_EQ(fd.title, L"Select .grf file or media file for create test graph");
            EXPECT_EQ(fd.filters, (std::vector<std::wstring>{L"Graph Edit files (.grf)",
                                                             L"Media files (.avi;.mp4;.mov,...)", L"All files"}));
            EXPECT_EQ(fd.nFilter, 0);
            EXPECT_NE(fd.fileName.find(L"Belukha_SD.mp4.grf"), std::wstring::npos) << Narrow(fd.fileName);
            EXPECT_EQ(fd.hWndOwner, hDlg);
            EXPECT_STREQ(dlg.m_szSource, kDefaultSource);
            EXPECT_EQ(ItemText(hDlg, 204), kDefaultSource);
        }
        {
            FileDialogCatcher confirm(winPath);
            Click(hDlg, 203);
            ASSERT_EQ(confirm.Dialogs().size(), 1u);
            EXPECT_EQ(_wcsicmp(dlg.m_szSource, winPath.c_str()), 0) << Narrow(dlg.m_szSource);
            EXPECT_EQ(ItemText(hDlg, 204), std::wstring(dlg.m_szSource));
        }
    });
}

TEST(SourceSelection, SaveShowsTheSaveDialogAndAddsTheExtension) {
    const std::string dir = TestTmpDir();
    const std::wstring winBase = ToWinPath(UniqueTmpPath(""));
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        Click(hDlg, 248);
        {
            FileDialogCatcher cancel;
            Click(hDlg, 249);
            ASSERT_EQ(cancel.Dialogs().size(), 1u);
            const CaughtFileDialog& fd = cancel.Dialogs()[0];
            EXPECT_EQ(fd.title, L"Select name of MPEG-4 capture file");
            EXPECT_EQ(fd.filters,
                      (std::vector<std::wstring>{L"MPEG-4 file (.mp4)", L"QT file (.mov)", L"All files"}));
            EXPECT_NE(fd.fileName.find(L"Quorlin.mp4"), std::wstring::npos) << Narrow(fd.fileName);
            EXPECT_STREQ(dlg.m_szOutput, kDefaultOutput);
        }
        {
            FileDialogCatcher confirm(winBase);
            Click(hDlg, 249);
            ASSERT_EQ(confirm.Dialogs().size(), 1u);
            EXPECT_EQ(_wcsicmp(dlg.m_szOutput, (winBase + L".mp4").c_str()), 0) << Narrow(dlg.m_szOutput);
            EXPECT_EQ(ItemText(hDlg, 216), std::wstring(dlg.m_szOutput));
        }
    });
}

TEST(SourceSelection, PropertiesMessages) {
    Bench bench;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        MessageBoxCatcher boxes;
        Click(hDlg, 202);
        Click(hDlg, 252);
        bench.BuildFromFile(hDlg);
        Click(hDlg, 201);
        ::SendMessageW(hDlg, WM_COMMAND, 252, 0);  // disabled now; sent as a command
        Click(hDlg, 202);
        Click(hDlg, 252);  // the selected device is not in the graph
        ASSERT_EQ(boxes.Boxes().size(), 3u);
        EXPECT_EQ(boxes.Boxes()[0].text.rfind(L"Graph not exist", 0), 0u);
        EXPECT_NE(boxes.Boxes()[0].text.find(L"0x80004005"), std::wstring::npos) << Narrow(boxes.Boxes()[0].text);
        EXPECT_EQ(boxes.Boxes()[1].text.rfind(L"Filter not in graph", 0), 0u);
        EXPECT_EQ(boxes.Boxes()[2].text.rfind(L"Can't show filter's property page", 0), 0u);
        EXPECT_EQ(boxes.Boxes()[2].caption, L"Quorlin");
    });
}

TEST(SourceSelection, LongDeviceNamesAreRefusedNotOverrun) {
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        Bench bench;
        bench.BuildFromFile(hDlg);
        MessageBoxCatcher boxes;
        DiagCapture diag;
        Click(hDlg, 202);
        const std::wstring longName(300, L'D');
        ::SendDlgItemMessageW(hDlg, 205, CB_RESETCONTENT, 0, 0);
        ::SendDlgItemMessageW(hDlg, 205, CB_ADDSTRING, 0, (LPARAM)longName.c_str());
        ::SendDlgItemMessageW(hDlg, 205, CB_SETCURSEL, 0, 0);
        Click(hDlg, 252);
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(boxes.Boxes()[0].text.rfind(L"Can't show filter's property page", 0), 0u);
        EXPECT_TRUE(diag.HasReport(L"CMainDialog::GetSelectedText(): item text too long")) << diag.Dump();
    });
}

TEST(SourceSelection, CaptureDevicesAreListedSorted) {
    struct Case {
        const char* name;
        std::vector<std::wstring> devices;
        int nBindFails, nReadFails, nNextFailsAt;
        std::vector<std::wstring> listed;
        int nSelected;
        const wchar_t* report;
    };
    const Case cases[] = {
        {"sorted, first selected", {L"Zeta Cam", L"Alpha Cam", L"Mid Cam"}, -1, -1, -1,
         {L"Alpha Cam", L"Mid Cam", L"Zeta Cam"}, 0, nullptr},
        {"same name twice", {L"Cam", L"Cam"}, -1, -1, -1, {L"Cam", L"Cam"}, 0, nullptr},
        {"storage fails", {L"B", L"A"}, 1, -1, -1, {L"B"}, 0,
         L"CMainDialog::PutLiveSources(): spMoniker->BindToStorage() FAILED"},
        {"name unreadable", {L"B", L"A"}, -1, 0, -1, {L"A"}, 0, nullptr},
        {"enumeration fails", {L"B", L"A", L"C"}, -1, -1, 2, {L"A", L"B"}, CB_ERR,
         L"CMainDialog::PutLiveSources(): spEnum->Next() FAILED"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        bench.spDevices->devices.clear();
        for (size_t i = 0; i < c.devices.size(); ++i) {
            FakeMoniker* p = bench.spDevices->AddDevice(c.devices[i], CreateFakeCaptureFilter());
            if ((int)i == c.nBindFails) p->hrBindToStorage = E_ACCESSDENIED;
            if ((int)i == c.nReadFails) p->hrRead = E_FAIL;
        }
        bench.spDevices->devicesFailAt = c.nNextFailsAt;
        DiagCapture diag;
        CMainDialog dlg;
        RunModal(dlg, [&](HWND hDlg) {
            EXPECT_EQ(Items(hDlg, 205), c.listed);
            EXPECT_EQ(Selection(hDlg, 205), c.nSelected);
        });
        if (c.report) {
            EXPECT_TRUE(diag.HasReport(c.report)) << diag.Dump();
        } else {
            EXPECT_TRUE(diag.Reports().empty()) << diag.Dump();
        }
    }
}

TEST(SourceSelection, PropertiesOfTheDeviceSelectedNow) {
    Bench bench;
    bench.spDevices->devices.clear();
    CComPtr<FakeFilter> spCamA = CreateFakeCaptureFilter();
    spCamA->refused.Refuse(IID_ISpecifyPropertyPages);
    bench.spDevices->AddDevice(L"Cam A", spCamA);
    bench.spDevices->AddDevice(L"Cam B", CreateFakeCaptureFilter());
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        Click(hDlg, 202);
        MessageBoxCatcher boxes;
        Click(hDlg, 206);  // built with "Cam A", the first in the list
        ASSERT_TRUE(boxes.Boxes().empty()) << Narrow(boxes.Boxes()[0].text);
        EXPECT_TRUE(CallLog().Has(L"BindToObject Cam A"));
        EXPECT_TRUE(dlg.m_graph.m_bLive);
        EXPECT_FALSE(TimerRunning(hDlg, 1, 300));
        EXPECT_TRUE(TimerRunning(hDlg, 2, 500));

        // "Cam A" is in the graph but offers no property pages.
        Click(hDlg, 252);
        // "Cam B" is selected now but is not in the graph.
        ::SendDlgItemMessageW(hDlg, 205, CB_SETCURSEL, 1, 0);
        Click(hDlg, 252);
        ASSERT_EQ(boxes.Boxes().size(), 2u);
        for (const auto& box : boxes.Boxes())
            EXPECT_EQ(box.text.rfind(L"Can't show filter's property page", 0), 0u) << Narrow(box.text);
        EXPECT_NE(boxes.Boxes()[0].text.find(L"Error 0x1"), std::wstring::npos) << Narrow(boxes.Boxes()[0].text);
        EXPECT_EQ(boxes.Boxes()[1].text.find(L"Error 0x1"), std::wstring::npos) << Narrow(boxes.Boxes()[1].text);
    });
}

namespace {

// What the dialog hands to the common file dialogs: filter pairs, flags, default extension.
struct FileDialogRecord {
    std::vector<std::wstring> filter;  // display text, pattern, display text, pattern, ...
    DWORD flags = 0;
    std::wstring defExt;
    DWORD nMaxFile = 0;
};
std::vector<FileDialogRecord> g_fileDialogs;

BOOL WINAPI RecordFileDialog(OPENFILENAMEW* pOfn) {
    FileDialogRecord r;
    for (const wchar_t* p = pOfn->lpstrFilter; p && *p; p += wcslen(p) + 1) r.filter.push_back(p);
    r.flags = pOfn->Flags;
    r.defExt = pOfn->lpstrDefExt ? pOfn->lpstrDefExt : L"";
    r.nMaxFile = pOfn->nMaxFile;
    g_fileDialogs.push_back(r);
    return FALSE;  // as if cancelled
}

}  // namespace

TEST(SourceSelection, FileDialogsGetTheirFiltersFlagsAndDefaultExtension) {
    ImportHook open("comdlg32.dll", "GetOpenFileNameW", (void*)&RecordFileDialog);
    ImportHook save("comdlg32.dll", "GetSaveFileNameW", (void*)&RecordFileDialog);
    ASSERT_TRUE(open.Installed() && save.Installed());
    g_fileDialogs.clear();
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        Click(hDlg, 203);
        Click(hDlg, 248);
        Click(hDlg, 249);
    });
    ASSERT_EQ(g_fileDialogs.size(), 2u);
    const FileDialogRecord& load = g_fileDialogs[0];
    EXPECT_EQ(load.filter, (std::vector<std::wstring>{L"Graph Edit files (.grf)", L"*.grf",
                                                      L"Media files (.avi;.mp4;.mov,...)",
                                                      L"*.avi;*.mp4;*.mov;*.mpg;*.mxf", L"All files", L"*.*"}));
    EXPECT_EQ(load.flags, (DWORD)(OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST));
    EXPECT_EQ(load.defExt, L"grf");
    EXPECT_EQ(load.nMaxFile, (DWORD)MAX_PATH);
    const FileDialogRecord& output = g_fileDialogs[1];
    EXPECT_EQ(output.filter, (std::vector<std::wstring>{L"MPEG-4 file (.mp4)", L"*.mp4", L"QT file (.mov)", L"*.mov;",
                                                        L"All files", L"*.*"}));
    EXPECT_EQ(output.flags, (DWORD)(OFN_EXPLORER | OFN_NOREADONLYRETURN | OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT));
    EXPECT_EQ(output.defExt, L"mp4");
    EXPECT_EQ(output.nMaxFile, (DWORD)MAX_PATH);
    // Cancelled dialogs leave the paths as they were.
    EXPECT_STREQ(dlg.m_szSource, kDefaultSource);
    EXPECT_STREQ(dlg.m_szOutput, kDefaultOutput);
}
