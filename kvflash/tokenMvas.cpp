// The token's multi-valued authenticators: files with descriptor 14 in the
// local-authentication folder.
#include "apdu/createFileFcp.h"
#include "apdu/fcp.h"
#include "localAuthentication.h"
#include "tokenImpl.h"

namespace kvfl {

uint16_t TokenImpl::createMva(uint8_t maxRecordCount, uint8_t maxRecordSize, uint8_t maxAttempts)
{
    checkMvaParams(maxRecordCount, maxRecordSize, maxAttempts);
    const uint16_t id = firstFreeLocalId();
    const Bytes fcp = mvaFcp(static_cast<uint8_t>(id), maxRecordCount, maxRecordSize, maxAttempts);
    inTransaction([&] {
        scard_->transmit(selectLocalAuthenticationFolder()).require();
        scard_->transmit(ApduCreateFile(fcp)).require();
    });
    return id;
}

std::vector<uint16_t> TokenImpl::getMvaIdList()
{
    const ScardLock lock(scard_);
    return localFileIds(*scard_, FCP::DESCRIPTOR_MVA);
}

uint8_t TokenImpl::mvaAddRecord(uint16_t id, std::span<const uint8_t> record)
{
    checkMvaRecordSize(record.size());
    const std::unique_ptr<MVA> mva = openMva(id);
    uint8_t recordId = 0;
    inTransaction([&] { recordId = mva->addRecord(record); });
    return recordId;
}

void TokenImpl::mvaDeleteRecord(uint16_t id, uint8_t recordId)
{
    const std::unique_ptr<MVA> mva = openMva(id);
    inTransaction([&] { mva->deleteRecord(recordId); });
}

void TokenImpl::mvaClearAllRecords(uint16_t id)
{
    const std::unique_ptr<MVA> mva = openMva(id);
    inTransaction([&] { mva->clearAllRecords(); });
}

void TokenImpl::resetLoginAttemptsMva(uint16_t id)
{
    const std::unique_ptr<MVA> mva = openMva(id);
    inTransaction([&] { mva->unblock(); });
}

}  // namespace kvfl
