#include "tests/dialog/DialogKit.h"

#include <gtest/gtest.h>

#include "graph/DShow.h"
#include "tests/support/DiagCapture.h"
#include "tests/support/WindowTools.h"

const int kGraphGroup[6] = {207, 246, 210, 211, 212, 213};
const int kSettingsGroup[17] = {245, 208, 222, 223, 209, 225, 226, 228, 230,
                                231, 234, 236, 237, 239, 240, 242, 243};

void Click(HWND hDlg, int nID) { ::SendMessageW(::GetDlgItem(hDlg, nID), BM_CLICK, 0, 0); }

void Type(HWND hDlg, int nID, const wchar_t* pszText) {
    ::SendMessageW(::GetDlgItem(hDlg, nID), WM_SETTEXT, 0, (LPARAM)pszText);
}

void Choose(HWND hDlg, int nID, int nItem) {
    HWND hCombo = ::GetDlgItem(hDlg, nID);
    ::SendMessageW(hCombo, CB_SETCURSEL, (WPARAM)nItem, 0);
    ::SendMessageW(hDlg, WM_COMMAND, MAKEWPARAM(nID, CBN_SELCHANGE), (LPARAM)hCombo);
}

void DragTrackbar(HWND hDlg, int nID, int nPos) {
    HWND hBar = ::GetDlgItem(hDlg, nID);
    ::SendMessageW(hDlg, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, nPos), (LPARAM)hBar);
    ::SendMessageW(hBar, TBM_SETPOS, TRUE, nPos);
    ::SendMessageW(hDlg, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), (LPARAM)hBar);
}

void SpinUp(HWND hDlg, int nSpinID) {
    // The arrow keys on the buddy edit move the spin control as its arrows do.
    HWND hSpin = ::GetDlgItem(hDlg, nSpinID);
    HWND hBuddy = (HWND)::SendMessageW(hSpin, UDM_GETBUDDY, 0, 0);
    ::SendMessageW(hBuddy, WM_KEYDOWN, VK_UP, 0);
    ::SendMessageW(hBuddy, WM_KEYUP, VK_UP, 0xC0000000);
}

bool Enabled(HWND hDlg, int nID) { return ::IsWindowEnabled(::GetDlgItem(hDlg, nID)) != FALSE; }
bool Checked(HWND hDlg, int nID) { return ::IsDlgButtonChecked(hDlg, nID) == BST_CHECKED; }
int Selection(HWND hDlg, int nID) { return (int)::SendDlgItemMessageW(hDlg, nID, CB_GETCURSEL, 0, 0); }

std::vector<std::wstring> Items(HWND hDlg, int nID) {
    std::vector<std::wstring> v;
    const int n = (int)::SendDlgItemMessageW(hDlg, nID, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < n; ++i) {
        const int cch = (int)::SendDlgItemMessageW(hDlg, nID, CB_GETLBTEXTLEN, i, 0);
        std::wstring s(cch + 1, L'\0');
        ::SendDlgItemMessageW(hDlg, nID, CB_GETLBTEXT, i, (LPARAM)&s[0]);
        s.resize(cch);
        v.push_back(s);
    }
    return v;
}

std::vector<UINT> ItemData(HWND hDlg, int nID) {
    std::vector<UINT> v;
    const int n = (int)::SendDlgItemMessageW(hDlg, nID, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < n; ++i) v.push_back((UINT)::SendDlgItemMessageW(hDlg, nID, CB_GETITEMDATA, i, 0));
    return v;
}

int ProgressPos(HWND hDlg) { return (int)::SendDlgItemMessageW(hDlg, 210, PBM_GETPOS, 0, 0); }

int GroupState(HWND hDlg, const int* pIDs, int cIDs) {
    int nOn = 0;
    for (int i = 0; i < cIDs; ++i) nOn += Enabled(hDlg, pIDs[i]) ? 1 : 0;
    return nOn == cIDs ? 1 : nOn == 0 ? 0 : -1;
}

