#include "journal/journalRecords.h"

#include "pcscWrapper/tlv.h"
#include "utils/hexText.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <initializer_list>
#include <iterator>
#include <sstream>
#include <string_view>

namespace {

using RecordPtr = std::unique_ptr<JournalRecord>;
using Hash = std::array<uint8_t, 4>;

// Reads the fields of one record value front to back. A read beyond the value
// yields zeros and marks the value as not covered, so no parser can step out
// of its record, and the record is then rejected as broken.
class ValueReader {
public:
    explicit ValueReader(ByteView value) : value_(value) {}

    size_t remaining() const { return value_.size() - position_; }
    bool atEnd() const { return remaining() == 0; }
    bool coveredExactly() const { return !overrun_ && atEnd(); }

    ByteView whole()
    {
        position_ = value_.size();
        return value_;
    }

    ByteView take(size_t count)
    {
        if (count > remaining()) {
            overrun_ = true;
            position_ = value_.size();
            return {};
        }
        const ByteView bytes = value_.subspan(position_, count);
        position_ += count;
        return bytes;
    }

    uint8_t byte() { return static_cast<uint8_t>(::bigEndian(take(1))); }
    uint16_t be16() { return static_cast<uint16_t>(::bigEndian(take(2))); }
    uint16_t le16() { return static_cast<uint16_t>(::littleEndian(take(2))); }
    uint32_t le32() { return static_cast<uint32_t>(::littleEndian(take(4))); }
    uint64_t be64() { return ::bigEndian(take(8)); }

    Hash hash()
    {
        Hash hash{};
        const ByteView bytes = take(hash.size());
        std::copy(bytes.begin(), bytes.end(), hash.begin());
        return hash;
    }

private:
    ByteView value_;
    size_t position_ = 0;
    bool overrun_ = false;
};

// ---- Text pieces shared by the record types ----

// "0x9000"; zero is written as a bare 0, as stream formatting does.
std::string prefixedHex(unsigned value)
{
    return value == 0 ? "0" : "0x" + lowerHex(value, 1);
}

void writeStatusWord(std::ostream& text, uint16_t sw)
{
    text << "SW-код операции: " << prefixedHex(sw) << "\n";
}

void writeHash(std::ostream& text, std::string_view label, const std::optional<Hash>& hash)
{
    if (hash)
        text << label << ": " << hexDigits(*hash) << "\n";
}

void writeUptime(std::ostream& text, uint32_t seconds)
{
    text << "Время работы токена от начала запуска: " << seconds << " с\n";
}

struct AuthenticationName {
    uint8_t type;
    std::string_view name;
};

constexpr AuthenticationName kAuthenticationNames[] = {
    {0x00, "без аутентификации"},
    {0x02, "PIN-код Пользователя"},
    {0x04, "Локальный PIN-код / MVA /Сложное правило"},
    {0x06, "PIN-код Пользователя и (Локальный PIN-код / MVA /Сложное правило)"},
    {0x08, "Аутентификация по ключу"},
    {0x10, "PIN-код Пользователя и Аутентификация по ключу"},
};

void printAuthenticationType(std::ostream& text, uint8_t type)
{
    text << "Тип аутентификации: ";
    const auto known = std::find_if(std::begin(kAuthenticationNames), std::end(kAuthenticationNames),
                                    [type](const AuthenticationName& n) { return n.type == type; });
    if (known == std::end(kAuthenticationNames))
        text << unsigned{type};
    else
        text << known->name;
    text << "\n";
}

// The span of times the token's calendar conversion has always covered
// (1969-12-31 12:00:00 to 3001-01-19 21:59:59 UTC); a time outside it is
// written as the raw number so that a corrupt clock value stays visible.
constexpr int64_t kEarliestConvertible = -43'200;
constexpr int64_t kLatestConvertible = 32'536'850'399;

std::string systemTimeText(uint64_t raw)
{
    const auto seconds = static_cast<int64_t>(raw);
    if (seconds < kEarliestConvertible || seconds > kLatestConvertible)
        return std::to_string(raw);
    const std::time_t time = seconds;
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%d/%m/%Y %H:%M:%S UTC+0", &utc);
    return text;
}

// ---- The record types ----

std::string_view titleOf(uint8_t tag);
std::string_view objectLabelOf(uint8_t tag);

class UnknownRecord final : public JournalRecord {
public:
    UnknownRecord(uint8_t tag, ByteView value) : tag_(tag), value_(value.begin(), value.end()) {}

