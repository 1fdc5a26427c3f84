#include "journal/mirelJournalReader.h"

#include "journal/decodedJournal.h"
#include "journal/journalReport.h"
#include "logging/checkResult.h"
#include "pcscWrapper/statusWords.h"
#include "pcscWrapper/tlv.h"

#include <optional>

using namespace journalReport;

namespace {

// Tokens whose firmware (identity byte 7) is older than this keep no journal.
constexpr uint8_t kFirstJournalFirmware = 0x20;
// The extended information holds the feature flags under 40 / 04; bit 0 of
// their third byte announces the journal.
constexpr uint8_t kExtendedInfoTag = 0x40;
constexpr uint8_t kFeatureFlagsTag = 0x04;
constexpr size_t kJournalFlagIndex = 2;
constexpr uint8_t kJournalFlag = 0x01;

// The token's answer once its whole journal has been read.
constexpr uint16_t kSwEndOfJournal = 0x6B00;

enum class JournalSupport { Unknown, Absent, Present };

void writeStatusWordFailure(logging::Logger& logger, uint16_t sw)
{
    logger.indented() << resultText(CheckResult::Fatal) << " " << statusWordMessage(sw);
}

bool announcesJournal(ByteView extendedInfo)
{
    const ByteView flags = findTag(findTag(extendedInfo, kExtendedInfoTag), kFeatureFlagsTag);
    return flags.size() > kJournalFlagIndex && (flags[kJournalFlagIndex] & kJournalFlag) != 0;
}

JournalSupport askJournalSupport(const Token& token, logging::Logger& logger)
{
    if (token.getFirmwareVersionLow()[0] < kFirstJournalFirmware)
        return JournalSupport::Absent;
    const ApduResponse answer = token.sendApdu(GetTokenExtendedInfoApdu());
    if (answer.sw != kSwSuccess) {
        writeStatusWordFailure(logger, answer.sw);
        return JournalSupport::Unknown;
    }
    return announcesJournal(answer.data) ? JournalSupport::Present : JournalSupport::Absent;
}

bool isJournalSupported(const MarkFailed& markFailed, const Token& token, logging::Logger& logger)
{
    startStep(logger, "Проверка поддержки журнала СБ");
    const JournalSupport support = askJournalSupport(token, logger);
    if (support == JournalSupport::Unknown) {
        markFailed();
        return false;
    }
    writeLine(logger, resultText(CheckResult::Success));
    writeNestedLine(logger, support == JournalSupport::Present ? "Журнал СБ поддерживается"
                                                               : "Журнал СБ не поддерживается");
    return support == JournalSupport::Present;
}

// The token keeps its own read position: the same command returns the next
// portion each time. None when the read did not end with the end-of-journal answer.
std::optional<Bytes> readJournalBytes(const MarkFailed& markFailed, const Token& token,
                                      logging::Logger& logger)
{
    startStep(logger, "Чтение журнала СБ");
    const ReadJournalApdu readNextPortion;
    Bytes journal;
    for (unsigned portion = 0; portion < MirelJournalReader::kMaxPortions; ++portion) {
        const ApduResponse answer = token.sendApdu(readNextPortion);
        journal.insert(journal.end(), answer.data.begin(), answer.data.end());
        if (answer.sw == kSwEndOfJournal) {
            writeLine(logger, resultText(CheckResult::Success));
            return journal;
        }
        if (answer.sw != kSwSuccess) {
            writeStatusWordFailure(logger, answer.sw);
            markFailed();
            return std::nullopt;
        }
    }
    logger.indented() << resultText(CheckResult::Fatal) << " Журнал СБ не завершён ответом 6B00 после "
                      << MirelJournalReader::kMaxPortions << " команд чтения.";
    markFailed();
    return std::nullopt;
}

void reportDecoding(DecodeStatus status, const MarkFailed& markFailed, logging::Logger& logger)
{
    if (status == DecodeStatus::Ok) {
        startStep(logger, "Декодирование журнала СБ");
        writeLine(logger, resultText(CheckResult::Success));
        return;
    }
    reportDecodingFailure(logger, status);
    markFailed();
}

}  // namespace

MirelJournalReader::MirelJournalReader(JournalPath journalPath) : journalPath_(std::move(journalPath)) {}

void MirelJournalReader::readJournal(const MarkFailed& markFailed, Token& token, logging::Logger& logger)
{
    if (!isJournalSupported(markFailed, token, logger))
        return;
    const std::optional<Bytes> journal = readJournalBytes(markFailed, token, logger);
    if (!journal)
        return;
    DecodedJournal decoded(*journal);
    reportDecoding(decoded.status(), markFailed, logger);
    // Decoding problems are in the report already; the file is written in every case.
    const std::filesystem::path path = journalPath_(token.getSerial());
    if (writeJournalFile(path, decoded, *journal, logger))
        printJournalFileHash(path, logger);
}
