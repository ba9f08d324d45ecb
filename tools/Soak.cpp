// quorlin-soak: repeats graph builds in one process and prints the process's handles and
// memory after each cycle, so that what a build leaves behind shows as growth.
//
//   quorlin-soak.exe <way> <graph> <source> <cycles> [<output file>]
//
// <graph> is the graph that is built:
//   writer    a media file through the encoder to the MPEG-4 writer (<output file>)
//   render    a media file through the encoder, the decoder and a video renderer
//   grf       a saved graph (<source> is the .grf)
//   camera    the capture device named <source> through the encoder, decoder and renderer
// <way> says who does the graph operations:
//   dialog    the real main dialog: "Build graph", "Play" to "The end" (a camera: one second)
//             then "Stop", and the hidden "Test" button, which drops the graph
//   plain     the same graph made with plain DirectShow calls, without Quorlin's code: the
//             source's playback chain (RenderFile) with its video renderer cut off, our
//             encoder, then the writer or our decoder and the renderer the graph manager
//             chooses; a saved graph loaded by the graph manager; the video window shown
//             (as the dialog shows it); GraphEdit attached as "Show graph" attaches it
//   platform  the platform's part alone: RenderFile of the media file (for a saved graph,
//             <source> is the media file it reads), a camera rendered by the graph manager,
//             the video window shown
// Each way runs <cycles> build/release cycles, then <cycles> build/play/stop/release cycles,
// and prints one line per cycle:
//   "<build|play> <cycle> <handles> <heap bytes> <private bytes> <anonymous resident KB>
//    <wineserver anonymous resident KB> <type>=<n>..."
// Handles are counted in the system's handle table (the platform's GetProcessHandleCount
// answers 0), by type; the types also give the GDI objects ("gdi<type>"), the windows and
// the threads ("threads", with or without a handle open on them);
// heap bytes are the blocks in use in the process's heaps, private bytes the committed
// private pages of the address space (which heaps grow 64 KB at a time); the resident
// anonymous memory of the host process also holds what the platform allocates outside the
// Windows address space (the host's allocator and its per-thread arenas, the media
// libraries); the wineserver's holds the objects the server keeps for the process (handles,
// windows, registry keys), and for every other process of the prefix.
// With QUORLIN_SOAK_BLOCKS set, it ends with the heap blocks each cycle left behind; with
// QUORLIN_SOAK_SMAPS=<folder>, it saves both hosts' memory maps and the Windows address space
// after every tenth cycle; with
// QUORLIN_SOAK_SHOW_GRAPH=<n>, the dialog's "Show graph" is pressed in every n-th
// build/play/stop cycle (GraphEdit attached through the run, closed with the graph), and the
// plain program attaches GraphEdit in the same cycles with plain calls.
// Before the cycles the counter is checked: 10 events opened must count as 10 more handles.
// Exit status 0 when every cycle built and played.
#include <windows.h>
#include <winternl.h>

#include <atlbase.h>
#include <algorithm>
#include <iterator>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dialog/MainDialog.h"
#include "graph/DShow.h"
#include "graph/Vireon.h"
#include "tests/support/WindowTools.h"

namespace {

// ---------------------------------------------------------------------------------------
// Measures.

// SystemExtendedHandleInformation records (the mingw headers do not declare them).
struct HandleEntry {
    PVOID pObject;
    ULONG_PTR uProcessId;
    ULONG_PTR uHandle;
    ULONG ulAccess;
    USHORT uBackTrace;
    USHORT uTypeIndex;
    ULONG ulAttributes;
    ULONG ulReserved;
};
struct HandleTable {
    ULONG_PTR cHandles;
    ULONG_PTR uReserved;
    HandleEntry entries[1];
};
const ULONG kSystemExtendedHandleInformation = 64;
const ULONG kObjectTypeInformation = 2;
const NTSTATUS kStatusInfoLengthMismatch = (NTSTATUS)0xC0000004;

typedef NTSTATUS(NTAPI* QuerySystemInformationFn)(ULONG, PVOID, ULONG, PULONG);
typedef NTSTATUS(NTAPI* QueryObjectFn)(HANDLE, ULONG, PVOID, ULONG, PULONG);
typedef NTSTATUS(NTAPI* QueryProcessFn)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);

// The process's handles by type name; false when the system does not list them.
bool CountHandles(std::map<std::wstring, unsigned>& byType, unsigned& cTotal) {
    static auto pfnQuery = (QuerySystemInformationFn)::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"),
                                                                        "NtQuerySystemInformation");
    static auto pfnQueryObject = (QueryObjectFn)::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryObject");
    static std::vector<BYTE> buffer(1 << 16);
    static std::map<USHORT, std::wstring> typeNames;
    if (pfnQuery == NULL || pfnQueryObject == NULL) return false;
    NTSTATUS status;
    ULONG cb = 0;
    while ((status = pfnQuery(kSystemExtendedHandleInformation, buffer.data(), (ULONG)buffer.size(), &cb)) ==
           kStatusInfoLengthMismatch)
        buffer.resize(buffer.size() * 2);
    if (status != 0) return false;
    const HandleTable* pTable = (const HandleTable*)buffer.data();
    const ULONG_PTR uPid = ::GetCurrentProcessId();
    byType.clear();
    cTotal = 0;
    for (ULONG_PTR i = 0; i < pTable->cHandles; ++i) {
        const HandleEntry& e = pTable->entries[i];
        if (e.uProcessId != uPid) continue;
        ++cTotal;
        auto it = typeNames.find(e.uTypeIndex);
        if (it == typeNames.end()) {
            // The name of the type, asked of the first handle of that type still open.
            alignas(8) BYTE info[1024];
            ULONG cbInfo = 0;
            if (pfnQueryObject((HANDLE)e.uHandle, kObjectTypeInformation, info, sizeof info, &cbInfo) != 0) {
                ++byType[L"type" + std::to_wstring(e.uTypeIndex)];
                continue;
            }
            const UNICODE_STRING* pName = (const UNICODE_STRING*)info;
            it = typeNames.emplace(e.uTypeIndex, std::wstring(pName->Buffer, pName->Length / sizeof(WCHAR))).first;
        }
        ++byType[it->second];
    }
    return true;
}

