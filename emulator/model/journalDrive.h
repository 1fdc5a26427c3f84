#pragma once

#include "bytes.h"

#include <filesystem>

namespace kvtoken {

// The journal as the files of the journal events section's drive: cut
// between records, each file at most maxFileSize bytes unless one record
// alone is larger; a last record that runs past the end stays in the last
// file as it is. The files together are the journal, in order.
std::vector<Bytes> journalFiles(const Bytes& journal, size_t maxFileSize);

// Writes the files as "journal-0001.bin", "journal-0002.bin"... so that
// their names sort in journal order; an empty journal writes none.
void writeJournalFiles(const std::filesystem::path& drive, const Bytes& journal, size_t maxFileSize);

// Removes the files writeJournalFiles writes, and nothing else.
void removeJournalFiles(const std::filesystem::path& drive);

}  // namespace kvtoken
