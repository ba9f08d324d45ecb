// The encoder settings in one call (with the Baseline rule), the identity text, and the
// dialog's read-back of every setting.
#include <gtest/gtest.h>

#include "dialog/MainDialog.h"
#include "tests/support/fakes/FakeGraph.h"
#include "tests/support/DiagCapture.h"

namespace {

CComPtr<FakeEncoder> NewEncoder() {
    CComPtr<FakeEncoder> sp = FakeEncoder::Create();
    sp->values.name = L"Vireon H.264 Encoder";
    sp->values.number = L"2.4.1";
    sp->values.dateTime = L"Mar 3 2026 10:20:30";
    return sp;
}

EncodingProps Props(UINT nProfile, UINT nLevel, UINT nBFrames, int bCavlc) {
    EncodingProps props = {};
    props.nProfile = nProfile;
    props.nLevel = nLevel;
    props.nSpeedQuality = 5;
    props.eRateControl = 1;
    props.nBitrate = 6000;
    props.nGopSize = 50;
    props.bExactGop = 1;
    props.nIdrInterval = 3;
    props.nBFrames = nBFrames;
    props.bCavlc = bCavlc;
    props.bPassThroughTimeStamps = 1;
    return props;
}

}  // namespace

TEST(SetEncodingProps, SendsTheFieldsInOrder) {
    CComPtr<FakeEncoder> spEncoder = NewEncoder();
    FakeEncoder& encoder = *spEncoder;
    CGraph graph;
    graph.m_spVireon = static_cast<IVireon*>(spEncoder.p);
    EncodingProps props = Props(100, 41, 3, 0);
    EXPECT_EQ(graph.SetEncodingProps(&props), S_OK);
    const std::vector<std::string> expected = {
        "SetProfileLevel(100,41)", "SetSpeedQuality(5)", "SetRateControl(1)", "SetBitrate(6000)",
        "SetGop(50,1)", "SetIdrInterval(3)", "SetBFrames(3)", "SetCavlc(0)", "SetPassThroughTimeStamps(1)"};
    EXPECT_EQ(encoder.calls, expected);
    graph.Release();
}

TEST(SetEncodingProps, BaselineSendsAutomaticLevelNoBFramesAndCavlc) {
    CComPtr<FakeEncoder> spEncoder = NewEncoder();
    FakeEncoder& encoder = *spEncoder;
    CGraph graph;
    graph.m_spVireon = static_cast<IVireon*>(spEncoder.p);
    EncodingProps props = Props(66, 41, 2, 0);
    EXPECT_EQ(graph.SetEncodingProps(&props), S_OK);
    EXPECT_EQ(encoder.calls.front(), "SetProfileLevel(66,0)");
    EXPECT_EQ(encoder.calls[6], "SetBFrames(0)");
    EXPECT_EQ(encoder.calls[7], "SetCavlc(1)");
    // The caller's record shows what was sent.
    EXPECT_EQ(props.nLevel, 0u);
    EXPECT_EQ(props.nBFrames, 0u);
    EXPECT_EQ(props.bCavlc, 1);
    graph.Release();
}

TEST(SetEncodingProps, StopsAtTheFirstSetterThatIsNotOk) {
    struct Case {
        const char* setter;
        HRESULT hr;
        size_t nCalls;
    };
    const Case cases[] = {
        {"SetProfileLevel", E_INVALIDARG, 1},
        {"SetBitrate", S_FALSE, 4},
        {"SetBFrames", E_FAIL, 7},
        {"SetPassThroughTimeStamps", S_FALSE, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setter);
        CComPtr<FakeEncoder> spEncoder = NewEncoder();
    FakeEncoder& encoder = *spEncoder;
        encoder.results[c.setter] = c.hr;
        CGraph graph;
        graph.m_spVireon = static_cast<IVireon*>(spEncoder.p);
        EncodingProps props = Props(77, 30, 1, 1);
        EXPECT_EQ(graph.SetEncodingProps(&props), c.hr);
        EXPECT_EQ(encoder.calls.size(), c.nCalls);
        EXPECT_EQ(encoder.calls.back().compare(0, strlen(c.setter), c.setter), 0);
        graph.Release();
    }
}

TEST(SetEncodingProps, WithoutRecordOrEncoder) {
    CGraph graph;
    DiagCapture diag;
    EXPECT_EQ(graph.SetEncodingProps(nullptr), E_INVALIDARG);
    EXPECT_TRUE(diag.HasReport(L"pProps != 0")) << diag.Dump();
    EncodingProps props = Props(66, 41, 2, 0);
    EXPECT_EQ(graph.SetEncodingProps(&props), E_FAIL);
    EXPECT_EQ(props.nLevel, 41u);  // nothing applied, nothing overwritten
}