// GDI objects by type, from the process's GDI handle table (the platform's GetGuiResources
// answers 0). Its entries are 24 bytes; the byte at 12 is the object's type, 0 when free.
void CountGdiObjects(std::map<std::wstring, unsigned>& byType) {
    static auto pfnQueryProcess = (QueryProcessFn)::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"),
                                                                   "NtQueryInformationProcess");
    PROCESS_BASIC_INFORMATION pbi = {};
    if (pfnQueryProcess == NULL ||
        pfnQueryProcess(::GetCurrentProcess(), ProcessBasicInformation, &pbi, sizeof pbi, NULL) != 0)
        return;
    const BYTE* pTable = *(const BYTE* const*)((const BYTE*)pbi.PebBaseAddress + 0xF8);  // GdiSharedHandleTable
    if (pTable == NULL) return;
    for (unsigned i = 0; i < 0x10000; ++i) {
        const BYTE bType = pTable[i * 24 + 12] & 0x7F;
        if (bType != 0) ++byType[L"gdi" + std::to_wstring(bType)];
    }
}

// The threads of the process, handles open on them or not (the platform's pool threads come
// and go without any, each with its stacks: 3 MB of private memory in 2 MB and 1 MB blocks).
unsigned CountThreads() {
    static auto pfnQuery = (QuerySystemInformationFn)::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"),
                                                                        "NtQuerySystemInformation");
    static std::vector<BYTE> buffer(1 << 18);
    if (pfnQuery == NULL) return 0;
    NTSTATUS status;
    ULONG cb = 0;
    while ((status = pfnQuery(SystemProcessInformation, buffer.data(), (ULONG)buffer.size(), &cb)) ==
           kStatusInfoLengthMismatch)
        buffer.resize(buffer.size() * 2);
    if (status != 0) return 0;
    for (size_t i = 0; i + sizeof(SYSTEM_PROCESS_INFORMATION) <= buffer.size();) {
        const SYSTEM_PROCESS_INFORMATION* p = (const SYSTEM_PROCESS_INFORMATION*)(buffer.data() + i);
        if ((ULONG_PTR)p->UniqueProcessId == ::GetCurrentProcessId()) return p->NumberOfThreads;
        if (p->NextEntryOffset == 0) break;
        i += p->NextEntryOffset;
    }
    return 0;
}

BOOL CALLBACK CountChildWindow(HWND, LPARAM lParam) {
    ++*(unsigned*)lParam;
    return TRUE;
}

BOOL CALLBACK CountWindow(HWND hWnd, LPARAM lParam) {
    DWORD dwPid = 0;
    ::GetWindowThreadProcessId(hWnd, &dwPid);
    if (dwPid != ::GetCurrentProcessId()) return TRUE;
    ++*(unsigned*)lParam;
    ::EnumChildWindows(hWnd, CountChildWindow, lParam);
    return TRUE;
}

// The process's windows: top-level, message-only and their children.
unsigned CountWindows() {
    unsigned c = 0;
    ::EnumWindows(CountWindow, (LPARAM)&c);
    for (HWND hWnd = NULL; (hWnd = ::FindWindowExW(HWND_MESSAGE, hWnd, NULL, NULL)) != NULL;)
        CountWindow(hWnd, (LPARAM)&c);
    return c;
}

// Committed memory private to the process, as the address space shows it.
SIZE_T PrivateBytes() {
    SIZE_T cb = 0;
    MEMORY_BASIC_INFORMATION mbi;
    for (BYTE* p = NULL; ::VirtualQuery(p, &mbi, sizeof mbi) == sizeof mbi; p = (BYTE*)mbi.BaseAddress + mbi.RegionSize) {
        if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE) cb += mbi.RegionSize;
        if ((BYTE*)mbi.BaseAddress + mbi.RegionSize <= p) break;
    }
    return cb;
}

