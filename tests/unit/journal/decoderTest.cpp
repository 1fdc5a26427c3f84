#include "caseName.h"
#include "journal/decodedJournal.h"
#include "journal/journalRecords.h"
#include "scriptedPcsc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

static void PrintTo(DecodeStatus status, std::ostream* os)
{
    *os << "DecodeStatus " << static_cast<int>(status);
}

namespace {

// Everything the journal file would receive, in order.
std::string allTexts(DecodedJournal& journal)
{
    std::string texts;
    while (const auto text = journal.nextRecordText())
        texts += *text;
    return texts;
}

struct DecodeCase {
    const char* name;
    const char* journal;
    const char* texts;
    DecodeStatus status;
};

std::string decodeCaseName(const testing::TestParamInfo<DecodeCase>& info) { return info.param.name; }

class Decoding : public testing::TestWithParam<DecodeCase> {};

TEST_P(Decoding, TextsAndStatus)
{
    const Bytes bytes = hexBytes(GetParam().journal);
    DecodedJournal journal(bytes);
    EXPECT_EQ(journal.status(), GetParam().status);
    EXPECT_EQ(allTexts(journal), GetParam().texts);
}

constexpr auto kOk = DecodeStatus::Ok;
constexpr auto kSomeFailed = DecodeStatus::SomeRecordsFailed;
constexpr auto kFailed = DecodeStatus::JournalFailed;

// Each record type at each length it accepts.
const DecodeCase kRecordTypes[] = {
    {"Empty", "", "", kOk},
    {"JournalVersion", "40 02 01 00", "Версия журнала 1.0\n", kOk},
    {"JournalVersionInDecimal", "40 02 0C 22", "Версия журнала 12.34\n", kOk},
    {"PrivateKeyImport4", "41 04 82 6A 10 01",
     "Импорт закрытого ключа\nSW-код операции: 0x6a82\nID объекта: 4097\n", kOk},
    {"PrivateKeyImport8", "41 08 82 6A 10 01 0A 1B 2C 3D",
     "Импорт закрытого ключа\nSW-код операции: 0x6a82\nID объекта: 4097\n"
     "Первые 4 байта от хеша открытого ключа: 0a1b2c3d\n", kOk},
    {"KeyPairGeneration2", "42 02 82 6A", "Генерация ключевой пары\nSW-код операции: 0x6a82\n", kOk},
    {"KeyPairGeneration4", "42 04 82 6A FF FE",
     "Генерация ключевой пары\nSW-код операции: 0x6a82\nID объекта: 65534\n", kOk},
    {"KeyPairGeneration8", "42 08 82 6A 00 07 DE AD BE EF",
     "Генерация ключевой пары\nSW-код операции: 0x6a82\nID объекта: 7\n"
     "Первые 4 байта от хеша открытого ключа: deadbeef\n", kOk},
    {"PrivateKeyDeletion4", "43 04 85 69 00 02",
     "Удаление закрытого ключа\nSW-код операции: 0x6985\nID объекта: 2\n", kOk},
    {"PrivateKeyDeletion8", "43 08 85 69 00 02 00 00 00 01",
     "Удаление закрытого ключа\nSW-код операции: 0x6985\nID объекта: 2\n"
     "Первые 4 байта от хеша открытого ключа: 00000001\n", kOk},
    {"OperationCompletionHasNoText", "44 02 00 90", "", kOk},
    {"ImportValue2Mva", "46 04 82 6A 00 05",
     "Импорт свертки СВТ в многозначный аутентификатор\nSW-код операции: 0x6a82\nID объекта MVA: 5\n", kOk},
    {"DeleteValueInMva", "47 04 82 6A 01 00",
     "Удаление свертки СВТ из многозначного аутентификатора\nSW-код операции: 0x6a82\nID объекта MVA: 256\n", kOk},
    {"UserPinChange", "48 02 83 69", "Смена PIN Пользователя\nSW-код операции: 0x6983\n", kOk},
    {"LocalPinImport", "49 04 82 6A 00 10", "Импорт локального PIN\nSW-код операции: 0x6a82\nID объекта: 16\n", kOk},
    {"PinUnlock2", "4A 02 00 90", "Разблокировка PIN-кода\nSW-код операции: 0x9000\n", kOk},
    {"PinUnlock3", "4A 03 00 90 02",
     "Разблокировка PIN-кода\nSW-код операции: 0x9000\nТип аутентификации: PIN-код Пользователя\n", kOk},
    {"PinUnlock5", "4A 05 00 90 04 00 2A",
     "Разблокировка PIN-кода\nSW-код операции: 0x9000\n"
     "Тип аутентификации: Локальный PIN-код / MVA /Сложное правило\nID объекта: 42\n", kOk},
    {"SuccessSectionOpen2", "4B 02 00 90", "Успешное открытие раздела\nSW-код операции: 0x9000\n", kOk},
    {"SuccessSectionOpen8", "4B 08 00 90 03 02 10 0E 00 00",
     "Успешное открытие раздела\nSW-код операции: 0x9000\nИдентификатор раздела: 3\n"
     "Тип аутентификации: PIN-код Пользователя\nВремя работы токена от начала запуска: 3600 с\n", kOk},
    {"SuccessSectionOpen10", "4B 0A 00 90 01 04 12 34 FF FF FF FF",
     "Успешное открытие раздела\nSW-код операции: 0x9000\nИдентификатор раздела: 1\n"
     "Тип аутентификации: Локальный PIN-код / MVA /Сложное правило\nID объекта: 4660\n"
     "Время работы токена от начала запуска: 4294967295 с\n", kOk},
    {"FailedAuthentication3", "4C 03 00 90 02",
     "Неуспешная аутентификация\nSW-код операции: 0x9000\nТип аутентификации: PIN-код Пользователя\n", kOk},
    {"FailedAuthentication4", "4C 04 C2 63 02 05",
     "Неуспешная аутентификация\nSW-код операции: 0x63c2\nТип аутентификации: PIN-код Пользователя\n"
     "Счетчик числа оставшихся попыток доступа: 5\n", kOk},
    {"FailedAuthentication5", "4C 05 00 90 08 00 2A",
     "Неуспешная аутентификация\nSW-код операции: 0x9000\nТип аутентификации: Аутентификация по ключу\n"
     "ID объекта: 42\n", kOk},
    {"FailedAuthentication6", "4C 06 C0 63 04 00 2A 00",
     "Неуспешная аутентификация\nSW-код операции: 0x63c0\n"
     "Тип аутентификации: Локальный PIN-код / MVA /Сложное правило\nID объекта: 42\n"
     "Счетчик числа оставшихся попыток доступа: 0\n", kOk},
    {"FormatWithZeroStatusWord", "4D 02 00 00", "Форматирование\nSW-код операции: 0\n", kOk},
    {"TokenReconnecting", "4E 04 01 02 00 00", "Переподключение токена\nСчётчик подключений: 513\n", kOk},
    {"Fkc2KeyPairGenerationStatusOnly", "64 04 50 02 82 6A",
     "Генерация ключевой пары ФКН2\nSW-код операции: 0x6a82\n", kOk},
    {"Fkc2KeyPairGenerationAllItemsInAnyOrder",
     "64 16 02 04 33 33 33 33 50 02 82 6A 01 04 22 22 22 22 51 04 11 11 11 11",
     "Генерация ключевой пары ФКН2\nSW-код операции: 0x6a82\n"
     "Первые 4 байта хеша имени контейнера: 11111111\n"
     "Первые 4 байта хеша открытого ключа 1-ой пары ключей: 22222222\n"
     "Первые 4 байта хеша открытого ключа 2-ой пары ключей: 33333333\n", kOk},
    {"Fkc2ContainerDeletion", "65 0A 50 02 82 6A 51 04 0A 0B 0C 0D",
     "Удаление контейнера ФКН2\nSW-код операции: 0x6a82\nПервые 4 байта хеша имени контейнера: 0a0b0c0d\n", kOk},
    {"Time", "66 10 C5 08 00 00 00 00 65 E7 26 2F C6 04 3C 00 00 00",
     "Время\nСистемное время: 05/03/2024 14:03:27 UTC+0\nВремя работы токена от начала запуска: 60 с\n", kOk},
    {"TimeAllZero", "66 10 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00",
     "Время\nСистемное время: 01/01/1970 00:00:00 UTC+0\nВремя работы токена от начала запуска: 0 с\n", kOk},
    // Other items are two bytes whatever their length byte says.
    {"TimeSkipsOtherItems", "66 10 AA 05 C6 04 10 0E 00 00 BB 07 CC 00 DD 01 EE 02",
     "Время\nСистемное время: 01/01/1970 00:00:00 UTC+0\nВремя работы токена от начала запуска: 3600 с\n", kOk},
    {"UserNameEmpty", "C1 00", "Имя пользователя в системе: \n", kOk},
    {"UserNameAsStored", "C1 08 D0 98 D0 B2 D0 B0 D0 BD", "Имя пользователя в системе: Иван\n", kOk},
    {"DomainName", "C2 04 63 6F 72 70", "Доменное имя: corp\n", kOk},
    {"OperationSystemVersion", "C3 02 31 30", "Версия ОС: 10\n", kOk},
    {"DeviceName", "C4 03 50 43 31", "Имя устройства: PC1\n", kOk},
};
INSTANTIATE_TEST_SUITE_P(RecordTypes, Decoding, testing::ValuesIn(kRecordTypes), decodeCaseName);

// Readable frames with content the tool cannot read: decoding goes on.
const DecodeCase kUnknownRecords[] = {
    {"UnknownTag", "7F 01 AB", "Неизвестный тип записи\nТег: 0x7f\nДанные: ab\n", kSomeFailed},
    {"ZeroTagEmptyValue", "00 00", "Неизвестный тип записи\nТег: 0\nДанные: \n", kSomeFailed},
    {"UnusedTagBetweenKnownOnes", "45 02 00 90", "Неизвестный тип записи\nТег: 0x45\nДанные: 0090\n", kSomeFailed},
    {"VersionLength3", "40 03 01 00 00", "Неизвестный тип записи\nТег: 0x40\nДанные: 010000\n", kSomeFailed},
    {"PrivateKeyImportLength2", "41 02 00 90", "Неизвестный тип записи\nТег: 0x41\nДанные: 0090\n", kSomeFailed},
    {"KeyPairGenerationLength3", "42 03 00 90 01", "Неизвестный тип записи\nТег: 0x42\nДанные: 009001\n", kSomeFailed},
    {"CompletionLength0", "44 00", "Неизвестный тип записи\nТег: 0x44\nДанные: \n", kSomeFailed},
    {"PinUnlockLength4", "4A 04 00 90 02 00", "Неизвестный тип записи\nТег: 0x4a\nДанные: 00900200\n", kSomeFailed},
    {"SectionOpenLength9", "4B 09 00 90 01 02 00 00 00 00 00",
     "Неизвестный тип записи\nТег: 0x4b\nДанные: 009001020000000000\n", kSomeFailed},
    {"FailedAuthenticationLength2", "4C 02 00 90", "Неизвестный тип записи\nТег: 0x4c\nДанные: 0090\n", kSomeFailed},
    {"ReconnectingLength3", "4E 03 01 00 00", "Неизвестный тип записи\nТег: 0x4e\nДанные: 010000\n", kSomeFailed},
    {"TimeLength1", "66 01 C5", "Неизвестный тип записи\nТег: 0x66\nДанные: c5\n", kSomeFailed},
    {"PinUnlockLocalPinWithoutId", "4A 03 00 90 04", "Неизвестный тип записи\nТег: 0x4a\nДанные: 009004\n",
     kSomeFailed},
    {"FailedAuthenticationLocalPinWithoutId", "4C 03 00 90 04",
     "Неизвестный тип записи\nТег: 0x4c\nДанные: 009004\n", kSomeFailed},
    {"FailedAuthenticationKeyWithoutId", "4C 04 00 90 08 05",
     "Неизвестный тип записи\nТег: 0x4c\nДанные: 00900805\n", kSomeFailed},
    {"Fkc2Empty", "64 00", "Неизвестный тип записи\nТег: 0x64\nДанные: \n", kSomeFailed},
    {"Fkc2WrongInnerLength", "64 06 50 02 00 90 50 00", "Неизвестный тип записи\nТег: 0x64\nДанные: 500200905000\n",
     kSomeFailed},
    {"Fkc2TwoStatusWords", "64 08 50 02 00 90 50 02 00 90",
     "Неизвестный тип записи\nТег: 0x64\nДанные: 5002009050020090\n", kSomeFailed},
    {"Fkc2NoStatusWord", "65 06 51 04 01 02 03 04", "Неизвестный тип записи\nТег: 0x65\nДанные: 510401020304\n",
     kSomeFailed},
    {"Fkc2TwoContainerHashes", "64 10 50 02 00 90 51 04 01 01 01 01 51 04 02 02 02 02",
     "Неизвестный тип записи\nТег: 0x64\nДанные: 50020090510401010101510402020202\n", kSomeFailed},
    {"Fkc2TruncatedItem", "64 05 50 02 00 90 01", "Неизвестный тип записи\nТег: 0x64\nДанные: 5002009001\n",
     kSomeFailed},
    {"Fkc2ItemPastTheValue", "64 06 50 02 00 90 51 04", "Неизвестный тип записи\nТег: 0x64\nДанные: 500200905104\n",
     kSomeFailed},
    {"Fkc2UnknownInnerTag", "64 08 50 02 00 90 7F 02 00 00",
     "Неизвестный тип записи\nТег: 0x64\nДанные: 500200907f020000\n", kSomeFailed},
    {"Fkc2HashOfWrongLength", "64 09 50 02 00 90 01 03 AA BB CC",
     "Неизвестный тип записи\nТег: 0x64\nДанные: 500200900103aabbcc\n", kSomeFailed},
    {"DecodingGoesOn", "7F 01 AB 40 02 01 00",
     "Неизвестный тип записи\nТег: 0x7f\nДанные: ab\nВерсия журнала 1.0\n", kSomeFailed},
};
INSTANTIATE_TEST_SUITE_P(UnknownRecords, Decoding, testing::ValuesIn(kUnknownRecords), decodeCaseName);

// A broken frame leaves nothing to trust: no records at all.
const DecodeCase kBrokenJournals[] = {
    {"StrayByte", "40", "", kFailed},
    {"TrailingStrayByte", "40 02 01 00 41", "", kFailed},
    {"LengthBeyondTheEnd", "41 08 00 90", "", kFailed},
    {"LengthBeyondTheEndAfterGoodRecords", "40 02 01 00 42 02 82 6A 41 08 00 90 10 01", "", kFailed},
    {"PinUnlockWithIdForOtherAuthentication", "4A 05 00 90 02 00 01", "", kFailed},
    {"FailedAuthenticationWithIdForPin", "4C 05 00 90 02 00 2A", "", kFailed},
    {"FailedAuthenticationWithIdAndCounterForPin", "4C 06 00 90 02 00 2A 05", "", kFailed},
    {"TimeUptimeOfWrongLength", "66 10 C6 05 00 00 00 00 00 00 00 00 00 00 00 00 00 00", "", kFailed},
    {"TimeSystemTimeOfWrongLength", "66 10 C5 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00", "", kFailed},
    // The walk must stop at the record's end, not read the next record's bytes.
    {"TimeItemsOverrunTheValue", "66 10 C6 04 01 00 00 00 C6 04 02 00 00 00 C6 04 03 00 40 02 01 00", "", kFailed},
    {"TimeSystemTimeAtTheValueEnd",
     "66 10 00 00 00 00 00 00 00 00 00 00 00 00 00 00 C5 08 40 02 01 00 40 02 01 00", "", kFailed},
};
INSTANTIATE_TEST_SUITE_P(BrokenJournals, Decoding, testing::ValuesIn(kBrokenJournals), decodeCaseName);

// The note marks a successful operation the token did not close successfully.
const DecodeCase kCompletion[] = {
    {"OperationLastInJournal", "41 04 00 90 10 01",
     "Импорт закрытого ключа\nSW-код операции: 0x9000\nID объекта: 4097\nОперация не была завершена\n", kOk},
    {"OperationCompleted", "41 04 00 90 10 01 44 02 00 90",
     "Импорт закрытого ключа\nSW-код операции: 0x9000\nID объекта: 4097\n", kOk},
    {"CompletionFailed", "48 02 00 90 44 02 82 6A",
     "Смена PIN Пользователя\nSW-код операции: 0x9000\nОперация не была завершена\n", kOk},
    {"CompletionNotNext", "41 04 00 90 10 01 40 02 01 00 44 02 00 90",
     "Импорт закрытого ключа\nSW-код операции: 0x9000\nID объекта: 4097\nОперация не была завершена\n"
     "Версия журнала 1.0\n", kOk},
    {"OnlyExactly9000NeedsCompletion", "42 02 01 90", "Генерация ключевой пары\nSW-код операции: 0x9001\n", kOk},
    {"Fkc2Completed", "65 04 50 02 00 90 44 02 00 90", "Удаление контейнера ФКН2\nSW-код операции: 0x9000\n", kOk},
    {"UnreadableOperationIsNotChecked", "41 03 00 90 01", "Неизвестный тип записи\nТег: 0x41\nДанные: 009001\n",
     kSomeFailed},
    {"CompletionsAreSkipped", "44 02 00 90 44 02 82 6A 40 02 01 00 44 02 00 90", "Версия журнала 1.0\n", kOk},
};
INSTANTIATE_TEST_SUITE_P(Completion, Decoding, testing::ValuesIn(kCompletion), decodeCaseName);

struct CompletionRule {
    const char* record;
    bool noted;
};

class CompletionSet : public testing::TestWithParam<CompletionRule> {};

TEST_P(CompletionSet, SuccessfulLastOperationIsNotedOnlyForJournalledOperations)
{
    const Bytes bytes = hexBytes(GetParam().record);
    DecodedJournal journal(bytes);
    const std::string text = allTexts(journal);
    ASSERT_EQ(journal.status(), DecodeStatus::Ok);
    EXPECT_EQ(text.ends_with("Операция не была завершена\n"), GetParam().noted) << text;
}

INSTANTIATE_TEST_SUITE_P(Tags, CompletionSet, testing::Values(
    CompletionRule{"41 04 00 90 00 01", true},
    CompletionRule{"42 02 00 90", true},
    CompletionRule{"43 04 00 90 00 01", true},
    CompletionRule{"46 04 00 90 00 01", true},
    CompletionRule{"47 04 00 90 00 01", true},
    CompletionRule{"48 02 00 90", true},
    CompletionRule{"49 04 00 90 00 01", true},
    CompletionRule{"64 04 50 02 00 90", true},
    CompletionRule{"65 04 50 02 00 90", true},
    CompletionRule{"4A 02 00 90", false},
    CompletionRule{"4B 02 00 90", false},
    CompletionRule{"4C 03 00 90 02", false},
    CompletionRule{"4D 02 00 90", false}),
    [](const auto& info) { return caseName("Record", info.param.record); });

struct AuthenticationCase {
    const char* type;
    const char* name;
};

class AuthenticationType : public testing::TestWithParam<AuthenticationCase> {};

TEST_P(AuthenticationType, IsNamedOrWrittenInDecimal)
{
    const Bytes bytes = hexBytes(std::string("4B 08 82 6A 01 ") + GetParam().type + " 00 00 00 00");
    DecodedJournal journal(bytes);
    EXPECT_EQ(allTexts(journal), std::string("Успешное открытие раздела\nSW-код операции: 0x6a82\n"
                                             "Идентификатор раздела: 1\nТип аутентификации: ") +
                                     GetParam().name + "\nВремя работы токена от начала запуска: 0 с\n");
}

INSTANTIATE_TEST_SUITE_P(Names, AuthenticationType, testing::Values(
    AuthenticationCase{"00", "без аутентификации"},
    AuthenticationCase{"02", "PIN-код Пользователя"},
    AuthenticationCase{"04", "Локальный PIN-код / MVA /Сложное правило"},
    AuthenticationCase{"06", "PIN-код Пользователя и (Локальный PIN-код / MVA /Сложное правило)"},
    AuthenticationCase{"08", "Аутентификация по ключу"},
    AuthenticationCase{"10", "PIN-код Пользователя и Аутентификация по ключу"},
    AuthenticationCase{"07", "7"},
    AuthenticationCase{"FF", "255"}),
    [](const auto& info) { return caseName("Type", info.param.type); });

struct TimeCase {
    const char* secondsBigEndian;
    const char* shown;
};

class SystemTime : public testing::TestWithParam<TimeCase> {};

TEST_P(SystemTime, IsUtcCalendarTimeInsideTheRangeElseTheRawNumber)
{
    const Bytes bytes = hexBytes(std::string("66 10 C5 08 ") + GetParam().secondsBigEndian + " C6 04 00 00 00 00");
    DecodedJournal journal(bytes);
    EXPECT_EQ(allTexts(journal), std::string("Время\nСистемное время: ") + GetParam().shown +
                                     "\nВремя работы токена от начала запуска: 0 с\n");
}

INSTANTIATE_TEST_SUITE_P(Range, SystemTime, testing::Values(
    TimeCase{"00 00 00 00 65 E7 26 2F", "05/03/2024 14:03:27 UTC+0"},
    TimeCase{"00 00 00 00 00 00 00 00", "01/01/1970 00:00:00 UTC+0"},
    TimeCase{"FF FF FF FF FF FF FF FF", "31/12/1969 23:59:59 UTC+0"},
    TimeCase{"FF FF FF FF FF FF 57 40", "31/12/1969 12:00:00 UTC+0"},
    TimeCase{"FF FF FF FF FF FF 57 3F", "18446744073709508415"},
    TimeCase{"00 00 00 07 93 58 EF DF", "19/01/3001 21:59:59 UTC+0"},
    TimeCase{"00 00 00 07 93 58 EF E0", "32536850400"},
    TimeCase{"80 00 00 00 00 00 00 00", "9223372036854775808"}),
    [](const auto& info) { return caseName("Seconds", info.param.secondsBigEndian); });

TEST(DecodedJournal, HasNoMoreTextsOnceAllAreWritten)
{
    const Bytes bytes = hexBytes("40 02 01 00 44 02 00 90");
    DecodedJournal journal(bytes);
    EXPECT_EQ(journal.nextRecordText(), "Версия журнала 1.0\n");
    EXPECT_EQ(journal.nextRecordText(), std::nullopt);
    EXPECT_EQ(journal.nextRecordText(), std::nullopt);
}

// Cutting a good journal anywhere but between records must break it, and no
// cut may read beyond the bytes handed in.
TEST(DecodedJournal, EveryCutInsideARecordBreaksTheJournal)
{
    const std::vector<std::string> records = {
        "40 02 01 00",
        "66 10 C5 08 00 00 00 00 65 E7 26 2F C6 04 3C 00 00 00",
        "41 08 00 90 10 01 0A 1B 2C 3D",
        "44 02 00 90",
        "4B 0A 00 90 01 04 12 34 FF FF FF FF",
        "64 16 02 04 33 33 33 33 50 02 82 6A 01 04 22 22 22 22 51 04 11 11 11 11",
        "C4 03 50 43 31",
    };
    Bytes journal;
    std::vector<size_t> boundaries = {0};
    for (const auto& record : records) {
        const Bytes bytes = hexBytes(record);
        journal.insert(journal.end(), bytes.begin(), bytes.end());
        boundaries.push_back(journal.size());
    }
    for (size_t cut = 0; cut <= journal.size(); ++cut) {
        const Bytes prefix(journal.begin(), journal.begin() + cut);
        DecodedJournal decoded(prefix);
        const bool atBoundary = std::find(boundaries.begin(), boundaries.end(), cut) != boundaries.end();
        EXPECT_EQ(decoded.status(), atBoundary ? DecodeStatus::Ok : DecodeStatus::JournalFailed) << "cut " << cut;
        if (!atBoundary) {
            EXPECT_EQ(decoded.nextRecordText(), std::nullopt) << "cut " << cut;
        }
    }
}

struct RecordIdentity {
    const char* record;
    uint8_t tag;
    std::optional<uint16_t> statusWord;
};

class ParsedRecord : public testing::TestWithParam<RecordIdentity> {};

TEST_P(ParsedRecord, TagAndStatusWord)
{
    const Bytes bytes = hexBytes(GetParam().record);
    const auto record = parseRecord(bytes, 0);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->tag(), GetParam().tag);
    EXPECT_EQ(record->statusWord(), GetParam().statusWord);
}

