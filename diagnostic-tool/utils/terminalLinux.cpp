#include "utils/terminal.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace kelvane::utils {

namespace {

constexpr std::string_view pausePrompt = "Для продолжения нажмите любую клавишу . . .";

void readOneByte(int fd)
{
    char key = 0;
    while (read(fd, &key, 1) < 0 && errno == EINTR) {
    }
}

}  // namespace

const int standardInput = STDIN_FILENO;

bool standardInputIsTerminal()
{
    return isatty(STDIN_FILENO) == 1;
}

bool standardOutputIsTerminal()
{
    return isatty(STDOUT_FILENO) == 1;
}

void waitForKey(int inputFd, std::ostream& prompt)
{
    termios saved{};
    if (tcgetattr(inputFd, &saved) != 0)
        return;
    prompt << pausePrompt << std::flush;
    termios oneKey = saved;
    oneKey.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    oneKey.c_cc[VMIN] = 1;
    oneKey.c_cc[VTIME] = 0;
    tcsetattr(inputFd, TCSANOW, &oneKey);
    readOneByte(inputFd);
    tcsetattr(inputFd, TCSANOW, &saved);
    prompt << std::endl;
}

}  // namespace kelvane::utils
