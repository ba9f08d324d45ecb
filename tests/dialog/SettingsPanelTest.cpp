// The encoder settings panel: what PutSettings shows, what the tester's changes do to the
// settings, and the guard against the dialog's own writes.
#include <gtest/gtest.h>

#include "tests/dialog/DialogKit.h"
#include "tests/support/DiagCapture.h"
#include "tests/support/WindowTools.h"

namespace {

const std::vector<std::wstring> kProfileNames = {L"Auto", L"Baseline", L"Main", L"High"};
const std::vector<UINT> kProfileValues = {0, 66, 77, 100};
const std::vector<std::wstring> kLevelNames = {L"Auto", L"1",   L"1b", L"1.1", L"1.2", L"1.3",
                                               L"2",    L"2.1", L"2.2", L"3",  L"3.1", L"3.2",
                                               L"4",    L"4.1", L"4.2", L"5",  L"5.1"};
const std::vector<UINT> kLevelValues = {0, 10, 9, 11, 12, 13, 20, 21, 22, 30, 31, 32, 40, 41, 42, 50, 51};

}  // namespace

TEST(SettingsPanel, ShowsWhatTheEncoderReports) {
    FakeEncoder encoder;
    encoder.s.eEncType = MRV264E_Enc_Soft;
    encoder.s.eEncUsed = MRV264E_Enc_Soft;
    encoder.s.ePreset = 2;
    encoder.s.nProfile = 77;
    encoder.s.nProfileUsed = 77;
    encoder.s.nLevel = 9;
    encoder.s.nLevelUsed = 41;
    encoder.s.nSpeedQuality = 1;
    encoder.s.eRateControl = 1;
    encoder.s.nBitrate = 2500;
    encoder.s.nBitrateUsed = 2400;
    encoder.s.nGopSize = 48;
    encoder.s.nGopSizeUsed = 50;
    encoder.s.bExactGop = 1;
    encoder.s.nIdrInterval = 2;
    encoder.s.nIdrIntervalUsed = 3;
    encoder.s.nBFrames = 1;
    encoder.s.nBFramesUsed = 0;
    encoder.s.bCavlc = 1;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        StandUpGraph(dlg, encoder);
        EXPECT_EQ(Items(hDlg, 209), (std::vector<std::wstring>{L"Any", L"Soft", L"Hard"}));
        EXPECT_EQ(Selection(hDlg, 209), 1);
        EXPECT_EQ(ItemText(hDlg, 247), L"Software encoder is used");
        EXPECT_EQ(Items(hDlg, 208),
                  (std::vector<std::wstring>{L"Balanced", L"Best Quality", L"Fast", L"Low Latency", L"Custom"}));
        EXPECT_EQ(Selection(hDlg, 208), 2);
        EXPECT_EQ(Items(hDlg, 228), kProfileNames);
        EXPECT_EQ(ItemData(hDlg, 228), kProfileValues);
        EXPECT_EQ(Selection(hDlg, 228), 2);
        EXPECT_EQ(ItemText(hDlg, 229), L" Main");
        EXPECT_EQ(Items(hDlg, 234), kLevelNames);
        EXPECT_EQ(ItemData(hDlg, 234), kLevelValues);
        EXPECT_EQ(Selection(hDlg, 234), 2);  // 1b
        EXPECT_EQ(ItemText(hDlg, 235), L" 4.1");
        EXPECT_EQ(::SendDlgItemMessageW(hDlg, 222, TBM_GETPOS, 0, 0), 1);
        EXPECT_EQ(::SendDlgItemMessageW(hDlg, 222, TBM_GETRANGEMIN, 0, 0), 1);
        EXPECT_EQ(::SendDlgItemMessageW(hDlg, 222, TBM_GETRANGEMAX, 0, 0), 7);
        EXPECT_EQ(::SendDlgItemMessageW(hDlg, 222, TBM_GETPAGESIZE, 0, 0), 1);
        EXPECT_EQ(ItemText(hDlg, 220), L" 7");
        EXPECT_EQ(ItemText(hDlg, 221), L" 1");
        EXPECT_EQ(Items(hDlg, 223), (std::vector<std::wstring>{L"Constant bitrate", L"Variable bitrate"}));
        EXPECT_EQ(Selection(hDlg, 223), 1);
        EXPECT_EQ(ItemText(hDlg, 225), L"2500");
        EXPECT_EQ(ItemText(hDlg, 244), L" 2400");
        EXPECT_EQ(ItemText(hDlg, 224), L" 0");
        EXPECT_EQ(ItemText(hDlg, 227), L" 0");
        EXPECT_EQ(ItemText(hDlg, 239), L"48");
        EXPECT_EQ(ItemText(hDlg, 241), L" 50");
        EXPECT_TRUE(Checked(hDlg, 243));
        EXPECT_EQ(ItemText(hDlg, 230), L"2");
        EXPECT_EQ(ItemText(hDlg, 232), L" 3");
        EXPECT_EQ(ItemText(hDlg, 236), L"1");
        EXPECT_EQ(ItemText(hDlg, 238), L" 0");
        EXPECT_TRUE(Checked(hDlg, 242));
        EXPECT_TRUE(dlg.m_bControlsReady);
    });
}

