#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

// The outcome of one finished subprocess.
struct ProcessResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Variables set for a subprocess on top of this process's environment.
using Environment = std::map<std::string, std::string>;

// Runs program with args in workDir, standard input from /dev/null, and waits
// for it (killed after timeoutSeconds).
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::filesystem::path& workDir, int timeoutSeconds = 60,
                         const Environment& environment = {});

// A fresh temporary directory, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};
