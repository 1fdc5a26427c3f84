// The token's logins and local secrets: VERIFY, RESET RETRY COUNTER, the
// local PINs and MVAs of the local-authentication folder with their
// records, and the host information the host writes into the journal.
#include "token.h"

#include "journalDrive.h"

#include <algorithm>
#include <map>

namespace kvtoken {

namespace {

constexpr uint8_t adminReference = 0x01;
constexpr uint8_t userReference = 0x02;
constexpr uint8_t localReference = 0x80;
constexpr uint8_t firstLocalId = 3;
constexpr uint8_t lastLocalId = 31;
// The local-authentication folder, 1000/1000/6005 from the root.
const Bytes localFolderPath = {0x10, 0x00, 0x10, 0x00, 0x60, 0x05};
constexpr size_t minLocalPin = 6;
constexpr size_t maxLocalPin = 32;
constexpr size_t maxMvaRecords = 254;
constexpr size_t maxMvaRecordSize = 249;
constexpr uint8_t moreChunks = 0x10;  // CLA of every host-information chunk but the last
// Four texts of at most 255 bytes and the 64-bit value, each with tag and length.
constexpr size_t maxHostInformation = 4 * (2 + 255) + 2 + 8;

using Items = std::map<uint8_t, Bytes>;

// Tag, length (one byte, or 81 and one byte), value, to the end; no value
// for anything else. A repeated tag keeps its first value.
std::optional<Items> tlvItems(const Bytes& data)
{
    Items items;
    size_t at = 0;
    while (at < data.size()) {
        if (data.size() - at < 2)
            return std::nullopt;
        const uint8_t tag = data[at];
        size_t length = data[at + 1];
        size_t header = 2;
        if (length == 0x81 && data.size() - at >= 3 && data.size() - at - 3 >= data[at + 2]) {
            length = data[at + 2];
            header = 3;
        }
        if (data.size() - at - header < length)
            return std::nullopt;
        items.emplace(tag, Bytes(data.begin() + static_cast<long>(at + header),
                                 data.begin() + static_cast<long>(at + header + length)));
        at += header + length;
    }
    return items;
}

uint16_t bigEndian16(const Bytes& bytes, size_t at)
{
    return static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

Reply wrongSecret(const FileNode& node)
{
    return status(static_cast<uint16_t>(sw::wrongSecret | node.remainingAttempts));
}

bool isLocalReference(uint8_t reference)
{
    const uint8_t id = reference & 0x7F;
    return (reference & localReference) && id >= firstLocalId && id <= lastLocalId;
}

bool matches(const FileNode& node, const Bytes& secret)
{
    if (node.kind == FileKind::Mva)
        return std::any_of(node.records.begin(), node.records.end(), [&](const MvaRecord& record) {
            return record.status == recordInUse && record.value == secret;
        });
    return node.pin == secret;
}

// The attempt counters of tag 85 byte 3: maximum 1..10, remaining <= maximum.
bool readAttempts(const Bytes& parameters, FileNode& node)
{
    if (parameters.size() != 6)
        return false;
    node.parameters = parameters;
    node.maxAttempts = parameters[3] >> 4;
    node.remainingAttempts = parameters[3] & 0x0F;
    return node.maxAttempts >= 1 && node.maxAttempts <= 10 && node.remainingAttempts <= node.maxAttempts;
}

bool readMvaLimits(const Items& fcp, FileNode& node)
{
    const Bytes& descriptor = fcp.at(0x82);
    const auto size = fcp.find(0x80);
    if (descriptor.size() != 4 || size == fcp.end() || size->second.size() != 2)
        return false;
    node.maxRecordSize = bigEndian16(descriptor, 2);
    const uint16_t bytes = bigEndian16(size->second, 0);
    if (node.maxRecordSize == 0 || node.maxRecordSize > maxMvaRecordSize || bytes % node.maxRecordSize != 0)
        return false;
    const size_t count = bytes / node.maxRecordSize;
    node.maxRecords = static_cast<uint8_t>(count);
    return count >= 1 && count <= maxMvaRecords;
}

// A local PIN (descriptor 10) or an MVA (14) from the FCP of CREATE FILE.
std::unique_ptr<FileNode> secretFromFcp(const Items& fcp)
{
    for (uint8_t tag : {0x82, 0x83, 0x85, 0x86})
        if (!fcp.count(tag))
            return nullptr;
    auto node = std::make_unique<FileNode>();
    const Bytes& descriptor = fcp.at(0x82);
    const Bytes& id = fcp.at(0x83);
    if (descriptor.size() < 2 || id.size() != 2 || fcp.at(0x86).size() != 15)
        return nullptr;
    node->id = bigEndian16(id, 0);
    node->accessConditions = fcp.at(0x86);
    if (node->id < firstLocalId || node->id > lastLocalId || !readAttempts(fcp.at(0x85), *node))
        return nullptr;
    if (descriptor[0] == static_cast<uint8_t>(FileKind::Rsf))
        node->kind = FileKind::Rsf;
    else if (descriptor[0] == static_cast<uint8_t>(FileKind::Mva) && readMvaLimits(fcp, *node))
        node->kind = FileKind::Mva;
    else
        return nullptr;
    return node;
}

}  // namespace

FileNode* Token::localFolder() const
{
    return files_.find(localFolderPath);
}

FileNode* Token::secretFor(uint8_t reference)
{
    if (reference == adminReference)
        return profile_.adminPin.get();
    if (reference == userReference)
        return profile_.userPin.get();
    FileNode* folder = localFolder();
    FileNode* node = folder ? folder->child(reference & 0x7F) : nullptr;
    return node && (node->kind == FileKind::Rsf || node->kind == FileKind::Mva) ? node : nullptr;
}

void Token::grant(uint8_t reference)
{
    if (reference == adminReference)
        rights_.admin = true;
    else if (reference == userReference)
        rights_.user = true;
    else
        rights_.localSecrets.insert(reference & 0x7F);
}

// Bits 0-1 of a rule name global PINs, one of which must be logged in;
// bit 2 a local PIN or MVA that must be; a complex rule or a key the token
// cannot see satisfied.
bool Token::satisfies(const ProtectRule& rule) const
{
    const uint8_t globals = rule.condition & 0x03;
    const bool globalOk = !globals || ((globals & 0x01) && rights_.admin) || ((globals & 0x02) && rights_.user);
    const bool localOk = !(rule.condition & 0x04) ||
                         (!(rule.secret & 0x80) && rights_.localSecrets.count(rule.secret & 0x7F));
    return globalOk && localOk && !(rule.condition & 0x08);
}

Reply Token::verify(const CommandApdu& command)
{
    const bool validReference = command.p2 == adminReference || command.p2 == userReference || isLocalReference(command.p2);
    if (command.p1 != 0 || !validReference)
        return status(sw::badP1P2);
    FileNode* secret = secretFor(command.p2);
    if (!secret)
        return status(sw::dataNotFound);
    if (secret->blocked())
        return status(sw::blocked);
    if (!command.data || command.data->empty())
        return wrongSecret(*secret);  // the query form: attempts left
    if (secret->kind == FileKind::Rsf && !secret->pin)
        return status(sw::conditionsNotSatisfied);
    if (!matches(*secret, *command.data)) {
        --secret->remainingAttempts;
        return wrongSecret(*secret);
    }
    secret->remainingAttempts = secret->maxAttempts;
    grant(command.p2);
    return status(sw::ok);
}

// Only the administrator unblocks, and not himself.
Reply Token::resetRetryCounter(const CommandApdu& command)
{
    if (command.p1 != 0x03 || !(command.p2 == userReference || isLocalReference(command.p2)))
        return status(sw::badP1P2);
    if (command.data)
        return status(sw::wrongLength);
    if (!rights_.admin)
        return status(sw::securityNotSatisfied);
    FileNode* secret = secretFor(command.p2);
    if (!secret)
        return status(sw::dataNotFound);
    secret->remainingAttempts = secret->maxAttempts;
    return status(sw::ok);
}

// The token creates local PINs and MVAs, in the local-authentication folder.
Reply Token::createFile(const CommandApdu& command)
{
    if (command.p1 != 0 || command.p2 != 0)
        return status(sw::badP1P2);
    if (!command.data)
        return status(sw::wrongLength);
    if (!rights_.admin)
        return status(sw::securityNotSatisfied);
    FileNode* folder = localFolder();
    if (!folder || &files_.currentFolder() != folder)
        return status(sw::conditionsNotSatisfied);
    const auto outer = tlvItems(*command.data);
    const auto fcp = outer && outer->size() == 1 && outer->count(0x62) ? tlvItems(outer->at(0x62)) : std::nullopt;
    auto node = fcp ? secretFromFcp(*fcp) : nullptr;
    if (!node)
        return status(sw::badData);
    if (folder->child(node->id))
        return status(sw::fileExists);
    const uint32_t space = uint32_t{node->maxRecordSize} * node->maxRecords;
    if (space > profile_.freeMemory)
        return status(sw::notEnoughMemory);
    profile_.freeMemory -= space;
    node->content = fcpOf(*node);
    node->reference = crc32(node->content);
    files_.makeCurrent(folder->add(std::move(node)));
    return status(sw::ok);
}

// The selected local PIN's new value: 80 02 len len A6 len value. The
// administrator, or whoever logged in with that PIN, may set it.
Reply Token::changeReferenceData(const CommandApdu& command)
{
    if (command.p1 != 0x01 || command.p2 != 0x00)
        return status(sw::badP1P2);
    if (!command.data)
        return status(sw::wrongLength);
    FileNode* pin = files_.currentFile();
    if (!pin)
        return status(sw::noCurrentFile);
    if (pin->kind != FileKind::Rsf || pin->parent != localFolder())
        return status(sw::incompatibleFile);
    if (!rights_.admin && !rights_.localSecrets.count(static_cast<uint8_t>(pin->id)))
        return status(sw::securityNotSatisfied);
    const Bytes& data = *command.data;
    const bool wellFormed = data.size() >= 6 && data[0] == 0x80 && data[1] == 0x02 && data[4] == 0xA6 &&
                            data[5] == data.size() - 6 && bigEndian16(data, 2) == data.size() - 6;
    if (!wellFormed)
        return status(sw::badData);
    const Bytes value(data.begin() + 6, data.end());
    if (value.size() < minLocalPin || value.size() > maxLocalPin)
        return status(sw::pinPolicy);
    pin->pin = value;
    pin->remainingAttempts = pin->maxAttempts;
    return status(sw::ok);
}

std::pair<FileNode*, uint16_t> Token::currentMva()
{
    FileNode* mva = files_.currentFile();
    if (!mva)
        return {nullptr, sw::noCurrentFile};
    if (mva->kind != FileKind::Mva)
        return {nullptr, sw::incompatibleFile};
    if (!rights_.admin)
        return {nullptr, sw::securityNotSatisfied};
    return {mva, sw::ok};
}

Reply Token::appendRecord(const CommandApdu& command)
{
    if (command.p1 != 0 || command.p2 != 0)
        return status(sw::badP1P2);
    const auto [mva, refused] = currentMva();
    if (!mva)
        return status(refused);
    if (!command.data || command.data->empty() || command.data->size() > mva->maxRecordSize)
        return status(sw::wrongLength);
    if (mva->records.size() >= mva->maxRecords)
        return status(sw::notEnoughMemory);
    mva->records.push_back({*command.data, recordInUse});
    return status(sw::ok);
}

Reply Token::updateRecord(const CommandApdu& command)
{
    if (command.p2 != 0x04)
        return status(sw::badP1P2);
    const auto [mva, refused] = currentMva();
    if (!mva)
        return status(refused);
    if (!command.data || command.data->empty() || command.data->size() > mva->maxRecordSize)
        return status(sw::wrongLength);
    if (command.p1 == 0 || command.p1 > mva->records.size())
        return status(sw::recordNotFound);
    mva->records[command.p1 - 1] = {*command.data, recordInUse};
    return status(sw::ok);
}

// P2 04 erases record P1, P2 05 record P1 and every one after it; an
// erased slot (status 03) is the first an update fills again.
Reply Token::eraseRecord(const CommandApdu& command)
{
    if (command.p2 != 0x04 && command.p2 != 0x05)
        return status(sw::badP1P2);
    const auto [mva, refused] = currentMva();
    if (!mva)
        return status(refused);
    if (command.data)
        return status(sw::wrongLength);
    const bool toTheEnd = command.p2 == 0x05;
    if (command.p1 == 0 || (!toTheEnd && command.p1 > mva->records.size()))
        return status(sw::recordNotFound);
    const size_t last = toTheEnd ? mva->records.size() : command.p1;
    for (size_t number = command.p1; number <= last; ++number)
        mva->records[number - 1] = {{}, recordErased};
    return status(sw::ok);
}

// Host information comes in chunks: CLA 10 while more follow, 00 for the
// last. The first chunk's data starts with 80 02 and two bytes the token
// does not need; every chunk then holds A5, its length and a piece of the
// items. The user or the administrator must be logged in.
Reply Token::putData(const CommandApdu& command)
{
    if (command.p1 != 0x01 || command.p2 != 0x7C)
        return status(sw::badP1P2);
    if (!command.data)
        return status(sw::wrongLength);
    if (!rights_.user && !rights_.admin)
        return status(sw::securityNotSatisfied);
    const Bytes& data = *command.data;
    const bool first = !pendingHostInformation_;
    const bool opened = !first || (data.size() >= 4 && data[0] == 0x80 && data[1] == 0x02);
    const auto items = opened ? tlvItems(Bytes(data.begin() + (first ? 4 : 0), data.end())) : std::nullopt;
    if (!items || items->size() != 1 || !items->count(0xA5)) {
        pendingHostInformation_.reset();
        return status(sw::badData);
    }
    Bytes& pending = pendingHostInformation_ ? *pendingHostInformation_ : pendingHostInformation_.emplace();
    pending.insert(pending.end(), items->at(0xA5).begin(), items->at(0xA5).end());
    if (pending.size() > maxHostInformation) {
        pendingHostInformation_.reset();
        return status(sw::badData);
    }
    if (command.cla == moreChunks)
        return status(sw::ok);
    const Bytes whole = std::move(pending);
    pendingHostInformation_.reset();
    return status(appendHostInformation(whole) ? sw::ok : sw::badData);
}

// The host's items become the journal's own records: the 64-bit value (C5)
// is the system time of a Time record (66, with the token's uptime in
// seconds), which comes first; the texts (C1 user, C2 domain, C3 system,
// C4 device) follow as records of their own tags, in the order sent.
bool Token::appendHostInformation(const Bytes& items)
{
    Bytes time;
    Bytes texts;
    for (size_t at = 0; at < items.size();) {
        if (items.size() - at < 2 || items.size() - at - 2 < items[at + 1])
            return false;
        const uint8_t tag = items[at];
        const size_t end = at + 2 + items[at + 1];
        if (tag >= 0xC1 && tag <= 0xC4) {
            texts.insert(texts.end(), items.begin() + static_cast<long>(at), items.begin() + static_cast<long>(end));
        } else if (tag == 0xC5 && items[at + 1] == 8 && time.empty()) {
            const auto uptime = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - poweredSince_);
            time = {0x66, 0x10, 0xC5, 0x08};
            time.insert(time.end(), items.begin() + static_cast<long>(at + 2), items.begin() + static_cast<long>(end));
            time.insert(time.end(), {0xC6, 0x04});
            for (int shift = 0; shift < 32; shift += 8)
                time.push_back(static_cast<uint8_t>(static_cast<uint32_t>(uptime.count()) >> shift));
        } else {
            return false;
        }
        at = end;
    }
    Bytes& journal = *profile_.securityJournal;
    journal.insert(journal.end(), time.begin(), time.end());
    journal.insert(journal.end(), texts.begin(), texts.end());
    if (journalShown_)
        writeJournalFiles(*flash_->profile().journalDrive, journal, flash_->profile().journalFileSize);
    return true;
}

}  // namespace kvtoken
