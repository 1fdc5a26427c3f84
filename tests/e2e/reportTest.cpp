// The diagnostic report kvdiag writes for virtual tokens: the healthy report
// of each model and the lines each fault leaves in it. Expected lines are
// written by hand from the report rules and the profiles' values, never
// captured from the program's output (see expected/README.md).
#include "harness.h"
#include "kvdiagRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>

namespace {

std::vector<std::string> expectedReport(const std::string& name)
{
    std::ifstream in(std::filesystem::path(EXPECTED_DIR) / name);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void replaceAll(std::string& text, const std::string& placeholder, const std::string& value)
{
    for (size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at + value.size()))
        text.replace(at, placeholder.size(), value);
}

TEST(HealthyMirel3, WritesTheExpectedReportLineByLine)
{
    const KvdiagSandbox sandbox;
    const VirtualToken token(bundledProfile("mirel3.json"));
    const KvdiagRun run = sandbox.run();

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.console, std::string(consoleHeader) + consoleClosing);
    ASSERT_TRUE(run.journalFile);
    const std::string journalSha256 = sha256OfFile(*run.journalFile);
    std::vector<std::string> expected = expectedReport("mirel3-report.txt");
    ASSERT_FALSE(expected.empty());
    for (std::string& line : expected) {
        replaceAll(line, "{journalFile}", run.journalFile->string());
        replaceAll(line, "{journalSha256}", journalSha256);
    }
    EXPECT_TRUE(sameLines(expected, run.report));
}

// Nothing mounts the journal section on the test machine: kvdiag switches
// it, looks for its drive for a minute and finds the journal unsupported.
TEST(HealthyMirel3Flash, WritesTheExpectedReportLineByLine)
{
    const KvdiagSandbox sandbox;
    const VirtualToken token(bundledProfile("mirel3-flash.json"));
    const KvdiagRun run = sandbox.run();

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.console, std::string(consoleHeader) + consoleClosing);
    EXPECT_FALSE(run.journalFile);
    const std::vector<std::string> expected = expectedReport("mirel3-flash-report.txt");
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(sameLines(expected, run.report));
    const std::vector<std::string> commands = commandsReceived(token.stderrText());
    // The temporary switch of section 2 to read-only.
    const auto isSwitch = [](const std::string& command) { return command.rfind("80 53 11 01 04 82 02 02 01", 0) == 0; };
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(), isSwitch), 1);
}

// Check titles and the journal verdict line: what shows which checks a model gets.
const std::set<std::string> landmarks = {
    "Проверка целостности ОС Kelvane", "Получение кратких сведений об устройстве",
    "Проверка работы криптоалгоритмов", "Проверка целостности КИ", "Проверка системной ключевой информации",
    "Проверка Глобальных PIN - кодов", "Проверка RSF файлов", "Получение журнала ошибочных операций",
    "Получение статуса секторов памяти", "Проверка работоспособности ГСЧ", "Проверка поддержки журнала СБ",
    "Журнал СБ поддерживается", "Журнал СБ не поддерживается", "Чтение журнала СБ", "Декодирование журнала СБ",
    "Запись журнала СБ в файл", "Расчёт SHA256 файла журнала СБ"};

std::vector<std::string> landmarksIn(const std::vector<std::string>& report)
{
    std::vector<std::string> found;
    for (const std::string& line : report) {
        const std::string text = line.substr(std::min(line.find_first_not_of(' '), line.size()));
        if (landmarks.count(text))
            found.push_back(text);
    }
    return found;
}

size_t algorithmTestsIn(const std::vector<std::string>& report)
{
    return std::count_if(report.begin(), report.end(),
                         [](const std::string& line) { return line.rfind("    Тестирование алгоритма ", 0) == 0; });
}

const std::vector<std::string> deviceChecks = {"Проверка целостности ОС Kelvane",
                                               "Получение кратких сведений об устройстве"};
const std::vector<std::string> journalRead = {"Проверка поддержки журнала СБ", "Журнал СБ поддерживается",
                                              "Чтение журнала СБ", "Декодирование журнала СБ",
                                              "Запись журнала СБ в файл", "Расчёт SHA256 файла журнала СБ"};
const std::vector<std::string> journalUnsupported = {"Проверка поддержки журнала СБ", "Журнал СБ не поддерживается"};

std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

struct ModelCase {
    const char* name;
    const char* bundledProfile;
    const char* profileMembers;
    const char* modelLine;
    size_t algorithmTests;
    std::vector<std::string> landmarks;
};

class HealthyModel : public testing::TestWithParam<ModelCase> {};

