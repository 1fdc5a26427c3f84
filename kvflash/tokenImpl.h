#pragma once

#include "clock.h"
#include "localPin.h"
#include "login.h"
#include "mva.h"
#include "token.h"

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

namespace kvfl {

// How long a restarting token may take to come back, and how long at most
// a look at the readers waits for a card to come or go meanwhile.
inline constexpr std::chrono::seconds RESTART_DEADLINE{60};
inline constexpr std::chrono::seconds RESTART_POLL_INTERVAL{1};

class TokenImpl : public Token {
public:
    explicit TokenImpl(std::shared_ptr<Scard> scard, std::shared_ptr<Clock> clock = steadyClock());

    void login(const std::vector<std::shared_ptr<Login>>& logins) override;
    uint16_t getRemainingLoginAttempts(const std::shared_ptr<Login>& login) override;
    void logout() override;
    void addPcInfoToJournal(const PcInfo& info) override;
    void splitIntoSections(const std::vector<Section>& sections,
                           const std::shared_ptr<ScardEnumerator>& enumerator) override;
    void changeSectionAccessRights(uint8_t sectionId, uint8_t accessState, bool permanent,
                                   const std::shared_ptr<ScardEnumerator>& enumerator) override;
    Sections getSections() override;
    uint32_t getAvailableFlashSize() override;
    std::shared_ptr<Login> mvaLogin(uint16_t id) override;
    std::shared_ptr<Login> mvaLogin(uint16_t id, std::span<const uint8_t> record) override;
    std::shared_ptr<Login> localPinLogin(uint16_t id) override;
    std::shared_ptr<Login> localPinLogin(uint16_t id, std::span<const uint8_t> pin) override;
    uint16_t createMva(uint8_t maxRecordCount, uint8_t maxRecordSize, uint8_t maxAttempts) override;
    std::vector<uint16_t> getMvaIdList() override;
    uint8_t mvaAddRecord(uint16_t id, std::span<const uint8_t> record) override;
    void mvaDeleteRecord(uint16_t id, uint8_t recordId) override;
    void mvaClearAllRecords(uint16_t id) override;
    void resetLoginAttemptsMva(uint16_t id) override;
    uint16_t createLocalPin(std::span<const uint8_t> pin, uint8_t attempts, kvflash_SecureType secureType) override;
    void changeLocalPin(uint16_t id, std::span<const uint8_t> pin) override;
    std::vector<uint16_t> getLocalPinIdList() override;
    void resetLoginAttemptsLocalPin(uint16_t id) override;
    void resetLoginAttemptsUser() override;
    bool isTokenSupported() override;
    LocalSecretType getLocalSecretType(uint16_t id) override;

private:
    // Card transaction, replay of the stored logins, the operation, and
    // ResetAccessRights however the operation ends.
    void inTransaction(const std::function<void()>& operation);
    // The local secret `id` after checking that its file is of the expected kind.
    std::unique_ptr<LocalPin> openLocalPin(uint16_t id);
    std::unique_ptr<MVA> openMva(uint16_t id);
    void requireLocalSecretType(uint16_t id, LocalSecretType expected);
    uint16_t firstFreeLocalId();
    void checkSplitRequest(const std::vector<Section>& requested, uint32_t available, bool journalEventsExists) const;
    // After a restart: waits for the token with the same serial and moves its
    // connection into the shared Scard object.
    void restartAndReconnect(ScardEnumerator& enumerator);
    bool adoptConnectionTo(uint64_t serial, ScardEnumerator& enumerator);

    std::shared_ptr<Scard> scard_;
    std::vector<std::shared_ptr<Login>> logins_;
    std::shared_ptr<Clock> clock_;
};

// The reader each token was last found in, by serial. Opening a token looks
// there first: a direct connection instead of a look at every reader.
// Whatever it names is checked before use, so a stale entry costs one
// connection attempt and never opens another token.
class TokenReaders {
public:
    std::optional<PcscString> lastReaderOf(uint64_t serial) const;
    void remember(uint64_t serial, const PcscString& reader);
    void forget(uint64_t serial);

private:
    mutable std::mutex mutex_;
    std::map<uint64_t, PcscString> readers_;
};

// The token's 64-bit serial, read under a card transaction.
uint64_t readTokenSerial(const std::shared_ptr<Scard>& scard);

// The connected tokens by serial; a later card with the same serial wins.
// Notes where each of them was found.
std::map<uint64_t, std::shared_ptr<Scard>> enumerateTokens(ScardEnumerator& enumerator, TokenReaders& readers);

// The token with exactly this serial; status 100022 when none is connected.
// Tries the reader it was last found in first, then all of them.
std::unique_ptr<Token> openToken(uint64_t serial, ScardEnumerator& enumerator, TokenReaders& readers);

}  // namespace kvfl
