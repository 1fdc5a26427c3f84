#include "login.h"

#include "exception.h"

namespace kvfl {
namespace {

constexpr uint8_t SW1_WRONG_SECRET = 0x63;
constexpr uint16_t SW_BLOCKED = 0x6983;
constexpr uint16_t attemptsNibble = 0x0F;

}  // namespace

void performLogin(Scard& scard, const Login& login)
{
    const Response answer = scard.transmit(login.makeLoginCommand());
    if (answer.sw1() == SW1_WRONG_SECRET)
        fail(login.wrongSecretStatus(), ErrorInfoKind::RemainingAttempts, readRemainingAttempts(scard, login));
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
