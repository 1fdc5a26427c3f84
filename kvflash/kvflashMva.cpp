// The exported functions for multi-valued authenticators.
#include "cArguments.h"
#include "callGuarded.h"
#include "tokenHandle.h"

#include <kvflash-core/kvflash.h>

using namespace kvfl;

extern "C" {

kvflash_StatusCode kvflash_login_mva(kvflash_TokenImpl_* token, uint16_t mvaId, kvflash_Buffer record)
{
    if (anyNull(token, record.data))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] { token->token->login({token->token->mvaLogin(mvaId, bytesOf(record))}); });
}

kvflash_StatusCode kvflash_get_remaining_login_attempts_mva(kvflash_TokenImpl_* token, uint16_t mvaId,
                                                            uint16_t* attempts)
{
    if (anyNull(token, attempts))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] {
        const uint16_t remaining = token->token->getRemainingLoginAttempts(token->token->mvaLogin(mvaId));
        *attempts = remaining;
    });
}

kvflash_StatusCode kvflash_create_mva_id_list(kvflash_TokenImpl_* token, uint16_t** ids, uint32_t* count)
{
    if (anyNull(token, ids, count))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] { handOutIdList(token->token->getMvaIdList(), ids, count); });
}

kvflash_StatusCode kvflash_destroy_mva_id_list(uint16_t** ids)
{
    return destroyIdList(ids);
}

kvflash_StatusCode kvflash_create_mva(kvflash_TokenImpl_* token, const kvflash_MvaParams* params, uint16_t* mvaId)
{
    if (anyNull(token, params, mvaId))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] {
        const uint16_t id = token->token->createMva(params->maxRecordCount, params->maxRecordSize, params->maxAttempts);
        *mvaId = id;
    });
}

kvflash_StatusCode kvflash_mva_add_record(kvflash_TokenImpl_* token, uint16_t mvaId, kvflash_Buffer record,
                                          uint8_t* recordId)
{
    if (anyNull(token, recordId, record.data))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] {
        const uint8_t added = token->token->mvaAddRecord(mvaId, bytesOf(record));
        *recordId = added;
    });
}

kvflash_StatusCode kvflash_mva_delete_record(kvflash_TokenImpl_* token, uint16_t mvaId, uint8_t recordId)
{
    if (anyNull(token))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] { token->token->mvaDeleteRecord(mvaId, recordId); });
}

kvflash_StatusCode kvflash_mva_clear_all_records(kvflash_TokenImpl_* token, uint16_t mvaId)
{
    if (anyNull(token))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] { token->token->mvaClearAllRecords(mvaId); });
}

kvflash_StatusCode kvflash_reset_login_attempts_mva(kvflash_TokenImpl_* token, uint16_t mvaId)
{
    if (anyNull(token))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] { token->token->resetLoginAttemptsMva(mvaId); });
}

}  // extern "C"
