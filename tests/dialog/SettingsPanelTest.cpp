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

std::wstring BoxText(const MessageBoxCatcher& boxes, size_t i) {
    return i < boxes.Boxes().size() ? boxes.Boxes()[i].text : L"(no box)";
}

}  // namespace

TEST(SettingsPanel, ShowsWhatTheEncoderReports) {
    Bench bench;
    FakeVireonState& v = bench.spEncoder->values;
    v.eEncType = MRV264E_Enc_Soft;
    v.eEncUsed = MRV264E_Enc_Soft;
    v.ePreset = 2;
    v.nProfile = 77;
    v.nProfileUsed = 77;
    v.nLevel = 9;
    v.nLevelUsed = 41;
    v.nSpeedQuality = 1;
    v.eRateControl = 1;
    v.nBitrate = 2500;
    v.nBitrateUsed = 2400;
    v.nGopSize = 48;
    v.nGopSizeUsed = 50;
    v.bExactGop = 1;
    v.nIdrInterval = 2;
    v.nIdrIntervalUsed = 3;
    v.nBFrames = 1;
    v.nBFramesUsed = 0;
    v.bCavlc = 1;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        bench.BuildFromFile(hDlg);
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
    Bench bench;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        bench.BuildFromFile(hDlg);
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
        // The arrows write into the edit, which reaches the member, and stop at the top.
        Type(hDlg, 236, L"30");
        SpinUp(hDlg, 237);
        EXPECT_EQ(ItemText(hDlg, 236), L"31");
        EXPECT_EQ(dlg.m_nBFrames, 31u);
        SpinUp(hDlg, 237);
        EXPECT_EQ(ItemText(hDlg, 236), L"31");
        Type(hDlg, 225, L"287999");
        SpinUp(hDlg, 226);
        EXPECT_EQ(dlg.m_nBitrate, 288000u);
    });
}

TEST(SettingsPanel, UnknownValues) {
    Bench bench;
    FakeVireonState& v = bench.spEncoder->values;
    v.nProfile = 55;      // requested, in no row
    v.nProfileUsed = 44;  // used, in no row
    v.nLevel = 52;
    v.nLevelUsed = 8;
    v.eEncType = 0;
    v.eEncUsed = MRV264E_Enc_Unknown;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        DiagCapture diag;
        bench.BuildFromFile(hDlg);
        EXPECT_EQ(Selection(hDlg, 228), CB_ERR);
        EXPECT_EQ(ItemText(hDlg, 229), L" ???");
        EXPECT_EQ(Selection(hDlg, 234), CB_ERR);
        EXPECT_EQ(ItemText(hDlg, 235), L" ???");
        EXPECT_EQ(Selection(hDlg, 209), CB_ERR);
        EXPECT_EQ(ItemText(hDlg, 247), L"Encoder is not created");
        EXPECT_FALSE(diag.HasReport(L"m_eEncUsed == MRV264E_Enc_Unknown")) << diag.Dump();
    });
}

TEST(SettingsPanel, EncoderUsedTexts) {
    struct Case {
        int eUsed;
        const wchar_t* text;
        bool bDiag;
    };
    const Case cases[] = {
        {MRV264E_Enc_Hard, L"Hardware encoder is used", false},
        {MRV264E_Enc_Any, L"Encoder is not created", true},
        {4, L"Encoder is not created", true},
        {-1, L"Encoder is not created", true},
    };
    for (const Case& c : cases) {
        Bench bench;
        bench.spEncoder->values.eEncUsed = c.eUsed;
        CMainDialog dlg;
        RunModal(dlg, [&](HWND hDlg) {
            DiagCapture diag;
            bench.BuildFromFile(hDlg);
            EXPECT_EQ(ItemText(hDlg, 247), c.text);
            EXPECT_EQ(diag.HasReport(L"m_eEncUsed == MRV264E_Enc_Unknown"), c.bDiag) << c.eUsed << diag.Dump();
        });
    }
}

