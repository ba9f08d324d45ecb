// Process entry: exit codes, COM start-up failures, and a whole run of the program.
#include <gtest/gtest.h>

#include <windows.h>

#include "tests/support/DiagCapture.h"
#include "tests/support/HostTools.h"
#include "tests/support/WindowTools.h"

extern "C" int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int);

namespace {

struct FindWindowOf {
    DWORD pid;
    HWND hWnd;
};

BOOL CALLBACK FindByPid(HWND hWnd, LPARAM lParam) {
    auto* f = (FindWindowOf*)lParam;
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hWnd, &pid);
    if (pid == f->pid && ::IsWindowVisible(hWnd) && WindowText(hWnd) == L"Vireon Test") {
        f->hWnd = hWnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

TEST(Entry, ComAlreadyInitialisedEndsWithTheStartUpResult) {
    struct Case {
        DWORD coinit;
        HRESULT expected;
    } cases[] = {
        {COINIT_APARTMENTTHREADED, S_FALSE},          // second initialisation: S_FALSE counts as failure
        {COINIT_MULTITHREADED, RPC_E_CHANGED_MODE},   // a different apartment: the error itself
    };
    for (const Case& c : cases) {
        ASSERT_EQ(::CoInitializeEx(NULL, c.coinit), S_OK);
        DiagCapture diag;
        MessageBoxCatcher boxes;
        int code = wWinMain(::GetModuleHandleW(NULL), NULL, (LPWSTR)L"", SW_SHOWDEFAULT);
        EXPECT_EQ(code, (int)c.expected);
        EXPECT_TRUE(diag.HasReport(L"_AtlModule.InitializeCom() FAILED")) << diag.Dump();
        EXPECT_TRUE(boxes.Boxes().empty());
        if (c.expected == S_FALSE) ::CoUninitialize();  // the entry leaves its extra count
        ::CoUninitialize();
    }
}

TEST(Entry, ANormalRunEndsWithExitCodeZeroWhicheverCommandCloses) {
    for (int id : {IDOK, IDCANCEL}) {
        std::wstring exe = ToWinPath(Narrow(QUORLIN_EXE));
        STARTUPINFOW si = {sizeof si};
        PROCESS_INFORMATION pi = {};
        ASSERT_TRUE(::CreateProcessW(exe.c_str(), NULL, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi));
        FindWindowOf find = {pi.dwProcessId, NULL};
        for (int i = 0; i < 500 && !find.hWnd; ++i) {
            ::EnumWindows(FindByPid, (LPARAM)&find);
            if (!find.hWnd) ::Sleep(20);
        }
        ASSERT_TRUE(find.hWnd) << "the dialog did not appear";
        ::PostMessageW(find.hWnd, WM_COMMAND, id, 0);
        EXPECT_EQ(::WaitForSingleObject(pi.hProcess, 20000), WAIT_OBJECT_0);
        DWORD code = 0xDEAD;
        ::GetExitCodeProcess(pi.hProcess, &code);
        EXPECT_EQ(code, 0u) << "closed with " << id;
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }
}
