// A token's answer to one command.
#pragma once

#include "bytes.h"

#include <cstdint>

namespace kvfl {

inline constexpr uint16_t SW_SUCCESS = 0x9000;

struct Response {
    uint16_t sw = 0;  // SW1 << 8 | SW2
    Bytes data;

    bool is(uint16_t statusWord) const { return sw == statusWord; }
    bool isNot(uint16_t statusWord) const { return sw != statusWord; }
    uint8_t sw1() const { return static_cast<uint8_t>(sw >> 8); }
    uint8_t sw2() const { return static_cast<uint8_t>(sw); }

    // Throws ApduException for the status word.
    [[noreturn]] void raise() const;
    // Raises unless the status word is `expected`; returns the answer.
    const Response& require(uint16_t expected = SW_SUCCESS) const;
};

}  // namespace kvfl
