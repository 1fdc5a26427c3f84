#include "diagnostics/rsfChecks.h"

#include "diagnostics/reportLines.h"
#include "pcscWrapper/tlv.h"
#include "utils/hexText.h"

#include <stdexcept>

namespace {

constexpr uint8_t kFileIdTag = 0x83;
constexpr uint8_t kDescriptorTag = 0x82;
constexpr uint8_t kFolderDescriptor = 0x38;

constexpr size_t kChecksumLength = 4;

struct FolderEntry {
    uint16_t fileId;
    bool isFolder;
};

// A value too short for what is read is as unusable as a missing one.
ByteView requiredTag(ByteView buffer, uint8_t tag, size_t minimumLength)
{
    const ByteView value = findTag(buffer, tag);
    if (value.size() < minimumLength)
        throw std::logic_error("Tag was not found in buffer");
    return value;
}

FolderEntry parseEntry(const Bytes& fcp)
{
    const ByteView fcpTemplate = findTag(fcp, kFcpTemplateTag);
    const ByteView fileId = requiredTag(fcpTemplate, kFileIdTag, 2);
    const ByteView descriptor = requiredTag(fcpTemplate, kDescriptorTag, 1);
    return {static_cast<uint16_t>(bigEndian(fileId.first(2))), descriptor[0] == kFolderDescriptor};
}

void writeReferenceChecksum(Token& token, logging::Logger& logger, uint8_t object)
{
    const ApduResponse answer = token.sendApdu(GetRsfRefChecksumApdu(object));
    if (const std::optional<uint32_t> checksum = answeredNumber(answer))
        logger.indented() << "Эталонная контрольная сумма: " << lowerHex(*checksum, 8);
    else if (answer.sw == kSwSuccess)
        logger.indented() << shortAnswerText(answer.data.size(), kChecksumLength);
    else
        logger.indented() << "Получение эталонной контрольной суммы не удалось: " << lowerHex(answer.sw, 4);
}

void rsfFileIntegrity(Token& token, logging::Logger& logger, uint16_t fileId, CheckResult& kiSeverity)
{
    DeeperLevel file(logger);
    logger.indented() << "ID " << lowerHex(fileId, 4);
    protectedObjectIntegrity(token, logger, kSelectedFileObject, CheckResult::Critical, kiSeverity);
}

void criticalRefusal(logging::Logger& logger, uint16_t sw, CheckResult& kiSeverity)
{
    kiSeverity = CheckResult::Critical;
    writeRefusal(logger, CheckResult::Critical, sw);
}

}  // namespace

void protectedObjectIntegrity(Token& token, logging::Logger& logger, uint8_t object, CheckResult faultGrade,
                              CheckResult& kiSeverity)
{
    if (writeOutcome(logger, faultGrade, token.sendApdu(CheckRsfApdu(object)).sw))
        return;
    kiSeverity = faultGrade;
    DeeperLevel reference(logger);
    writeReferenceChecksum(token, logger, object);
}

void rsfFolderCheck(Token& token, logging::Logger& logger, std::span<const uint16_t> folderPath,
                    std::string_view title, CheckResult& kiSeverity)
{
    logger.indented() << title;
    const ApduResponse folder = token.sendApdu(SelectByFullPath(folderPath));
    if (folder.sw != kSwSuccess) {
        criticalRefusal(logger, folder.sw, kiSeverity);
        return;
    }

    ApduResponse selected = token.sendApdu(SelectFirstFileApdu());
    if (selected.sw != kSwSuccess) {
        logger.indented() << "-> !ОБЪЕКТЫ НЕ ОБНАРУЖЕНЫ";
        return;
    }
    for (size_t visited = 0; visited < kMaxFolderEntries; ++visited) {
        const FolderEntry entry = parseEntry(selected.data);
        if (entry.isFolder) {
            // Selecting a folder enters it; step back out without walking it.
            const ApduResponse parent = token.sendApdu(SelectUpperFolder());
            if (parent.sw != kSwSuccess) {
                criticalRefusal(logger, parent.sw, kiSeverity);
                return;
            }
        } else {
            rsfFileIntegrity(token, logger, entry.fileId, kiSeverity);
        }
        selected = token.sendApdu(SelectNextFileApdu(entry.fileId));
        if (selected.sw != kSwSuccess)
            return;  // the token ends every folder by refusing SELECT next
    }
    kiSeverity = CheckResult::Critical;
    logger.indented() << resultText(CheckResult::Critical) << " Папка содержит более " << kMaxFolderEntries
                      << " объектов, проверка прервана.";
}