// Bytes in use in the process's heaps (busy blocks, without the heaps' own overhead).
unsigned long long HeapBytes() {
    HANDLE rghHeaps[256];
    const DWORD cHeaps = ::GetProcessHeaps(256, rghHeaps);
    unsigned long long cb = 0;
    for (DWORD i = 0; i < cHeaps && i < 256; ++i) {
        if (!::HeapLock(rghHeaps[i])) continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (::HeapWalk(rghHeaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) cb += entry.cbData;
        ::HeapUnlock(rghHeaps[i]);
    }
    return cb;
}

// Heap blocks in use, for finding what a cycle leaves behind (QUORLIN_SOAK_BLOCKS set): for
// each cycle, the blocks it allocated that are still there after the last cycle.
struct Block {
    const BYTE* p;
    DWORD cb;
    bool operator<(const Block& o) const { return p < o.p || (p == o.p && cb < o.cb); }
};
std::vector<std::vector<Block>> g_blockCensus;
std::vector<std::string> g_censusPhases;  // the phase of each census
bool g_bBlockCensus = false;

std::vector<Block> BusyBlocks() {
    std::vector<Block> blocks;
    HANDLE rghHeaps[256];
    const DWORD cHeaps = ::GetProcessHeaps(256, rghHeaps);
    for (DWORD i = 0; i < cHeaps && i < 256; ++i) {
        if (!::HeapLock(rghHeaps[i])) continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (::HeapWalk(rghHeaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) blocks.push_back({(const BYTE*)entry.lpData, entry.cbData});
        ::HeapUnlock(rghHeaps[i]);
    }
    std::sort(blocks.begin(), blocks.end());
    return blocks;
}

// The module whose image holds the address, or an empty string.
std::wstring ModuleOf(ULONG_PTR u) {
    HMODULE hModule = NULL;
    WCHAR szPath[MAX_PATH];
    if (u < 0x10000 || !::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                                 GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                             (LPCWSTR)u, &hModule) ||
        !::GetModuleFileNameW(hModule, szPath, MAX_PATH))
        return std::wstring();
    const WCHAR* pName = std::wcsrchr(szPath, L'\\');
    return pName ? pName + 1 : szPath;
}

std::string Utf8(const wchar_t* psz);

// Prints the blocks each cycle from the second on left behind: size, the first 32 bytes,
// and the modules that pointers inside them point into (a vtable names its class's module).
void ReportSurvivingBlocks() {
    if (g_blockCensus.size() < 3) return;
    const std::vector<Block>& last = g_blockCensus.back();
    std::map<DWORD, unsigned> bySize;
    unsigned cShown = 0;
    for (size_t c = 1; c + 1 < g_blockCensus.size(); ++c) {
        std::vector<Block> fresh, kept;
        std::set_difference(g_blockCensus[c].begin(), g_blockCensus[c].end(), g_blockCensus[c - 1].begin(),
                            g_blockCensus[c - 1].end(), std::back_inserter(fresh));
        std::set_intersection(fresh.begin(), fresh.end(), last.begin(), last.end(), std::back_inserter(kept));
        for (const Block& b : kept) {
            ++bySize[b.cb];
            if (cShown++ >= 40 || ::IsBadReadPtr(b.p, b.cb)) continue;
            std::fprintf(stderr, "left by cycle %u: %lu bytes at %p:", (unsigned)c, (unsigned long)b.cb, b.p);
            for (DWORD i = 0; i < b.cb && i < 32; ++i) std::fprintf(stderr, " %02x", b.p[i]);
            for (DWORD i = 0; i + sizeof(ULONG_PTR) <= b.cb; i += sizeof(ULONG_PTR)) {
                const std::wstring module = ModuleOf(*(const ULONG_PTR*)(b.p + i));
                if (!module.empty()) std::fprintf(stderr, " [+%lu -> %ls]", (unsigned long)i, module.c_str());
            }
            std::fprintf(stderr, "\n");
        }
    }
    // The same blocks by phase, size and the modules they point into: a leaked object shows
    // as a kind left every cycle, its vtable naming its module.
    std::map<std::string, unsigned> byKind;
    std::map<std::string, unsigned> cCycles;
    for (size_t c = 1; c + 1 < g_blockCensus.size(); ++c) {
        if (g_censusPhases[c] != g_censusPhases[c - 1]) continue;
        ++cCycles[g_censusPhases[c]];
        std::vector<Block> fresh, kept;
        std::set_difference(g_blockCensus[c].begin(), g_blockCensus[c].end(), g_blockCensus[c - 1].begin(),
                            g_blockCensus[c - 1].end(), std::back_inserter(fresh));
        std::set_intersection(fresh.begin(), fresh.end(), last.begin(), last.end(), std::back_inserter(kept));
        for (const Block& b : kept) {
            std::string kind = g_censusPhases[c] + " " + std::to_string(b.cb) + " bytes";
            for (DWORD i = 0; !::IsBadReadPtr(b.p, b.cb) && i + sizeof(ULONG_PTR) <= b.cb && i < 256; i += sizeof(ULONG_PTR)) {
                const std::wstring module = ModuleOf(*(const ULONG_PTR*)(b.p + i));
                if (!module.empty()) kind += " +" + std::to_string(i) + ":" + Utf8(module.c_str());
            }
            ++byKind[kind];
        }
    }
    for (const auto& k : byKind) {
        const unsigned n = cCycles[k.first.substr(0, k.first.find(' '))];
        if (n > 0 && k.second * 2 >= n)
            std::fprintf(stderr, "left per cycle: %.2f %s\n", k.second / double(n), k.first.c_str());
    }
    std::fprintf(stderr, "blocks left per cycle over %u cycles by size:", (unsigned)(g_blockCensus.size() - 2));
    for (const auto& s : bySize)
        std::fprintf(stderr, " %lu:%.2f", (unsigned long)s.first, s.second / double(g_blockCensus.size() - 2));
    std::fprintf(stderr, "\n");
}

// Files of the host (\\?\unix paths) are opened by the wineserver, so the host's
// /proc/self is the server's, not this program's. The host process of this program is the
// one of the same prefix whose command line has the same arguments.

// A whole host file ("" when it cannot be read).
std::string ReadHostFile(const std::wstring& path) {
    std::string text;
    HANDLE hFile = ::CreateFileW((L"\\\\?\\unix" + path).c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                                 OPEN_EXISTING, 0, NULL);
    if (hFile == INVALID_HANDLE_VALUE) return text;
    char buffer[65536];
    DWORD cb = 0;
    while (::ReadFile(hFile, buffer, sizeof buffer, &cb, NULL) && cb > 0) text.append(buffer, cb);
    ::CloseHandle(hFile);
    return text;
}

// The NUL-separated fields of a /proc file, without the empty ones at the end.
std::vector<std::string> NulFields(const std::string& text) {
    std::vector<std::string> fields;
    for (size_t i = 0; i < text.size();) {
        const size_t j = std::min(text.find('\0', i), text.size());
        fields.push_back(text.substr(i, j - i));
        i = j + 1;
    }
    while (!fields.empty() && fields.back().empty()) fields.pop_back();
    return fields;
}

std::string Utf8(const wchar_t* psz) {
    const int cb = ::WideCharToMultiByte(CP_UTF8, 0, psz, -1, NULL, 0, NULL, NULL);
    std::string text(cb > 0 ? cb - 1 : 0, '\0');
    if (cb > 1) ::WideCharToMultiByte(CP_UTF8, 0, psz, -1, &text[0], cb, NULL, NULL);
    return text;
}

// The host pid of this program, 0 when not found or not told apart from another.
unsigned long HostPid() {
    static unsigned long s_uPid = ~0ul;
    if (s_uPid != ~0ul) return s_uPid;
    s_uPid = 0;
    int cArgs = 0;
    LPWSTR* ppArgs = ::CommandLineToArgvW(::GetCommandLineW(), &cArgs);
    std::vector<std::string> args;
    for (int i = 1; i < cArgs; ++i) args.push_back(Utf8(ppArgs[i]));
    ::LocalFree(ppArgs);
    WCHAR szPrefix[1024] = {};
    ::GetEnvironmentVariableW(L"WINEPREFIX", szPrefix, 1024);
    const std::string prefix = "WINEPREFIX=" + Utf8(szPrefix);
    WIN32_FIND_DATAW fd;
    HANDLE hFind = ::FindFirstFileW(L"\\\\?\\unix\\proc\\*", &fd);
    if (hFind == INVALID_HANDLE_VALUE) return 0;
    unsigned cFound = 0;
    do {
        const unsigned long uPid = std::wcstoul(fd.cFileName, NULL, 10);
        if (uPid == 0 || std::to_wstring(uPid) != fd.cFileName) continue;
        const std::wstring dir = L"/proc/" + std::wstring(fd.cFileName);
        std::vector<std::string> cmdline = NulFields(ReadHostFile(dir + L"/cmdline"));
        if (cmdline.size() != args.size() + 1 || !std::equal(args.begin(), args.end(), cmdline.begin() + 1) ||
            cmdline[0].find("quorlin-soak") == std::string::npos)
            continue;
        const std::vector<std::string> env = NulFields(ReadHostFile(dir + L"/environ"));
        if (std::find(env.begin(), env.end(), prefix) == env.end()) continue;
        ++cFound;
        s_uPid = uPid;
    } while (::FindNextFileW(hFind, &fd));
    ::FindClose(hFind);
    if (cFound != 1) s_uPid = 0;
    return s_uPid;
}

// Resident anonymous memory in KB of a host process (its /proc status), 0 when unknown.
unsigned long AnonymousResidentKB(const std::wstring& proc) {
    const std::string text = ReadHostFile(proc + L"/status");
    const size_t i = text.find("RssAnon:");
    return i == std::string::npos ? 0 : std::strtoul(text.c_str() + i + 8, NULL, 10);
}

std::wstring HostProc() { return HostPid() ? L"/proc/" + std::to_wstring(HostPid()) : L"/proc/0"; }

// With QUORLIN_SOAK_SMAPS=<folder>, the memory maps of this program's host process and of
// the wineserver, and the Windows address space and heaps, after every tenth cycle
// (<folder>\\<way>-<graph>-<phase>-<cycle>.smaps, ...-server.smaps and ....windows), for
// finding which mappings grow.
std::wstring g_smapsFolder;
std::wstring g_smapsTag;  // "<way>-<graph>-", so that the ways of one run can share the folder

// The Windows side of the same: the heaps (busy and committed bytes of each) and every
// allocation of the address space with committed private pages (its base, committed bytes,
// and the module of an image), one line each, for diffing two cycles' files.
std::string WindowsMap() {
    std::string text;
    char szLine[600];
    HANDLE rghHeaps[256];
    const DWORD cHeaps = ::GetProcessHeaps(256, rghHeaps);
    for (DWORD i = 0; i < cHeaps && i < 256; ++i) {
        unsigned long long cbBusy = 0, cbCommitted = 0, cBlocks = 0;
        if (!::HeapLock(rghHeaps[i])) continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (::HeapWalk(rghHeaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_REGION) cbCommitted += entry.Region.dwCommittedSize;
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) cbBusy += entry.cbData, ++cBlocks;
        }
        ::HeapUnlock(rghHeaps[i]);
        std::snprintf(szLine, sizeof szLine, "heap %p busy %llu blocks %llu committed %llu\n", (void*)rghHeaps[i],
                      cbBusy, cBlocks, cbCommitted);
        text += szLine;
    }
    std::map<const BYTE*, SIZE_T> committed;
    MEMORY_BASIC_INFORMATION mbi;
    for (BYTE* p = NULL; ::VirtualQuery(p, &mbi, sizeof mbi) == sizeof mbi; p = (BYTE*)mbi.BaseAddress + mbi.RegionSize) {
        if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE) committed[(const BYTE*)mbi.AllocationBase] += mbi.RegionSize;
        if ((BYTE*)mbi.BaseAddress + mbi.RegionSize <= p) break;
    }
    for (const auto& a : committed) {
        std::snprintf(szLine, sizeof szLine, "alloc %p committed %llu %ls\n", (const void*)a.first,
                      (unsigned long long)a.second, ModuleOf((ULONG_PTR)a.first).c_str());
        text += szLine;
    }
    return text;
}

