// The flash journal step against a virtual Mirel 3.0 Flash through pcscd:
// the token, the flash library and the reader are the ones kvdiag runs;
// only the host's mount table and sysfs are a fixture, whose volume is the
// directory where the virtual token writes its journal files, and the
// one-second waits go through a counting sleeper.
#include "harness.h"
#include "hex.h"
#include "hostFixture.h"
#include "journal/flashJournalReader.h"
#include "journal/tokenFlashAccess.h"
#include "kvdiagRun.h"
#include "logCapture.h"
#include "pcscWrapper/tokenDiscovery.h"

#include <gtest/gtest.h>
#include <kvflash-core/kvflash.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes concatenated(Bytes first, const Bytes& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// The virtual token's serial 305420001 as its flash function's USB serial string.
const char kUsbSerial[] = "00000000123456E1";
// Each journal file holds at most this many bytes: the version record and ten reconnections.
constexpr int kJournalFileSize = 64;

// Journal bytes and the text the journal file must hold for them.
struct Journal {
    Bytes bytes;
    std::string fileText;

    void add(const Bytes& record, const std::string& text)
    {
        bytes.insert(bytes.end(), record.begin(), record.end());
        fileText += text + "\n";
    }
    void addReconnections(uint32_t first, int count)
    {
        for (uint32_t counter = first; counter < first + count; ++counter)
            add({0x4E, 0x04, static_cast<uint8_t>(counter), static_cast<uint8_t>(counter >> 8),
                 static_cast<uint8_t>(counter >> 16), static_cast<uint8_t>(counter >> 24)},
                "Переподключение токена\nСчётчик подключений: " + std::to_string(counter) + "\n");
    }
    void addDump()
    {
        fileText += "Журнал СБ в бинарном формате:\n";
        for (size_t at = 0; at < bytes.size(); at += 32)
            fileText += hexDigits(Bytes(bytes.begin() + at, bytes.begin() + std::min(at + 32, bytes.size()))) + "\n";
    }
    static std::string hexDigits(const Bytes& bytes)
    {
        std::string digits;
        for (const uint8_t byte : bytes) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02x", byte);
            digits += pair;
        }
        return digits;
    }
};

// 64 bytes: exactly the first journal file.
Journal firstFile()
{
    Journal journal;
    journal.add({0x40, 0x02, 0x01, 0x00}, "Версия журнала 1.0\n");
    journal.addReconnections(70000, 10);
    return journal;
}

class FlashJournal : public testing::Test {
protected:
    static void SetUpTestSuite() { ensurePcscd(); }

    // The virtual Mirel 3.0 Flash with this journal, shown on the drive directory.
    void plugIn(const Bytes& journal)
    {
        const fs::path profile = dir.path() / "profile.json";
        std::ofstream(profile) << R"({"base": ")" << bundledProfile("mirel3-flash.json").string()
                               << R"(", "securityJournal": ")" << toHex(journal) << R"(", "flash": {"journalDrive": ")"
                               << drive.string() << R"(", "journalFileSize": )" << kJournalFileSize << "}}";
        virtualToken = std::make_unique<VirtualToken>(profile);
        token.emplace(getAvailableToken(systemPcsc(), systemFlashLibrary()));
    }

    // The token's journal section, as the host shows it once it is readable.
    void mountJournalSection()
    {
        host.addMountedDisk(HostFixture::storageHostOf(tokenUsb), 0, "Journal 2", "sdb", "8:16", drive.string());
    }

    // Runs the step as kvdiag does, at the level of the diagnostic suite.
    void readJournal()
    {
        logger.level = 1;
        FlashJournalReader reader(
            std::make_unique<MountedSectionAccess>(host.tree()),
            [this](std::chrono::milliseconds duration) {
                EXPECT_EQ(duration, FlashJournalReader::kWait);
                ++waits;
                if (onWait)
                    onWait(waits);
                return false;  // the second passes without a change of the mount table
            },
            [] { return std::chrono::steady_clock::time_point{}; },
            [this](uint64_t serial) {
                EXPECT_EQ(serial, 305420001u);
                return journalFile;
            });
        reader.readJournal([this] { ++failures; }, *token, logger);
    }

    std::string journalText() const
    {
        std::ifstream in(journalFile, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::vector<std::string> successfulSummary() const
    {
        return {"",
                "  Чтение журнала СБ",
                "  -> Успешно",
                "",
                "  Декодирование журнала СБ",
                "  -> Успешно",
                "",
                "  Запись журнала СБ в файл",
                "  -> Успешно",
                "    Файл " + journalFile.string() + " создан",
                "",
                "  Расчёт SHA256 файла журнала СБ",
                "  -> Успешно",
                "",
                "  SHA256 файла журнала СБ: " + sha256OfFile(journalFile)};
    }

    TempDir dir;
    const fs::path drive = [this] { fs::create_directory(dir.path() / "drive"); return dir.path() / "drive"; }();
    const fs::path journalFile = dir.path() / "security_log.txt";
    HostFixture host;
    const fs::path tokenUsb = host.addUsbDevice(4, "1d7b", "0030", kUsbSerial);
    std::unique_ptr<VirtualToken> virtualToken;
    std::optional<Token> token;
    LogCapture capture;
    logging::Logger logger{305420001};
    int waits = 0;
    std::function<void(int waits)> onWait;
    int failures = 0;
};

const std::vector<std::string> supported = {"", "  Проверка поддержки журнала СБ", "  -> Успешно",
                                            "    Журнал СБ поддерживается"};

TEST_F(FlashJournal, TwoJournalFilesMakeOneJournalFileInTheirOrder)
{
    Journal first = firstFile();
    Journal second;
    second.addReconnections(70010, 10);
    mountJournalSection();
    plugIn(concatenated(first.bytes, second.bytes));
    readJournal();

    ASSERT_TRUE(fs::exists(drive / "journal-0002.bin")) << virtualToken->stderrText();
    EXPECT_FALSE(fs::exists(drive / "journal-0003.bin"));
    EXPECT_EQ(journalText(), first.fileText + second.fileText);
    std::vector<std::string> expected = supported;
    for (const std::string& line : successfulSummary())
        expected.push_back(line);
    EXPECT_EQ(capture.lines(), expected);
    EXPECT_EQ(waits, 0);
    EXPECT_EQ(failures, 0);
}

TEST_F(FlashJournal, SectionShowingAfterFiveWaitsIsRead)
{
    const Journal journal = firstFile();
    onWait = [this](int waitsSoFar) {
        if (waitsSoFar == 5)
            mountJournalSection();
    };
    plugIn(journal.bytes);
    readJournal();

    EXPECT_EQ(waits, 5);
    EXPECT_EQ(journalText(), journal.fileText);
    EXPECT_EQ(capture.lines().size(), supported.size() + successfulSummary().size());  // no line for the waiting
    EXPECT_EQ(failures, 0);
}

TEST_F(FlashJournal, SectionThatNeverShowsLeavesTheJournalUnsupported)
{
    plugIn(firstFile().bytes);
    readJournal();

    EXPECT_EQ(waits, FlashJournalReader::kMaxWaits);
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"", "  Проверка поддержки журнала СБ", "  -> Успешно",
                                                         "    Журнал СБ не поддерживается"}));
    EXPECT_EQ(failures, 0);
    EXPECT_FALSE(fs::exists(journalFile));
    // The switch was made: the token shows its journal on the drive.
    EXPECT_TRUE(fs::exists(drive / "journal-0001.bin"));
}

