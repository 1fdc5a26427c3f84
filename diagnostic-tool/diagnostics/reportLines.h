#pragma once

#include "logging/checkResult.h"
#include "logging/logger.h"
#include "pcscWrapper/apdu.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

using logging::DeeperLevel;

// A refused command: the fault marker, one space and the status word explained.
void writeRefusal(logging::Logger& logger, CheckResult grade, uint16_t sw);

// "-> Успешно" for 0x9000, otherwise the refusal; true on success.
bool writeOutcome(logging::Logger& logger, CheckResult faultGrade, uint16_t sw);

// Why an answer gave no usable data: the refusal, or, for a 0x9000 answer
// shorter than expectedBytes, the fault marker and the received length.
void writeAnswerFault(logging::Logger& logger, CheckResult grade, const ApduResponse& answer, size_t expectedBytes);

// "Неполный ответ токена: получено N Б из M.": a 0x9000 answer too short for what is read from it.
std::string shortAnswerText(size_t receivedBytes, size_t expectedBytes);

// An answer the check cannot read: the note one level deeper, the whole answer
// dumped one level below it.
void writeUnreadableAnswer(logging::Logger& logger, std::string_view note, ByteView answer);

// "<title> - критичность проверки: [critical]" or "... [fatal]".
void writeSeveritySummary(logging::Logger& logger, std::string_view title, CheckResult severity);

// The big-endian 32-bit number of a 0x9000 answer; none when refused or too short.
std::optional<uint32_t> answeredNumber(const ApduResponse& answer);