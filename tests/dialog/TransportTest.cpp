// Play, Pause, Stop, the hidden reset and closing on a built graph: what reaches the
// encoder, and which controls the tester can use in each state.
#include <gtest/gtest.h>

#include "tests/dialog/DialogKit.h"
#include "tests/support/DiagCapture.h"
#include "tests/support/WindowTools.h"

TEST(Transport, PlayFromStoppedAppliesTheSettingsInOrder) {
    Bench bench;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        MessageBoxCatcher boxes;
        bench.BuildFromFile(hDlg);
        FakeEncoder& encoder = *bench.spEncoder;
        Choose(hDlg, 228, 2);   // Main
        Choose(hDlg, 234, 13);  // 4.1
        DragTrackbar(hDlg, 222, 6);
        Choose(hDlg, 223, 0);
        Type(hDlg, 225, L"8000");
        Type(hDlg, 239, L"100");
        Click(hDlg, 243);
        Type(hDlg, 230, L"5");
        Type(hDlg, 236, L"-3");
        Click(hDlg, 242);  // off (the encoder reported it on)
        Click(hDlg, 245);
        encoder.calls.clear();

        Click(hDlg, 211);
        const std::vector<std::string> expected = {
            "SetProfileLevel(77,41)", "SetSpeedQuality(6)", "SetRateControl(0)", "SetBitrate(8000)",
            "SetGop(100,1)", "SetIdrInterval(5)", "SetBFrames(4294967293)", "SetCavlc(0)",
            "SetPassThroughTimeStamps(1)"};
        EXPECT_EQ(Setters(encoder), expected);
        EXPECT_EQ(encoder.calls.size(), 9u + 10u);  // then the read-back
        EXPECT_EQ(encoder.calls.back(), "GetCavlc");
        EXPECT_EQ(GraphState(dlg), State_Running);
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 0);
        EXPECT_EQ(GroupState(hDlg, kGraphGroup), 1);
        EXPECT_TRUE(boxes.Boxes().empty());
        // The apply comes before the graph runs.
        const int nRun = CallLog().IndexOf(L"Run");
        const int nApply = CallLog().IndexOf(L"IVireon::SetPassThroughTimeStamps(1)");
        EXPECT_GE(nApply, 0);
        EXPECT_GT(nRun, nApply);
    });
}

TEST(Transport, BaselineOverridesShowAfterTheReadBack) {
    Bench bench;
    bench.spEncoder->values.bCavlc = 0;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        bench.BuildFromFile(hDlg);
        FakeEncoder& encoder = *bench.spEncoder;
        Choose(hDlg, 228, 1);   // Baseline
        Choose(hDlg, 234, 13);  // 4.1
        Type(hDlg, 236, L"2");
        EXPECT_FALSE(Checked(hDlg, 242));
        encoder.calls.clear();
        Click(hDlg, 211);
        const std::vector<std::string> setters = Setters(encoder);
        ASSERT_EQ(setters.size(), 9u);
        EXPECT_EQ(setters[0], "SetProfileLevel(66,0)");
        EXPECT_EQ(setters[6], "SetBFrames(0)");
        EXPECT_EQ(setters[7], "SetCavlc(1)");
        EXPECT_EQ(dlg.m_nProfile, 66u);
        EXPECT_EQ(dlg.m_nLevel, 0u);
        EXPECT_EQ(dlg.m_nBFrames, 0u);
        EXPECT_EQ(dlg.m_bCavlc, 1);
        EXPECT_EQ(Selection(hDlg, 234), 0);
        EXPECT_EQ(ItemText(hDlg, 236), L"0");
        EXPECT_TRUE(Checked(hDlg, 242));
    });
}

