// The library's exception family. Every failure inside the library is one
// of these; the C frame turns it into its status code.
#pragma once

#include <kvflash-core/kvflash.h>

#include <cstdint>
#include <optional>
#include <source_location>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kvfl {

// What a detail entry of an exception carries.
enum class ErrorInfoKind : int32_t {
    StdException = 0,
    ApduStatus = 1,
    Location = 2,
    PcscCode = 3,
    PcscCodeHex = 4,
    RemainingAttempts = 5,
    TlvParsing = 6,
    ApduResponse = 7,
    ProtectConditionsByte = 8,
    MaxSectionCount = 9,
    AvailableFlashSize = 10,
    SectionSize = 11,
    SectionType = 12,
    SecretId = 13,
    SecretIdRange = 14,
    ExpectedSecretType = 15,
};

struct ErrorInfo {
    ErrorInfoKind kind;
    std::variant<int64_t, std::string> value;
};

class Exception : public std::exception {
public:
    explicit Exception(kvflash_StatusCode status, std::vector<ErrorInfo> details = {});

    kvflash_StatusCode status() const noexcept { return status_; }
    const std::vector<ErrorInfo>& details() const noexcept { return details_; }
    const std::string& message() const noexcept { return message_; }
    // One "label: value" line per detail whose kind has a label.
    const std::vector<std::string>& detailLines() const noexcept { return detailLines_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    kvflash_StatusCode status_;
    std::vector<ErrorInfo> details_;
    std::string message_;
    std::vector<std::string> detailLines_;
};

// A PC/SC call failed: status KVFLASH_PCSC_ERROR with the place of the call,
// the result code and the code in hexadecimal.
class PcscException : public Exception {
public:
    explicit PcscException(uint32_t resultCode,
                           std::source_location where = std::source_location::current());
    uint32_t resultCode() const noexcept { return resultCode_; }

private:
    uint32_t resultCode_;
};

// The token answered with a status word the operation does not accept.
class ApduException : public Exception {
public:
    explicit ApduException(uint16_t statusWord);
    uint16_t statusWord() const noexcept { return statusWord_; }

private:
    uint16_t statusWord_;
};

// A queried structure is not in a state that allows the query.
class InvalidState : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// The text of a status code; empty when the code has none.
std::string_view statusMessage(int32_t status);
// The label of a detail kind; none for kinds without a label.
std::optional<std::string_view> infoLabel(ErrorInfoKind kind);
// The status that a token status word stands for; KVFLASH_INTERNAL_ERROR
// for words the library does not know.
kvflash_StatusCode swToStatus(uint16_t statusWord);

// Shorthand for the common "status plus one detail" failure.
[[noreturn]] void fail(kvflash_StatusCode status, ErrorInfoKind kind,
                       std::variant<int64_t, std::string> value);

}  // namespace kvfl
