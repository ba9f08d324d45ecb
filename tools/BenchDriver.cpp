// quorlin-driver: starts Quorlin, builds the graph on the default source, plays it, hands it
// to GraphEdit through "Show graph", plays it to the end and reports what the dialog showed,
// with screenshots along the way: the dialog, the whole screen while the graph plays (the
// dialog and the decoder's video window), and GraphEdit attached to the playing graph.
//
//   quorlin-driver.exe <Quorlin.exe> <screenshot folder (Linux path)> [timeout seconds]
//
// Exit status 0 when the graph was built and played to "The end".
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/support/HostTools.h"
#include "tests/support/WindowTools.h"

namespace {

const int kMsgBoxTextId = 0xFFFF;

struct Finder {
    DWORD pid;
    bool wantMessageBox;
    HWND hWnd;
};

BOOL CALLBACK FindProc(HWND hWnd, LPARAM lParam) {
    auto* f = (Finder*)lParam;
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hWnd, &pid);
    if (pid != f->pid || !::IsWindowVisible(hWnd) || ClassName(hWnd) != L"#32770") return TRUE;
    const bool isBox = ::GetDlgItem(hWnd, kMsgBoxTextId) != NULL;
    if (isBox != f->wantMessageBox) return TRUE;
    f->hWnd = hWnd;
    return FALSE;
}

HWND FindWindowOf(DWORD pid, bool wantMessageBox) {
    Finder f = {pid, wantMessageBox, NULL};
    ::EnumWindows(FindProc, (LPARAM)&f);
    return f.hWnd;
}

HWND WaitFor(DWORD pid, bool wantMessageBox, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        HWND h = FindWindowOf(pid, wantMessageBox);
        if (h || ::GetTickCount() - start > timeoutMs) return h;
        ::Sleep(50);
    }
}

