// Access to external programs (ffmpeg, ffprobe) and scratch space for the
// encoder core tests. Kept separate so the test harness can swap it out.
// Linux: popen. Windows builds inside the project use the harness's host
// tools (tests/support/HostTools.h) to run the Linux programs; elsewhere on
// Windows no tool is available and the tests that need one skip.
#pragma once

#include <string>
#include <vector>

namespace testtools {

struct ToolResult {
    int exitCode = -1;   // -1 when the tool could not be started
    std::string output;  // stdout and stderr together
};

// Scratch directory: $QUORLIN_TEST_TMP if set, else the system temp dir.
std::string TempDir();
// Path of a file in the scratch directory, made unique for this process.
std::string TempPath(const std::string& name);

// True when the tool can be run (it prints its version successfully).
bool ToolAvailable(const std::string& tool);
// Runs "tool args..." and waits for it. File arguments are plain paths as
// returned by TempPath.
ToolResult RunTool(const std::string& tool, const std::vector<std::string>& args);

} // namespace testtools
