#pragma once

#include "apdu.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>

namespace kvtoken {

// Section types as the token keeps them. In a description the journal types
// are type codes (1 and 4) and an encrypted section is bit 6 of the access
// byte.
enum class SectionType : uint8_t { Ordinary = 0, JournalEvents = 1, JournalType = 2, Encrypted = 3 };

// Access states of a section.
namespace access {
constexpr uint8_t none = 0;
constexpr uint8_t readOnly = 1;
constexpr uint8_t readWrite = 3;
constexpr uint8_t cdRom = 5;
}  // namespace access

// The six switch operations a section can guard, one bit each.
namespace operation {
constexpr uint8_t temporaryNone = 0x01;
constexpr uint8_t temporaryReadOnly = 0x02;
constexpr uint8_t temporaryReadWrite = 0x04;
constexpr uint8_t permanentNone = 0x08;
constexpr uint8_t permanentReadable = 0x10;  // to read-only or read-write
constexpr uint8_t permanentCdRom = 0x20;
}  // namespace operation

// A guarded operation's protect condition as the device stores it: FF
// forbids the operation; otherwise bits 0-1 ask for the administrator or the
// user PIN, bit 2 for the local secret (or, with bit 7 of the secret byte,
// the complex rule) named by the secret byte, bit 3 for the key it names.
struct ProtectRule {
    uint8_t condition = 0;
    uint8_t secret = 0;

    bool forbidden() const { return condition == 0xFF; }
};

struct FlashSection {
    uint8_t number = 0;
    SectionType type = SectionType::Ordinary;
    uint32_t size = 0;  // in the device's unit, one kibibyte
    uint8_t access = access::none;
    // A temporary switch lasts until the token's power goes.
    std::optional<uint8_t> temporaryAccess;
    std::map<uint8_t, ProtectRule> rules;  // by operation bit; absent: anybody may

    uint8_t currentAccess() const { return temporaryAccess.value_or(access); }
    bool isJournal() const { return type == SectionType::JournalEvents || type == SectionType::JournalType; }
};

// The flash part of a profile (emulator/README.md, key `flash`).
struct FlashProfile {
    uint32_t totalSize = 0;
    std::chrono::milliseconds restartDelay{0};
    std::vector<FlashSection> sections;
    std::optional<std::filesystem::path> journalDrive;
    size_t journalFileSize = 4096;
};

// The description of a section the token answers (20 bytes); throws
// std::invalid_argument when its size has no multiplier and count.
Bytes describeSection(const FlashSection& section);

// Checks a profile's section the way the token checks a requested one;
// throws std::invalid_argument naming what is wrong.
void checkSection(const FlashSection& section);

// Which logins the token holds, asked when a rule names one.
using LoginCheck = std::function<bool(const ProtectRule&)>;

// The token's flash memory: its sections, their access states and the
// commands 80 53 that read and change them. A split or a permanent change
// takes effect at once; the token then restarts when the host asks it to
// (80 53 14 00), so that the host sees the new drives.
class FlashMemory {
public:
    explicit FlashMemory(FlashProfile profile);

    // loggedIn answers for the rules that ask for a login.
    Reply execute(const CommandApdu& command, const LoginCheck& loggedIn);
    // The end of the temporary switches: power off, power on, restart.
    void powerCycle();
    // True once after the host has asked for a restart and had its answer.
    bool takeRestartRequest();

    bool journalReadable() const;
    const FlashProfile& profile() const { return profile_; }

private:
    Reply split(const CommandApdu& command, const LoginCheck&);
    Reply describe(const CommandApdu& command, const LoginCheck&);
    Reply changeAccess(const CommandApdu& command, const LoginCheck& loggedIn);
    Reply totalSize(const CommandApdu& command, const LoginCheck&);
    Reply restart(const CommandApdu& command, const LoginCheck&);

    FlashSection* section(uint8_t number);
    uint16_t refusal(const FlashSection& section, bool permanent, uint8_t state, const LoginCheck& loggedIn) const;

    FlashProfile profile_;
    bool restartRequested_ = false;
};

}  // namespace kvtoken
