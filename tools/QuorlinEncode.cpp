// quorlin-encode: runs one encoding test the way the bench dialog does, without a window on
// screen, and prints one JSON record of what happened.
//
//   quorlin-encode.exe <source> <output file> [<setting>=<value> ...] [timeout=<seconds>]
//
// The source is a media file or a saved .grf graph. The graph is built by CGraph as the
// dialog's "Build graph" builds it (file source, output file, no preview); the settings are
// applied as the dialog applies them: encoder type and preset at once, the others together
// through SetEncodingProps when the graph starts, each followed by the read-back. Renderers
// left in the graph (the sound of a media file, the video window of a saved graph) and the
// reference clock are taken out, so the graph runs as fast as the encoder can go.
//
// Settings (names as below; values are numbers or the dialog's texts):
//   encoder_type  1..3 or Any, Soft, Hard          preset   0..4 or Balanced, "Best Quality", ...
//   profile       0, 66, 77, 100 or Auto, Baseline, Main, High
//   level         Auto, 1, 1b, 1.1 ... 5.1 or a level_idc (9..51)
//   speed_quality 1..7   rate_control 0, 1 or cbr, vbr, "Constant bitrate", "Variable bitrate"
//   bitrate (Kbps), gop, exact_gop, idr_interval, b_frames, cavlc, pass_through_timestamps
//   threads       0 (one per processor) or a number: set on the encoder itself before "Play"
//
// The record times the whole run (wall_s, cpu_s) and the streaming alone, from "Play" to the end
// of the stream (run_wall_s, run_cpu_s), with that CPU time thread by thread, the busiest first
// (run_thread_cpu_s: the streaming thread the encoder codes on, the encoder's own threads, the
// platform's parser threads).
//
// Exit status: 0 the graph ran to its end; 1 it failed (the record says why); 2 bad usage.
#include <windows.h>

#include "graph/DShow.h"
#include "graph/Graph.h"
#include "platform/ErrorText.h"

#include <atlbase.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include <tlhelp32.h>

namespace {

// ---------------------------------------------------------------------------------------
// JSON output.

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return std::string();
    int cb = ::WideCharToMultiByte(CP_UTF8, 0, w.c_str(), (int)w.size(), NULL, 0, NULL, NULL);
    std::string s(cb, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, w.c_str(), (int)w.size(), &s[0], cb, NULL, NULL);
    return s;
}

std::string Quote(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof(buf), "\\u%04x", c);
            out += buf;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

std::string Quote(const std::wstring& w) { return Quote(Utf8(w)); }

std::string Hex(HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof(buf), "0x%08lX", (unsigned long)hr);
    return buf;
}

// A JSON object written member by member.
class JsonObject {
public:
    JsonObject& Raw(const char* key, const std::string& value) {
        m_text += (m_text.empty() ? "{" : ", ") + Quote(std::string(key)) + ": " + value;
        return *this;
    }
    JsonObject& Str(const char* key, const std::wstring& value) { return Raw(key, Quote(value)); }
    JsonObject& Str(const char* key, const std::string& value) { return Raw(key, Quote(value)); }
    JsonObject& Int(const char* key, long long value) { return Raw(key, std::to_string(value)); }
    JsonObject& Num(const char* key, double value) {
        char buf[40];
        std::snprintf(buf, sizeof(buf), "%.6g", value);
        return Raw(key, buf);
    }
    JsonObject& Bool(const char* key, bool value) { return Raw(key, value ? "true" : "false"); }
    std::string Text() const { return m_text.empty() ? "{}" : m_text + "}"; }

private:
    std::string m_text;
};

std::string Array(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + items[i];
    return out + "]";
}

// ---------------------------------------------------------------------------------------
// The text of a result code, as the bench's message box words it: DirectShow's (or this
// program's, where the platform has none) for interface codes, else the system's.

std::wstring SystemText(HRESULT hr) {
    WCHAR str[1024] = {};
    DWORD cch = 0;
    if (HRESULT_FACILITY(hr) == FACILITY_ITF) cch = GetDirectShowErrorText(hr, str, 1024);
    if (cch == 0) cch = GetSystemErrorText(hr, str, 1024);
    std::wstring text(str, cch);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
    return text;
}