TEST_P(HealthyModel, GetsTheChecksItsModelCallsForAndPasses)
{
    const ModelCase& model = GetParam();
    const KvdiagSandbox sandbox;
    const VirtualToken token(sandbox.profileOver(model.bundledProfile, model.profileMembers));
    const KvdiagRun run = sandbox.run();

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(hasBlock(run.report, {std::string("    Модель токена: ") + model.modelLine}));
    EXPECT_EQ(landmarksIn(run.report), model.landmarks);
    EXPECT_EQ(algorithmTestsIn(run.report), model.algorithmTests);
    const bool journalSupported =
        std::find(model.landmarks.begin(), model.landmarks.end(), "Журнал СБ поддерживается") != model.landmarks.end();
    EXPECT_EQ(run.journalFile.has_value(), journalSupported);
    EXPECT_EQ(run.verdict(), verdictPassed);
}

INSTANTIATE_TEST_SUITE_P(Models, HealthyModel, testing::Values(
    // V = 32: the system keys and the sectors are there, and the journal.
    ModelCase{"Brisa", "brisa.json", "", "Kelvane Brisa", 0,
              joined({deviceChecks,
                      {"Проверка целостности КИ", "Проверка системной ключевой информации",
                       "Проверка Глобальных PIN - кодов", "Получение статуса секторов памяти",
                       "Проверка работоспособности ГСЧ"},
                      journalRead})},
    ModelCase{"BrisaBuild9", "brisa.json", R"("identity": "02 02 04 00 10 00 00 09 01 01 00 00")", "Kelvane Brisa", 0,
              joined({deviceChecks,
                      {"Проверка целостности КИ", "Проверка Глобальных PIN - кодов", "Проверка работоспособности ГСЧ"},
                      journalUnsupported})},
    ModelCase{"Mirel2", "mirel2.json", "", "Kelvane Mirel 2.0", 7,
              joined({deviceChecks,
                      {"Проверка работы криптоалгоритмов", "Проверка целостности КИ",
                       "Проверка системной ключевой информации", "Проверка Глобальных PIN - кодов",
                       "Проверка RSF файлов", "Получение журнала ошибочных операций",
                       "Получение статуса секторов памяти", "Проверка работоспособности ГСЧ"},
                      journalUnsupported})},
    ModelCase{"Mirel2Build26", "mirel2.json", R"("identity": "01 02 08 00 12 00 00 1A 04 00 00 00")",
              "Kelvane Mirel 2.0", 7,
              joined({deviceChecks,
                      {"Проверка работы криптоалгоритмов", "Проверка целостности КИ",
                       "Проверка системной ключевой информации", "Проверка Глобальных PIN - кодов",
                       "Проверка RSF файлов", "Получение журнала ошибочных операций",
                       "Проверка работоспособности ГСЧ"},
                      journalUnsupported})},
    // A Mirel 2.0 Flash keeps no security journal (V = 27), so the flash
    // library does not support its flash and it keeps its own name.
    ModelCase{"Mirel2Flash", "mirel2-flash.json", R"("securityJournal": null)", "Kelvane Mirel 2.0 Flash", 7,
              joined({deviceChecks,
                      {"Проверка работы криптоалгоритмов", "Проверка целостности КИ",
                       "Проверка системной ключевой информации", "Проверка Глобальных PIN - кодов",
                       "Проверка RSF файлов", "Получение журнала ошибочных операций",
                       "Получение статуса секторов памяти", "Проверка работоспособности ГСЧ"},
                      journalUnsupported})},
    // The flash library supports the Varo's flash, so its journal is looked
    // for on the journal section's drive, which nothing mounts here.
    ModelCase{"Varo", "varo.json", "", "Kelvane Varo", 7,
              joined({deviceChecks,
                      {"Проверка работы криптоалгоритмов", "Проверка целостности КИ",
                       "Проверка системной ключевой информации", "Проверка Глобальных PIN - кодов",
                       "Проверка RSF файлов", "Получение журнала ошибочных операций",
                       "Получение статуса секторов памяти", "Проверка работоспособности ГСЧ"},
                      journalUnsupported})},
    // The flash library finds this token, so it is a Mirel 3.0 Flash and its
    // journal is looked for on the journal section's drive. Nothing mounts
    // that section on the test machine: after its minute of waiting the
    // journal is not supported, which leaves the verdict as it is.
    ModelCase{"Mirel3Flash", "mirel3-flash.json", "", "Kelvane Mirel 3.0 Flash", 7,
              joined({deviceChecks,
                      {"Проверка работы криптоалгоритмов", "Проверка целостности КИ",
                       "Проверка системной ключевой информации", "Проверка Глобальных PIN - кодов",
                       "Проверка RSF файлов", "Получение журнала ошибочных операций",
                       "Получение статуса секторов памяти", "Проверка работоспособности ГСЧ"},
                      journalUnsupported})}),
    [](const auto& info) { return std::string(info.param.name); });

