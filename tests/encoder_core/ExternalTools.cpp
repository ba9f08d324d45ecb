#include "ExternalTools.h"

#include <cstdio>
#include <cstdlib>
#include <map>

#ifdef _WIN32
#include <windows.h>
#if defined(VCORE_TESTS_WITH_HOSTTOOLS)
#include "tests/support/HostTools.h"
#endif
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace testtools {

#if defined(_WIN32)
// Under the project's harness the Linux side is reached through its host
// tools; without them no external tool is available and such tests skip.
#if defined(VCORE_TESTS_WITH_HOSTTOOLS)
namespace {
std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }
// Windows path (Z:\...) -> Linux path for the tool's arguments.
std::string ArgToUnix(const std::string& a) {
    if (a.size() > 2 && (a[0] == 'Z' || a[0] == 'z') && a[1] == ':') return ToUnixPath(std::wstring(a.begin(), a.end()));
    return a;
}

} // namespace

std::string TempDir() { return Narrow(ToWinPath(TestTmpDir())); }

ToolResult RunTool(const std::string& tool, const std::vector<std::string>& args) {
    ToolResult r;
    std::string cmd = tool;
    for (const std::string& a : args) {
        std::string q = "'";
        for (char c : ArgToUnix(a)) {
            if (c == '\'') q += "'\\''";
            else q += c;
        }
        cmd += " " + q + "'";
    }
    cmd += " 2>&1 </dev/null";
    r.exitCode = RunHost(cmd, &r.output, 120000);
    if (r.exitCode == 127) r.exitCode = -1;
    return r;
}
#else
std::string TempDir() {
    const char* env = std::getenv("QUORLIN_TEST_TMP");
    if (env && *env) return env;
    const char* t = std::getenv("TEMP");
    return (t && *t) ? t : ".";
}

ToolResult RunTool(const std::string&, const std::vector<std::string>&) { return ToolResult{}; }
#endif

std::string TempPath(const std::string& name) {
    return TempDir() + "\\vcore_" + std::to_string(static_cast<unsigned long>(GetCurrentProcessId())) + "_" + name;
}

#else // Linux and other POSIX hosts

std::string TempDir() {
    const char* env = std::getenv("QUORLIN_TEST_TMP");
    if (env && *env) return env;
    const char* t = std::getenv("TMPDIR");
    return (t && *t) ? t : "/tmp";
}

std::string TempPath(const std::string& name) {
    return TempDir() + "/vcore_" + std::to_string(static_cast<unsigned long>(getpid())) + "_" + name;
}

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
