#include "loginImpl.h"

namespace kvfl {
namespace {

constexpr int32_t REFERENCE_ADMIN_PIN = 1;
constexpr int32_t REFERENCE_USER_PIN = 2;

}  // namespace

LoginImpl::LoginImpl(int32_t reference, std::span<const uint8_t> secret)
    : reference_(reference), secret_(secret.begin(), secret.end()) {}

AdminPin::AdminPin(std::span<const uint8_t> pin) : LoginImpl(REFERENCE_ADMIN_PIN, pin) {}

Apdu AdminPin::makeVerify(std::span<const uint8_t> value) const { return ApduCommand::PinLoginAdmin(value); }

UserPin::UserPin(std::span<const uint8_t> pin) : LoginImpl(REFERENCE_USER_PIN, pin) {}

Apdu UserPin::makeVerify(std::span<const uint8_t> value) const { return ApduCommand::PinLoginUser(value); }

LocalSecretLogin::LocalSecretLogin(uint8_t id, std::span<const uint8_t> secret) : LoginImpl(id, secret) {}

Apdu LocalSecretLogin::makeVerify(std::span<const uint8_t> value) const {
    return ApduCommand::LCHVRSFLogin(static_cast<uint8_t>(reference()), value);
}

}  // namespace kvfl
