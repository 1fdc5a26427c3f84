#include "journal/journalReport.h"

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

}  // namespace journalReport
