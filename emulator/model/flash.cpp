#include "flash.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <utility>

namespace kvtoken {

namespace {

constexpr size_t maxSections = 8;
constexpr size_t descriptionSize = 20;
constexpr uint8_t descriptionTag = 0x80;
constexpr uint32_t minJournalSize = 500;
constexpr uint8_t encryptedBit = 0x40;
constexpr uint8_t journalEventsCode = 0x01;
constexpr uint8_t journalTypeCode = 0x04;
// Size multipliers by the code in bits 3-4 of the access byte.
constexpr std::array<uint32_t, 4> multipliers = {1, 8, 16, 32};
constexpr std::array<uint8_t, 6> operations = {
    operation::temporaryNone,  operation::temporaryReadOnly, operation::temporaryReadWrite,
    operation::permanentNone, operation::permanentReadable, operation::permanentCdRom,
};

bool validState(uint8_t state)
{
    return state == access::none || state == access::readOnly || state == access::readWrite || state == access::cdRom;
}

uint8_t operationOf(bool permanent, uint8_t state)
{
    switch (state) {
    case access::none:
        return permanent ? operation::permanentNone : operation::temporaryNone;
    case access::readOnly:
        return permanent ? operation::permanentReadable : operation::temporaryReadOnly;
    case access::readWrite:
        return permanent ? operation::permanentReadable : operation::temporaryReadWrite;
    default:
        return operation::permanentCdRom;
    }
}

// The smallest multiplier whose count fits 16 bits and measures the size
// exactly.
std::optional<size_t> multiplierCode(uint32_t size)
{
    for (size_t code = 0; code < multipliers.size(); ++code)
        if (size % multipliers[code] == 0 && size / multipliers[code] <= 0xFFFF)
            return code;
    return std::nullopt;
}

uint8_t typeCode(SectionType type)
{
    if (type == SectionType::JournalEvents)
        return journalEventsCode;
    return type == SectionType::JournalType ? journalTypeCode : 0x00;
}

// A journal section can only ever be shown read-only for a while: every
// other switch carries a rule and is forbidden.
void checkJournalRules(const FlashSection& section)
{
    for (uint8_t op : operations) {
        const auto rule = section.rules.find(op);
        if (op == operation::temporaryReadOnly) {
            if (rule != section.rules.end() && rule->second.forbidden())
                throw std::invalid_argument("a journal section must allow the temporary switch to read-only");
        } else if (rule == section.rules.end() || !rule->second.forbidden()) {
            throw std::invalid_argument("a journal section forbids every switch but the temporary one to read-only");
        }
    }
    if (section.size < minJournalSize)
        throw std::invalid_argument("a journal section has at least 500 units");
}

FlashSection parseDescription(const uint8_t* value)
{
    FlashSection section;
    section.number = value[0];
    const uint8_t accessByte = value[1];
    section.access = accessByte & 0x07;
    if (accessByte & 0xA0)
        throw std::invalid_argument("unknown bits in the access byte");
    const uint32_t count = static_cast<uint32_t>(value[2] << 8 | value[3]);
    section.size = multipliers[(accessByte >> 3) & 0x03] * count;
    if (value[4] == journalEventsCode)
        section.type = SectionType::JournalEvents;
    else if (value[4] == journalTypeCode)
        section.type = SectionType::JournalType;
    else if (accessByte & encryptedBit)
        section.type = SectionType::Encrypted;
    else if (value[4] != 0)
        throw std::invalid_argument("unknown section type");
    for (size_t i = 0; i < operations.size(); ++i)
        if (value[5] & operations[i])
            section.rules[operations[i]] = {value[6 + i], value[13 + i]};
    if (value[5] & 0xC0)
        throw std::invalid_argument("unknown switch operations");
    return section;
}

Reply sizeOf(uint32_t value)
{
    Bytes data;
    appendBigEndian(data, value, 4);
    return success(std::move(data));
}

}  // namespace

Bytes describeSection(const FlashSection& section)
{
    const auto code = multiplierCode(section.size);
    if (!code)
        throw std::invalid_argument("size " + std::to_string(section.size) + " has no multiplier of 1, 8, 16 or 32");
    Bytes description(descriptionSize, 0x00);
    description[0] = section.number;
    description[1] = static_cast<uint8_t>(*code << 3 | section.currentAccess() |
                                          (section.type == SectionType::Encrypted ? encryptedBit : 0));
    const uint32_t count = section.size / multipliers[*code];
    description[2] = static_cast<uint8_t>(count >> 8);
    description[3] = static_cast<uint8_t>(count);
    description[4] = typeCode(section.type);
    for (size_t i = 0; i < operations.size(); ++i) {
        const auto rule = section.rules.find(operations[i]);
        if (rule == section.rules.end())
            continue;
        description[5] |= operations[i];
        description[6 + i] = rule->second.condition;
        description[13 + i] = rule->second.secret;
    }
    return description;
}

void checkSection(const FlashSection& section)
{
    if (section.number < 1 || section.number > maxSections)
        throw std::invalid_argument("section numbers run from 1 to 8");
    if (!validState(section.access))
        throw std::invalid_argument("access states are 0, 1, 3 and 5");
    if (section.size == 0 || !multiplierCode(section.size))
        throw std::invalid_argument("a size is 1 to 65535 units, or a multiple of 8, 16 or 32 up to 32 x 65535");
    for (const auto& [op, rule] : section.rules)
        if (!rule.forbidden() && ((rule.condition & 0xF0) || (rule.condition & 0x0C) == 0x0C))
            throw std::invalid_argument("a condition byte is FF or bits 0-3, never bits 2 and 3 together");
    if (section.isJournal()) {
        checkJournalRules(section);
        if (section.access != access::none)
            throw std::invalid_argument("a journal section has no access of its own");
    }
}

FlashMemory::FlashMemory(FlashProfile profile) : profile_(std::move(profile))
{
}

Reply FlashMemory::execute(const CommandApdu& command, const LoginCheck& loggedIn)
{
    struct Entry {
        uint8_t p1;
        uint8_t p2;
        Reply (FlashMemory::*handle)(const CommandApdu&, const LoginCheck&);
    };
    static const Entry commands[] = {
        {0x10, 0x00, &FlashMemory::split},        {0x11, 0x00, &FlashMemory::describe},
        {0x11, 0x01, &FlashMemory::changeAccess}, {0x11, 0x02, &FlashMemory::changeAccess},
        {0x12, 0x00, &FlashMemory::totalSize},    {0x14, 0x00, &FlashMemory::restart},
    };
    for (const auto& entry : commands)
        if (entry.p1 == command.p1 && entry.p2 == command.p2)
            return (this->*entry.handle)(command, loggedIn);
    return status(sw::badP1P2);
}

void FlashMemory::powerCycle()
{
    for (auto& section : profile_.sections)
        section.temporaryAccess.reset();
}

bool FlashMemory::takeRestartRequest()
{
    return std::exchange(restartRequested_, false);
}

bool FlashMemory::journalReadable() const
{
    return std::any_of(profile_.sections.begin(), profile_.sections.end(), [](const FlashSection& section) {
        return section.type == SectionType::JournalEvents && section.currentAccess() != access::none;
    });
}

FlashSection* FlashMemory::section(uint8_t number)
{
    const auto found = std::find_if(profile_.sections.begin(), profile_.sections.end(),
                                    [number](const FlashSection& section) { return section.number == number; });
    return found == profile_.sections.end() ? nullptr : &*found;
}

namespace {

// The sections of a split request, or none when its elements are not
// 80 14 and a description each.
std::optional<std::vector<FlashSection>> requestedSections(const Bytes& data)
{
    std::vector<FlashSection> requested;
    try {
        for (size_t at = 0; at < data.size(); at += 2 + descriptionSize) {
            if (data.size() - at < 2 + descriptionSize || data[at] != descriptionTag || data[at + 1] != descriptionSize)
                return std::nullopt;
            requested.push_back(parseDescription(&data[at + 2]));
        }
    } catch (const std::invalid_argument&) {
        return std::nullopt;
    }
    return requested;
}

// Why the device refuses the requested sections, or 9000: it makes only
// ordinary sections and one journal events section, numbered 1, 2, 3...
uint16_t refusalOf(const std::vector<FlashSection>& requested, bool journalExists)
{
    for (size_t i = 0; i < requested.size(); ++i) {
        const FlashSection& section = requested[i];
        if (section.type == SectionType::JournalType || section.type == SectionType::Encrypted)
            return sw::notSupported;
        const bool isJournal = section.type == SectionType::JournalEvents;
        if (section.number != i + 1 || (isJournal && journalExists))
            return sw::badData;
        journalExists = journalExists || isJournal;
        try {
            checkSection(section);
        } catch (const std::invalid_argument&) {
            return sw::badData;
        }
    }
    return sw::ok;
}

}  // namespace

// The requested sections replace the ordinary ones; the journal and
// encrypted sections stay, numbered after them (a new journal events
// section joins them). The journal sections' space is taken from the total;
// an encrypted section has its own.
Reply FlashMemory::split(const CommandApdu& command, const LoginCheck&)
{
    if (!command.data || command.data->empty())
        return status(sw::wrongLength);
    auto requested = requestedSections(*command.data);
    if (!requested)
        return status(sw::badData);
    std::vector<FlashSection> kept;
    std::copy_if(profile_.sections.begin(), profile_.sections.end(), std::back_inserter(kept),
                 [](const FlashSection& section) { return section.type != SectionType::Ordinary; });
    const bool journalExists = std::any_of(kept.begin(), kept.end(), [](const FlashSection& section) {
        return section.type == SectionType::JournalEvents;
    });
    if (const uint16_t refused = refusalOf(*requested, journalExists); refused != sw::ok)
        return status(refused);
    std::copy_if(requested->begin(), requested->end(), std::back_inserter(kept),
                 [](const FlashSection& section) { return section.type == SectionType::JournalEvents; });
    std::erase_if(*requested, [](const FlashSection& section) { return section.type == SectionType::JournalEvents; });
    if (requested->size() + kept.size() > maxSections)
        return status(sw::badData);
    uint64_t needed = 0;
    for (const auto& section : *requested)
        needed += section.size;
    for (const auto& section : kept)
        needed += section.isJournal() ? section.size : 0;
    if (needed > profile_.totalSize)
        return status(sw::notEnoughMemory);
    for (auto& section : kept)
        section.number = static_cast<uint8_t>(requested->size() + 1 + (&section - kept.data()));
    requested->insert(requested->end(), kept.begin(), kept.end());
    profile_.sections = std::move(*requested);
    return status(sw::ok);
}

Reply FlashMemory::describe(const CommandApdu& command, const LoginCheck&)
{
    if (command.data)
        return status(sw::wrongLength);
    std::vector<const FlashSection*> ordered;
    for (const auto& section : profile_.sections)
        ordered.push_back(&section);
    std::sort(ordered.begin(), ordered.end(), [](auto a, auto b) { return a->number < b->number; });
    Bytes data;
    for (const FlashSection* section : ordered) {
        data.insert(data.end(), {descriptionTag, static_cast<uint8_t>(descriptionSize)});
        const Bytes description = describeSection(*section);
        data.insert(data.end(), description.begin(), description.end());
    }
    return success(std::move(data));
}

// Why the device refuses a switch, or 9000.
uint16_t FlashMemory::refusal(const FlashSection& target, bool permanent, uint8_t state,
                              const LoginCheck& loggedIn) const
{
    if (target.isJournal()) {
        if (permanent || state != access::readOnly)
            return sw::conditionsNotSatisfied;
        const bool encryptedOpen =
            std::any_of(profile_.sections.begin(), profile_.sections.end(), [](const FlashSection& s) {
                return s.type == SectionType::Encrypted &&
                       (s.currentAccess() == access::readOnly || s.currentAccess() == access::readWrite);
            });
        if (encryptedOpen)
            return sw::conditionsNotSatisfied;
    }
    const auto rule = target.rules.find(operationOf(permanent, state));
    if (rule == target.rules.end())
        return sw::ok;
    if (rule->second.forbidden())
        return sw::conditionsNotSatisfied;
    const bool asksForLogin = (rule->second.condition & 0x0F) != 0;
    return !asksForLogin || loggedIn(rule->second) ? sw::ok : sw::securityNotSatisfied;
}

Reply FlashMemory::changeAccess(const CommandApdu& command, const LoginCheck& loggedIn)
{
    if (!command.data || command.data->size() != 4)
        return status(sw::wrongLength);
    const Bytes& data = *command.data;
    const bool permanent = command.p2 == 0x02;
    const uint8_t state = data[3];
    if (data[0] != 0x82 || data[1] != 0x02 || !validState(state) || (state == access::cdRom && !permanent))
        return status(sw::badData);
    FlashSection* target = section(data[2]);
    if (!target)
        return status(sw::fileNotFound);
    if (const uint16_t refused = refusal(*target, permanent, state, loggedIn); refused != sw::ok)
        return status(refused);
    if (permanent) {
        target->access = state;
        target->temporaryAccess.reset();
    } else {
        target->temporaryAccess = state;
    }
    return status(sw::ok);
}

Reply FlashMemory::totalSize(const CommandApdu& command, const LoginCheck&)
{
    return command.data ? status(sw::wrongLength) : sizeOf(profile_.totalSize);
}

Reply FlashMemory::restart(const CommandApdu& command, const LoginCheck&)
{
    if (command.data)
        return status(sw::wrongLength);
    return Reply{{}, sw::ok, [this] { restartRequested_ = true; }};
}

}  // namespace kvtoken
