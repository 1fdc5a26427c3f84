#pragma once

#include "journal/journalFile.h"
#include "journal/journalReader.h"
#include "journal/tokenFlashAccess.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Reads the security journal from the files of the token's journal events
// section, which the token shows as a volume while the section is readable.
class FlashJournalReader : public IJournalReader {
public:
    // Where the journal file of a token serial goes; tests point it elsewhere.
    using JournalPath = std::function<std::filesystem::path(uint64_t serial)>;
    using Sleeper = std::function<void(std::chrono::seconds)>;

    // The section's volume appears some seconds after the switch; it is
    // looked for again after each wait of at most a second, giving up after
    // this many waits.
    static constexpr int kMaxWaits = 61;

    explicit FlashJournalReader(std::unique_ptr<TokenFlashAccess> flash, Sleeper sleep = mountTableWait(),
                                JournalPath journalPath = journalFilePath);

    void readJournal(const MarkFailed& markFailed, Token& token, logging::Logger& logger) override;

private:
    // Waits until the mount table changes, at most the time given, so a
    // drive is looked for as soon as it is mounted. It watches from its
    // creation on: a mount between two looks still ends the next wait.
    static Sleeper mountTableWait();

    bool isJournalSupported(Token& token, logging::Logger& logger);
    bool findJournalFiles(Token& token);
    std::filesystem::path waitForSection(const Token& token, uint8_t sectionId);
    std::optional<Bytes> readFlashJournalFile(const std::filesystem::path& file, logging::Logger& logger,
                                              const MarkFailed& markFailed);
    bool saveJournal(ByteView journalBytes, const std::filesystem::path& path, logging::Logger& logger,
                     const MarkFailed& markFailed);
    void reportSummary(const std::filesystem::path& path, logging::Logger& logger) const;

    std::unique_ptr<TokenFlashAccess> flash_;
    Sleeper sleep_;
    JournalPath journalPath_;
    // The section's journal files in name order, found by isJournalSupported.
    std::vector<std::filesystem::path> journalFiles_;
    bool readOk_ = true;
    bool decodeOk_ = true;
    bool written_ = false;
};
