#include "diagnostics/algorithmTests.h"
#include "healthyToken.h"
#include "pcscWrapper/statusWords.h"

#include <gmock/gmock.h>

#include <algorithm>

using testing::ElementsAreArray;

namespace {

const char kTitle[] = "Проверка работы криптоалгоритмов";

class AlgorithmTestsTest : public HealthyTokenTest {
protected:
    std::vector<std::string> algorithmCommands() const
    {
        std::vector<std::string> sent;
        for (const std::string& command : sentCommands())
            if (command.rfind("80 7E 1", 0) == 0)
                sent.push_back(command);
        return sent;
    }

    std::vector<std::string> summaries() const
    {
        std::vector<std::string> lines;
        for (const std::string& line : report())
            if (line.find("критичность") != std::string::npos)
                lines.push_back(line);
        return lines;
    }
};

TEST_F(AlgorithmTestsTest, FailedModesAndRefusalsAreReportedAndGradedCritical)
{
    card.on("80 7E 10 00", "00 00 00 05 90 00").on("80 7E 12 00", "6A 81");

    algorithmSelfTests(token(), logger, KelvaneMirel20, markFailed);

    EXPECT_THAT(report(), ElementsAreArray({
                              std::string(),
                              at(1, kTitle),
                              at(2, "Тестирование алгоритма ГОСТ 28147-89"),
                              at(2, "[critical] -> !ОШИБКА"),
                              at(3, "Ошибка проверки режима ECB"),
                              at(3, "Ошибка проверки режима CFB"),
                              at(2, "Тестирование алгоритма ГОСТ 34.10-2001"),
                              at(2, "-> Успешно"),
                              at(2, "Тестирование алгоритма ГОСТ 34.11-1994"),
                              at(2, "[critical] -> !ОШИБКА " + statusWordMessage(0x6A81)),
                              at(2, "Тестирование алгоритма ВКО 2001"),
                              at(2, "-> Успешно"),
                              at(2, "Тестирование алгоритма ГОСТ 34.10-2012"),
                              at(2, "-> Успешно"),
                              at(2, "Тестирование алгоритма ГОСТ 34.11-2012"),
                              at(2, "-> Успешно"),
                              at(2, "Тестирование алгоритма ВКО 2012"),
                              at(2, "-> Успешно"),
                              at(1, std::string(kTitle) + " - критичность проверки: [critical]"),
                          }));
    EXPECT_FALSE(allChecksPassed);
    EXPECT_EQ(logger.level, 1);
}

struct ModeCase {
    const char* name;
    const char* answer;
    std::vector<std::string> modeLines;
};

const ModeCase kModeCases[] = {
    {"AllModesFailed",
     "00 00 00 0F 90 00",
     {at(3, "Ошибка проверки режима ECB"), at(3, "Ошибка проверки режима OFB"), at(3, "Ошибка проверки режима CFB"),
      at(3, "Ошибка проверки режима подсчёта имитовставки")}},
    {"NoKnownModeBit", "00 00 00 10 90 00", {}},
};

void PrintTo(const ModeCase& modeCase, std::ostream* out)
{
    *out << modeCase.name;
}

class Gost28147Modes : public AlgorithmTestsTest, public testing::WithParamInterface<ModeCase> {};

TEST_P(Gost28147Modes, FailedModesAreListedInTableOrder)
{
    card.on("80 7E 10 00", GetParam().answer);

    algorithmSelfTests(token(), logger, KelvaneMirel20, markFailed);

    std::vector<std::string> expected{at(2, "Тестирование алгоритма ГОСТ 28147-89"), at(2, "[critical] -> !ОШИБКА")};
    expected.insert(expected.end(), GetParam().modeLines.begin(), GetParam().modeLines.end());
    expected.push_back(at(2, "Тестирование алгоритма ГОСТ 34.10-2001"));
    ASSERT_GE(report().size(), 2 + expected.size());
    EXPECT_THAT(std::vector(report().begin() + 2, report().begin() + 2 + expected.size()), ElementsAreArray(expected));
}

INSTANTIATE_TEST_SUITE_P(Results, Gost28147Modes, testing::ValuesIn(kModeCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct ModelCase {
    TokenModel model;
    size_t testsRun;
};

class AlgorithmTestsByModel : public AlgorithmTestsTest, public testing::WithParamInterface<ModelCase> {};

TEST_P(AlgorithmTestsByModel, NewestAlgorithmsOnlyOnMirel30)
{
    algorithmSelfTests(token(), logger, GetParam().model, markFailed);

    std::vector<std::string> expected;
    for (size_t test = 0; test < GetParam().testsRun; ++test)
        expected.push_back(toHex({0x80, 0x7E, static_cast<uint8_t>(0x10 + test), 0x00, 0x04}));
    EXPECT_THAT(algorithmCommands(), ElementsAreArray(expected));
    EXPECT_TRUE(summaries().empty());
    EXPECT_TRUE(allChecksPassed);
}

INSTANTIATE_TEST_SUITE_P(Models, AlgorithmTestsByModel,
                         testing::Values(ModelCase{KelvaneMirel20, 7}, ModelCase{KelvaneMirel20Flash, 7},
                                         ModelCase{KelvaneMirel30, 10}, ModelCase{KelvaneVaro, 7},
                                         ModelCase{KelvaneMirel30Flash, 7}),
                         [](const auto& info) { return "Model" + std::to_string(info.param.model); });

TEST_F(AlgorithmTestsTest, NoTestPassingIsFatal)
{
    // Refusals, non-zero results and answers too short to hold a result all fail.
    for (uint8_t test = 0x10; test <= 0x19; ++test)
        card.on(toHex({0x80, 0x7E, test}), "6F 00");
    card.on("80 7E 13", "00 00 00 01 90 00").on("80 7E 17", "00 00 00 90 00");

    algorithmSelfTests(token(), logger, KelvaneMirel30, markFailed);

    EXPECT_THAT(summaries(), ElementsAreArray({at(1, std::string(kTitle) + " - критичность проверки: [fatal]")}));
    EXPECT_THAT(report(), testing::Contains(at(2, "[critical] -> !ОШИБКА Неполный ответ токена: получено 3 Б из 4.")));
    EXPECT_FALSE(allChecksPassed);
}

}  // namespace
