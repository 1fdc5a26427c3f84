// The FCP templates of the files the library creates in the token's
// local-authentication directory: local PINs and multi-valued authenticators.
#pragma once

#include "bytes.h"

#include <kvflash-core/kvflash.h>

#include <cstddef>
#include <cstdint>

namespace kvfl {

// The checks of a new local PIN, before any command: attempts 1..10
// (status 100004), PIN of 6..32 bytes (100028).
void checkLocalPinParams(std::size_t pinSize, uint8_t attempts);

// A local PIN of 6..32 bytes, else status 100028.
void checkLocalPinSize(std::size_t pinSize);

// An MVA record of 1..249 bytes, else status 100002.
void checkMvaRecordSize(std::size_t recordSize);

// The checks of a new MVA, in this order and before any command: count
// 1..254 (100001), record size 1..249 (100002), count × size below 33021
// (100003), attempts 1..10 (100004).
void checkMvaParams(uint8_t maxRecordCount, uint8_t maxRecordSize, uint8_t maxAttempts);

// The security-attribute flag of a local PIN for secureType 1, 2 or 3.
// Throws std::logic_error for 0 ("Incorrect security parameters have been
// set") and for values outside the enumeration ("Unknown kvflash_SecureType").
uint8_t localPinSecurityFlag(kvflash_SecureType secureType);

// A local PIN of 6..32 characters; id 3..31, attempts 1..10 (checked by the caller).
Bytes localPinFcp(uint8_t id, uint8_t attempts, kvflash_SecureType secureType);

// An MVA of maxRecordCount records of up to maxRecordSize bytes; id 3..31,
// count × size below 33021 and attempts 1..10 (checked by the caller).
Bytes mvaFcp(uint8_t id, uint8_t maxRecordCount, uint8_t maxRecordSize, uint8_t maxAttempts);

}  // namespace kvfl
