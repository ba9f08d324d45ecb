// Publishing the graph in the running object table, revoking it, and recognising this
// graph's line among GraphEdit's list of graphs.
#include "tests/graphedit/GraphEditFixture.h"

#include "tests/support/DiagCapture.h"

TEST(RotName, CarriesTheLow32BitsOfTheGraphAndTheProcessIdInLowerCaseHex) {
    struct Case {
        ULONG_PTR nGraph;
        DWORD dwPid;
        const wchar_t* pszExpected;
    } cases[] = {
        {0xABCD, 1234, L"FilterGraph 0000abcd pid 000004d2"},
        {(ULONG_PTR)0x7FF612340000ABCDull, 1234, L"FilterGraph 0000abcd pid 000004d2"},
        {0xFFFFFFFF, 0xFFFFFFFF, L"FilterGraph ffffffff pid ffffffff"},
        {0, 0, L"FilterGraph 00000000 pid 00000000"},
    };
    for (const Case& c : cases) {
        wchar_t sz[64];
        CGraphEdit::FormatCookieName(sz, (const void*)c.nGraph, c.dwPid);
        EXPECT_STREQ(sz, c.pszExpected);
        EXPECT_EQ(lstrlenW(sz), 33);
    }
}

class RotRegistration : public GraphEditTest {};

TEST_F(RotRegistration, RegistersTheGraphUnderAnItemMonikerAndRevokesIt) {
    CComPtr<IGraphBuilder> spGraph = MakeTeeGraph(L"Tee");
    const std::wstring name = L"!" + CookieName(spGraph.p);
    ASSERT_FALSE(RotHas(name));

    DWORD dwCookie = 0xDEAD;
    ASSERT_EQ(CGraphEdit::AddToRot(spGraph, &dwCookie), S_OK);
    EXPECT_NE(dwCookie, 0u);
    EXPECT_NE(dwCookie, 0xDEADu);
    EXPECT_TRUE(RotHas(name));

    // The table hands out this very graph for the name.
    {
        CComPtr<IRunningObjectTable> spROT;
        CComPtr<IMoniker> spMoniker;
        CComPtr<IUnknown> spObject;
        ASSERT_EQ(::GetRunningObjectTable(0, &spROT), S_OK);
        ASSERT_EQ(::CreateItemMoniker(L"!", name.c_str() + 1, &spMoniker), S_OK);
        ASSERT_EQ(spROT->GetObject(spMoniker, &spObject), S_OK);
        EXPECT_TRUE(spObject.IsEqualObject(spGraph));
    }

    // A second registration of the same graph gets a cookie of its own.
    DWORD dwCookie2 = 0;
    EXPECT_TRUE(SUCCEEDED(CGraphEdit::AddToRot(spGraph, &dwCookie2)));
    EXPECT_NE(dwCookie2, dwCookie);
    EXPECT_TRUE(CGraphEdit::RemoveFromRot(dwCookie2));

    EXPECT_TRUE(CGraphEdit::RemoveFromRot(dwCookie));
    EXPECT_FALSE(RotHas(name));
    // Revoking again reaches the table, which no longer knows the cookie.
    EXPECT_FALSE(CGraphEdit::RemoveFromRot(dwCookie));
}

TEST_F(RotRegistration, MissingArgumentsRegisterNothing) {
    CComPtr<IGraphBuilder> spGraph = MakeTeeGraph(L"Tee");
    const size_t nBefore = RotNames().size();
    DiagCapture diag;

    DWORD dwCookie = 0x1234;
    EXPECT_EQ(CGraphEdit::AddToRot(NULL, &dwCookie), E_INVALIDARG);
    EXPECT_EQ(dwCookie, 0x1234u);
    EXPECT_TRUE(diag.HasReport(L"pGraph != NULL")) << diag.Dump();

    EXPECT_EQ(CGraphEdit::AddToRot(spGraph, NULL), E_POINTER);
    EXPECT_TRUE(diag.HasReport(L"pdwCookie != NULL")) << diag.Dump();

    EXPECT_EQ(RotNames().size(), nBefore);
    EXPECT_FALSE(RotHas(L"!" + CookieName(spGraph.p)));
}

