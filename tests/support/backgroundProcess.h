#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// A program started in the background for the length of a test (a daemon,
// a virtual token). Its standard error goes to a file that can be read at
// any time; standard input and output are /dev/null. The destructor stops
// it if it still runs.
class BackgroundProcess {
public:
    // program is looked up in PATH when it has no slash.
    BackgroundProcess(const std::string& program, const std::vector<std::string>& args);
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    bool running();
    // SIGTERM, then waits for the exit (SIGKILL after 10 s). Returns the exit
    // code, or 128 + the signal that ended it.
    int stop();
    std::string errorOutput() const;

private:
    void reap(int status);

    pid_t pid_;
    std::filesystem::path errorFile_;
    std::optional<int> exitCode_;
};
