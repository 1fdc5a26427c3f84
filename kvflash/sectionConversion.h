// Sections as the C interface shows them and as the library keeps them.
#pragma once

#include "section.h"
#include "token.h"

#include <kvflash-core/kvflash.h>

#include <functional>

namespace kvfl {

// Asks the token what kind of secret an identifier names.
using SecretTypeLookup = std::function<LocalSecretType(uint16_t id)>;

kvflash_Section toCSection(uint8_t id, const Section& section, const SecretTypeLookup& secretTypeOf);
Section fromCSection(const kvflash_Section& section, const SecretTypeLookup& secretTypeOf);

// The access state a caller asked for; a logic error for a value the
// device does not know.
uint8_t accessStateFromC(uint32_t state);

}  // namespace kvfl
