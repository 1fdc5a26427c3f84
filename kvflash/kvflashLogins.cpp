// The exported functions for logins, local PINs and host information.
#include "cArguments.h"
#include "callGuarded.h"
#include "exception.h"
#include "loginImpl.h"
#include "pcInfo.h"
#include "tokenHandle.h"

#include <kvflash-core/kvflash.h>

#include <stdexcept>
#include <string>

using namespace kvfl;

namespace {

constexpr std::size_t MAX_GLOBAL_PIN = 249;
constexpr uint8_t NEW_LOCAL_PIN_ATTEMPTS = 10;

// An empty global PIN or one too long for a VERIFY is refused before any command.
template <typename GlobalPin>
std::shared_ptr<Login> globalPinLogin(const kvflash_Buffer& pin)
{
    if (pin.size == 0 || pin.size > MAX_GLOBAL_PIN)
        throw Exception(KVFLASH_LOGIN_INCORRECT);
    return std::make_shared<GlobalPin>(bytesOf(pin));
}

// A size beyond the limit is refused before a byte is copied: the caller's
// buffer may be far shorter than the size claims.
std::string textOf(const kvflash_Buffer& buffer)
{
    if (buffer.size > maxPcInfoText)
        throw Exception(KVFLASH_INVALID_STRING_SIZE);
    return buffer.size == 0 ? std::string() : std::string(reinterpret_cast<const char*>(buffer.data), buffer.size);
}

PcInfo pcInfoOf(const kvflash_PcInfo& info)
{
    return PcInfo{{textOf(info.text1), textOf(info.text2), textOf(info.text3), textOf(info.text4)}, info.value};
}

bool isListedSecureType(uint32_t secureType)
{
    for (const kvflash_SecureType listed : {KVFLASH_SECURE_NONE, KVFLASH_SECURE_GLOBAL_BIT0, KVFLASH_SECURE_GLOBAL_BIT1,
                                            KVFLASH_SECURE_GLOBAL_BOTH, KVFLASH_SECURE_FORBIDDEN})
        if (secureType == static_cast<uint32_t>(listed))
            return true;
    return false;
}

bool anyUnreadableText(const kvflash_PcInfo& info)
{
    return unreadable(info.text1) || unreadable(info.text2) || unreadable(info.text3) || unreadable(info.text4);
}

void remainingAttempts(Token& token, const std::shared_ptr<Login>& login, uint16_t* attempts)
{
    const uint16_t remaining = token.getRemainingLoginAttempts(login);
    *attempts = remaining;
}

}  // namespace

extern "C" {

kvflash_StatusCode kvflash_login_user(kvflash_TokenImpl_* token, kvflash_Buffer pin)
{
    if (anyNull(token) || unreadable(pin))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] { token->token->login({globalPinLogin<UserPin>(pin)}); });
}

kvflash_StatusCode kvflash_login_admin(kvflash_TokenImpl_* token, kvflash_Buffer pin)
{
    if (anyNull(token) || unreadable(pin))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] { token->token->login({globalPinLogin<AdminPin>(pin)}); });
}

kvflash_StatusCode kvflash_login_local_pin(kvflash_TokenImpl_* token, uint16_t localPinId, kvflash_Buffer pin)
{
    if (anyNull(token, pin.data))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] { token->token->login({token->token->localPinLogin(localPinId, bytesOf(pin))}); });
}

kvflash_StatusCode kvflash_logout(kvflash_TokenImpl_* token)
{
    if (anyNull(token))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] { token->token->logout(); });
}

kvflash_StatusCode kvflash_get_remaining_login_attempts_user(kvflash_TokenImpl_* token, uint16_t* attempts)
{
    if (anyNull(token, attempts))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] { remainingAttempts(*token->token, std::make_shared<UserPin>(), attempts); });
}

kvflash_StatusCode kvflash_get_remaining_login_attempts_admin(kvflash_TokenImpl_* token, uint16_t* attempts)
{
    if (anyNull(token, attempts))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] { remainingAttempts(*token->token, std::make_shared<AdminPin>(), attempts); });
}

kvflash_StatusCode kvflash_get_remaining_login_attempts_local_pin(kvflash_TokenImpl_* token, uint16_t localPinId,
                                                                  uint16_t* attempts)
{
    if (anyNull(token, attempts))
        return KVFLASH_NULL_POINTER;
    return callGuarded(
        [&] { remainingAttempts(*token->token, token->token->localPinLogin(localPinId), attempts); });
}

kvflash_StatusCode kvflash_reset_login_attempts_local_pin(kvflash_TokenImpl_* token, uint16_t localPinId)
{
    if (anyNull(token))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] { token->token->resetLoginAttemptsLocalPin(localPinId); });
}

kvflash_StatusCode kvflash_create_local_pin_id_list(kvflash_TokenImpl_* token, uint16_t** ids, uint32_t* count)
{
    if (anyNull(token, ids, count))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] { handOutIdList(token->token->getLocalPinIdList(), ids, count); });
}

kvflash_StatusCode kvflash_destroy_local_pin_id_list(uint16_t** ids)
{
    return destroyIdList(ids);
}

kvflash_StatusCode kvflash_create_local_pin(kvflash_TokenImpl_* token, kvflash_Buffer pin,
                                            kvflash_SecureType secureType, uint16_t* localPinId)
{
    if (anyNull(token, localPinId, pin.data))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] {
        // Only a listed secure type goes on as the enumeration.
        if (!isListedSecureType(cEnumValue(secureType)))
            throw std::logic_error("Unknown kvflash_SecureType");
        const uint16_t id = token->token->createLocalPin(bytesOf(pin), NEW_LOCAL_PIN_ATTEMPTS, secureType);
        *localPinId = id;
    });
}

kvflash_StatusCode kvflash_change_local_pin(kvflash_TokenImpl_* token, uint16_t localPinId, kvflash_Buffer newPin)
{
    if (anyNull(token, newPin.data))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] { token->token->changeLocalPin(localPinId, bytesOf(newPin)); });
}

kvflash_StatusCode kvflash_add_pc_info_to_journal(kvflash_TokenImpl_* token, const kvflash_PcInfo* info)
{
    if (anyNull(token, info) || anyUnreadableText(*info))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] { token->token->addPcInfoToJournal(pcInfoOf(*info)); });
}

kvflash_StatusCode kvflash_reset_login_attempts_user(kvflash_TokenImpl_* token)
{
    if (anyNull(token))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] { token->token->resetLoginAttemptsUser(); });
}

}  // extern "C"