namespace {

CComPtr<FakeFilter> CreateSmartTee() {
    CComPtr<FakeFilter> sp = FakeFilter::Create(L"", CLSID_SmartTee);
    sp->AddPin(L"Input", PINDIR_INPUT);
    sp->AddPin(L"Capture", PINDIR_OUTPUT, {H264Type()});
    sp->AddPin(L"Preview", PINDIR_OUTPUT, {H264Type()});
    return sp;
}

}  // namespace

Bench::Bench() : spEncoder(FakeEncoder::Create()), spDevices(FakeDeviceEnum::Create()) {
    CallLog().Clear();
    spDevices->AddDevice(L"USB Camera", CreateFakeCaptureFilter());
    auto add = [this](ClassRegistration* p) { m_registrations.emplace_back(p); };
    add(new ClassRegistration(CLSID_FilterGraph, [this]() {
        spGraph = FakeGraph::Create();
        ++cGraphs;
        FakeGraph* pGraph = spGraph;
        spGraph->onRenderFile = [pGraph](LPCWSTR) {
            AddPlaybackChain(pGraph, false);
            return S_OK;
        };
        if (setUpGraph) setUpGraph(spGraph);
        return CComPtr<IUnknown>(static_cast<IGraphBuilder*>(spGraph.p));
    }));
    add(new ClassRegistration(CLSID_SystemDeviceEnum, static_cast<ICreateDevEnum*>(spDevices.p)));
    add(new ClassRegistration(CLSID_VireonEncoder, [this]() {
        CComPtr<FakeEncoder> spNew = FakeEncoder::Create();
        spNew->values = spEncoder->values;
        spNew->results = spEncoder->results;
        spNew->hasVersion = spEncoder->hasVersion;
        spEncoder = spNew;
        return CComPtr<IUnknown>(static_cast<IBaseFilter*>(spEncoder.p));
    }));
    add(new ClassRegistration(CLSID_VireonMp4Writer, [this]() {
        spWriter = FakeWriter::Create();
        return CComPtr<IUnknown>(static_cast<IBaseFilter*>(spWriter.p));
    }));
    add(new ClassRegistration(CLSID_VireonDecoder,
                              []() { return CComPtr<IUnknown>(static_cast<IBaseFilter*>(CreateFakeDecoder().p)); }));
    add(new ClassRegistration(CLSID_VireonDecoderAlt, REGDB_E_CLASSNOTREG));
    add(new ClassRegistration(CLSID_SmartTee,
                              []() { return CComPtr<IUnknown>(static_cast<IBaseFilter*>(CreateSmartTee().p)); }));
}

Bench::~Bench() { CallLog().Clear(); }

void Bench::Build(HWND hDlg) { Click(hDlg, IDC_BUILD_GRAPH); }

void Bench::BuildFromFile(HWND hDlg) {
    if (::IsDlgButtonChecked(hDlg, IDC_SOURCE_LIVE) == BST_CHECKED) Click(hDlg, IDC_SOURCE_FILE);
    Type(hDlg, IDC_SOURCE_PATH, L"C:\\clips\\clip.avi");
    MessageBoxCatcher boxes;
    Build(hDlg);
    for (const CaughtMessageBox& box : boxes.Boxes()) ADD_FAILURE() << "build: " << Narrow(box.text);
}

std::vector<std::string> Setters(const FakeEncoder& encoder) {
    std::vector<std::string> v;
    for (const auto& c : encoder.calls)
        if (c.compare(0, 3, "Set") == 0) v.push_back(c);
    return v;
}

int GraphState(CMainDialog& dlg) { return dlg.m_graph.GetState(); }

bool TimerRunning(HWND hWnd, UINT_PTR nID, UINT uPeriod) {
    if (!::KillTimer(hWnd, nID)) return false;
    ::SetTimer(hWnd, nID, uPeriod, NULL);
    return true;
}
