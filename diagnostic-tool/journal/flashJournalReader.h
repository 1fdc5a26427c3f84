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
#include <string_view>
#include <vector>

// Reads the security journal from the files of the token's journal events
// section, which the token shows as a volume while the section is readable.
class FlashJournalReader : public IJournalReader {
public:
    // Where the journal file of a token serial goes; tests point it elsewhere.
    using JournalPath = std::function<std::filesystem::path(uint64_t serial)>;
    // Waits at most the time given for the mount table to change; true when it did.
    using MountWait = std::function<bool(std::chrono::milliseconds atMost)>;
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // The section's volume appears some seconds after the switch; it is
    // looked for after each wait of a second, giving up after this many
    // waits. A change of the mount table makes the reader look at once; only
    // finding the volume ends a wait early.
    static constexpr int kMaxWaits = 61;
    static constexpr std::chrono::seconds kWait{1};

    // A token cuts its journal, about a megabyte at most, into files of a few
    // kilobytes. A section with more files, or a larger file, is not a journal
    // the reader takes into memory: it stops reading there.
    static constexpr size_t kMaxJournalFiles = 4096;
    static constexpr std::uintmax_t kMaxJournalFileSize = 4 * 1024 * 1024;

    explicit FlashJournalReader(std::unique_ptr<TokenFlashAccess> flash, MountWait waitForMount = mountTableWait(),
                                Clock clock = std::chrono::steady_clock::now, JournalPath journalPath = journalFilePath);

    void readJournal(const MarkFailed& markFailed, Token& token, logging::Logger& logger) override;

private:
    // Waits until the mount table changes, at most the time given, so a
    // drive is looked for as soon as it is mounted. It watches from its
    // creation on: a mount between two looks still ends the next wait.
    static MountWait mountTableWait();

    bool isJournalSupported(Token& token, logging::Logger& logger);
    bool findJournalFiles(Token& token);
    std::optional<std::filesystem::path> waitForSection(const Token& token, uint8_t sectionId);
    std::optional<std::filesystem::path> waitOneTry(const Token& token, uint8_t sectionId);
    std::optional<std::filesystem::path> lookUpSection(const Token& token, uint8_t sectionId);
    std::optional<Bytes> readFlashJournalFile(const std::filesystem::path& file, logging::Logger& logger,
                                              const MarkFailed& markFailed);
    void failRead(std::string_view message, logging::Logger& logger, const MarkFailed& markFailed);
    bool saveJournal(ByteView journalBytes, const std::filesystem::path& path, logging::Logger& logger,
                     const MarkFailed& markFailed);
    void reportSummary(const std::filesystem::path& path, logging::Logger& logger) const;

    std::unique_ptr<TokenFlashAccess> flash_;
    MountWait waitForMount_;
    Clock clock_;
    JournalPath journalPath_;
    // The section's journal files in name order, found by isJournalSupported;
    // one more than the reader takes when the section has too many.
    std::vector<std::filesystem::path> journalFiles_;
    bool readOk_ = true;
    bool decodeOk_ = true;
    bool written_ = false;
};
