#include "login.h"

#include "exception.h"

namespace kvfl {
namespace {

constexpr uint8_t SW1_WRONG_SECRET = 0x63;
constexpr uint16_t SW_BLOCKED = 0x6983;
constexpr uint16_t attemptsNibble = 0x0F;

// After a wrong secret: the tries left, none when that try blocked it.
uint16_t attemptsAfterWrongSecret(Scard& scard, const Login& login)
{
    try {
        return readRemainingAttempts(scard, login);
    } catch (const Exception& e) {
        if (e.status() != KVFLASH_OBJECT_BLOCKED)
            throw;
        return 0;
    }
}

}  // namespace

void performLogin(Scard& scard, const Login& login)
{
    const Response answer = scard.transmit(login.makeLoginCommand());
    // A wrong secret stays a wrong secret when it used up the last try, so
    // that a kept login is dropped rather than failing every later operation.
    if (answer.sw1() == SW1_WRONG_SECRET)
        fail(login.wrongSecretStatus(), ErrorInfoKind::RemainingAttempts, attemptsAfterWrongSecret(scard, login));
    answer.require();
}

uint16_t readRemainingAttempts(Scard& scard, const Login& login)
{
    const Response answer = scard.transmit(login.makeQueryCommand());
    if (answer.is(SW_BLOCKED))
        answer.raise();
    return answer.sw & attemptsNibble;
}

}  // namespace kvfl
