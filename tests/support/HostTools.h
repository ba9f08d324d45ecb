// Access from the Windows test programs to the Linux side: scratch space, paths and tools
// such as ffmpeg and ffprobe.
#pragma once

#include <string>

// The scratch folder of the test run (a Linux path); created on first use.
std::string TestTmpDir();
// A fresh, unique Linux path inside TestTmpDir() ending in suffix.
std::string UniqueTmpPath(const std::string& suffix);

// Linux path -> the path Windows programs see (drive Z: is the root file system), and back.
std::wstring ToWinPath(const std::string& unixPath);
std::string ToUnixPath(const std::wstring& winPath);

// Runs a shell command on the Linux side and waits for it (up to timeoutMs).
// Returns its exit status, or -1 when it could not be started or did not finish.
// When output is given, it receives what the command wrote to its standard output.
// bPumpMessages keeps this thread's messages flowing meanwhile: a thread whose objects another
// process is calling (a graph GraphEdit is attached to) must go on serving those calls.
int RunHost(const std::string& command, std::string* output = nullptr, int timeoutMs = 120000,
            bool bPumpMessages = false);

// Reads and writes whole files given by Linux path.
bool ReadHostFile(const std::string& unixPath, std::string* contents);
bool WriteHostFile(const std::string& unixPath, const std::string& contents);
bool HostFileExists(const std::string& unixPath);