void SaveMemoryMaps(const char* pszPhase, int nCycle) {
    if (g_smapsFolder.empty() || nCycle % 10 != 0) return;
    // All read whole before a file is written: the files written must not show in the maps.
    const std::string rgText[3] = {ReadHostFile(HostProc() + L"/smaps"), ReadHostFile(L"/proc/self/smaps"),
                                   WindowsMap()};
    for (int i = 0; i < 3; ++i) {
        WCHAR szName[64];
        std::swprintf(szName, 64, L"\\%ls%hs-%d%ls", g_smapsTag.c_str(), pszPhase, nCycle,
                      i == 0 ? L".smaps" : i == 1 ? L"-server.smaps" : L".windows");
        HANDLE hOut = ::CreateFileW((g_smapsFolder + szName).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (hOut == INVALID_HANDLE_VALUE) continue;
        DWORD cbWritten = 0;
        ::WriteFile(hOut, rgText[i].data(), (DWORD)rgText[i].size(), &cbWritten, NULL);
        ::CloseHandle(hOut);
    }
}

void Report(const char* pszPhase, int nCycle) {
    std::map<std::wstring, unsigned> byType;
    unsigned cHandles = 0;
    CountHandles(byType, cHandles);
    CountGdiObjects(byType);
    byType[L"window"] = CountWindows();
    byType[L"threads"] = CountThreads();
    if (g_bBlockCensus && nCycle > 0) {
        g_blockCensus.push_back(BusyBlocks());
        g_censusPhases.push_back(pszPhase);
    }
    std::printf("%s %d %u %llu %llu %lu %lu", pszPhase, nCycle, cHandles, HeapBytes(),
                (unsigned long long)PrivateBytes(), AnonymousResidentKB(HostProc()),
                AnonymousResidentKB(L"/proc/self"));
    for (const auto& t : byType) std::printf(" %ls=%u", t.first.c_str(), t.second);
    std::printf("\n");
    std::fflush(stdout);
    SaveMemoryMaps(pszPhase, nCycle);
}

// The counter is trusted only if it sees handles come and go.
bool CounterWorks() {
    std::map<std::wstring, unsigned> byType;
    unsigned cBefore = 0, cOpen = 0, cAfter = 0;
    if (!CountHandles(byType, cBefore)) {
        std::fprintf(stderr, "the system does not list the process's handles\n");
        return false;
    }
    const unsigned cEventsBefore = byType[L"Event"];
    HANDLE rghEvents[10];
    for (HANDLE& h : rghEvents) h = ::CreateEventW(NULL, TRUE, FALSE, NULL);
    CountHandles(byType, cOpen);
    const unsigned cEventsOpen = byType[L"Event"];
    for (HANDLE h : rghEvents) ::CloseHandle(h);
    CountHandles(byType, cAfter);
    std::fprintf(stderr, "handle counter: %u, %+d with 10 events open (%+d events), %+d once closed\n", cBefore,
                 (int)(cOpen - cBefore), (int)(cEventsOpen - cEventsBefore), (int)(cAfter - cBefore));
    return cOpen == cBefore + 10 && cEventsOpen == cEventsBefore + 10 && cAfter == cBefore;
}

// ---------------------------------------------------------------------------------------
// The plain program: DirectShow calls only.

enum GraphKind { kWriter, kRender, kSavedGraph, kCamera };

struct Job {
    GraphKind eKind;
    std::wstring source, output;
};

HRESULT LoadGraphFile(IGraphBuilder* pGraph, const std::wstring& file) {
    CComPtr<IStorage> spStorage;
    HRESULT hr = ::StgOpenStorage(file.c_str(), NULL, STGM_READ | STGM_SHARE_EXCLUSIVE, NULL, 0, &spStorage);
    if (FAILED(hr)) return hr;
    CComPtr<IStream> spStream;
    hr = spStorage->OpenStream(L"ActiveMovieGraph", NULL, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &spStream);
    if (FAILED(hr)) return hr;
    CComQIPtr<IPersistStream> spPersist(pGraph);
    return spPersist ? spPersist->Load(spStream) : E_NOINTERFACE;
}

CComPtr<IPin> FirstPin(IBaseFilter* pFilter, PIN_DIRECTION eDir) {
    CComPtr<IEnumPins> spPins;
    if (FAILED(pFilter->EnumPins(&spPins))) return NULL;
    for (CComPtr<IPin> spPin; spPins->Next(1, &spPin, NULL) == S_OK; spPin.Release()) {
        PIN_DIRECTION e;
        if (SUCCEEDED(spPin->QueryDirection(&e)) && e == eDir) return spPin;
    }
    return NULL;
}

// The renderer of the video stream (a filter without outputs whose input carries video) is
// taken out; answers the pin that fed it.
HRESULT CutOffVideoRenderer(IGraphBuilder* pGraph, IPin** ppFeeding) {
    CComPtr<IEnumFilters> spEnum;
    HRESULT hr = pGraph->EnumFilters(&spEnum);
    if (FAILED(hr)) return hr;
    for (CComPtr<IBaseFilter> spFilter; spEnum->Next(1, &spFilter, NULL) == S_OK; spFilter.Release()) {
        if (FirstPin(spFilter, PINDIR_OUTPUT)) continue;
        CComPtr<IPin> spIn = FirstPin(spFilter, PINDIR_INPUT), spFeeding;
        AM_MEDIA_TYPE mt = {};
        if (!spIn || spIn->ConnectedTo(&spFeeding) != S_OK || FAILED(spIn->ConnectionMediaType(&mt))) continue;
        const bool bVideo = mt.majortype == MEDIATYPE_Video;
        ::CoTaskMemFree(mt.pbFormat);
        if (mt.pUnk) mt.pUnk->Release();
        if (!bVideo) continue;
        hr = pGraph->RemoveFilter(spFilter);
        if (FAILED(hr)) return hr;
        *ppFeeding = spFeeding.Detach();
        return S_OK;
    }
    return VFW_E_NOT_FOUND;
}

// Adds the filter, connects pFrom to its input and answers its output (NULL for none).
HRESULT AddAndConnect(IGraphBuilder* pGraph, IBaseFilter* pFilter, LPCWSTR pszName, IPin* pFrom, IPin** ppOut) {
    HRESULT hr = pGraph->AddFilter(pFilter, pszName);
    if (FAILED(hr)) return hr;
    hr = pGraph->ConnectDirect(pFrom, FirstPin(pFilter, PINDIR_INPUT), NULL);
    if (FAILED(hr)) return hr;
    *ppOut = FirstPin(pFilter, PINDIR_OUTPUT).Detach();
    return S_OK;
}

HRESULT AddAndConnect(IGraphBuilder* pGraph, REFCLSID clsid, LPCWSTR pszName, IPin* pFrom, IPin** ppOut) {
    CComPtr<IBaseFilter> spFilter;
    HRESULT hr = spFilter.CoCreateInstance(clsid, NULL, CLSCTX_INPROC_SERVER);
    return FAILED(hr) ? hr : AddAndConnect(pGraph, spFilter, pszName, pFrom, ppOut);
}

// The video input device of that friendly name.
HRESULT CreateCamera(const std::wstring& name, IBaseFilter** ppFilter) {
    CComPtr<ICreateDevEnum> spDevices;
    HRESULT hr = spDevices.CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER);
    if (FAILED(hr)) return hr;
    CComPtr<IEnumMoniker> spEnum;
    if (spDevices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &spEnum, 0) != S_OK) return VFW_E_NOT_FOUND;
    for (CComPtr<IMoniker> spMoniker; spEnum->Next(1, &spMoniker, NULL) == S_OK; spMoniker.Release()) {
        CComPtr<IPropertyBag> spBag;
        CComVariant name2;
        if (FAILED(spMoniker->BindToStorage(NULL, NULL, IID_IPropertyBag, (void**)&spBag)) ||
            FAILED(spBag->Read(L"FriendlyName", &name2, NULL)) || name2.vt != VT_BSTR || name != name2.bstrVal)
            continue;
        return spMoniker->BindToObject(NULL, NULL, IID_IBaseFilter, (void**)ppFilter);
    }
    return VFW_E_NOT_FOUND;
}

