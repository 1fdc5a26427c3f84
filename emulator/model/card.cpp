#include "card.h"

#include <algorithm>
#include <bit>

namespace kvtoken {

namespace {

enum Control : uint8_t { powerOff = 0x00, powerOn = 0x01, warmReset = 0x02, atrRequest = 0x04 };

constexpr size_t maxShortAnswer = 256;

Bytes statusOnly(uint16_t word)
{
    return withStatus({}, word);
}

// SW1 61 or 6C with the count in SW2; 256 is written 00.
Bytes countStatus(uint8_t sw1, size_t count)
{
    return Bytes{sw1, static_cast<uint8_t>(std::min(count, maxShortAnswer))};
}

bool isGetResponse(const CommandApdu& command)
{
    return command.cla == 0x00 && command.ins == 0xC0;
}

Bytes deliver(Reply& reply)
{
    if (reply.onDelivered)
        reply.onDelivered();
    return withStatus(std::move(reply.data), reply.sw);
}

}  // namespace

Protocol protocolOfAtr(const Bytes& atr)
{
    size_t position = 1;
    if (atr.size() <= position)
        return Protocol::T0;
    uint8_t indicator = atr[position++];
    while (indicator & 0x80) {
        position += static_cast<size_t>(std::popcount(static_cast<unsigned>(indicator & 0x70)));
        if (position >= atr.size())
            return Protocol::T0;
        indicator = atr[position++];
        if ((indicator & 0x0F) == 1)
            return Protocol::T1;
    }
    return Protocol::T0;
}

Card::Card(TokenProfile profile, std::optional<uint64_t> randomSeed)
    : atr_(profile.atr),
      protocol_(protocolOfAtr(atr_)),
      overrides_(profile.overrides),
      restartDelay_(profile.flash ? profile.flash->restartDelay : std::chrono::milliseconds(0)),
      token_(std::move(profile), randomSeed)
{
}

std::optional<std::chrono::milliseconds> Card::takeDeparture()
{
    if (!token_.takeRestartRequest())
        return std::nullopt;
    return restartDelay_;
}

std::optional<Bytes> Card::receive(const Bytes& message)
{
    if (message.size() > 1)
        return transmit(message);
    if (message.empty())
        return std::nullopt;
    switch (message[0]) {
    case powerOn:
        pendingResponse_.clear();
        token_.powerOn();
        return std::nullopt;
    case warmReset:
        pendingResponse_.clear();
        token_.reset();
        return std::nullopt;
    case powerOff:
        pendingResponse_.clear();
        token_.powerOff();
        return std::nullopt;
    case atrRequest:
        return atr_;
    default:  // nothing to answer
        return std::nullopt;
    }
}

void Card::unplug()
{
    pendingResponse_.clear();
    token_.powerOff();
}

Bytes Card::transmit(const Bytes& command)
{
    if (auto response = overrideFor(command)) {
        pendingResponse_.clear();
        return *response;
    }
    const auto apdu = parseCommand(command);
    if (!apdu) {
        pendingResponse_.clear();
        return statusOnly(sw::wrongLength);
    }
    if (isGetResponse(*apdu))
        return getResponse(*apdu);
    pendingResponse_.clear();
    if (standIn_)
        if (auto reply = standIn_(*apdu))
            return shape(*apdu, std::move(*reply));
    return shape(*apdu, token_.execute(*apdu));
}

std::optional<Bytes> Card::overrideFor(const Bytes& command)
{
    for (auto& entry : overrides_) {
        const bool matches = command.size() >= entry.command.size() &&
                             std::equal(entry.command.begin(), entry.command.end(), command.begin());
        if (!matches || entry.times == 0u)
            continue;
        if (entry.times)
            --*entry.times;
        return entry.response;
    }
    return std::nullopt;
}

Bytes Card::shape(const CommandApdu& command, Reply reply)
{
    if (reply.data.empty())
        return deliver(reply);
    const auto expected = command.expectedLength();
    if (protocol_ == Protocol::T1) {
        if (expected && reply.data.size() > *expected)
            return countStatus(0x6C, reply.data.size());
        return deliver(reply);
    }
    if (!expected) {
        if (reply.sw != sw::ok)
            return statusOnly(reply.sw);
        if (reply.onDelivered)
            reply.onDelivered();
        pendingResponse_ = std::move(reply.data);
        return countStatus(0x61, pendingResponse_.size());
    }
    if (reply.data.size() != *expected)
        return countStatus(0x6C, reply.data.size());
    return deliver(reply);
}

Bytes Card::getResponse(const CommandApdu& command)
{
    if (pendingResponse_.empty())
        return statusOnly(sw::conditionsNotSatisfied);
    const auto expected = command.expectedLength();
    if (!expected)
        return statusOnly(sw::wrongLength);
    if (*expected > pendingResponse_.size())
        return countStatus(0x6C, pendingResponse_.size());
    Bytes part(pendingResponse_.begin(), pendingResponse_.begin() + static_cast<long>(*expected));
    pendingResponse_.erase(pendingResponse_.begin(), pendingResponse_.begin() + static_cast<long>(*expected));
    if (pendingResponse_.empty())
        return withStatus(std::move(part), sw::ok);
    const Bytes more = countStatus(0x61, pendingResponse_.size());
    part.insert(part.end(), more.begin(), more.end());
    return part;
}

}  // namespace kvtoken
