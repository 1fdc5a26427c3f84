#include "diagnostics/diagnostics.h"

#include "diagnostics/algorithmTests.h"
#include "diagnostics/deviceSummary.h"
#include "diagnostics/healthChecks.h"
#include "diagnostics/integrityChecks.h"
#include "diagnostics/reportLines.h"
#include "journal/makeJournalReader.h"

const char* const toolVersion = KVDIAG_VERSION;

namespace {

// Brisa tokens report their sectors from firmware build 10, Mirel 2.0 ones
// only in build 27; every later model does.
bool reportsMemorySectors(TokenModel model, uint8_t firmwareBuild)
{
    switch (model) {
    case KelvaneBrisa: return firmwareBuild >= 10;
    case KelvaneMirel20:
    case KelvaneMirel20Flash: return firmwareBuild == 27;
    case KelvaneMirel30:
    case KelvaneVaro:
    case KelvaneMirel30Flash: return true;
    }
    return false;
}

void securityJournal(Token& token, logging::Logger& logger, const MarkFailed& markFailed)
{
    if (const std::unique_ptr<IJournalReader> reader = makeJournalReader(token))
        reader->readJournal(markFailed, token, logger);
}

}  // namespace

void performDiagnostics(Token& token, logging::Logger& logger, const MarkFailed& markFailed)
{
    DeeperLevel checks(logger);
    logger.line();
    osIntegrityCheck(token, logger, markFailed);
    deviceSummary(token, logger, markFailed);

    const TokenModel model = token.getModel();
    const uint8_t firmwareBuild = token.getFirmwareVersionLow()[0];
    if (model != KelvaneBrisa)
        algorithmSelfTests(token, logger, model, markFailed);
    keyInformationCheck(token, logger, model, firmwareBuild, markFailed);
    if (model != KelvaneBrisa)
        errorJournalCheck(token, logger, markFailed);
    if (reportsMemorySectors(model, firmwareBuild))
        memorySectorsCheck(token, logger, markFailed);
    randomGeneratorCheck(token, logger, markFailed);
    securityJournal(token, logger, markFailed);
}

void writeReport(Token& token, uint64_t serial, logging::Logger& logger)
{
    logger.indented() << "Версия утилиты диагностики Kelvane: " << toolVersion;
    logger.indented() << "Диагностика устройства с серийным номером " << serial << "...";
    // The run's verdict: every check passed until one reports a fault.
    bool allChecksPassed = true;
    performDiagnostics(token, logger, [&allChecksPassed] { allChecksPassed = false; });
    logger.line();
    logger.indented() << (allChecksPassed ? "-> Все проверки прошли успешно" : "-> При диагностике были выявлены ошибки");
}
