#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Hex text as tests write commands and answers: "00 CA 01 81"; blanks are ignored.
std::vector<uint8_t> hexBytes(const std::string& hex);
// Upper-case byte pairs separated by blanks.
std::string toHex(const std::vector<uint8_t>& bytes);
