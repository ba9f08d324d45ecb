// The message box: composition of the text, the icon rule and the owner rule, read back
// from the real message box.
#include <gtest/gtest.h>

#include "graph/DShow.h"
#include <vfwmsgs.h>

#include "dialog/ShowMessage.h"
#include "tests/support/WindowTools.h"

namespace {

std::wstring SystemText(HRESULT hr) {
    wchar_t sz[1024] = {};
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, (DWORD)hr,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), sz, 1023, NULL);
    return std::wstring(sz, n);
}

std::wstring DirectShowText(HRESULT hr) {
    wchar_t sz[1024] = {};
    DWORD n = AMGetErrorTextW(hr, sz, 1023);
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

TEST(ShowMessageBox, FacilityFourCodesAskDirectShowFirst) {
    // DirectShow has a text for its own codes.
    const std::wstring dsText = DirectShowText(VFW_E_NOT_CONNECTED);
    ASSERT_FALSE(dsText.empty());
    CaughtMessageBox box = Show(NULL, L"Can't play file", VFW_E_NOT_CONNECTED);
    EXPECT_EQ(box.text, L"Can't play file\n" + dsText + L"\nError 0x80040209");

    // A facility-4 code DirectShow does not know falls back to the system's text, if any.
    const HRESULT unknownItf = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x7FF0);
    std::wstring fallback = DirectShowText(unknownItf);
    if (fallback.empty()) fallback = SystemText(unknownItf);
    box = Show(NULL, L"x", unknownItf);
    EXPECT_EQ(box.text, fallback.empty() ? L"x\nError 0x80047FF0" : L"x\n" + fallback + L"\nError 0x80047FF0");
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
