#include "journal/flashJournalReader.h"

#include "journal/decodedJournal.h"
#include "journal/journalReport.h"
#include "logging/checkResult.h"
#include "utils/mountTableWatch.h"

#include <algorithm>
#include <exception>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

using namespace journalReport;
namespace fs = std::filesystem;

namespace {

// Only regular files are journal files: a file system keeps its own
// directories in the root too. Of a root with more files than a journal ever
// has, the first ones by name are kept, and one more to show there are more;
// the list never grows beyond that, however many files the root holds.
std::vector<fs::path> journalFilesIn(const fs::path& root)
{
    std::vector<fs::path> firstFiles;  // a heap with the last of the names kept on top
    for (const fs::directory_entry& entry : fs::directory_iterator(root)) {
        if (!entry.is_regular_file())
            continue;
        firstFiles.push_back(entry.path());
        std::push_heap(firstFiles.begin(), firstFiles.end());
        if (firstFiles.size() > FlashJournalReader::kMaxJournalFiles + 1) {
            std::pop_heap(firstFiles.begin(), firstFiles.end());
            firstFiles.pop_back();
        }
    }
    std::sort_heap(firstFiles.begin(), firstFiles.end());
    return firstFiles;
}

// The whole file; a file larger than any journal is refused before it is read.
Bytes readWholeFile(const fs::path& file)
{
    std::ifstream in;
    in.exceptions(std::ios::failbit | std::ios::badbit);
    in.open(file, std::ios::binary | std::ios::ate);
    const auto size = static_cast<std::uintmax_t>(in.tellg());
    if (size > FlashJournalReader::kMaxJournalFileSize)
        throw std::length_error(" Файл журнала СБ " + file.filename().string() + " больше " +
                                std::to_string(FlashJournalReader::kMaxJournalFileSize) + " байт");
    Bytes journal(static_cast<size_t>(size));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(journal.data()), static_cast<std::streamsize>(journal.size()));
    return journal;
}

}  // namespace

FlashJournalReader::FlashJournalReader(std::unique_ptr<TokenFlashAccess> flash, MountWait waitForMount, Clock clock,
                                       JournalPath journalPath)
    : flash_(std::move(flash)),
      waitForMount_(std::move(waitForMount)),
      clock_(std::move(clock)),
      journalPath_(std::move(journalPath))
{
}

FlashJournalReader::MountWait FlashJournalReader::mountTableWait()
{
    auto watch = std::make_shared<kelvane::utils::MountTableWatch>();
    return [watch](std::chrono::milliseconds atMost) { return watch->waitForChange(atMost); };
}

void FlashJournalReader::readJournal(const MarkFailed& markFailed, Token& token, logging::Logger& logger)
{
    if (!isJournalSupported(token, logger))
        return;
    const fs::path path = journalPath_(token.getSerial());
    // A section without journal files holds an empty journal.
    if (journalFiles_.empty() && !saveJournal({}, path, logger, markFailed))
        return;
    for (size_t index = 0; index < journalFiles_.size(); ++index) {
        if (index == kMaxJournalFiles) {
            failRead(" В разделе журнала СБ больше " + std::to_string(kMaxJournalFiles) + " файлов", logger,
                     markFailed);
            break;
        }
        const std::optional<Bytes> journal = readFlashJournalFile(journalFiles_[index], logger, markFailed);
        if (!journal)
            break;
        // A journal that could not be saved ends the step: what follows would not be in the file.
        if (!saveJournal(*journal, path, logger, markFailed))
            return;
    }
    reportSummary(path, logger);
}

bool FlashJournalReader::isJournalSupported(Token& token, logging::Logger& logger)
{
    startStep(logger, "Проверка поддержки журнала СБ");
    const bool supported = findJournalFiles(token);
    writeLine(logger, resultText(CheckResult::Success));
    writeNestedLine(logger, supported ? "Журнал СБ поддерживается" : "Журнал СБ не поддерживается");
    return supported;
}

