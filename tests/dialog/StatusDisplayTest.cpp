// The status display: input properties and statistics (timer 2), progress (timer 1), and
// the graph's events.
#include <gtest/gtest.h>

#include "tests/dialog/DialogKit.h"
#include "tests/support/DiagCapture.h"
#include "tests/support/ImportHook.h"
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
        {0, 480, 25.0, 1, L"", L"", L""},  // no input yet: the statistics still show
    };
    Bench bench;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        bench.BuildFromFile(hDlg);
        FakeVireonState& v = bench.spEncoder->values;
        UINT nFrames = 0;
        for (const Case& c : cases) {
            SCOPED_TRACE(Narrow(c.fps));
            // Whatever was shown before is replaced.
            for (int id : {214, 215, 233}) ::SetDlgItemTextW(hDlg, id, L"old");
            v.nWidth = c.nWidth;
            v.nHeight = c.nHeight;
            v.dblFPS = c.dblFPS;
            v.eInterlacing = c.eInterlacing;
            v.nFrames = nFrames += 25;
            v.nAvgBitrate = 3000000000u;  // shown unsigned
            ::SendMessageW(hDlg, WM_TIMER, 2, 0);
            EXPECT_EQ(ItemText(hDlg, 214), c.resolution);
            EXPECT_EQ(ItemText(hDlg, 215), c.fps);
            EXPECT_EQ(ItemText(hDlg, 233), c.interlacing);
            EXPECT_EQ(ItemText(hDlg, 224), L" " + std::to_wstring(nFrames));
            EXPECT_EQ(ItemText(hDlg, 227), L" 3000000000");
        }
    });
}

TEST(StatusDisplay, TimerTwoRunsOnItsOwn) {
    Bench bench;
    bench.spEncoder->values.nWidth = 1024;
    bench.spEncoder->values.nHeight = 768;
    bench.spEncoder->values.nFrames = 42;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        bench.BuildFromFile(hDlg);
        EXPECT_TRUE(PumpUntil([&] { return ItemText(hDlg, 224) == L" 42"; }, 3000));
        EXPECT_EQ(ItemText(hDlg, 214), L" 1024 x 768");
    });
}

TEST(StatusDisplay, FailingQueriesShowTheZerosAndAreAsserted) {
    Bench bench;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        bench.BuildFromFile(hDlg);
        FakeEncoder& encoder = *bench.spEncoder;
        encoder.values.nWidth = 720;
        encoder.values.nFrames = 9;
        encoder.results["GetInputInfo"] = E_FAIL;
        encoder.results["GetStatistics"] = E_FAIL;
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

TEST(StatusDisplay, Progress) {
    Bench bench;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        bench.BuildFromFile(hDlg);
        FakeGraph& graph = *bench.spGraph;
        graph.llDuration = 3000000000LL;  // 5 minutes
        struct Case {
            LONGLONG llPosition;
            int nPos;
        };
        for (const Case& c : {Case{0, 0}, Case{1500000000LL, 500}, Case{2999999999LL, 999}, Case{3000000000LL, 1000}}) {
            graph.llPosition = c.llPosition;
            ::SendMessageW(hDlg, WM_TIMER, 1, 0);
            EXPECT_EQ(ProgressPos(hDlg), c.nPos) << c.llPosition;
        }
        EXPECT_TRUE(TimerRunning(hDlg, 1, 300));
        // Also while the timer runs by itself.
        graph.llPosition = 750000000LL;
        EXPECT_TRUE(PumpUntil([&] { return ProgressPos(hDlg) == 250; }, 3000));
    });
}

TEST(StatusDisplay, ProgressTimerStopsForGood) {
    struct Case {
        const char* name;
        LONGLONG llDuration;
        HRESULT hrDuration, hrPosition;
    };
    const Case cases[] = {
        {"zero duration", 0, S_OK, S_OK},
        {"no duration", 1000, E_NOTIMPL, S_OK},
        {"duration S_FALSE", 1000, S_FALSE, S_OK},
        {"no position", 1000, S_OK, E_FAIL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        CMainDialog dlg;
        RunModal(dlg, [&](HWND hDlg) {
            bench.BuildFromFile(hDlg);
            FakeGraph& graph = *bench.spGraph;
            ::SendDlgItemMessageW(hDlg, 210, PBM_SETPOS, 400, 0);
            graph.llDuration = c.llDuration;
            graph.hrGetDuration = c.hrDuration;
            graph.hrGetPosition = c.hrPosition;
            graph.llPosition = 500;
            ::SendMessageW(hDlg, WM_TIMER, 1, 0);
            EXPECT_FALSE(TimerRunning(hDlg, 1, 300));
            EXPECT_TRUE(TimerRunning(hDlg, 2, 500));
            EXPECT_EQ(ProgressPos(hDlg), 400);  // keeps its last position
            // For good: a duration that turns up later is not shown.
            graph.llDuration = 1000;
            graph.hrGetDuration = graph.hrGetPosition = S_OK;
            PumpMessages(700);
            EXPECT_EQ(ProgressPos(hDlg), 400);
        });
    }
}

TEST(StatusDisplay, LiveSourceLeavesTheProgressBarAlone) {
    Bench bench;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        ::SendDlgItemMessageW(hDlg, 210, PBM_SETPOS, 620, 0);  // from an earlier file playback
        Click(hDlg, 202);
        MessageBoxCatcher boxes;
        Click(hDlg, 206);
        ASSERT_TRUE(dlg.m_graph);
        bench.spGraph->llDuration = 1000;
        bench.spGraph->llPosition = 100;
        PumpMessages(700);
        EXPECT_EQ(ProgressPos(hDlg), 620);
        EXPECT_TRUE(boxes.Boxes().empty());
    });
}

