#include "app/command.h"
#include "diagnostics/diagnostics.h"
#include "logging/logger.h"
#include "pcscWrapper/tokenDiscovery.h"
#include "utils/console.h"

void DiagnoseCmd::run()
{
    using kelvane::utils::consoleOut;
    logging::LogLine(consoleOut) << "Утилита диагностики Kelvane v" << toolVersion;
    logging::LogLine(consoleOut) << "Идет диагностика токена.";
    logging::LogLine(consoleOut) << "Пожалуйста, подождите...";

    Token token = getAvailableToken();
    const uint64_t serial = token.getSerial();
    logging::Logger logger(serial);  // from here on every line goes to this token's log
    writeReport(token, serial, logger);
}
