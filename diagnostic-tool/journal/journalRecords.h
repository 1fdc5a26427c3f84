#pragma once

#include "pcscWrapper/apdu.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// One record of the token's security journal.
class JournalRecord {
public:
    virtual ~JournalRecord() = default;
    // The record's lines for the journal file, each ending with "\n".
    virtual std::string toString() const = 0;
    // The record type; 0 for a record the tool cannot read.
    virtual uint8_t tag() const = 0;
    // Status word of the recorded operation, for the types that keep one.
    virtual std::optional<uint16_t> statusWord() const = 0;
};

// The token closes a journalled operation with this record.
constexpr uint8_t kOperationCompletionTag = 0x44;

// Whether a successful operation of this type is expected to be followed by
// a successful completion record.
bool operationNeedsCompletion(uint8_t tag);

// The record whose frame starts at `position`. A record of a known frame that
// the tool cannot read comes back with tag 0. None when the frame itself is
// broken: fewer bytes left than it claims, or fields that do not cover its
// value exactly.
std::unique_ptr<JournalRecord> parseRecord(ByteView journal, size_t position);