// ---------------------------------------------------------------------------------------
// Settings by name.

struct NamedValue {
    const wchar_t* pszName;
    int nValue;
};

const NamedValue kEncoderTypes[] = {{L"Any", 1}, {L"Soft", 2}, {L"Hard", 3}};
const NamedValue kPresets[] = {
    {L"Balanced", 0}, {L"Best Quality", 1}, {L"Fast", 2}, {L"Low Latency", 3}, {L"Custom", 4}};
const NamedValue kRateControls[] = {
    {L"Constant bitrate", 0}, {L"Variable bitrate", 1}, {L"cbr", 0}, {L"vbr", 1}};
const NamedValue kProfiles[] = {{L"Auto", 0}, {L"Baseline", 66}, {L"Main", 77}, {L"High", 100}};
const NamedValue kLevels[] = {{L"Auto", 0},  {L"1", 10},   {L"1b", 9},   {L"1.1", 11}, {L"1.2", 12}, {L"1.3", 13},
                              {L"2", 20},    {L"2.1", 21}, {L"2.2", 22}, {L"3", 30},   {L"3.1", 31}, {L"3.2", 32},
                              {L"4", 40},    {L"4.1", 41}, {L"4.2", 42}, {L"5", 50},   {L"5.1", 51}};

enum SettingId {
    kEncoderType, kPreset, kProfile, kLevel, kSpeedQuality, kRateControl, kBitrate, kGop, kExactGop,
    kIdrInterval, kBFrames, kCavlc, kPassThrough, kThreads, kSettingCount
};

struct SettingDef {
    const char* pszName;
    const NamedValue* pNames;
    size_t cNames;
    long long nMin, nMax;
};

const SettingDef kSettings[kSettingCount] = {
    {"encoder_type", kEncoderTypes, 3, 1, 3},
    {"preset", kPresets, 5, 0, 4},
    {"profile", kProfiles, 4, 0, 100},
    {"level", kLevels, 17, 0, 51},
    {"speed_quality", NULL, 0, 0, 0xFFFFFFFFLL},
    {"rate_control", kRateControls, 4, 0, 1},
    {"bitrate", NULL, 0, 0, 0xFFFFFFFFLL},
    {"gop", NULL, 0, 0, 0xFFFFFFFFLL},
    {"exact_gop", NULL, 0, 0, 1},
    {"idr_interval", NULL, 0, 0, 0xFFFFFFFFLL},
    {"b_frames", NULL, 0, 0, 0xFFFFFFFFLL},
    {"cavlc", NULL, 0, 0, 1},
    {"pass_through_timestamps", NULL, 0, 0, 1},
    {"threads", NULL, 0, 0, 0xFFFFFFFFLL},
};

// Parses one value; names are looked up first (so "1" is level 1, not level_idc 1).
bool ParseValue(const SettingDef& def, const std::wstring& text, long long* pValue) {
    for (size_t i = 0; i < def.cNames; ++i) {
        if (::lstrcmpiW(def.pNames[i].pszName, text.c_str()) == 0) {
            *pValue = def.pNames[i].nValue;
            return true;
        }
    }
    if (text.empty()) return false;
    wchar_t* pEnd = NULL;
    long long n = std::wcstoll(text.c_str(), &pEnd, 10);
    if (pEnd == NULL || *pEnd != 0 || n < def.nMin || n > def.nMax) return false;
    *pValue = n;
    return true;
}

// ---------------------------------------------------------------------------------------
// The run.

struct Run {
    std::vector<std::string> errors;
    std::vector<std::string> events;
    std::vector<std::string> diagnostics;

    void Error(const char* pszWhat, HRESULT hr) {
        JsonObject o;
        o.Str("what", std::string(pszWhat));
        if (hr != S_OK) o.Str("code", Hex(hr)).Str("text", SystemText(hr));
        errors.push_back(o.Text());
    }
};

Run* g_pRun = NULL;

void CaptureDiagnostic(ATL::AtlReportKind eKind, const wchar_t* pszText) {
    if (g_pRun != NULL && eKind == ATL::atlReportAssert) g_pRun->diagnostics.push_back(Quote(std::wstring(pszText)));
}