// A fault made with the healthy Mirel 3.0 and what differs from it: the
// blocks of lines it must leave in the report, and the verdict.
struct FaultCase {
    const char* name;
    const char* profileMembers;
    std::vector<std::vector<std::string>> blocks;
    bool passes = false;
};

class Fault : public testing::TestWithParam<FaultCase> {};

TEST_P(Fault, LeavesItsLinesAndItsVerdict)
{
    const FaultCase& fault = GetParam();
    const KvdiagSandbox sandbox;
    const VirtualToken token(sandbox.profileOver("mirel3.json", fault.profileMembers));
    const KvdiagRun run = sandbox.run();

    EXPECT_EQ(run.exitCode, 0);
    for (const auto& block : fault.blocks)
        EXPECT_TRUE(hasBlock(run.report, block));
    EXPECT_EQ(run.verdict(), fault.passes ? verdictPassed : verdictFailed);
}

INSTANTIATE_TEST_SUITE_P(Mirel3, Fault, testing::Values(
    FaultCase{"OsChecksumRefused", R"("overrides": [{"command": "80 7E 00 00", "response": "6F 20"}])",
              {{"",
                "  Проверка целостности ОС Kelvane",
                "  [fatal] -> !ОШИБКА [0x6F20] - Команда не позволена. Повреждение системной области памяти или "
                "микропрограммы (ошибка CRC).",
                "",
                "  Получение кратких сведений об устройстве"}}},
    FaultCase{"ChangesCounterRefused", R"("overrides": [{"command": "00 CA 01 32", "response": "6A 88"}])",
              {{"    ID токена: 305419896",
                "    Сеансовый счетчик изменений",
                "    -> !ОШИБКА [0x6A88] - Неверные параметры команды. Референсные данные не найдены.",
                "    Счетчик подключений к USB шине: {number}",
                "    Версия микропрограммы: 3.0.32.5"}}},
    FaultCase{"ModeBitsOfGost28147AndARefusedAlgorithm",
              R"("selfTests": {"10": 5}, "overrides": [{"command": "80 7E 12 00", "response": "6A 81"}])",
              {{"",
                "  Проверка работы криптоалгоритмов",
                "    Тестирование алгоритма ГОСТ 28147-89",
                "    [critical] -> !ОШИБКА",
                "      Ошибка проверки режима ECB",
                "      Ошибка проверки режима CFB",
                "    Тестирование алгоритма ГОСТ 34.10-2001",
                "    -> Успешно",
                "    Тестирование алгоритма ГОСТ 34.11-1994",
                "    [critical] -> !ОШИБКА [0x6A81] - Неверные параметры команды. Затребованная функция этой команды "
                "не поддерживается.",
                "    Тестирование алгоритма ВКО 2001",
                "    -> Успешно",
                "    Тестирование алгоритма ГОСТ 34.10-2012",
                "    -> Успешно",
                "    Тестирование алгоритма ГОСТ 34.11-2012",
                "    -> Успешно",
                "    Тестирование алгоритма ВКО 2012",
                "    -> Успешно",
                "    Тестирование алгоритма ГОСТ Р 34.12-2015 Магма",
                "    -> Успешно",
                "    Тестирование алгоритма ГОСТ Р 34.12-2015 Кузнечик",
                "    -> Успешно",
                "    Тестирование алгоритма ECDH",
                "    -> Успешно",
                "  Проверка работы криптоалгоритмов - критичность проверки: [critical]",
                "",
                "  Проверка целостности КИ"}}},
    // The group's severity is shared: after the key fault the PIN and RSF
    // parts write their fatal summaries although they pass themselves.
    FaultCase{"OneSystemKeyRefused", R"("damagedSystemKeys": ["22"])",
              {{"  Проверка целостности КИ",
                "    Проверка системной ключевой информации",
                "      Главный ключ",
                "      -> Успешно",
                "      Ключ для ГСЧ",
                "      [fatal] -> !ОШИБКА [0x6F87] - Команда не позволена. Неверная контрольная сумма объекта.",
                "      IV для ГСЧ",
                "      -> Успешно",
                "    Проверка системной ключевой информации - критичность проверки: [fatal]",
                "",
                "    Проверка Глобальных PIN - кодов",
                "      Администратора"},
               {"        -> Успешно",
                "    Проверка Глобальных PIN - кодов - критичность проверки: [fatal]",
                "",
                "    Проверка RSF файлов"},
               {"        ID 0004",
                "        -> Успешно",
                "    Проверка RSF файлов - критичность проверки: [fatal]",
                "",
                "  Проверка целостности КИ - критичность проверки: [fatal]",
                "",
                "  Получение журнала ошибочных операций"}}},
    // A malformed answer fails the run without grading the group.
    FaultCase{"GlobalPinAnswerWithoutTemplate",
              R"("overrides": [{"command": "00 CA 01 01", "response": "6F 00 90 00"}])",
              {{"      Администратора",
                "        Получение информации",
                "          Неизвестный формат информации",
                "            6f:00:",
                "        Проверка целостности",
                "        -> Успешно",
                "      Пользователя"},
               {"        ID 0004",
                "        -> Успешно",
                "",
                "  Получение журнала ошибочных операций"}}},
    // The first failing file gets its reference checksum, the second is refused it.
    FaultCase{"RsfFilesFailingWithAndWithoutReference",
              R"("fileSystem": {"1000": {"1000": {"6002": {"0002": {"type": "rsf", "damaged": true}},
                                                  "6003": {"0001": {"type": "rsf", "damaged": true}}}}},
                 "overrides": [{"command": "80 7E 33 01", "response": "12 34 56 78 90 00", "times": 1},
                               {"command": "80 7E 33 01", "response": "6A 88"}])",
              {{"      Проверка закрытых ключей",
                "        ID 0001",
                "        -> Успешно",
                "        ID 0002",
                "        [critical] -> !ОШИБКА [0x6F87] - Команда не позволена. Неверная контрольная сумма объекта.",
                "          Эталонная контрольная сумма: 12345678",
                "        ID 0003",
                "        -> Успешно",
                "      Проверка симметричных ключей",
                "        ID 0001",
                "        [critical] -> !ОШИБКА [0x6F87] - Команда не позволена. Неверная контрольная сумма объекта.",
                "          Получение эталонной контрольной суммы не удалось: 6a88",
                "      Проверка локальных PIN-кодов",
                "        ID 0003",
                "        -> Успешно",
                "        ID 0004",
                "        -> Успешно",
                "",
                "  Проверка целостности КИ - критичность проверки: [critical]",
                "",
                "  Получение журнала ошибочных операций"}}},
    FaultCase{"ErrorJournalRefusedEmergencyEventAnswered",
              R"("emergencyEvent": "0A 1B 2C", "overrides": [{"command": "80 7E 41 01", "response": "6A 88"}])",
              {{"",
                "  Получение журнала ошибочных операций",
                "  -> !ОШИБКА [0x6A88] - Неверные параметры команды. Референсные данные не найдены.",
                "    Получение аварийного события",
                "    -> Успешно",
                "      0a:1b:2c:",
                "",
                "  Получение статуса секторов памяти"}}},
    FaultCase{"OneOfTwoSectorsUnreliable", R"("sectors": [{"rewrites": 500}, {"rewrites": 70000, "unreliable": true}])",
              {{"",
                "  Получение статуса секторов памяти",
                "    Сектор 0",
                "      Число перезаписей: 500",
                "      достоверно",
                "    Сектор 1",
                "      Число перезаписей: 70000",
                "      недостоверно",
                "  Получение статуса секторов памяти - критичность проверки: [critical]",
                "",
                "  Проверка работоспособности ГСЧ"}}},
    FaultCase{"AllSectorsUnreliable", R"("sectors": [{"rewrites": 9, "unreliable": true}])",
              {{"",
                "  Получение статуса секторов памяти",
                "    Сектор 0",
                "      Число перезаписей: 9",
                "      недостоверно",
                "  Получение статуса секторов памяти - критичность проверки: [fatal]",
                "",
                "  Проверка работоспособности ГСЧ"}}},
    // The unknown object stops the walk; the whole answer is dumped.
    FaultCase{"UnknownObjectAmongSectors",
              R"("overrides": [{"command": "80 7E 51 01", "response": "85 08 00 03 00 00 01 F4 00 00 86 01 00 90 00"}])",
              {{"",
                "  Получение статуса секторов памяти",
                "    Сектор 3",
                "      Число перезаписей: 500",
                "      достоверно",
                "    Неизвестное содержание журнала:",
                "      85:08:00:03:00:00:01:f4:00:00:86:01:00:",
                "",
                "  Проверка работоспособности ГСЧ"}}},
    FaultCase{"SectorStatusNotOffered", R"("overrides": [{"command": "80 7E 51 01", "response": "6A 81"}])",
              {{"",
                "  Получение статуса секторов памяти",
                "    Запрошенная функциональность не поддерживается",
                "",
                "  Проверка работоспособности ГСЧ"}},
              true},
    FaultCase{"RandomGeneratorRefusedJournalStillRead",
              R"("overrides": [{"command": "00 84 00 00", "response": "6F 12"}])",
              {{"",
                "  Проверка работоспособности ГСЧ",
                "  [fatal] -> !ОШИБКА [0x6F12] - Команда не позволена. Закончился ресурс ключей ГСЧ. Генерация "
                "случайных чисел более невозможна.",
                "",
                "  Проверка поддержки журнала СБ",
                "  -> Успешно",
                "    Журнал СБ поддерживается",
                "",
                "  Чтение журнала СБ",
                "  -> Успешно"}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