TEST(Transport, ApplyResults) {
    struct Case {
        const char* setter;
        HRESULT hr;
        bool bRuns;
    };
    // S_FALSE stops the sequence but counts as success; a failure keeps the graph stopped.
    for (const Case& c : {Case{"SetRateControl", S_FALSE, true}, Case{"SetGop", E_INVALIDARG, false}}) {
        SCOPED_TRACE(c.setter);
        Bench bench;
        CMainDialog dlg;
        RunModal(dlg, [&](HWND hDlg) {
            bench.BuildFromFile(hDlg);
            FakeEncoder& encoder = *bench.spEncoder;
            encoder.results[c.setter] = c.hr;
            MessageBoxCatcher boxes;
            encoder.calls.clear();
            Click(hDlg, 211);
            ASSERT_FALSE(Setters(encoder).empty());
            EXPECT_EQ(Setters(encoder).back().rfind(c.setter, 0), 0u);
            EXPECT_EQ(GraphState(dlg), c.bRuns ? State_Running : State_Stopped);
            if (c.bRuns) {
                EXPECT_TRUE(boxes.Boxes().empty());
                EXPECT_EQ(Setters(encoder).size(), 3u);
                EXPECT_EQ(encoder.calls.back(), "GetCavlc");  // read back
                EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 0);
            } else {
                ASSERT_EQ(boxes.Boxes().size(), 1u);
                EXPECT_EQ(boxes.Boxes()[0].text.rfind(L"Can't change encoding properties", 0), 0u);
                EXPECT_NE(boxes.Boxes()[0].text.find(L"0x80070057"), std::wstring::npos);
                EXPECT_EQ(encoder.calls.back().rfind("SetGop", 0), 0u);  // no read-back
                EXPECT_FALSE(CallLog().Has(L"Run"));
                EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 1);
                EXPECT_EQ(GroupState(hDlg, kGraphGroup), 1);
            }
        });
    }
}

TEST(Transport, PassThroughFollowsTheBoxAcrossReadBacks) {
    Bench bench;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        bench.BuildFromFile(hDlg);
        FakeEncoder& encoder = *bench.spEncoder;
        Click(hDlg, 245);
        EXPECT_TRUE(Checked(hDlg, 245));
        Choose(hDlg, 208, 1);  // a preset change reads everything back
        EXPECT_TRUE(Checked(hDlg, 245));
        EXPECT_EQ(dlg.m_bPassThroughTimeStamps, 1);
        encoder.calls.clear();
        Click(hDlg, 211);
        ASSERT_FALSE(Setters(encoder).empty());
        EXPECT_EQ(Setters(encoder).back(), "SetPassThroughTimeStamps(1)");
        Click(hDlg, 213);
        encoder.calls.clear();
        Click(hDlg, 211);  // again, after the read-back of the first start
        ASSERT_FALSE(Setters(encoder).empty());
        EXPECT_EQ(Setters(encoder).back(), "SetPassThroughTimeStamps(1)");
        Click(hDlg, 213);
        Click(hDlg, 245);
        encoder.calls.clear();
        Click(hDlg, 211);
        ASSERT_FALSE(Setters(encoder).empty());
        EXPECT_EQ(Setters(encoder).back(), "SetPassThroughTimeStamps(0)");
        // A new build keeps the box and what is sent with it.
        Click(hDlg, 213);
        Click(hDlg, 245);
        bench.BuildFromFile(hDlg);
        EXPECT_TRUE(Checked(hDlg, 245));
        Click(hDlg, 211);
        ASSERT_FALSE(Setters(*bench.spEncoder).empty());
        EXPECT_EQ(Setters(*bench.spEncoder).back(), "SetPassThroughTimeStamps(1)");
    });
}

