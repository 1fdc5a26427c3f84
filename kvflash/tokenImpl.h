#pragma once

#include "clock.h"
#include "login.h"
#include "token.h"

#include <chrono>
#include <map>

namespace kvfl {

// How long a restarting token may take to come back, and how often the
// readers are looked at meanwhile.
inline constexpr std::chrono::seconds RESTART_DEADLINE{60};
inline constexpr std::chrono::seconds RESTART_POLL_INTERVAL{1};

class TokenImpl : public Token {
public:
    explicit TokenImpl(std::shared_ptr<Scard> scard, std::shared_ptr<Clock> clock = steadyClock());

    void login(const std::vector<std::shared_ptr<Login>>& logins) override;
    void logout() override;
    void splitIntoSections(const std::vector<Section>& sections,
                           const std::shared_ptr<ScardEnumerator>& enumerator) override;
    void changeSectionAccessRights(uint8_t sectionId, uint8_t accessState, bool permanent,
                                   const std::shared_ptr<ScardEnumerator>& enumerator) override;
    Sections getSections() override;
    uint32_t getAvailableFlashSize() override;
    bool isTokenSupported() override;
    LocalSecretType getLocalSecretType(uint16_t id) override;

private:
    // Card transaction, replay of the stored logins, the operation, and
    // ResetAccessRights however the operation ends.
    template <typename Operation>
    auto inTransaction(Operation&& operation);
    void checkSplitRequest(const std::vector<Section>& requested, uint32_t available, bool journalEventsExists) const;
    // After a restart: waits for the token with the same serial and moves its
    // connection into the shared Scard object.
    void restartAndReconnect(ScardEnumerator& enumerator);
    bool adoptConnectionTo(uint64_t serial, ScardEnumerator& enumerator);

    std::shared_ptr<Scard> scard_;
    std::vector<std::shared_ptr<Login>> logins_;
    std::shared_ptr<Clock> clock_;
};

// The token's 64-bit serial, read under a card transaction.
uint64_t readTokenSerial(const std::shared_ptr<Scard>& scard);

// The connected tokens by serial; a later card with the same serial wins.
std::map<uint64_t, std::shared_ptr<Scard>> enumerateTokens(ScardEnumerator& enumerator);

// The token with exactly this serial; status 100022 when none is connected.
std::unique_ptr<Token> openToken(uint64_t serial, ScardEnumerator& enumerator);

}  // namespace kvfl
