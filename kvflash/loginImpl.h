// The logins a caller makes: global PINs, local PINs and MVA records. The
// secret stays in locked memory; it leaves it only inside the VERIFY command.
#pragma once

#include "lockedMemory.h"
#include "login.h"

#include <cstdint>
#include <span>

namespace kvfl {

class LoginImpl : public Login {
public:
    // An empty secret makes a login that can only ask for the remaining attempts.
    LoginImpl(int32_t reference, std::span<const uint8_t> secret);

    int32_t reference() const override { return reference_; }
    Apdu makeLoginCommand() const override { return makeVerify(secret_); }
    Apdu makeQueryCommand() const override { return makeVerify({}); }

protected:
    virtual Apdu makeVerify(std::span<const uint8_t> value) const = 0;

private:
    int32_t reference_;
    SecretBytes secret_;
};

class AdminPin : public LoginImpl {
public:
    explicit AdminPin(std::span<const uint8_t> pin = {});
    uint8_t kind() const override { return 1; }
    kvflash_StatusCode wrongSecretStatus() const override { return KVFLASH_LOGIN_INCORRECT; }

protected:
    Apdu makeVerify(std::span<const uint8_t> value) const override;
};

class UserPin : public LoginImpl {
public:
    explicit UserPin(std::span<const uint8_t> pin = {});
    uint8_t kind() const override { return 2; }
    kvflash_StatusCode wrongSecretStatus() const override { return KVFLASH_LOGIN_INCORRECT; }

protected:
    Apdu makeVerify(std::span<const uint8_t> value) const override;
};

// Local PIN or MVA: the token's VERIFY names the file by its identifier.
class LocalSecretLogin : public LoginImpl {
public:
    LocalSecretLogin(uint8_t id, std::span<const uint8_t> secret);
    uint8_t kind() const override { return 4; }

protected:
    Apdu makeVerify(std::span<const uint8_t> value) const override;
};

class LocaLPinLogin : public LocalSecretLogin {
public:
    explicit LocaLPinLogin(uint8_t id, std::span<const uint8_t> pin = {}) : LocalSecretLogin(id, pin) {}
    kvflash_StatusCode wrongSecretStatus() const override { return KVFLASH_LOGIN_INCORRECT; }
};

class MVALogin : public LocalSecretLogin {
public:
    explicit MVALogin(uint8_t id, std::span<const uint8_t> record = {}) : LocalSecretLogin(id, record) {}
    kvflash_StatusCode wrongSecretStatus() const override { return KVFLASH_MVA_RECORD_MISMATCH; }
};

}  // namespace kvfl