// The dialog's mirror of the encoder's settings, filled by the read-back.
struct Mirror {
    int eEncType = 0, eEncUsed = 0, ePreset = 0;
    UINT nProfile = 0, nLevel = 0, nProfileUsed = 0, nLevelUsed = 0, nSpeedQuality = 4;
    int eRateControl = 0;
    UINT nBitrate = 0, nBitrateUsed = 0, nGopSize = 0, nGopSizeUsed = 0, nIdrInterval = 0,
         nIdrIntervalUsed = 0, nBFrames = 2, nBFramesUsed = 2;
    int bExactGop = 0, bCavlc = 0;
};

Mirror ReadBack(CGraph& graph) {
    Mirror m;
    graph.GetEncoderType(&m.eEncType, &m.eEncUsed);
    graph.GetPreset(&m.ePreset);
    graph.GetProfileLevel(&m.nProfile, &m.nLevel, &m.nProfileUsed, &m.nLevelUsed);
    graph.GetSpeedQuality(&m.nSpeedQuality);
    graph.GetRateControl(&m.eRateControl);
    graph.GetBitrate(&m.nBitrate, &m.nBitrateUsed);
    graph.GetGop(&m.nGopSize, &m.bExactGop, &m.nGopSizeUsed);
    graph.GetIdrInterval(&m.nIdrInterval, &m.nIdrIntervalUsed);
    graph.GetBFrames(&m.nBFrames, &m.nBFramesUsed);
    graph.GetCavlc(&m.bCavlc);
    return m;
}

std::string SettingsJson(const Mirror& m) {
    JsonObject o;
    o.Int("encoder_type", m.eEncType).Int("encoder_used", m.eEncUsed).Int("preset", m.ePreset);
    o.Int("profile", m.nProfile).Int("profile_used", m.nProfileUsed);
    o.Int("level", m.nLevel).Int("level_used", m.nLevelUsed);
    o.Int("speed_quality", m.nSpeedQuality).Int("rate_control", m.eRateControl);
    o.Int("bitrate", m.nBitrate).Int("bitrate_used", m.nBitrateUsed);
    o.Int("gop", m.nGopSize).Int("exact_gop", m.bExactGop).Int("gop_used", m.nGopSizeUsed);
    o.Int("idr_interval", m.nIdrInterval).Int("idr_interval_used", m.nIdrIntervalUsed);
    o.Int("b_frames", m.nBFrames).Int("b_frames_used", m.nBFramesUsed).Int("cavlc", m.bCavlc);
    return o.Text();
}

std::string EventName(long lCode) {
    switch (lCode) {
    case EC_COMPLETE: return "EC_COMPLETE";
    case EC_USERABORT: return "EC_USERABORT";
    case EC_ERRORABORT: return "EC_ERRORABORT";
    case EC_ERRORABORTEX: return "EC_ERRORABORTEX";
    case EC_TIME: return "EC_TIME";
    case EC_REPAINT: return "EC_REPAINT";
    case EC_STREAM_ERROR_STOPPED: return "EC_STREAM_ERROR_STOPPED";
    case EC_STREAM_ERROR_STILLPLAYING: return "EC_STREAM_ERROR_STILLPLAYING";
    case EC_ERROR_STILLPLAYING: return "EC_ERROR_STILLPLAYING";
    case EC_PALETTE_CHANGED: return "EC_PALETTE_CHANGED";
    case EC_VIDEO_SIZE_CHANGED: return "EC_VIDEO_SIZE_CHANGED";
    case EC_CLOCK_CHANGED: return "EC_CLOCK_CHANGED";
    case EC_PAUSED: return "EC_PAUSED";
    case EC_WINDOW_DESTROYED: return "EC_WINDOW_DESTROYED";
    case EC_DISPLAY_CHANGED: return "EC_DISPLAY_CHANGED";
    case EC_STARVATION: return "EC_STARVATION";
    case EC_END_OF_SEGMENT: return "EC_END_OF_SEGMENT";
    default: {
        char buf[16];
        std::snprintf(buf, sizeof(buf), "0x%lX", (unsigned long)lCode);
        return buf;
    }
    }
}

