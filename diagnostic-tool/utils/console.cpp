#include "utils/console.h"

#include "utils/terminal.h"

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

ColorOutput& colorOutput()
{
    static ColorOutput output{&std::cout, standardOutputIsTerminal};
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

void pause()
{
    // A script or CI run has nobody to press a key.
    if (standardInputIsTerminal())
        waitForKey(standardInput, consoleOut);
}

}  // namespace kelvane::utils
