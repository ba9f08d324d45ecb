// "Build graph": what reaches the graph from the source and output choices, the title, the
// timers and the controls after success and after failure.
#include <gtest/gtest.h>

#include "tests/dialog/DialogKit.h"
#include "tests/support/DiagCapture.h"
#include "tests/support/WindowTools.h"

namespace {

// What the graph was asked to build, as the fakes saw it.
struct BuildSeen {
    std::wstring source;  // "RenderFile <path>" or "BindToObject <device>"
    std::wstring output;  // the writer's file, empty for none
    bool bPreview = false;
    bool bRendered = false;  // the encoded stream goes to a decoder and renderer
};

BuildSeen Seen() {
    BuildSeen seen;
    for (const std::wstring& e : CallLog().Entries()) {
        if (e.rfind(L"RenderFile ", 0) == 0 || e.rfind(L"BindToObject ", 0) == 0) seen.source = e;
        if (e.rfind(L"SetFileName ", 0) == 0) seen.output = e.substr(12);
        if (e == L"AddFilter Smart Tee") seen.bPreview = true;
        if (e == L"AddFilter Morvane H264 Decoder") seen.bRendered = true;
    }
    return seen;
}

}  // namespace

TEST(BuildGraph, SourceAndOutputChoicesReachTheGraph) {
    struct Case {
        const char* name;
        bool bLive, bOutputChecked;
        const wchar_t* output;
        bool bPreviewChecked;
        const wchar_t* source;
        const wchar_t* expectedOutput;
        bool bPreview;
    };
    const Case cases[] = {
        {"file", false, false, L"C:\\out\\a.mp4", false, L"RenderFile C:\\clips\\clip.avi", L"", false},
        {"file preview only", false, false, L"C:\\out\\a.mp4", true, L"RenderFile C:\\clips\\clip.avi", L"", false},
        {"file with output", false, true, L"C:\\out\\a.mp4", false, L"RenderFile C:\\clips\\clip.avi",
         L"C:\\out\\a.mp4", false},
        {"file with output and preview", false, true, L"C:\\out\\a.mp4", true, L"RenderFile C:\\clips\\clip.avi",
         L"C:\\out\\a.mp4", true},
        {"empty output", false, true, L"", true, L"RenderFile C:\\clips\\clip.avi", L"", false},
        {"live", true, false, L"C:\\out\\a.mp4", false, L"BindToObject USB Camera", L"", false},
        {"live with output", true, true, L"C:\\out\\b.mp4", true, L"BindToObject USB Camera", L"C:\\out\\b.mp4",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        CMainDialog dlg;
        RunModal(dlg, [&](HWND hDlg) {
            MessageBoxCatcher boxes;
            Type(hDlg, 204, L"C:\\clips\\clip.avi");
            if (c.bLive) Click(hDlg, 202);
            if (c.bOutputChecked) Click(hDlg, 248);
            ::EnableWindow(::GetDlgItem(hDlg, 250), TRUE);
            if (c.bPreviewChecked) Click(hDlg, 250);
            Type(hDlg, 216, c.output);
            CallLog().Clear();
            Click(hDlg, 206);
            EXPECT_TRUE(boxes.Boxes().empty()) << Narrow(boxes.Boxes().empty() ? L"" : boxes.Boxes()[0].text);
            const BuildSeen seen = Seen();
            EXPECT_EQ(seen.source, c.source) << CallLog().Dump();
            EXPECT_EQ(seen.output, c.expectedOutput) << CallLog().Dump();
            EXPECT_EQ(seen.bPreview, c.bPreview) << CallLog().Dump();
            EXPECT_EQ(seen.bRendered, c.expectedOutput[0] == 0 || c.bPreview) << CallLog().Dump();
            // The dialog is the notification window, with its private message.
            wchar_t sz[64];
            swprintf(sz, 64, L"SetNotifyWindow %llx %u ", (unsigned long long)(ULONG_PTR)hDlg, WM_GRAPHNOTIFY);
            EXPECT_EQ(CallLog().Starting(sz).size(), 1u) << CallLog().Dump();
            EXPECT_EQ(dlg.m_graph.m_bLive, c.bLive);
            // Only a file source moves the progress bar.
            EXPECT_EQ(TimerRunning(hDlg, 1, 300), !c.bLive);
            EXPECT_TRUE(TimerRunning(hDlg, 2, 500));
        });
    }
}

TEST(BuildGraph, SuccessTitlesTheDialogAndEnablesTheControls) {
    Bench bench;
    bench.spEncoder->values.name = L"Vireon H.264 Encoder";
    bench.spEncoder->values.number = L"3.1.0.7";
    bench.spEncoder->values.dateTime = L"Feb 2 2026 08:00:00";
    bench.spEncoder->values.eType = MRV264E_Type_Debug;
    bench.spEncoder->values.eOS = MRV264E_OS_32;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        bench.BuildFromFile(hDlg);
        EXPECT_TRUE(dlg.m_graph);
        EXPECT_EQ(WindowText(hDlg), L"Test for Vireon H.264 Encoder [D32 v.3.1.0.7 Feb 2 2026 08:00:00]");
        EXPECT_EQ(GroupState(hDlg, kGraphGroup), 1);
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 1);
        EXPECT_EQ(GraphState(dlg), State_Stopped);
        // The displays of the status are empty until the first tick, the counters at " 0".
        for (int id : {214, 215, 233}) EXPECT_EQ(ItemText(hDlg, id), L"") << id;
        EXPECT_EQ(ItemText(hDlg, 224), L" 0");
        EXPECT_EQ(ItemText(hDlg, 227), L" 0");
        // The source and output controls stay as they were.
        EXPECT_TRUE(Enabled(hDlg, 203));
        EXPECT_FALSE(Enabled(hDlg, 249));
    });
}

