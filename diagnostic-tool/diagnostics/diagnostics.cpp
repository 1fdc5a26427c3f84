#include "diagnostics/diagnostics.h"

#include "diagnostics/algorithmTests.h"
#include "diagnostics/deviceSummary.h"
#include "diagnostics/healthChecks.h"
#include "diagnostics/integrityChecks.h"
#include "diagnostics/reportLines.h"
#include "journal/journalReader.h"

const char* const toolVersion = KVDIAG_VERSION;

bool allChecksPassed = false;

const std::function<void()> markFailed = [] { allChecksPassed = false; };

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

void securityJournal(Token& token, logging::Logger& logger)
{
    if (const std::unique_ptr<IJournalReader> reader = makeJournalReader(token))
        reader->readJournal(markFailed, token, logger);
}

}  // namespace

void performDiagnostics(Token& token, logging::Logger& logger)
{
    DeeperLevel checks(logger);
    allChecksPassed = true;
    logger.line();
    osIntegrityCheck(token, logger);
    deviceSummary(token, logger);

    const TokenModel model = token.getModel();
    const uint8_t firmwareBuild = token.getFirmwareVersionLow()[0];
    if (model != KelvaneBrisa)
        algorithmSelfTests(token, logger, model);
    keyInformationCheck(token, logger, model, firmwareBuild);
    if (model != KelvaneBrisa)
        errorJournalCheck(token, logger);
    if (reportsMemorySectors(model, firmwareBuild))
        memorySectorsCheck(token, logger);
    randomGeneratorCheck(token, logger);
    securityJournal(token, logger);
}

void writeReport(Token& token, uint64_t serial, logging::Logger& logger)
{
    logger.indented() << "Версия утилиты диагностики Kelvane: " << toolVersion;
    logger.indented() << "Диагностика устройства с серийным номером " << serial << "...";
    performDiagnostics(token, logger);
    logger.line();
    logger.indented() << (allChecksPassed ? "-> Все проверки прошли успешно" : "-> При диагностике были выявлены ошибки");
}
