#pragma once

#include <cctype>
#include <string>
#include <string_view>

// The name of a parameterised case from the text that tells it apart:
// letters and digits are kept and every other run of characters becomes one
// underscore, so ("Record", "41 04 00") names the case "Record_41_04_00".
inline std::string caseName(std::string_view prefix, std::string_view text)
{
    std::string name(prefix);
    bool gap = !name.empty();  // an underscore is due before the next kept character
    for (unsigned char c : text) {
        if (c < 0x80 && std::isalnum(c)) {
            if (gap)
                name += '_';
            name += static_cast<char>(c);
            gap = false;
        } else {
            gap = !name.empty();
        }
    }
    return name.empty() ? "Empty" : name;
}
