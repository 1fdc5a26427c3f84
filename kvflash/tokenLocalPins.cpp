// The token's local PINs: files with descriptor 10 in the local-authentication folder.
#include "apdu/createFileFcp.h"
#include "apdu/fcp.h"
#include "localAuthentication.h"
#include "tokenImpl.h"

namespace kvfl {

uint16_t TokenImpl::createLocalPin(std::span<const uint8_t> pin, uint8_t attempts, kvflash_SecureType secureType)
{
    checkLocalPinParams(pin.size(), attempts);
    localPinSecurityFlag(secureType);  // an unknown secure type fails before any command
    const uint16_t id = firstFreeLocalId();
    const Bytes fcp = localPinFcp(static_cast<uint8_t>(id), attempts, secureType);
    inTransaction([&] {
        scard_->transmit(selectLocalAuthenticationFolder()).require();
        scard_->transmit(ApduCreateFile(fcp)).require();
        scard_->transmit(ChangeReferenceData(pin)).require();
    });
    return id;
}

void TokenImpl::changeLocalPin(uint16_t id, std::span<const uint8_t> pin)
{
    checkLocalPinSize(pin.size());
    const std::unique_ptr<LocalPin> localPin = openLocalPin(id);
    inTransaction([&] { localPin->changePin(pin); });
}

std::vector<uint16_t> TokenImpl::getLocalPinIdList()
{
    const ScardLock lock(scard_);
    return localFileIds(*scard_, FCP::DESCRIPTOR_LOCAL_PIN);
}

void TokenImpl::resetLoginAttemptsLocalPin(uint16_t id)
{
    const std::unique_ptr<LocalPin> localPin = openLocalPin(id);
    inTransaction([&] { localPin->unblock(); });
}

uint16_t TokenImpl::firstFreeLocalId()
{
    const ScardLock lock(scard_);
    return firstFreeLocalLoginId(*scard_);
}

}  // namespace kvfl