TEST(BuildGraph, TitleWithoutIdentityOrTooLong) {
    {
        Bench bench;
        bench.spEncoder->hasVersion = false;
        CMainDialog dlg;
        RunModal(dlg, [&](HWND hDlg) {
            ::SetWindowTextW(hDlg, L"Test for an earlier encoder");
            bench.BuildFromFile(hDlg);
            EXPECT_TRUE(dlg.m_graph);
            EXPECT_EQ(WindowText(hDlg), L"Vireon Test");
        });
    }
    {
        Bench bench;
        bench.spEncoder->values.name = std::wstring(600, L'N');
        CMainDialog dlg;
        RunModal(dlg, [&](HWND hDlg) {
            bench.BuildFromFile(hDlg);
            const std::wstring title = WindowText(hDlg);
            EXPECT_EQ(title.size(), 511u);
            EXPECT_EQ(title, L"Test for " + std::wstring(502, L'N'));
        });
    }
}

TEST(BuildGraph, FailureKeepsTheTitleAndStartsNothing) {
    Bench bench;
    bench.setUpGraph = [](FakeGraph* pGraph) { pGraph->onRenderFile = [](LPCWSTR) { return VFW_E_NOT_FOUND; }; };
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        ::SetWindowTextW(hDlg, L"Test for the last one");
        Type(hDlg, 204, L"C:\\clips\\clip.avi");
        MessageBoxCatcher boxes;
        Click(hDlg, 206);
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(boxes.Boxes()[0].text.rfind(L"Can't build graph", 0), 0u) << Narrow(boxes.Boxes()[0].text);
        EXPECT_NE(boxes.Boxes()[0].text.find(L"0x80040216"), std::wstring::npos) << Narrow(boxes.Boxes()[0].text);
        EXPECT_EQ(boxes.Boxes()[0].caption, L"Quorlin");
        EXPECT_EQ(WindowText(hDlg), L"Test for the last one");
        EXPECT_EQ(GroupState(hDlg, kGraphGroup), 0);
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 0);
        EXPECT_FALSE(TimerRunning(hDlg, 1, 300));
        EXPECT_FALSE(TimerRunning(hDlg, 2, 500));
    });
}

TEST(BuildGraph, EmptySourceDropsThePreviousGraph) {
    Bench bench;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        bench.BuildFromFile(hDlg);
        ASSERT_TRUE(dlg.m_graph);
        const int cGraphs = bench.cGraphs;
        Type(hDlg, 204, L"");
        MessageBoxCatcher boxes;
        Click(hDlg, 206);
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(boxes.Boxes()[0].text.rfind(L"Source not selected", 0), 0u);
        EXPECT_NE(boxes.Boxes()[0].text.find(L"0x80070057"), std::wstring::npos);
        EXPECT_FALSE(dlg.m_graph);
        EXPECT_EQ(bench.cGraphs, cGraphs);  // no new graph was made
        EXPECT_EQ(GroupState(hDlg, kGraphGroup), 0);
        EXPECT_FALSE(TimerRunning(hDlg, 2, 500));
    });
}

TEST(BuildGraph, LiveWithoutDeviceGivesAnEmptyName) {
    Bench bench;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        Click(hDlg, 202);
        ::SendDlgItemMessageW(hDlg, 205, CB_SETCURSEL, (WPARAM)-1, 0);
        DiagCapture diag;
        MessageBoxCatcher boxes;
        CallLog().Clear();
        Click(hDlg, 206);
        EXPECT_TRUE(diag.HasReport(L"nItem >= 0")) << diag.Dump();
        EXPECT_TRUE(CallLog().Starting(L"BindToObject").empty());  // no device matches ""
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(boxes.Boxes()[0].text.rfind(L"Can't build graph", 0), 0u);
    });
}

TEST(BuildGraph, SecondBuildStartsFromScratch) {
    Bench bench;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        bench.BuildFromFile(hDlg);
        Type(hDlg, 225, L"9999");
        Click(hDlg, 211);
        ASSERT_EQ(GraphState(dlg), State_Running);
        CComPtr<FakeGraph> spFirst = bench.spGraph;
        bench.spEncoder->values.nBitrate = 1234;
        bench.BuildFromFile(hDlg);
        EXPECT_NE(bench.spGraph, spFirst);
        EXPECT_EQ(spFirst->hWndNotify, (OAHWND)0);  // the old graph no longer notifies
        EXPECT_EQ(ItemText(hDlg, 225), L"1234");
        EXPECT_EQ(dlg.m_nBitrate, 1234u);
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 1);
        EXPECT_EQ(GraphState(dlg), State_Stopped);
        EXPECT_TRUE(Enabled(hDlg, 246));
    });
}
