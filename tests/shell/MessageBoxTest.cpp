// The message box: composition of the text, the icon rule and the owner rule, read back
// from the real message box.
#include <gtest/gtest.h>

#include "graph/DShow.h"
#include <vfwmsgs.h>

#include "dialog/ShowMessage.h"
#include "tests/support/DiagCapture.h"
#include "tests/support/WindowTools.h"

namespace {

std::wstring SystemText(HRESULT hr) {
    wchar_t sz[1024] = {};
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, (DWORD)hr,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), sz, 1023, NULL);
    return std::wstring(sz, n);
}


CaughtMessageBox Show(HWND hWnd, const wchar_t* text, HRESULT hr, UINT type = MB_OK) {
    MessageBoxCatcher catcher;
    ShowMessageBox(hWnd, text, L"Quorlin", hr, type);
    EXPECT_EQ(catcher.Boxes().size(), 1u);
    return catcher.Boxes().empty() ? CaughtMessageBox() : catcher.Boxes()[0];
}

HICON ErrorIcon() { return ::LoadIconW(NULL, IDI_HAND); }

}  // namespace

TEST(ShowMessageBox, NoticeWithCodeZeroShowsTheTextAloneWithoutIcon) {
    CaughtMessageBox box = Show(NULL, L"The end", 0);
    EXPECT_EQ(box.text, L"The end");
    EXPECT_EQ(box.caption, L"Quorlin");
    EXPECT_EQ(box.hIcon, (HICON)NULL);
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
}

TEST(ShowMessageBox, ComposesSentenceSystemTextAndCodeLine) {
    struct Case {
        const wchar_t* text;
        HRESULT hr;
        std::wstring expected;
    };
    const std::wstring failText = SystemText(E_FAIL);
    ASSERT_FALSE(failText.empty());
    const std::wstring falseText = SystemText(S_FALSE);
    const Case cases[] = {
        {L"Graph not exist", E_FAIL, L"Graph not exist\n" + failText + L"\nError 0x80004005"},
        // Without a sentence the message starts with the error text.
        {nullptr, E_FAIL, failText + L"\nError 0x80004005"},
        {L"", E_FAIL, failText + L"\nError 0x80004005"},
        // S_FALSE counts like any other non-zero code.
        {L"Can't show graph", S_FALSE,
         falseText.empty() ? L"Can't show graph\nError 0x1" : L"Can't show graph\n" + falseText + L"\nError 0x1"},
        // A code known to nobody: the sentence, one line feed and the code line.
        {L"Can't build graph", (HRESULT)0xA0DE0123, L"Can't build graph\nError 0xA0DE0123"},
        // No sentence and no error text: just the code line.
        {nullptr, (HRESULT)0xA0DE0123, L"Error 0xA0DE0123"},
    };
    for (const Case& c : cases) {
        CaughtMessageBox box = Show(NULL, c.text, c.hr);
        EXPECT_EQ(box.text, c.expected) << std::hex << c.hr;
        EXPECT_EQ(box.hIcon, ErrorIcon()) << std::hex << c.hr;
        EXPECT_EQ(box.caption, L"Quorlin");
    }
}

