// Byte strings written as hexadecimal text in tests: "00 CA 01 81 08".
#pragma once

#include "bytes.h"

#include <string_view>

namespace kvfl::test {

inline Bytes hex(std::string_view text) {
    Bytes bytes;
    int high = -1;
    for (char c : text) {
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) continue;
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    return bytes;
}

inline Bytes repeat(uint8_t byte, std::size_t count) { return Bytes(count, byte); }

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

}  // namespace kvfl::test