HRESULT PlainBuild(const Job& job, bool bStandIns, CComPtr<IGraphBuilder>& spGraph) {
    HRESULT hr = spGraph.CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER);
    if (FAILED(hr)) return hr;
    CComPtr<IPin> spVideo, spEncoded, spDecoded;
    if (job.eKind == kCamera) {
        CComPtr<IBaseFilter> spCamera;
        hr = CreateCamera(job.source, &spCamera);
        if (SUCCEEDED(hr)) hr = spGraph->AddFilter(spCamera, job.source.c_str());
        if (FAILED(hr)) return hr;
        spVideo = FirstPin(spCamera, PINDIR_OUTPUT);
        if (!bStandIns) return spGraph->Render(spVideo);
    } else if (job.eKind == kSavedGraph && bStandIns) {
        return LoadGraphFile(spGraph, job.source);
    } else {
        hr = spGraph->RenderFile(job.source.c_str(), NULL);
        if (FAILED(hr) || !bStandIns) return hr;
        hr = CutOffVideoRenderer(spGraph, &spVideo);
        if (FAILED(hr)) return hr;
    }
    hr = AddAndConnect(spGraph, CLSID_VireonEncoder, L"Morvane H264 Encoder", spVideo, &spEncoded);
    if (FAILED(hr)) return hr;
    if (job.eKind == kWriter) {
        CComPtr<IBaseFilter> spWriter;
        hr = spWriter.CoCreateInstance(CLSID_VireonMp4Writer, NULL, CLSCTX_INPROC_SERVER);
        if (FAILED(hr)) return hr;
        CComQIPtr<IFileSinkFilter> spSink(spWriter);
        hr = spSink ? spSink->SetFileName(job.output.c_str(), NULL) : E_NOINTERFACE;
        CComPtr<IPin> spNone;
        if (SUCCEEDED(hr)) hr = AddAndConnect(spGraph, spWriter, L"Morvane MPEG-4 Writer", spEncoded, &spNone);
        return hr;
    }
    hr = AddAndConnect(spGraph, CLSID_VireonDecoder, L"Morvane H264 Decoder", spEncoded, &spDecoded);
    if (SUCCEEDED(hr)) hr = spGraph->Render(spDecoded);
    return hr;
}