// True when the filter has an output pin that is connected.
bool HasConnectedOutput(IBaseFilter* pFilter, bool* pbHasInput) {
    *pbHasInput = false;
    bool bOutput = false;
    CComPtr<IEnumPins> spPins;
    if (FAILED(pFilter->EnumPins(&spPins)) || !spPins) return false;
    CComPtr<IPin> spPin;
    while (spPins->Next(1, &spPin, NULL) == S_OK && spPin) {
        PIN_DIRECTION dir = PINDIR_INPUT;
        CComPtr<IPin> spPeer;
        if (SUCCEEDED(spPin->QueryDirection(&dir))) {
            if (dir == PINDIR_INPUT) *pbHasInput = true;
            else if (spPin->ConnectedTo(&spPeer) == S_OK) bOutput = true;
        }
        spPin.Release();
    }
    return bOutput;
}

// The graph's filter of the class.
HRESULT FindFilter(IGraphBuilder* pGraph, REFCLSID clsid, IBaseFilter** ppFilter) {
    *ppFilter = NULL;
    CComPtr<IEnumFilters> spEnum;
    HRESULT hr = pGraph->EnumFilters(&spEnum);
    if (FAILED(hr) || !spEnum) return FAILED(hr) ? hr : E_NOINTERFACE;
    CComPtr<IBaseFilter> spFilter;
    while (spEnum->Next(1, &spFilter, NULL) == S_OK && spFilter) {
        CLSID id = GUID_NULL;
        if (SUCCEEDED(spFilter->GetClassID(&id)) && id == clsid) {
            *ppFilter = spFilter.Detach();
            return S_OK;
        }
        spFilter.Release();
    }
    return VFW_E_NOT_FOUND;
}

// Takes out every filter that ends a branch other than the writer (renderers, then what fed
// only them), so nothing in the graph waits for a clock or shows a picture.
void RemoveRenderers(IGraphBuilder* pGraph, IBaseFilter* pWriter) {
    for (bool bRemoved = true; bRemoved;) {
        bRemoved = false;
        CComPtr<IEnumFilters> spEnum;
        if (FAILED(pGraph->EnumFilters(&spEnum)) || !spEnum) return;
        std::vector<CComPtr<IBaseFilter>> dead;
        CComPtr<IBaseFilter> spFilter;
        while (spEnum->Next(1, &spFilter, NULL) == S_OK && spFilter) {
            bool bInput = false;
            if (!spFilter.IsEqualObject(pWriter) && !HasConnectedOutput(spFilter, &bInput) && bInput)
                dead.push_back(spFilter);
            spFilter.Release();
        }
        for (auto& sp : dead) bRemoved |= SUCCEEDED(pGraph->RemoveFilter(sp));
    }
}

// Takes out everything downstream of the pin (a saved graph's decoder and video window).
void RemoveDownstream(IGraphBuilder* pGraph, IPin* pOutput) {
    CComPtr<IPin> spPeer;
    if (pOutput->ConnectedTo(&spPeer) != S_OK || !spPeer) return;
    PIN_INFO info = {};
    if (FAILED(spPeer->QueryPinInfo(&info)) || !info.pFilter) return;
    CComPtr<IBaseFilter> spFilter;
    spFilter.Attach(info.pFilter);
    CComPtr<IEnumPins> spPins;
    if (SUCCEEDED(spFilter->EnumPins(&spPins)) && spPins) {
        CComPtr<IPin> spPin;
        while (spPins->Next(1, &spPin, NULL) == S_OK && spPin) {
            PIN_DIRECTION dir = PINDIR_INPUT;
            if (SUCCEEDED(spPin->QueryDirection(&dir)) && dir == PINDIR_OUTPUT) RemoveDownstream(pGraph, spPin);
            spPin.Release();
        }
    }
    pGraph->RemoveFilter(spFilter);
}

