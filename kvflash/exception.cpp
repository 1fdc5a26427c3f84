#include "exception.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace kvfl {
namespace {

struct StatusMessage {
    int32_t status;
    std::string_view message;
};

constexpr StatusMessage statusMessages[] = {
    {KVFLASH_OK, "Command executed successfully"},
    {KVFLASH_INTERNAL_ERROR, "An internal error has occurred"},
    {KVFLASH_PCSC_ERROR, "PCSC error"},
    {KVFLASH_NULL_POINTER, "Passed pointer is nil"},
    {KVFLASH_FILE_NOT_FOUND, "File not found"},
    {KVFLASH_INVALID_ACCESS_RIGHTS, "Invalid access rights"},
    {KVFLASH_DATA_VERIFICATION_FAILED, "Data verification failed"},
    {KVFLASH_INCORRECT_PARAMETERS, "Incorrect parameters"},
    {KVFLASH_COMMAND_NOT_SUPPORTED, "Command isn't supported by the device"},
    {KVFLASH_OBJECT_BLOCKED, "The specified object is blocked"},
    {KVFLASH_WRONG_DATA_LENGTH, "Wrong data length"},
    {KVFLASH_NO_SPACE_FOR_RECORD, "Not enough space to add a record to the file"},
    {KVFLASH_WRONG_PIN_POLICY, "Wrong PIN-code policy"},
    {KVFLASH_PIN_IN_HISTORY, "PIN-code is in history (recently used). PIN-code hasn't been changed"},
    {KVFLASH_UNSUITABLE_CONDITIONS, "Unsuitable command execution conditions"},
    {KVFLASH_LOGIN_ALREADY_CREATED, "Login for the specified user has already been created"},
    {KVFLASH_INVALID_DATA, "Invalid data"},
    {KVFLASH_NO_FREE_LOCAL_ID, "No free IDs for local authentication files"},
    {KVFLASH_NOT_ENOUGH_MEMORY, "Not enough memory on the device"},
    {KVFLASH_COMMAND_FAILED, "Command execution failed"},
    {KVFLASH_OS_INTEGRITY_VIOLATION, "Integrity violation of the device OS detected"},
    {KVFLASH_MODE_NOT_SUPPORTED, "Mode of command isn't supported by the device"},
    {KVFLASH_INVALID_RECORD_COUNT, "Invalid number of records"},
    {KVFLASH_INVALID_RECORD_SIZE, "Invalid record size"},
    {KVFLASH_INVALID_MVA_SIZE, "Invalid MVA size (max record count * max record size)"},
    {KVFLASH_INVALID_ATTEMPT_COUNT, "Invalid number of access attempts"},
    {KVFLASH_CDROM_PERMANENT_ONLY, "Only permanent access rights change is available for the CD-ROM section"},
    {KVFLASH_INVALID_SECTION_ID, "Invalid section ID"},
    {KVFLASH_JOURNAL_TEMPORARY_READ_ONLY_ONLY,
     "The journal section can be temporarily switched to read-only mode only"},
    {KVFLASH_JOURNAL_BLOCKED_BY_ENCRYPTED_SECTION,
     "The journal section can't be switched to read-only mode if the encrypted section is in read-only or "
     "read-write mode"},
    {KVFLASH_INVALID_SECTION_COUNT, "Invalid section count"},
    {KVFLASH_INVALID_SECTION_SIZE, "Invalid section size"},
    {KVFLASH_INVALID_TOTAL_SECTION_SIZE, "Invalid total section size"},
    {KVFLASH_JOURNAL_SECTION_EXISTS, "The journal events section already exists"},
    {KVFLASH_JOURNAL_SECTION_MISSING, "The journal events section is missing"},
    {KVFLASH_INVALID_JOURNAL_SECTION_SIZE, "Invalid journal events section size"},
    {KVFLASH_INVALID_JOURNAL_ACCESS_RIGHTS, "Invalid journal section access rights"},
    {KVFLASH_SECTION_TYPE_NOT_SUPPORTED, "The specified section type isn't supported by the device"},
    {KVFLASH_INVALID_PROTECT_CONDITIONS, "Invalid protect conditions combination"},
    {KVFLASH_INVALID_SECRET_ID, "Invalid secret ID"},
    {KVFLASH_MVA_RECORD_MISMATCH, "Passed record doesn't match any in specified MVA"},
    {KVFLASH_LOGIN_INCORRECT, "Login is incorrect"},
    {KVFLASH_TOKEN_NOT_FOUND, "Couldn't find a device with the specified serial number"},
    {KVFLASH_RECORD_NOT_FOUND, "Couldn't find a record with the specified ID"},
    {KVFLASH_INVALID_DEVICE_RESPONSE, "APDU response from the device is invalid"},
    {KVFLASH_INVALID_STRING_SIZE, "Invalid string size"},
    {KVFLASH_JOURNAL_READ_ONLY_SWITCH_FORBIDDEN,
     "The journal section can't be created with forbidden temporarily swiching to read-only mode"},
    {KVFLASH_SECRET_TYPE_MISMATCH, "Type of object passed by ID mismatches the expected"},
    {KVFLASH_INVALID_PIN_SIZE, "Invalid PIN-code size"},
};

struct InfoLabel {
    ErrorInfoKind kind;
    std::string_view label;
};

constexpr InfoLabel infoLabels[] = {
    {ErrorInfoKind::StdException, "Standard library exception"},
    {ErrorInfoKind::ApduStatus, "APDU command status"},
    {ErrorInfoKind::Location, "Exception location"},
    {ErrorInfoKind::PcscCode, "PCSC error code"},
    {ErrorInfoKind::PcscCodeHex, "PCSC error code, hex"},
    {ErrorInfoKind::RemainingAttempts, "Remaining number of login attempts"},
    {ErrorInfoKind::TlvParsing, "TLV structure parsing error"},
    {ErrorInfoKind::ApduResponse, "APDU response from the device"},
    {ErrorInfoKind::ProtectConditionsByte, "Protect conditions byte"},
    {ErrorInfoKind::MaxSectionCount,
     "Maximum count of sections that can be created in the current partition state"},
    {ErrorInfoKind::AvailableFlashSize, "Available flash memory size"},
    {ErrorInfoKind::SectionSize, "Section size"},
    {ErrorInfoKind::SectionType, "Section type"},
    {ErrorInfoKind::SecretId, "Secret ID"},
    {ErrorInfoKind::SecretIdRange, "Valid range of secret ID values"},
    {ErrorInfoKind::ExpectedSecretType, "Expected secret type"},
};

struct SwStatus {
    uint16_t statusWord;
    kvflash_StatusCode status;
};

constexpr SwStatus swToStatusTable[] = {
    {0x6300, KVFLASH_DATA_VERIFICATION_FAILED},
    {0x6381, KVFLASH_NO_SPACE_FOR_RECORD},
    {0x6400, KVFLASH_COMMAND_FAILED},
    {0x6700, KVFLASH_WRONG_DATA_LENGTH},
    {0x6982, KVFLASH_INVALID_ACCESS_RIGHTS},
    {0x6983, KVFLASH_OBJECT_BLOCKED},
    {0x6985, KVFLASH_UNSUITABLE_CONDITIONS},
    {0x6A80, KVFLASH_INVALID_DATA},
    {0x6A81, KVFLASH_MODE_NOT_SUPPORTED},
    {0x6A82, KVFLASH_FILE_NOT_FOUND},
    {0x6A84, KVFLASH_NOT_ENOUGH_MEMORY},
    {0x6A86, KVFLASH_INCORRECT_PARAMETERS},
    {0x6D00, KVFLASH_COMMAND_NOT_SUPPORTED},
    {0x6F86, KVFLASH_LOGIN_ALREADY_CREATED},
    {0x6F87, KVFLASH_OS_INTEGRITY_VIOLATION},
    {0x6F8C, KVFLASH_WRONG_PIN_POLICY},
    {0x6F8D, KVFLASH_PIN_IN_HISTORY},
};

std::string formatValue(const std::variant<int64_t, std::string>& value) {
    if (const auto* text = std::get_if<std::string>(&value)) {
        return '"' + *text + '"';
    }
    // integers are shown as the signed value of their low 32 bits
    return std::to_string(static_cast<int32_t>(static_cast<uint32_t>(std::get<int64_t>(value))));
}

std::vector<std::string> formatDetails(const std::vector<ErrorInfo>& details) {
    std::vector<std::string> lines;
    for (const ErrorInfo& info : details) {
        if (auto label = infoLabel(info.kind)) {
            lines.push_back(std::string(*label) + ": " + formatValue(info.value));
        }
    }
    return lines;
}

std::string locationText(const std::source_location& where) {
    return std::string(where.file_name()) + "(" + std::to_string(where.line()) + "): " + where.function_name();
}

std::string hexCode(uint32_t code) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08x", code);
    return text;
}

}  // namespace

