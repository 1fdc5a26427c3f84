#include "caseName.h"
#include "process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <type_traits>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;

using Args = std::vector<std::string>;

// "Args_diagnose_help" for the arguments diagnose --help.
std::string argsName(const Args& args)
{
    std::string line;
    for (const std::string& arg : args)
        line += arg + " ";
    return caseName("Args", line);
}

template <class Case>
std::string caseArgsName(const testing::TestParamInfo<Case>& info)
{
    if constexpr (std::is_same_v<Case, Args>)
        return argsName(info.param);
    else
        return argsName(info.param.args);
}

const std::string header =
    "Утилита диагностики Kelvane v" KVDIAG_VERSION "\nИдет диагностика токена.\nПожалуйста, подождите...\n";
const std::string generalOptions = "Общие параметры:\n";

// What a user sees when no PC/SC service runs: the context cannot be established.
const std::string noPcscService = "Ошибка: some pcsc error acquired:-2146435043(0x8010001d)\n";

// Standard input is /dev/null: a run that waited for a key would be killed and fail.
// The client library is pointed at a socket where nothing listens, so a run
// never reaches the machine's pcscd: a token plugged in is left alone (its
// journal read position would move otherwise).
ProcessResult runKvdiag(const Args& args, const fs::path& dir)
{
    return runProcess(KVDIAG_PATH, args, dir, 60, {{"PCSCLITE_CSOCK_NAME", (dir / "no-pcscd.comm").string()}});
}

// The general options as the library lists them; the positional ones stay hidden.
void expectGeneralOptionsListed(const std::string& out)
{
    EXPECT_THAT(out, HasSubstr("-h [ --help ]"));
    EXPECT_THAT(out, HasSubstr("Вывести справочную информацию."));
    EXPECT_THAT(out, HasSubstr("--log-prefix"));
    EXPECT_THAT(out, HasSubstr("(=log)"));
    EXPECT_THAT(out, HasSubstr("Префикс файлов лога."));
    EXPECT_THAT(out, Not(HasSubstr("Остальные аргументы")));
}

class StartsTheRun : public testing::TestWithParam<Args> {};

TEST_P(StartsTheRun, WithTheHeaderLinesThenMeetsNoPcscService)
{
    TempDir dir;
    const ProcessResult result = runKvdiag(GetParam(), dir.path());
    EXPECT_EQ(result.out, header + noPcscService);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(fs::is_directory(dir.path() / "logs"));
}

INSTANTIATE_TEST_SUITE_P(ImplicitOrExplicitDiagnose, StartsTheRun,
                         testing::Values(Args{}, Args{"diagnose"}, Args{"--log-prefix", "мой"}),
                         caseArgsName<Args>);

class Usage : public testing::TestWithParam<Args> {};

TEST_P(Usage, IsPrintedWithoutPreparingLogs)
{
    TempDir dir;
    const ProcessResult result = runKvdiag(GetParam(), dir.path());
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_THAT(result.out, StartsWith("\nИспользование:\n  kvdiag [options]\n\n" + generalOptions));
    expectGeneralOptionsListed(result.out);
    EXPECT_FALSE(fs::exists(dir.path() / "logs"));
}

INSTANTIATE_TEST_SUITE_P(HelpAlone, Usage, testing::Values(Args{"--help"}, Args{"-h"}),
                         caseArgsName<Args>);

class HelpAfterCommand : public testing::TestWithParam<Args> {};

TEST_P(HelpAfterCommand, ListsOptionsAfterPreparingLogs)
{
    TempDir dir;
    const ProcessResult result = runKvdiag(GetParam(), dir.path());
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_THAT(result.out, StartsWith("\n\n" + generalOptions));
    expectGeneralOptionsListed(result.out);
    EXPECT_TRUE(fs::is_directory(dir.path() / "logs"));
}

INSTANTIATE_TEST_SUITE_P(DashOrSlash, HelpAfterCommand, testing::Values(Args{"diagnose", "--help"}, Args{"diagnose", "/h"}),
                         caseArgsName<Args>);

struct UnrecognisedCase {
    Args args;
    std::string listed;
};

class Unrecognised : public testing::TestWithParam<UnrecognisedCase> {};

TEST_P(Unrecognised, TokensAreListedAndTheRunDoesNotStart)
{
    TempDir dir;
    const ProcessResult result = runKvdiag(GetParam().args, dir.path());
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_THAT(result.out, StartsWith("\nНераспознанные опции:\n" + GetParam().listed + "\n\n" + generalOptions));
    expectGeneralOptionsListed(result.out);
}

INSTANTIATE_TEST_SUITE_P(Tokens, Unrecognised,
                         testing::Values(UnrecognisedCase{{"--foo"}, "--foo"},
                                         UnrecognisedCase{{"diagnose", "a", "b"}, "a, b"},
                                         UnrecognisedCase{{"--foo", "-x"}, "--foo, -x"},
                                         // Not the first word: the command stays the implicit diagnose.
                                         UnrecognisedCase{{"--log-prefix", "p", "diagnose"}, "diagnose"}),
                         caseArgsName<UnrecognisedCase>);

struct ErrorCase {
    Args args;
    std::string shown;
};

class ErrorLine : public testing::TestWithParam<ErrorCase> {};

// Output is a pipe here, so the message carries no colour escapes, and nobody is asked for a key.
TEST_P(ErrorLine, IsTheWholeOutputAndExitCodeIsOne)
{
    TempDir dir;
    const ProcessResult result = runKvdiag(GetParam().args, dir.path());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "Ошибка: " + GetParam().shown + "\n");
}

const std::string unknownCommand =
    "Некорректный вызов утилиты. Используйте \"--help\" для вывода справочной информации";

INSTANTIATE_TEST_SUITE_P(
    Errors, ErrorLine,
    testing::Values(ErrorCase{{"foo"}, unknownCommand},
                    ErrorCase{{"Diagnose"}, unknownCommand},
                    // "/h" is an option only after the command word.
                    ErrorCase{{"/h"}, unknownCommand},
                    ErrorCase{{"--log-prefix"}, "the required argument for option '--log-prefix' is missing"}),
    caseArgsName<ErrorCase>);

TEST(LogsDirectory, PlainFileInItsPlaceEndsBeforeTheRun)
{
    TempDir dir;
    std::ofstream(dir.path() / "logs");
    const ProcessResult result = runKvdiag({}, dir.path());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "Ошибка: Не удалось сохранить Лог-файл.\n");
}

}  // namespace
