#include "diagnostics/integrityChecks.h"
#include "healthyToken.h"
#include "pcscWrapper/statusWords.h"

#include <gmock/gmock.h>

#include <utility>

using testing::ElementsAreArray;

namespace {

struct OsCase {
    const char* name;
    const char* answer;
    std::vector<std::string> lines;
    bool passes;
};

const OsCase kOsCases[] = {
    {"ChecksumWithLeadingZeros", "00 00 00 0A 90 00", {at(1, "-> Успешно"), at(2, "CRC микропрограммы: 0000000a")}, true},
    {"Refused", "6F 00", {at(1, "[fatal] -> !ОШИБКА " + statusWordMessage(0x6F00))}, false},
    {"ShortChecksumIsNotReadPastItsEnd",
     "00 01 90 00",
     {at(1, "[fatal] -> !ОШИБКА Неполный ответ токена: получено 2 Б из 4.")},
     false},
};

void PrintTo(const OsCase& osCase, std::ostream* out)
{
    *out << osCase.name;
}

class OsIntegrity : public HealthyTokenTest, public testing::WithParamInterface<OsCase> {};

TEST_P(OsIntegrity, WritesChecksumOrFatalFault)
{
    card.on("80 7E 00 00", GetParam().answer);

    osIntegrityCheck(token(), logger, markFailed);

    std::vector<std::string> expected{at(1, "Проверка целостности ОС Kelvane")};
    expected.insert(expected.end(), GetParam().lines.begin(), GetParam().lines.end());
    EXPECT_THAT(report(), ElementsAreArray(expected));
    EXPECT_EQ(allChecksPassed, GetParam().passes);
    EXPECT_EQ(logger.level, 1);
}

INSTANTIATE_TEST_SUITE_P(Answers, OsIntegrity, testing::ValuesIn(kOsCases),
                         [](const auto& info) { return std::string(info.param.name); });

const std::string kSystemKeysSummary = "Проверка системной ключевой информации - критичность проверки: [fatal]";
const std::string kPinsSummary = "Проверка Глобальных PIN - кодов - критичность проверки: [fatal]";
const std::string kRsfSummary = "Проверка RSF файлов - критичность проверки: [fatal]";
const std::string kGroupFatal = "Проверка целостности КИ - критичность проверки: [fatal]";
const std::string kGroupCritical = "Проверка целостности КИ - критичность проверки: [critical]";

// Each token has one RSF file in every folder, so the integrity answers of
// "80 7E 33 00" below are those of the four folders in turn.
struct SeverityCase {
    const char* name;
    std::vector<std::pair<const char*, std::vector<std::string>>> answers;
    std::vector<std::string> summaries;
};

const SeverityCase kSeverityCases[] = {
    {"AllPass", {}, {}},
    {"SystemKeyFaultCountsEveryRsfFolder", {{"80 7E 22 00", {"6A 88"}}},
     {kSystemKeysSummary, kPinsSummary, kRsfSummary, kGroupFatal}},
    {"GlobalPinFaultCountsEveryRsfFolder", {{"00 CA 01 02", {"6A 82"}}}, {kPinsSummary, kRsfSummary, kGroupFatal}},
    // Only the last folder counts: its Critical is the last store.
    {"FaultInLastRsfFolderIsCritical", {{"80 7E 33 00", {"90 00", "90 00", "90 00", "6F 00"}}}, {kGroupCritical}},
    {"FaultInFirstRsfFolderCountsAllFour", {{"80 7E 33 00", {"6F 00", "90 00"}}}, {kRsfSummary, kGroupFatal}},
    // The RSF fault stores Critical over the key fault's Fatal, and the counter
    // of folders then stores Fatal over it.
    {"SystemKeyFaultThenRsfFault",
     {{"80 7E 21 00", {"6A 88"}}, {"80 7E 33 00", {"90 00", "90 00", "90 00", "6F 00"}}},
     {kSystemKeysSummary, kPinsSummary, kRsfSummary, kGroupFatal}},
};

void PrintTo(const SeverityCase& severityCase, std::ostream* out)
{
    *out << severityCase.name;
}

std::vector<std::string> summaryLines(const std::vector<std::string>& report)
{
    std::vector<std::string> summaries;
    for (const std::string& line : report)
        if (line.find(" - критичность проверки: ") != std::string::npos)
            summaries.push_back(line.substr(line.find_first_not_of(' ')));
    return summaries;
}

class KeyInformationSeverity : public HealthyTokenTest, public testing::WithParamInterface<SeverityCase> {};

TEST_P(KeyInformationSeverity, GroupSummaryFollowsTheLastStoredSeverity)
{
    for (const auto& [command, answers] : GetParam().answers)
        card.on(command, answers);

    keyInformationCheck(token(), logger, KelvaneMirel30, 28, markFailed);

    EXPECT_THAT(summaryLines(report()), ElementsAreArray(GetParam().summaries));
    EXPECT_EQ(allChecksPassed, GetParam().summaries.empty());
    EXPECT_EQ(logger.level, 1);
}

INSTANTIATE_TEST_SUITE_P(Faults, KeyInformationSeverity, testing::ValuesIn(kSeverityCases),
                         [](const auto& info) { return std::string(info.param.name); });

using KeyInformationTest = HealthyTokenTest;

TEST_F(KeyInformationTest, EveryKeyIsAskedAfterARefusalAndGroupEndsWithBlankAndSummary)
{
    card.on("80 7E 22 00", "6A 88");

    keyInformationCheck(token(), logger, KelvaneMirel30, 28, markFailed);

    const std::vector<std::string> head(report().begin(), report().begin() + 10);
    EXPECT_THAT(head, ElementsAreArray({
                          std::string(),
                          at(1, "Проверка целостности КИ"),
                          at(2, "Проверка системной ключевой информации"),
                          at(3, "Главный ключ"),
                          at(3, "-> Успешно"),
                          at(3, "Ключ для ГСЧ"),
                          at(3, "[fatal] -> !ОШИБКА " + statusWordMessage(0x6A88)),
                          at(3, "IV для ГСЧ"),
                          at(3, "-> Успешно"),
                          at(2, kSystemKeysSummary),
                      }));
    const std::vector<std::string> tail(report().end() - 3, report().end());
    EXPECT_THAT(tail, ElementsAreArray({at(2, kRsfSummary), std::string(), at(1, kGroupFatal)}));
}

TEST_F(KeyInformationTest, OldBrisaChecksOnlyItsGlobalPins)
{
    keyInformationCheck(token(), logger, KelvaneBrisa, 9, markFailed);

    std::vector<std::string> expected{std::string(), at(1, "Проверка целостности КИ")};
    const std::vector<std::string> pins = healthyGlobalPinLines();
    expected.insert(expected.end(), pins.begin(), pins.end());
    EXPECT_THAT(report(), ElementsAreArray(expected));
    EXPECT_TRUE(allChecksPassed);
}

TEST_F(KeyInformationTest, BrisaFromBuild10ChecksSystemKeysButNoRsfFiles)
{
    card.on("80 7E 21 00", "6A 88");

    keyInformationCheck(token(), logger, KelvaneBrisa, 10, markFailed);

    EXPECT_THAT(summaryLines(report()), ElementsAreArray({kSystemKeysSummary, kPinsSummary, kGroupFatal}));
    EXPECT_THAT(sentCommands(), testing::Not(testing::Contains(testing::StartsWith("00 A4"))));
}

}  // namespace
