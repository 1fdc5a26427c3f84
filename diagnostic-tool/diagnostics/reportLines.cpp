#include "diagnostics/reportLines.h"

#include "pcscWrapper/statusWords.h"


void writeRefusal(logging::Logger& logger, CheckResult grade, uint16_t sw)
{
    logger.indented() << resultText(grade) << " " << statusWordMessage(sw);
}

bool writeOutcome(logging::Logger& logger, CheckResult faultGrade, uint16_t sw)
{
    if (sw != kSwSuccess) {
        writeRefusal(logger, faultGrade, sw);
        return false;
    }
    logger.indented() << resultText(CheckResult::Success);
    return true;
}

void writeAnswerFault(logging::Logger& logger, CheckResult grade, const ApduResponse& answer, size_t expectedBytes)
{
    if (answer.sw != kSwSuccess) {
        writeRefusal(logger, grade, answer.sw);
        return;
    }
    logger.indented() << resultText(grade) << " " << shortAnswerText(answer.data.size(), expectedBytes);
}

std::string shortAnswerText(size_t receivedBytes, size_t expectedBytes)
{
    return "Неполный ответ токена: получено " + std::to_string(receivedBytes) + " Б из " +
           std::to_string(expectedBytes) + ".";
}

void writeUnreadableAnswer(logging::Logger& logger, std::string_view note, ByteView answer)
{
    DeeperLevel noteLevel(logger);
    logger.indented() << note;
    DeeperLevel dumpLevel(logger);
    auto dump = logger.indented();
    writeHexBytes(dump, answer);
}

void writeSeveritySummary(logging::Logger& logger, std::string_view title, CheckResult severity)
{
    logger.indented() << title << " - критичность проверки: " << (severity == CheckResult::Critical ? "[critical]" : "[fatal]");
}

std::optional<uint32_t> answeredNumber(const ApduResponse& answer)
{
    if (answer.sw != kSwSuccess || answer.data.size() < 4)
        return std::nullopt;
    return static_cast<uint32_t>(bigEndian(ByteView(answer.data).first(4)));
}
