// The security journal end to end: read from a virtual Mirel 3.0 by APDUs,
// written beside the kvdiag copy, its SHA-256 in the report.
#include "harness.h"
#include "hex.h"
#include "kvdiagRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

namespace {

using Bytes = std::vector<uint8_t>;

// A journal and the file text it must give, built record by record.
struct Journal {
    Bytes bytes;
    std::string fileText;

    void add(uint8_t tag, const Bytes& value, const std::string& text)
    {
        bytes.push_back(tag);
        bytes.push_back(static_cast<uint8_t>(value.size()));
        bytes.insert(bytes.end(), value.begin(), value.end());
        if (!text.empty())
            fileText += text + "\n";
    }
};

Bytes littleEndian32(uint32_t value)
{
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

// Longer than one 255-byte portion, with records cut by the portion border.
Journal severalPortionJournal()
{
    Journal journal;
    journal.add(0x40, {0x01, 0x00}, "Версия журнала 1.0\n");
    for (uint32_t counter = 70000; counter < 70060; ++counter)
        journal.add(0x4E, littleEndian32(counter),
                    "Переподключение токена\nСчётчик подключений: " + std::to_string(counter) + "\n");
    const std::string user = "и.петрова";
    journal.add(0xC1, Bytes(user.begin(), user.end()), "Имя пользователя в системе: " + user + "\n");
    journal.add(0x41, {0x00, 0x90, 0x10, 0x01}, "Импорт закрытого ключа\nSW-код операции: 0x9000\nID объекта: 4097\n");
    journal.add(0x44, {0x00, 0x90}, "");
    // The journal ends before this change was completed.
    journal.add(0x48, {0x00, 0x90}, "Смена PIN Пользователя\nSW-код операции: 0x9000\nОперация не была завершена\n");
    return journal;
}

std::string securityJournalMember(const Bytes& journal)
{
    return R"("securityJournal": ")" + toHex(journal) + "\"";
}

size_t journalReadsIn(const std::vector<std::string>& commands)
{
    return std::count_if(commands.begin(), commands.end(),
                         [](const std::string& command) { return command.rfind("90 5D", 0) == 0; });
}

TEST(SecurityJournal, OfSeveralPortionsIsWrittenBesideKvdiagWithItsSha256)
{
    const Journal journal = severalPortionJournal();
    ASSERT_GT(journal.bytes.size(), 255u);
    const KvdiagSandbox sandbox;
    const VirtualToken token(sandbox.profileOver("mirel3.json", securityJournalMember(journal.bytes)));
    const KvdiagRun run = sandbox.run();

    ASSERT_TRUE(run.journalFile);
    EXPECT_TRUE(sameLines(linesOf(journal.fileText), linesOf(run.journalText())));
    EXPECT_TRUE(hasBlock(run.report, {"",
                                      "  Проверка поддержки журнала СБ",
                                      "  -> Успешно",
                                      "    Журнал СБ поддерживается",
                                      "",
                                      "  Чтение журнала СБ",
                                      "  -> Успешно",
                                      "",
                                      "  Декодирование журнала СБ",
                                      "  -> Успешно",
                                      "",
                                      "  Запись журнала СБ в файл",
                                      "  -> Успешно",
                                      "    Файл " + run.journalFile->string() + " создан",
                                      "",
                                      "  Расчёт SHA256 файла журнала СБ",
                                      "  -> Успешно",
                                      "",
                                      "  SHA256 файла журнала СБ: " + sha256OfFile(*run.journalFile),
                                      "",
                                      verdictPassed}));
    // Two portions and the 6B00 that ends the journal: nothing read twice.
    EXPECT_EQ(journalReadsIn(commandsReceived(token.stderrText())), 3u);
}

TEST(SecurityJournal, ReadEndingWith6A82WritesNoFileAndFailsTheRun)
{
    const KvdiagSandbox sandbox;
    const VirtualToken token(sandbox.profileOver("mirel3.json", R"("overrides": [
        {"command": "90 5D 01 00", "response": "40 02 01 00 90 00", "times": 1},
        {"command": "90 5D 01 00", "response": "6A 82"}])"));
    const KvdiagRun run = sandbox.run();

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(hasBlock(run.report,
                         {"",
                          "  Чтение журнала СБ",
                          "  [fatal] -> !ОШИБКА [0x6A82] - Неверные параметры команды. Файловый объект не найден.",
                          "",
                          verdictFailed}));
    EXPECT_FALSE(run.journalFile);
}

TEST(SecurityJournal, FirmwareBuildBelow0x20SendsNoJournalCommand)
{
    const KvdiagSandbox sandbox;
    const VirtualToken token(sandbox.profileOver("mirel3.json", R"("identity": "01 03 08 00 21 00 00 1F 05 00 00 00")"));
    const KvdiagRun run = sandbox.run();

    EXPECT_TRUE(hasBlock(run.report, {"",
                                      "  Проверка поддержки журнала СБ",
                                      "  -> Успешно",
                                      "    Журнал СБ не поддерживается",
                                      "",
                                      verdictPassed}));
    EXPECT_FALSE(run.journalFile);
    const std::vector<std::string> commands = commandsReceived(token.stderrText());
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back(), "00 84 00 00 20");  // the random-number check was the last word
    // The flash library asks 80 71 when the token is opened; the journal
    // step, after the random-number check, asks nothing.
    for (const std::string& command : commands)
        EXPECT_NE(command.rfind("90 5D", 0), 0u) << command;
}

// Decoding trouble never stops the file: the raw bytes are appended instead,
// and the run fails.
struct DecodingCase {
    const char* name;
    const char* journalHex;
    const char* decodingLine;
    const char* fileText;
    bool passes;
};

class JournalDecoding : public testing::TestWithParam<DecodingCase> {};

TEST_P(JournalDecoding, WritesTheFileItsOutcomeCallsFor)
{
    const DecodingCase& decoding = GetParam();
    const KvdiagSandbox sandbox;
    const VirtualToken token(sandbox.profileOver("mirel3.json", securityJournalMember(hexBytes(decoding.journalHex))));
    const KvdiagRun run = sandbox.run();

    EXPECT_TRUE(hasBlock(run.report, {"",
                                      "  Декодирование журнала СБ",
                                      decoding.decodingLine,
                                      "",
                                      "  Запись журнала СБ в файл",
                                      "  -> Успешно"}));
    ASSERT_TRUE(run.journalFile);
    EXPECT_TRUE(sameLines(linesOf(decoding.fileText), linesOf(run.journalText())));
    EXPECT_TRUE(hasBlock(run.report, {"  SHA256 файла журнала СБ: " + sha256OfFile(*run.journalFile)}));
    EXPECT_EQ(run.verdict(), decoding.passes ? verdictPassed : verdictFailed);
}

INSTANTIATE_TEST_SUITE_P(Outcomes, JournalDecoding, testing::Values(
    DecodingCase{"Empty", "", "  -> Успешно", "Журнал СБ пуст\n\n", true},
    DecodingCase{"UnknownRecord", "7F 01 AB 40 02 01 00",
                 "  -> !ОШИБКА Возникли ошибки при декодировании некоторых записей",
                 "Неизвестный тип записи\nТег: 0x7f\nДанные: ab\n\n"
                 "Версия журнала 1.0\n\n"
                 "Журнал СБ в бинарном формате:\n7f01ab40020100\n",
                 false},
    DecodingCase{"LastRecordRunsPastTheEnd", "40 02 01 00 41 08 00 90",
                 "  -> !ОШИБКА Возникли ошибки при декодировании журнала",
                 "Журнал СБ в бинарном формате:\n4002010041080090\n", false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
