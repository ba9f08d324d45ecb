// The status display: input properties and statistics (timer 2), progress (timer 1), and
// the graph's events.
#include <gtest/gtest.h>

#include "tests/dialog/DialogKit.h"
#include "tests/support/DiagCapture.h"
#include "tests/support/WindowTools.h"

TEST(StatusDisplay, InputPropertiesAndStatistics) {
    struct Case {
        int nWidth, nHeight;
        double dblFPS;
        int eInterlacing;
        const wchar_t *resolution, *fps, *interlacing;
    };
    const Case cases[] = {
        {720, 576, 25.0, 1, L" 720 x 576", L" 25.0000", L" Progressive"},
        {1920, 1080, 29.97, 2, L" 1920 x 1080", L" 29.9700", L" Top first"},
        {1920, 1080, 23.976, 3, L" 1920 x 1080", L" 23.9760", L" Bottom first"},
        {640, 480, 30000.0 / 1001.0, 0, L" 640 x 480", L" 29.9700", L""},
        {1280, 720, 60000.0 / 1001.0, 4, L" 1280 x 720", L" 59.9401", L""},
        {352, 288, 29.99996, 1, L" 352 x 288", L" 30.0000", L" Progressive"},
        {176, 144, 0.0, 1, L" 176 x 144", L" 0.0000", L" Progressive"},
        {0, 480, 25.0, 1, L"", L"", L""},  // no input yet
    };
    FakeEncoder encoder;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        StandUpGraph(dlg, encoder);
        UINT nFrames = 0;
        for (const Case& c : cases) {
            SCOPED_TRACE(Narrow(c.fps));
            // Whatever was shown before is replaced.
            ::SetDlgItemTextW(hDlg, 214, L"old");
            ::SetDlgItemTextW(hDlg, 215, L"old");
            ::SetDlgItemTextW(hDlg, 233, L"old");
            encoder.nWidth = c.nWidth;
            encoder.nHeight = c.nHeight;
            encoder.dblFPS = c.dblFPS;
            encoder.eInterlacing = c.eInterlacing;
            encoder.nFrames = nFrames += 25;
            encoder.nAvgBitrate = 3000000000u;  // shown unsigned
            ::SendMessageW(hDlg, WM_TIMER, 2, 0);
            EXPECT_EQ(ItemText(hDlg, 214), c.resolution);
            EXPECT_EQ(ItemText(hDlg, 215), c.fps);
            EXPECT_EQ(ItemText(hDlg, 233), c.interlacing);
            EXPECT_EQ(ItemText(hDlg, 224), L" " + std::to_wstring(nFrames));
            EXPECT_EQ(ItemText(hDlg, 227), L" 3000000000");
        }
    });
}

TEST(StatusDisplay, FailingQueriesShowTheZerosAndAreAsserted) {
    FakeEncoder encoder;
    encoder.nWidth = 720;
    encoder.nFrames = 9;
    encoder.results["GetInputInfo"] = E_FAIL;
    encoder.results["GetStatistics"] = E_FAIL;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        StandUpGraph(dlg, encoder);
        DiagCapture diag;
        ::SendMessageW(hDlg, WM_TIMER, 2, 0);
        EXPECT_EQ(ItemText(hDlg, 214), L"");
        EXPECT_EQ(ItemText(hDlg, 224), L" 0");
        EXPECT_EQ(ItemText(hDlg, 227), L" 0");
        EXPECT_EQ(diag.Reports().size(), 2u) << diag.Dump();
    });
}

TEST(StatusDisplay, WithoutGraphBothTimersStop) {
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        ::SetTimer(hDlg, 1, 300, NULL);
        ::SetTimer(hDlg, 2, 500, NULL);
        ::SendMessageW(hDlg, WM_TIMER, 2, 0);
        EXPECT_FALSE(TimerRunning(hDlg, 1, 300));
        EXPECT_FALSE(TimerRunning(hDlg, 2, 500));
        EXPECT_EQ(ItemText(hDlg, 227), L"0");
    });
}

TEST(StatusDisplay, ProgressTimerStopsForGoodWithoutDuration) {
    // A graph with nothing seekable in it has no duration.
    FakeEncoder encoder;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        StandUpGraph(dlg, encoder);
        ::SendDlgItemMessageW(hDlg, 210, PBM_SETPOS, 400, 0);
        ::SetTimer(hDlg, 1, 300, NULL);
        ::SetTimer(hDlg, 2, 500, NULL);
        ::SendMessageW(hDlg, WM_TIMER, 1, 0);
        EXPECT_FALSE(TimerRunning(hDlg, 1, 300));
        EXPECT_TRUE(TimerRunning(hDlg, 2, 500));
        EXPECT_EQ(ProgressPos(hDlg), 400);  // keeps its last position
    });
}

TEST(GraphEvents, EndOfStreamStopsShowsOnceAndReenablesTheSettings) {
    FakeEncoder encoder;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        StandUpGraph(dlg, encoder);
        Click(hDlg, 211);
        ASSERT_EQ(dlg.m_graph.GetState(), State_Running);
        MessageBoxCatcher boxes;
        int nStateAtBox = -1;
        bool bSettingsAtBox = false;
        boxes.onShow = [&](HWND) {
            nStateAtBox = dlg.m_graph.GetState();
            bSettingsAtBox = GroupState(hDlg, kSettingsGroup) == 1;
        };
        QueueGraphEvent(dlg, EC_COMPLETE);
        PumpUntil([&] { return !boxes.Boxes().empty(); }, 3000);
        PumpMessages(100);
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(boxes.Boxes()[0].text, L"The end");
        EXPECT_EQ(boxes.Boxes()[0].caption, L"Quorlin");
        EXPECT_EQ(boxes.Boxes()[0].buttons, std::vector<int>{IDOK});
        EXPECT_EQ(nStateAtBox, State_Stopped);
        EXPECT_TRUE(bSettingsAtBox);
        EXPECT_FALSE(Enabled(hDlg, 246));
        // Play afterwards applies the settings again.
        encoder.ClearCalls();
        Click(hDlg, 211);
        EXPECT_EQ(encoder.Setters().size(), 9u);
    });
}

TEST(GraphEvents, OtherEventsAreTracedAndNestedNotificationsAreSafe) {
    FakeEncoder encoder;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        StandUpGraph(dlg, encoder);
        DiagCapture diag;
        MessageBoxCatcher boxes;
        // While "The end" is on screen another event arrives; the box's own loop handles it.
        boxes.onShow = [&](HWND) { QueueGraphEvent(dlg, EC_USER + 0x2A); };
        QueueGraphEvent(dlg, EC_USER + 0x1F);
        QueueGraphEvent(dlg, EC_COMPLETE);
        PumpUntil([&] { return !boxes.Boxes().empty(); }, 3000);
        PumpMessages(200);
        EXPECT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_TRUE(diag.HasTrace(L"CMainDialog::OnGraphNotify(): event 0x801F\n")) << diag.Dump();
        EXPECT_TRUE(diag.HasTrace(L"CMainDialog::OnGraphNotify(): event 0x802A\n")) << diag.Dump();
        EXPECT_EQ(dlg.m_graph.GetEvent(), 0);
        (void)hDlg;
    });
}
