#include "diagnostics/rsfChecks.h"
#include "healthyToken.h"
#include "pcscWrapper/statusWords.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <stdexcept>

using testing::ElementsAreArray;

namespace {

const uint16_t kPrivateKeys[] = {0x1000, 0x1000, 0x6002};
const char kTitle[] = "Проверка закрытых ключей";

class RsfFolderTest : public HealthyTokenTest {
protected:
    void checkFolder() { rsfFolderCheck(token(), logger, kPrivateKeys, kTitle, kiSeverity); }

    // The folder walk's own commands, after the ones that built the token.
    std::vector<std::string> walkCommands() const
    {
        const std::vector<std::string> all = sentCommands();
        const auto first = std::find(all.begin(), all.end(), "00 A4 08 04 06 10 00 10 00 60 02 00");
        return {first, all.end()};
    }

    CheckResult kiSeverity = CheckResult::Success;
};

TEST_F(RsfFolderTest, FilesAreCheckedAndSubFoldersSkippedInTheTokensOrder)
{
    card.on("00 A4 00 04", rsfFileFcp("00 01"))
        .on("00 A4 00 06 02 00 01", rsfFileFcp("00 02"))
        .on("00 A4 00 06 02 00 02", rsfFileFcp("00 03", true))
        .on("00 A4 00 06 02 00 03", "6A 82")
        .on("80 7E 33 00", std::vector<std::string>{"90 00", "6F 00"})
        .on("80 7E 33 01", "12 34 56 78 90 00");
    kiSeverity = CheckResult::Fatal;  // an earlier fault of the group is replaced

    checkFolder();

    EXPECT_THAT(report(), ElementsAreArray({
                              at(1, kTitle),
                              at(2, "ID 0001"),
                              at(2, "-> Успешно"),
                              at(2, "ID 0002"),
                              at(2, "[critical] -> !ОШИБКА " + statusWordMessage(0x6F00)),
                              at(3, "Эталонная контрольная сумма: 12345678"),
                          }));
    EXPECT_EQ(kiSeverity, CheckResult::Critical);
    EXPECT_THAT(walkCommands(), ElementsAreArray({
                                    "00 A4 08 04 06 10 00 10 00 60 02 00",
                                    "00 A4 00 04 00",
                                    "80 7E 33 00 04",
                                    "00 A4 00 06 02 00 01 00",
                                    "80 7E 33 00 04",
                                    "80 7E 33 01 04",
                                    "00 A4 00 06 02 00 02 00",
                                    "00 A4 03 04",  // back out of folder 0003 without walking it
                                    "00 A4 00 06 02 00 03 00",
                                }));
    EXPECT_EQ(logger.level, 1);
}

struct WalkCase {
    const char* name;
    std::vector<std::pair<const char*, std::string>> answers;
    std::vector<std::string> linesAfterTitle;
    CheckResult severity;
};

const WalkCase kWalkCases[] = {
    {"FolderCannotBeSelected",
     {{"00 A4 08 04", "6A 82"}},
     {at(1, "[critical] -> !ОШИБКА " + statusWordMessage(0x6A82))},
     CheckResult::Critical},
    {"EmptyFolder", {{"00 A4 00 04", "6A 82"}}, {at(1, "-> !ОБЪЕКТЫ НЕ ОБНАРУЖЕНЫ")}, CheckResult::Success},
    {"OnlySubFolders",
     {{"00 A4 00 04", rsfFileFcp("00 01", true)},
      {"00 A4 00 06 02 00 01", rsfFileFcp("00 02", true)}},
     {},
     CheckResult::Success},
    {"ReturnFromSubFolderRefused",
     {{"00 A4 00 04", rsfFileFcp("00 01", true)}, {"00 A4 03 04", "6A 86"}},
     {at(1, "[critical] -> !ОШИБКА " + statusWordMessage(0x6A86))},
     CheckResult::Critical},
    {"ReferenceChecksumRefused",
     {{"80 7E 33 00", "6F 00"}, {"80 7E 33 01", "6A 88"}},
     {at(2, "ID 0101"), at(2, "[critical] -> !ОШИБКА " + statusWordMessage(0x6F00)),
      at(3, "Получение эталонной контрольной суммы не удалось: 6a88")},
     CheckResult::Critical},
    {"ShortReferenceChecksumIsNotReadPastItsEnd",
     {{"80 7E 33 00", "6F 00"}, {"80 7E 33 01", "12 90 00"}},
     {at(2, "ID 0101"), at(2, "[critical] -> !ОШИБКА " + statusWordMessage(0x6F00)),
      at(3, "Неполный ответ токена: получено 1 Б из 4.")},
     CheckResult::Critical},
};

void PrintTo(const WalkCase& walkCase, std::ostream* out)
{
    *out << walkCase.name;
}

class RsfFolderWalk : public RsfFolderTest, public testing::WithParamInterface<WalkCase> {};

TEST_P(RsfFolderWalk, ReportsAndGradesTheFolder)
{
    for (const auto& [command, answer] : GetParam().answers)
        card.on(command, answer);

    checkFolder();

    std::vector<std::string> expected{at(1, kTitle)};
    expected.insert(expected.end(), GetParam().linesAfterTitle.begin(), GetParam().linesAfterTitle.end());
    EXPECT_THAT(report(), ElementsAreArray(expected));
    EXPECT_EQ(kiSeverity, GetParam().severity);
}

INSTANTIATE_TEST_SUITE_P(Folders, RsfFolderWalk, testing::ValuesIn(kWalkCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The walk cannot go on without the file's identifier and descriptor.
const char* const kMalformedFcps[] = {
    "6F 06 82 02 10 00 83 00 90 00",  // no template
    "62 04 82 02 10 00 90 00",        // no identifier
    "62 04 83 02 00 01 90 00",        // no descriptor
    "62 07 82 02 10 00 83 01 00 90 00",  // identifier of one byte
    "62 06 82 00 83 02 00 01 90 00",     // empty descriptor
};

TEST_F(RsfFolderTest, MalformedFcpEndsTheRun)
{
    for (const char* fcp : kMalformedFcps) {
        SCOPED_TRACE(fcp);
        card.on("00 A4 00 04", fcp);
        try {
            checkFolder();
            ADD_FAILURE() << "expected the logic error";
        } catch (const std::logic_error& error) {
            EXPECT_STREQ(error.what(), "Tag was not found in buffer");
        }
    }
}

TEST_F(RsfFolderTest, TokenThatNeverEndsTheFolderIsCutOff)
{
    card.on("00 A4 00 06", rsfFileFcp("00 01"));  // SELECT next always answers

    checkFolder();

    const auto integrityChecks = std::count(card.received.begin(), card.received.end(), hexBytes("80 7E 33 00 04"));
    EXPECT_EQ(static_cast<size_t>(integrityChecks), kMaxFolderEntries);
    EXPECT_EQ(report().back(), at(1, "[critical] -> !ОШИБКА Папка содержит более 1024 объектов, проверка прервана."));
    EXPECT_EQ(kiSeverity, CheckResult::Critical);
}

}  // namespace
