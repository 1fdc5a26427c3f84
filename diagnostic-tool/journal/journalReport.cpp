#include "journal/journalReport.h"

#include "logging/checkResult.h"

namespace journalReport {

void startStep(logging::Logger& logger, std::string_view title)
{
    logger.line();
    writeLine(logger, title);
}

void writeLine(logging::Logger& logger, std::string_view text)
{
    logger.indented() << text;
}

void writeNestedLine(logging::Logger& logger, std::string_view text)
{
    logging::DeeperLevel deeper(logger);
    writeLine(logger, text);
}

void reportDecodingFailure(logging::Logger& logger, DecodeStatus status)
{
    startStep(logger, "Декодирование журнала СБ");
    logger.indented() << resultText(CheckResult::Error)
                      << (status == DecodeStatus::SomeRecordsFailed ? " Возникли ошибки при декодировании некоторых записей"
                                                                    : " Возникли ошибки при декодировании журнала");
}

}  // namespace journalReport