TEST(SettingsPanel, SpinRanges) {
    FakeEncoder encoder;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        StandUpGraph(dlg, encoder);
        struct Case {
            int id;
            int lo, hi;
        };
        for (const Case& c : {Case{226, 1, 288000}, Case{240, 0, 32767}, Case{231, 0, 2147483647}, Case{237, 0, 31}}) {
            int lo = -5, hi = -5;
            ::SendDlgItemMessageW(hDlg, c.id, UDM_GETRANGE32, (WPARAM)&lo, (LPARAM)&hi);
            EXPECT_EQ(lo, c.lo) << c.id;
            EXPECT_EQ(hi, c.hi) << c.id;
        }
        // The arrows stop at the top of the range and write into the edit.
        Type(hDlg, 236, L"30");
        SpinUp(hDlg, 237);
        EXPECT_EQ(ItemText(hDlg, 236), L"31");
        EXPECT_EQ(dlg.m_nBFrames, 31u);
        SpinUp(hDlg, 237);
        EXPECT_EQ(ItemText(hDlg, 236), L"31");
    });
}

TEST(SettingsPanel, UnknownValues) {
    FakeEncoder encoder;
    encoder.s.nProfile = 55;      // requested, in no row
    encoder.s.nProfileUsed = 44;  // used, in no row
    encoder.s.nLevel = 52;
    encoder.s.nLevelUsed = 8;
    encoder.s.eEncType = 0;
    encoder.s.eEncUsed = MRV264E_Enc_Unknown;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        DiagCapture diag;
        StandUpGraph(dlg, encoder);
        EXPECT_EQ(Selection(hDlg, 228), CB_ERR);
        EXPECT_EQ(ItemText(hDlg, 229), L" ???");
        EXPECT_EQ(Selection(hDlg, 234), CB_ERR);
        EXPECT_EQ(ItemText(hDlg, 235), L" ???");
        EXPECT_EQ(Selection(hDlg, 209), CB_ERR);
        EXPECT_EQ(ItemText(hDlg, 247), L"Encoder is not created");
        EXPECT_FALSE(diag.HasReport(L"m_eEncUsed == MRV264E_Enc_Unknown")) << diag.Dump();
    });
}

TEST(SettingsPanel, EncoderUsedOutOfRange) {
    for (int eUsed : {1, 4, -1}) {
        FakeEncoder encoder;
        encoder.s.eEncUsed = eUsed;
        CMainDialog dlg;
        RunModal(dlg, [&](HWND hDlg) {
            DiagCapture diag;
            StandUpGraph(dlg, encoder);
            EXPECT_EQ(ItemText(hDlg, 247), L"Encoder is not created");
            EXPECT_TRUE(diag.HasReport(L"m_eEncUsed == MRV264E_Enc_Unknown")) << eUsed << diag.Dump();
        });
    }
}

