#include "journal/journalRecords.h"

#include "utils/hexText.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <initializer_list>
#include <iterator>
#include <string_view>

namespace {

using Fields = JournalRecordFields;
using Hash = Fields::Hash;

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
// Texts are appended to one buffer: a journal has about a hundred thousand
// records per megabyte, too many for a stream or a string of their own each.

void appendDecimal(std::string& text, uint64_t value)
{
    char digits[20];
    const char* end = std::to_chars(std::begin(digits), std::end(digits), value).ptr;
    text.append(digits, static_cast<size_t>(end - digits));
}

// "0x9000"; zero is written as a bare 0, as stream formatting does.
void appendPrefixedHex(std::string& text, unsigned value)
{
    if (value == 0) {
        text += '0';
        return;
    }
    char digits[8];
    const char* end = std::to_chars(std::begin(digits), std::end(digits), value, 16).ptr;
    text += "0x";
    text.append(digits, static_cast<size_t>(end - digits));
}

void appendLabel(std::string& text, std::string_view label)
{
    text += label;
    text += ": ";
}

void appendNumberLine(std::string& text, std::string_view label, uint64_t value)
{
    appendLabel(text, label);
    appendDecimal(text, value);
    text += '\n';
}

void appendStatusWord(std::string& text, uint16_t sw)
{
    appendLabel(text, "SW-код операции");
    appendPrefixedHex(text, sw);
    text += '\n';
}

void appendHash(std::string& text, std::string_view label, const std::optional<Hash>& hash)
{
    if (!hash)
        return;
    appendLabel(text, label);
    appendHexDigits(text, *hash);
    text += '\n';
}

void appendUptime(std::string& text, uint32_t seconds)
{
    appendLabel(text, "Время работы токена от начала запуска");
    appendDecimal(text, seconds);
    text += " с\n";
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

void printAuthenticationType(std::string& text, uint8_t type)
{
    appendLabel(text, "Тип аутентификации");
    const auto known = std::find_if(std::begin(kAuthenticationNames), std::end(kAuthenticationNames),
                                    [type](const AuthenticationName& n) { return n.type == type; });
    if (known == std::end(kAuthenticationNames))
        appendDecimal(text, type);
    else
        text += known->name;
    text += '\n';
}

// The span of times the token's calendar conversion has always covered
// (1969-12-31 12:00:00 to 3001-01-19 21:59:59 UTC); a time outside it is
// written as the raw number so that a corrupt clock value stays visible.
constexpr int64_t kEarliestConvertible = -43'200;
constexpr int64_t kLatestConvertible = 32'536'850'399;

void appendSystemTime(std::string& text, uint64_t raw)
{
    const auto seconds = static_cast<int64_t>(raw);
    if (seconds < kEarliestConvertible || seconds > kLatestConvertible) {
        appendDecimal(text, raw);
        return;
    }
    const std::time_t time = seconds;
    std::tm utc{};
    gmtime_r(&time, &utc);
    char calendar[40];
    text.append(calendar, std::strftime(calendar, sizeof calendar, "%d/%m/%Y %H:%M:%S UTC+0", &utc));
}

void appendUnreadable(std::string& text, uint8_t tag, ByteView value)
{
    text += "Неизвестный тип записи\n";
    appendLabel(text, "Тег");
    appendPrefixedHex(text, tag);
    text += '\n';
    appendLabel(text, "Данные");
    appendHexDigits(text, value);
    text += '\n';
}

// ---- The record types ----

// What a parser made of a record's value.
enum class ValueOutcome {
    Read,
    Unreadable,  // a known frame whose value the tool cannot read
    Broken,      // the journal cannot be cut into records beyond this point
};

struct RecordKind;
using RecordWriter = void (*)(const RecordKind& kind, const Fields& fields, std::string& text);

// Value lengths a type accepts: the listed ones, or every length from a minimum.
struct Lengths {
    uint32_t listed = 0;
    unsigned anyFrom = 256;

    bool accept(uint8_t length) const { return length >= anyFrom || (length < 32 && (listed >> length & 1)); }
};

struct RecordKind {
    uint8_t tag;
    Lengths lengths;
    ValueOutcome (*parse)(ValueReader& value, Fields& fields);
    RecordWriter write;
    std::string_view title;
    bool needsCompletion = false;
    std::string_view objectLabel = "ID объекта";
};

void writeVersion(const RecordKind& kind, const Fields& fields, std::string& text)
{
    text += kind.title;
    text += ' ';
    appendDecimal(text, fields.major);
    text += '.';
    appendDecimal(text, fields.minor);
    text += '\n';
}

// The operation types differ only in title and the fields their lengths
// carry; the fields always appear in this order.
void writeOperation(const RecordKind& kind, const Fields& fields, std::string& text)
{
    text += kind.title;
    text += '\n';
    appendStatusWord(text, fields.sw.value_or(0));
    if (fields.sectionId)
        appendNumberLine(text, "Идентификатор раздела", *fields.sectionId);
    if (fields.authenticationType)
        printAuthenticationType(text, *fields.authenticationType);
    if (fields.objectId)
        appendNumberLine(text, kind.objectLabel, *fields.objectId);
    appendHash(text, "Первые 4 байта от хеша открытого ключа", fields.keyHash);
    if (fields.uptime)
        appendUptime(text, *fields.uptime);
    if (fields.remainingAttempts)
        appendNumberLine(text, "Счетчик числа оставшихся попыток доступа", *fields.remainingAttempts);
}

void writeReconnecting(const RecordKind& kind, const Fields& fields, std::string& text)
{
    text += kind.title;
    text += '\n';
    appendNumberLine(text, "Счётчик подключений", fields.connections);
}

void writeFkc2(const RecordKind& kind, const Fields& fields, std::string& text)
{
    text += kind.title;
    text += '\n';
    appendStatusWord(text, fields.sw.value_or(0));
    appendHash(text, "Первые 4 байта хеша имени контейнера", fields.containerNameHash);
    appendHash(text, "Первые 4 байта хеша открытого ключа 1-ой пары ключей", fields.firstKeyHash);
    appendHash(text, "Первые 4 байта хеша открытого ключа 2-ой пары ключей", fields.secondKeyHash);
}

void writeTime(const RecordKind& kind, const Fields& fields, std::string& text)
{
    text += kind.title;
    text += '\n';
    appendLabel(text, "Системное время");
    appendSystemTime(text, fields.systemTime);
    text += '\n';
    appendUptime(text, fields.uptime.value_or(0));
}

// Host details the token was given; the bytes are written as they stand.
void writeText(const RecordKind& kind, const Fields& fields, std::string& text)
{
    appendLabel(text, kind.title);
    text.append(reinterpret_cast<const char*>(fields.bytes.data()), fields.bytes.size());
    text += '\n';
}

// ---- Reading the values ----
// The record's length has been checked against its type before a parser
// runs. Parsers fill the fields of the record in place: a journal has about
// a hundred thousand records per megabyte, and copying each record's fields
// around costs more than reading them.

ValueOutcome parseJournalVersion(ValueReader& value, Fields& fields)
{
    fields.major = value.byte();
    fields.minor = value.byte();
    return ValueOutcome::Read;
}

// Status word, then an object id and a key hash when the length carries them.
ValueOutcome parseOperation(ValueReader& value, Fields& fields)
{
    fields.sw = value.le16();
    if (!value.atEnd())
        fields.objectId = value.be16();
    if (!value.atEnd())
        fields.keyHash = value.hash();
    return ValueOutcome::Read;
}

constexpr uint8_t kLocalPinOrMva = 0x04;
constexpr uint8_t kKeyAuthentication = 0x08;

// A local PIN / MVA unlock names its object; for other types the record ends
// after the authentication type.
ValueOutcome parsePinUnlock(ValueReader& value, Fields& fields)
{
    fields.sw = value.le16();
    if (!value.atEnd()) {
        fields.authenticationType = value.byte();
        if (*fields.authenticationType == kLocalPinOrMva) {
            if (value.atEnd())
                return ValueOutcome::Unreadable;
            fields.objectId = value.be16();
        }
    }
    return ValueOutcome::Read;
}

ValueOutcome parseSectionOpen(ValueReader& value, Fields& fields)
{
    fields.sw = value.le16();
    if (!value.atEnd()) {
        fields.sectionId = value.byte();
        fields.authenticationType = value.byte();
        if (value.remaining() > 4)
            fields.objectId = value.be16();
        fields.uptime = value.le32();
    }
    return ValueOutcome::Read;
}

// Authentication by local PIN / MVA or by key names its object; the lengths
// that end on an odd byte add the attempts left.
ValueOutcome parseFailedAuthentication(ValueReader& value, Fields& fields)
{
    fields.sw = value.le16();
    fields.authenticationType = value.byte();
    if (fields.authenticationType == kLocalPinOrMva || fields.authenticationType == kKeyAuthentication) {
        if (value.remaining() < 2)
            return ValueOutcome::Unreadable;
        fields.objectId = value.be16();
    }
    if (value.remaining() == 1)
        fields.remainingAttempts = value.byte();
    return ValueOutcome::Read;
}

ValueOutcome parseTokenReconnecting(ValueReader& value, Fields& fields)
{
    fields.connections = value.le32();
    return ValueOutcome::Read;
}

struct Fkc2Item {
    uint8_t tag;
    uint8_t length;
    bool required;
    std::optional<Hash> Fields::*hash;  // none for the status word
};

constexpr Fkc2Item kFkc2Items[] = {
    {0x50, 2, true, nullptr},
    {0x51, 4, false, &Fields::containerNameHash},
    {0x01, 4, false, &Fields::firstKeyHash},
    {0x02, 4, false, &Fields::secondKeyHash},
};

constexpr size_t kItemHeader = 2;  // tag and length byte

// Container operations of the ФКН2 records; their value is a small
// tag/length sequence of its own. Each item at most once, the status word
// exactly once; anything else leaves the record unreadable but its frame intact.
ValueOutcome parseFkc2(ValueReader& value, Fields& fields)
{
    ValueReader items(value.whole());
    std::array<int, std::size(kFkc2Items)> seen{};
    while (!items.atEnd()) {
        if (items.remaining() < kItemHeader)
            return ValueOutcome::Unreadable;
        const uint8_t itemTag = items.byte();
        const uint8_t length = items.byte();
        const auto item = std::find_if(std::begin(kFkc2Items), std::end(kFkc2Items),
                                       [itemTag](const Fkc2Item& i) { return i.tag == itemTag; });
        if (length > items.remaining() || item == std::end(kFkc2Items) || item->length != length)
            return ValueOutcome::Unreadable;
        ++seen[item - std::begin(kFkc2Items)];
        if (item->hash)
            fields.*(item->hash) = items.hash();
        else
            fields.sw = items.le16();
    }
    for (size_t i = 0; i < seen.size(); ++i)
        if (seen[i] > 1 || (kFkc2Items[i].required && seen[i] == 0))
            return ValueOutcome::Unreadable;
    return ValueOutcome::Read;
}

constexpr uint8_t kSystemTimeItem = 0xC5;
constexpr uint8_t kUptimeItem = 0xC6;

// Items other than the two clocks are skipped as bare tag and length. A clock
// item of the wrong size, or items that overrun the value, break the journal.
ValueOutcome parseTime(ValueReader& value, Fields& fields)
{
    while (value.remaining() >= kItemHeader) {
        const uint8_t itemTag = value.byte();
        const uint8_t length = value.byte();
        if (itemTag == kSystemTimeItem) {
            if (length != 8)
                return ValueOutcome::Broken;
            fields.systemTime = value.be64();
        } else if (itemTag == kUptimeItem) {
            if (length != 4)
                return ValueOutcome::Broken;
            fields.uptime = value.le32();
        }
    }
    return ValueOutcome::Read;
}

ValueOutcome parseText(ValueReader& value, Fields& fields)
{
    fields.bytes = value.whole();
    return ValueOutcome::Read;
}

// ---- The record types by tag ----

constexpr Lengths only(std::initializer_list<unsigned> lengths)
{
    Lengths accepted;
    for (unsigned length : lengths)
        accepted.listed |= 1u << length;
    return accepted;
}

constexpr Lengths from(unsigned minimum) { return Lengths{.anyFrom = minimum}; }

constexpr RecordKind kRecordKinds[] = {
    {0x40, only({2}), parseJournalVersion, writeVersion, "Версия журнала"},
    {0x41, only({4, 8}), parseOperation, writeOperation, "Импорт закрытого ключа", true},
    {0x42, only({2, 4, 8}), parseOperation, writeOperation, "Генерация ключевой пары", true},
    {0x43, only({4, 8}), parseOperation, writeOperation, "Удаление закрытого ключа", true},
    {kOperationCompletionTag, only({2}), parseOperation, writeOperation, "Тэг завершения операции"},
    {0x46, only({4}), parseOperation, writeOperation, "Импорт свертки СВТ в многозначный аутентификатор", true,
     "ID объекта MVA"},
    {0x47, only({4}), parseOperation, writeOperation, "Удаление свертки СВТ из многозначного аутентификатора", true,
     "ID объекта MVA"},
    {0x48, only({2}), parseOperation, writeOperation, "Смена PIN Пользователя", true},
    {0x49, only({4}), parseOperation, writeOperation, "Импорт локального PIN", true},
    {0x4A, only({2, 3, 5}), parsePinUnlock, writeOperation, "Разблокировка PIN-кода"},
    {0x4B, only({2, 8, 10}), parseSectionOpen, writeOperation, "Успешное открытие раздела"},
    {0x4C, only({3, 4, 5, 6}), parseFailedAuthentication, writeOperation, "Неуспешная аутентификация"},
    {0x4D, only({2}), parseOperation, writeOperation, "Форматирование"},
    {0x4E, only({4}), parseTokenReconnecting, writeReconnecting, "Переподключение токена"},
    {0x64, from(1), parseFkc2, writeFkc2, "Генерация ключевой пары ФКН2", true},
    {0x65, from(1), parseFkc2, writeFkc2, "Удаление контейнера ФКН2", true},
    {0x66, only({16}), parseTime, writeTime, "Время"},
    {0xC1, from(0), parseText, writeText, "Имя пользователя в системе"},
    {0xC2, from(0), parseText, writeText, "Доменное имя"},
    {0xC3, from(0), parseText, writeText, "Версия ОС"},
    {0xC4, from(0), parseText, writeText, "Имя устройства"},
};

// Every record is looked up by its tag, so the lookup is one index.
constexpr uint8_t kNoKind = 0xFF;
constexpr auto kKindByTag = [] {
    std::array<uint8_t, 256> index{};
    index.fill(kNoKind);
    for (size_t i = 0; i < std::size(kRecordKinds); ++i)
        index[kRecordKinds[i].tag] = static_cast<uint8_t>(i);
    return index;
}();

const RecordKind* findKind(uint8_t tag)
{
    const uint8_t kind = kKindByTag[tag];
    return kind == kNoKind ? nullptr : &kRecordKinds[kind];
}

}  // namespace

void JournalRecord::makeUnreadable(ByteView value)
{
    readable_ = false;
    fields = {};
    fields.bytes = value;
}

void JournalRecord::appendText(std::string& text) const
{
    const RecordKind* kind = readable_ ? findKind(tag_) : nullptr;
    if (kind)
        kind->write(*kind, fields, text);
    else
        appendUnreadable(text, tag_, fields.bytes);
}

bool operationNeedsCompletion(uint8_t tag)
{
    const RecordKind* kind = findKind(tag);
    return kind && kind->needsCompletion;
}

std::optional<JournalRecord> parseRecord(ByteView journal, size_t position)
{
    if (position >= journal.size() || journal.size() - position < 2)
        return std::nullopt;
    const uint8_t tag = journal[position];
    const uint8_t length = journal[position + 1];
    const ByteView rest = journal.subspan(position + 2);
    if (rest.size() < length)
        return std::nullopt;

    ValueReader value(rest.first(length));
    std::optional<JournalRecord> record(std::in_place, tag);
    const RecordKind* kind = findKind(tag);
    const ValueOutcome outcome =
        kind && kind->lengths.accept(length) ? kind->parse(value, record->fields) : ValueOutcome::Unreadable;
    if (outcome == ValueOutcome::Unreadable)
        record->makeUnreadable(value.whole());
    if (outcome == ValueOutcome::Broken || !value.coveredExactly())
        return std::nullopt;
    return record;
}
