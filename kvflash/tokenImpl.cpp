#include "tokenImpl.h"

#include "apdu/fcp.h"
#include "apdu/tlv.h"
#include "exception.h"
#include "localAuthentication.h"

#include <algorithm>
#include <array>
#include <string>

namespace kvfl {
namespace {

constexpr uint16_t SW_INSTRUCTION_NOT_SUPPORTED = 0x6D00;
constexpr uint8_t TAG_TOKEN_INFO = 0x40;
constexpr uint8_t TAG_FEATURES = 0x04;
constexpr std::size_t serialLength = 8;
constexpr std::size_t totalFlashSizeLength = 4;
constexpr uint32_t minJournalEventsSectionSize = 500;

// Replays the stored logins when an operation begins and drops the access
// rights they gained when it ends, however it ends.
class LoginReplay {
public:
    LoginReplay(Scard& scard, std::vector<std::shared_ptr<Login>>& logins) : scard_(scard)
    {
        try {
            std::erase_if(logins, [this](const std::shared_ptr<Login>& login) { return !replays(login); });
        } catch (...) {
            resetAccessRights();
            throw;
        }
    }
    ~LoginReplay() { resetAccessRights(); }
    LoginReplay(const LoginReplay&) = delete;
    LoginReplay& operator=(const LoginReplay&) = delete;

private:
    // False for a login the token no longer accepts: it is forgotten and the
    // operation goes on without it.
    bool replays(const std::shared_ptr<Login>& login)
    {
        try {
            if (!login)
                throw Exception(KVFLASH_LOGIN_INCORRECT);
            performLogin(scard_, *login);
            return true;
        } catch (const Exception& e) {
            // A PIN changed elsewhere, or an MVA record deleted since the login
            if (e.status() != KVFLASH_LOGIN_INCORRECT && e.status() != login->wrongSecretStatus())
                throw;
            return false;
        }
    }

    void resetAccessRights() noexcept
    {
        try {
            scard_.transmit(ApduCommand::ResetAccessRights());
        } catch (...) {
            // Nothing more can be done for a card that does not take the reset.
        }
    }