TEST(SettingsPanel, TesterChangesReachTheMembersOnly) {
    FakeEncoder encoder;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        StandUpGraph(dlg, encoder);
        encoder.ClearCalls();

        Choose(hDlg, 228, 1);
        EXPECT_EQ(dlg.m_nProfile, 66u);
        Choose(hDlg, 234, 2);
        EXPECT_EQ(dlg.m_nLevel, 9u);
        Choose(hDlg, 223, 1);
        EXPECT_EQ(dlg.m_eRateControl, 1);

        Type(hDlg, 225, L"12000");
        EXPECT_EQ(dlg.m_nBitrate, 12000u);
        Type(hDlg, 239, L"120");
        EXPECT_EQ(dlg.m_nGopSize, 120u);
        Type(hDlg, 230, L"7");
        EXPECT_EQ(dlg.m_nIdrInterval, 7u);
        Type(hDlg, 236, L"-3");
        EXPECT_EQ(dlg.m_nBFrames, (UINT)-3);
        Type(hDlg, 236, L"abc");  // not a number: unchanged
        EXPECT_EQ(dlg.m_nBFrames, (UINT)-3);
        Type(hDlg, 239, L"");
        EXPECT_EQ(dlg.m_nGopSize, 120u);

        Click(hDlg, 243);
        EXPECT_EQ(dlg.m_bExactGop, 1);
        Click(hDlg, 242);
        EXPECT_EQ(dlg.m_bCavlc, 1);
        Click(hDlg, 242);
        EXPECT_EQ(dlg.m_bCavlc, 0);
        Click(hDlg, 245);
        EXPECT_EQ(dlg.m_bPassThroughTimeStamps, 1);

        DragTrackbar(hDlg, 222, 1);
        EXPECT_EQ(dlg.m_nSpeedQuality, 1u);
        EXPECT_EQ(ItemText(hDlg, 220), L" 7");
        EXPECT_EQ(ItemText(hDlg, 221), L" 1");
        DragTrackbar(hDlg, 222, 6);
        EXPECT_EQ(ItemText(hDlg, 220), L" 2");
        EXPECT_EQ(ItemText(hDlg, 221), L" 6");
        // A keyboard step: the position comes from the trackbar itself.
        ::SendDlgItemMessageW(hDlg, 222, TBM_SETPOS, TRUE, 3);
        ::SendMessageW(hDlg, WM_HSCROLL, MAKEWPARAM(TB_LINEUP, 0), (LPARAM)::GetDlgItem(hDlg, 222));
        EXPECT_EQ(dlg.m_nSpeedQuality, 3u);

        EXPECT_TRUE(encoder.calls.empty()) << encoder.calls.front();
    });
}

TEST(SettingsPanel, TheDialogsOwnWritesAreIgnored) {
    FakeEncoder encoder;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        StandUpGraph(dlg, encoder);
        dlg.m_bControlsReady = false;
        Type(hDlg, 225, L"999");
        Type(hDlg, 239, L"999");
        Type(hDlg, 230, L"999");
        Type(hDlg, 236, L"9");
        Choose(hDlg, 228, 3);
        Choose(hDlg, 234, 5);
        Choose(hDlg, 223, 1);
        Choose(hDlg, 208, 4);
        Choose(hDlg, 209, 2);
        Click(hDlg, 243);
        Click(hDlg, 242);
        Click(hDlg, 245);
        DragTrackbar(hDlg, 222, 7);
        EXPECT_EQ(dlg.m_nBitrate, 4000u);
        EXPECT_EQ(dlg.m_nGopSize, 0u);
        EXPECT_EQ(dlg.m_nIdrInterval, 0u);
        EXPECT_EQ(dlg.m_nBFrames, 2u);
        EXPECT_EQ(dlg.m_nProfile, 0u);
        EXPECT_EQ(dlg.m_nLevel, 0u);
        EXPECT_EQ(dlg.m_eRateControl, 0);
        EXPECT_EQ(dlg.m_ePreset, 0);
        EXPECT_EQ(dlg.m_bExactGop, 0);
        EXPECT_EQ(dlg.m_bCavlc, 0);
        EXPECT_EQ(dlg.m_bPassThroughTimeStamps, 0);
        EXPECT_EQ(dlg.m_nSpeedQuality, 4u);
        EXPECT_TRUE(encoder.Setters().empty());
        dlg.m_bControlsReady = true;

        // The panel's refresh writes every control without touching the members.
        dlg.m_nBitrate = 321;
        dlg.m_nGopSize = 11;
        dlg.PutSettings();
        EXPECT_EQ(ItemText(hDlg, 225), L"321");
        EXPECT_EQ(dlg.m_nBitrate, 321u);
        EXPECT_EQ(dlg.m_nGopSize, 11u);
        EXPECT_TRUE(dlg.m_bControlsReady);
    });
}

