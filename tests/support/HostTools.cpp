#include "tests/support/HostTools.h"

#include "tests/support/WindowTools.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

std::wstring Widen(const std::string& s) {
    if (s.empty()) return std::wstring();
    int n = ::MultiByteToWideChar(CP_UTF8, 0, s.c_str(), (int)s.size(), nullptr, 0);
    std::wstring out(n, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, s.c_str(), (int)s.size(), &out[0], n);
    return out;
}

std::string NarrowUtf8(const std::wstring& s) {
    if (s.empty()) return std::string();
    int n = ::WideCharToMultiByte(CP_UTF8, 0, s.c_str(), (int)s.size(), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, s.c_str(), (int)s.size(), &out[0], n, nullptr, nullptr);
    return out;
}

}  // namespace

std::wstring ToWinPath(const std::string& unixPath) {
    std::wstring w = L"Z:" + Widen(unixPath);
    for (auto& c : w)
        if (c == L'/') c = L'\\';
    return w;
}

std::string ToUnixPath(const std::wstring& winPath) {
    std::wstring w = winPath;
    if (w.size() >= 2 && (w[0] == L'Z' || w[0] == L'z') && w[1] == L':') w = w.substr(2);
    for (auto& c : w)
        if (c == L'\\') c = L'/';
    return NarrowUtf8(w);
}

std::string TestTmpDir() {
    static std::string dir;
    if (dir.empty()) {
        const char* env = std::getenv("QUORLIN_TEST_TMP");
        dir = (env && *env) ? env : "/tmp/quorlin-tests";
        std::string cmdDir = dir;
        // Create it through the Windows view of the path; parents first.
        std::wstring w = ToWinPath(cmdDir);
        for (size_t i = 3; i <= w.size(); ++i)
            if (i == w.size() || w[i] == L'\\') ::CreateDirectoryW(w.substr(0, i).c_str(), nullptr);
    }
    return dir;
}

std::string UniqueTmpPath(const std::string& suffix) {
    static LONG counter = 0;
    char name[96];
    std::snprintf(name, sizeof name, "/t%lu-%lu-%ld", (unsigned long)::GetCurrentProcessId(),
                  (unsigned long)::GetTickCount(), (long)::InterlockedIncrement(&counter));
    return TestTmpDir() + name + suffix;
}

bool ReadHostFile(const std::string& unixPath, std::string* contents) {
    FILE* f = _wfopen(ToWinPath(unixPath).c_str(), L"rb");
    if (!f) return false;
    contents->clear();
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) contents->append(buf, n);
    std::fclose(f);
    return true;
}

bool WriteHostFile(const std::string& unixPath, const std::string& contents) {
    FILE* f = _wfopen(ToWinPath(unixPath).c_str(), L"wb");
    if (!f) return false;
    bool ok = std::fwrite(contents.data(), 1, contents.size(), f) == contents.size();
    return std::fclose(f) == 0 && ok;
}

bool HostFileExists(const std::string& unixPath) {
    return ::GetFileAttributesW(ToWinPath(unixPath).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Wine starts Linux programs but hands back no process handle to wait on, so the command
// runs from a script that leaves its exit status in a file, which is polled for.
int RunHost(const std::string& command, std::string* output, int timeoutMs, bool bPumpMessages) {
    const std::string base = UniqueTmpPath("");
    const std::string script = base + ".sh", out = base + ".out", rc = base + ".rc";
    std::string body = "exec >'" + out + "'\n(" + command + ")\necho $? > '" + rc + ".tmp'\nmv '" +
                       rc + ".tmp' '" + rc + "'\n";
    if (!WriteHostFile(script, body)) return -1;

    // The shell is a Linux program: it gets the script's Linux path.
    std::wstring cmdLine = L"Z:\\bin\\sh \"" + Widen(script) + L"\"";
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(nullptr, &cmdLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    // For a Linux program Wine hands back no process handle and a "thread handle" that is
    // whatever its stack held: closing it closed handles of this process at random.
    if (pi.hProcess) {
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }

    int status = -1;
    const DWORD start = ::GetTickCount();
    std::string text;
    while ((int)(::GetTickCount() - start) < timeoutMs) {
        if (ReadHostFile(rc, &text) && !text.empty()) {
            status = std::atoi(text.c_str());
            break;
        }
        if (bPumpMessages)
            PumpMessages(20);
        else
            ::Sleep(20);
    }
    if (output) ReadHostFile(out, output);
    ::DeleteFileW(ToWinPath(script).c_str());
    ::DeleteFileW(ToWinPath(out).c_str());
    ::DeleteFileW(ToWinPath(rc).c_str());
    return status;
}
