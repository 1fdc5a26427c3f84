#include "diagnostics/globalPins.h"
#include "healthyToken.h"
#include "pcscWrapper/statusWords.h"

#include <gmock/gmock.h>

#include <utility>

using testing::ElementsAreArray;

namespace {

const std::vector<std::string> kHealthyUserPin{
    at(2, "Пользователя"),
    at(3, "Получение информации"),
    at(4, "Тип файла: RSF"),
    at(4, "Идентификатор файла: 0002"),
    at(4, "Состояние жизненного цикла: 05"),
    at(3, "Проверка целостности"),
    at(3, "-> Успешно"),
};

const std::vector<std::string> kAdminPasses{at(3, "Проверка целостности"), at(3, "-> Успешно")};

const std::string kSummary = "Проверка Глобальных PIN - кодов - критичность проверки: [fatal]";

// Answers for the administrator's PIN; the user's PIN stays healthy.
struct PinCase {
    const char* name;
    std::vector<std::pair<const char*, const char*>> answers;
    std::vector<std::string> adminLines;  // after "Получение информации"
    CheckResult severity;
    bool passes;
};

std::vector<std::string> withIntegrityPassing(std::vector<std::string> lines)
{
    lines.insert(lines.end(), kAdminPasses.begin(), kAdminPasses.end());
    return lines;
}

const PinCase kPinCases[] = {
    {"EveryKnownAttribute",
     {{"00 CA 01 01", "62 19 82 02 38 00 82 02 01 00 83 02 AB CD 85 02 01 02 86 00 8A 01 0F 85 81 01 FF 90 00"}},
     withIntegrityPassing({at(4, "Тип файла: директория"), at(4, "Тип файла: EF"), at(4, "Идентификатор файла: abcd"),
                           at(4, "Собственная информация файла: 01:02:"), at(4, "Атрибуты безопасности: "),
                           at(4, "Состояние жизненного цикла: 0f"), at(4, "Собственная информация файла: ff:")}),
     CheckResult::Success,
     true},
    {"DescriptorWithNonZeroSecondByte",
     {{"00 CA 01 01", "62 04 82 02 38 01 90 00"}},
     withIntegrityPassing({at(3, "-> !ОШИБКА"), at(3, "Неизвестный атрибут : Tag = 82 Value = 38:01:")}),
     CheckResult::Success,
     false},
    {"WalkGoesOnAfterAnEmptyUnknownAttribute",
     {{"00 CA 01 01", "62 05 84 00 8A 01 05 90 00"}},
     withIntegrityPassing({at(3, "-> !ОШИБКА"), at(3, "Неизвестный атрибут : Tag = 84 Value = "),
                           at(4, "Состояние жизненного цикла: 05")}),
     CheckResult::Success,
     false},
    {"NoTemplate",
     {{"00 CA 01 01", "6F 00 90 00"}},
     withIntegrityPassing({at(4, "Неизвестный формат информации"), at(5, "6f:00:")}),
     CheckResult::Success,
     false},
    {"TemplateLongerThanAnswer",
     {{"00 CA 01 01", "62 10 82 02 10 00 90 00"}},
     withIntegrityPassing({at(4, "Неизвестный формат информации"), at(5, "62:10:82:02:10:00:")}),
     CheckResult::Success,
     false},
    {"AttributeLongerThanTemplate",
     {{"00 CA 01 01", "62 06 83 02 00 01 86 05 90 00"}},
     withIntegrityPassing({at(4, "Идентификатор файла: 0001"), at(4, "Неизвестный формат информации"),
                           at(5, "62:06:83:02:00:01:86:05:")}),
     CheckResult::Success,
     false},
    {"InformationRefused",
     {{"00 CA 01 01", "6A 82"}},
     withIntegrityPassing({at(3, "[fatal] -> !ОШИБКА " + statusWordMessage(0x6A82))}),
     CheckResult::Fatal,
     true},
    {"IntegrityRefusedWithReferenceChecksum",
     {{"80 7E 31 00", "6F 00"}, {"80 7E 31 01", "12 34 56 78 90 00"}},
     {at(4, "Тип файла: RSF"), at(4, "Идентификатор файла: 0001"), at(4, "Состояние жизненного цикла: 05"),
      at(3, "Проверка целостности"), at(3, "[fatal] -> !ОШИБКА " + statusWordMessage(0x6F00)),
      at(4, "Эталонная контрольная сумма: 12345678")},
     CheckResult::Fatal,
     true},
    {"IntegrityAndReferenceRefused",
     {{"80 7E 31 00", "6F 00"}, {"80 7E 31 01", "6A 88"}},
     {at(4, "Тип файла: RSF"), at(4, "Идентификатор файла: 0001"), at(4, "Состояние жизненного цикла: 05"),
      at(3, "Проверка целостности"), at(3, "[fatal] -> !ОШИБКА " + statusWordMessage(0x6F00)),
      at(4, "Получение эталонной контрольной суммы не удалось: 6a88")},
     CheckResult::Fatal,
     true},
    {"ShortReferenceChecksumIsNotReadPastItsEnd",
     {{"80 7E 31 00", "6F 00"}, {"80 7E 31 01", "12 34 90 00"}},
     {at(4, "Тип файла: RSF"), at(4, "Идентификатор файла: 0001"), at(4, "Состояние жизненного цикла: 05"),
      at(3, "Проверка целостности"), at(3, "[fatal] -> !ОШИБКА " + statusWordMessage(0x6F00)),
      at(4, "Неполный ответ токена: получено 2 Б из 4.")},
     CheckResult::Fatal,
     true},
};

void PrintTo(const PinCase& pinCase, std::ostream* out)
{
    *out << pinCase.name;
}

class GlobalPinAnswers : public HealthyTokenTest, public testing::WithParamInterface<PinCase> {};

TEST_P(GlobalPinAnswers, ReportAttributesAndIntegrity)
{
    for (const auto& [command, answer] : GetParam().answers)
        card.on(command, answer);
    CheckResult kiSeverity = CheckResult::Success;

    globalPinsCheck(token(), logger, kiSeverity, markFailed);

    std::vector<std::string> expected{"", at(1, "Проверка Глобальных PIN - кодов"), at(2, "Администратора"),
                                      at(3, "Получение информации")};
    expected.insert(expected.end(), GetParam().adminLines.begin(), GetParam().adminLines.end());
    expected.insert(expected.end(), kHealthyUserPin.begin(), kHealthyUserPin.end());
    if (GetParam().severity != CheckResult::Success)
        expected.push_back(at(1, kSummary));
    EXPECT_THAT(report(), ElementsAreArray(expected));
    EXPECT_EQ(kiSeverity, GetParam().severity);
    EXPECT_EQ(allChecksPassed, GetParam().passes);
    EXPECT_EQ(logger.level, 1);
}

INSTANTIATE_TEST_SUITE_P(Answers, GlobalPinAnswers, testing::ValuesIn(kPinCases),
                         [](const auto& info) { return std::string(info.param.name); });

using GlobalPinsTest = HealthyTokenTest;

TEST_F(GlobalPinsTest, SummaryReflectsAFaultEarlierInTheGroup)
{
    CheckResult kiSeverity = CheckResult::Fatal;

    globalPinsCheck(token(), logger, kiSeverity, markFailed);

    EXPECT_EQ(report().back(), at(1, kSummary));
    EXPECT_EQ(kiSeverity, CheckResult::Fatal);
}

}  // namespace