TEST(SettingsPanel, EncoderTypeAndPresetGoToTheEncoderAtOnce) {
    FakeEncoder encoder;
    encoder.s.eEncType = MRV264E_Enc_Any;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        MessageBoxCatcher boxes;
        StandUpGraph(dlg, encoder);
        encoder.ClearCalls();
        encoder.s.nBitrate = 777;  // the encoder changes another setting on its own

        Choose(hDlg, 209, 2);
        ASSERT_FALSE(encoder.calls.empty());
        EXPECT_EQ(encoder.calls.front(), "SetEncoderType(3)");
        EXPECT_EQ(encoder.calls.size(), 11u);  // then the whole read-back
        EXPECT_EQ(dlg.m_eEncType, 3);
        EXPECT_EQ(ItemText(hDlg, 225), L"777");

        encoder.ClearCalls();
        Choose(hDlg, 208, 4);
        EXPECT_EQ(encoder.calls.front(), "SetPreset(4)");
        EXPECT_EQ(encoder.calls.size(), 11u);
        EXPECT_EQ(dlg.m_ePreset, 4);
        EXPECT_EQ(Selection(hDlg, 208), 4);
        EXPECT_TRUE(boxes.Boxes().empty());
    });
}

TEST(SettingsPanel, RefusedEncoderTypeOrPreset) {
    FakeEncoder encoder;
    encoder.s.eEncType = MRV264E_Enc_Soft;
    encoder.results["SetEncoderType"] = E_INVALIDARG;
    encoder.results["SetPreset"] = S_FALSE;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        MessageBoxCatcher boxes;
        StandUpGraph(dlg, encoder);
        encoder.ClearCalls();

        Choose(hDlg, 209, 2);
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(boxes.Boxes()[0].text.rfind(L"Can't change encoder type", 0), 0u) << boxes.Boxes()[0].text;
        EXPECT_NE(boxes.Boxes()[0].text.find(L"0x80070057"), std::wstring::npos) << boxes.Boxes()[0].text;
        EXPECT_EQ(Selection(hDlg, 209), 1);  // back to what the member holds
        EXPECT_EQ(encoder.calls, std::vector<std::string>{"SetEncoderType(3)"});  // no read-back

        encoder.ClearCalls();
        Choose(hDlg, 208, 3);
        ASSERT_EQ(boxes.Boxes().size(), 2u);
        EXPECT_EQ(boxes.Boxes()[1].text.rfind(L"Can't change settings", 0), 0u) << boxes.Boxes()[1].text;
        EXPECT_EQ(Selection(hDlg, 208), 3);  // the new choice stays
        EXPECT_EQ(dlg.m_ePreset, 3);
        EXPECT_EQ(encoder.calls, std::vector<std::string>{"SetPreset(3)"});
    });
}

TEST(SettingsPanel, ForceKeyFrame) {
    FakeEncoder encoder;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        MessageBoxCatcher boxes;
        StandUpGraph(dlg, encoder);
        encoder.ClearCalls();
        dlg.m_bControlsReady = false;  // not guarded
        Click(hDlg, 246);
        dlg.m_bControlsReady = true;
        EXPECT_EQ(encoder.calls, std::vector<std::string>{"ForceKeyFrame"});
        EXPECT_TRUE(boxes.Boxes().empty());

        encoder.results["ForceKeyFrame"] = S_FALSE;
        Click(hDlg, 246);
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(boxes.Boxes()[0].text.rfind(L"Can't insert key frame", 0), 0u);

        // Without a graph the three encoder commands do nothing and show nothing.
        dlg.m_graph.Release();
        encoder.ClearCalls();
        ::SendMessageW(hDlg, WM_COMMAND, 246, 0);
        Choose(hDlg, 209, 0);
        Choose(hDlg, 208, 1);
        EXPECT_TRUE(encoder.calls.empty());
        EXPECT_EQ(boxes.Boxes().size(), 1u);
    });
}
