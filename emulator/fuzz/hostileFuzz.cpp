// libFuzzer target: a hostile card with any seed and rate, sent any
// messages, answers within its bounds (a command 2 to 260 bytes, or nothing
// when it vanishes; an ATR 1 to 33 bytes) and never crashes.
#include "hostile.h"

#include <cstdlib>
#include <cstring>

namespace {

const char* const profiles[] = {"mirel3.json", "brisa.json", "mirel3-flash.json", "varo.json"};

void check(bool holds)
{
    if (!holds)
        std::abort();
}

}  // namespace

// Input: 8 bytes of seed, the rate, the profile, then messages, each its
// length byte and its bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    constexpr size_t header = 10;
    if (size < header)
        return 0;
    uint64_t seed = 0;
    std::memcpy(&seed, data, sizeof seed);
    const std::string profile = std::string(PROFILES_DIR) + "/" + profiles[data[9] % std::size(profiles)];
    kvtoken::HostileCard card(kvtoken::loadProfile(profile), seed, data[8] % 101u);
    for (size_t at = header; at < size;) {
        const size_t length = std::min<size_t>(data[at], size - at - 1);
        const kvtoken::Bytes message(data + at + 1, data + at + 1 + length);
        at += 1 + length;
        const auto answer = card.receive(message);
        if (message.size() == 1 && message[0] == 0x04)
            check(answer && !answer->empty() && answer->size() <= 33);
        else if (message.size() > 1)
            check(answer ? answer->size() >= 2 && answer->size() <= 260
                         : card.lastDistortion() == kvtoken::Distortion::vanish);
        if (card.takeDeparture())
            card.unplug();
    }
    return 0;
}
