#include "diagnostics/integrityChecks.h"

#include "diagnostics/globalPins.h"
#include "diagnostics/reportLines.h"
#include "diagnostics/rsfChecks.h"
#include "utils/hexText.h"

#include <array>
#include <cstdint>

namespace {

struct SystemKey {
    uint8_t id;
    const char* name;
};

constexpr std::array<SystemKey, 3> kSystemKeys{{
    {0x21, "Главный ключ"},
    {0x22, "Ключ для ГСЧ"},
    {0x23, "IV для ГСЧ"},
}};

struct RsfGroup {
    std::array<uint16_t, 3> path;
    const char* title;
};

constexpr std::array<RsfGroup, 4> kRsfGroups{{
    {{0x1000, 0x1000, 0x6001}, "Проверка открытых ключей"},
    {{0x1000, 0x1000, 0x6002}, "Проверка закрытых ключей"},
    {{0x1000, 0x1000, 0x6003}, "Проверка симметричных ключей"},
    {{0x1000, 0x1000, 0x6005}, "Проверка локальных PIN-кодов"},
}};

constexpr const char* kKeyInformationTitle = "Проверка целостности КИ";
constexpr const char* kSystemKeysTitle = "Проверка системной ключевой информации";
constexpr const char* kRsfTitle = "Проверка RSF файлов";

void systemKeysCheck(Token& token, logging::Logger& logger, CheckResult& kiSeverity)
{
    logger.indented() << kSystemKeysTitle;
    bool keyFailed = false;
    {
        DeeperLevel keys(logger);
        for (const SystemKey& key : kSystemKeys) {
            logger.indented() << key.name;
            if (!writeOutcome(logger, CheckResult::Fatal, token.sendApdu(CheckSystemKeyApdu(key.id)).sw)) {
                kiSeverity = CheckResult::Fatal;
                keyFailed = true;
            }
        }
    }
    if (keyFailed)
        writeSeveritySummary(logger, kSystemKeysTitle, CheckResult::Fatal);
}

// A group counts once the shared severity is set, whichever sub-check set it:
// after an earlier fault of the group every folder counts.
void rsfFilesCheck(Token& token, logging::Logger& logger, CheckResult& kiSeverity)
{
    logger.line();
    logger.indented() << kRsfTitle;
    size_t groupsCounted = 0;
    {
        DeeperLevel groups(logger);
        for (const RsfGroup& group : kRsfGroups) {
            rsfFolderCheck(token, logger, group.path, group.title, kiSeverity);
            if (kiSeverity != CheckResult::Success)
                ++groupsCounted;
        }
    }
    if (groupsCounted == kRsfGroups.size()) {
        kiSeverity = CheckResult::Fatal;
        writeSeveritySummary(logger, kRsfTitle, CheckResult::Fatal);
    }
}

}  // namespace

void osIntegrityCheck(Token& token, logging::Logger& logger, const MarkFailed& markFailed)
{
    logger.indented() << "Проверка целостности ОС Kelvane";
    const ApduResponse answer = token.sendApdu(GetOsCrcApdu());
    const std::optional<uint32_t> crc = answeredNumber(answer);
    if (!crc) {
        writeAnswerFault(logger, CheckResult::Fatal, answer, 4);
        markFailed();
        return;
    }
    logger.indented() << resultText(CheckResult::Success);
    DeeperLevel details(logger);
    logger.indented() << "CRC микропрограммы: " << lowerHex(*crc, 8);
}

void keyInformationCheck(Token& token, logging::Logger& logger, TokenModel model, uint8_t firmwareBuild,
                         const MarkFailed& markFailed)
{
    logger.line();
    logger.indented() << kKeyInformationTitle;
    CheckResult kiSeverity = CheckResult::Success;
    {
        DeeperLevel group(logger);
        if (model != KelvaneBrisa || firmwareBuild >= 10)
            systemKeysCheck(token, logger, kiSeverity);
        globalPinsCheck(token, logger, kiSeverity, markFailed);
        if (model != KelvaneBrisa)
            rsfFilesCheck(token, logger, kiSeverity);
    }
    if (kiSeverity == CheckResult::Success)
        return;
    markFailed();
    logger.line();
    writeSeveritySummary(logger, kKeyInformationTitle, kiSeverity);
}
