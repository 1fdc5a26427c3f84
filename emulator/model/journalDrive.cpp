#include "journalDrive.h"

#include <cstdio>
#include <fstream>
#include <regex>
#include <utility>

namespace kvtoken {

namespace {

constexpr size_t recordHeader = 2;  // tag and length

std::string fileName(size_t index)
{
    char name[32];
    std::snprintf(name, sizeof name, "journal-%04zu.bin", index);
    return name;
}

bool isJournalFileName(const std::string& name)
{
    static const std::regex pattern("journal-[0-9]{4,}\\.bin");
    return std::regex_match(name, pattern);
}

}  // namespace

std::vector<Bytes> journalFiles(const Bytes& journal, size_t maxFileSize)
{
    std::vector<Bytes> files;
    Bytes current;
    size_t position = 0;
    while (position < journal.size()) {
        const size_t remaining = journal.size() - position;
        const size_t record =
            remaining < recordHeader ? remaining : std::min(remaining, recordHeader + journal[position + 1]);
        if (!current.empty() && current.size() + record > maxFileSize)
            files.push_back(std::exchange(current, {}));
        current.insert(current.end(), journal.begin() + static_cast<long>(position),
                       journal.begin() + static_cast<long>(position + record));
        position += record;
    }
    if (!current.empty())
        files.push_back(std::move(current));
    return files;
}

void writeJournalFiles(const std::filesystem::path& drive, const Bytes& journal, size_t maxFileSize)
{
    removeJournalFiles(drive);
    const auto files = journalFiles(journal, maxFileSize);
    for (size_t i = 0; i < files.size(); ++i) {
        std::ofstream out(drive / fileName(i + 1), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(files[i].data()), static_cast<std::streamsize>(files[i].size()));
    }
}

void removeJournalFiles(const std::filesystem::path& drive)
{
    std::error_code error;
    std::vector<std::filesystem::path> written;
    for (const auto& entry : std::filesystem::directory_iterator(drive, error))
        if (isJournalFileName(entry.path().filename().string()))
            written.push_back(entry.path());
    for (const auto& file : written)
        std::filesystem::remove(file, error);
}

}  // namespace kvtoken