// Plays to the end (a live source: one second), then stops.
HRESULT PlainPlay(IGraphBuilder* pGraph, bool bLive) {
    CComQIPtr<IMediaControl> spControl(pGraph);
    CComQIPtr<IMediaEvent> spEvent(pGraph);
    if (!spControl || !spEvent) return E_NOINTERFACE;
    HRESULT hr = spControl->Run();
    if (FAILED(hr)) return hr;
    long lCode = EC_COMPLETE;
    if (bLive) {
        PumpMessages(1000);
    } else {
        const DWORD dwStart = ::GetTickCount();
        while ((hr = spEvent->WaitForCompletion(50, &lCode)) == E_ABORT && ::GetTickCount() - dwStart < 120000)
            PumpMessages(0);
    }
    spControl->Stop();
    if (FAILED(hr)) return hr;
    return lCode == EC_COMPLETE ? S_OK : E_FAIL;
}

// Shows the video window of the graph where there is one, as the dialog does.
void ShowVideoWindow(IGraphBuilder* pGraph) {
    CComQIPtr<IVideoWindow> spWindow(pGraph);
    if (spWindow) spWindow->put_Visible(OATRUE);
}

// Every how many build/play/stop cycles "Show graph" is pressed (0: never).
int g_nShowGraphEvery = 0;

// GraphEdit attached to a graph with plain calls, as "Show graph" does it: the graph
// registered in the running object table, GraphEdit started and waited for until it accepts
// input, its connect command and the graph's line chosen in the connect dialog; Close() revokes
// the registration and ends GraphEdit, serving its calls until it has ended, then cuts off
// the graph's objects from what GraphEdit may have left holding them.
class CPlainGraphEdit {
public:
    ~CPlainGraphEdit() { Close(); }

