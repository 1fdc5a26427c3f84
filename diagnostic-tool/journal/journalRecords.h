#pragma once

#include "pcscWrapper/apdu.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// What a record's length carries; a field is absent when the record's type
// or length leaves it out.
struct JournalRecordFields {
    using Hash = std::array<uint8_t, 4>;

    std::optional<uint16_t> sw;  // status word of the recorded operation
    std::optional<uint8_t> sectionId;
    std::optional<uint8_t> authenticationType;
    std::optional<uint16_t> objectId;
    std::optional<Hash> keyHash;
    std::optional<uint32_t> uptime;  // seconds since the token was powered
    std::optional<uint8_t> remainingAttempts;
    std::optional<Hash> containerNameHash;
    std::optional<Hash> firstKeyHash;
    std::optional<Hash> secondKeyHash;
    uint8_t major = 0;
    uint8_t minor = 0;
    uint32_t connections = 0;
    uint64_t systemTime = 0;  // raw seconds since 1970, as the token keeps them
    // Host texts and the value of a record the tool cannot read, viewed in
    // the journal bytes the record was read from.
    ByteView bytes;
};

// One record of the token's security journal. A plain value that needs no
// heap of its own (a journal has about a hundred thousand records per
// megabyte); it views the journal bytes it was read from and must not outlive them.
class JournalRecord {
public:
    // A record of the type with this tag, its fields still to be read.
    explicit JournalRecord(uint8_t tag) : tag_(tag) {}
    // Makes this a record the tool cannot read, with nothing but its value.
    void makeUnreadable(ByteView value);

    // The record type; 0 for a record the tool cannot read.
    uint8_t tag() const { return readable_ ? tag_ : 0; }
    // Status word of the recorded operation, for the types that keep one.
    std::optional<uint16_t> statusWord() const { return fields.sw; }
    // Appends the record's lines for the journal file, each ending with "\n".
    void appendText(std::string& text) const;

    JournalRecordFields fields;

private:
    uint8_t tag_;  // as read, also for a record the tool cannot read
    bool readable_ = true;
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
std::optional<JournalRecord> parseRecord(ByteView journal, size_t position);