    std::string toString() const override
    {
        std::ostringstream text;
        text << "Неизвестный тип записи\n"
             << "Тег: " << prefixedHex(tag_) << "\n"
             << "Данные: " << hexDigits(value_) << "\n";
        return text.str();
    }
    uint8_t tag() const override { return 0; }
    std::optional<uint16_t> statusWord() const override { return std::nullopt; }

private:
    uint8_t tag_;
    Bytes value_;
};

RecordPtr unknownRecord(uint8_t tag, ValueReader& value)
{
    return std::make_unique<UnknownRecord>(tag, value.whole());
}

class JournalVersion final : public JournalRecord {
public:
    static constexpr uint8_t kTag = 0x40;
    JournalVersion(uint8_t major, uint8_t minor) : major_(major), minor_(minor) {}

    std::string toString() const override
    {
        std::ostringstream text;
        text << titleOf(kTag) << " " << unsigned{major_} << "." << unsigned{minor_} << "\n";
        return text.str();
    }
    uint8_t tag() const override { return kTag; }
    std::optional<uint16_t> statusWord() const override { return std::nullopt; }

private:
    uint8_t major_;
    uint8_t minor_;
};

// What an operation record may carry besides its status word; a field is
// absent when the record's length leaves it out.
struct OperationFields {
    uint16_t sw = 0;
    std::optional<uint8_t> sectionId;
    std::optional<uint8_t> authenticationType;
    std::optional<uint16_t> objectId;
    std::optional<Hash> keyHash;
    std::optional<uint32_t> uptime;
    std::optional<uint8_t> remainingAttempts;
};

// The operation types differ only in tag, title and the fields their lengths
// carry; the fields always appear in this order.
template <uint8_t Tag>
class OperationRecord final : public JournalRecord {
public:
    static constexpr uint8_t kTag = Tag;
    explicit OperationRecord(const OperationFields& fields) : fields_(fields) {}

    std::string toString() const override
    {
        std::ostringstream text;
        text << titleOf(Tag) << "\n";
        writeStatusWord(text, fields_.sw);
        if (fields_.sectionId)
            text << "Идентификатор раздела: " << unsigned{*fields_.sectionId} << "\n";
        if (fields_.authenticationType)
            printAuthenticationType(text, *fields_.authenticationType);
        if (fields_.objectId)
            text << objectLabelOf(Tag) << ": " << *fields_.objectId << "\n";
        writeHash(text, "Первые 4 байта от хеша открытого ключа", fields_.keyHash);
        if (fields_.uptime)
            writeUptime(text, *fields_.uptime);
        if (fields_.remainingAttempts)
            text << "Счетчик числа оставшихся попыток доступа: " << unsigned{*fields_.remainingAttempts} << "\n";
        return text.str();
    }
    uint8_t tag() const override { return Tag; }
    std::optional<uint16_t> statusWord() const override { return fields_.sw; }

private:
    OperationFields fields_;
};

using PrivateKeyImport = OperationRecord<0x41>;
using KeyPairGeneration = OperationRecord<0x42>;
using PrivateKeyDeletion = OperationRecord<0x43>;
using OperationCompletion = OperationRecord<kOperationCompletionTag>;
using ImportValue2Mva = OperationRecord<0x46>;
using DeleteValueInMva = OperationRecord<0x47>;
using UserPinChange = OperationRecord<0x48>;
using LocalPinImport = OperationRecord<0x49>;
using PinUnlock = OperationRecord<0x4A>;
using SuccessSectionOpen = OperationRecord<0x4B>;
using FailedAuthentication = OperationRecord<0x4C>;
using Format = OperationRecord<0x4D>;

class TokenReconnecting final : public JournalRecord {
public:
    static constexpr uint8_t kTag = 0x4E;
    explicit TokenReconnecting(uint32_t connections) : connections_(connections) {}