TEST(ShowMessageBox, PlatformCodesReadAsWordsNeverAsBareNumbers) {
    // The platform's DirectShow text may be a bare "Error: 0x..." line; it never reaches the
    // box, and neither does an insert of a system text.
    struct Case {
        HRESULT hr;
        std::wstring expected;  // the line between the sentence and the code line
    };
    // The system's text where it has one, this program's otherwise.
    std::wstring classText = SystemText(REGDB_E_CLASSNOTREG);
    if (classText.empty()) classText = L"Class not registered.";
    const Case cases[] = {
        {VFW_E_INVALID_FILE_FORMAT, L"The file format is invalid."},
        {VFW_E_NOT_CONNECTED, L"The operation cannot be performed because the pins are not connected."},
        {VFW_E_CANNOT_CONNECT, L"No combination of intermediate filters could be found to make the connection."},
        {VFW_E_NO_ACCEPTABLE_TYPES, L"There is no common media type between these pins."},
        {VFW_E_NOT_STOPPED, L"The operation cannot be performed because the filter is active."},
        // DirectShow's facility, described by the system.
        {REGDB_E_CLASSNOTREG, classText},
        // A .grf that is no compound file, and a truncated one.
        {STG_E_FILEALREADYEXISTS, L"The file is not a compound file, so it is no saved graph."},
        {STG_E_READFAULT, L"The file could not be read to its end: it is truncated or damaged."},
    };
    for (const Case& c : cases) {
        CaughtMessageBox box = Show(NULL, L"Can't build graph", c.hr);
        wchar_t szCode[32];
        swprintf(szCode, 32, L"\nError 0x%X", (unsigned)c.hr);
        EXPECT_EQ(box.text, L"Can't build graph\n" + c.expected + szCode) << std::hex << c.hr;
    }

    // A system text with an insert: the rest of it is kept, the insert is a word.
    const std::wstring badExe = SystemText(HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT));
    CaughtMessageBox box = Show(NULL, L"Can't show graph", HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT));
    EXPECT_EQ(box.text.find(L'%'), std::wstring::npos) << Narrow(box.text);
    if (badExe.find(L"%1") != std::wstring::npos) {
        const std::wstring tail = badExe.substr(badExe.find(L"%1") + 2);
        EXPECT_NE(box.text.find(tail.substr(0, tail.find_last_not_of(L"\r\n") + 1)), std::wstring::npos)
            << Narrow(box.text);
    }

    // A facility-4 code nobody knows: the sentence and the code line, no bare number line.
    const HRESULT unknownItf = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x7FF0);
    box = Show(NULL, L"x", unknownItf);
    const std::wstring systemText = SystemText(unknownItf);
    EXPECT_EQ(box.text, systemText.empty() ? L"x\nError 0x80047FF0" : L"x\n" + systemText + L"\nError 0x80047FF0");
}

TEST(ShowMessageBox, LongSentenceIsCutAt1023CharactersAndNothingFollows) {
    std::wstring longText(1500, L'a');
    CaughtMessageBox box = Show(NULL, longText.c_str(), E_FAIL);
    EXPECT_EQ(box.text, std::wstring(1023, L'a'));

    // 1022 characters leave room for the line feed only.
    std::wstring almost(1022, L'b');
    box = Show(NULL, almost.c_str(), E_FAIL);
    EXPECT_EQ(box.text, almost + L"\n");
}

TEST(ShowMessageBox, CallerTypeIsKeptAndZeroBecomesTheErrorIcon) {
    CaughtMessageBox box = Show(NULL, L"x", E_FAIL, MB_ICONWARNING | MB_OK);
    EXPECT_EQ(box.hIcon, ::LoadIconW(NULL, IDI_WARNING));
    box = Show(NULL, L"x", 0, MB_ICONINFORMATION);
    EXPECT_EQ(box.hIcon, ::LoadIconW(NULL, IDI_INFORMATION));
}

TEST(ShowMessageBox, StaleOwnerFallsBackToTheActiveWindow) {
    HWND hWndActive = ::CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                        200, 100, NULL, NULL, NULL, NULL);
    ASSERT_TRUE(hWndActive);
    ::SetActiveWindow(hWndActive);
    HWND hWndStale = ::CreateWindowExW(0, L"STATIC", L"gone", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, NULL,
                                       NULL, NULL, NULL);
    ::DestroyWindow(hWndStale);
    ASSERT_EQ(::GetActiveWindow(), hWndActive);

    CaughtMessageBox box = Show(hWndStale, L"x", E_FAIL);
    EXPECT_EQ(box.hWndOwner, hWndActive);

    box = Show(hWndActive, L"x", 0);
    EXPECT_EQ(box.hWndOwner, hWndActive);
    ::DestroyWindow(hWndActive);
}