TEST(GetEncoderInfo, ComposesTheIdentityText) {
    struct Case {
        int eType, eOS;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {MRV264E_Type_Release, MRV264E_OS_64, L"Vireon H.264 Encoder [R64 v.2.4.1 Mar 3 2026 10:20:30]"},
        {MRV264E_Type_Debug, MRV264E_OS_32, L"Vireon H.264 Encoder [D32 v.2.4.1 Mar 3 2026 10:20:30]"},
        {7, 0, L"Vireon H.264 Encoder [R32 v.2.4.1 Mar 3 2026 10:20:30]"},
    };
    for (const Case& c : cases) {
        CComPtr<FakeEncoder> spEncoder = NewEncoder();
    FakeEncoder& encoder = *spEncoder;
        encoder.values.eType = c.eType;
        encoder.values.eOS = c.eOS;
        CGraph graph;
        graph.m_spVireon = static_cast<IVireon*>(spEncoder.p);
        CComBSTR text(L"old");
        EXPECT_EQ(graph.GetEncoderInfo(text), S_OK);
        EXPECT_STREQ(text.m_str, c.expected);
        graph.Release();
    }
}

TEST(GetEncoderInfo, FailingPartsCountAsEmptyAndAreReported) {
    CComPtr<FakeEncoder> spEncoder = NewEncoder();
    FakeEncoder& encoder = *spEncoder;
    encoder.values.eType = MRV264E_Type_Release;
    encoder.results["GetType"] = E_FAIL;
    encoder.results["GetNumber"] = E_FAIL;
    CGraph graph;
    graph.m_spVireon = static_cast<IVireon*>(spEncoder.p);
    DiagCapture diag;
    CComBSTR text;
    EXPECT_EQ(graph.GetEncoderInfo(text), S_OK);
    EXPECT_STREQ(text.m_str, L"Vireon H.264 Encoder [D64 v. Mar 3 2026 10:20:30]");
    EXPECT_EQ(diag.Reports().size(), 2u) << diag.Dump();
    graph.Release();
}

TEST(GetEncoderInfo, LongTextsAreKeptWhole) {
    CComPtr<FakeEncoder> spEncoder = NewEncoder();
    FakeEncoder& encoder = *spEncoder;
    encoder.values.name = std::wstring(700, L'N');
    CGraph graph;
    graph.m_spVireon = static_cast<IVireon*>(spEncoder.p);
    CComBSTR text;
    EXPECT_EQ(graph.GetEncoderInfo(text), S_OK);
    EXPECT_EQ(std::wstring(text.m_str), encoder.values.name + L" [R64 v.2.4.1 Mar 3 2026 10:20:30]");
    graph.Release();
}

TEST(GetEncoderInfo, WithoutEncoderOrVersionInterface) {
    CGraph graph;
    CComBSTR text(L"old");
    EXPECT_EQ(graph.GetEncoderInfo(text), S_FALSE);
    EXPECT_EQ(text.m_str, nullptr);

    CComPtr<FakeEncoder> spEncoder = NewEncoder();
    FakeEncoder& encoder = *spEncoder;
    encoder.hasVersion = false;
    graph.m_spVireon = static_cast<IVireon*>(spEncoder.p);
    DiagCapture diag;
    text = L"old";
    EXPECT_TRUE(FAILED(graph.GetEncoderInfo(text)));
    EXPECT_EQ(text.m_str, nullptr);
    EXPECT_TRUE(diag.HasReport(L"spVersion != 0")) << diag.Dump();
    graph.Release();
}

