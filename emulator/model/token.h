#pragma once

#include "profile.h"

#include <chrono>
#include <random>
#include <set>

namespace kvtoken {

// What the host's logins have given it: VERIFY adds, RESET ACCESS RIGHTS,
// a reset and the power going take everything away.
struct Rights {
    bool admin = false;
    bool user = false;
    std::set<uint8_t> localSecrets;  // identifiers of local PINs and MVAs
};

// The token itself: its data, its file system and what it remembers between
// commands (current folder and file, journal read position, counters).
class Token {
public:
    // randomSeed makes GET CHALLENGE repeatable; without it the token seeds
    // its generator from the system.
    explicit Token(TokenProfile profile, std::optional<uint64_t> randomSeed = std::nullopt);

    // A new connection to the host: the USB connection counter grows and the
    // volatile state starts afresh.
    void powerOn();
    // The power goes (vpcd's power off, or the token leaves the reader):
    // temporary section switches end.
    void powerOff();
    // A warm reset: volatile state only.
    void reset();
    // True once after the host asked for a restart and had its answer.
    bool takeRestartRequest();

    Reply execute(const CommandApdu& command);

    uint32_t usbConnectionCounter() const { return profile_.usbConnectionCounter; }

private:
    Reply getData(const CommandApdu& command);
    Reply diagnose(const CommandApdu& command);
    Reply select(const CommandApdu& command);
    Reply getChallenge(const CommandApdu& command);
    Reply extendedInfo(const CommandApdu& command);
    Reply readJournal(const CommandApdu& command);
    Reply sections(const CommandApdu& command);
    Reply resetAccessRights(const CommandApdu& command);
    Reply verify(const CommandApdu& command);
    Reply resetRetryCounter(const CommandApdu& command);
    Reply createFile(const CommandApdu& command);
    Reply changeReferenceData(const CommandApdu& command);
    Reply appendRecord(const CommandApdu& command);
    Reply updateRecord(const CommandApdu& command);
    Reply eraseRecord(const CommandApdu& command);
    Reply putData(const CommandApdu& command);

    // The PIN or MVA a VERIFY or RESET RETRY COUNTER reference names: 01 the
    // administrator, 02 the user, 80 | id a local PIN or MVA.
    FileNode* secretFor(uint8_t reference);
    void grant(uint8_t reference);
    bool satisfies(const ProtectRule& rule) const;
    // The MVA the record commands work on, or why there is none.
    std::pair<FileNode*, uint16_t> currentMva();
    FileNode* localFolder() const;
    bool appendHostInformation(const Bytes& items);

    Reply identity() const;
    Reply serial() const;
    Reply freeMemory() const;
    Reply hardwareData() const;
    Reply iteration() const;
    Reply modelName() const;
    Reply changesCounter() const;
    Reply usbCounter() const;
    Reply adminPinFcp() const;
    Reply userPinFcp() const;

    Reply osChecksum(uint8_t);
    Reply selfTest(uint8_t test);
    Reply systemKey(uint8_t key);
    Reply checkObject(uint8_t object);
    Reply objectReference(uint8_t object);
    Reply errorJournal(uint8_t);
    Reply emergencyEvent(uint8_t);
    Reply eepromStatus(uint8_t);

    // Shows the journal on the journal section's drive while the section is
    // readable, and takes it away when it is no longer.
    void updateJournalDrive();

    // The object a diagnostic command names: 31 and 32 the global PINs,
    // 33 the currently selected file.
    const FileNode* namedObject(uint8_t object) const;

    TokenProfile profile_;
    FileSystem files_;
    std::optional<FlashMemory> flash_;
    bool journalShown_ = false;
    Rights rights_;
    std::optional<Bytes> pendingHostInformation_;  // chunks so far
    std::chrono::steady_clock::time_point poweredSince_ = std::chrono::steady_clock::now();
    size_t journalPosition_ = 0;
    std::mt19937_64 random_;
};

}  // namespace kvtoken
