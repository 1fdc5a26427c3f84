// A credential the token object keeps and replays before every operation.
#pragma once

#include "apdu/apdu.h"
#include "scard.h"

#include <kvflash-core/kvflash.h>

#include <cstdint>

namespace kvfl {

class Login {
public:
    virtual ~Login() = default;
    // 1 administrator PIN, 2 user PIN, 4 local PIN or MVA.
    virtual uint8_t kind() const = 0;
    // 1 administrator PIN, 2 user PIN, else the local PIN's or MVA's identifier.
    virtual int32_t reference() const = 0;
    // VERIFY with the secret.
    virtual Apdu makeLoginCommand() const = 0;
    // The status of a wrong secret (the token answered 63xx).
    virtual kvflash_StatusCode wrongSecretStatus() const = 0;
    // VERIFY without data: asks for the remaining attempts.
    virtual Apdu makeQueryCommand() const = 0;
};

// Sends the login; a wrong secret fails with the login's wrong-secret status
// and the remaining attempts as detail.
void performLogin(Scard& scard, const Login& login);

// 6983 (blocked) raises; any other status word carries the count in its low nibble.
uint16_t readRemainingAttempts(Scard& scard, const Login& login);

}  // namespace kvfl