    std::string toString() const override
    {
        std::ostringstream text;
        text << titleOf(kTag) << "\n"
             << "Счётчик подключений: " << connections_ << "\n";
        return text.str();
    }
    uint8_t tag() const override { return kTag; }
    std::optional<uint16_t> statusWord() const override { return std::nullopt; }

private:
    uint32_t connections_;
};

struct Fkc2Fields {
    uint16_t sw = 0;
    std::optional<Hash> containerNameHash;
    std::optional<Hash> firstKeyHash;
    std::optional<Hash> secondKeyHash;
};

// Container operations of the ФКН2 records; their value is a small
// tag/length sequence of its own.
template <uint8_t Tag>
class Fkc2Record final : public JournalRecord {
public:
    static constexpr uint8_t kTag = Tag;
    explicit Fkc2Record(const Fkc2Fields& fields) : fields_(fields) {}

    std::string toString() const override
    {
        std::ostringstream text;
        text << titleOf(Tag) << "\n";
        writeStatusWord(text, fields_.sw);
        writeHash(text, "Первые 4 байта хеша имени контейнера", fields_.containerNameHash);
        writeHash(text, "Первые 4 байта хеша открытого ключа 1-ой пары ключей", fields_.firstKeyHash);
        writeHash(text, "Первые 4 байта хеша открытого ключа 2-ой пары ключей", fields_.secondKeyHash);
        return text.str();
    }
    uint8_t tag() const override { return Tag; }
    std::optional<uint16_t> statusWord() const override { return fields_.sw; }

private:
    Fkc2Fields fields_;
};

using Fkc2KeyPairGeneration = Fkc2Record<0x64>;
using Fkc2ContainerDeletion = Fkc2Record<0x65>;

class Time final : public JournalRecord {
public:
    static constexpr uint8_t kTag = 0x66;
    Time(uint64_t systemTime, uint32_t uptime) : systemTime_(systemTime), uptime_(uptime) {}

    std::string toString() const override
    {
        std::ostringstream text;
        text << titleOf(kTag) << "\n"
             << "Системное время: " << systemTimeText(systemTime_) << "\n";
        writeUptime(text, uptime_);
        return text.str();
    }
    uint8_t tag() const override { return kTag; }
    std::optional<uint16_t> statusWord() const override { return std::nullopt; }

private:
    uint64_t systemTime_;
    uint32_t uptime_;
};

// Host details the token was given; the bytes are written as they stand.
template <uint8_t Tag>
class TextRecord final : public JournalRecord {
public:
    static constexpr uint8_t kTag = Tag;
    explicit TextRecord(ByteView text) : text_(text.begin(), text.end()) {}