TEST(Transport, EnabledStateThroughPlayPauseStop) {
    Bench bench;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        MessageBoxCatcher boxes;
        bench.BuildFromFile(hDlg);
        FakeEncoder& encoder = *bench.spEncoder;
        EXPECT_EQ(GroupState(hDlg, kGraphGroup), 1);
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 1);

        // Stop before the first Play rewinds and takes "Force key frame" away.
        CallLog().Clear();
        Click(hDlg, 213);
        EXPECT_EQ(CallLog().Starting(L"SetPositions 0 ").size(), 1u) << CallLog().Dump();
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 1);
        EXPECT_FALSE(Enabled(hDlg, 246));

        // Pause straight after the build, then Play: nothing is applied, the settings stay usable.
        encoder.calls.clear();
        Click(hDlg, 212);
        EXPECT_EQ(GraphState(dlg), State_Paused);
        Click(hDlg, 211);
        EXPECT_EQ(GraphState(dlg), State_Running);
        EXPECT_TRUE(Setters(encoder).empty());
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 1);

        // Stop rewinds a file source, enables the settings and disables "Force key frame".
        CallLog().Clear();
        Click(hDlg, 213);
        EXPECT_EQ(GraphState(dlg), State_Stopped);
        EXPECT_EQ(CallLog().Starting(L"SetPositions 0 ").size(), 1u) << CallLog().Dump();
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 1);
        EXPECT_FALSE(Enabled(hDlg, 246));

        Click(hDlg, 211);  // from stopped: applied
        EXPECT_EQ(Setters(encoder).size(), 9u);
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 0);
        EXPECT_TRUE(Enabled(hDlg, 246));
        EXPECT_EQ(GroupState(hDlg, kGraphGroup), 1);

        encoder.calls.clear();
        Click(hDlg, 211);  // while running: nothing
        EXPECT_TRUE(encoder.calls.empty());
        Click(hDlg, 212);
        EXPECT_EQ(GraphState(dlg), State_Paused);
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 0);
        Click(hDlg, 211);  // after Pause: runs without applying
        EXPECT_EQ(GraphState(dlg), State_Running);
        EXPECT_TRUE(Setters(encoder).empty());
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 0);

        Click(hDlg, 213);
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 1);
        EXPECT_FALSE(Enabled(hDlg, 246));
        EXPECT_EQ(GroupState(hDlg, {207, 210, 211, 212, 213}), 1);
        EXPECT_TRUE(boxes.Boxes().empty());
    });
}

TEST(Transport, FailedRunReenablesTheSettings) {
    Bench bench;
    bench.setUpGraph = [](FakeGraph* pGraph) { pGraph->hrRun = E_OUTOFMEMORY; };
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        bench.BuildFromFile(hDlg);
        MessageBoxCatcher boxes;
        bool bSettingsAtBox = true;
        boxes.onShow = [&](HWND) { bSettingsAtBox = GroupState(hDlg, kSettingsGroup) == 1; };
        Click(hDlg, 211);
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(boxes.Boxes()[0].text.rfind(L"Can't play file", 0), 0u) << Narrow(boxes.Boxes()[0].text);
        EXPECT_NE(boxes.Boxes()[0].text.find(L"0x8007000E"), std::wstring::npos) << Narrow(boxes.Boxes()[0].text);
        EXPECT_FALSE(bSettingsAtBox);  // the message comes first
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 1);
        EXPECT_FALSE(Enabled(hDlg, 246));
        EXPECT_EQ(GroupState(hDlg, {207, 210, 211, 212, 213}), 1);
        // A run still in transition counts as success.
        bench.spGraph->hrRun = S_FALSE;
        Click(hDlg, 211);
        EXPECT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 0);
        EXPECT_TRUE(Enabled(hDlg, 246));
    });
}

TEST(Transport, StopRewindsOnlyWhenTheFileSourceIsChosen) {
    Bench bench;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        bench.BuildFromFile(hDlg);
        Click(hDlg, 211);
        DiagCapture diag;
        bench.spGraph->hrStop = E_FAIL;  // only asserted
        Click(hDlg, 202);                // the live radio button now, whatever was built
        CallLog().Clear();
        Click(hDlg, 213);
        EXPECT_TRUE(CallLog().Starting(L"SetPositions").empty());
        EXPECT_EQ(diag.Reports().size(), 1u) << diag.Dump();
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 1);
        EXPECT_FALSE(Enabled(hDlg, 246));
    });
}

