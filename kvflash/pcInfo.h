// Host information for the token's security journal and the PUT DATA
// commands that carry it.
#pragma once

#include "apdu/apdu.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kvfl {

// The longest text of the host information.
inline constexpr std::size_t maxPcInfoText = 255;

struct PcInfo {
    std::array<std::string, 4> texts;  // at most maxPcInfoText bytes each
    uint64_t value = 0;
};

// Items C1..C4 (the texts, "NONE" for an empty one) and C5 (the value, 8
// bytes big-endian), each as tag, one length byte, value. A text longer
// than 255 bytes: status 100025.
Bytes serializePcInfo(const PcInfo& info);

// The items cut into PUT DATA commands of at most 253 data bytes: the first
// starts with 80 02 and the items' total length, every one holds A5, its
// part's length and the part; all but the last chain with CLA 10.
//
//   first:     80 02 <items length, 2 bytes> A5 <n> <n item bytes>, n <= 247
//   following: A5 <n> <n item bytes>, n <= 251
//
// Every part but the last is full; an item runs on into the next part where
// the cut falls. The part length is one byte (at most F7 / FB).
std::vector<ApduCommand::JournaInformation> journalInformationCommands(const PcInfo& info);

}  // namespace kvfl