    const char* Attach(IGraphBuilder* pGraph) {
        m_spGraph = pGraph;
        CComPtr<IRunningObjectTable> spTable;
        CComPtr<IMoniker> spMoniker;
        WCHAR szName[64];
        ::wsprintfW(szName, L"FilterGraph %08x pid %08x", (DWORD)(DWORD_PTR)pGraph, ::GetCurrentProcessId());
        if (FAILED(::GetRunningObjectTable(0, &spTable)) || FAILED(::CreateItemMoniker(L"!", szName, &spMoniker)) ||
            FAILED(spTable->Register(0, pGraph, spMoniker, &m_dwCookie)))
            return "the graph could not be registered";
        WCHAR szPath[MAX_PATH] = {};
        DWORD cb = sizeof szPath - sizeof(WCHAR);
        if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Shared Tools\\Graphedit", L"Path",
                           RRF_RT_REG_SZ, NULL, szPath, &cb) != ERROR_SUCCESS)
            return "GraphEdit is not registered";
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        if (!::CreateProcessW(szPath, NULL, NULL, NULL, FALSE, 0, NULL, NULL, &si, &m_pi))
            return "GraphEdit did not start";
        if (::WaitForInputIdle(m_pi.hProcess, 10000) != 0) return "GraphEdit did not accept input";
        HWND hWndMain = NULL;
        PumpUntil([&] { return (hWndMain = MainWindow()) != NULL; }, 10000);
        if (hWndMain == NULL) return "GraphEdit has no main window";
        ::PostMessageW(hWndMain, WM_COMMAND, MAKEWPARAM(0x8034, 1), 0);
        WCHAR szLine[64];
        ::wsprintfW(szLine, L"IFilterGraph = %08x", (DWORD)(DWORD_PTR)pGraph);
        const bool bChosen = PumpUntil([&] {
            HWND hList = ConnectList(hWndMain);
            if (hList == NULL) return false;
            const int cLines = (int)::SendMessageW(hList, LB_GETCOUNT, 0, 0);
            for (int i = 0; i < cLines; ++i) {
                WCHAR sz[256] = {};
                if ((int)::SendMessageW(hList, LB_GETTEXTLEN, i, 0) >= 256) continue;
                ::SendMessageW(hList, LB_GETTEXT, i, (LPARAM)sz);
                if (std::wcsstr(sz, std::wcsstr(szName, L"pid ")) == NULL || std::wcsstr(sz, szLine) == NULL) continue;
                ::SendMessageW(hList, LB_SETCURSEL, i, 0);
                ::PostMessageW(::GetParent(hList), WM_COMMAND, IDOK, 0);
                return true;
            }
            return false;
        }, 10000);
        if (!bChosen) return "the graph is not in GraphEdit's list";
        const bool bAttached = PumpUntil([&] {
            WCHAR sz[256] = {};
            ::GetWindowTextW(hWndMain, sz, 256);
            return std::wcsstr(sz, L"attached to") != NULL;
        }, 30000);
        return bAttached ? NULL : "GraphEdit did not attach";
    }

    void Close() {
        if (m_dwCookie != 0) {
            CComPtr<IRunningObjectTable> spTable;
            if (SUCCEEDED(::GetRunningObjectTable(0, &spTable))) spTable->Revoke(m_dwCookie);
            m_dwCookie = 0;
        }
        if (m_pi.hThread != NULL) {
            ::PostThreadMessageW(m_pi.dwThreadId, WM_QUIT, 0, 0);
            // Until GraphEdit has ended: one that ends later, with nothing to end its hold on
            // the graph, keeps the whole graph alive in this process.
            DWORD dwIndex = 0;
            if (::CoWaitForMultipleHandles(0, 60000, 1, &m_pi.hThread, &dwIndex) != S_OK)
                std::fprintf(stderr, "GraphEdit did not end within 60 s\n");
            ::CloseHandle(m_pi.hThread);
            ::CloseHandle(m_pi.hProcess);
            m_pi = PROCESS_INFORMATION();
        }
        // A GraphEdit that ended in the middle of a read ended holding proxies of the graph,
        // its filters or pins, and the platform never lets their stubs go: the whole graph
        // would stay alive in this process (seen about once in 30 cycles). Cut off, as the
        // dialog cuts them off.
        if (m_spGraph) {
            CComPtr<IEnumFilters> spFilters;
            if (SUCCEEDED(m_spGraph->EnumFilters(&spFilters))) {
                for (CComPtr<IBaseFilter> spFilter; spFilters->Next(1, &spFilter, NULL) == S_OK; spFilter.Release()) {
                    CComPtr<IEnumPins> spPins;
                    if (SUCCEEDED(spFilter->EnumPins(&spPins)))
                        for (CComPtr<IPin> spPin; spPins->Next(1, &spPin, NULL) == S_OK; spPin.Release())
                            ::CoDisconnectObject(spPin, 0);
                    ::CoDisconnectObject(spFilter, 0);
                }
            }
            ::CoDisconnectObject(m_spGraph, 0);
            m_spGraph.Release();
        }
    }

private:
    HWND MainWindow() const {
        struct Find {
            DWORD dwPid;
            HWND hWnd;
        } find = {m_pi.dwProcessId, NULL};
        ::EnumWindows([](HWND hWnd, LPARAM lParam) -> BOOL {
            Find* pFind = (Find*)lParam;
            DWORD dwPid = 0;
            ::GetWindowThreadProcessId(hWnd, &dwPid);
            const DWORD dwStyle = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
            if (dwPid != pFind->dwPid || ((DWORD)::GetWindowLongW(hWnd, GWL_STYLE) & dwStyle) != dwStyle ||
                !::IsWindowVisible(hWnd))
                return TRUE;
            pFind->hWnd = hWnd;
            return FALSE;
        }, (LPARAM)&find);
        return find.hWnd;
    }

    // The list box of the connect dialog, a window of GraphEdit's owned by its main window.
    HWND ConnectList(HWND hWndMain) const {
        struct Find {
            DWORD dwPid;
            HWND hWndMain, hList;
        } find = {m_pi.dwProcessId, hWndMain, NULL};
        ::EnumWindows([](HWND hWnd, LPARAM lParam) -> BOOL {
            Find* pFind = (Find*)lParam;
            DWORD dwPid = 0;
            ::GetWindowThreadProcessId(hWnd, &dwPid);
            if (dwPid != pFind->dwPid || ::GetParent(hWnd) != pFind->hWndMain) return TRUE;
            pFind->hList = ::FindWindowExW(hWnd, NULL, L"ListBox", NULL);
            return pFind->hList == NULL;
        }, (LPARAM)&find);
        return find.hList;
    }

    DWORD m_dwCookie = 0;
    PROCESS_INFORMATION m_pi = {};
    CComPtr<IGraphBuilder> m_spGraph;
};

int RunPlain(const Job& job, bool bStandIns, int cCycles) {
    for (int bPlay = 0; bPlay < 2; ++bPlay) {
        for (int i = 1; i <= cCycles; ++i) {
            HRESULT hr;
            const char* pszFailure = NULL;
            {
                CComPtr<IGraphBuilder> spGraph;
                CPlainGraphEdit graphEdit;
                hr = PlainBuild(job, bStandIns, spGraph);
                if (SUCCEEDED(hr)) ShowVideoWindow(spGraph);
                if (SUCCEEDED(hr) && bPlay && bStandIns && g_nShowGraphEvery > 0 && i % g_nShowGraphEvery == 0)
                    pszFailure = graphEdit.Attach(spGraph);
                if (SUCCEEDED(hr) && pszFailure == NULL && bPlay) hr = PlainPlay(spGraph, job.eKind == kCamera);
                graphEdit.Close();
            }
            if (FAILED(hr) || pszFailure != NULL) {
                if (pszFailure != NULL)
                    std::fprintf(stderr, "play cycle %d failed: %s\n", i, pszFailure);
                else
                    std::fprintf(stderr, "%s cycle %d failed: 0x%08lX\n", bPlay ? "play" : "build", i, (unsigned long)hr);
                return 1;
            }
            PumpMessages(50);
            Report(bPlay ? "play" : "build", i);
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------
// The bench's own dialog, worked as a tester works it.

// The command a click on the button sends (the "Test" button is hidden, so it cannot be clicked).
void Press(HWND hDlg, int nID) {
    ::SendMessageW(hDlg, WM_COMMAND, MAKEWPARAM(nID, BN_CLICKED), (LPARAM)::GetDlgItem(hDlg, nID));
}

void Type(HWND hDlg, int nID, const std::wstring& text) {
    ::SendDlgItemMessageW(hDlg, nID, WM_SETTEXT, 0, (LPARAM)text.c_str());
}

void Check(HWND hDlg, int nID, bool bChecked) {
    if ((::IsDlgButtonChecked(hDlg, nID) == BST_CHECKED) != bChecked)
        ::SendDlgItemMessageW(hDlg, nID, BM_CLICK, 0, 0);
}

bool SetUp(HWND hDlg, const Job& job) {
    if (job.eKind == kCamera) {
        ::SendDlgItemMessageW(hDlg, IDC_SOURCE_LIVE, BM_CLICK, 0, 0);
        HWND hList = ::GetDlgItem(hDlg, IDC_LIVE_SOURCES);
        const int nItem = (int)::SendMessageW(hList, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)job.source.c_str());
        if (nItem < 0) return false;
        ::SendMessageW(hList, CB_SETCURSEL, nItem, 0);
        ::SendMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDC_LIVE_SOURCES, CBN_SELCHANGE), (LPARAM)hList);
    } else {
        ::SendDlgItemMessageW(hDlg, IDC_SOURCE_FILE, BM_CLICK, 0, 0);
        Type(hDlg, IDC_SOURCE_PATH, job.source);
    }
    Check(hDlg, IDC_OUTPUT_CHECK, job.eKind == kWriter);
    Type(hDlg, IDC_OUTPUT_PATH, job.eKind == kWriter ? job.output : std::wstring());
    Check(hDlg, IDC_SHOW_PREVIEW, false);
    return true;
}

