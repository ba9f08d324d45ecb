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

namespace {

// A folder on a file system of its own, mounted for as long as it lives (mounting needs the
// rights a test machine's root has).
class MountedFolder {
public:
    explicit MountedFolder(const std::string& options) : m_path(UniqueTmpPath("-mnt")) {
        m_bMounted = RunHost("mkdir -p '" + m_path + "' && mount -t tmpfs -o " + options + " tmpfs '" + m_path +
                             "'") == 0;
    }
    ~MountedFolder() {
        if (m_bMounted) RunHost("umount -l '" + m_path + "'");
    }
    bool Mounted() const { return m_bMounted; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    bool m_bMounted = false;
};

// 10 s of 320 x 240 at 25 fps, busy enough to need some megabytes at the encoder's rate.
std::string MakeLongClip() {
    const std::string path = UniqueTmpPath(".mp4");
    const std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 250 "
                            "-c:v libx264 -preset ultrafast -pix_fmt yuv420p '" + path + "'";
    return RunHost(cmd) == 0 ? path : std::string();
}

}  // namespace

// A recording that cannot be written ends its run with a box that says why; the dialog is
// left as after a stopped run, and what was written up to the failure plays.
TEST(RealGraph, WriteFailuresStopTheRunWithTheirBox) {
    const std::string clip = MakeLongClip();
    ASSERT_FALSE(clip.empty());
    MountedFolder small("size=256k");
    MountedFolder readOnly("ro,size=64k");
    if (!small.Mounted() || !readOnly.Mounted()) GTEST_SKIP() << "no rights to mount the small file systems";

    struct Case {
        const char* name;
        std::wstring output;
        HRESULT hr;
        bool bPlaysWhatWasWritten;
    };
    const Case cases[] = {
        {"full disk", ToWinPath(small.Path() + "/out.mp4"), HRESULT_FROM_WIN32(ERROR_DISK_FULL), true},
        {"device that is always full", L"Z:\\dev\\full", HRESULT_FROM_WIN32(ERROR_DISK_FULL), false},
        {"read-only location", ToWinPath(readOnly.Path() + "/out.mp4"), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED),
         false},
        {"invalid name", ToWinPath(TestTmpDir()) + L"\\out?.mp4", HRESULT_FROM_WIN32(ERROR_INVALID_NAME), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CMainDialog dlg;
        RunModal(dlg, [&](HWND hDlg) {
            MessageBoxCatcher catcher;
            Type(hDlg, 204, ToWinPath(clip).c_str());
            Click(hDlg, 248);
            Type(hDlg, 216, c.output.c_str());
            Click(hDlg, 206);
            ASSERT_TRUE(catcher.Boxes().empty()) << Narrow(catcher.Boxes()[0].text);
            Click(hDlg, 211);
            ASSERT_TRUE(PumpUntil([&] { return !catcher.Boxes().empty(); }, 60000)) << "the run never ended";
            PumpMessages(300);
            ASSERT_EQ(catcher.Boxes().size(), 1u);
            const std::wstring& text = catcher.Boxes()[0].text;
            wchar_t szCode[32];
            swprintf(szCode, 32, L"\nError 0x%X", (unsigned)c.hr);
            EXPECT_EQ(text.rfind(L"The graph stopped on an error\n", 0), 0u) << Narrow(text);
            EXPECT_NE(text.find(szCode), std::wstring::npos) << Narrow(text);
            // As after a stopped run: stopped, rewound, settings usable, Play ready.
            EXPECT_EQ(GraphState(dlg), State_Stopped);
            EXPECT_EQ(GroupState(hDlg, kSettingsGroup), 1);
            EXPECT_FALSE(Enabled(hDlg, 246));
            EXPECT_TRUE(Enabled(hDlg, 211));
        });
        if (c.bPlaysWhatWasWritten) {
            std::string frames;
            EXPECT_EQ(0, RunHost("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                 "stream=nb_read_frames -of csv=p=0 '" + ToUnixPath(c.output) + "'",
                                 &frames));
            EXPECT_GT(std::atoi(frames.c_str()), 0) << frames;
            EXPECT_LT(std::atoi(frames.c_str()), 250) << frames;
        }
    }
}

// A saved graph cut in half (a copy of the default one) is refused with words.
TEST(RealGraph, TruncatedSavedGraphIsRefusedWithWords) {
    std::string grf;
    ASSERT_TRUE(ReadHostFile(TestTmpDir() + "/../drive-f/Ref_movies/Test graphs/Belukha_SD.mp4.grf", &grf));
    const std::string cut = UniqueTmpPath(".grf");
    ASSERT_TRUE(WriteHostFile(cut, grf.substr(0, grf.size() / 2)));
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        MessageBoxCatcher catcher;
        Type(hDlg, 204, ToWinPath(cut).c_str());
        Click(hDlg, 206);
        ASSERT_EQ(catcher.Boxes().size(), 1u);
        EXPECT_EQ(catcher.Boxes()[0].text,
                  L"Can't build graph\nThe file could not be read to its end: it is truncated or damaged.\nError 0x8003001E");
        EXPECT_EQ(GroupState(hDlg, kGraphGroup), 0);
    });
}
