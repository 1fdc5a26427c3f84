#include "mva.h"

#include "apdu/createFileFcp.h"
#include "apdu/fcp.h"
#include "exception.h"
#include "localAuthentication.h"
#include "loginImpl.h"

#include <algorithm>

namespace kvfl {
namespace {

constexpr uint8_t RECORD_ERASED = 0x03;           // record-status byte of a free slot
constexpr uint8_t ERASE_ONE_RECORD = 0x04;        // P2 of ERASE RECORD: record P1 only
constexpr uint8_t ERASE_FROM_RECORD_ON = 0x05;    // record P1 and all after it

FCP::VrRsf readMvaFile(Scard& scard, uint16_t id)
{
    const Response answer = scard.transmit(selectLocalSecretFile(id)).require();
    return FCP::parseVrRsf(answer.data);
}

}  // namespace

uint8_t MVAImpl::addRecord(std::span<const uint8_t> record)
{
    checkMvaRecordSize(record.size());
    const FCP::VrRsf file = readMvaFile(*scard_, id_);
    const auto freeSlot = std::ranges::find(file.recordStatus, RECORD_ERASED);
    if (freeSlot != file.recordStatus.end()) {
        const auto number = static_cast<uint8_t>(freeSlot - file.recordStatus.begin() + 1);
        scard_->transmit(UpdateRecord(number, record)).require();
        return number;
    }
    scard_->transmit(AppendRecord(record)).require();
    const auto& records = file.descriptor.records();
    const uint8_t countBefore = records && records->recordCount ? *records->recordCount : 0;
    return static_cast<uint8_t>(countBefore + 1);
}

std::shared_ptr<Login> MVAImpl::login() const
{
    return std::make_shared<MVALogin>(static_cast<uint8_t>(id_));
}

std::shared_ptr<Login> MVAImpl::login(std::span<const uint8_t> record) const
{
    return std::make_shared<MVALogin>(static_cast<uint8_t>(id_), record);
}

void MVAImpl::deleteRecord(uint8_t recordId)
{
    const FCP::VrRsf file = readMvaFile(*scard_, id_);
    if (recordId < 1 || recordId > file.recordStatus.size())
        throw Exception(KVFLASH_RECORD_NOT_FOUND);
    scard_->transmit(EraseRecord(recordId, ERASE_ONE_RECORD)).require();
}

void MVAImpl::clearAllRecords()
{
    readMvaFile(*scard_, id_);
    scard_->transmit(EraseRecord(1, ERASE_FROM_RECORD_ON)).require();
}

void MVAImpl::unblock()
{
    scard_->transmit(ApduCommand::UnblockLchvRsf(static_cast<uint8_t>(id_))).require();
}

}  // namespace kvfl
