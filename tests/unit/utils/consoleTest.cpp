#include "utils/console.h"
#include "utils/terminal.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>

namespace {

using kelvane::utils::restoreColor;
using kelvane::utils::setErrorColor;

const std::string red = "\x1b[91m";
const std::string normal = "\x1b[39m";

struct ColorCase {
    const char* name;
    bool terminal;
    std::function<void(std::ostream&)> write;
    std::string shown;
};

// The terminal is a string stream here; the text goes to the same stream, so
// the escape sequences appear exactly where they take effect.
class ErrorColor : public testing::TestWithParam<ColorCase> {
protected:
    void SetUp() override
    {
        previous_ = kelvane::utils::replaceColorOutput({&terminal_, [this] { return GetParam().terminal; }});
    }
    void TearDown() override { kelvane::utils::replaceColorOutput(previous_); }

    std::ostringstream terminal_;

private:
    kelvane::utils::ColorOutput previous_;
};

TEST_P(ErrorColor, ColoursOnlyATerminalAndRestoresWhatWasBefore)
{
    GetParam().write(terminal_);
    EXPECT_EQ(terminal_.str(), GetParam().shown);
}

void nested(std::ostream& out)
{
    out << "a" << setErrorColor << "b" << setErrorColor << "c" << restoreColor << "d" << restoreColor << "e";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ErrorColor,
    testing::Values(ColorCase{"NestedOnTerminal", true, nested, "a" + red + "b" + red + "c" + red + "d" + normal + "e"},
                    ColorCase{"RestoreWithoutSet", true,
                              [](std::ostream& out) { out << "a" << restoreColor << "b"; }, "ab"},
                    ColorCase{"Redirected", false, nested, "abcde"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NullOut, DiscardsWithoutError)
{
    kelvane::utils::nullOut << "Проверка " << 42 << std::endl;
    EXPECT_TRUE(kelvane::utils::nullOut.good());
}

TEST(WaitForKey, TakesOneKeyAndGivesTheTerminalBack)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(terminal, &before), 0);
    ASSERT_EQ(write(master, "x", 1), 1);

    // A wait for a whole line would never end without a newline: fail instead of hanging.
    alarm(10);
    std::ostringstream prompt;
    kelvane::utils::waitForKey(terminal, prompt);
    alarm(0);

    termios after{};
    ASSERT_EQ(tcgetattr(terminal, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
    EXPECT_EQ(prompt.str(), "Для продолжения нажмите любую клавишу . . .\n");
    close(terminal);
    close(master);
}

}  // namespace
