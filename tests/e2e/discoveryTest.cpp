// Finding the one token: kvdiag run through pcscd against virtual tokens in
// the two vpcd readers.
#include "harness.h"
#include "kvdiagRun.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

const std::string noTokenConsole = std::string(consoleHeader) + "Ошибка: Не удалось распознать Kelvane.\n";
const std::string tooManyConsole = std::string(consoleHeader) +
    "Ошибка: Не удалось произвести проверку. Проверьте чтобы к компьютеру был подключен только один Kelvane.\n";
const std::string finishedConsole = std::string(consoleHeader) + consoleClosing;

struct NoTokenCase {
    const char* name;
    const char* profileMembers;  // over the healthy Mirel 3.0; null: no card at all
};

class WithoutASupportedToken : public testing::TestWithParam<NoTokenCase> {};

TEST_P(WithoutASupportedToken, EndsWithNoTokenErrorAndWritesNoReport)
{
    const KvdiagSandbox sandbox;
    std::optional<VirtualToken> card;
    ensurePcscd();
    if (GetParam().profileMembers)
        card.emplace(sandbox.profileOver("mirel3.json", GetParam().profileMembers));

    const KvdiagRun run = sandbox.run();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.console, noTokenConsole);
    EXPECT_TRUE(run.report.empty());
    EXPECT_FALSE(run.journalFile);
}

INSTANTIATE_TEST_SUITE_P(Readers, WithoutASupportedToken, testing::Values(
    NoTokenCase{"BothReadersEmpty", nullptr},
    // Type 3 is a family member the tool does not diagnose.
    NoTokenCase{"UnsupportedFamilyMember", R"("identity": "03 03 08 00 21 00 00 20 05 00 00 00")"},
    NoTokenCase{"ForeignCard", R"("historical": "AcmeCard")"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TwoSupportedTokens, EndTheRunWithTooManyTokensError)
{
    const KvdiagSandbox sandbox;
    const VirtualToken mirel(bundledProfile("mirel3.json"), 35963);
    const VirtualToken varo(bundledProfile("varo.json"), 35964);

    const KvdiagRun run = sandbox.run();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.console, tooManyConsole);
    EXPECT_TRUE(run.report.empty());
}

TEST(TokenInSecondReader, IsFoundWithTheFirstReaderEmptyOrHoldingAnUnsupportedToken)
{
    const KvdiagSandbox sandbox;
    const VirtualToken mirel(bundledProfile("mirel3.json"), 35964);

    const KvdiagRun alone = sandbox.run();
    EXPECT_EQ(alone.exitCode, 0);
    EXPECT_EQ(alone.console, finishedConsole);
    EXPECT_TRUE(hasBlock(alone.report, {"Диагностика устройства с серийным номером 305419896..."}));
    EXPECT_EQ(alone.verdict(), verdictPassed);

    const VirtualToken unsupported(
        sandbox.profileOver("mirel3.json", R"("serial": 7, "identity": "03 03 08 00 21 00 00 20 05 00 00 00")"), 35963);
    const KvdiagRun beside = sandbox.run();
    EXPECT_EQ(beside.exitCode, 0);
    EXPECT_TRUE(hasBlock(beside.report, {"Диагностика устройства с серийным номером 305419896..."}));
    EXPECT_EQ(beside.verdict(), verdictPassed);
}

}  // namespace
