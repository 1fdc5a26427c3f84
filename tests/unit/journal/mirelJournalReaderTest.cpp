#include "caseName.h"
#include "journal/flashJournalReader.h"
#include "journal/makeJournalReader.h"
#include "journal/mirelJournalReader.h"
#include "journalTesting.h"
#include "pcscWrapper/statusWords.h"
#include "scriptedPcsc.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <stdexcept>

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::MatchesRegex;

namespace {

const char kAtr[] = "3B 8F 80 01 80 4F 0C A0 00 00 03 06 03 00 03 00 00 00 00 68";
constexpr uint8_t kMirelType = 0x01;
constexpr uint8_t kFirstJournalBuild = 0x20;
const char kSerialAnswer[] = "00 00 00 00 CA FE BA BE 90 00";
constexpr uint64_t kSerial = 0xCAFEBABE;

const char kExtendedInfoCommand[] = "80 71 00 00 00";
const char kReadCommand[] = "90 5D 01 00 FF";
const char kSerialCommand[] = "00 CA 01 81 08";
const char kJournalAnnounced[] = "40 05 04 03 00 00 01 90 00";

const std::vector<std::string> kSupportedLines = {
    "", "  Проверка поддержки журнала СБ", "  -> Успешно", "    Журнал СБ поддерживается",
};

std::string identityAnswer(uint8_t type, uint8_t firmwareBuild)
{
    Bytes identity(12);
    identity[0] = type;
    identity[7] = firmwareBuild;
    return toHex(identity) + " 90 00";
}

std::string answer(const Bytes& data, const char* sw)
{
    return data.empty() ? sw : toHex(data) + " " + sw;
}

class MirelJournalReaderTest : public JournalReportTest {
protected:
    Token connect(uint8_t firmwareBuild = kFirstJournalBuild, uint8_t type = kMirelType)
    {
        card.on("00 CA 01 89", identityAnswer(type, firmwareBuild)).on("00 CA 01 81", kSerialAnswer);
        Token token(std::make_shared<Scard>(pcsc, "Reader"), pcsc.flash);
        commandsBeforeJournal = card.received.size();
        return token;
    }

    void readJournal(Token& token)
    {
        MirelJournalReader reader([this](uint64_t serial) {
            serialInPath = serial;
            return journalPath;
        });
        reader.readJournal([this] { ++failures; }, token, logger);
    }

    std::vector<std::string> journalCommands() const
    {
        std::vector<std::string> sent;
        for (size_t i = commandsBeforeJournal; i < card.received.size(); ++i)
            sent.push_back(toHex(card.received[i]));
        return sent;
    }

    std::vector<std::string> linesAfterSupport() const
    {
        EXPECT_GE(lines().size(), kSupportedLines.size());
        EXPECT_EQ(std::vector(lines().begin(), lines().begin() + kSupportedLines.size()), kSupportedLines);
        return {lines().begin() + kSupportedLines.size(), lines().end()};
    }

    bool journalFileWritten() const { return !std::filesystem::is_empty(dir.path()); }

    ScriptedPcsc pcsc;
    ScriptedCard& card = pcsc.addReader("Reader", hexBytes(kAtr));
    size_t commandsBeforeJournal = 0;
    std::filesystem::path journalPath = dir.path() / "journal.txt";
    uint64_t serialInPath = 0;
    int failures = 0;
};

struct SupportCase {
    const char* name;
    uint8_t firmwareBuild;
    const char* extendedInfoAnswer;  // null: the command must not be sent
    std::vector<std::string> lines;
    int failures;
};

const std::vector<std::string> kNotSupportedLines = {
    "", "  Проверка поддержки журнала СБ", "  -> Успешно", "    Журнал СБ не поддерживается",
};

const SupportCase kSupportCases[] = {
    {"FirmwareTooOld", 0x1F, nullptr, kNotSupportedLines, 0},
    {"FlagsShorterThanThreeBytes", kFirstJournalBuild, "40 04 04 02 00 01 90 00", kNotSupportedLines, 0},
    {"JournalFlagClear", kFirstJournalBuild, "40 05 04 03 00 00 FE 90 00", kNotSupportedLines, 0},
    {"ExtendedInfoRefused", kFirstJournalBuild, "6D 00",
     {"", "  Проверка поддержки журнала СБ",
      "  [fatal] -> !ОШИБКА [0x6D00] - Неверная или неподдерживаемая команда."},
     1},
};

class JournalSupport : public MirelJournalReaderTest, public testing::WithParamInterface<SupportCase> {};

TEST_P(JournalSupport, EndsTheCheckWithoutReading)
{
    const SupportCase& c = GetParam();
    Token token = connect(c.firmwareBuild);
    if (c.extendedInfoAnswer)
        card.on("80 71", c.extendedInfoAnswer);

    readJournal(token);

    EXPECT_EQ(lines(), c.lines);
    EXPECT_EQ(failures, c.failures);
    EXPECT_EQ(journalCommands(), c.extendedInfoAnswer ? std::vector<std::string>{kExtendedInfoCommand}
                                                      : std::vector<std::string>{});
    EXPECT_FALSE(journalFileWritten());
    EXPECT_EQ(logger.level, kSuiteLevel);
}

INSTANTIATE_TEST_SUITE_P(Answers, JournalSupport, testing::ValuesIn(kSupportCases),
                         [](const auto& info) { return std::string(info.param.name); });

class ExtendedInfoWithoutFlags : public MirelJournalReaderTest, public testing::WithParamInterface<const char*> {};

TEST_P(ExtendedInfoWithoutFlags, LeavesTheReaderAsLogicError)
{
    Token token = connect();
    card.on("80 71", GetParam());

    try {
        readJournal(token);
        FAIL() << "no exception";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "Tag was not found in buffer");
    }
    EXPECT_EQ(failures, 0);
}

