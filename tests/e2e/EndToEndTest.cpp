// The whole bench as a tester uses it: the real dialog, Wine's graph manager and the
// stand-ins registered in the prefix.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "dialog/MainDialog.h"
#include "tests/support/DiagCapture.h"
#include "tests/support/HostTools.h"
#include "tests/support/WindowTools.h"

namespace {

const wchar_t kDefaultSource[] = L"F:\\Ref_movies\\Test graphs\\Belukha_SD.mp4.grf";

void Click(HWND hDlg, int nID) { ::SendMessageW(::GetDlgItem(hDlg, nID), BM_CLICK, 0, 0); }
unsigned Number(HWND hDlg, int nID) { return (unsigned)_wtoi(ItemText(hDlg, nID).c_str()); }

bool HasBox(const MessageBoxCatcher& boxes, const std::wstring& text) {
    for (const auto& b : boxes.Boxes())
        if (b.text == text) return true;
    return false;
}

std::string Describe(const MessageBoxCatcher& boxes) {
    std::string s;
    for (const auto& b : boxes.Boxes()) s += "[" + Narrow(b.text) + "] ";
    return s;
}

std::string ScreenshotDir() {
    const std::string dir = TestTmpDir() + "/../screenshots";
    RunHost("mkdir -p '" + dir + "'");
    return dir;
}

std::string Screenshot(HWND hWnd, const std::string& name) {
    RECT rc;
    ::GetWindowRect(hWnd, &rc);
    char geometry[64];
    std::snprintf(geometry, sizeof geometry, "%ldx%ld+%ld+%ld", rc.right - rc.left, rc.bottom - rc.top,
                  rc.left, rc.top);
    const std::string path = ScreenshotDir() + "/" + name + ".png";
    RunHost("import -window root -crop " + std::string(geometry) + " +repage '" + path + "'");
    return path;
}

}  // namespace

TEST(EndToEnd, DefaultSourceBuildsAndPlaysToTheEnd) {
    CMainDialog dlg;
    MessageBoxCatcher boxes;
    RunModal(dlg, [&](HWND hDlg) {
        EXPECT_EQ(ItemText(hDlg, IDC_SOURCE_PATH), kDefaultSource);
        Click(hDlg, IDC_BUILD_GRAPH);
        ASSERT_EQ(WindowText(hDlg).rfind(L"Test for ", 0), 0u) << Describe(boxes);
        Screenshot(hDlg, "e2e-default-built");
        const unsigned nBitrateSet = Number(hDlg, IDC_BITRATE_USED);

        Click(hDlg, IDC_PLAY);
        ASSERT_TRUE(PumpUntil([&] { return HasBox(boxes, L"The end"); }, 180000)) << Describe(boxes);
        PumpMessages(700);
        Screenshot(hDlg, "e2e-default-the-end");

        int nEnds = 0;
        for (const auto& b : boxes.Boxes()) nEnds += b.text == L"The end";
        EXPECT_EQ(nEnds, 1);
        EXPECT_EQ(boxes.Boxes().size(), 1u) << Describe(boxes);

        // The sample is 720x576 at 25 fps; every one of its frames reaches the encoder.
        std::string out;
        RunHost("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
                "-of csv=p=0 '" + TestTmpDir() + "/../drive-f/Ref_movies/Test graphs/Belukha_SD.mp4'",
                &out);
        EXPECT_EQ(ItemText(hDlg, IDC_RESOLUTION), L" 720 x 576");
        EXPECT_EQ(ItemText(hDlg, IDC_FPS), L" 25.0000");
        const unsigned nFrames = Number(hDlg, IDC_FRAMES);
        ASSERT_FALSE(out.empty()) << "the sample video is missing";
        EXPECT_EQ(nFrames, (unsigned)std::atoi(out.c_str()));
        EXPECT_GE(nFrames, 250u);
        const unsigned nAvg = Number(hDlg, IDC_AVG_BITRATE);
        if (nBitrateSet > 0) {
            EXPECT_GT(nAvg, nBitrateSet / 2) << "set " << nBitrateSet;
            EXPECT_LT(nAvg, nBitrateSet * 3 / 2) << "set " << nBitrateSet;
        }
        // The graph is stopped and rewound behind the message; the settings are usable again.
        EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(hDlg, IDC_PRESET)));
        EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(hDlg, IDC_FORCE_KEY_FRAME)));
    });
}
