#include "journal/journalFile.h"

#include "journal/journalReport.h"
#include "logging/checkResult.h"
#include "utils/hexText.h"
#include "utils/programPath.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

using namespace journalReport;

namespace {

constexpr size_t kDumpBytesPerLine = 32;
// The file's text is gathered in a buffer and written in blocks of this size:
// one write per block instead of one per record.
constexpr size_t kWriteBlockSize = 64 * 1024;
// The longest single piece appended before a block is written: the text of
// one record (an unreadable one, 255 bytes in hex, is the longest).
constexpr size_t kLongestPiece = 1024;
constexpr size_t kHashChunkSize = 256 * 1024;
constexpr std::string_view kWriteStep = "Запись журнала СБ в файл";

std::filesystem::path programDirectory()
{
    std::error_code error;
    const std::filesystem::path program = programPath(error);
    if (error)
        throw std::filesystem::filesystem_error("cannot find the program's own file", error);
    return program.parent_path();
}

void reportFileFailure(logging::Logger& logger, std::string_view reason)
{
    writeLine(logger, resultText(CheckResult::Fatal));
    writeNestedLine(logger, reason);
}

void requireDigestStep(int outcome)
{
    if (outcome != 1)
        throw std::runtime_error("Failed to compute SHA-256.");
}

// None when the file could not be read to its end. The file is read in
// large pieces: the journal's text is several times the journal's size.
std::optional<std::string> sha256Hex(std::istream& in)
{
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    requireDigestStep(context != nullptr);
    requireDigestStep(EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr));

    const auto chunk = std::make_unique_for_overwrite<char[]>(kHashChunkSize);
    do {
        in.read(chunk.get(), kHashChunkSize);
        requireDigestStep(EVP_DigestUpdate(context.get(), chunk.get(), static_cast<size_t>(in.gcount())));
    } while (in);
    if (in.bad())
        return std::nullopt;

    std::array<uint8_t, EVP_MAX_MD_SIZE> digest;
    unsigned int length = 0;
    requireDigestStep(EVP_DigestFinal_ex(context.get(), digest.data(), &length));
    return hexDigits(ByteView(digest.data(), length));
}

// Hands the text gathered so far to the stream and empties the buffer for more.
void writeBlock(std::ostream& out, std::string& block)
{
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
    block.clear();
}

}  // namespace

std::filesystem::path journalFilePath(uint64_t serial)
{
    const std::string name = "security_log-" + std::to_string(serial) + "-" + logging::fileTimeStamp() + ".txt";
    return programDirectory() / "logs" / name;
}

void writeBinaryDump(ByteView journalBytes, std::ostream& out)
{
    std::string block;
    block.reserve(kWriteBlockSize + kLongestPiece);
    block += "Журнал СБ в бинарном формате:\n";
    for (size_t start = 0; start < journalBytes.size(); start += kDumpBytesPerLine) {
        if (start > 0)
            block += '\n';
        appendHexDigits(block, journalBytes.subspan(start, std::min(kDumpBytesPerLine, journalBytes.size() - start)));
        if (block.size() >= kWriteBlockSize)
            writeBlock(out, block);
    }
    block += '\n';
    writeBlock(out, block);
}

void writeJournalContent(std::ostream& out, DecodedJournal& journal, ByteView journalBytes)
{
    std::string block;
    block.reserve(kWriteBlockSize + kLongestPiece);
    bool wroteRecord = false;
    while (journal.appendNextRecordText(block)) {
        block += '\n';
        wroteRecord = true;
        if (block.size() >= kWriteBlockSize)
            writeBlock(out, block);
    }
    if (!wroteRecord && journal.status() != DecodeStatus::JournalFailed)
        block += "Журнал СБ пуст\n\n";
    writeBlock(out, block);
    if (journal.status() != DecodeStatus::Ok)
        writeBinaryDump(journalBytes, out);
}

bool saveJournalContent(const std::filesystem::path& path, JournalFileMode mode, DecodedJournal& journal,
                        ByteView journalBytes, logging::Logger& logger)
{
    std::ofstream out(path, std::ios::binary | (mode == JournalFileMode::Append ? std::ios::app : std::ios::trunc));
    if (!out.is_open()) {
        startStep(logger, kWriteStep);
        reportFileFailure(logger, "Не удалось создать файл");
        return false;
    }
    writeJournalContent(out, journal, journalBytes);
    out.close();
    if (out.fail()) {
        startStep(logger, kWriteStep);
        reportFileFailure(logger, "Не удалось записать в файл");
        return false;
    }
    return true;
}

void reportJournalFileWritten(const std::filesystem::path& path, logging::Logger& logger)
{
    startStep(logger, kWriteStep);
    writeLine(logger, resultText(CheckResult::Success));
    writeNestedLine(logger, "Файл " + path.string() + " создан");
}

bool writeJournalFile(const std::filesystem::path& path, DecodedJournal& journal, ByteView journalBytes,
                      logging::Logger& logger)
{
    if (!saveJournalContent(path, JournalFileMode::Replace, journal, journalBytes, logger))
        return false;
    reportJournalFileWritten(path, logger);
    return true;
}

void printJournalFileHash(const std::filesystem::path& path, logging::Logger& logger)
{
    startStep(logger, "Расчёт SHA256 файла журнала СБ");
    std::ifstream in(path, std::ios::binary);
    // A file that opens but cannot be read to its end has no digest to show either.
    const std::optional<std::string> digest = in.is_open() ? sha256Hex(in) : std::nullopt;
    if (!digest) {
        reportFileFailure(logger, "Не удалось открыть файл");
        return;
    }
    writeLine(logger, resultText(CheckResult::Success));
    logger.line();
    writeLine(logger, "SHA256 файла журнала СБ: " + *digest);
}
