// A local PIN: a PIN file in the token's local-authentication folder.
#pragma once

#include "login.h"
#include "scard.h"

#include <cstdint>
#include <memory>
#include <span>

namespace kvfl {

class LocalPin {
public:
    virtual ~LocalPin() = default;
    // A login that can only ask for the remaining attempts.
    virtual std::shared_ptr<Login> login() const = 0;
    virtual std::shared_ptr<Login> login(std::span<const uint8_t> pin) const = 0;
    // The caller holds the transaction with the rights the token asks for.
    virtual void changePin(std::span<const uint8_t> pin) = 0;
    virtual void unblock() = 0;
    virtual uint16_t id() const = 0;
};

// Built for one operation on a file already known to be a local PIN.
class LocalPinImpl : public LocalPin {
public:
    LocalPinImpl(std::shared_ptr<Scard> scard, uint16_t id) : scard_(std::move(scard)), id_(id) {}

    std::shared_ptr<Login> login() const override;
    std::shared_ptr<Login> login(std::span<const uint8_t> pin) const override;
    void changePin(std::span<const uint8_t> pin) override;
    void unblock() override;
    uint16_t id() const override { return id_; }

private:
    std::shared_ptr<Scard> scard_;
    uint16_t id_;
};

}  // namespace kvfl
