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

using namespace journalReport;
namespace fs = std::filesystem;

namespace {

// Only regular files are journal files: a file system keeps its own
// directories in the root too.
std::vector<fs::path> journalFilesIn(const fs::path& root)
{
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(root))
        if (entry.is_regular_file())
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

void reportReadFailure(logging::Logger& logger, std::string_view message)
{
    startStep(logger, "Чтение журнала СБ");
    logger.indented() << resultText(CheckResult::Fatal) << message;
    writeNestedLine(logger, "Ошибка чтения журнала СБ");
}

}  // namespace

FlashJournalReader::FlashJournalReader(std::unique_ptr<TokenFlashAccess> flash, Sleeper sleep, JournalPath journalPath)
    : flash_(std::move(flash)), sleep_(std::move(sleep)), journalPath_(std::move(journalPath))
{
}

FlashJournalReader::Sleeper FlashJournalReader::mountTableWait()
{
    auto watch = std::make_shared<kelvane::utils::MountTableWatch>();
    return [watch](std::chrono::seconds atMost) { watch->waitForChange(atMost); };
}

void FlashJournalReader::readJournal(const MarkFailed& markFailed, Token& token, logging::Logger& logger)
{
    if (!isJournalSupported(token, logger))
        return;
    const fs::path path = journalPath_(token.getSerial());
    // A section without journal files holds an empty journal.
    if (journalFiles_.empty() && !saveJournal({}, path, logger, markFailed))
        return;
    for (const fs::path& file : journalFiles_) {
        const std::optional<Bytes> journal = readFlashJournalFile(file, logger, markFailed);
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
        const fs::path root = waitForSection(token, section.id);
        if (!fs::is_directory(root))
            return false;
        journalFiles_ = journalFilesIn(root);
        return true;
    } catch (...) {
        return false;
    }
}

fs::path FlashJournalReader::waitForSection(const Token& token, uint8_t sectionId)
{
    for (int waits = 0;; ++waits) {
        try {
            return flash_->path(token, sectionId);
        } catch (const std::runtime_error&) {
            if (waits == kMaxWaits)
                throw;
        }
        sleep_(std::chrono::seconds(1));
    }
}

std::optional<Bytes> FlashJournalReader::readFlashJournalFile(const fs::path& file, logging::Logger& logger,
                                                              const MarkFailed& markFailed)
{
    // A file that cannot be opened is a failed read as much as one that breaks off.
    try {
        std::ifstream in;
        in.exceptions(std::ios::failbit | std::ios::badbit);
        in.open(file, std::ios::binary | std::ios::ate);
        Bytes journal(static_cast<size_t>(in.tellg()));
        in.seekg(0);
        in.read(reinterpret_cast<char*>(journal.data()), static_cast<std::streamsize>(journal.size()));
        return journal;
    } catch (const std::exception& error) {
        reportReadFailure(logger, error.what());
    } catch (...) {
        reportReadFailure(logger, "");
    }
    readOk_ = false;
    markFailed();
    return std::nullopt;
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
