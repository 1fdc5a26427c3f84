#include "backgroundProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

BackgroundProcess::BackgroundProcess(const std::string& program, const std::vector<std::string>& args)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "kvdiag-stderr-XXXXXX").string();
    const int errorFd = mkstemp(pattern.data());
    if (errorFd < 0)
        throw std::runtime_error("mkstemp failed");
    errorFile_ = pattern;

    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        const int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, STDIN_FILENO);
        dup2(devNull, STDOUT_FILENO);
        dup2(errorFd, STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execvp(program.c_str(), argv.data());
        _exit(127);
    }
    close(errorFd);
}

BackgroundProcess::~BackgroundProcess()
{
    stop();
    std::error_code ignored;
    std::filesystem::remove(errorFile_, ignored);
}

void BackgroundProcess::reap(int status)
{
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool BackgroundProcess::running()
{
    int status = 0;
    if (!exitCode_ && waitpid(pid_, &status, WNOHANG) == pid_)
        reap(status);
    return !exitCode_;
}

int BackgroundProcess::stop()
{
    if (!running())
        return *exitCode_;
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (running()) {
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        reap(status);
    }
    return *exitCode_;
}

std::string BackgroundProcess::errorOutput() const
{
    std::ifstream in(errorFile_);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