TEST_F(FlashJournal, UnknownRecordInTheSecondFileIsReportedAndDumped)
{
    Journal first = firstFile();
    Journal second;
    second.addReconnections(70010, 4);
    second.add({0x3F, 0x02, 0xAB, 0xCD}, "Неизвестный тип записи\nТег: 0x3f\nДанные: abcd\n");
    second.addReconnections(70014, 4);
    mountJournalSection();
    plugIn(concatenated(first.bytes, second.bytes));
    readJournal();

    second.addDump();
    EXPECT_EQ(journalText(), first.fileText + second.fileText);
    const std::vector<std::string>& lines = capture.lines();
    std::vector<std::string> expected = supported;
    for (const char* line :
         {"", "  Декодирование журнала СБ", "  -> !ОШИБКА Возникли ошибки при декодировании некоторых записей", "",
          "  Чтение журнала СБ", "  -> Успешно", "", "  Запись журнала СБ в файл", "  -> Успешно"})
        expected.push_back(line);
    expected.push_back("    Файл " + journalFile.string() + " создан");
    for (const char* line : {"", "  Расчёт SHA256 файла журнала СБ", "  -> Успешно", ""})
        expected.push_back(line);
    expected.push_back("  SHA256 файла журнала СБ: " + sha256OfFile(journalFile));
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(failures, 1);
}

}  // namespace

// Host information a program writes through the library lands in the token's
// journal as its own records, and the journal step decodes them.
TEST_F(FlashJournal, HostInformationWrittenThroughTheLibraryIsDecoded)
{
    const std::vector<std::string> texts = {"kvflash-user", "KVFLASH-DOMAIN", "Debian GNU/Linux 12", "kvflash-host"};
    const auto buffer = [](const std::string& text) {
        return kvflash_Buffer{static_cast<uint32_t>(text.size()), reinterpret_cast<const uint8_t*>(text.data())};
    };
    mountJournalSection();
    plugIn(firstFile().bytes);

    kvflash_TokenImpl_* handle = nullptr;
    ASSERT_EQ(kvflash_create_token(305420001, &handle), 0);
    const std::string userPin = "12345678";
    EXPECT_EQ(kvflash_login_user(handle, buffer(userPin)), 0);
    const kvflash_PcInfo info{buffer(texts[0]), buffer(texts[1]), buffer(texts[2]), buffer(texts[3]), 0x0102030405060708u};
    EXPECT_EQ(kvflash_add_pc_info_to_journal(handle, &info), 0);
    EXPECT_EQ(kvflash_logout(handle), 0);
    EXPECT_EQ(kvflash_destroy_token(&handle), 0);
    readJournal();

    const std::string journal = journalText();
    for (const std::string& text : texts)
        EXPECT_NE(journal.find(text), std::string::npos) << text << " missing from\n" << journal;
    EXPECT_EQ(failures, 0);
}