INSTANTIATE_TEST_SUITE_P(Answers, ExtendedInfoWithoutFlags,
                         testing::Values("41 00 90 00", "40 02 05 00 90 00", "40 07 04 03 00 00 01 90 00"),
                         [](const auto& info) { return caseName("Answer", info.param); });

// 520 bytes of three text records, each crossing a portion boundary.
Bytes textRecordsJournal()
{
    Bytes journal;
    for (auto [letter, length] : {std::pair{'A', 255}, {'B', 255}, {'C', 4}}) {
        journal.push_back(0xC1);
        journal.push_back(static_cast<uint8_t>(length));
        journal.insert(journal.end(), length, static_cast<uint8_t>(letter));
    }
    return journal;
}

std::string textRecordsFile()
{
    std::string file;
    for (auto [letter, length] : {std::pair{'A', 255}, {'B', 255}, {'C', 4}})
        file += "Имя пользователя в системе: " + std::string(length, letter) + "\n\n";
    return file;
}

struct ReadCase {
    const char* name;
    std::vector<std::string> answers;
};

std::vector<std::string> portionAnswers(bool lastDataWithEnd)
{
    const Bytes journal = textRecordsJournal();
    const Bytes first(journal.begin(), journal.begin() + 255), second(journal.begin() + 255, journal.begin() + 510),
        last(journal.begin() + 510, journal.end());
    if (lastDataWithEnd)
        return {answer(first, "90 00"), answer(second, "90 00"), answer(last, "6B 00")};
    return {answer(first, "90 00"), answer(second, "90 00"), answer(last, "90 00"), "6B 00"};
}

class SuccessfulRead : public MirelJournalReaderTest, public testing::WithParamInterface<bool> {};

TEST_P(SuccessfulRead, WritesEveryPortionInOrderAndHashesTheFile)
{
    Token token = connect();
    const std::vector<std::string> answers = portionAnswers(GetParam());
    card.on("80 71", kJournalAnnounced).on("90 5D", answers);

    readJournal(token);

    EXPECT_THAT(linesAfterSupport(),
                ElementsAre("", "  Чтение журнала СБ", "  -> Успешно", "", "  Декодирование журнала СБ",
                            "  -> Успешно", "", "  Запись журнала СБ в файл", "  -> Успешно",
                            "    Файл " + journalPath.string() + " создан", "", "  Расчёт SHA256 файла журнала СБ",
                            "  -> Успешно", "", MatchesRegex("  SHA256 файла журнала СБ: [0-9a-f]{64}")));
    EXPECT_EQ(readFile(journalPath), textRecordsFile());
    EXPECT_EQ(serialInPath, kSerial);
    EXPECT_EQ(failures, 0);
    std::vector<std::string> expectedCommands{kExtendedInfoCommand};
    expectedCommands.insert(expectedCommands.end(), answers.size(), kReadCommand);
    expectedCommands.push_back(kSerialCommand);  // the file is named after the serial
    EXPECT_EQ(journalCommands(), expectedCommands);
    EXPECT_EQ(logger.level, kSuiteLevel);
}

INSTANTIATE_TEST_SUITE_P(EndAnswers, SuccessfulRead, testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "LastPortionWithEndOfJournal" : "EmptyEndOfJournal");
});

struct DecodeCase {
    const char* name;
    std::vector<std::string> answers;
    const char* outcomeLine;
    int failures;
};

const DecodeCase kDecodeCases[] = {
    {"EmptyJournal", {"6B 00"}, "  -> Успешно", 0},
    {"UnknownRecord", {"7F 01 AB 90 00", "6B 00"},
     "  -> !ОШИБКА Возникли ошибки при декодировании некоторых записей", 1},
    {"BrokenJournal", {"41 08 00 90 90 00", "6B 00"}, "  -> !ОШИБКА Возникли ошибки при декодировании журнала", 1},
};

class DecodingOutcome : public MirelJournalReaderTest, public testing::WithParamInterface<DecodeCase> {};