    std::string toString() const override { return std::string(titleOf(Tag)) + ": " + text_ + "\n"; }
    uint8_t tag() const override { return Tag; }
    std::optional<uint16_t> statusWord() const override { return std::nullopt; }

private:
    std::string text_;
};

using UserNameInSystem = TextRecord<0xC1>;
using DomainName = TextRecord<0xC2>;
using OperationSystemVersion = TextRecord<0xC3>;
using DeviceName = TextRecord<0xC4>;

// ---- Reading the values ----
// The record's length has been checked against its type before a parser runs.

RecordPtr parseJournalVersion(ValueReader& value)
{
    const uint8_t major = value.byte();
    return std::make_unique<JournalVersion>(major, value.byte());
}

// Status word, then an object id and a key hash when the length carries them.
template <class Record>
RecordPtr parseOperation(ValueReader& value)
{
    OperationFields fields;
    fields.sw = value.le16();
    if (!value.atEnd())
        fields.objectId = value.be16();
    if (!value.atEnd())
        fields.keyHash = value.hash();
    return std::make_unique<Record>(fields);
}

constexpr uint8_t kLocalPinOrMva = 0x04;
constexpr uint8_t kKeyAuthentication = 0x08;

// A local PIN / MVA unlock names its object; for other types the record ends
// after the authentication type.
RecordPtr parsePinUnlock(ValueReader& value)
{
    OperationFields fields;
    fields.sw = value.le16();
    if (!value.atEnd()) {
        fields.authenticationType = value.byte();
        if (*fields.authenticationType == kLocalPinOrMva) {
            if (value.atEnd())
                return unknownRecord(PinUnlock::kTag, value);
            fields.objectId = value.be16();
        }
    }
    return std::make_unique<PinUnlock>(fields);
}

RecordPtr parseSectionOpen(ValueReader& value)
{
    OperationFields fields;
    fields.sw = value.le16();
    if (!value.atEnd()) {
        fields.sectionId = value.byte();
        fields.authenticationType = value.byte();
        if (value.remaining() > 4)
            fields.objectId = value.be16();
        fields.uptime = value.le32();
    }
    return std::make_unique<SuccessSectionOpen>(fields);
}

// Authentication by local PIN / MVA or by key names its object; the lengths
// that end on an odd byte add the attempts left.
RecordPtr parseFailedAuthentication(ValueReader& value)
{
    OperationFields fields;
    fields.sw = value.le16();
    fields.authenticationType = value.byte();
    if (fields.authenticationType == kLocalPinOrMva || fields.authenticationType == kKeyAuthentication) {
        if (value.remaining() < 2)
            return unknownRecord(FailedAuthentication::kTag, value);
        fields.objectId = value.be16();
    }
    if (value.remaining() == 1)
        fields.remainingAttempts = value.byte();
    return std::make_unique<FailedAuthentication>(fields);
}

RecordPtr parseTokenReconnecting(ValueReader& value)
{
    return std::make_unique<TokenReconnecting>(value.le32());
}

struct Fkc2Item {
    uint8_t tag;
    uint8_t length;
    bool required;
    std::optional<Hash> Fkc2Fields::*hash;  // none for the status word
};

constexpr Fkc2Item kFkc2Items[] = {
    {0x50, 2, true, nullptr},
    {0x51, 4, false, &Fkc2Fields::containerNameHash},
    {0x01, 4, false, &Fkc2Fields::firstKeyHash},
    {0x02, 4, false, &Fkc2Fields::secondKeyHash},
};

// Each item at most once, the status word exactly once; anything else leaves
// the record unreadable but its frame intact.
template <class Record>
RecordPtr parseFkc2(ValueReader& value)
{
    const TlvSequence items = parseTlv(value.whole(), TlvLengths::OneByte);
    if (!items.complete)
        return unknownRecord(Record::kTag, value);
    Fkc2Fields fields;
    std::array<int, std::size(kFkc2Items)> seen{};
    for (const Tlv& found : items.objects) {
        const auto item = std::find_if(std::begin(kFkc2Items), std::end(kFkc2Items),
                                       [&found](const Fkc2Item& i) { return i.tag == found.tag; });
        if (item == std::end(kFkc2Items) || item->length != found.value.size())
            return unknownRecord(Record::kTag, value);
        ++seen[item - std::begin(kFkc2Items)];
        ValueReader itemValue(found.value);
        if (item->hash)
            fields.*(item->hash) = itemValue.hash();
        else
            fields.sw = itemValue.le16();
    }
    for (size_t i = 0; i < seen.size(); ++i)
        if (seen[i] > 1 || (kFkc2Items[i].required && seen[i] == 0))
            return unknownRecord(Record::kTag, value);
    return std::make_unique<Record>(fields);
}

constexpr uint8_t kSystemTimeItem = 0xC5;
constexpr uint8_t kUptimeItem = 0xC6;

// Items other than the two clocks are skipped as bare tag and length. A clock
// item of the wrong size, or items that overrun the value, break the journal.
RecordPtr parseTime(ValueReader& value)
{
    uint64_t systemTime = 0;
    uint32_t uptime = 0;
    while (value.remaining() >= 2) {
        const uint8_t tag = value.byte();
        const uint8_t length = value.byte();
        if (tag == kSystemTimeItem) {
            if (length != 8)
                return nullptr;
            systemTime = value.be64();
        } else if (tag == kUptimeItem) {
            if (length != 4)
                return nullptr;
            uptime = value.le32();
        }
    }
    return std::make_unique<Time>(systemTime, uptime);
}

template <class Record>
RecordPtr parseText(ValueReader& value)
{
    return std::make_unique<Record>(value.whole());
}

// ---- The record types by tag ----

// Value lengths a type accepts: the listed ones, or every length from a minimum.
struct Lengths {
    uint32_t listed = 0;
    unsigned anyFrom = 256;

