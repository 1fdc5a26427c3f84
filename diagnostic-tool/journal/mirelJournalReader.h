#pragma once

#include "journal/journalFile.h"
#include "journal/journalReader.h"

#include <cstdint>
#include <filesystem>
#include <functional>

// Reads the security journal with the token's own commands, portion by portion.
class MirelJournalReader : public IJournalReader {
public:
    // Where the journal file of a token serial goes; tests point it elsewhere.
    using JournalPath = std::function<std::filesystem::path(uint64_t serial)>;

    // The token ends its journal with 6B00 long before this many portions
    // (journals are a few kilobytes; this is about a megabyte).
    static constexpr unsigned kMaxPortions = 4096;

    explicit MirelJournalReader(JournalPath journalPath = journalFilePath);

    void readJournal(const MarkFailed& markFailed, Token& token, logging::Logger& logger) override;

private:
    JournalPath journalPath_;
};