TEST(GraphEvents, EndOfStreamStopsRewindsAndShowsOnce) {
    Bench bench;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        bench.BuildFromFile(hDlg);
        // A file with a length: with none the progress timer would stop at its first tick,
        // which a slow run reaches before the check below.
        bench.spGraph->llDuration = 3000000000LL;
        Click(hDlg, 211);
        ASSERT_EQ(GraphState(dlg), State_Running);
        FakeGraph& graph = *bench.spGraph;
        graph.llPosition = 12345;
        MessageBoxCatcher boxes;
        int nStateAtBox = -1;
        LONGLONG llPositionAtBox = -1;
        bool bSettingsAtBox = false, bKeyFrameAtBox = true;
        boxes.onShow = [&](HWND) {
            nStateAtBox = GraphState(dlg);
            llPositionAtBox = graph.llPosition;
            bSettingsAtBox = GroupState(hDlg, kSettingsGroup) == 1;
            bKeyFrameAtBox = Enabled(hDlg, 246);
        };
        graph.PostEvent(EC_COMPLETE);
        PumpUntil([&] { return !boxes.Boxes().empty(); }, 3000);
        PumpMessages(100);
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(boxes.Boxes()[0].text, L"The end");
        EXPECT_EQ(boxes.Boxes()[0].caption, L"Quorlin");
        EXPECT_EQ(boxes.Boxes()[0].buttons, std::vector<int>{IDOK});
        EXPECT_EQ(nStateAtBox, State_Stopped);
        EXPECT_EQ(llPositionAtBox, 0);
        EXPECT_TRUE(bSettingsAtBox);
        EXPECT_FALSE(bKeyFrameAtBox);
        // The timers go on.
        EXPECT_TRUE(TimerRunning(hDlg, 1, 300));
        EXPECT_TRUE(TimerRunning(hDlg, 2, 500));
        // Play afterwards applies the settings again.
        bench.spEncoder->calls.clear();
        Click(hDlg, 211);
        EXPECT_EQ(Setters(*bench.spEncoder).size(), 9u);
    });
}

TEST(GraphEvents, OtherEventsAreTracedAndNestedNotificationsAreSafe) {
    Bench bench;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        bench.BuildFromFile(hDlg);
        FakeGraph& graph = *bench.spGraph;
        DiagCapture diag;
        MessageBoxCatcher boxes;
        // While "The end" is on screen more events arrive; the box's own loop handles them.
        boxes.onShow = [&](HWND) {
            graph.PostEvent(EC_USER + 0x2A);
            graph.PostEvent(EC_PAUSED);
        };
        graph.PostEvent(EC_USER + 0x1F);
        graph.PostEvent(EC_COMPLETE);
        PumpUntil([&] { return !boxes.Boxes().empty(); }, 3000);
        PumpMessages(200);
        EXPECT_EQ(boxes.Boxes().size(), 1u);
        const std::vector<std::wstring> expected = {L"CMainDialog::OnGraphNotify(): event 0x801F\n",
                                                    L"CMainDialog::OnGraphNotify(): event 0x802A\n",
                                                    L"CMainDialog::OnGraphNotify(): event 0xE\n"};
        EXPECT_EQ(diag.Traces(), expected) << diag.Dump();
        EXPECT_TRUE(graph.events.empty());
        (void)hDlg;
    });
}

