#pragma once

#include "bytes.h"
#include "kvflash-core/protectConditions.h"

#include <cstdint>
#include <map>

namespace kvfl {

// One flash section as the library keeps it; sizes are in the device's units.
struct Section {
    enum Type : int32_t { Ordinary = 0, JournalEvents = 1, JournalType = 2, Encrypted = 3 };
    enum AccessState : uint8_t { NoAccess = 0, ReadOnly = 1, ReadWrite = 3, CdRom = 5 };
    // The six switch operations a rule can guard; the device gives them
    // their meaning, except the temporary switch to read-only.
    enum SwitchAccessOperations : uint8_t { TemporaryReadOnly = 0x02 };
    static constexpr int switchOperationCount = 6;

    uint32_t size = 0;
    uint8_t accessState = NoAccess;
    std::map<uint8_t, ProtectConditions> conditions;  // operation bit -> rule; absent: unrestricted
    int32_t type = Ordinary;

    bool isJournal() const { return type == JournalEvents || type == JournalType; }
    friend bool operator==(const Section&, const Section&) = default;
};

using Sections = std::map<uint8_t, Section>;  // keyed by the section number

// The most sections the device holds.
inline constexpr uint32_t maxSectionCount = 8;

bool isValidAccessState(uint32_t state);

// The answer to GET SECTIONS ATTRIBUTES: one 20-byte element with tag 80 per section.
Sections parseSectionDescriptions(const Bytes& answer);

// The 22-byte element (80 14 ...) that asks the device for this section
// under the given number.
Bytes encodeSectionDescription(uint8_t number, const Section& section);

// The device keeps a journal section switchable only temporarily to
// read-only: every other operation must be forbidden and that one must not.
void checkJournalConditions(const std::map<uint8_t, ProtectConditions>& conditions);

}  // namespace kvfl
