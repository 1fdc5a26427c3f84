// The library's token: one connected flash token and the logins made on it.
#pragma once

#include "login.h"
#include "pcInfo.h"
#include "scard.h"
#include "section.h"

#include <kvflash-core/kvflash.h>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace kvfl {

enum class LocalSecretType : uint8_t { LocalPin = 0, Mva = 1 };

class Token {
public:
    virtual ~Token() = default;
    // Performs the logins after the stored ones and keeps them for every
    // later operation; the access rights they gain end with this call.
    virtual void login(const std::vector<std::shared_ptr<Login>>& logins) = 0;
    // The tries left for the login's secret (6006 when it is blocked); no
    // stored login is replayed.
    virtual uint16_t getRemainingLoginAttempts(const std::shared_ptr<Login>& login) = 0;
    // Forgets the stored logins; nothing is sent.
    virtual void logout() = 0;
    // Host information into the security journal; 100013 without a journal
    // events section.
    virtual void addPcInfoToJournal(const PcInfo& info) = 0;
    // Repartitions the flash into the given sections, numbered from 1 in
    // this order; the token restarts and the object reconnects to it.
    virtual void splitIntoSections(const std::vector<Section>& sections,
                                   const std::shared_ptr<ScardEnumerator>& enumerator) = 0;
    // A permanent change restarts the token; the object reconnects to it.
    virtual void changeSectionAccessRights(uint8_t sectionId, uint8_t accessState, bool permanent,
                                           const std::shared_ptr<ScardEnumerator>& enumerator) = 0;
    virtual Sections getSections() = 0;
    // Flash not yet given to the journal sections.
    virtual uint32_t getAvailableFlashSize() = 0;

    // Logins with local secrets (identifiers 3..31). Without a value the
    // login can only ask for the remaining attempts. The wrong kind of file
    // fails with 100027.
    virtual std::shared_ptr<Login> mvaLogin(uint16_t id) = 0;
    virtual std::shared_ptr<Login> mvaLogin(uint16_t id, std::span<const uint8_t> record) = 0;
    virtual std::shared_ptr<Login> localPinLogin(uint16_t id) = 0;
    virtual std::shared_ptr<Login> localPinLogin(uint16_t id, std::span<const uint8_t> pin) = 0;

    // Multi-valued authenticators; a new one takes the first free identifier.
    virtual uint16_t createMva(uint8_t maxRecordCount, uint8_t maxRecordSize, uint8_t maxAttempts) = 0;
    virtual std::vector<uint16_t> getMvaIdList() = 0;
    // Into the first erased slot, else appended; the record's number.
    virtual uint8_t mvaAddRecord(uint16_t id, std::span<const uint8_t> record) = 0;
    virtual void mvaDeleteRecord(uint16_t id, uint8_t recordId) = 0;
    virtual void mvaClearAllRecords(uint16_t id) = 0;
    virtual void resetLoginAttemptsMva(uint16_t id) = 0;

    // Local PINs; a new one takes the first free identifier.
    virtual uint16_t createLocalPin(std::span<const uint8_t> pin, uint8_t attempts,
                                    kvflash_SecureType secureType) = 0;
    virtual void changeLocalPin(uint16_t id, std::span<const uint8_t> pin) = 0;
    virtual std::vector<uint16_t> getLocalPinIdList() = 0;
    virtual void resetLoginAttemptsLocalPin(uint16_t id) = 0;
    // Unblocks the user PIN.
    virtual void resetLoginAttemptsUser() = 0;
    // Whether the token keeps a security-event journal and can be partitioned.
    virtual bool isTokenSupported() = 0;
    // What kind of secret the local-authentication file `id` (3..31) holds.
    virtual LocalSecretType getLocalSecretType(uint16_t id) = 0;
};

}  // namespace kvfl
