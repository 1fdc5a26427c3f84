#pragma once

#include "journal/decodedJournal.h"
#include "logging/logger.h"

#include <string_view>

// Report lines of the journal steps, each at the logger's level.
namespace journalReport {

// A blank line, then the step's title.
void startStep(logging::Logger& logger, std::string_view title);
void writeLine(logging::Logger& logger, std::string_view text);
// One level deeper; the level is back where it was afterwards, even if the log write throws.
void writeNestedLine(logging::Logger& logger, std::string_view text);

// The decoding step with what went wrong, for a journal that did not decode cleanly.
void reportDecodingFailure(logging::Logger& logger, DecodeStatus status);

}  // namespace journalReport
