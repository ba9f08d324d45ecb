// Play, Pause, Stop and the hidden reset on a standing graph: what reaches the encoder, and
// which controls the tester can use in each state.
#include <gtest/gtest.h>

#include "tests/dialog/DialogKit.h"
#include "tests/support/DiagCapture.h"
#include "tests/support/WindowTools.h"

namespace {

int State(CMainDialog& dlg) { return dlg.m_graph.GetState(); }

}  // namespace

TEST(Transport, PlayFromStoppedAppliesTheSettingsInOrder) {
    FakeEncoder encoder;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        MessageBoxCatcher boxes;
        StandUpGraph(dlg, encoder);
        Choose(hDlg, 228, 2);  // Main
        Choose(hDlg, 234, 13); // 4.1
        DragTrackbar(hDlg, 222, 6);
        Choose(hDlg, 223, 1);
        Type(hDlg, 225, L"8000");
        Type(hDlg, 239, L"100");
        Click(hDlg, 243);
        Type(hDlg, 230, L"5");
        Type(hDlg, 236, L"-3");
        Click(hDlg, 242);
        Click(hDlg, 245);
        encoder.ClearCalls();

        Click(hDlg, 211);
        const std::vector<std::string> expected = {
            "SetProfileLevel(77,41)", "SetSpeedQuality(6)", "SetRateControl(1)", "SetBitrate(8000)",
            "SetGop(100,1)", "SetIdrInterval(5)", "SetBFrames(4294967293)", "SetCavlc(1)",
            "SetPassThroughTimeStamps(1)"};
        EXPECT_EQ(encoder.Setters(), expected);
        EXPECT_EQ(encoder.calls.size(), 9u + 10u);  // then the read-back
        EXPECT_EQ(State(dlg), State_Running);
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 0);
        EXPECT_TRUE(Enabled(hDlg, 246));
        EXPECT_TRUE(boxes.Boxes().empty());
    });
}

TEST(Transport, BaselineOverridesShowAfterTheReadBack) {
    FakeEncoder encoder;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        StandUpGraph(dlg, encoder);
        Choose(hDlg, 228, 1);   // Baseline
        Choose(hDlg, 234, 13);  // 4.1
        Type(hDlg, 236, L"2");
        encoder.ClearCalls();
        Click(hDlg, 211);
        ASSERT_GE(encoder.Setters().size(), 8u);
        EXPECT_EQ(encoder.Setters()[0], "SetProfileLevel(66,0)");
        EXPECT_EQ(encoder.Setters()[6], "SetBFrames(0)");
        EXPECT_EQ(encoder.Setters()[7], "SetCavlc(1)");
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
        FakeEncoder encoder;
        encoder.results[c.setter] = c.hr;
        CMainDialog dlg;
        RunModal(dlg, [&](HWND hDlg) {
            MessageBoxCatcher boxes;
            StandUpGraph(dlg, encoder);
            encoder.ClearCalls();
            Click(hDlg, 211);
            EXPECT_EQ(encoder.Setters().back().compare(0, strlen(c.setter), c.setter), 0);
            EXPECT_EQ(State(dlg), c.bRuns ? State_Running : State_Stopped);
            if (c.bRuns) {
                EXPECT_TRUE(boxes.Boxes().empty());
                EXPECT_EQ(encoder.calls.back(), "GetCavlc");  // read back
                EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 0);
            } else {
                ASSERT_EQ(boxes.Boxes().size(), 1u);
                EXPECT_EQ(boxes.Boxes()[0].text.rfind(L"Can't change encoding properties", 0), 0u);
                EXPECT_NE(boxes.Boxes()[0].text.find(L"0x80070057"), std::wstring::npos);
                EXPECT_EQ(encoder.calls.back().rfind("SetGop", 0), 0u);  // no read-back
                EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 1);
                EXPECT_EQ(GroupState(hDlg, kGraphGroup), 1);
            }
        });
    }
}

TEST(Transport, PassThroughFollowsTheBoxAcrossReadBacks) {
    FakeEncoder encoder;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        StandUpGraph(dlg, encoder);
        Click(hDlg, 245);
        EXPECT_TRUE(Checked(hDlg, 245));
        Choose(hDlg, 208, 1);  // a preset change reads everything back
        EXPECT_TRUE(Checked(hDlg, 245));
        EXPECT_EQ(dlg.m_bPassThroughTimeStamps, 1);
        encoder.ClearCalls();
        Click(hDlg, 211);
        EXPECT_EQ(encoder.Setters().back(), "SetPassThroughTimeStamps(1)");
        Click(hDlg, 213);
        encoder.ClearCalls();
        Click(hDlg, 211);  // again, after the read-back of the first start
        EXPECT_EQ(encoder.Setters().back(), "SetPassThroughTimeStamps(1)");
        Click(hDlg, 213);
        Click(hDlg, 245);
        encoder.ClearCalls();
        Click(hDlg, 211);
        EXPECT_EQ(encoder.Setters().back(), "SetPassThroughTimeStamps(0)");
    });
}

