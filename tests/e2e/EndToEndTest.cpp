// The whole bench as a tester uses it: the real dialog, Wine's graph manager and the
// stand-ins registered in the prefix.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

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

namespace {

void Type(HWND hDlg, int nID, const std::wstring& text) {
    ::SendMessageW(::GetDlgItem(hDlg, nID), WM_SETTEXT, 0, (LPARAM)text.c_str());
}
void SetCheck(HWND hDlg, int nID, bool bChecked) {
    if ((::IsDlgButtonChecked(hDlg, nID) == BST_CHECKED) != bChecked) Click(hDlg, nID);
}

// 2 s of 320 x 240 at 25 fps, H.264 in MPEG-4.
std::string MakeClip() {
    const std::string path = UniqueTmpPath(".mp4");
    return RunHost("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 50 "
                   "-c:v libx264 -preset ultrafast -pix_fmt yuv420p '" + path + "'") == 0
               ? path
               : std::string();
}

// The names of the graph's filters, sorted, joined by ", ".
std::string FilterNames(CMainDialog& dlg) {
    std::vector<std::string> names;
    CComPtr<IEnumFilters> spEnum;
    if (dlg.m_graph.m_spGraph == NULL || FAILED(dlg.m_graph.m_spGraph->EnumFilters(&spEnum))) return "";
    CComPtr<IBaseFilter> spFilter;
    while (spEnum->Next(1, &spFilter, NULL) == S_OK) {
        FILTER_INFO fi = {};
        spFilter->QueryFilterInfo(&fi);
        if (fi.pGraph) fi.pGraph->Release();
        names.push_back(Narrow(fi.achName));
        spFilter.Release();
    }
    std::sort(names.begin(), names.end());
    std::string s;
    for (const auto& n : names) s += (s.empty() ? "" : ", ") + n;
    return s;
}

bool Has(const std::string& names, const char* name) { return names.find(name) != std::string::npos; }

// Video frames of a recording and its codec, as ffprobe reads them ("h264,320,240,50").
std::string Probe(const std::string& path) {
    std::string out;
    RunHost("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
            "stream=codec_name,width,height,nb_read_frames -of csv=p=0 '" + path + "'",
            &out);
    return out.substr(0, out.find_last_not_of("\r\n") + 1);
}

}  // namespace

// Every row of the build table through the dialog: each source with no output, a recording,
// and a recording with preview. Each builds the chain its row names, plays, ends or is
// stopped, and leaves a recording that ffprobe reads.
TEST(EndToEnd, EverySourceWithEveryOutputBuildsPlaysAndStops) {
    const std::string clip = MakeClip();
    ASSERT_FALSE(clip.empty());
    enum Source { File, Camera, SavedGraph };
    struct Row {
        const char* name;
        Source eSource;
        bool bOutput, bPreview;
    };
    const Row rows[] = {
        {"file, no output", File, false, false},
        {"file, recording", File, true, false},
        {"file, recording with preview", File, true, true},
        {"camera, no output", Camera, false, false},
        {"camera, recording", Camera, true, false},
        {"camera, recording with preview", Camera, true, true},
        {"saved graph, output ignored", SavedGraph, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string out = UniqueTmpPath(".mp4");
        unsigned nFramesShown = 0;
        CMainDialog dlg;
        MessageBoxCatcher boxes;
        RunModal(dlg, [&](HWND hDlg) {
            if (row.eSource == Camera) {
                Click(hDlg, IDC_SOURCE_LIVE);
                HWND hList = ::GetDlgItem(hDlg, IDC_LIVE_SOURCES);
                const int nItem = (int)::SendMessageW(hList, CB_FINDSTRINGEXACT, (WPARAM)-1,
                                                      (LPARAM)L"Test Pattern Camera");
                ASSERT_GE(nItem, 0) << "the test camera is not listed";
                ::SendMessageW(hList, CB_SETCURSEL, nItem, 0);
                ::SendMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDC_LIVE_SOURCES, CBN_SELCHANGE), (LPARAM)hList);
            } else {
                Click(hDlg, IDC_SOURCE_FILE);
                Type(hDlg, IDC_SOURCE_PATH, row.eSource == File ? ToWinPath(clip) : std::wstring(kDefaultSource));
            }
            SetCheck(hDlg, IDC_OUTPUT_CHECK, row.bOutput);
            Type(hDlg, IDC_OUTPUT_PATH, row.bOutput ? ToWinPath(out) : std::wstring());
            SetCheck(hDlg, IDC_SHOW_PREVIEW, row.bPreview);

            Click(hDlg, IDC_BUILD_GRAPH);
            ASSERT_EQ(WindowText(hDlg).rfind(L"Test for ", 0), 0u) << Describe(boxes);
            const std::string names = FilterNames(dlg);
            EXPECT_TRUE(Has(names, "Morvane H264 Encoder")) << names;
            if (row.eSource != SavedGraph) {
                EXPECT_EQ(Has(names, "Morvane MPEG-4 Writer"), row.bOutput) << names;
                EXPECT_EQ(Has(names, "Smart Tee"), row.bPreview) << names;
                EXPECT_EQ(Has(names, "Morvane H264 Decoder"), !row.bOutput || row.bPreview) << names;
            }

            Click(hDlg, IDC_PLAY);
            if (row.eSource == File) {
                ASSERT_TRUE(PumpUntil([&] { return HasBox(boxes, L"The end"); }, 120000)) << Describe(boxes);
                PumpMessages(600);  // a tick of the status timer after the end
            } else {
                ASSERT_TRUE(PumpUntil([&] { return Number(hDlg, IDC_FRAMES) >= 25; }, 120000))
                    << "frames: " << Narrow(ItemText(hDlg, IDC_FRAMES)) << " " << Describe(boxes);
                Click(hDlg, IDC_STOP);
            }
            nFramesShown = Number(hDlg, IDC_FRAMES);
            if (row.eSource == File) {
                EXPECT_EQ(nFramesShown, 50u);
            }
            EXPECT_EQ(boxes.Boxes().size(), row.eSource == File ? 1u : 0u) << Describe(boxes);
            EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(hDlg, IDC_PRESET)));
        });
        if (row.eSource == SavedGraph || !row.bOutput) {
            EXPECT_FALSE(HostFileExists(out));
            continue;
        }
        const std::string probe = Probe(out);
        if (row.eSource == File) {
            EXPECT_EQ(probe, "h264,320,240,50");
        } else {
            // Every frame the encoder counted reached the file, and perhaps a few after the
            // last tick of the display.
            EXPECT_EQ(probe.rfind("h264,", 0), 0u) << probe;
            const size_t nComma = probe.rfind(',');
            EXPECT_GE((unsigned)std::atoi(probe.c_str() + (nComma == std::string::npos ? 0 : nComma + 1)),
                      nFramesShown) << probe;
        }
    }
}