// Any failure on the way means the journal cannot be read from the flash.
bool FlashJournalReader::findJournalFiles(Token& token)
{
    try {
        const kvflash_Section section = flash_->getJournalSection(token);
        // A temporary switch, which the token ends itself; the reader never switches it back.
        flash_->changeAccessSectionRights(token, section, KVFLASH_ACCESS_READ_ONLY, false);
        const std::optional<fs::path> root = waitForSection(token, section.id);
        if (!root || !fs::is_directory(*root))
            return false;
        journalFiles_ = journalFilesIn(*root);
        return true;
    } catch (...) {
        return false;
    }
}

// None when the volume has not appeared after the last wait.
std::optional<fs::path> FlashJournalReader::waitForSection(const Token& token, uint8_t sectionId)
{
    for (int waits = 0;; ++waits) {
        if (std::optional<fs::path> root = lookUpSection(token, sectionId))
            return root;
        if (waits == kMaxWaits)
            return std::nullopt;
        if (std::optional<fs::path> root = waitOneTry(token, sectionId))
            return root;
    }
}

// One wait of a second. Any change of the mount table (other drives come and
// go too) makes the reader look at once; only the section's own volume ends
// the wait early, so unrelated mounts cannot use up the minute.
std::optional<fs::path> FlashJournalReader::waitOneTry(const Token& token, uint8_t sectionId)
{
    const auto end = clock_() + kWait;
    for (auto left = std::chrono::milliseconds(kWait); left > std::chrono::milliseconds::zero();
         left = std::chrono::ceil<std::chrono::milliseconds>(end - clock_())) {
        if (!waitForMount_(left))
            return std::nullopt;
        if (std::optional<fs::path> root = lookUpSection(token, sectionId))
            return root;
    }
    return std::nullopt;
}

// None while the section is not mounted: the lookup's runtime error says so.
std::optional<fs::path> FlashJournalReader::lookUpSection(const Token& token, uint8_t sectionId)
{
    try {
        return flash_->path(token, sectionId);
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
}

std::optional<Bytes> FlashJournalReader::readFlashJournalFile(const fs::path& file, logging::Logger& logger,
                                                              const MarkFailed& markFailed)
{
    // A file that cannot be opened is a failed read as much as one that breaks off.
    try {
        return readWholeFile(file);
    } catch (const std::exception& error) {
        failRead(error.what(), logger, markFailed);
    } catch (...) {
        failRead("", logger, markFailed);
    }
    return std::nullopt;
}

void FlashJournalReader::failRead(std::string_view message, logging::Logger& logger, const MarkFailed& markFailed)
{
    startStep(logger, "Чтение журнала СБ");
    logger.indented() << resultText(CheckResult::Fatal) << message;
    writeNestedLine(logger, "Ошибка чтения журнала СБ");
    readOk_ = false;
    markFailed();
}

bool FlashJournalReader::saveJournal(ByteView journalBytes, const fs::path& path, logging::Logger& logger,
                                     const MarkFailed& markFailed)
{
    DecodedJournal journal(journalBytes);
    if (journal.status() != DecodeStatus::Ok) {
        reportDecodingFailure(logger, journal.status());
        markFailed();
        decodeOk_ = false;
    }
    // The journals of all files follow each other in one file of this run.
    const JournalFileMode mode = written_ ? JournalFileMode::Append : JournalFileMode::Replace;
    if (!saveJournalContent(path, mode, journal, journalBytes, logger))
        return false;
    written_ = true;
    return true;
}

void FlashJournalReader::reportSummary(const fs::path& path, logging::Logger& logger) const
{
    if (readOk_) {
        startStep(logger, "Чтение журнала СБ");
        writeLine(logger, resultText(CheckResult::Success));
    }
    // Nothing read means nothing decoded or written, and no file to hash.
    if (!written_)
        return;
    if (decodeOk_) {
        startStep(logger, "Декодирование журнала СБ");
        writeLine(logger, resultText(CheckResult::Success));
    }
    reportJournalFileWritten(path, logger);
    printJournalFileHash(path, logger);
}