// The four characters of a video subtype made from a FourCC, else the subtype's GUID.
std::string SubtypeText(const GUID& subtype) {
    GUID fourcc = subtype;
    fourcc.Data1 = 0;
    static const GUID kFourccBase = {0, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
    if (fourcc == kFourccBase) {
        std::string s;
        for (int i = 0; i < 4; ++i) {
            char c = (char)((subtype.Data1 >> (8 * i)) & 0xFF);
            s += (c >= 0x20 && c < 0x7F) ? c : '?';
        }
        return s;
    }
    if (subtype == MEDIASUBTYPE_RGB32) return "RGB32";
    if (subtype == MEDIASUBTYPE_RGB24) return "RGB24";
    WCHAR sz[64] = {};
    ::StringFromGUID2(subtype, sz, 64);
    return Utf8(sz);
}

double Seconds(const FILETIME& ft) {
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    return (double)u.QuadPart / 1e7;
}

double CpuSeconds() {
    FILETIME ftCreate, ftExit, ftKernel, ftUser;
    if (!::GetProcessTimes(::GetCurrentProcess(), &ftCreate, &ftExit, &ftKernel, &ftUser)) return 0;
    return Seconds(ftKernel) + Seconds(ftUser);
}

// CPU seconds of every thread of this process, by thread id.
std::map<DWORD, double> ThreadCpuSeconds() {
    std::map<DWORD, double> times;
    HANDLE hSnap = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (hSnap == INVALID_HANDLE_VALUE) return times;
    THREADENTRY32 te = {};
    te.dwSize = sizeof(te);
    const DWORD pid = ::GetCurrentProcessId();
    for (BOOL b = ::Thread32First(hSnap, &te); b; b = ::Thread32Next(hSnap, &te)) {
        if (te.th32OwnerProcessID != pid) continue;
        HANDLE hThread = ::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, te.th32ThreadID);
        if (!hThread) continue;
        FILETIME ftCreate, ftExit, ftKernel, ftUser;
        if (::GetThreadTimes(hThread, &ftCreate, &ftExit, &ftKernel, &ftUser))
            times[te.th32ThreadID] = Seconds(ftKernel) + Seconds(ftUser);
        ::CloseHandle(hThread);
    }
    ::CloseHandle(hSnap);
    return times;
}

// What each thread spent between two snapshots (a thread started in between from zero; one
// that ended in between is missing), the busiest first, those under a millisecond left out.
std::string ThreadCpuJson(const std::map<DWORD, double>& before, const std::map<DWORD, double>& after) {
    std::vector<double> spent;
    for (const auto& t : after) {
        auto it = before.find(t.first);
        const double d = t.second - (it != before.end() ? it->second : 0.0);
        if (d >= 0.001) spent.push_back(d);
    }
    std::sort(spent.rbegin(), spent.rend());
    std::string out = "[";
    for (size_t i = 0; i < spent.size(); ++i) {
        char buf[32];
        std::snprintf(buf, sizeof(buf), "%s%.3f", i ? ", " : "", spent[i]);
        out += buf;
    }
    return out + "]";
}

