#include "localPin.h"

#include "localAuthentication.h"
#include "loginImpl.h"

namespace kvfl {

std::shared_ptr<Login> LocalPinImpl::login() const
{
    return std::make_shared<LocaLPinLogin>(static_cast<uint8_t>(id_));
}

std::shared_ptr<Login> LocalPinImpl::login(std::span<const uint8_t> pin) const
{
    return std::make_shared<LocaLPinLogin>(static_cast<uint8_t>(id_), pin);
}

void LocalPinImpl::changePin(std::span<const uint8_t> pin)
{
    scard_->transmit(selectLocalSecretFile(id_)).require();
    scard_->transmit(ChangeReferenceData(pin)).require();
}

void LocalPinImpl::unblock()
{
    scard_->transmit(ApduCommand::UnblockLchvRsf(static_cast<uint8_t>(id_))).require();
}

}  // namespace kvfl
