#include "utils/console.h"

#include "utils/terminal.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <iostream>
#include <streambuf>
#include <string_view>
#include <utility>

namespace kelvane::utils {

namespace {

// Accepts every character and keeps none.
class NullBuffer : public std::streambuf {
protected:
    int_type overflow(int_type character) override { return traits_type::not_eof(character); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

NullBuffer nullBuffer;
std::ostream discardingStream(&nullBuffer);

// Only the foreground changes, so whatever background the user chose stays.
constexpr std::string_view defaultForeground = "\x1b[39m";
constexpr std::string_view brightRedForeground = "\x1b[91m";

constexpr std::string_view pausePrompt = "Для продолжения нажмите любую клавишу . . .";

ColorOutput& colorOutput()
{
    static ColorOutput output{&std::cout, [] { return isatty(STDOUT_FILENO) == 1; }};
    return output;
}

std::string_view currentColor = defaultForeground;
// The colours to bring back, most recent last.
std::deque<std::string_view> savedColors;

void showColor(std::ostream& stream, std::string_view color)
{
    // Text written so far keeps the colour it was written in.
    stream.flush();
    *colorOutput().stream << color << std::flush;
    currentColor = color;
}

void readOneByte(int fd)
{
    char key = 0;
    while (read(fd, &key, 1) < 0 && errno == EINTR) {
    }
}

}  // namespace

std::ostream& consoleOut = std::cout;
std::ostream& nullOut = discardingStream;

std::ostream& setErrorColor(std::ostream& stream)
{
    if (!colorOutput().isTerminal())
        return stream;
    savedColors.push_back(currentColor);
    showColor(stream, brightRedForeground);
    return stream;
}

std::ostream& restoreColor(std::ostream& stream)
{
    if (!colorOutput().isTerminal() || savedColors.empty())
        return stream;
    const std::string_view previous = savedColors.back();
    savedColors.pop_back();
    showColor(stream, previous);
    return stream;
}

ColorOutput replaceColorOutput(ColorOutput output)
{
    return std::exchange(colorOutput(), std::move(output));
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

void pause()
{
    // A script or CI run has nobody to press a key.
    if (isatty(STDIN_FILENO) == 1)
        waitForKey(STDIN_FILENO, consoleOut);
}

}  // namespace kelvane::utils
