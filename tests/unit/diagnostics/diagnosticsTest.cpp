#include "diagnostics/diagnostics.h"
#include "healthyToken.h"
#include "pcscWrapper/statusWords.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <stdexcept>

using testing::ElementsAreArray;

namespace {

class PerformDiagnosticsTest : public HealthyTokenTest {
protected:
    PerformDiagnosticsTest()
    {
        logger.level = 0;  // as the diagnostic run calls it
    }
};

std::vector<std::string> passedTests(const std::vector<std::string>& titles)
{
    std::vector<std::string> lines;
    for (const std::string& title : titles) {
        lines.push_back(at(2, title));
        lines.push_back(at(2, "-> Успешно"));
    }
    return lines;
}

std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST_F(PerformDiagnosticsTest, HealthyMirel30WritesEveryCheckInOrderAndPasses)
{
    const std::vector<std::string> expected = concat({
        {
            "",
            at(1, "Проверка целостности ОС Kelvane"),
            at(1, "-> Успешно"),
            at(2, "CRC микропрограммы: 0001a2ff"),
            "",
            at(1, "Получение кратких сведений об устройстве"),
            at(2, "Модель токена: Kelvane Mirel 3.0"),
            at(2, "ID токена: 305419896"),
            at(2, "Сеансовый счетчик изменений: 1532"),
            at(2, "Счетчик подключений к USB шине: 87"),
            at(2, "Версия микропрограммы: 1.4.28.3"),
            at(2, "EEPROM-память занято: 21760 Б"),
            at(2, "EEPROM-память свободно: 43776 Б"),
            "",
            at(1, "Проверка работы криптоалгоритмов"),
        },
        passedTests({
            "Тестирование алгоритма ГОСТ 28147-89",
            "Тестирование алгоритма ГОСТ 34.10-2001",
            "Тестирование алгоритма ГОСТ 34.11-1994",
            "Тестирование алгоритма ВКО 2001",
            "Тестирование алгоритма ГОСТ 34.10-2012",
            "Тестирование алгоритма ГОСТ 34.11-2012",
            "Тестирование алгоритма ВКО 2012",
            "Тестирование алгоритма ГОСТ Р 34.12-2015 Магма",
            "Тестирование алгоритма ГОСТ Р 34.12-2015 Кузнечик",
            "Тестирование алгоритма ECDH",
        }),
        {
            "",
            at(1, "Проверка целостности КИ"),
            at(2, "Проверка системной ключевой информации"),
            at(3, "Главный ключ"),
            at(3, "-> Успешно"),
            at(3, "Ключ для ГСЧ"),
            at(3, "-> Успешно"),
            at(3, "IV для ГСЧ"),
            at(3, "-> Успешно"),
        },
        healthyGlobalPinLines(),
        {
            "",
            at(2, "Проверка RSF файлов"),
            at(3, "Проверка открытых ключей"),
            at(4, "ID 0101"),
            at(4, "-> Успешно"),
            at(3, "Проверка закрытых ключей"),
            at(4, "ID 0101"),
            at(4, "-> Успешно"),
            at(3, "Проверка симметричных ключей"),
            at(4, "ID 0101"),
            at(4, "-> Успешно"),
            at(3, "Проверка локальных PIN-кодов"),
            at(4, "ID 0101"),
            at(4, "-> Успешно"),
            "",
            at(1, "Получение журнала ошибочных операций"),
            at(2, "Количество ошибок ввода глобальных PIN - кодов"),
            at(3, "Администратора: 0"),
            at(3, "Пользователя: 0"),
            at(2, "Количество ошибок работы ГСЧ: 0"),
            at(2, "Количество ошибок работы алгоритма VKO: 0"),
            at(2, "Количество ошибок работы алгоритмов ГОСТ Р 34.10: 0"),
            at(2, "Количество ошибок работы алгоритмов ГОСТ 28147: 0"),
            "",
            at(1, "Получение статуса секторов памяти"),
            at(2, "Сектор 1"),
            at(3, "Число перезаписей: 10"),
            at(3, "достоверно"),
            "",
            at(1, "Проверка работоспособности ГСЧ"),
            at(1, "-> Успешно"),
            "",
            at(1, "Проверка поддержки журнала СБ"),
            at(1, "-> Успешно"),
            at(2, "Журнал СБ не поддерживается"),
        },
    });

    performDiagnostics(token(), logger, markFailed);

    EXPECT_THAT(report(), ElementsAreArray(expected));
    EXPECT_TRUE(allChecksPassed);
    EXPECT_EQ(logger.level, 0);
}

// Which checks run, by model and firmware build.
struct SuiteCase {
    const char* name;
    std::string identity;
    std::vector<std::string> checks;
    std::string hardwareData = "6A 81";
};

const char kOs[] = "Проверка целостности ОС Kelvane";
const char kSummary[] = "Получение кратких сведений об устройстве";
const char kAlgorithms[] = "Проверка работы криптоалгоритмов";
const char kKeyInformation[] = "Проверка целостности КИ";
const char kSystemKeys[] = "Проверка системной ключевой информации";
const char kGlobalPins[] = "Проверка Глобальных PIN - кодов";
const char kRsf[] = "Проверка RSF файлов";
const char kErrorJournal[] = "Получение журнала ошибочных операций";
const char kSectors[] = "Получение статуса секторов памяти";
const char kRng[] = "Проверка работоспособности ГСЧ";
const char kJournal[] = "Проверка поддержки журнала СБ";

const std::vector<std::string> kAllChecks{kOs,         kSummary, kAlgorithms,   kKeyInformation,
                                          kSystemKeys, kGlobalPins, kRsf,      kErrorJournal,
                                          kSectors,    kRng,     kJournal};

std::vector<std::string> checksRun(const std::vector<std::string>& report)
{
    std::vector<std::string> run;
    for (const std::string& line : report) {
        const std::string text = line.substr(std::min(line.find_first_not_of(' '), line.size()));
        if (std::find(kAllChecks.begin(), kAllChecks.end(), text) != kAllChecks.end())
            run.push_back(text);
    }
    return run;
}

const SuiteCase kSuiteCases[] = {
    {"BrisaBuild9", identityAnswer(0x02, 9), {kOs, kSummary, kKeyInformation, kGlobalPins, kRng, kJournal}},
    {"BrisaBuild10",
     identityAnswer(0x02, 10),
     {kOs, kSummary, kKeyInformation, kSystemKeys, kGlobalPins, kSectors, kRng, kJournal}},
    {"Mirel20Build27",
     identityAnswer(0x01, 27),
     {kOs, kSummary, kAlgorithms, kKeyInformation, kSystemKeys, kGlobalPins, kRsf, kErrorJournal, kSectors, kRng,
      kJournal}},
    {"Mirel20Build26",
     identityAnswer(0x01, 26),
     {kOs, kSummary, kAlgorithms, kKeyInformation, kSystemKeys, kGlobalPins, kRsf, kErrorJournal, kRng, kJournal}},
    {"Mirel20FlashBuild27",
     identityAnswer(0x01, 27, 0x80),
     {kOs, kSummary, kAlgorithms, kKeyInformation, kSystemKeys, kGlobalPins, kRsf, kErrorJournal, kSectors, kRng,
      kJournal}},
    {"Mirel20FlashBuild28",
     identityAnswer(0x01, 28, 0x80),
     {kOs, kSummary, kAlgorithms, kKeyInformation, kSystemKeys, kGlobalPins, kRsf, kErrorJournal, kRng, kJournal}},
    {"Mirel20FlashBuild26",
     identityAnswer(0x01, 26, 0x80),
     {kOs, kSummary, kAlgorithms, kKeyInformation, kSystemKeys, kGlobalPins, kRsf, kErrorJournal, kRng, kJournal}},
    {"VaroBuild5",
     identityAnswer(0x01, 5, 0x80, 27),
     {kOs, kSummary, kAlgorithms, kKeyInformation, kSystemKeys, kGlobalPins, kRsf, kErrorJournal, kSectors, kRng,
      kJournal},
     "00 00 00 00 40 00 00 00 00 00 00 00 00 00 00 00 90 00"},
};

void PrintTo(const SuiteCase& suiteCase, std::ostream* out)
{
    *out << suiteCase.name;
}

class SuiteByModel : public PerformDiagnosticsTest, public testing::WithParamInterface<SuiteCase> {};

TEST_P(SuiteByModel, RunsTheChecksOfItsModelAndBuild)
{
    card.on("00 CA 01 89", GetParam().identity).on("00 CA 01 8C", GetParam().hardwareData);

    performDiagnostics(token(), logger, markFailed);

    EXPECT_THAT(checksRun(report()), ElementsAreArray(GetParam().checks));
    EXPECT_TRUE(allChecksPassed);
}

INSTANTIATE_TEST_SUITE_P(Models, SuiteByModel, testing::ValuesIn(kSuiteCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PerformDiagnosticsTest, FailedRandomCheckStillReadsJournalAndFailsVerdict)
{
    card.on("00 84 00 00", "6F 00");

    performDiagnostics(token(), logger, markFailed);

    const std::vector<std::string> tail(report().end() - 7, report().end());
    EXPECT_THAT(tail, ElementsAreArray(std::vector<std::string>{
                          "",
                          at(1, kRng),
                          at(1, "[fatal] -> !ОШИБКА " + statusWordMessage(0x6F00)),
                          "",
                          at(1, kJournal),
                          at(1, "-> Успешно"),
                          at(2, "Журнал СБ не поддерживается"),
                      }));
    EXPECT_FALSE(allChecksPassed);
}

struct VerdictCase {
    const char* name;
    const char* command;
    const char* answer;
    const char* verdict;
};

const VerdictCase kVerdictCases[] = {
    {"Healthy", "00 CA 01 32", "00 00 05 FC 90 00", "-> Все проверки прошли успешно"},
    {"CounterRefused", "00 CA 01 34", "6A 81", "-> При диагностике были выявлены ошибки"},
    {"UnknownPinAttribute", "00 CA 01 02", "62 02 84 00 90 00", "-> При диагностике были выявлены ошибки"},
    {"UnreliableSector", "80 7E 51 01", "85 08 00 01 00 00 00 0A 01 00 90 00", "-> При диагностике были выявлены ошибки"},
};

void PrintTo(const VerdictCase& verdictCase, std::ostream* out)
{
    *out << verdictCase.name;
}

class ReportVerdict : public PerformDiagnosticsTest, public testing::WithParamInterface<VerdictCase> {};

TEST_P(ReportVerdict, HeaderFirstVerdictLast)
{
    card.on(GetParam().command, GetParam().answer);

    writeReport(token(), kSerial, logger);

    ASSERT_GE(report().size(), 4u);
    EXPECT_EQ(report()[0], "Версия утилиты диагностики Kelvane: " KVDIAG_VERSION);
    EXPECT_EQ(report()[1], "Диагностика устройства с серийным номером 305419896...");
    EXPECT_EQ(report()[report().size() - 2], "");
    EXPECT_EQ(report().back(), GetParam().verdict);
}

INSTANTIATE_TEST_SUITE_P(Faults, ReportVerdict, testing::ValuesIn(kVerdictCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PerformDiagnosticsTest, UnsupportedTokenEndsTheRunAfterTheSummaryWithoutVerdict)
{
    // Type 03 is no known model; its own name keeps the summary from asking for the model.
    card.on("00 CA 01 89", identityAnswer(0x03, 28, 0x00, 0x20)).on("00 CA 01 85", "41 42 43 00 90 00");

    try {
        writeReport(token(), kSerial, logger);
        FAIL() << "expected the run to end";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Unsupported token.");
    }
    EXPECT_EQ(report().back(), at(2, "EEPROM-память свободно: 43776 Б"));
    EXPECT_THAT(checksRun(report()), ElementsAreArray(std::vector<std::string>{kOs, kSummary}));
}

}  // namespace