std::string_view statusMessage(int32_t status) {
    auto entry = std::ranges::find(statusMessages, status, &StatusMessage::status);
    return entry == std::end(statusMessages) ? std::string_view{} : entry->message;
}

std::optional<std::string_view> infoLabel(ErrorInfoKind kind) {
    auto entry = std::ranges::find(infoLabels, kind, &InfoLabel::kind);
    if (entry == std::end(infoLabels)) return std::nullopt;
    return entry->label;
}

kvflash_StatusCode swToStatus(uint16_t statusWord) {
    auto entry = std::ranges::find(swToStatusTable, statusWord, &SwStatus::statusWord);
    return entry == std::end(swToStatusTable) ? KVFLASH_INTERNAL_ERROR : entry->status;
}

Exception::Exception(kvflash_StatusCode status, std::vector<ErrorInfo> details)
    : status_(status),
      details_(std::move(details)),
      message_(statusMessage(status)),
      detailLines_(formatDetails(details_)) {}

PcscException::PcscException(uint32_t resultCode, std::source_location where)
    : Exception(KVFLASH_PCSC_ERROR,
                {{ErrorInfoKind::Location, locationText(where)},
                 {ErrorInfoKind::PcscCode, static_cast<int64_t>(static_cast<int32_t>(resultCode))},
                 {ErrorInfoKind::PcscCodeHex, hexCode(resultCode)}}),
      resultCode_(resultCode) {}

ApduException::ApduException(uint16_t statusWord)
    : Exception(swToStatus(statusWord), {{ErrorInfoKind::ApduStatus, int64_t{statusWord}}}),
      statusWord_(statusWord) {}

void fail(kvflash_StatusCode status, ErrorInfoKind kind, std::variant<int64_t, std::string> value) {
    throw Exception(status, {{kind, std::move(value)}});
}

}  // namespace kvfl