INSTANTIATE_TEST_SUITE_P(Types, ParsedRecord, testing::Values(
    RecordIdentity{"40 02 01 00", 0x40, std::nullopt},
    RecordIdentity{"44 02 34 12", 0x44, 0x1234},
    RecordIdentity{"4C 03 82 6A 02", 0x4C, 0x6A82},
    RecordIdentity{"4E 04 01 00 00 00", 0x4E, std::nullopt},
    RecordIdentity{"64 04 50 02 34 12", 0x64, 0x1234},
    RecordIdentity{"66 10 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", 0x66, std::nullopt},
    RecordIdentity{"C1 00", 0xC1, std::nullopt},
    RecordIdentity{"7F 01 AB", 0x00, std::nullopt},
    RecordIdentity{"42 03 00 90 01", 0x00, std::nullopt}),
    [](const auto& info) { return caseName("Record", info.param.record); });

TEST(ParseRecord, ReadsAtThePositionAndNothingPastTheEnd)
{
    const Bytes bytes = hexBytes("40 02 01 00 44 02 00 90");
    EXPECT_EQ(parseRecord(bytes, 4)->tag(), 0x44);
    EXPECT_FALSE(parseRecord(bytes, 7).has_value());
    EXPECT_FALSE(parseRecord(bytes, 8).has_value());
    EXPECT_FALSE(parseRecord(bytes, 100).has_value());
}

}  // namespace