namespace {

struct WindowSearch {
    DWORD dwProcessId;
    std::function<bool(HWND)> pred;
    HWND hFound;
};

BOOL CALLBACK OnEnumWindow(HWND hWnd, LPARAM lParam) {
    WindowSearch* pSearch = (WindowSearch*)lParam;
    DWORD dwPid = 0;
    ::GetWindowThreadProcessId(hWnd, &dwPid);
    if ((pSearch->dwProcessId == 0 || dwPid == pSearch->dwProcessId) && pSearch->pred(hWnd)) {
        pSearch->hFound = hWnd;
        return FALSE;
    }
    return TRUE;
}

// The first top-level window (of the process, when given) that pred accepts.
HWND FindWindowWhere(DWORD dwProcessId, const std::function<bool(HWND)>& pred) {
    WindowSearch search = {dwProcessId, pred, NULL};
    ::EnumWindows(OnEnumWindow, (LPARAM)&search);
    return search.hFound;
}

// What the other process's message boxes say (their static texts), for failure messages.
std::string BoxesOf(DWORD dwProcessId, HWND hDlg) {
    std::string s;
    FindWindowWhere(dwProcessId, [&](HWND hWnd) {
        if (hWnd != hDlg && ClassName(hWnd) == L"#32770" && ::IsWindowVisible(hWnd)) {
            s += "[" + Narrow(WindowText(hWnd)) + ": " + Narrow(ItemText(hWnd, 0xFFFF)) + "] ";
        }
        return false;
    });
    return s;
}

void Press(HWND hDlg, int nID) {
    ::PostMessageW(hDlg, WM_COMMAND, MAKEWPARAM(nID, BN_CLICKED), (LPARAM)::GetDlgItem(hDlg, nID));
}

}  // namespace

