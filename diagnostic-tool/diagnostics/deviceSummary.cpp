#include "diagnostics/deviceSummary.h"

#include "diagnostics/reportLines.h"

#include <string>

namespace {

std::string modelText(Token& token)
{
    if (auto ownName = token.getSelfIdentificationModel())
        return *ownName;
    return std::string(modelName(token.getModel()));
}

void writeCounter(Token& token, logging::Logger& logger, const Apdu& request, const char* title,
                  const MarkFailed& markFailed)
{
    const ApduResponse answer = token.sendApdu(request);
    if (const std::optional<uint32_t> value = answeredNumber(answer)) {
        logger.indented() << title << ": " << *value;
        return;
    }
    logger.indented() << title;
    writeAnswerFault(logger, CheckResult::Error, answer, 4);
    markFailed();
}

}  // namespace

void deviceSummary(Token& token, logging::Logger& logger, const MarkFailed& markFailed)
{
    logger.line();
    logger.indented() << "Получение кратких сведений об устройстве";
    DeeperLevel details(logger);
    logger.indented() << "Модель токена: " << modelText(token);
    logger.indented() << "ID токена: " << token.getSerial();
    writeCounter(token, logger, GetChangesCounterApdu(), "Сеансовый счетчик изменений", markFailed);
    writeCounter(token, logger, GetUsbConnectionCounterApdu(), "Счетчик подключений к USB шине", markFailed);

    const auto high = token.getFirmwareVersionHigh();
    const auto low = token.getFirmwareVersionLow();
    logger.indented() << "Версия микропрограммы: " << unsigned{high[0]} << "." << unsigned{high[1]} << "."
                      << unsigned{low[0]} << "." << unsigned{low[1]};

    const auto [freeBytes, totalBytes] = token.getMemoryInfo();
    logger.indented() << "EEPROM-память занято: " << static_cast<uint32_t>(totalBytes - freeBytes) << " Б";
    logger.indented() << "EEPROM-память свободно: " << freeBytes << " Б";
}
