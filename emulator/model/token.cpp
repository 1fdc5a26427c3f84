#include "token.h"

#include "journalDrive.h"

#include <algorithm>

namespace kvtoken {

namespace {

constexpr size_t maxJournalPortion = 255;

// Bit 0 of the third feature byte: the token keeps a security journal;
// bit 2: it has flash memory that can be split into sections.
constexpr uint8_t featureJournal = 0x01;
constexpr uint8_t featureFlash = 0x04;

Reply number(uint64_t value, int byteCount)
{
    Bytes data;
    appendBigEndian(data, value, byteCount);
    return success(std::move(data));
}

Reply optionalData(const std::optional<Bytes>& data, uint16_t whenAbsent)
{
    return data ? success(*data) : status(whenAbsent);
}

}  // namespace

Token::Token(TokenProfile profile, std::optional<uint64_t> randomSeed)
    : profile_(std::move(profile)), files_(std::move(profile_.root)),
      random_(randomSeed.value_or(std::random_device{}()))
{
    if (profile_.flash)
        flash_.emplace(std::move(*profile_.flash));
}

void Token::powerOn()
{
    ++profile_.usbConnectionCounter;
    powerOff();
    poweredSince_ = std::chrono::steady_clock::now();
}

void Token::powerOff()
{
    reset();
    if (!flash_)
        return;
    flash_->powerCycle();
    updateJournalDrive();
}

bool Token::takeRestartRequest()
{
    return flash_ && flash_->takeRestartRequest();
}

void Token::reset()
{
    files_.reset();
    journalPosition_ = 0;
    rights_ = {};
    pendingHostInformation_.reset();
}

Reply Token::execute(const CommandApdu& command)
{
    // What a token must have for a command to exist on it.
    enum class Needs { nothing, journal, flash };
    struct Entry {
        uint8_t cla;
        uint8_t ins;
        Reply (Token::*handle)(const CommandApdu&);
        Needs needs;
    };
    static const Entry commands[] = {
        {0x00, 0xCA, &Token::getData, Needs::nothing},      {0x80, 0x7E, &Token::diagnose, Needs::nothing},
        {0x00, 0xA4, &Token::select, Needs::nothing},       {0x00, 0x84, &Token::getChallenge, Needs::nothing},
        {0x80, 0x71, &Token::extendedInfo, Needs::nothing}, {0x90, 0x5D, &Token::readJournal, Needs::journal},
        {0x80, 0x53, &Token::sections, Needs::flash},       {0x80, 0x40, &Token::resetAccessRights, Needs::nothing},
        {0x00, 0x20, &Token::verify, Needs::nothing},       {0x00, 0x2C, &Token::resetRetryCounter, Needs::nothing},
        {0x00, 0xE0, &Token::createFile, Needs::nothing},   {0x00, 0x24, &Token::changeReferenceData, Needs::nothing},
        {0x00, 0xE2, &Token::appendRecord, Needs::nothing}, {0x00, 0xDC, &Token::updateRecord, Needs::nothing},
        {0x00, 0x0C, &Token::eraseRecord, Needs::nothing},  {0x00, 0xDA, &Token::putData, Needs::journal},
        {0x10, 0xDA, &Token::putData, Needs::journal},
    };
    const auto present = [this](Needs needs) {
        return needs == Needs::nothing || (needs == Needs::journal ? bool(profile_.securityJournal) : bool(flash_));
    };
    for (const auto& entry : commands)
        if (entry.cla == command.cla && entry.ins == command.ins && present(entry.needs))
            return (this->*entry.handle)(command);
    const bool knownClass = std::any_of(std::begin(commands), std::end(commands),
                                        [&](const Entry& entry) { return entry.cla == command.cla; });
    return status(knownClass ? sw::unknownIns : sw::unknownCla);
}

Reply Token::getData(const CommandApdu& command)
{
    struct Entry {
        uint8_t p2;
        Reply (Token::*read)() const;
    };
    static const Entry objects[] = {
        {0x89, &Token::identity},     {0x81, &Token::serial},         {0x8A, &Token::freeMemory},
        {0x8C, &Token::hardwareData}, {0xF1, &Token::iteration},      {0x85, &Token::modelName},
        {0x32, &Token::changesCounter}, {0x34, &Token::usbCounter},   {0x01, &Token::adminPinFcp},
        {0x02, &Token::userPinFcp},
    };
    if (command.p1 != 0x01)
        return status(sw::badP1P2);
    for (const auto& entry : objects)
        if (entry.p2 == command.p2)
            return (this->*entry.read)();
    return status(sw::dataNotFound);
}

Reply Token::identity() const { return success(profile_.identity); }
Reply Token::serial() const { return number(profile_.serial, 8); }
Reply Token::freeMemory() const { return number(profile_.freeMemory, 4); }
Reply Token::hardwareData() const { return optionalData(profile_.hardwareData, sw::notSupported); }
Reply Token::changesCounter() const { return number(profile_.changesCounter, 4); }
Reply Token::usbCounter() const { return number(profile_.usbConnectionCounter, 4); }
Reply Token::adminPinFcp() const { return success(fcpOf(*profile_.adminPin)); }
Reply Token::userPinFcp() const { return success(fcpOf(*profile_.userPin)); }

Reply Token::iteration() const
{
    return profile_.iteration ? number(*profile_.iteration, 1) : status(sw::notSupported);
}

Reply Token::modelName() const
{
    if (!profile_.modelName)
        return status(sw::notSupported);
    return success(Bytes(profile_.modelName->begin(), profile_.modelName->end()));
}

Reply Token::diagnose(const CommandApdu& command)
{
    struct Entry {
        uint8_t firstP1;
        uint8_t lastP1;
        uint8_t p2;
        Reply (Token::*run)(uint8_t p1);
    };
    static const Entry functions[] = {
        {0x00, 0x00, 0x00, &Token::osChecksum},   {0x10, 0x19, 0x00, &Token::selfTest},
        {0x21, 0x23, 0x00, &Token::systemKey},    {0x31, 0x33, 0x00, &Token::checkObject},
        {0x31, 0x33, 0x01, &Token::objectReference}, {0x41, 0x41, 0x01, &Token::errorJournal},
        {0x42, 0x42, 0x01, &Token::emergencyEvent},  {0x51, 0x51, 0x01, &Token::eepromStatus},
    };
    for (const auto& entry : functions)
        if (command.p1 >= entry.firstP1 && command.p1 <= entry.lastP1 && command.p2 == entry.p2)
            return (this->*entry.run)(command.p1);
    return status(sw::badP1P2);
}

Reply Token::osChecksum(uint8_t)
{
    return profile_.firmwareDamaged ? status(sw::firmwareCorrupted) : number(profile_.firmwareChecksum, 4);
}

Reply Token::selfTest(uint8_t test)
{
    const auto failed = profile_.selfTestResults.find(test);
    return number(failed == profile_.selfTestResults.end() ? 0 : failed->second, 4);
}

Reply Token::systemKey(uint8_t key)
{
    return status(profile_.damagedSystemKeys.count(key) ? sw::wrongChecksum : sw::ok);
}

const FileNode* Token::namedObject(uint8_t object) const
{
    switch (object) {
    case 0x31:
        return profile_.adminPin.get();
    case 0x32:
        return profile_.userPin.get();
    default:
        return files_.currentFile();
    }
}

Reply Token::checkObject(uint8_t object)
{
    const FileNode* node = namedObject(object);
    if (!node)
        return status(sw::noCurrentFile);
    return node->intact() ? number(crc32(node->content), 4) : status(sw::wrongChecksum);
}

Reply Token::objectReference(uint8_t object)
{
    const FileNode* node = namedObject(object);
    return node ? number(node->reference, 4) : status(sw::noCurrentFile);
}

Reply Token::errorJournal(uint8_t)
{
    Bytes data;
    for (uint16_t counter : profile_.errorCounters)
        appendBigEndian(data, counter, 2);
    return success(std::move(data));
}

Reply Token::emergencyEvent(uint8_t)
{
    return optionalData(profile_.emergencyEvent, sw::dataNotFound);
}

Reply Token::eepromStatus(uint8_t)
{
    Bytes data;
    for (size_t index = 0; index < profile_.sectors.size(); ++index) {
        const Sector& sector = profile_.sectors[index];
        data.insert(data.end(), {0x85, 0x08});
        appendBigEndian(data, index, 2);
        appendBigEndian(data, sector.rewrites, 4);
        data.insert(data.end(), {static_cast<uint8_t>(sector.unreliable ? 0x01 : 0x00), 0x00});
    }
    return success(std::move(data));
}

Reply Token::select(const CommandApdu& command)
{
    const uint16_t selection = static_cast<uint16_t>(command.p1 << 8 | command.p2);
    switch (selection) {
    case 0x0804:
        return files_.selectByPath(command.data.value_or(Bytes{}));
    case 0x0004:
        return files_.selectFirst();
    case 0x0006:
        if (!command.data || command.data->size() != 2)
            return status(sw::badData);
        return files_.selectNext(static_cast<uint16_t>((*command.data)[0] << 8 | (*command.data)[1]));
    case 0x0304:
        return files_.selectParent();
    default:
        return status(sw::badP1P2);
    }
}

Reply Token::getChallenge(const CommandApdu& command)
{
    if (command.p1 != 0 || command.p2 != 0)
        return status(sw::badP1P2);
    if (!command.le)
        return status(sw::wrongLength);
    Bytes challenge(*command.expectedLength());
    std::uniform_int_distribution<int> byte(0, 255);
    for (auto& b : challenge)
        b = static_cast<uint8_t>(byte(random_));
    return success(std::move(challenge));
}

Reply Token::extendedInfo(const CommandApdu& command)
{
    if (command.p1 != 0 || command.p2 != 0)
        return status(sw::badP1P2);
    const auto features = static_cast<uint8_t>((profile_.securityJournal ? featureJournal : 0) |
                                               (flash_ ? featureFlash : 0));
    return success({0x40, 0x05, 0x04, 0x03, 0x00, 0x00, features});
}

Reply Token::readJournal(const CommandApdu& command)
{
    if (command.p1 != 0x01 || command.p2 != 0x00)
        return status(sw::badP1P2);
    const Bytes& journal = *profile_.securityJournal;
    if (journalPosition_ >= journal.size()) {
        // The next reader starts from the beginning again.
        journalPosition_ = 0;
        return status(sw::endOfJournal);
    }
    const size_t portion = std::min({maxJournalPortion, journal.size() - journalPosition_,
                                     command.expectedLength().value_or(maxJournalPortion)});
    const auto begin = journal.begin() + static_cast<long>(journalPosition_);
    return Reply{Bytes(begin, begin + static_cast<long>(portion)), sw::ok,
                 [this, portion] { journalPosition_ += portion; }};
}

Reply Token::sections(const CommandApdu& command)
{
    Reply reply = flash_->execute(command, [this](const ProtectRule& rule) { return satisfies(rule); });
    updateJournalDrive();
    return reply;
}

void Token::updateJournalDrive()
{
    const auto& drive = flash_->profile().journalDrive;
    if (!drive || flash_->journalReadable() == journalShown_)
        return;
    journalShown_ = !journalShown_;
    if (journalShown_)
        writeJournalFiles(*drive, profile_.securityJournal.value_or(Bytes{}), flash_->profile().journalFileSize);
    else
        removeJournalFiles(*drive);
}

Reply Token::resetAccessRights(const CommandApdu& command)
{
    if (command.p1 != 0 || command.p2 != 0)
        return status(sw::badP1P2);
    if (command.data)
        return status(sw::wrongLength);
    rights_ = {};
    return status(sw::ok);
}

}  // namespace kvtoken
