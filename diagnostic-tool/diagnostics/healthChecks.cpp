#include "diagnostics/healthChecks.h"

#include "diagnostics/reportLines.h"
#include "pcscWrapper/tlv.h"

#include <array>

namespace {

constexpr size_t kErrorJournalLength = 12;

// Counters 2 to 5 of the error journal; 0 and 1 are the global PIN entries.
constexpr std::array<const char*, 4> kOperationErrorTexts{
    "Количество ошибок работы ГСЧ: ",
    "Количество ошибок работы алгоритма VKO: ",
    "Количество ошибок работы алгоритмов ГОСТ Р 34.10: ",
    "Количество ошибок работы алгоритмов ГОСТ 28147: ",
};

constexpr uint8_t kSectorTag = 0x85;
constexpr size_t kSectorRecordLength = 8;
constexpr uint8_t kChallengeLength = 0x20;

constexpr const char* kSectorsTitle = "Получение статуса секторов памяти";

void writeErrorCounters(logging::Logger& logger, ByteView journal)
{
    DeeperLevel counters(logger);
    logger.indented() << "Количество ошибок ввода глобальных PIN - кодов";
    {
        DeeperLevel pins(logger);
        logger.indented() << "Администратора: " << bigEndian(journal.subspan(0, 2));
        logger.indented() << "Пользователя: " << bigEndian(journal.subspan(2, 2));
    }
    for (size_t i = 0; i < kOperationErrorTexts.size(); ++i)
        logger.indented() << kOperationErrorTexts[i] << bigEndian(journal.subspan(4 + 2 * i, 2));
}

void writeEmergencyEvent(Token& token, logging::Logger& logger)
{
    DeeperLevel event(logger);
    logger.indented() << "Получение аварийного события";
    const ApduResponse answer = token.sendApdu(DiagnoseCardApdu(0x42, 0x01, 0x00));
    if (!writeOutcome(logger, CheckResult::Error, answer.sw))
        return;
    DeeperLevel dump(logger);
    auto line = logger.indented();
    writeHexBytes(line, answer.data);
}

struct SectorTally {
    size_t records = 0;
    size_t unreliable = 0;
};

void writeSector(logging::Logger& logger, ByteView record, SectorTally& tally, const MarkFailed& markFailed)
{
    DeeperLevel sector(logger);
    logger.indented() << "Сектор " << bigEndian(record.subspan(0, 2));
    DeeperLevel details(logger);
    logger.indented() << "Число перезаписей: " << bigEndian(record.subspan(2, 4));
    const bool unreliable = record[6] & 0x01;
    logger.indented() << (unreliable ? "недостоверно" : "достоверно");
    ++tally.records;
    if (unreliable) {
        ++tally.unreliable;
        markFailed();
    }
}

bool isSectorRecord(const Tlv& object)
{
    return object.tag == kSectorTag && object.value.size() == kSectorRecordLength;
}

// An object other than a sector record, or a sequence cut short, ends the walk
// without a summary.
void writeSectors(logging::Logger& logger, ByteView answer, const MarkFailed& markFailed)
{
    const TlvSequence objects = parseTlv(answer, TlvLengths::Ber);
    SectorTally tally;
    for (const Tlv& object : objects.objects) {
        if (!isSectorRecord(object))
            break;
        writeSector(logger, object.value, tally, markFailed);
    }
    if (tally.records < objects.objects.size() || !objects.complete) {
        writeUnreadableAnswer(logger, "Неизвестное содержание журнала:", answer);
        markFailed();
        return;
    }
    // An answer without records counts as all of them unreliable, yet it
    // changes no verdict: only an unreliable sector does.
    if (tally.unreliable == tally.records)
        writeSeveritySummary(logger, kSectorsTitle, CheckResult::Fatal);
    else if (tally.unreliable > 0)
        writeSeveritySummary(logger, kSectorsTitle, CheckResult::Critical);
}

}  // namespace

void errorJournalCheck(Token& token, logging::Logger& logger, const MarkFailed& markFailed)
{
    logger.line();
    logger.indented() << "Получение журнала ошибочных операций";
    const ApduResponse answer = token.sendApdu(GetErrorsJournalApdu());
    if (answer.sw == kSwSuccess && answer.data.size() >= kErrorJournalLength) {
        writeErrorCounters(logger, answer.data);
        return;
    }
    writeAnswerFault(logger, CheckResult::Error, answer, kErrorJournalLength);
    markFailed();
    writeEmergencyEvent(token, logger);
}

void memorySectorsCheck(Token& token, logging::Logger& logger, const MarkFailed& markFailed)
{
    logger.line();
    logger.indented() << kSectorsTitle;
    const ApduResponse answer = token.sendApdu(GetEepromStatusApdu());
    if (answer.sw == kSwFunctionNotSupported) {
        DeeperLevel note(logger);
        logger.indented() << "Запрошенная функциональность не поддерживается";
    } else if (answer.sw != kSwSuccess) {
        writeRefusal(logger, CheckResult::Error, answer.sw);
        markFailed();
    } else {
        writeSectors(logger, answer.data, markFailed);
    }
}

void randomGeneratorCheck(Token& token, logging::Logger& logger, const MarkFailed& markFailed)
{
    logger.line();
    logger.indented() << "Проверка работоспособности ГСЧ";
    if (!writeOutcome(logger, CheckResult::Fatal, token.sendApdu(GetChallengeApdu(kChallengeLength)).sw))
        markFailed();
}
