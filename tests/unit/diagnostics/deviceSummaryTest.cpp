#include "diagnostics/deviceSummary.h"
#include "healthyToken.h"
#include "pcscWrapper/statusWords.h"

#include <gmock/gmock.h>

#include <algorithm>

using testing::Contains;
using testing::ElementsAreArray;
using testing::Not;

namespace {

std::vector<std::string> summaryWith(const std::vector<std::string>& counterLines,
                                     const std::string& modelLine = "Модель токена: Kelvane Mirel 3.0",
                                     const std::string& usedLine = "EEPROM-память занято: 21760 Б",
                                     const std::string& freeLine = "EEPROM-память свободно: 43776 Б")
{
    std::vector<std::string> lines{"", at(1, "Получение кратких сведений об устройстве"), at(2, modelLine),
                                   at(2, "ID токена: 305419896")};
    for (const std::string& line : counterLines)
        lines.push_back(at(2, line));
    lines.push_back(at(2, "Версия микропрограммы: 1.4.28.3"));
    lines.push_back(at(2, usedLine));
    lines.push_back(at(2, freeLine));
    return lines;
}

struct CounterCase {
    const char* name;
    const char* changesAnswer;
    const char* usbAnswer;
    std::vector<std::string> counterLines;
    bool passes;
};

const CounterCase kCounterCases[] = {
    {"BothCountersRead",
     "FF FF FF FE 90 00",
     "00 00 00 00 90 00",
     {"Сеансовый счетчик изменений: 4294967294", "Счетчик подключений к USB шине: 0"},
     true},
    {"BothCountersRefused",
     "6A 81",
     "6D 00",
     {"Сеансовый счетчик изменений", "-> !ОШИБКА " + statusWordMessage(0x6A81), "Счетчик подключений к USB шине",
      "-> !ОШИБКА " + statusWordMessage(0x6D00)},
     false},
    {"ShortCounterIsNotReadPastItsEnd",
     "00 05 90 00",
     "00 00 00 57 90 00",
     {"Сеансовый счетчик изменений", "-> !ОШИБКА Неполный ответ токена: получено 2 Б из 4.",
      "Счетчик подключений к USB шине: 87"},
     false},
};

void PrintTo(const CounterCase& counterCase, std::ostream* out)
{
    *out << counterCase.name;
}

class SummaryCounters : public HealthyTokenTest, public testing::WithParamInterface<CounterCase> {};

TEST_P(SummaryCounters, WritesValueOrFaultAndGoesOn)
{
    card.on("00 CA 01 32", GetParam().changesAnswer).on("00 CA 01 34", GetParam().usbAnswer);

    deviceSummary(token(), logger, markFailed);

    EXPECT_THAT(report(), ElementsAreArray(summaryWith(GetParam().counterLines)));
    EXPECT_EQ(allChecksPassed, GetParam().passes);
    EXPECT_EQ(logger.level, 1);
}

INSTANTIATE_TEST_SUITE_P(Counters, SummaryCounters, testing::ValuesIn(kCounterCases),
                         [](const auto& info) { return std::string(info.param.name); });

using DeviceSummaryTest = HealthyTokenTest;

TEST_F(DeviceSummaryTest, SelfNamedTokenShowsItsNameWithoutClassifyingTheModel)
{
    card.on("00 CA 01 89", identityAnswer(0x01, 28, 0x00, 0x20)).on("00 CA 01 85", "4D 69 72 65 6C 20 58 00 00 90 00");

    deviceSummary(token(), logger, markFailed);

    EXPECT_THAT(report(), ElementsAreArray(summaryWith(
                              {"Сеансовый счетчик изменений: 1532", "Счетчик подключений к USB шине: 87"},
                              "Модель токена: Mirel X")));
    EXPECT_THAT(sentCommands(), Not(Contains(testing::StartsWith("00 CA 01 8C"))));
}

TEST_F(DeviceSummaryTest, FreeMemoryAboveTotalWrapsTheUsedFigure)
{
    card.on("00 CA 01 8A", "00 01 00 01 90 00");  // one byte more than the 64 KiB the identity gives

    deviceSummary(token(), logger, markFailed);

    EXPECT_THAT(report(), ElementsAreArray(summaryWith(
                              {"Сеансовый счетчик изменений: 1532", "Счетчик подключений к USB шине: 87"},
                              "Модель токена: Kelvane Mirel 3.0", "EEPROM-память занято: 4294967295 Б",
                              "EEPROM-память свободно: 65537 Б")));
    EXPECT_TRUE(allChecksPassed);
}

}  // namespace
