// The token's local-authentication folder 1000/1000/6005: every local PIN and
// every MVA is one file in it, named by its identifier 3..31.
#pragma once

#include "apdu/apdu.h"
#include "apdu/tlv.h"
#include "scard.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace kvfl {

ApduCommand::SelectByFullPath selectLocalAuthenticationFolder();
ApduCommand::SelectByFullPath selectLocalSecretFile(uint16_t id);

// Each file of the folder in the token's order: its identifier and the
// elements of its FCP (valid during the call only).
using LocalFileVisitor = std::function<void(uint16_t fileId, const TlvElements& fcp)>;
void walkLocalAuthenticationFolder(Scard& scard, const LocalFileVisitor& visit);

// The identifiers of the files whose descriptor byte is `fileDescriptor`, in walk order.
std::vector<uint16_t> localFileIds(Scard& scard, uint8_t fileDescriptor);

// The smallest identifier of 3..31 that no file of the folder takes; status
// 6014 when all are taken.
uint16_t firstFreeLocalLoginId(Scard& scard);

}  // namespace kvfl