TEST(ReadEncoderSettings, ReadsEverySettingInOrder) {
    CComPtr<FakeEncoder> spEncoder = NewEncoder();
    FakeEncoder& encoder = *spEncoder;
    encoder.values.eEncType = MRV264E_Enc_Hard;
    encoder.values.eEncUsed = MRV264E_Enc_Hard;
    encoder.values.ePreset = 3;
    encoder.values.nProfile = 77;
    encoder.values.nLevel = 9;
    encoder.values.nProfileUsed = 77;
    encoder.values.nLevelUsed = 31;
    encoder.values.nSpeedQuality = 6;
    encoder.values.eRateControl = 1;
    encoder.values.nBitrate = 1500;
    encoder.values.nBitrateUsed = 1400;
    encoder.values.nGopSize = 60;
    encoder.values.bExactGop = 1;
    encoder.values.nGopSizeUsed = 61;
    encoder.values.nIdrInterval = 4;
    encoder.values.nIdrIntervalUsed = 5;
    encoder.values.nBFrames = 3;
    encoder.values.nBFramesUsed = 1;
    encoder.values.bCavlc = 1;
    CMainDialog dlg;
    dlg.m_graph.m_spGraph = static_cast<IGraphBuilder*>(FakeGraph::Create().p);
    ASSERT_TRUE(dlg.m_graph);
    dlg.m_graph.m_spVireon = static_cast<IVireon*>(spEncoder.p);
    DiagCapture diag;
    dlg.ReadEncoderSettings();
    EXPECT_TRUE(diag.Reports().empty()) << diag.Dump();
    const std::vector<std::string> order = {"GetEncoderType", "GetPreset", "GetProfileLevel", "GetSpeedQuality",
                                            "GetRateControl", "GetBitrate", "GetGop", "GetIdrInterval",
                                            "GetBFrames", "GetCavlc"};
    EXPECT_EQ(encoder.calls, order);
    EXPECT_EQ(dlg.m_eEncType, 3);
    EXPECT_EQ(dlg.m_eEncUsed, 3);
    EXPECT_EQ(dlg.m_ePreset, 3);
    EXPECT_EQ(dlg.m_nProfile, 77u);
    EXPECT_EQ(dlg.m_nLevel, 9u);
    EXPECT_EQ(dlg.m_nProfileUsed, 77u);
    EXPECT_EQ(dlg.m_nLevelUsed, 31u);
    EXPECT_EQ(dlg.m_nSpeedQuality, 6u);
    EXPECT_EQ(dlg.m_eRateControl, 1);
    EXPECT_EQ(dlg.m_nBitrate, 1500u);
    EXPECT_EQ(dlg.m_nBitrateUsed, 1400u);
    EXPECT_EQ(dlg.m_nGopSize, 60u);
    EXPECT_EQ(dlg.m_bExactGop, 1);
    EXPECT_EQ(dlg.m_nGopSizeUsed, 61u);
    EXPECT_EQ(dlg.m_nIdrInterval, 4u);
    EXPECT_EQ(dlg.m_nIdrIntervalUsed, 5u);
    EXPECT_EQ(dlg.m_nBFrames, 3u);
    EXPECT_EQ(dlg.m_nBFramesUsed, 1u);
    EXPECT_EQ(dlg.m_bCavlc, 1);
    dlg.m_graph.Release();
}

TEST(ReadEncoderSettings, FailingGettersLeaveInitialValuesAndAreReported) {
    CComPtr<FakeEncoder> spEncoder = NewEncoder();
    FakeEncoder& encoder = *spEncoder;
    encoder.values.nSpeedQuality = 7;
    encoder.values.nBFrames = 5;
    encoder.values.nBFramesUsed = 5;
    encoder.results["GetSpeedQuality"] = E_FAIL;
    encoder.results["GetBFrames"] = E_UNEXPECTED;
    CMainDialog dlg;
    dlg.m_nSpeedQuality = 1;
    dlg.m_nBFrames = 9;
    dlg.m_graph.m_spGraph = static_cast<IGraphBuilder*>(FakeGraph::Create().p);
    dlg.m_graph.m_spVireon = static_cast<IVireon*>(spEncoder.p);
    DiagCapture diag;
    dlg.ReadEncoderSettings();
    EXPECT_EQ(dlg.m_nSpeedQuality, 4u);
    EXPECT_EQ(dlg.m_nBFrames, 2u);
    EXPECT_EQ(dlg.m_nBFramesUsed, 2u);
    EXPECT_EQ(diag.Reports().size(), 2u) << diag.Dump();
    EXPECT_EQ(encoder.calls.size(), 10u);  // the read-back goes on after each failure
    EXPECT_EQ(dlg.m_bCavlc, encoder.values.bCavlc);
    dlg.m_graph.Release();
}

TEST(ReadEncoderSettings, WithoutGraphEverythingIsInitial) {
    CMainDialog dlg;
    dlg.m_nBitrate = 77;
    dlg.m_eEncType = 2;
    DiagCapture diag;
    dlg.ReadEncoderSettings();
    EXPECT_TRUE(diag.HasReport(L"m_graph != 0")) << diag.Dump();
    EXPECT_EQ(dlg.m_nBitrate, 0u);
    EXPECT_EQ(dlg.m_eEncType, 0);
    EXPECT_EQ(dlg.m_nSpeedQuality, 4u);
    EXPECT_EQ(diag.Reports().size(), 11u);  // "m_graph != 0" and one per failed getter
}