TEST_P(DecodingOutcome, IsReportedAndTheFileIsWrittenAnyway)
{
    Token token = connect();
    card.on("80 71", kJournalAnnounced).on("90 5D", GetParam().answers);

    readJournal(token);

    const std::vector<std::string> after = linesAfterSupport();
    ASSERT_GE(after.size(), 6u);
    EXPECT_THAT(std::vector(after.begin() + 3, after.begin() + 6),
                ElementsAre("", "  Декодирование журнала СБ", GetParam().outcomeLine));
    EXPECT_THAT(after.back(), MatchesRegex("  SHA256 файла журнала СБ: [0-9a-f]{64}"));
    EXPECT_TRUE(std::filesystem::exists(journalPath));
    EXPECT_EQ(failures, GetParam().failures);
    EXPECT_EQ(logger.level, kSuiteLevel);
}

INSTANTIATE_TEST_SUITE_P(Journals, DecodingOutcome, testing::ValuesIn(kDecodeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MirelJournalReaderTest, ReadEndingWithAnotherStatusWordDropsTheJournal)
{
    Token token = connect();
    card.on("80 71", kJournalAnnounced).on("90 5D", {answer(Bytes(255, 0x44), "90 00"), "6A 82"});

    readJournal(token);

    EXPECT_THAT(linesAfterSupport(),
                ElementsAre("", "  Чтение журнала СБ", "  [fatal] -> !ОШИБКА " + statusWordMessage(0x6A82)));
    EXPECT_EQ(failures, 1);
    EXPECT_FALSE(journalFileWritten());
    EXPECT_EQ(logger.level, kSuiteLevel);
}

TEST_F(MirelJournalReaderTest, TokenThatNeverEndsItsJournalFailsTheRead)
{
    Token token = connect();
    card.on("80 71", kJournalAnnounced).on("90 5D", "00 90 00");

    readJournal(token);

    EXPECT_THAT(linesAfterSupport(),
                ElementsAre("", "  Чтение журнала СБ",
                            "  [fatal] -> !ОШИБКА Журнал СБ не завершён ответом 6B00 после 4096 команд чтения."));
    const std::vector<std::string> commands = journalCommands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), kReadCommand), MirelJournalReader::kMaxPortions);
    EXPECT_EQ(failures, 1);
    EXPECT_FALSE(journalFileWritten());
    EXPECT_EQ(logger.level, kSuiteLevel);
}

struct FileFailureCase {
    const char* name;
    const char* path;  // below the test directory unless absolute
    const char* reason;
};

const FileFailureCase kFileFailures[] = {
    {"LogsDirectoryMissing", "logs/journal.txt", "Не удалось создать файл"},
    {"DiskFull", "/dev/full", "Не удалось записать в файл"},
};

class JournalFileFailure : public MirelJournalReaderTest, public testing::WithParamInterface<FileFailureCase> {};

TEST_P(JournalFileFailure, IsReportedWithoutHashAndKeepsTheVerdict)
{
    journalPath = dir.path() / GetParam().path;
    Token token = connect();
    card.on("80 71", kJournalAnnounced).on("90 5D", "6B 00");

    readJournal(token);

    const std::vector<std::string> after = linesAfterSupport();
    ASSERT_GE(after.size(), 4u);
    EXPECT_THAT(std::vector(after.end() - 4, after.end()),
                ElementsAre("", "  Запись журнала СБ в файл", "  [fatal] -> !ОШИБКА",
                            std::string("    ") + GetParam().reason));
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(logger.level, kSuiteLevel);
}

INSTANTIATE_TEST_SUITE_P(Paths, JournalFileFailure, testing::ValuesIn(kFileFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MirelJournalReaderTest, OnlySupportedTokensGetAReader)
{
    for (auto [type, expectReader] : {std::pair<uint8_t, bool>{kMirelType, true}, {0x03, false}}) {
        Token token = connect(kFirstJournalBuild, type);
        EXPECT_EQ(makeJournalReader(token) != nullptr, expectReader) << int(type);
    }
}

// Flash access decides before the identity type does.
TEST_F(MirelJournalReaderTest, TokensWithFlashAccessReadTheJournalFromTheFlash)
{
    pcsc.flash.createStatus = KVFLASH_OK;
    for (auto [type, supported] : {std::pair<uint8_t, bool>{kMirelType, true}, {0x03, true}, {kMirelType, false}}) {
        pcsc.flash.supported = supported;
        Token token = connect(kFirstJournalBuild, type);
        const std::unique_ptr<IJournalReader> reader = makeJournalReader(token);
        EXPECT_EQ(dynamic_cast<FlashJournalReader*>(reader.get()) != nullptr, supported) << int(type);
        EXPECT_EQ(dynamic_cast<MirelJournalReader*>(reader.get()) != nullptr, !supported) << int(type);
    }
}

}  // namespace