TEST(Transport, EnabledStateThroughPlayPauseStop) {
    FakeEncoder encoder;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        MessageBoxCatcher boxes;
        StandUpGraph(dlg, encoder);
        EXPECT_EQ(GroupState(hDlg, kGraphGroup), 1);
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 1);

        // Pause straight after the build, then Play: nothing is applied, the settings stay usable.
        encoder.ClearCalls();
        Click(hDlg, 212);
        EXPECT_EQ(State(dlg), State_Paused);
        Click(hDlg, 211);
        EXPECT_EQ(State(dlg), State_Running);
        EXPECT_TRUE(encoder.Setters().empty());
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 1);

        Click(hDlg, 213);
        EXPECT_EQ(State(dlg), State_Stopped);
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 1);
        EXPECT_FALSE(Enabled(hDlg, 246));

        Click(hDlg, 211);  // from stopped: applied
        EXPECT_EQ(encoder.Setters().size(), 9u);
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 0);
        EXPECT_TRUE(Enabled(hDlg, 246));
        EXPECT_EQ(GroupState(hDlg, kGraphGroup), 1);

        encoder.ClearCalls();
        Click(hDlg, 211);  // while running: nothing
        EXPECT_TRUE(encoder.calls.empty());
        Click(hDlg, 212);
        EXPECT_EQ(State(dlg), State_Paused);
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 0);
        Click(hDlg, 211);  // after Pause: runs without applying
        EXPECT_EQ(State(dlg), State_Running);
        EXPECT_TRUE(encoder.Setters().empty());
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 0);

        Click(hDlg, 213);
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 1);
        EXPECT_FALSE(Enabled(hDlg, 246));
        EXPECT_TRUE(Enabled(hDlg, 211));
        EXPECT_TRUE(boxes.Boxes().empty());
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
    FakeEncoder encoder;
    encoder.s.bExactGop = 1;
    encoder.s.bCavlc = 1;
    encoder.s.nBitrate = 5000;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        StandUpGraph(dlg, encoder);
        ::SetTimer(hDlg, 1, 300, NULL);
        ::SetTimer(hDlg, 2, 500, NULL);
        ::SetDlgItemTextW(hDlg, 214, L" 720 x 576");
        ::SetWindowTextW(hDlg, L"Test for X");
        ::SendMessageW(hDlg, WM_COMMAND, 251, 0);
        EXPECT_FALSE(dlg.m_graph);
        EXPECT_EQ(encoder.RefCount(), 1);
        EXPECT_FALSE(TimerRunning(hDlg, 1, 300));
        EXPECT_FALSE(TimerRunning(hDlg, 2, 500));
        for (int id : {214, 215, 233, 224, 227, 244, 229, 235, 241, 232, 238}) EXPECT_EQ(ItemText(hDlg, id), L"") << id;
        for (int id : {225, 239, 230, 236}) EXPECT_EQ(ItemText(hDlg, id), L"0") << id;
        EXPECT_FALSE(Checked(hDlg, 243));
        EXPECT_FALSE(Checked(hDlg, 242));
        EXPECT_EQ(GroupState(hDlg, kGraphGroup), 0);
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 0);
        // Left alone: members, list selections, trackbar labels, encoder text, title.
        EXPECT_EQ(dlg.m_nBitrate, 5000u);
        EXPECT_EQ(dlg.m_bCavlc, 1);
        EXPECT_EQ(Selection(hDlg, 209), 0);
        EXPECT_EQ(ItemText(hDlg, 220), L" 4");
        EXPECT_EQ(ItemText(hDlg, 247), L"Software encoder is used");
        EXPECT_EQ(WindowText(hDlg), L"Test for X");
        EXPECT_TRUE(dlg.m_bControlsReady);
    });
}

TEST(Transport, CloseWhileRunningReleasesEverything) {
    for (int id : {IDOK, IDCANCEL}) {
        FakeEncoder encoder;
        CMainDialog dlg;
        const INT_PTR nRet = RunModal(dlg, [&](HWND hDlg) {
            StandUpGraph(dlg, encoder);
            ::SetTimer(hDlg, 2, 500, NULL);
            Click(hDlg, 211);
            ::SendMessageW(hDlg, WM_COMMAND, id, 0);
        });
        EXPECT_EQ(nRet, id);
        EXPECT_FALSE(dlg.m_graph);
        EXPECT_EQ(encoder.RefCount(), 1);
    }
}