TEST_F(RotRegistration, CookieZeroMeansNothingToRevoke) {
    CComPtr<IGraphBuilder> spGraph = MakeTeeGraph(L"Tee");
    DWORD dwCookie = 0;
    ASSERT_EQ(CGraphEdit::AddToRot(spGraph, &dwCookie), S_OK);
    const size_t nBefore = RotNames().size();
    EXPECT_TRUE(CGraphEdit::RemoveFromRot(0));
    EXPECT_EQ(RotNames().size(), nBefore);
    EXPECT_TRUE(CGraphEdit::RemoveFromRot(dwCookie));
}

TEST(RotLine, IsGraphItemRecognisesThisProcesssGraphOnly) {
    const DWORD pid = ::GetCurrentProcessId();
    // Only the low 32 bits of the address take part.
    IGraphBuilder* pGraph = (IGraphBuilder*)(ULONG_PTR)0x7FF61234'0000ABCDull;
    auto fmt = [](const wchar_t* pszFormat, DWORD n) {
        wchar_t sz[256];
        ::wsprintfW(sz, pszFormat, n);
        return std::wstring(sz);
    };
    struct Case {
        std::wstring line;
        bool bExpected;
    } cases[] = {
        {fmt(L"pid %08x (Quorlin.exe) IFilterGraph = 0000abcd", pid), true},
        {fmt(L"pid %08X (Quorlin.exe) IFilterGraph = 0000ABCD", pid), true},    // upper-case digits
        {fmt(L"pid %x IFilterGraph = abcd", pid), true},                         // no padding
        {fmt(L"pid 0x%x and so on IFilterGraph = 0xabcd", pid), true},           // "0x" prefixes
        {fmt(L"Quorlin pid %08x IFilterGraph = 0000abcd", pid), true},
        {fmt(L"pid %08x (Quorlin.exe) IFilterGraph = 0000abcd", pid + 1), false},  // another process
        {fmt(L"pid %08x(Quorlin.exe) IFilterGraph = 0000abcd", pid), false},       // no space after the id
        {fmt(L"pid %08x) IFilterGraph = 0000abcd", pid), false},
        {fmt(L"pid %08x (Quorlin.exe) IFilterGraph = 0000abcd ", pid), false},     // a space after the number
        {fmt(L"pid %08x (Quorlin.exe) IFilterGraph = 0000abcdx", pid), false},
        {fmt(L"PID %08x (Quorlin.exe) IFilterGraph = 0000abcd", pid), false},      // capitals
        {fmt(L"pid %08x (Quorlin.exe) ifiltergraph = 0000abcd", pid), false},
        {fmt(L"pid %08x (Quorlin.exe) IFilterGraph = 7ff612340000abcd", pid), false},  // the full address
        {fmt(L"pid %08x (Quorlin.exe) IFilterGraph = 0000abce", pid), false},     // another graph
        {fmt(L"pid %08x (Quorlin.exe) IFilterGraph =0000abcd", pid), false},
        {fmt(L"pid %08x (Quorlin.exe) IFilterGraph = ", pid), false},             // no number
        {fmt(L"pid %08x (Quorlin.exe)", pid), false},
        {fmt(L"pid 1 pid %08x IFilterGraph = 0000abcd", pid), false},            // the first "pid " counts
        {L"pid  IFilterGraph = 0000abcd", false},
        {L"pid ", false},
        {L"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CGraphEdit::IsGraphItem(c.line.c_str(), pGraph), c.bExpected) << Narrow(c.line);

    DiagCapture diag;
    EXPECT_FALSE(CGraphEdit::IsGraphItem(NULL, pGraph));
    EXPECT_TRUE(diag.HasReport(L"pszCookieName != NULL")) << diag.Dump();
}
