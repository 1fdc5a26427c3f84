#pragma once

#include "token.h"

namespace kvtoken {

enum class Protocol { T0, T1 };

// What the vpcd link plays: the token, or the token with hostile answers.
class CardInReader {
public:
    virtual ~CardInReader() = default;
    // One message from vpcd: 00 power off, 01 power on, 02 reset, 04 ATR
    // request (the only control with an answer), anything longer a command.
    // No value: nothing to send back.
    virtual std::optional<Bytes> receive(const Bytes& message) = 0;
    // Once, after the card decided to leave the reader (a restart): the link
    // closes its connection, waits this long and connects again.
    virtual std::optional<std::chrono::milliseconds> takeDeparture() = 0;
    // The card leaves the reader: its power goes.
    virtual void unplug() = 0;
};

// T=1 when an interface byte TDi offers it, T=0 otherwise (also when the
// ATR ends before the bytes it announces).
Protocol protocolOfAtr(const Bytes& atr);

// What the reader talks to: the token behind its transport. It answers the
// reader's control messages, plays a profile's overrides, and shapes the
// token's replies for the protocol: on T=0 a command without Le gets 61xx
// and its data through GET RESPONSE, and an Le that does not fit the answer
// gets 6Cxx; on T=1 only an Le too small for the answer gets 6Cxx.
class Card : public CardInReader {
public:
    // A command the stand-in answers never reaches the token.
    using StandIn = std::function<std::optional<Reply>(const CommandApdu&)>;

    // randomSeed: see Token.
    explicit Card(TokenProfile profile, std::optional<uint64_t> randomSeed = std::nullopt);

    std::optional<Bytes> receive(const Bytes& message) override;
    Bytes transmit(const Bytes& command);

    // After the token answered the host's restart request: its restart delay.
    std::optional<std::chrono::milliseconds> takeDeparture() override;
    void unplug() override;

    // Answers in the token's place, shaped for the protocol like its own
    // answers.
    void setStandIn(StandIn standIn) { standIn_ = std::move(standIn); }

    const Bytes& atr() const { return atr_; }
    Protocol protocol() const { return protocol_; }

private:
    std::optional<Bytes> overrideFor(const Bytes& command);
    Bytes shape(const CommandApdu& command, Reply reply);
    Bytes getResponse(const CommandApdu& command);

    Bytes atr_;
    Protocol protocol_;
    std::vector<Override> overrides_;
    std::chrono::milliseconds restartDelay_;
    Token token_;
    StandIn standIn_;
    Bytes pendingResponse_;
};

}  // namespace kvtoken
