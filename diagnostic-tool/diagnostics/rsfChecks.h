#pragma once

#include "logging/checkResult.h"
#include "logging/logger.h"
#include "pcscWrapper/token.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// Protected objects named by P1 of the integrity commands.
constexpr uint8_t kAdminPinObject = 0x31;
constexpr uint8_t kUserPinObject = 0x32;
constexpr uint8_t kSelectedFileObject = 0x33;

// A folder whose token keeps answering SELECT next is abandoned after this many entries.
constexpr size_t kMaxFolderEntries = 1024;

// Asks the token to verify one protected object against its reference checksum
// and writes the outcome; on a refusal stores faultGrade in kiSeverity and writes
// the stored reference checksum one level deeper.
void protectedObjectIntegrity(Token& token, logging::Logger& logger, uint8_t object, CheckResult faultGrade,
                              CheckResult& kiSeverity);

// Walks one folder of RSF files and verifies each; a fault stores Critical in kiSeverity.
void rsfFolderCheck(Token& token, logging::Logger& logger, std::span<const uint16_t> folderPath,
                    std::string_view title, CheckResult& kiSeverity);
