#include "ExternalTools.h"

#include <cstdio>
#include <cstdlib>
#include <map>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace testtools {

std::string TempDir() {
    const char* env = std::getenv("QUORLIN_TEST_TMP");
    if (env && *env) return env;
#ifdef _WIN32
    wchar_t buf[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH, buf);
    std::string out;
    for (DWORD i = 0; i < n; ++i) out.push_back(static_cast<char>(buf[i]));
    while (!out.empty() && (out.back() == '\\' || out.back() == '/')) out.pop_back();
    return out;
#else
    const char* t = std::getenv("TMPDIR");
    return (t && *t) ? t : "/tmp";
#endif
}

std::string TempPath(const std::string& name) {
#ifdef _WIN32
    const unsigned long pid = GetCurrentProcessId();
    const char sep = '\\';
#else
    const unsigned long pid = static_cast<unsigned long>(getpid());
    const char sep = '/';
#endif
    return TempDir() + sep + "vcore_" + std::to_string(pid) + "_" + name;
}

#ifdef _WIN32
namespace {
// Wine runs Linux programs given by their Unix path; file arguments on the
// Z: drive are handed over as Unix paths as well.
std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }
std::string ToUnixPath(const std::string& a) {
    if (a.size() > 2 && (a[0] == 'Z' || a[0] == 'z') && a[1] == ':') {
        std::string out = a.substr(2);
        for (char& c : out)
            if (c == '\\') c = '/';
        return out;
    }
    return a;
}
} // namespace

ToolResult RunTool(const std::string& tool, const std::vector<std::string>& args) {
    ToolResult r;
    std::string cmd = "/usr/bin/" + tool;
    for (const std::string& a : args) cmd += " \"" + ToUnixPath(a) + "\"";
    const std::string logPath = TempPath(tool + "_out.txt");
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE log = CreateFileW(Widen(logPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) return r;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = log;
    si.hStdError = log;
    PROCESS_INFORMATION pi{};
    std::wstring wcmd = Widen(cmd);
    if (!CreateProcessW(nullptr, &wcmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(log);
        return r;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CloseHandle(log);
    r.exitCode = static_cast<int>(code);
    if (FILE* f = std::fopen(logPath.c_str(), "rb")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) r.output.append(buf, n);
        std::fclose(f);
    }
    std::remove(logPath.c_str());
    return r;
}
#else
ToolResult RunTool(const std::string& tool, const std::vector<std::string>& args) {
    ToolResult r;
    std::string cmd = tool;
    for (const std::string& a : args) {
        std::string q = "'";
        for (char c : a) {
            if (c == '\'') q += "'\\''";
            else q += c;
        }
        cmd += " " + q + "'";
    }
    cmd += " 2>&1 </dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), p)) > 0) r.output.append(buf, n);
    const int st = pclose(p);
    r.exitCode = (st != -1 && WIFEXITED(st)) ? WEXITSTATUS(st) : -1;
    if (r.exitCode == 127) r.exitCode = -1; // shell: command not found
    return r;
}
#endif

bool ToolAvailable(const std::string& tool) {
    static std::map<std::string, bool> cache;
    auto it = cache.find(tool);
    if (it != cache.end()) return it->second;
    const bool ok = RunTool(tool, {"-version"}).exitCode == 0;
    cache[tool] = ok;
    return ok;
}

} // namespace testtools