    bool accept(uint8_t length) const { return length >= anyFrom || (length < 32 && (listed >> length & 1)); }
};

constexpr Lengths only(std::initializer_list<unsigned> lengths)
{
    Lengths accepted;
    for (unsigned length : lengths)
        accepted.listed |= 1u << length;
    return accepted;
}

constexpr Lengths from(unsigned minimum) { return Lengths{.anyFrom = minimum}; }

struct RecordKind {
    uint8_t tag;
    Lengths lengths;
    RecordPtr (*parse)(ValueReader&);
    std::string_view title;
    bool needsCompletion = false;
    std::string_view objectLabel = "ID объекта";
};

constexpr RecordKind kRecordKinds[] = {
    {JournalVersion::kTag, only({2}), parseJournalVersion, "Версия журнала"},
    {PrivateKeyImport::kTag, only({4, 8}), parseOperation<PrivateKeyImport>, "Импорт закрытого ключа", true},
    {KeyPairGeneration::kTag, only({2, 4, 8}), parseOperation<KeyPairGeneration>, "Генерация ключевой пары", true},
    {PrivateKeyDeletion::kTag, only({4, 8}), parseOperation<PrivateKeyDeletion>, "Удаление закрытого ключа", true},
    {OperationCompletion::kTag, only({2}), parseOperation<OperationCompletion>, "Тэг завершения операции"},
    {ImportValue2Mva::kTag, only({4}), parseOperation<ImportValue2Mva>,
     "Импорт свертки СВТ в многозначный аутентификатор", true, "ID объекта MVA"},
    {DeleteValueInMva::kTag, only({4}), parseOperation<DeleteValueInMva>,
     "Удаление свертки СВТ из многозначного аутентификатора", true, "ID объекта MVA"},
    {UserPinChange::kTag, only({2}), parseOperation<UserPinChange>, "Смена PIN Пользователя", true},
    {LocalPinImport::kTag, only({4}), parseOperation<LocalPinImport>, "Импорт локального PIN", true},
    {PinUnlock::kTag, only({2, 3, 5}), parsePinUnlock, "Разблокировка PIN-кода"},
    {SuccessSectionOpen::kTag, only({2, 8, 10}), parseSectionOpen, "Успешное открытие раздела"},
    {FailedAuthentication::kTag, only({3, 4, 5, 6}), parseFailedAuthentication, "Неуспешная аутентификация"},
    {Format::kTag, only({2}), parseOperation<Format>, "Форматирование"},
    {TokenReconnecting::kTag, only({4}), parseTokenReconnecting, "Переподключение токена"},
    {Fkc2KeyPairGeneration::kTag, from(1), parseFkc2<Fkc2KeyPairGeneration>, "Генерация ключевой пары ФКН2", true},
    {Fkc2ContainerDeletion::kTag, from(1), parseFkc2<Fkc2ContainerDeletion>, "Удаление контейнера ФКН2", true},
    {Time::kTag, only({16}), parseTime, "Время"},
    {UserNameInSystem::kTag, from(0), parseText<UserNameInSystem>, "Имя пользователя в системе"},
    {DomainName::kTag, from(0), parseText<DomainName>, "Доменное имя"},
    {OperationSystemVersion::kTag, from(0), parseText<OperationSystemVersion>, "Версия ОС"},
    {DeviceName::kTag, from(0), parseText<DeviceName>, "Имя устройства"},
};

const RecordKind* findKind(uint8_t tag)
{
    const auto kind = std::find_if(std::begin(kRecordKinds), std::end(kRecordKinds),
                                   [tag](const RecordKind& k) { return k.tag == tag; });
    return kind == std::end(kRecordKinds) ? nullptr : kind;
}

// Only the record types themselves ask, always with a tag of the table.
std::string_view titleOf(uint8_t tag) { return findKind(tag)->title; }
std::string_view objectLabelOf(uint8_t tag) { return findKind(tag)->objectLabel; }

}  // namespace

bool operationNeedsCompletion(uint8_t tag)
{
    const RecordKind* kind = findKind(tag);
    return kind && kind->needsCompletion;
}

std::unique_ptr<JournalRecord> parseRecord(ByteView journal, size_t position)
{
    if (position >= journal.size() || journal.size() - position < 2)
        return nullptr;
    const uint8_t tag = journal[position];
    const uint8_t length = journal[position + 1];
    const ByteView rest = journal.subspan(position + 2);
    if (rest.size() < length)
        return nullptr;

    ValueReader value(rest.first(length));
    const RecordKind* kind = findKind(tag);
    if (!kind || !kind->lengths.accept(length))
        return unknownRecord(tag, value);
    auto record = kind->parse(value);
    return value.coveredExactly() ? std::move(record) : nullptr;
}
