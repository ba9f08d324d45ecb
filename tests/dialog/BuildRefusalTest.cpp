// "Build graph" refuses what it cannot build with words: sources that are no saved graph,
// paths longer than the dialog's buffers (never cut), and an output that is the source.
#include <gtest/gtest.h>

#include "tests/dialog/DialogKit.h"
#include "tests/support/DiagCapture.h"
#include "tests/support/HostTools.h"
#include "tests/support/WindowTools.h"

namespace {

std::wstring SystemText(HRESULT hr) {
    wchar_t sz[1024] = {};
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, (DWORD)hr,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), sz, 1023, NULL);
    return std::wstring(sz, n);
}

// An existing file whose Windows path is 311 characters long, made on the Linux side (the C
// runtime's file functions here are not to be trusted with such paths).
std::string LongPathFile() {
    const std::string dir = TestTmpDir() + "/" + std::string(150, 'd');
    const size_t cchWin = ToWinPath(dir + "/").size();
    if (cchWin + 200 < 311 || cchWin + 5 > 311) return std::string();
    const std::string path = dir + "/" + std::string(311 - cchWin - 4, 'f') + ".avi";
    return RunHost("mkdir -p '" + dir + "' && printf RIFF > '" + path + "'") == 0 ? path : std::string();
}

}  // namespace

TEST(BuildRefusals, EachShowsItsBoxAndNothingIsBuiltFromACutPath) {
    const std::string textFile = UniqueTmpPath(".grf");
    ASSERT_TRUE(WriteHostFile(textFile, "FILTERS\r\nnot a compound file\r\n"));
    const std::string longFile = LongPathFile();
    ASSERT_FALSE(longFile.empty());
    ASSERT_EQ(ToWinPath(longFile).size(), 311u);
    const std::string clip = UniqueTmpPath(".avi");
    ASSERT_TRUE(WriteHostFile(clip, "RIFF"));
    const std::string link = UniqueTmpPath(".avi");
    ASSERT_EQ(0, RunHost("ln '" + clip + "' '" + link + "'"));
    const std::wstring tooLong = SystemText(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
    ASSERT_FALSE(tooLong.empty());

    struct Case {
        const char* name;
        std::wstring source;
        std::wstring output;  // empty: no output
        std::wstring expected;
    };
    const Case cases[] = {
        {"text file as a saved graph", ToWinPath(textFile), L"",
         L"Can't build graph\nThe file is not a compound file, so it is no saved graph.\nError 0x80030050"},
        {"source path of 311 characters", ToWinPath(longFile), L"",
         L"Can't build graph\n" + tooLong + L"\nError 0x800700CE"},
        {"output path of 311 characters", ToWinPath(clip), ToWinPath(longFile),
         L"Can't build graph\n" + tooLong + L"\nError 0x800700CE"},
        {"output is the source", ToWinPath(clip), ToWinPath(clip),
         L"Can't build graph: the output file is the source file\n" + SystemText(E_INVALIDARG) +
             L"\nError 0x80070057"},
        // The same file by another name (a second link to it).
        {"output is the source by another name", ToWinPath(clip), ToWinPath(link),
         L"Can't build graph: the output file is the source file\n" + SystemText(E_INVALIDARG) +
             L"\nError 0x80070057"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        CMainDialog dlg;
        RunModal(dlg, [&](HWND hDlg) {
            MessageBoxCatcher boxes;
            Type(hDlg, 204, c.source.c_str());
            if (!c.output.empty()) {
                Click(hDlg, 248);
                Type(hDlg, 216, c.output.c_str());
            }
            CallLog().Clear();
            Click(hDlg, 206);
            ASSERT_EQ(boxes.Boxes().size(), 1u);
            EXPECT_EQ(boxes.Boxes()[0].text, c.expected);
            EXPECT_TRUE(CallLog().Starting(L"RenderFile").empty()) << CallLog().Dump();
            EXPECT_TRUE(CallLog().Starting(L"SetFileName").empty()) << CallLog().Dump();
            EXPECT_EQ(GroupState(hDlg, kGraphGroup), 0);
            // The dialog stays usable: a fitting source builds.
            boxes.Clear();
            if (!c.output.empty()) Click(hDlg, 248);
            Type(hDlg, 204, L"C:\\clips\\clip.avi");
            Click(hDlg, 206);
            EXPECT_TRUE(boxes.Boxes().empty());
            EXPECT_TRUE(dlg.m_graph);
        });
    }
}
