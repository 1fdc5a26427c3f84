// A multi-valued authenticator (MVA): a record file in the token's
// local-authentication folder; a login presents any one of its records.
#pragma once

#include "login.h"
#include "scard.h"

#include <cstdint>
#include <memory>
#include <span>

namespace kvfl {

class MVA {
public:
    virtual ~MVA() = default;
    // Into the first erased slot, else appended; the record's number.
    virtual uint8_t addRecord(std::span<const uint8_t> record) = 0;
    // A login that can only ask for the remaining attempts.
    virtual std::shared_ptr<Login> login() const = 0;
    virtual std::shared_ptr<Login> login(std::span<const uint8_t> record) const = 0;
    // Status 100023 when there is no slot with this number.
    virtual void deleteRecord(uint8_t recordId) = 0;
    virtual void clearAllRecords() = 0;
    virtual void unblock() = 0;
    virtual uint16_t id() const = 0;
};

// Built for one operation on a file already known to be an MVA; the record
// operations need the caller's transaction with the rights the token asks for.
class MVAImpl : public MVA {
public:
    MVAImpl(std::shared_ptr<Scard> scard, uint16_t id) : scard_(std::move(scard)), id_(id) {}

    uint8_t addRecord(std::span<const uint8_t> record) override;
    std::shared_ptr<Login> login() const override;
    std::shared_ptr<Login> login(std::span<const uint8_t> record) const override;
    void deleteRecord(uint8_t recordId) override;
    void clearAllRecords() override;
    void unblock() override;
    uint16_t id() const override { return id_; }

private:
    std::shared_ptr<Scard> scard_;
    uint16_t id_;
};

}  // namespace kvfl
