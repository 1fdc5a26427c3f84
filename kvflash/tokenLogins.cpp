// The token's logins with local secrets, the remaining attempts, the user
// PIN's unblock and host information for the journal.
#include "apdu/createFileFcp.h"
#include "exception.h"
#include "tokenImpl.h"

#include <algorithm>

namespace kvfl {
namespace {

// The secret type a caller names for the file it expected (kvflash_SecretType).
int64_t expectedSecretType(LocalSecretType type)
{
    return type == LocalSecretType::Mva ? KVFLASH_SECRET_MVA : KVFLASH_SECRET_LOCAL_PIN;
}

}  // namespace

std::unique_ptr<LocalPin> TokenImpl::openLocalPin(uint16_t id)
{
    requireLocalSecretType(id, LocalSecretType::LocalPin);
    return std::make_unique<LocalPinImpl>(scard_, id);
}

std::unique_ptr<MVA> TokenImpl::openMva(uint16_t id)
{
    requireLocalSecretType(id, LocalSecretType::Mva);
    return std::make_unique<MVAImpl>(scard_, id);
}

void TokenImpl::requireLocalSecretType(uint16_t id, LocalSecretType expected)
{
    if (getLocalSecretType(id) != expected)
        throw Exception(KVFLASH_SECRET_TYPE_MISMATCH, {{ErrorInfoKind::SecretId, int64_t{id}},
                                                       {ErrorInfoKind::ExpectedSecretType, expectedSecretType(expected)}});
}

uint16_t TokenImpl::getRemainingLoginAttempts(const std::shared_ptr<Login>& login)
{
    if (!login)
        throw Exception(KVFLASH_LOGIN_INCORRECT);
    const ScardLock lock(scard_);
    return readRemainingAttempts(*scard_, *login);
}

std::shared_ptr<Login> TokenImpl::localPinLogin(uint16_t id)
{
    return openLocalPin(id)->login();
}

std::shared_ptr<Login> TokenImpl::localPinLogin(uint16_t id, std::span<const uint8_t> pin)
{
    checkLocalPinSize(pin.size());
    return openLocalPin(id)->login(pin);
}

std::shared_ptr<Login> TokenImpl::mvaLogin(uint16_t id)
{
    return openMva(id)->login();
}

std::shared_ptr<Login> TokenImpl::mvaLogin(uint16_t id, std::span<const uint8_t> record)
{
    checkMvaRecordSize(record.size());
    return openMva(id)->login(record);
}

void TokenImpl::resetLoginAttemptsUser()
{
    inTransaction([&] { scard_->transmit(ApduCommand::UnblockUserPin()).require(); });
}

void TokenImpl::addPcInfoToJournal(const PcInfo& info)
{
    const Sections sections = getSections();
    const bool hasJournalEvents = std::ranges::any_of(
        sections, [](const auto& entry) { return entry.second.type == Section::JournalEvents; });
    if (!hasJournalEvents)
        throw Exception(KVFLASH_JOURNAL_SECTION_MISSING);
    const auto commands = journalInformationCommands(info);
    inTransaction([&] {
        for (const auto& command : commands)
            scard_->transmit(command).require();
    });
}

}  // namespace kvfl
