#pragma once

#include "journal/decodedJournal.h"
#include "logging/logger.h"
#include "pcscWrapper/apdu.h"

#include <cstdint>
#include <filesystem>
#include <ostream>

// "logs" beside the running program, then security_log-<serial>-<time stamp>.txt.
// The "logs" directory is not created here: without it the file cannot be made.
std::filesystem::path journalFilePath(uint64_t serial);

// The record texts, the empty-journal line and, for a journal that did not
// decode cleanly, the raw bytes: what a journal file holds.
void writeJournalContent(std::ostream& out, DecodedJournal& journal, ByteView journalBytes);

// The raw journal as lower-case hex, 32 bytes per line, under its heading.
void writeBinaryDump(ByteView journalBytes, std::ostream& out);

// Whether a journal replaces what its file held or follows it.
enum class JournalFileMode { Replace, Append };

// Writes the journal's content into its file. When the file cannot be created
// or written, reports the write step's failure and returns false.
bool saveJournalContent(const std::filesystem::path& path, JournalFileMode mode, DecodedJournal& journal,
                        ByteView journalBytes, logging::Logger& logger);

// The write step's success lines, naming the file.
void reportJournalFileWritten(const std::filesystem::path& path, logging::Logger& logger);

// Writes the journal file and its report lines; false when the file could
// not be created or written.
bool writeJournalFile(const std::filesystem::path& path, DecodedJournal& journal, ByteView journalBytes,
                      logging::Logger& logger);

// Reports the SHA-256 of a journal file written by writeJournalFile.
void printJournalFileHash(const std::filesystem::path& path, logging::Logger& logger);
