#include "apdu.h"

namespace kvtoken {

std::optional<size_t> CommandApdu::expectedLength() const
{
    if (!le)
        return std::nullopt;
    return *le == 0 ? 256 : *le;
}

Bytes withStatus(Bytes data, uint16_t word)
{
    data.push_back(static_cast<uint8_t>(word >> 8));
    data.push_back(static_cast<uint8_t>(word));
    return data;
}

std::optional<CommandApdu> parseCommand(const Bytes& bytes)
{
    if (bytes.size() < 4)
        return std::nullopt;
    CommandApdu command{bytes[0], bytes[1], bytes[2], bytes[3], std::nullopt, std::nullopt};
    if (bytes.size() == 5) {
        command.le = bytes[4];
        return command;
    }
    if (bytes.size() > 5) {
        const size_t lc = bytes[4];
        const size_t dataEnd = 5 + lc;
        if (bytes.size() != dataEnd && bytes.size() != dataEnd + 1)
            return std::nullopt;
        command.data = Bytes(bytes.begin() + 5, bytes.begin() + static_cast<long>(dataEnd));
        if (bytes.size() == dataEnd + 1)
            command.le = bytes[dataEnd];
    }
    return command;
}

}  // namespace kvtoken
