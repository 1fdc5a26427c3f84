#include "childRun.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace {

double seconds(const timeval& time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

[[noreturn]] void execInChild(const std::string& program, const std::vector<std::string>& args,
                              const std::filesystem::path& workDir)
{
    const int devNull = open("/dev/null", O_RDWR);
    for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        dup2(devNull, stream);
    if (chdir(workDir.c_str()) != 0)
        _exit(127);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
}

}  // namespace

ChildUsage runChild(const std::string& program, const std::vector<std::string>& args,
                    const std::filesystem::path& workDir)
{
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0)
        execInChild(program, args, workDir);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        throw std::runtime_error("wait4 failed for " + program);
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;

    ChildUsage result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.wallSeconds = wall.count();
    result.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    result.peakRssKib = usage.ru_maxrss;
    return result;
}