int RunDialog(const Job& job, int cCycles) {
    int nResult = 0;
    CMainDialog dlg;
    RunModal(dlg, [&](HWND hDlg) {
        MessageBoxCatcher boxes;
        if (!SetUp(hDlg, job)) {
            std::fprintf(stderr, "%ls is not listed\n", job.source.c_str());
            nResult = 1;
            return;
        }
        for (int bPlay = 0; bPlay < 2 && nResult == 0; ++bPlay) {
            for (int i = 1; i <= cCycles && nResult == 0; ++i) {
                boxes.Clear();
                Press(hDlg, IDC_BUILD_GRAPH);
                bool bOk = boxes.Boxes().empty();
                const char* pszFailure = NULL;
                if (bOk && bPlay && g_nShowGraphEvery > 0 && i % g_nShowGraphEvery == 0) {
                    // "Show graph": GraphEdit attaches to the graph and stays through the run;
                    // dropping the graph closes it.
                    Press(hDlg, IDC_SHOW_GRAPH);
                    const HWND hGraphEdit = dlg.m_graph.m_graphEdit.m_hWndMain;
                    bOk = boxes.Boxes().empty() && PumpUntil([&] {
                        WCHAR sz[256] = {};
                        ::GetWindowTextW(hGraphEdit, sz, 256);
                        return std::wcsstr(sz, L"attached to") != NULL;
                    }, 30000);
                    if (!bOk) pszFailure = "GraphEdit did not attach";
                }
                if (bOk && bPlay) {
                    Press(hDlg, IDC_PLAY);
                    if (job.eKind == kCamera) {
                        PumpMessages(1000);
                        bOk = boxes.Boxes().empty();
                    } else {
                        bOk = PumpUntil([&] { return !boxes.Boxes().empty(); }, 120000) &&
                              boxes.Boxes()[0].text == L"The end";
                    }
                    Press(hDlg, IDC_STOP);
                }
                Press(hDlg, IDC_TEST);
                if (!bOk) {
                    std::fprintf(stderr, "%s cycle %d failed: %ls\n", bPlay ? "play" : "build", i,
                                 !boxes.Boxes().empty() ? boxes.Boxes()[0].text.c_str()
                                 : pszFailure                ? L"GraphEdit did not attach"
                                                             : L"no end");
                    nResult = 1;
                    break;
                }
                PumpMessages(50);
                Report(bPlay ? "play" : "build", i);
            }
        }
    });
    return nResult;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::map<std::wstring, GraphKind> kinds = {
        {L"writer", kWriter}, {L"render", kRender}, {L"grf", kSavedGraph}, {L"camera", kCamera}};
    if (argc < 5 || argc > 6 || kinds.find(argv[2]) == kinds.end()) {
        std::fprintf(stderr, "usage: quorlin-soak.exe dialog|plain|platform writer|render|grf|camera "
                             "<source> <cycles> [<output file>]\n");
        return 2;
    }
    const std::wstring way = argv[1];
    const Job job = {kinds.at(argv[2]), argv[3], argc > 5 ? argv[5] : L""};
    const int cCycles = _wtoi(argv[4]);
    if (job.eKind == kWriter && job.output.empty()) {
        std::fprintf(stderr, "the writer needs an output file\n");
        return 2;
    }
    if (!CounterWorks()) return 3;
    if (HostPid() != 0)
        std::fprintf(stderr, "host process %lu, wineserver resident %lu KB\n", HostPid(), AnonymousResidentKB(L"/proc/self"));
    else
        std::fprintf(stderr, "host process not told apart: its resident memory reads 0\n");
    const auto set = [](const wchar_t* pszName) { return _wgetenv(pszName) && *_wgetenv(pszName); };
    g_bBlockCensus = set(L"QUORLIN_SOAK_BLOCKS");
    if (set(L"QUORLIN_SOAK_SMAPS")) g_smapsFolder = _wgetenv(L"QUORLIN_SOAK_SMAPS");
    g_smapsTag = way + L"-" + argv[2] + L"-";
    if (set(L"QUORLIN_SOAK_SHOW_GRAPH")) g_nShowGraphEvery = _wtoi(_wgetenv(L"QUORLIN_SOAK_SHOW_GRAPH"));
    if (FAILED(::CoInitialize(NULL))) return 1;
    Report("start", 0);
    int nResult = 2;
    if (way == L"dialog") nResult = RunDialog(job, cCycles);
    else if (way == L"plain") nResult = RunPlain(job, true, cCycles);
    else if (way == L"platform") nResult = RunPlain(job, false, cCycles);
    ReportSurvivingBlocks();
    ::CoUninitialize();
    return nResult;
}