// The bench itself, as a tester starts it: "Build graph" on the default source, "Show graph",
// and while GraphEdit holds the graph the dialog is closed. The bench ends GraphEdit and
// exits with 0.
TEST(EndToEnd, ShowGraphThenClosingTheDialogExitsCleanly) {
    struct GraphEditsEnded {
        ~GraphEditsEnded() { EndProcessesNamed(L"graphedt.exe"); }
    } graphEdits;
    const std::wstring exe = ToWinPath(Narrow(QUORLIN_EXE));
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(::CreateProcessW(exe.c_str(), NULL, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi));
    struct Ending {
        PROCESS_INFORMATION& pi;
        ~Ending() {
            if (::WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) ::TerminateProcess(pi.hProcess, 1);
            ::CloseHandle(pi.hThread);
            ::CloseHandle(pi.hProcess);
        }
    } ending{pi};

    HWND hDlg = NULL;
    ASSERT_TRUE(PumpUntil([&] {
        return (hDlg = FindWindowWhere(pi.dwProcessId, [](HWND h) {
                    return ::GetDlgItem(h, IDC_BUILD_GRAPH) != NULL && ::IsWindowVisible(h);
                })) != NULL;
    }, 60000)) << "the dialog did not appear";

    Press(hDlg, IDC_BUILD_GRAPH);
    ASSERT_TRUE(PumpUntil([&] { return WindowText(hDlg).rfind(L"Test for ", 0) == 0; }, 60000))
        << BoxesOf(pi.dwProcessId, hDlg);

    Press(hDlg, IDC_SHOW_GRAPH);
    wchar_t szPid[32];
    swprintf(szPid, 32, L" pid %08x", (unsigned)pi.dwProcessId);
    HWND hGraphEdit = NULL;
    ASSERT_TRUE(PumpUntil([&] {
        return (hGraphEdit = FindWindowWhere(0, [&](HWND h) {
                    const std::wstring t = WindowText(h);
                    return t.rfind(L"GraphEdit - attached to FilterGraph ", 0) == 0 &&
                           t.size() > 13 && t.compare(t.size() - 13, 13, szPid) == 0;
                })) != NULL;
    }, 30000)) << "GraphEdit did not attach; " << BoxesOf(pi.dwProcessId, hDlg);
    DWORD dwGraphEdit = 0;
    ::GetWindowThreadProcessId(hGraphEdit, &dwGraphEdit);
    HANDLE hGraphEditProcess = ::OpenProcess(SYNCHRONIZE, FALSE, dwGraphEdit);

    ::PostMessageW(hDlg, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(PumpUntil([&] { return ::WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0; }, 30000))
        << "the bench did not exit; " << BoxesOf(pi.dwProcessId, hDlg);
    DWORD dwExit = 0;
    ::GetExitCodeProcess(pi.hProcess, &dwExit);
    EXPECT_EQ(dwExit, 0u) << std::hex << dwExit;
    if (hGraphEditProcess != NULL) {
        EXPECT_EQ(::WaitForSingleObject(hGraphEditProcess, 5000), (DWORD)WAIT_OBJECT_0) << "GraphEdit still runs";
        ::CloseHandle(hGraphEditProcess);
    }
}

// The body of a test process that presses "Show graph" and closes the
// dialog while GraphEdit is attached; run as a process of its own by the test below.
TEST(EndToEnd, DISABLED_ShowGraphInThisProcess) {
    CMainDialog dlg;
    MessageBoxCatcher boxes;
    RunModal(dlg, [&](HWND hDlg) {
        Click(hDlg, IDC_BUILD_GRAPH);
        ASSERT_EQ(WindowText(hDlg).rfind(L"Test for ", 0), 0u) << Describe(boxes);
        Click(hDlg, IDC_SHOW_GRAPH);
        ASSERT_TRUE(boxes.Boxes().empty()) << Describe(boxes);
        HWND hGraphEdit = dlg.m_graph.m_graphEdit.m_hWndMain;
        ASSERT_TRUE(PumpUntil([&] { return WindowText(hGraphEdit).find(L"attached to") != std::wstring::npos; },
                              30000))
            << Narrow(WindowText(hGraphEdit));
        PumpMessages(1500);  // GraphEdit reads the graph again meanwhile
    });
}

// A test process that showed the graph in GraphEdit and closed the dialog while GraphEdit was
// attached: it ends with the tests' own verdict (0), not on a fault after them. The process
// is started from the Linux side: a fault while the process ends leaves the exit code it had
// already set for a Windows parent, but kills Wine's process with a signal.
TEST(EndToEnd, ATestProcessThatShowedTheGraphExitsCleanly) {
    struct GraphEditsEnded {
        ~GraphEditsEnded() { EndProcessesNamed(L"graphedt.exe"); }
    } graphEdits;
    wchar_t szExe[MAX_PATH];
    ASSERT_GT(::GetModuleFileNameW(NULL, szExe, MAX_PATH), 0u);
    std::string out;
    const int nStatus = RunHost("WINEDEBUG=-all \"${WINELOADER:-/usr/lib/wine/wine64}\" '" + ToUnixPath(szExe) +
                                    "' --gtest_also_run_disabled_tests "
                                    "--gtest_filter=EndToEnd.DISABLED_ShowGraphInThisProcess 2>&1",
                                &out, 180000);
    EXPECT_EQ(nStatus, 0) << out.substr(out.size() > 2000 ? out.size() - 2000 : 0);
    EXPECT_NE(out.find("[  PASSED  ] 1 test."), std::string::npos) << out;
}