std::string Utf8(const std::wstring& s) {
    int n = ::WideCharToMultiByte(CP_UTF8, 0, s.c_str(), (int)s.size(), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    if (n) ::WideCharToMultiByte(CP_UTF8, 0, s.c_str(), (int)s.size(), &out[0], n, nullptr, nullptr);
    return out;
}

std::string Trim(const std::wstring& s) {
    size_t b = s.find_first_not_of(L" \n"), e = s.find_last_not_of(L" \n");
    return b == std::wstring::npos ? std::string() : Utf8(s.substr(b, e - b + 1));
}

// Screenshot of one window, or of the whole screen without one: the virtual desktop is the X
// server's root window, so screen coordinates are X coordinates.
std::string Shot(const std::string& dir, const std::string& name, HWND hWnd) {
    std::string crop;
    if (hWnd != NULL) {
        RECT rc;
        ::GetWindowRect(hWnd, &rc);
        char geometry[80];
        std::snprintf(geometry, sizeof geometry, "-crop %ldx%ld+%ld+%ld +repage ", rc.right - rc.left,
                      rc.bottom - rc.top, rc.left, rc.top);
        crop = geometry;
    }
    const std::string path = dir + "/" + name + ".png";
    RunHost("rm -f '" + path + "'; import -window root " + crop + "'" + path + "' 2>/dev/null");
    return HostFileExists(path) ? path : std::string("(screenshot " + name + " failed)");
}

// GraphEdit's main window once it is attached to a graph.
BOOL CALLBACK FindGraphEditProc(HWND hWnd, LPARAM lParam) {
    if (!::IsWindowVisible(hWnd) || WindowText(hWnd).rfind(L"GraphEdit - attached to ", 0) != 0) return TRUE;
    *(HWND*)lParam = hWnd;
    return FALSE;
}

HWND FindGraphEdit() {
    HWND hWnd = NULL;
    ::EnumWindows(FindGraphEditProc, (LPARAM)&hWnd);
    return hWnd;
}

// The number of filters GraphEdit's picture shows (its view's text has a line "[name] ..." per
// filter).
int FiltersShown(HWND hGraphEdit) {
    HWND hView = ::GetDlgItem(hGraphEdit, 100);
    if (hView == NULL) return 0;
    int cch = (int)::SendMessageW(hView, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(cch + 1, L'\0');
    cch = (int)::SendMessageW(hView, WM_GETTEXT, cch + 1, (LPARAM)&text[0]);
    text.resize(cch > 0 ? cch : 0);
    int n = text.rfind(L"[", 0) == 0;
    for (size_t i = text.find(L"\n["); i != std::wstring::npos; i = text.find(L"\n[", i + 1)) ++n;
    return n;
}

int Number(const std::wstring& s) { return _wtoi(s.c_str()); }

void Click(HWND hDlg, int id) {
    ::PostMessageW(hDlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)::GetDlgItem(hDlg, id));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::printf("usage: quorlin-driver <Quorlin.exe> <screenshot folder> [timeout s]\n");
        return 2;
    }
    const std::wstring exe = argv[1];
    const std::string shots = ToUnixPath(argv[2]);
    const DWORD timeoutMs = (argc > 3 ? (DWORD)_wtoi(argv[3]) : 120) * 1000;
    RunHost("mkdir -p '" + shots + "'");

    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(exe.c_str(), NULL, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        std::printf("cannot start Quorlin (error %lu)\n", ::GetLastError());
        return 1;
    }
    int status = 1;
    std::vector<std::string> taken;
    HWND hDlg = WaitFor(pi.dwProcessId, false, 20000);
    if (!hDlg) {
        std::printf("The Quorlin dialog did not appear.\n");
    } else {
        ::Sleep(300);
        taken.push_back(Shot(shots, "1-start", hDlg));

        Click(hDlg, IDC_BUILD_GRAPH);
        const DWORD start = ::GetTickCount();
        HWND hBox = NULL;
        while (::GetTickCount() - start < 60000) {
            if (WindowText(hDlg).rfind(L"Test for ", 0) == 0) break;
            if ((hBox = FindWindowOf(pi.dwProcessId, true))) break;
            ::Sleep(50);
        }
        if (hBox) {
            std::printf("Build graph failed: %s\n", Trim(ItemText(hBox, kMsgBoxTextId)).c_str());
            taken.push_back(Shot(shots, "2-build-failed", hBox));
            ::PostMessageW(hBox, WM_COMMAND, IDOK, 0);
        } else if (WindowText(hDlg).rfind(L"Test for ", 0) != 0) {
            std::printf("Build graph did not finish within a minute.\n");
        } else {
            std::printf("Built: %s\n", Utf8(WindowText(hDlg)).c_str());
            std::printf("Encoder: %s\n", Trim(ItemText(hDlg, IDC_ENCODER_USED)).c_str());
            ::Sleep(300);
            taken.push_back(Shot(shots, "2-built", hDlg));

            // GraphEdit attached to the graph, once it has drawn it; it stays attached while the
            // graph plays. A busy machine may start GraphEdit too slowly for the bench's wait:
            // the tester tries again.
            HWND hGraphEdit = NULL;
            DWORD showStart = ::GetTickCount();
            for (int nTry = 1; nTry <= 3 && !hGraphEdit; ++nTry) {
                Click(hDlg, IDC_SHOW_GRAPH);
                showStart = ::GetTickCount();
                HWND hFailed = NULL;
                while (::GetTickCount() - showStart < 15000 && !(hGraphEdit = FindGraphEdit()) &&
                       !(hFailed = FindWindowOf(pi.dwProcessId, true)))
                    ::Sleep(100);
                if (hFailed == NULL) break;
                const std::string text = Trim(ItemText(hFailed, kMsgBoxTextId));
                if (text.rfind("Can't show graph", 0) != 0) break;  // the end, or another failure
                std::printf("Show graph failed (%s), try %d of 3\n", text.substr(text.rfind('\n') + 1).c_str(), nTry);
                std::fflush(stdout);
                ::PostMessageW(hFailed, WM_COMMAND, IDOK, 0);
                ::Sleep(500);
            }
            if (hGraphEdit) {
                while (::GetTickCount() - showStart < 15000 && FiltersShown(hGraphEdit) == 0) ::Sleep(100);
                ::Sleep(700);
                std::printf("GraphEdit shows %d filters\n", FiltersShown(hGraphEdit));
            } else {
                std::printf("GraphEdit did not attach to the graph.\n");
            }
            std::fflush(stdout);

            Click(hDlg, IDC_PLAY);
            const DWORD playStart = ::GetTickCount();
            std::printf("Playing\n");
            std::fflush(stdout);

            // While it plays, once pictures have come through: GraphEdit attached to it, then the
            // whole screen (the dialog and the video window) with GraphEdit minimized.
            while (::GetTickCount() - playStart < 15000 && Number(ItemText(hDlg, IDC_FRAMES)) < 40 &&
                   !FindWindowOf(pi.dwProcessId, true))
                ::Sleep(100);
            if (hGraphEdit) {
                ::SetWindowPos(hGraphEdit, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
                ::Sleep(700);
                taken.push_back(Shot(shots, "3-graphedit", hGraphEdit));
                ::ShowWindowAsync(hGraphEdit, SW_SHOWMINNOACTIVE);
            }
            ::Sleep(700);
            taken.push_back(Shot(shots, "4-playing", NULL));

            hBox = WaitFor(pi.dwProcessId, true, timeoutMs);
            const double seconds = (::GetTickCount() - playStart) / 1000.0;
            if (!hBox) {
                std::printf("No message within %lu s of Play.\n", timeoutMs / 1000);
            } else {
                const std::string text = Trim(ItemText(hBox, kMsgBoxTextId));
                std::printf("After %.1f s: \"%s\"\n", seconds, text.c_str());
                taken.push_back(Shot(shots, "5-the-end", hDlg));
                ::PostMessageW(hBox, WM_COMMAND, IDOK, 0);
                ::Sleep(600);  // one more statistics tick
                std::printf("Input: %s, %s fps\n", Trim(ItemText(hDlg, IDC_RESOLUTION)).c_str(),
                            Trim(ItemText(hDlg, IDC_FPS)).c_str());
                std::printf("Frames encoded: %s\n", Trim(ItemText(hDlg, IDC_FRAMES)).c_str());
                std::printf("Average bitrate: %s Kbps\n", Trim(ItemText(hDlg, IDC_AVG_BITRATE)).c_str());
                if (text == "The end") status = 0;
            }
        }
        ::PostMessageW(hDlg, WM_COMMAND, IDCANCEL, 0);
    }
    if (::WaitForSingleObject(pi.hProcess, 20000) != WAIT_OBJECT_0) ::TerminateProcess(pi.hProcess, 1);
    for (const auto& s : taken) std::printf("Screenshot: %s\n", s.c_str());
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return status;
}
