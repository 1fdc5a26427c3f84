// The library's token: one connected flash token and the logins made on it.
#pragma once

#include "login.h"
#include "scard.h"
#include "section.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace kvfl {

enum class LocalSecretType : uint8_t { LocalPin = 0, Mva = 1 };

class Token {
public:
    virtual ~Token() = default;
    // Performs the logins after the stored ones and keeps them for every
    // later operation; the access rights they gain end with this call.
    virtual void login(const std::vector<std::shared_ptr<Login>>& logins) = 0;
    // Forgets the stored logins; nothing is sent.
    virtual void logout() = 0;
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
    // Whether the token keeps a security-event journal and can be partitioned.
    virtual bool isTokenSupported() = 0;
    // What kind of secret the local-authentication file `id` (3..31) holds.
    virtual LocalSecretType getLocalSecretType(uint16_t id) = 0;
};

}  // namespace kvfl
