// The whole bench on the real graph manager with the registered encoder and MPEG-4 writer: a
// media file is built, encoded to a file with the tester's settings, shown in the status
// display and ends with "The end".
#include <gtest/gtest.h>

#include "dialog/MainDialog.h"
#include "tests/dialog/DialogKit.h"
#include "tests/support/DiagCapture.h"
#include "tests/support/HostTools.h"
#include "tests/support/WindowTools.h"

namespace {

// 50 frames of 320 x 240 at 25 fps, H.264 in MPEG-4.
std::string MakeClip() {
    const std::string path = UniqueTmpPath(".mp4");
    const std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 50 "
                            "-c:v libx264 -preset ultrafast -pix_fmt yuv420p '" + path + "'";
    return RunHost(cmd) == 0 ? path : std::string();
}

}  // namespace

TEST(RealGraph, MediaFileToMpeg4FileWithTheTestersSettings) {
    const std::string clip = MakeClip();
    ASSERT_FALSE(clip.empty());
    const std::string out = UniqueTmpPath(".mp4");
    std::vector<CaughtMessageBox> boxes;
    std::wstring title, resolution, fps, interlacing, frames;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        MessageBoxCatcher catcher;
        Type(hDlg, 204, ToWinPath(clip).c_str());
        Click(hDlg, 248);
        Type(hDlg, 216, ToWinPath(out).c_str());
        Click(hDlg, 206);
        ASSERT_TRUE(catcher.Boxes().empty()) << Narrow(catcher.Boxes()[0].text);
        title = WindowText(hDlg);

        // An IDR picture every 10 frames, exactly.
        Type(hDlg, 239, L"10");
        if (!Checked(hDlg, 243)) Click(hDlg, 243);
        Type(hDlg, 230, L"1");
        Click(hDlg, 211);
        ASSERT_TRUE(catcher.Boxes().empty()) << Narrow(catcher.Boxes()[0].text);
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 0);

        PumpUntil([&] { return !catcher.Boxes().empty(); }, 60000);
        PumpMessages(600);  // a tick of timer 2 after the end
        boxes = catcher.Boxes();
        resolution = ItemText(hDlg, 214);
        fps = ItemText(hDlg, 215);
        interlacing = ItemText(hDlg, 233);
        frames = ItemText(hDlg, 224);
        EXPECT_EQ(GraphState(dlg), State_Stopped);
        EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 1);
        EXPECT_EQ(ProgressPos(hDlg), 0);  // rewound
    });
    EXPECT_EQ(title.rfind(L"Test for ", 0), 0u) << Narrow(title);
    EXPECT_GT(title.size(), 9u);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"The end");
    EXPECT_EQ(resolution, L" 320 x 240");
    EXPECT_EQ(fps, L" 25.0000");
    EXPECT_EQ(interlacing, L" Progressive");
    EXPECT_EQ(frames, L" 50");

    std::string probe;
    EXPECT_EQ(0, RunHost("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                         "stream=codec_name,width,height,nb_read_frames -of csv=p=0 '" + out + "'", &probe));
    EXPECT_EQ("h264,320,240,50", probe.substr(0, probe.find_last_not_of("\r\n") + 1));
    std::string keys;
    RunHost("ffprobe -v error -select_streams v:0 -show_entries frame=key_frame -of csv=p=0 '" + out +
                "' | tr -d '\\n'",
            &keys);
    std::string expected;
    for (int i = 0; i < 5; ++i) expected += "1000000000";
    EXPECT_EQ(expected, keys);
}
