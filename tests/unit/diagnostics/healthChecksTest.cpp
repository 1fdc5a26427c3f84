#include "diagnostics/healthChecks.h"
#include "healthyToken.h"
#include "pcscWrapper/statusWords.h"

#include <gmock/gmock.h>

using testing::ElementsAreArray;

namespace {

using HealthChecksTest = HealthyTokenTest;

TEST_F(HealthChecksTest, ErrorJournalCountersAreInformationOnly)
{
    card.on("80 7E 41 01", "00 01 01 00 00 03 FF FF 00 05 00 06 90 00");

    errorJournalCheck(token(), logger, markFailed);

    EXPECT_THAT(report(), ElementsAreArray({
                              std::string(),
                              at(1, "Получение журнала ошибочных операций"),
                              at(2, "Количество ошибок ввода глобальных PIN - кодов"),
                              at(3, "Администратора: 1"),
                              at(3, "Пользователя: 256"),
                              at(2, "Количество ошибок работы ГСЧ: 3"),
                              at(2, "Количество ошибок работы алгоритма VKO: 65535"),
                              at(2, "Количество ошибок работы алгоритмов ГОСТ Р 34.10: 5"),
                              at(2, "Количество ошибок работы алгоритмов ГОСТ 28147: 6"),
                          }));
    EXPECT_TRUE(allChecksPassed);
}

struct JournalFaultCase {
    const char* name;
    const char* journalAnswer;
    const char* emergencyAnswer;
    std::vector<std::string> lines;
};

const JournalFaultCase kJournalFaults[] = {
    {"RefusedWithEmergencyEvent",
     "6A 81",
     "01 02 0A FF 90 00",
     {at(1, "-> !ОШИБКА " + statusWordMessage(0x6A81)), at(2, "Получение аварийного события"), at(2, "-> Успешно"),
      at(3, "01:02:0a:ff:")}},
    {"RefusedWithoutEmergencyEvent",
     "6A 81",
     "6D 00",
     {at(1, "-> !ОШИБКА " + statusWordMessage(0x6A81)), at(2, "Получение аварийного события"),
      at(2, "-> !ОШИБКА " + statusWordMessage(0x6D00))}},
    {"ShortJournalIsNotReadPastItsEnd",
     "00 01 00 02 90 00",
     "90 00",
     {at(1, "-> !ОШИБКА Неполный ответ токена: получено 4 Б из 12."), at(2, "Получение аварийного события"),
      at(2, "-> Успешно"), at(3, "")}},
};

void PrintTo(const JournalFaultCase& journalCase, std::ostream* out)
{
    *out << journalCase.name;
}

class ErrorJournalFault : public HealthyTokenTest, public testing::WithParamInterface<JournalFaultCase> {};

TEST_P(ErrorJournalFault, FailsAndAsksForTheEmergencyEvent)
{
    card.on("80 7E 41 01", GetParam().journalAnswer).on("80 7E 42 01 00", GetParam().emergencyAnswer);

    errorJournalCheck(token(), logger, markFailed);

    std::vector<std::string> expected{"", at(1, "Получение журнала ошибочных операций")};
    expected.insert(expected.end(), GetParam().lines.begin(), GetParam().lines.end());
    EXPECT_THAT(report(), ElementsAreArray(expected));
    EXPECT_FALSE(allChecksPassed);
    EXPECT_EQ(logger.level, 1);
}

INSTANTIATE_TEST_SUITE_P(Answers, ErrorJournalFault, testing::ValuesIn(kJournalFaults),
                         [](const auto& info) { return std::string(info.param.name); });

const char kSectorsTitle[] = "Получение статуса секторов памяти";

struct SectorCase {
    const char* name;
    const char* answer;
    std::vector<std::string> lines;
    bool passes;
};

const SectorCase kSectorCases[] = {
    {"ReliableSector",
     "85 08 00 03 00 00 01 F4 00 00 90 00",
     {at(2, "Сектор 3"), at(3, "Число перезаписей: 500"), at(3, "достоверно")},
     true},
    {"OnlySectorUnreliable",
     "85 08 00 03 00 00 01 F4 01 00 90 00",
     {at(2, "Сектор 3"), at(3, "Число перезаписей: 500"), at(3, "недостоверно"),
      at(1, "Получение статуса секторов памяти - критичность проверки: [fatal]")},
     false},
    {"OneOfTwoUnreliableInLongForm",
     "85 08 00 01 00 00 00 0A 00 00 85 81 08 FF FF FF FF FF FF 03 00 90 00",
     {at(2, "Сектор 1"), at(3, "Число перезаписей: 10"), at(3, "достоверно"), at(2, "Сектор 65535"),
      at(3, "Число перезаписей: 4294967295"), at(3, "недостоверно"),
      at(1, "Получение статуса секторов памяти - критичность проверки: [critical]")},
     false},
    {"UnknownObjectEndsTheWalk",
     "85 08 00 01 00 00 00 0A 00 00 86 01 00 90 00",
     {at(2, "Сектор 1"), at(3, "Число перезаписей: 10"), at(3, "достоверно"), at(2, "Неизвестное содержание журнала:"),
      at(3, "85:08:00:01:00:00:00:0a:00:00:86:01:00:")},
     false},
    {"SectorRecordOfOtherLength",
     "85 07 00 01 00 00 00 0A 00 90 00",
     {at(2, "Неизвестное содержание журнала:"), at(3, "85:07:00:01:00:00:00:0a:00:")},
     false},
    {"RecordCutShort",
     "85 08 00 01 00 00 90 00",
     {at(2, "Неизвестное содержание журнала:"), at(3, "85:08:00:01:00:00:")},
     false},
    // No records: none reliable either, so the summary reads fatal; the verdict stands.
    {"NoRecords", "90 00", {at(1, "Получение статуса секторов памяти - критичность проверки: [fatal]")}, true},
    {"NotSupported", "6A 81", {at(2, "Запрошенная функциональность не поддерживается")}, true},
    {"Refused", "6F 00", {at(1, "-> !ОШИБКА " + statusWordMessage(0x6F00))}, false},
};

void PrintTo(const SectorCase& sectorCase, std::ostream* out)
{
    *out << sectorCase.name;
}

class MemorySectors : public HealthyTokenTest, public testing::WithParamInterface<SectorCase> {};

TEST_P(MemorySectors, ReportsEachSectorAndGradesTheirReliability)
{
    card.on("80 7E 51 01", GetParam().answer);

    memorySectorsCheck(token(), logger, markFailed);

    std::vector<std::string> expected{"", at(1, kSectorsTitle)};
    expected.insert(expected.end(), GetParam().lines.begin(), GetParam().lines.end());
    EXPECT_THAT(report(), ElementsAreArray(expected));
    EXPECT_EQ(allChecksPassed, GetParam().passes);
    EXPECT_EQ(logger.level, 1);
}

INSTANTIATE_TEST_SUITE_P(Answers, MemorySectors, testing::ValuesIn(kSectorCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HealthChecksTest, RandomGeneratorRefusalIsFatal)
{
    card.on("00 84 00 00 20", "6F 00");

    randomGeneratorCheck(token(), logger, markFailed);

    EXPECT_THAT(report(), ElementsAreArray({std::string(), at(1, "Проверка работоспособности ГСЧ"),
                                            at(1, "[fatal] -> !ОШИБКА " + statusWordMessage(0x6F00))}));
    EXPECT_FALSE(allChecksPassed);
}

}  // namespace