TEST(SettingsPanel, TesterChangesReachTheMembersOnly) {
    Bench bench;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        bench.BuildFromFile(hDlg);
        FakeEncoder& encoder = *bench.spEncoder;
        encoder.calls.clear();

        Choose(hDlg, 228, 1);
        EXPECT_EQ(dlg.m_nProfile, 66u);
        Choose(hDlg, 234, 2);
        EXPECT_EQ(dlg.m_nLevel, 9u);
        Choose(hDlg, 223, 0);
        EXPECT_EQ(dlg.m_eRateControl, 0);

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
        Click(hDlg, 242);  // the encoder reported CAVLC on
        EXPECT_EQ(dlg.m_bCavlc, 0);
        Click(hDlg, 242);
        EXPECT_EQ(dlg.m_bCavlc, 1);
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
    Bench bench;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        bench.BuildFromFile(hDlg);
        FakeEncoder& encoder = *bench.spEncoder;
        encoder.calls.clear();
        dlg.m_bControlsReady = false;
        Type(hDlg, 225, L"999");
        Type(hDlg, 239, L"999");
        Type(hDlg, 230, L"999");
        Type(hDlg, 236, L"9");
        Choose(hDlg, 228, 3);
        Choose(hDlg, 234, 5);
        Choose(hDlg, 223, 0);
        Choose(hDlg, 208, 4);
        Choose(hDlg, 209, 2);
        Click(hDlg, 243);
        Click(hDlg, 242);
        Click(hDlg, 245);
        DragTrackbar(hDlg, 222, 7);
        dlg.m_bControlsReady = true;
        EXPECT_EQ(dlg.m_nBitrate, 2000u);
        EXPECT_EQ(dlg.m_nGopSize, 25u);
        EXPECT_EQ(dlg.m_nIdrInterval, 1u);
        EXPECT_EQ(dlg.m_nBFrames, 0u);
        EXPECT_EQ(dlg.m_nProfile, 0u);
        EXPECT_EQ(dlg.m_nLevel, 0u);
        EXPECT_EQ(dlg.m_eRateControl, 1);
        EXPECT_EQ(dlg.m_ePreset, 0);
        EXPECT_EQ(dlg.m_eEncType, MRV264E_Enc_Any);
        EXPECT_EQ(dlg.m_bExactGop, 0);
        EXPECT_EQ(dlg.m_bCavlc, 1);
        EXPECT_EQ(dlg.m_bPassThroughTimeStamps, 0);
        EXPECT_EQ(dlg.m_nSpeedQuality, 4u);
        EXPECT_TRUE(encoder.calls.empty());

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
    Bench bench;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        MessageBoxCatcher boxes;
        bench.BuildFromFile(hDlg);
        FakeEncoder& encoder = *bench.spEncoder;
        encoder.calls.clear();
        encoder.values.nBitrate = 777;  // the encoder changes another setting on its own

        Choose(hDlg, 209, 2);
        ASSERT_FALSE(encoder.calls.empty());
        EXPECT_EQ(encoder.calls.front(), "SetEncoderType(3)");
        EXPECT_EQ(encoder.calls.size(), 11u);  // then the whole read-back
        EXPECT_EQ(dlg.m_eEncType, 3);
        EXPECT_EQ(ItemText(hDlg, 225), L"777");

        encoder.calls.clear();
        Choose(hDlg, 208, 4);
        ASSERT_FALSE(encoder.calls.empty());
        EXPECT_EQ(encoder.calls.front(), "SetPreset(4)");
        EXPECT_EQ(encoder.calls.size(), 11u);
        EXPECT_EQ(dlg.m_ePreset, 4);
        EXPECT_EQ(Selection(hDlg, 208), 4);
        EXPECT_TRUE(boxes.Boxes().empty());
    });
}

TEST(SettingsPanel, RefusedEncoderTypeOrPreset) {
    Bench bench;
    bench.spEncoder->values.eEncType = MRV264E_Enc_Soft;
    bench.spEncoder->results["SetEncoderType"] = E_INVALIDARG;
    bench.spEncoder->results["SetPreset"] = S_FALSE;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        bench.BuildFromFile(hDlg);
        FakeEncoder& encoder = *bench.spEncoder;
        MessageBoxCatcher boxes;
        encoder.calls.clear();

        Choose(hDlg, 209, 2);
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(BoxText(boxes, 0).rfind(L"Can't change encoder type", 0), 0u) << Narrow(BoxText(boxes, 0));
        EXPECT_NE(BoxText(boxes, 0).find(L"0x80070057"), std::wstring::npos) << Narrow(BoxText(boxes, 0));
        EXPECT_EQ(Selection(hDlg, 209), 1);  // back to what the member holds
        EXPECT_EQ(encoder.calls, std::vector<std::string>{"SetEncoderType(3)"});  // no read-back

        encoder.calls.clear();
        Choose(hDlg, 208, 3);
        ASSERT_EQ(boxes.Boxes().size(), 2u);
        EXPECT_EQ(BoxText(boxes, 1).rfind(L"Can't change settings", 0), 0u) << Narrow(BoxText(boxes, 1));
        EXPECT_EQ(Selection(hDlg, 208), 3);  // the new choice stays
        EXPECT_EQ(dlg.m_ePreset, 3);
        EXPECT_EQ(encoder.calls, std::vector<std::string>{"SetPreset(3)"});
    });
}

TEST(SettingsPanel, ForceKeyFrame) {
    Bench bench;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        bench.BuildFromFile(hDlg);
        FakeEncoder& encoder = *bench.spEncoder;
        MessageBoxCatcher boxes;
        encoder.calls.clear();
        // Enabled after the build although the graph has not been started; not guarded.
        EXPECT_TRUE(Enabled(hDlg, 246));
        dlg.m_bControlsReady = false;
        Click(hDlg, 246);
        dlg.m_bControlsReady = true;
        EXPECT_EQ(encoder.calls, std::vector<std::string>{"ForceKeyFrame"});
        EXPECT_TRUE(boxes.Boxes().empty());

        encoder.results["ForceKeyFrame"] = S_FALSE;
        Click(hDlg, 246);
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(BoxText(boxes, 0).rfind(L"Can't insert key frame", 0), 0u);

        // Without a graph the three encoder commands do nothing and show nothing.
        ::SendMessageW(hDlg, WM_COMMAND, 251, 0);  // "Test": drops the graph
        ::EnableWindow(::GetDlgItem(hDlg, 209), TRUE);
        ::EnableWindow(::GetDlgItem(hDlg, 208), TRUE);
        encoder.calls.clear();
        ::SendMessageW(hDlg, WM_COMMAND, 246, 0);
        Choose(hDlg, 209, 0);
        Choose(hDlg, 208, 1);
        EXPECT_TRUE(encoder.calls.empty());
        EXPECT_EQ(boxes.Boxes().size(), 1u);
    });
}