    Scard& scard_;
};

Response requireLength(Response answer, std::size_t length)
{
    if (answer.data.size() != length)
        fail(KVFLASH_INVALID_DEVICE_RESPONSE, ErrorInfoKind::ApduResponse,
             "the response length didn't match the expected");
    return answer;
}

bool hasSectionOfType(const Sections& sections, int32_t type)
{
    return std::ranges::any_of(sections, [type](const auto& entry) { return entry.second.type == type; });
}

int maxNewSectionCount(const Sections& existing)
{
    int count = static_cast<int>(maxSectionCount);
    for (const int32_t kept : {Section::JournalEvents, Section::JournalType, Section::Encrypted})
        count -= hasSectionOfType(existing, kept);
    return count;
}

void checkRequestedSection(const Section& section, uint32_t available, bool journalEventsExists)
{
    if (section.size == 0 || section.size > available)
        throw Exception(KVFLASH_INVALID_SECTION_SIZE, {{ErrorInfoKind::SectionSize, int64_t{section.size}},
                                                       {ErrorInfoKind::AvailableFlashSize, int64_t{available}}});
    if (section.type == Section::JournalEvents) {
        if (journalEventsExists)
            throw Exception(KVFLASH_JOURNAL_SECTION_EXISTS);
        if (section.size < minJournalEventsSectionSize)
            throw Exception(KVFLASH_INVALID_JOURNAL_SECTION_SIZE);
        if (section.accessState != Section::NoAccess)
            throw Exception(KVFLASH_INVALID_JOURNAL_ACCESS_RIGHTS);
        checkJournalConditions(section.conditions);
    } else if (section.type != Section::Ordinary) {
        fail(KVFLASH_SECTION_TYPE_NOT_SUPPORTED, ErrorInfoKind::SectionType, section.type);
    }
    for (const auto& [operation, rule] : section.conditions)
        validateProtectConditions(rule);
}

// The encoded descriptions of the requested sections, numbered from 1.
Bytes encodeSplitRequest(const std::vector<Section>& requested, uint32_t available, bool journalEventsExists)
{
    Bytes elements;
    uint64_t total = 0;
    for (std::size_t i = 0; i < requested.size(); ++i) {
        checkRequestedSection(requested[i], available, journalEventsExists);
        total += requested[i].size;
        if (total > available)
            fail(KVFLASH_INVALID_TOTAL_SECTION_SIZE, ErrorInfoKind::AvailableFlashSize, available);
        const Bytes element = encodeSectionDescription(static_cast<uint8_t>(i + 1), requested[i]);
        elements.insert(elements.end(), element.begin(), element.end());
    }
    return elements;
}

// A journal section may only be switched temporarily to read-only, and not
// while an encrypted section is readable.
void checkJournalSwitch(const Sections& sections, uint8_t accessState, bool permanent)
{
    if (permanent || accessState != Section::ReadOnly)
        throw Exception(KVFLASH_JOURNAL_TEMPORARY_READ_ONLY_ONLY);
    const bool encryptedReadable = std::ranges::any_of(sections, [](const auto& entry) {
        const Section& section = entry.second;
        return section.type == Section::Encrypted &&
               (section.accessState == Section::ReadOnly || section.accessState == Section::ReadWrite);
    });
    if (encryptedReadable)
        throw Exception(KVFLASH_JOURNAL_BLOCKED_BY_ENCRYPTED_SECTION);
}

}  // namespace

TokenImpl::TokenImpl(std::shared_ptr<Scard> scard, std::shared_ptr<Clock> clock)
    : scard_(std::move(scard)), clock_(std::move(clock))
{
}

void TokenImpl::inTransaction(const std::function<void()>& operation)
{
    const ScardLock lock(scard_);
    const LoginReplay replay(*scard_, logins_);
    operation();
}

void TokenImpl::login(const std::vector<std::shared_ptr<Login>>& logins)
{
    inTransaction([&] {
        for (const std::shared_ptr<Login>& login : logins) {
            if (!login)
                throw Exception(KVFLASH_LOGIN_INCORRECT);
            performLogin(*scard_, *login);
            logins_.push_back(login);
        }
    });
}

void TokenImpl::logout()
{
    logins_.clear();
}

Sections TokenImpl::getSections()
{
    const ScardLock lock(scard_);
    const Response answer = scard_->transmit(GetSectionsAttributesApdu()).require();
    return parseSectionDescriptions(answer.data);
}

uint32_t TokenImpl::getAvailableFlashSize()
{
    const ScardLock lock(scard_);
    const Response answer = requireLength(scard_->transmit(CountTotalFlashMemory()).require(), totalFlashSizeLength);
    const uint64_t total = readBigEndian(answer.data);
    uint64_t used = 0;
    for (const auto& [number, section] : getSections())
        if (section.isJournal())
            used += section.size;
    if (total == 0 || total < used)
        fail(KVFLASH_INVALID_DEVICE_RESPONSE, ErrorInfoKind::ApduResponse, "invalid total device memory size");
    return static_cast<uint32_t>(total - used);
}

void TokenImpl::splitIntoSections(const std::vector<Section>& requested,
                                  const std::shared_ptr<ScardEnumerator>& enumerator)
{
    if (requested.empty())
        throw Exception(KVFLASH_INVALID_SECTION_COUNT);
    const Sections existing = getSections();
    const int maxCount = maxNewSectionCount(existing);
    if (requested.size() > static_cast<std::size_t>(maxCount))
        fail(KVFLASH_INVALID_SECTION_COUNT, ErrorInfoKind::MaxSectionCount, maxCount);
    const Bytes elements =
        encodeSplitRequest(requested, getAvailableFlashSize(), hasSectionOfType(existing, Section::JournalEvents));
    inTransaction([&] { scard_->transmit(SplitIntoSectionsApdu(elements)).require(); });
    restartAndReconnect(*enumerator);
}

void TokenImpl::changeSectionAccessRights(uint8_t sectionId, uint8_t accessState, bool permanent,
                                          const std::shared_ptr<ScardEnumerator>& enumerator)
{
    if (accessState == Section::CdRom && !permanent)
        throw Exception(KVFLASH_CDROM_PERMANENT_ONLY);
    inTransaction([&] {
        const Sections sections = getSections();
        const auto section = sections.find(sectionId);
        if (section == sections.end())
            throw Exception(KVFLASH_INVALID_SECTION_ID);
        if (section->second.isJournal())
            checkJournalSwitch(sections, accessState, permanent);
        scard_->transmit(ChangeAccessRights(sectionId, accessState, permanent)).require();
    });
    if (permanent)
        restartAndReconnect(*enumerator);
}

bool TokenImpl::isTokenSupported()
{
    const ScardLock lock(scard_);
    const Response answer = scard_->transmit(GetExtendedTokenInfoApdu());
    if (answer.is(SW_INSTRUCTION_NOT_SUPPORTED))
        return false;
    answer.require();
    const TlvElements info = parseTlv(answer.data, TlvMode::Simple);
    const TlvElement* tokenInfo = findTlv(info, TAG_TOKEN_INFO);
    if (!tokenInfo)
        return false;
    const TlvElements features = parseTlv(tokenInfo->value, TlvMode::Simple);
    const TlvElement* featureBits = findTlv(features, TAG_FEATURES);
    if (!featureBits)
        return false;
    const FeatureElement feature(*featureBits);
    return feature.isValid() && feature.isSecurityEventLoggingSupported() && feature.isPartitioningSupported();
}

LocalSecretType TokenImpl::getLocalSecretType(uint16_t id)
{
    checkLocalSecretId(id);
    const ScardLock lock(scard_);
    const Response answer = scard_->transmit(selectLocalSecretFile(id)).require();
    const SelectedFile file = parseSelectAnswer(answer.data);
    return descriptor(file.fcp) == FCP::DESCRIPTOR_MVA ? LocalSecretType::Mva : LocalSecretType::LocalPin;
}

void TokenImpl::restartAndReconnect(ScardEnumerator& enumerator)
{
    uint64_t serial = 0;
    {
        const ScardLock lock(scard_);
        serial = readTokenSerial(scard_);
        const LoginReplay replay(*scard_, logins_);
        // Noted before the restart, so that the token leaving is already a change.
        enumerator.noteReaders();
        scard_->transmit(ResetToken()).require();
    }
    const Clock::TimePoint deadline = clock_->now() + RESTART_DEADLINE;
    const auto readerChange = [&](std::chrono::milliseconds atMost) { enumerator.waitForReaderChange(atMost); };
    while (clock_->now() <= deadline) {
        clock_->waitFor(RESTART_POLL_INTERVAL, readerChange);
        if (adoptConnectionTo(serial, enumerator))
            return;
    }
    throw Exception(KVFLASH_TOKEN_NOT_FOUND);
}

bool TokenImpl::adoptConnectionTo(uint64_t serial, ScardEnumerator& enumerator)
{
    try {
        for (const std::shared_ptr<Scard>& card : enumerator.enumScards()) {
            if (readTokenSerial(card) == serial) {
                scard_->swap(*card);
                return true;
            }
        }
    } catch (const Exception&) {
        // While the token comes back its reader may still refuse a connection
        // or lose the card again: look again at the next poll.
    }
    return false;
}

uint64_t readTokenSerial(const std::shared_ptr<Scard>& scard)
{
    const ScardLock lock(scard);
    const Response answer = requireLength(scard->transmit(GetTokenSerial()).require(), serialLength);
    return readBigEndian(answer.data);
}

std::optional<PcscString> TokenReaders::lastReaderOf(uint64_t serial) const
{
    const std::lock_guard lock(mutex_);
    const auto found = readers_.find(serial);
    if (found == readers_.end())
        return std::nullopt;
    return found->second;
}

void TokenReaders::remember(uint64_t serial, const PcscString& reader)
{
    const std::lock_guard lock(mutex_);
    readers_.insert_or_assign(serial, reader);
}

void TokenReaders::forget(uint64_t serial)
{
    const std::lock_guard lock(mutex_);
    readers_.erase(serial);
}

std::map<uint64_t, std::shared_ptr<Scard>> enumerateTokens(ScardEnumerator& enumerator, TokenReaders& readers)
{
    std::map<uint64_t, std::shared_ptr<Scard>> tokens;
    for (const std::shared_ptr<Scard>& card : enumerator.enumScards())
        tokens.insert_or_assign(readTokenSerial(card), card);
    for (const auto& [serial, card] : tokens)
        readers.remember(serial, card->reader());
    return tokens;
}

namespace {

// The token in the reader it was last found in, if it is still there. Any
// failure here leaves the answer to the look at all readers, which meets
// the same reader again and judges it as before.
std::shared_ptr<Scard> tokenInLastReader(uint64_t serial, ScardEnumerator& enumerator, const TokenReaders& readers)
{
    const std::optional<PcscString> reader = readers.lastReaderOf(serial);
    if (!reader)
        return nullptr;
    try {
        std::shared_ptr<Scard> card = enumerator.connectTo(*reader);
        if (card && readTokenSerial(card) == serial)
            return card;
    } catch (const Exception&) {
    }
    return nullptr;
}

}  // namespace

std::unique_ptr<Token> openToken(uint64_t serial, ScardEnumerator& enumerator, TokenReaders& readers)
{
    if (std::shared_ptr<Scard> card = tokenInLastReader(serial, enumerator, readers))
        return std::make_unique<TokenImpl>(std::move(card));
    auto tokens = enumerateTokens(enumerator, readers);
    const auto found = tokens.find(serial);
    if (found == tokens.end()) {
        readers.forget(serial);
        throw Exception(KVFLASH_TOKEN_NOT_FOUND);
    }
    return std::make_unique<TokenImpl>(found->second);
}

}  // namespace kvfl
