#pragma once

#include <filesystem>
#include <string>
#include <vector>

// What one finished program cost, as the kernel counted it.
struct ChildUsage {
    int exitCode = -1;
    double wallSeconds = 0;
    double cpuSeconds = 0;  // user and system
    long peakRssKib = 0;
};

// Runs program with args in workDir, all standard streams on /dev/null, and
// waits for it: wall time from fork to exit, CPU time and peak resident set
// size from wait4.
ChildUsage runChild(const std::string& program, const std::vector<std::string>& args,
                    const std::filesystem::path& workDir);