int Usage() {
    std::fprintf(stderr,
                 "usage: quorlin-encode <source> <output file> [<setting>=<value> ...] [timeout=<seconds>]\n"
                 "settings: encoder_type preset profile level speed_quality rate_control bitrate gop exact_gop\n"
                 "          idr_interval b_frames cavlc pass_through_timestamps\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return Usage();
    const std::wstring source = argv[1], output = argv[2];

    // Settings asked for, by name.
    bool asked[kSettingCount] = {};
    long long values[kSettingCount] = {};
    double timeoutSeconds = 1800;
    for (int i = 3; i < argc; ++i) {
        std::wstring arg = argv[i];
        size_t eq = arg.find(L'=');
        if (eq == std::wstring::npos) return Usage();
        std::string name = Utf8(arg.substr(0, eq));
        std::wstring value = arg.substr(eq + 1);
        if (name == "timeout") {
            timeoutSeconds = std::wcstod(value.c_str(), NULL);
            if (timeoutSeconds <= 0) return Usage();
            continue;
        }
        int id = -1;
        for (int s = 0; s < kSettingCount; ++s)
            if (name == kSettings[s].pszName) id = s;
        if (id < 0) {
            std::fprintf(stderr, "quorlin-encode: unknown setting \"%s\"\n", name.c_str());
            return Usage();
        }
        if (!ParseValue(kSettings[id], value, &values[id])) {
            std::fprintf(stderr, "quorlin-encode: bad value for %s: \"%s\"\n", name.c_str(), Utf8(value).c_str());
            return Usage();
        }
        asked[id] = true;
    }

    const ULONGLONG tStart = ::GetTickCount64();
    const double cpuStart = CpuSeconds();

    Run run;
    g_pRun = &run;
    ATL::AtlSetReportHook(CaptureDiagnostic);

    HRESULT hr = ::CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) {
        run.Error("COM could not be started", hr);
    }

    // The graph announces its events to a window of its own, as to the dialog.
    HWND hWnd = ::CreateWindowExW(0, L"STATIC", L"quorlin-encode", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                                  ::GetModuleHandleW(NULL), NULL);
    if (SUCCEEDED(hr) && hWnd == NULL) {
        hr = HRESULT_FROM_WIN32(::GetLastError());
        run.Error("Can't create the notification window", hr);
    }

    CGraph graph;
    Mirror before, used;
    std::wstring encoderText;
    JsonObject input;
    EncodingProps props = {};
    UINT nAvgKbps = 0, nFrames = 0, nThreads = 0, nThreadsUsed = 0;
    bool bCompleted = false, bRan = false;
    LONGLONG llDuration = 0;
    // The streaming alone: from "Play" to the end of the stream (building the graph, starting
    // the platform's parsers and tearing down are not the encoder's).
    ULONGLONG tRun = 0, tRunEnd = 0;
    double cpuRun = 0, cpuRunEnd = 0;
    std::map<DWORD, double> threadsRun, threadsRunEnd;

    if (run.errors.empty()) {
        // "Build graph".
        const bool bGraphFile = source.size() >= 4 && ::lstrcmpiW(source.c_str() + source.size() - 4, L".grf") == 0;
        hr = graph.BuildGraph(source.c_str(), false, bGraphFile ? NULL : output.c_str(), false, hWnd,
                              WM_GRAPHNOTIFY);
        if (hr != S_OK) run.Error("Can't build graph", hr);
        CComPtr<IBaseFilter> spWriter;
        if (run.errors.empty() && bGraphFile) {
            // A saved graph ends in its own chain: the encoder's output goes to the writer instead.
            CComPtr<IBaseFilter> spEncoder;
            CComPtr<IPin> spEncoderOut;
            hr = graph.CheckFilter(CLSID_VireonEncoder, &spEncoder);
            if (hr == S_OK) hr = graph.GetPin(spEncoder, PINDIR_OUTPUT, NULL, &spEncoderOut);
            if (hr == S_OK) {
                RemoveDownstream(graph.m_spGraph, spEncoderOut);
                hr = graph.CreateTailChain(spEncoderOut, output.c_str(), false);
            }
            if (hr != S_OK) run.Error("Can't build graph", hr);
        }
        if (run.errors.empty()) {
            hr = FindFilter(graph.m_spGraph, CLSID_VireonMp4Writer, &spWriter);
            if (hr != S_OK) run.Error("Can't build graph", hr);
        }
        if (run.errors.empty()) {
            RemoveRenderers(graph.m_spGraph, spWriter);
            CComQIPtr<IMediaFilter> spMediaFilter(graph.m_spGraph);
            hr = spMediaFilter ? spMediaFilter->SetSyncSource(NULL) : E_NOINTERFACE;
            if (FAILED(hr)) run.Error("Can't take the reference clock out", hr);
        }
    }

    if (run.errors.empty()) {
        CComBSTR cbsText;
        graph.GetEncoderInfo(cbsText);
        if (cbsText) encoderText = (LPCWSTR)cbsText;
        before = ReadBack(graph);

        // Encoder type and preset reach the encoder at once, each followed by a read-back.
        if (asked[kEncoderType]) {
            hr = graph.SetEncoderType((int)values[kEncoderType]);
            if (hr != S_OK) run.Error("Can't set encoder type", hr);
        }
        if (run.errors.empty() && asked[kPreset]) {
            hr = graph.SetPreset((int)values[kPreset]);
            if (hr != S_OK) run.Error("Can't set preset", hr);
        }
    }

    if (run.errors.empty()) {
        Mirror m = ReadBack(graph);
        props.nProfile = asked[kProfile] ? (UINT)values[kProfile] : m.nProfile;
        props.nLevel = asked[kLevel] ? (UINT)values[kLevel] : m.nLevel;
        props.nSpeedQuality = asked[kSpeedQuality] ? (UINT)values[kSpeedQuality] : m.nSpeedQuality;
        props.eRateControl = asked[kRateControl] ? (int)values[kRateControl] : m.eRateControl;
        props.nBitrate = asked[kBitrate] ? (UINT)values[kBitrate] : m.nBitrate;
        props.nGopSize = asked[kGop] ? (UINT)values[kGop] : m.nGopSize;
        props.bExactGop = asked[kExactGop] ? (int)values[kExactGop] : m.bExactGop;
        props.nIdrInterval = asked[kIdrInterval] ? (UINT)values[kIdrInterval] : m.nIdrInterval;
        props.nBFrames = asked[kBFrames] ? (UINT)values[kBFrames] : m.nBFrames;
        props.bCavlc = asked[kCavlc] ? (int)values[kCavlc] : m.bCavlc;
        props.bPassThroughTimeStamps = asked[kPassThrough] ? (int)values[kPassThrough] : 0;

        // The dialog has no thread setting: the encoder takes it itself.
        if (asked[kThreads]) {
            CComPtr<IBaseFilter> spEncoder;
            hr = FindFilter(graph.m_spGraph, CLSID_VireonEncoder, &spEncoder);
            CComQIPtr<IVireon> spVireon(spEncoder);
            if (hr == S_OK) hr = spVireon ? spVireon->SetThreads((UINT)values[kThreads]) : E_NOINTERFACE;
            if (hr != S_OK) run.Error("Can't set threads", hr);
        }

        // "Play" from the stopped state.
        if (run.errors.empty()) {
            hr = graph.SetEncodingProps(&props);
            if (FAILED(hr)) run.Error("Can't change encoding properties", hr);
        }
    }

    if (run.errors.empty()) {
        used = ReadBack(graph);
        CComQIPtr<IMediaSeeking> spSeeking(graph.m_spGraph);
        if (spSeeking) spSeeking->GetDuration(&llDuration);
        threadsRun = ThreadCpuSeconds();
        tRun = ::GetTickCount64();
        cpuRun = CpuSeconds();
        hr = graph.Run();
        if (FAILED(hr)) run.Error("Can't play file", hr);
        else bRan = true;
    }

    if (bRan) {
        // Until the end of the stream, an abort, or the time allowed.
        CComQIPtr<IMediaEventEx> spEvent(graph.m_spGraph);
        // Woken by the graph's events as they come, not at the next poll.
        OAEVENT hEvent = 0;
        if (spEvent && FAILED(spEvent->GetEventHandle(&hEvent))) hEvent = 0;
        HANDLE hWake = (HANDLE)hEvent;
        bool bDone = false;
        while (!bDone) {
            const ULONGLONG elapsed = ::GetTickCount64() - tStart;
            if (elapsed > (ULONGLONG)(timeoutSeconds * 1000)) {
                run.Error("The graph did not finish in the time allowed", S_OK);
                break;
            }
            ::MsgWaitForMultipleObjects(hWake ? 1 : 0, hWake ? &hWake : NULL, FALSE, 200, QS_ALLINPUT);
            MSG msg;
            while (::PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
            long lCode = 0;
            LONG_PTR lParam1 = 0, lParam2 = 0;
            while (spEvent && spEvent->GetEvent(&lCode, &lParam1, &lParam2, 0) == S_OK) {
                JsonObject e;
                e.Str("event", EventName(lCode)).Int("param1", (long long)lParam1).Int("param2", (long long)lParam2);
                run.events.push_back(e.Text());
                if (lCode == EC_COMPLETE) {
                    tRunEnd = ::GetTickCount64();
                    cpuRunEnd = CpuSeconds();
                    threadsRunEnd = ThreadCpuSeconds();
                    bCompleted = true;
                    bDone = true;
                } else if (lCode == EC_ERRORABORT || lCode == EC_ERRORABORTEX || lCode == EC_STREAM_ERROR_STOPPED) {
                    run.Error("The graph stopped on an error", (HRESULT)lParam1);
                    bDone = true;
                } else if (lCode == EC_USERABORT) {
                    run.Error("The graph was aborted", S_OK);
                    bDone = true;
                }
                spEvent->FreeEventParams(lCode, lParam1, lParam2);
            }
        }
        graph.GetStatistics(&nAvgKbps, &nFrames);
        {
            CComPtr<IBaseFilter> spEncoder;
            CComQIPtr<IVireon> spVireon;
            if (FindFilter(graph.m_spGraph, CLSID_VireonEncoder, &spEncoder) == S_OK) spVireon = spEncoder;
            if (spVireon) spVireon->GetThreads(&nThreads, &nThreadsUsed);
        }

        int nWidth = 0, nHeight = 0, eInterlacing = 0;
        double dblFps = 0;
        graph.GetInputInfo(&nWidth, &nHeight, &dblFps, &eInterlacing);
        input.Int("width", nWidth).Int("height", nHeight).Num("fps", dblFps).Int("interlacing", eInterlacing);
        CComPtr<IBaseFilter> spEncoder;
        CComPtr<IPin> spEncoderIn;
        AM_MEDIA_TYPE mt = {};
        if (graph.CheckFilter(CLSID_VireonEncoder, &spEncoder) == S_OK &&
            graph.GetPin(spEncoder, PINDIR_INPUT, NULL, &spEncoderIn) == S_OK &&
            SUCCEEDED(spEncoderIn->ConnectionMediaType(&mt))) {
            input.Str("subtype", SubtypeText(mt.subtype));
            if (mt.pbFormat) ::CoTaskMemFree(mt.pbFormat);
            if (mt.pUnk) mt.pUnk->Release();
        }
        hr = graph.Stop();
        if (FAILED(hr)) run.Error("Can't stop the graph", hr);
    }
    // The writer finishes its file when the graph is released.
    graph.Release();
    ATL::AtlSetReportHook(NULL);
    g_pRun = NULL;

    const double wall = (double)(::GetTickCount64() - tStart) / 1000.0;
    const double cpu = CpuSeconds() - cpuStart;

    JsonObject askedJson, sentJson;
    for (int s = 0; s < kSettingCount; ++s)
        if (asked[s]) askedJson.Int(kSettings[s].pszName, values[s]);
    sentJson.Int("profile", props.nProfile).Int("level", props.nLevel).Int("speed_quality", props.nSpeedQuality);
    sentJson.Int("rate_control", props.eRateControl).Int("bitrate", props.nBitrate).Int("gop", props.nGopSize);
    sentJson.Int("exact_gop", props.bExactGop).Int("idr_interval", props.nIdrInterval);
    sentJson.Int("b_frames", props.nBFrames).Int("cavlc", props.bCavlc);
    sentJson.Int("pass_through_timestamps", props.bPassThroughTimeStamps);

    const bool ok = bCompleted && run.errors.empty();
    JsonObject record;
    record.Str("source", source).Str("output", output).Bool("ok", ok).Str("encoder", encoderText);
    record.Raw("input", input.Text());
    record.Num("duration_s", (double)llDuration / 1e7);
    record.Int("frames_encoded", nFrames).Int("avg_bitrate_kbps", nAvgKbps);
    record.Int("threads", nThreads).Int("threads_used", nThreadsUsed);
    record.Num("wall_s", wall).Num("cpu_s", cpu);
    if (bCompleted) {
        record.Num("run_wall_s", (double)(tRunEnd - tRun) / 1000.0).Num("run_cpu_s", cpuRunEnd - cpuRun);
        record.Raw("run_thread_cpu_s", ThreadCpuJson(threadsRun, threadsRunEnd));
    }
    record.Raw("asked", askedJson.Text()).Raw("sent", sentJson.Text());
    record.Raw("defaults", SettingsJson(before)).Raw("used", SettingsJson(used));
    record.Raw("events", Array(run.events)).Raw("errors", Array(run.errors));
    record.Raw("diagnostics", Array(run.diagnostics));
    std::printf("%s\n", record.Text().c_str());
    std::fflush(stdout);

    if (hWnd) ::DestroyWindow(hWnd);
    ::CoUninitialize();
    return ok ? 0 : 1;
}
