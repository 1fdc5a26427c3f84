#pragma once

#include "bytes.h"

#include <functional>
#include <optional>

namespace kvtoken {

// Status words the token answers with.
namespace sw {
constexpr uint16_t ok = 0x9000;
constexpr uint16_t wrongLength = 0x6700;
constexpr uint16_t endOfJournal = 0x6B00;
constexpr uint16_t unknownIns = 0x6D00;
constexpr uint16_t unknownCla = 0x6E00;
constexpr uint16_t badP1P2 = 0x6A86;
constexpr uint16_t badData = 0x6A80;
constexpr uint16_t notSupported = 0x6A81;
constexpr uint16_t fileNotFound = 0x6A82;
constexpr uint16_t dataNotFound = 0x6A88;
constexpr uint16_t noCurrentFile = 0x6986;
constexpr uint16_t conditionsNotSatisfied = 0x6985;
constexpr uint16_t securityNotSatisfied = 0x6982;
constexpr uint16_t notEnoughMemory = 0x6A84;
constexpr uint16_t blocked = 0x6983;
constexpr uint16_t wrongSecret = 0x63C0;  // | remaining attempts
constexpr uint16_t incompatibleFile = 0x6981;
constexpr uint16_t recordNotFound = 0x6A83;
constexpr uint16_t fileExists = 0x6A89;
constexpr uint16_t pinPolicy = 0x6F8C;
constexpr uint16_t firmwareCorrupted = 0x6F20;
constexpr uint16_t wrongChecksum = 0x6F87;
}  // namespace sw

// One short command APDU as it reached the token.
struct CommandApdu {
    uint8_t cla = 0;
    uint8_t ins = 0;
    uint8_t p1 = 0;
    uint8_t p2 = 0;
    std::optional<Bytes> data;
    std::optional<uint8_t> le;

    // Le as a count: 00 asks for 256 bytes.
    std::optional<size_t> expectedLength() const;
};

// Splits the bytes into header, Lc/data and Le; no value for a malformed
// command (shorter than a header, or an Lc that disagrees with the length).
std::optional<CommandApdu> parseCommand(const Bytes& bytes);

// The model's answer before the transport shapes it. onDelivered runs only
// when the data really leaves the token: a wrong Le answered 6Cxx must not
// move the journal's read position.
struct Reply {
    Bytes data;
    uint16_t sw = sw::ok;
    std::function<void()> onDelivered;
};

// The answer as it leaves the token: data, then SW1 SW2.
Bytes withStatus(Bytes data, uint16_t word);

inline Reply status(uint16_t word) { return Reply{{}, word, {}}; }
inline Reply success(Bytes data) { return Reply{std::move(data), sw::ok, {}}; }

}  // namespace kvtoken
