#include "diagnostics/algorithmTests.h"

#include "diagnostics/reportLines.h"

#include <array>
#include <cstdint>
#include <span>

namespace {

struct AlgorithmTest {
    uint8_t number;
    const char* title;
};

constexpr AlgorithmTest kGost28147Test{0x10, "Тестирование алгоритма ГОСТ 28147-89"};

// The last three exist on Kelvane Mirel 3.0 only.
constexpr std::array<AlgorithmTest, 9> kFurtherTests{{
    {0x11, "Тестирование алгоритма ГОСТ 34.10-2001"},
    {0x12, "Тестирование алгоритма ГОСТ 34.11-1994"},
    {0x13, "Тестирование алгоритма ВКО 2001"},
    {0x14, "Тестирование алгоритма ГОСТ 34.10-2012"},
    {0x15, "Тестирование алгоритма ГОСТ 34.11-2012"},
    {0x16, "Тестирование алгоритма ВКО 2012"},
    {0x17, "Тестирование алгоритма ГОСТ Р 34.12-2015 Магма"},
    {0x18, "Тестирование алгоритма ГОСТ Р 34.12-2015 Кузнечик"},
    {0x19, "Тестирование алгоритма ECDH"},
}};
constexpr size_t kMirel30OnlyTests = 3;

struct ModeBit {
    uint32_t bit;
    const char* failure;
};

// The ГОСТ 28147-89 result is a mask of the modes that failed.
constexpr std::array<ModeBit, 4> kGost28147Modes{{
    {0x1, "Ошибка проверки режима ECB"},
    {0x2, "Ошибка проверки режима OFB"},
    {0x4, "Ошибка проверки режима CFB"},
    {0x8, "Ошибка проверки режима подсчёта имитовставки"},
}};

constexpr const char* kTitle = "Проверка работы криптоалгоритмов";

// Runs one test and writes its outcome; the token's result is returned when it
// gave one, so the caller can explain a failure.
std::optional<uint32_t> runTest(Token& token, logging::Logger& logger, const AlgorithmTest& test)
{
    logger.indented() << test.title;
    const ApduResponse answer = token.sendApdu(CheckAlgApdu(test.number));
    const std::optional<uint32_t> result = answeredNumber(answer);
    if (!result)
        writeAnswerFault(logger, CheckResult::Critical, answer, 4);
    else
        logger.indented() << resultText(*result == 0 ? CheckResult::Success : CheckResult::Critical);
    return result;
}

bool gost28147Test(Token& token, logging::Logger& logger)
{
    const std::optional<uint32_t> failedModes = runTest(token, logger, kGost28147Test);
    if (failedModes && *failedModes != 0) {
        DeeperLevel modes(logger);
        for (const ModeBit& mode : kGost28147Modes)
            if (*failedModes & mode.bit)
                logger.indented() << mode.failure;
    }
    return failedModes == 0u;
}

}  // namespace

void algorithmSelfTests(Token& token, logging::Logger& logger, TokenModel model, const MarkFailed& markFailed)
{
    logger.line();
    logger.indented() << kTitle;
    const std::span<const AlgorithmTest> furtherTests =
        std::span(kFurtherTests).first(kFurtherTests.size() - (model == KelvaneMirel30 ? 0 : kMirel30OnlyTests));
    size_t passed = 0;
    {
        DeeperLevel tests(logger);
        passed += gost28147Test(token, logger);
        for (const AlgorithmTest& test : furtherTests)
            passed += runTest(token, logger, test) == 0u;
    }
    const size_t run = furtherTests.size() + 1;
    if (passed == run)
        return;
    writeSeveritySummary(logger, kTitle, passed == 0 ? CheckResult::Fatal : CheckResult::Critical);
    markFailed();
}
