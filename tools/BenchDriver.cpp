// quorlin-driver: starts Quorlin, builds the graph on the default source, plays it to the end
// and reports what the dialog showed, with screenshots along the way.
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

// Screenshot of one window: the virtual desktop is the X server's root window, so screen
// coordinates are X coordinates.
std::string Shot(const std::string& dir, const std::string& name, HWND hWnd) {
    RECT rc;
    ::GetWindowRect(hWnd, &rc);
    char geometry[64];
    std::snprintf(geometry, sizeof geometry, "%ldx%ld+%ld+%ld", rc.right - rc.left, rc.bottom - rc.top,
                  rc.left, rc.top);
    const std::string path = dir + "/" + name + ".png";
    RunHost("import -window root -crop " + std::string(geometry) + " +repage '" + path + "'");
    return HostFileExists(path) ? path : std::string("(screenshot failed)");
}

void Click(HWND hDlg, int id) {
    ::PostMessageW(hDlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)::GetDlgItem(hDlg, id));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: quorlin-driver <Quorlin.exe> <screenshot folder> [timeout s]\n");
        return 2;
    }
    const std::wstring exe = argv[1];
    const std::string shots = ToUnixPath(argv[2]);
    const DWORD timeoutMs = (argc > 3 ? (DWORD)_wtoi(argv[3]) : 120) * 1000;
    RunHost("mkdir -p '" + shots + "'");

    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(exe.c_str(), NULL, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        std::fprintf(stderr, "cannot start Quorlin (error %lu)\n", ::GetLastError());
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

            Click(hDlg, IDC_PLAY);
            const DWORD playStart = ::GetTickCount();
            hBox = WaitFor(pi.dwProcessId, true, timeoutMs);
            const double seconds = (::GetTickCount() - playStart) / 1000.0;
            if (!hBox) {
                std::printf("No message within %lu s of Play.\n", timeoutMs / 1000);
            } else {
                const std::string text = Trim(ItemText(hBox, kMsgBoxTextId));
                std::printf("After %.1f s: \"%s\"\n", seconds, text.c_str());
                taken.push_back(Shot(shots, "3-the-end", hDlg));
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