TEST(Transport, WithoutGraph) {
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        MessageBoxCatcher boxes;
        for (int id : {211, 212, 213}) ::SendMessageW(hDlg, WM_COMMAND, id, 0);
        ASSERT_EQ(boxes.Boxes().size(), 2u);  // Stop shows nothing
        for (const auto& box : boxes.Boxes()) {
            EXPECT_EQ(box.text.rfind(L"Graph not exist", 0), 0u) << Narrow(box.text);
            EXPECT_NE(box.text.find(L"0x80004005"), std::wstring::npos);
        }
        EXPECT_EQ(GroupState(hDlg, kGraphGroup), 0);
    });
}

TEST(Transport, TestCommandResetsTheGraph) {
    Bench bench;
    bench.spEncoder->values.bExactGop = 1;
    bench.spEncoder->values.nBitrate = 5000;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        bench.BuildFromFile(hDlg);
        ::SendDlgItemMessageW(hDlg, 210, PBM_SETPOS, 300, 0);
        ::SetDlgItemTextW(hDlg, 214, L" 720 x 576");
        const std::wstring title = WindowText(hDlg);
        ::SendMessageW(hDlg, WM_COMMAND, 251, 0);
        EXPECT_FALSE(dlg.m_graph);
        EXPECT_EQ(bench.spGraph->hWndNotify, (OAHWND)0);
        EXPECT_FALSE(TimerRunning(hDlg, 1, 300));
        EXPECT_FALSE(TimerRunning(hDlg, 2, 500));
        for (int id : {214, 215, 233, 224, 227, 244, 229, 235, 241, 232, 238}) EXPECT_EQ(ItemText(hDlg, id), L"") << id;
        for (int id : {225, 239, 230, 236}) EXPECT_EQ(ItemText(hDlg, id), L"0") << id;
        EXPECT_FALSE(Checked(hDlg, 243));
        EXPECT_FALSE(Checked(hDlg, 242));
        EXPECT_EQ(GroupState(hDlg, kGraphGroup), 0);
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 0);
        // Left alone: members, list selections, trackbar labels, encoder text, progress, title.
        EXPECT_EQ(dlg.m_nBitrate, 5000u);
        EXPECT_EQ(dlg.m_bExactGop, 1);
        EXPECT_EQ(Selection(hDlg, 209), 0);
        EXPECT_EQ(Selection(hDlg, 223), 1);
        EXPECT_EQ(ItemText(hDlg, 220), L" 4");
        EXPECT_EQ(ItemText(hDlg, 247), L"Software encoder is used");
        EXPECT_EQ(ProgressPos(hDlg), 300);
        EXPECT_EQ(WindowText(hDlg), title);
        EXPECT_TRUE(dlg.m_bControlsReady);
    });
}

TEST(Transport, CloseWhileRunningReleasesEverything) {
    for (int id : {IDOK, IDCANCEL}) {
        Bench bench;
        CMainDialog dlg;
        const INT_PTR nRet = RunModal(dlg, [&](HWND hDlg) {
            bench.BuildFromFile(hDlg);
            Click(hDlg, 211);
            ::SendMessageW(hDlg, WM_COMMAND, id, 0);
        });
        EXPECT_EQ(nRet, id);
        EXPECT_FALSE(dlg.m_graph);
        EXPECT_EQ(bench.spGraph->hWndNotify, (OAHWND)0);
    }
}

TEST(Transport, ShowGraphWithoutGraph) {
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        MessageBoxCatcher boxes;
        ::SendMessageW(hDlg, WM_COMMAND, 207, 0);  // disabled; sent as a command
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(boxes.Boxes()[0].text.rfind(L"Can't show graph", 0), 0u) << Narrow(boxes.Boxes()[0].text);
        EXPECT_NE(boxes.Boxes()[0].text.find(L"0x80004005"), std::wstring::npos);
        EXPECT_EQ(GroupState(hDlg, kGraphGroup), 0);
    });
}