TEST(GraphEvents, AbortEventsEndTheRunAndShowTheirCode) {
    struct Case {
        long lCode;
        LONG_PTR lParam1;
        const wchar_t* text;
        const wchar_t* codeLine;
    };
    const Case cases[] = {
        {EC_ERRORABORT, (LONG_PTR)HRESULT_FROM_WIN32(ERROR_DISK_FULL), L"The graph stopped on an error",
         L"\nError 0x80070070"},
        {EC_ERRORABORTEX, (LONG_PTR)HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), L"The graph stopped on an error",
         L"\nError 0x80070005"},
        {EC_STREAM_ERROR_STOPPED, (LONG_PTR)VFW_E_SAMPLE_REJECTED, L"The graph stopped on an error",
         L"\nError 0x8004022B"},
        // An abort that carries no failure code still shows as a failure.
        {EC_FILE_CLOSED, 0, L"The graph stopped on an error", L"\nError 0x80004005"},
        {EC_USERABORT, 0, L"The graph stopped: its video window was closed", L"\nError 0x80004004"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lCode);
        Bench bench;
        CMainDialog dlg;
        RunModal(dlg, [&](HWND hDlg) {
            bench.BuildFromFile(hDlg);
            Click(hDlg, 211);
            ASSERT_EQ(GraphState(dlg), State_Running);
            FakeGraph& graph = *bench.spGraph;
            graph.llPosition = 777;
            MessageBoxCatcher boxes;
            int nStateAtBox = -1;
            bool bSettingsAtBox = false, bKeyFrameAtBox = true;
            boxes.onShow = [&](HWND) {
                nStateAtBox = GraphState(dlg);
                bSettingsAtBox = GroupState(hDlg, kSettingsGroup) == 1;
                bKeyFrameAtBox = Enabled(hDlg, 246);
            };
            graph.PostEvent(c.lCode, c.lParam1);
            // A second filter aborting the same run adds no second box.
            graph.PostEvent(EC_ERRORABORT, E_FAIL);
            PumpUntil([&] { return !boxes.Boxes().empty(); }, 3000);
            PumpMessages(200);
            ASSERT_EQ(boxes.Boxes().size(), 1u);
            const std::wstring& text = boxes.Boxes()[0].text;
            EXPECT_EQ(text.rfind(std::wstring(c.text) + L"\n", 0), 0u) << Narrow(text);
            const std::wstring codeLine = c.codeLine;
            ASSERT_GT(text.size(), codeLine.size());
            EXPECT_EQ(text.substr(text.size() - codeLine.size()), codeLine) << Narrow(text);
            EXPECT_EQ(boxes.Boxes()[0].hIcon, ::LoadIconW(NULL, IDI_HAND));
            EXPECT_EQ(nStateAtBox, State_Stopped);
            EXPECT_EQ(graph.llPosition, 0);
            EXPECT_TRUE(bSettingsAtBox);
            EXPECT_FALSE(bKeyFrameAtBox);
            // The dialog stays usable: Play runs the graph again.
            Click(hDlg, 211);
            EXPECT_EQ(GraphState(dlg), State_Running);
        });
    }
}

namespace {

// The timers the dialog itself starts: window, identifier and period of every SetTimer call
// this program makes while a TimerRecorder lives.
struct TimerCall {
    HWND hWnd;
    UINT_PTR nID;
    UINT uPeriod;
};
std::vector<TimerCall> g_timerCalls;
ImportHook* g_pSetTimerHook = nullptr;

UINT_PTR WINAPI RecordSetTimer(HWND hWnd, UINT_PTR nID, UINT uPeriod, TIMERPROC pfn) {
    g_timerCalls.push_back({hWnd, nID, uPeriod});
    return g_pSetTimerHook->Original<decltype(&::SetTimer)>()(hWnd, nID, uPeriod, pfn);
}

}  // namespace

TEST(StatusDisplay, ABuildStartsItsTimersWithTheirOwnPeriods) {
    ImportHook hook("user32.dll", "SetTimer", (void*)&RecordSetTimer);
    ASSERT_TRUE(hook.Installed());
    g_pSetTimerHook = &hook;
    for (bool bLive : {false, true}) {
        SCOPED_TRACE(bLive ? "live" : "file");
        Bench bench;
        CMainDialog dlg;
        RunModal(dlg, [&](HWND hDlg) {
            g_timerCalls.clear();
            if (bLive) {
                Click(hDlg, 202);
                bench.Build(hDlg);
            } else {
                bench.BuildFromFile(hDlg);
            }
            std::vector<std::pair<UINT_PTR, UINT>> started;
            for (const TimerCall& c : g_timerCalls)
                if (c.hWnd == hDlg) started.emplace_back(c.nID, c.uPeriod);
            // A live source has no progress to show.
            const std::vector<std::pair<UINT_PTR, UINT>> expected =
                bLive ? std::vector<std::pair<UINT_PTR, UINT>>{{2, 500}}
                      : std::vector<std::pair<UINT_PTR, UINT>>{{1, 300}, {2, 500}};
            EXPECT_EQ(started, expected);
        });
    }
}
